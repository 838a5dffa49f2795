#!/usr/bin/env bash
# Draws the settings window's four pages in its six languages with the real program ("--ui-test") and photographs
# the setup window at its four moments (start, installing, done, failed), under the project's Wine environment,
# and writes them as PNG pictures to docs/gallery/ for the README.
#   BUILD_DIR  build folder holding Dormalis.exe, "Dormalis Setup.exe" and test_driver.exe (default build/mingw)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=$(cd "${BUILD_DIR:-$root/build/mingw}" && pwd)
out=$root/docs/gallery
for program in Dormalis.exe "Dormalis Setup.exe" test_driver.exe; do
    [ -f "$build/$program" ] || { echo "no $program in $build: build it first" >&2; exit 1; }
done
command -v convert >/dev/null && command -v import >/dev/null || { echo "ImageMagick is needed" >&2; exit 1; }
mkdir -p "$out"

. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build" >/dev/null

pages=(setup customize network-mode about)
languages=(fr en de zh es it)
shots=$(mktemp -d)
for language in 0 1 2 3 4 5; do
    for page in 0 1 2 3; do
        bmp="$shots/page-$page-$language.bmp"
        wine "$build/Dormalis.exe" --ui-test "$language" "$page" "$(winepath -w "$bmp")" </dev/null >/dev/null 2>&1
        png="$out/${pages[$page]}-${languages[$language]}.png"
        # The fourth byte of each pixel is not an alpha channel: without -alpha off the picture would come out clear.
        convert "$bmp" -alpha off -strip "$png"
        echo "$png"
    done
done

# The setup page under a black high-contrast theme: a program reads the system colours and the stored high-contrast
# flag as it starts, so the prefix's registry holds them for that one picture and then gets its own back.
colors='HKCU\Control Panel\Colors' contrast='HKCU\Control Panel\Accessibility\HighContrast'
scheme() {
    for pair in "$@"; do wine reg add "$colors" /v "${pair%%=*}" /d "${pair#*=}" /f </dev/null >/dev/null 2>&1; done
}
own=()
for name in Window WindowText ButtonFace ButtonText Hilight HilightText GrayText; do
    own+=("$name=$(wine reg query "$colors" /v "$name" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')")
done
scheme "Window=0 0 0" "WindowText=255 255 255" "ButtonFace=0 0 0" "ButtonText=255 255 255" "Hilight=26 235 255" \
    "HilightText=0 0 0" "GrayText=63 242 63"
wine reg add "$contrast" /v Flags /d 127 /f </dev/null >/dev/null 2>&1
wine "$build/Dormalis.exe" --ui-test 1 0 "$(winepath -w "$shots/contrast.bmp")" </dev/null >/dev/null 2>&1
convert "$shots/contrast.bmp" -alpha off -strip "$out/setup-en-high-contrast.png"
echo "$out/setup-en-high-contrast.png"
wine reg delete "$contrast" /v Flags /f </dev/null >/dev/null 2>&1
scheme "${own[@]}"

# The setup page with Windows' text size at 150 %, read the same way as it starts.
accessibility='HKCU\Software\Microsoft\Accessibility'
wine reg add "$accessibility" /v TextScaleFactor /t REG_DWORD /d 150 /f </dev/null >/dev/null 2>&1
wine "$build/Dormalis.exe" --ui-test 1 0 "$(winepath -w "$shots/text.bmp")" </dev/null >/dev/null 2>&1
convert "$shots/text.bmp" -alpha off -strip "$out/setup-en-text-150.png"
echo "$out/setup-en-text-150.png"
wine reg delete "$accessibility" /v TextScaleFactor /f </dev/null >/dev/null 2>&1
rm -rf "$shots"

driver() { wine "$build/test_driver.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# Bare Xvfb has no window manager: the window is the only thing on the black screen, so trimming cuts it out.
shoot() { import -window root -display "$DISPLAY" "png:-" | convert - -trim +repage -strip "$out/$1.png"; echo "$out/$1.png"; }
click_install() { driver post "$1" 273 110 0 >/dev/null; }  # WM_COMMAND, Install's identifier, BN_CLICKED

# Extra arguments are environment settings for the setup alone.
open_setup() {
    env "$@" wine "$build/Dormalis Setup.exe" </dev/null >/dev/null 2>&1 &
    setup=$!
    window=$(driver find Dormalis.Native.Setup Dormalis 20000)
    sleep 1
}

# The setup speaks the display language, which Wine takes from the Unix locale: a German locale compiled into a
# folder of our own (no system-wide locale generation) shows it in German.
locales=$(mktemp -d)
if localedef -i de_DE -f UTF-8 "$locales/de_DE.UTF-8" 2>/dev/null; then
    open_setup LOCPATH="$locales" LC_ALL=de_DE.UTF-8
    shoot setup-window-de
    driver post "$window" 16 0 0 >/dev/null  # WM_CLOSE
    wait "$setup" || true
else
    echo "no German locale data (the locales package): setup-window-de.png not drawn" >&2
fi
rm -rf "$locales"

open_setup
shoot setup-window-start
click_install "$window"
sleep 0.05
shoot setup-window-installing
sleep 12
shoot setup-window-done
driver post "$window" 16 0 0 >/dev/null  # WM_CLOSE
wait "$setup" || true

# The uninstaller: its one question and the result in its window (under Wine the stages pass too fast to catch).
wine "C:\\Program Files\\DormalisNative\\Uninstall.exe" --uninstall </dev/null >/dev/null 2>&1 &
uninstaller=$!
driver find '#32770' Dormalis 20000 >/dev/null
sleep 1
shoot uninstall-question
driver press Dormalis 6 >/dev/null  # Yes
window=$(driver find Dormalis.Native.Uninstall Dormalis 20000)
sleep 8
shoot uninstall-window-done
driver post "$window" 16 0 0 >/dev/null
wait "$uninstaller" || true

# The older edition's service makes the installation refuse, with its reason in the window.
wine sc create DormalisService binPath= 'C:\Program Files\Dormalis\Dormalis.exe' </dev/null >/dev/null 2>&1 || true
open_setup
click_install "$window"
sleep 3
shoot setup-window-failed
driver post "$window" 16 0 0 >/dev/null
wait "$setup" || true
