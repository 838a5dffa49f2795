#!/usr/bin/env bash
# The settings window, its message boxes and the tray's status box are shown on a display without a window
# manager. Wine waits up to 2 s for a window manager to map or withdraw every "managed" top-level window, so each
# page or box shown would cost 2 s of nothing. Unmanaged windows appear and go at once, as on Windows; what the
# programs see through Windows' own calls (sizes, focus, activation) is the same.
set -euo pipefail
export WINEPREFIX=$1
for app in Dormalis.exe ui_tests.exe status_tests.exe; do
    wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$app\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
done
