#!/usr/bin/env bash
# Runs the road on a fresh prefix of its own, copied from the build folder's template, with its own wine server:
# the installation, the service and the uninstallation must meet a machine nobody else touched.
#   road.sh ROAD_EXE [gtest arguments]
set -euo pipefail
exe=$1
shift
build=$(cd "$(dirname "$exe")" && pwd)
if [ ! -f "$build/wine-env.display" ] || [ ! -d "$build/wine-template" ]; then
    echo "No Wine environment for $build: run the tests through scripts/test.sh" >&2
    exit 1
fi
export WINEPREFIX=$build/road-prefix WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
export DISPLAY=:$(cat "$build/wine-env.display")
stop() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}
stop
trap stop EXIT
cp -a "$build/wine-template" "$WINEPREFIX"
wineserver -p
# Wine's background processes (services.exe, explorer, ...) must not hold CTest's output pipes open.
wine cmd /c exit </dev/null >/dev/null 2>&1
wine "$exe" "$@"
