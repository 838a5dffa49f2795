#!/usr/bin/env bash
# Builds a release into dist/: "Dormalis Setup.exe" carrying the stripped programs, the debug information of the
# three programs (<program>.debug, for reading a crash) and SHA256SUMS; with a certificate also each program's
# signature (<program>.sig). Two builds of the same commit give the same bytes, wherever and whenever they run.
# Signing: scripts/sign.sh (DORMALIS_SIGN_PKCS12, DORMALIS_SIGN_PASSWORD, DORMALIS_SIGN_TIMESTAMP); rebuilding a
# signed release: DORMALIS_SIGNATURES. Without a certificate the release is unsigned and says so.
#   SKIP_DEPS=1  do not check the installed packages
set -euo pipefail
. "$(dirname "$0")/signing-password.sh"
trap 'rm -rf "${DORMALIS_SIGN_SECRETS:-}"' EXIT
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ "${SKIP_DEPS:-0}" = 1 ] || bash scripts/deps.sh
build=$root/build/release
dist=$root/dist

# Whatever wants a date gets the commit's, never the clock's; file lists sort the same everywhere.
export LC_ALL=C TZ=UTC
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
commit=$(git rev-parse HEAD)
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "warning: uncommitted changes; this build cannot be reproduced from commit $commit" >&2
fi

# Always from an empty folder and without a compiler cache, so nothing of an earlier build slips in: a cache may
# hand back an object made under other path mappings, whose debug information names other folders.
rm -rf "$build" "$dist"
cmake --preset release >/dev/null
cmake --build --preset release

mkdir -p "$dist"
cp "$build/Dormalis Setup.exe" "$build"/*.debug "$dist/"
signed=no
if compgen -G "$build/*.sig" >/dev/null; then
    cp "$build"/*.sig "$dist/"
    signed=yes
fi
(cd "$dist" && sha256sum -- * >SHA256SUMS)

echo
echo "Release of commit $commit in $dist:"
(cd "$dist" && stat -c '%10s  %n' -- *)
if [ $signed = yes ]; then
    echo "Signed: Dormalis.exe, Uninstall.exe and the setup."
else
    echo "UNSIGNED: no code-signing certificate was given (DORMALIS_SIGN_PKCS12, DORMALIS_SIGN_PASSWORD)."
fi
