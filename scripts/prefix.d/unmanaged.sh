#!/usr/bin/env bash
# The programs run on a display without a window manager. Wine waits up to 2 s for a window manager to map or
# withdraw every "managed" top-level window, so each saver window, settings page, message box or setup window
# closed would cost 2 s of nothing (and the saver's watchdog would cut its run short). Unmanaged windows appear and
# go at once, as on Windows; what the programs see through Windows' own calls (sizes, focus, activation) is the
# same. The system tests run the saver as Dormalis.scr.
set -euo pipefail
export WINEPREFIX=$1
for app in Dormalis.exe Dormalis.scr Uninstall.exe "Dormalis Setup.exe" saver_tests.exe saver_bench.exe ui_tests.exe \
    status_tests.exe install_tests.exe; do
    wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$app\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
done
