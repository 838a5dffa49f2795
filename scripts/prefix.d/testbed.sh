#!/usr/bin/env bash
# Lets the service's programs load the test bed's stand-ins (fwpuclnt, cfgmgr32, wtsapi32, iphlpapi), which
# scripts/wine-env.sh puts in the system folder (the product) and the build puts beside the test programs. Wine
# prefers its own builtin copies of all but fwpuclnt, so each program gets an override; every other program of
# the prefix keeps Wine's own DLLs.
set -euo pipefail
export WINEPREFIX=$1
for app in Dormalis.exe Uninstall.exe service_tests.exe service_bench.exe; do
    for dll in fwpuclnt cfgmgr32 wtsapi32 iphlpapi; do
        wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$app\\DllOverrides" /v $dll /d native,builtin /f >/dev/null 2>&1
    done
done
