#!/usr/bin/env bash
# Signs one shipped program as the release build finishes it: the program and the uninstaller before the setup
# embeds them, then the setup.
#   sign.sh PROGRAM
#   DORMALIS_SIGN_PKCS12     code-signing certificate with its private key (a PKCS#12 file), and
#   DORMALIS_SIGN_PASSWORD_FILE  a file holding its password (scripts/release.sh makes it from
#                            DORMALIS_SIGN_PASSWORD, which thus never reaches the build's other programs);
#   DORMALIS_SIGN_TIMESTAMP  optionally the URL of an RFC 3161 timestamp server.
#   DORMALIS_SIGNATURES      instead: a folder holding a published release's signatures (PROGRAM's name + .sig);
#                            each is attached as it is, so a rebuild of that release matches it byte for byte,
#                            and osslsigncode refuses a signature that does not fit the rebuilt program.
#   DORMALIS_SIGN_CAFILE     the certificates a signature must chain to (default: the system's).
# Without any of them the program stays unsigned and this says so. A signature is kept beside it as PROGRAM.sig.
set -euo pipefail
file=$1
name=$(basename "$file")
rm -f "$file.sig" "$file.signed"
trap 'rm -f "$file.signed" "$file.signing.log"' EXIT
ca=(${DORMALIS_SIGN_CAFILE:+-CAfile "$DORMALIS_SIGN_CAFILE"})

if [ -n "${DORMALIS_SIGNATURES:-}" ]; then
    signature=$DORMALIS_SIGNATURES/$name.sig
    [ -f "$signature" ] || { echo "$name: no signature $signature" >&2; exit 1; }
    if ! osslsigncode attach-signature "${ca[@]}" -sigin "$signature" -in "$file" -out "$file.signed" \
        >"$file.signing.log" 2>&1; then
        cat "$file.signing.log" >&2
        echo "$name: the signature $signature does not fit this build" >&2
        exit 1
    fi
    how="signed (published signature attached)"
elif [ -n "${DORMALIS_SIGN_PKCS12:-}" ]; then
    [ -f "${DORMALIS_SIGN_PASSWORD_FILE:-}" ] || { echo "no signing password (DORMALIS_SIGN_PASSWORD)" >&2; exit 1; }
    timestamp=(${DORMALIS_SIGN_TIMESTAMP:+-ts "$DORMALIS_SIGN_TIMESTAMP"})
    if ! osslsigncode sign -pkcs12 "$DORMALIS_SIGN_PKCS12" -readpass "$DORMALIS_SIGN_PASSWORD_FILE" \
        -h sha256 -n Dormalis "${timestamp[@]}" -in "$file" -out "$file.signed" >"$file.signing.log" 2>&1; then
        cat "$file.signing.log" >&2
        echo "$name: signing failed" >&2
        exit 1
    fi
    how=signed
else
    echo "$name: unsigned (no certificate given; set DORMALIS_SIGN_PKCS12 and DORMALIS_SIGN_PASSWORD to sign)"
    exit 0
fi
mv "$file.signed" "$file"
osslsigncode extract-signature -in "$file" -out "$file.sig" >/dev/null
echo "$name: $how"
