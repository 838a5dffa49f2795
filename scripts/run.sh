#!/usr/bin/env bash
# Builds Dormalis and shows its settings window. Without a display of your own it runs on a headless one
# and writes a screenshot of the window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${BUILD_DIR:-$root/build/mingw}
[ "${SKIP_DEPS:-0}" = 1 ] || bash scripts/deps.sh

cmake --preset mingw -B "$build" >/dev/null
cmake --build "$build"

. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build"
shot=$build/settings-window.png
wine "$build/Dormalis.exe" &
app=$!
sleep 4
import -window root -display "$DISPLAY" "$shot"
echo "Screenshot of the settings window: $shot"
kill $app 2>/dev/null || true
