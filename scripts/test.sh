#!/usr/bin/env bash
# Builds everything and runs every test under Wine on a headless display.
#   BUILD_DIR   build folder (default build/mingw)
#   SKIP_DEPS=1 do not check the installed packages
#   BUILD_TARGETS="a b"  build only these targets (default: everything)
# Extra arguments go to ctest (for example -R foundation).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${BUILD_DIR:-$root/build/mingw}
[ "${SKIP_DEPS:-0}" = 1 ] || bash scripts/deps.sh

cmake --preset mingw -B "$build" >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" ${BUILD_TARGETS:+--target $BUILD_TARGETS}

. scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$build"
ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout 120 "$@"
