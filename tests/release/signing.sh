#!/usr/bin/env bash
# The release's signing step on this build's programs, with a throwaway certificate made here: a signed program
# verifies; its kept signature, attached to a fresh copy, gives the same bytes and is refused on a changed copy;
# without a certificate the program stays as it was and the step says so.
#   signing.sh PROGRAM...
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
sign=$scripts/sign.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2 && exit 1; }
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Dormalis test signer" \
    -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -passout 'pass:a pass phrase' -out signer.p12
unset DORMALIS_SIGN_PKCS12 DORMALIS_SIGN_PASSWORD DORMALIS_SIGN_PASSWORD_FILE DORMALIS_SIGN_TIMESTAMP DORMALIS_SIGNATURES
mkdir signatures rebuilt changed

for program in "$@"; do
    name=$(basename "$program")
    cp "$program" "$name"
    said=$(bash "$sign" "$name")
    [[ $said == *unsigned* ]] || fail "$name: an unsigned build does not say so: $said"
    cmp -s "$program" "$name" && [ ! -e "$name.sig" ] || fail "$name: changed without a certificate"

    # As the release takes it: out of the environment before anything runs, read by the signing step alone.
    (export DORMALIS_SIGN_PASSWORD='a pass phrase' && . "$scripts/signing-password.sh" &&
        ! env | grep -q 'a pass phrase' && [ "$(stat -c %a "$DORMALIS_SIGN_PASSWORD_FILE")" = 600 ] &&
        DORMALIS_SIGN_PKCS12=signer.p12 bash "$sign" "$name" >/dev/null && rm -r "$DORMALIS_SIGN_SECRETS") ||
        fail "$name: the password stayed in the environment or signing failed"
    osslsigncode verify -CAfile cert.pem -in "$name" >/dev/null || fail "$name: its signature does not verify"

    cp "$name.sig" signatures/ && cp "$program" rebuilt/ && cp "$program" changed/
    python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(4096); b = f.read(1)[0]; f.seek(4096); f.write(bytes([b ^ 1]))' \
        "changed/$name"
    export DORMALIS_SIGNATURES=signatures DORMALIS_SIGN_CAFILE=cert.pem
    bash "$sign" "rebuilt/$name" >/dev/null
    cmp -s "$name" "rebuilt/$name" || fail "$name: the kept signature does not rebuild the signed program"
    ! bash "$sign" "changed/$name" >/dev/null 2>&1 || fail "$name: a signature was attached to another program"
    unset DORMALIS_SIGNATURES DORMALIS_SIGN_CAFILE
    echo "$name: signed, verified, rebuilt from its signature"
done
