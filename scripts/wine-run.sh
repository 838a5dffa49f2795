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
# Every program a test starts inherits the test's Unix output, whatever Windows handles it is given, and one
# that outlives a dead test would hold CTest's pipe until the timeout. So the test writes to a file of its own,
# streamed to CTest only while the test process itself runs.
output=$(mktemp)
trap 'rm -f "$output"' EXIT
wine "$exe" "$@" >"$output" 2>&1 &
test_pid=$!
tail -n +1 -f --pid=$test_pid "$output"
wait $test_pid
