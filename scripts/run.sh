#!/usr/bin/env bash
# Builds Dormalis and shows its settings window. Without a display of your own it runs on a headless one
# and writes a screenshot of the window.
# Then a demonstration on a fresh prefix of its own: the quiet setup installs the service, Enable in the settings
# window chooses firewall mode and selects the saver, the saver starts as Windows starts it and cuts the simulated
# network, a key press brings it back; each step prints the network's state.
#   NO_DEMO=1  only the settings window
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

[ "${NO_DEMO:-0}" = 1 ] && exit 0
echo
echo "Demonstration: install, enable, the saver cuts the network, the user returns (about half a minute)"
bash tests/e2e/road.sh "$build/e2e_road.exe" --gtest_brief=1 \
    --gtest_filter='Road.Step1_*:Road.Step2_*:Road.Step3_*:Road.Step4_*'
