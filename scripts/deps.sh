#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine (run as root).
set -euo pipefail
packages=(
    cmake ninja-build python3 git gcc libc6-dev
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    googletest
    wine wine64 xvfb xauth x11-utils imagemagick locales
    osslsigncode openssl
    fonts-wqy-microhei fonts-dejavu-core
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
