#!/usr/bin/env bash
# Sourced first by scripts/release.sh: the signing password reaches the signing step only. It leaves the
# environment before anything else runs (package scripts, the build, its compilers) and waits in a file only this
# user can read, named by DORMALIS_SIGN_PASSWORD_FILE for scripts/sign.sh; the caller removes
# DORMALIS_SIGN_SECRETS when it ends.
if [ -n "${DORMALIS_SIGN_PASSWORD+set}" ]; then
    DORMALIS_SIGN_SECRETS=$(mktemp -d)
    (umask 077 && printf %s "$DORMALIS_SIGN_PASSWORD" >"$DORMALIS_SIGN_SECRETS/password")
    unset DORMALIS_SIGN_PASSWORD
    export DORMALIS_SIGN_PASSWORD_FILE=$DORMALIS_SIGN_SECRETS/password
fi
