#!/usr/bin/env bash
# The saver's test programs run without a window manager. Wine waits up to 2 s for a window manager to withdraw a
# "managed" X window when it is hidden, so every saver window (full screen and active, hence managed) would take
# 2 s to close and the watchdog would cut the run short. Unmanaged windows close at once, as on Windows. Only
# the saver's own programs get this: the system tests run the saver as Dormalis.scr.
set -euo pipefail
export WINEPREFIX=$1
for app in Dormalis.scr saver_tests.exe saver_bench.exe; do
    wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$app\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
done
