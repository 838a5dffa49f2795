#!/usr/bin/env bash
# Runs the road on a fresh prefix of its own, copied from the build folder's template, with its own wine server:
# the installation, the service and the uninstallation must meet a machine nobody else touched.
#   road.sh ROAD_EXE [gtest arguments]
#   ROAD_SETUP  the setup to install with (a Unix path; default: the build folder's), e.g. a release's in dist/
#
# Wine turns the X pointer entering a newly shown window into mouse input, which Windows never does: a saver
# appearing under the pointer would take it for the user's return and end at once. A small X client (Python and
# the X library, through ctypes) holds the
# pointer grabbed for the whole road, so no Wine window hears the pointer enter it; the keyboard stays free for
# the key presses of the returning user.
set -euo pipefail
exe=$1
shift
build=$(cd "$(dirname "$exe")" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
if [ ! -f "$build/wine-env.display" ] || [ ! -d "$build/wine-template" ]; then
    echo "No Wine environment for $build: run the tests through scripts/test.sh" >&2
    exit 1
fi
work=$build/road
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
export DISPLAY=:$(cat "$build/wine-env.display")
holder=
stop() {
    [ -z "$holder" ] || kill "$holder" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$work"
}
stop
trap stop EXIT
mkdir -p "$work"
cp -a "$build/wine-template" "$WINEPREFIX"
. "$here/../../scripts/wine-env.sh"
wine_env_stand_ins "$build" "$WINEPREFIX"
python3 "$here/hold_pointer.py" >"$work/hold_pointer.out" &
holder=$!
for _ in $(seq 100); do grep -q held "$work/hold_pointer.out" 2>/dev/null && break; sleep 0.05; done
grep -q held "$work/hold_pointer.out" || { echo "The X pointer could not be grabbed" >&2; exit 1; }

# Wine's background processes (services.exe, explorer, ...) must not hold CTest's output pipes open.
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
[ -z "${ROAD_SETUP:-}" ] || ROAD_SETUP=$(winepath -w "$ROAD_SETUP")
wine "$exe" "$@"
