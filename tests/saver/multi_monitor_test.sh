#!/usr/bin/env bash
# Two side-by-side heads (1920x1080 primary, 1280x1024 to its right) through a fake libXinerama, on a Wine
# server and X display of this test's own; there the system tests' monitor case runs every display mode.
# Exit 77 (skipped) when a tool is missing.
set -euo pipefail
build=$(cd "$1" && pwd) here=$(cd "$(dirname "$0")" && pwd)
for tool in gcc Xvfb wine wineserver; do command -v "$tool" >/dev/null || { echo "SKIPPED: no $tool"; exit 77; }; done
[ -d "$build/wine-template" ] || { echo "SKIPPED: no template Wine prefix in $build"; exit 77; }

work=$(mktemp -d "$build/multi-monitor.XXXXXX")
n=140
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 3200x1080x24 -nolisten tcp >/dev/null 2>&1 & xvfb=$!
echo "$xvfb" >"$work/xvfb.pid"  # for the sweep of the whole run, should this test be killed at its time limit
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
      kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

gcc -shared -fPIC -o "$work/libXinerama.so.1" "$here/fake_xinerama.c"
cp -a "$build/wine-template" "$work/prefix"
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all DISPLAY=":$n" LD_LIBRARY_PATH="$work"
export FAKE_XINERAMA="0,0,1920,1080;1920,0,1280,1024"
# Heads from Xinerama, not XRandR: written straight into the copied prefix, before its server starts.
printf '\n[Software\\\\Wine\\\\X11 Driver] 0\n"UseXRandR"="N"\n' >>"$work/prefix/user.reg"
wineserver -p
EXPECT_MONITORS=2 wine "$build/saver_system_tests.exe" --gtest_filter='*CoversTheMonitors*' </dev/null
