#!/usr/bin/env bash
# Draws the settings window's four pages in its six languages with the real program ("--ui-test") under the
# project's Wine environment, and writes them as PNG pictures to docs/gallery/ for the README.
#   BUILD_DIR  build folder holding Dormalis.exe (default build/mingw)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=$(cd "${BUILD_DIR:-$root/build/mingw}" && pwd)
out=$root/docs/gallery
[ -f "$build/Dormalis.exe" ] || { echo "no Dormalis.exe in $build: build it first" >&2; exit 1; }
command -v convert >/dev/null || { echo "ImageMagick's convert is needed" >&2; exit 1; }
mkdir -p "$out"

. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build" >/dev/null

pages=(setup customize network-mode about)
languages=(fr en de zh es it)
shots=$(mktemp -d)
for language in 0 1 2 3 4 5; do
    for page in 0 1 2 3; do
        bmp="$shots/page-$page-$language.bmp"
        wine "$build/Dormalis.exe" --ui-test "$language" "$page" "$(winepath -w "$bmp")" </dev/null >/dev/null 2>&1
        png="$out/${pages[$page]}-${languages[$language]}.png"
        # The fourth byte of each pixel is not an alpha channel: without -alpha off the picture would come out clear.
        convert "$bmp" -alpha off -strip "$png"
        echo "$png"
    done
done
rm -rf "$shots"
