#!/usr/bin/env bash
# What the installation tests need in the prefix: a drive that is not a fixed disk (R:, a floppy), and a folder
# that is a Unix symbolic link, which Wine reports as a reparse point.
# Links are relative so that the copy of the template keeps them pointing inside itself.
set -euo pipefail
export WINEPREFIX=$1
mkdir -p "$1/dormalis-removable/Tools" "$1/drive_c/dormalis-links"
ln -sfn ../dormalis-removable "$1/dosdevices/r:"
wine reg add 'HKLM\Software\Wine\Drives' /v 'r:' /d floppy /f >/dev/null 2>&1
ln -sfn ../windows "$1/drive_c/dormalis-links/linked"
# Wine opens \\SERVER\SHARE\... as dosdevices/unc/SERVER/SHARE: a file share and a WebDAV share that lead to the
# service tests' installation folder, as a user's server could.
mkdir -p "$1/dosdevices/unc/host" "$1/dosdevices/unc/localhost@8080"
ln -sfn ../../../drive_c/DormalisServiceTest "$1/dosdevices/unc/host/share"
ln -sfn ../../../drive_c/DormalisServiceTest "$1/dosdevices/unc/localhost@8080/DavWWWRoot"
