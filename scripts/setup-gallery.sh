#!/usr/bin/env bash
# Photographs the setup window under the project's Wine environment at its four moments (start, installing, done,
# failed) and writes them as PNG pictures to docs/gallery/ for the README.
#   BUILD_DIR  build folder holding "Dormalis Setup.exe" and test_driver.exe (default build/mingw)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=$(cd "${BUILD_DIR:-$root/build/mingw}" && pwd)
out=$root/docs/gallery
[ -f "$build/Dormalis Setup.exe" ] || { echo "no Dormalis Setup.exe in $build: build it first" >&2; exit 1; }
command -v import >/dev/null || { echo "ImageMagick's import is needed" >&2; exit 1; }
mkdir -p "$out"

. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build" >/dev/null

driver() { wine "$build/test_driver.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# Bare Xvfb has no window manager: the window is the only thing on the black screen, so trimming cuts it out.
shoot() { import -window root -display "$DISPLAY" "png:-" | convert - -trim +repage -strip "$out/$1.png"; echo "$out/$1.png"; }
click_install() { driver post "$1" 273 110 0 >/dev/null; }  # WM_COMMAND, Install's identifier, BN_CLICKED

open_setup() {
    wine "$build/Dormalis Setup.exe" </dev/null >/dev/null 2>&1 &
    setup=$!
    window=$(driver find Dormalis.Native.Setup Dormalis 20000)
    sleep 1
}

open_setup
shoot setup-window-start
click_install "$window"
sleep 0.05
shoot setup-window-installing
sleep 12
shoot setup-window-done
driver post "$window" 16 0 0 >/dev/null  # WM_CLOSE
wait "$setup" || true

# The older edition's service makes the installation refuse, with its reason in the window.
wine "C:\\Program Files\\DormalisNative\\Uninstall.exe" --uninstall --quiet </dev/null >/dev/null 2>&1 || true
wine sc create DormalisService binPath= 'C:\Program Files\Dormalis\Dormalis.exe' </dev/null >/dev/null 2>&1 || true
open_setup
click_install "$window"
sleep 3
shoot setup-window-failed
driver post "$window" 16 0 0 >/dev/null
wait "$setup" || true
