#!/usr/bin/env bash
# Two side-by-side heads (1920x1080 primary, 1280x1024 to its right) through a fake libXinerama, on a Wine
# server and X display of this test's own. Independent mode draws one field and one overlay line per monitor;
# primary-only mode leaves the second monitor untouched. Exit 77 (skipped) when a tool is missing.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
for tool in gcc convert import Xvfb wine wineserver; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
[ -d "$build/wine-template" ] || { echo "SKIPPED: no template Wine prefix in $build"; exit 77; }

work=$(mktemp -d "$build/multi-monitor.XXXXXX")
n=140
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 3200x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

gcc -shared -fPIC -o "$work/libXinerama.so.1" "$here/fake_xinerama.c"
cp -a "$build/wine-template" "$work/prefix"
cp "$build/Dormalis.exe" "$work/Dormalis.scr"
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all DISPLAY=":$n" LD_LIBRARY_PATH="$work"
export FAKE_XINERAMA="0,0,1920,1080;1920,0,1280,1024"
wine reg add 'HKCU\Software\Wine\X11 Driver' /v UseXRandR /d N /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true  # the head layout is read when the server starts
wineserver -p

# Pixels of a crop (WxH+X+Y) that have the colour, or (with -v) that do not.
count() {
    local shot=$1 crop=$2 colour=$3 invert=${4:-}
    convert "$shot" -crop "$crop" +repage txt:- | grep -v '^#' | grep -ci $invert -- "$colour" || true
}

# Runs the timed preview with the given display mode and takes a picture of the whole X screen meanwhile.
shoot() {
    local mode=$1
    wine reg add 'HKCU\SOFTWARE\DormalisNative' /v Displays /t REG_DWORD /d "$mode" /f >/dev/null 2>&1
    wine "$work/Dormalis.scr" --preview-test </dev/null >/dev/null 2>&1 &
    local saver=$!
    wine "$build/test_driver.exe" find Dormalis.Native.Saver - 15000 >/dev/null 2>&1 || { echo "FAIL: no saver window (mode $mode)"; exit 1; }
    sleep 0.7
    import -window root "$work/mode$mode.png"
    wait "$saver" || { echo "FAIL: saver exit code $? (mode $mode)"; exit 1; }
}

failures=0
check() {  # description, actual, comparison, expected
    if [ "$2" "$3" "$4" ]; then echo "ok   $1 ($2)"; else echo "FAIL $1 ($2, wanted $3 $4)"; failures=$((failures + 1)); fi
}

overlay='#96AAC3'           # the overlay text colour, red 150 green 170 blue 195
primaryLine=1872x48+24+1020  # overlay rectangle of the primary monitor
secondLine=1232x48+1944+964  # overlay rectangle of the second monitor
secondMonitor=1280x1024+1920+0

shoot 0
check "mode 0: overlay line on the primary monitor" "$(count "$work/mode0.png" $primaryLine $overlay)" -gt 50
check "mode 0: overlay line on the second monitor" "$(count "$work/mode0.png" $secondLine $overlay)" -gt 50
check "mode 0: stars on the second monitor" "$(count "$work/mode0.png" 1280x900+1920+0 '#000000' -v)" -gt 20

shoot 2
check "mode 2: overlay line on the primary monitor" "$(count "$work/mode2.png" $primaryLine $overlay)" -gt 50
check "mode 2: nothing drawn on the second monitor" "$(count "$work/mode2.png" $secondMonitor '#000000' -v)" -eq 0

[ "$failures" -eq 0 ] || exit 1
