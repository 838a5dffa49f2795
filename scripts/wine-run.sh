#!/usr/bin/env bash
# CTest's emulator: runs one Windows test executable under the build folder's Wine prefix.
exe=$1
shift
build=$(cd "$(dirname "$exe")" && pwd)
script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$script_dir/wine-env.sh"
wine_env_exports "$build"
if [ -z "${DISPLAY:-}" ]; then
    echo "No Wine environment for $build: run the tests through scripts/test.sh" >&2
    exit 1
fi
exec wine "$exe" "$@"
