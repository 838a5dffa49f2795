#!/usr/bin/env bash
# Creates (once) the template Wine prefix the tests copy: Windows 10, no crash dialog, fonts that render
# Western and Chinese text. Needs DISPLAY set. Rebuilt whenever this script changes.
set -euo pipefail
template=$1
shopt -s nullglob
extras=("$(dirname "$0")"/prefix.d/*.sh)
stamp=$(cat "$0" "${extras[@]}" | sha1sum | cut -c1-40)
if [ -f "$template/.dormalis-stamp" ] && [ "$(cat "$template/.dormalis-stamp")" = "$stamp" ]; then exit 0; fi

rm -rf "$template"
export WINEPREFIX=$template WINEARCH=win64 WINEDEBUG=-all
echo "Creating the Wine template prefix (about 10 s)"
wineboot -i >/dev/null 2>&1
wineserver -w
wine winecfg -v win10 >/dev/null 2>&1
reg() { wine reg "$@" >/dev/null 2>&1; }
reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
cp /usr/share/wine/fonts/*.ttf "$template/drive_c/windows/Fonts/" 2>/dev/null || true
# Wine has no Segoe UI, and its Tahoma lacks typographic marks (’ and the non-breaking hyphen of Wi‑Fi): DejaVu
# Sans stands in for it. No face has Chinese: WenQuanYi is linked behind each.
reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v 'Segoe UI' /d 'DejaVu Sans' /f
for face in 'DejaVu Sans' 'Liberation Sans' Tahoma 'MS Shell Dlg' 'MS Shell Dlg 2' 'Segoe UI'; do
    reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" /t REG_MULTI_SZ \
        /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f
done
cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$template/drive_c/windows/Fonts/" 2>/dev/null || true
cp /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$template/drive_c/windows/Fonts/" 2>/dev/null || true
# Wine's service manager gives a starting service 10 s to reach its dispatcher (read as text), Windows 30 s: on a
# loaded machine a start that Windows waits for would fail here.
reg add 'HKLM\System\CurrentControlSet\Control' /v ServicesPipeTimeout /d 30000 /f
for extra in "${extras[@]}"; do bash "$extra" "$template"; done
wineserver -w
echo "$stamp" >"$template/.dormalis-stamp"
