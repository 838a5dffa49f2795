#!/usr/bin/env bash
# Lets the service's programs load the test bed's stand-ins (fwpuclnt, cfgmgr32, wtsapi32, iphlpapi) placed
# beside them. Wine prefers its own builtin copies of all but fwpuclnt, so each program gets an override; with
# "native,builtin" a program whose folder holds no stand-in still gets Wine's own DLL.
set -euo pipefail
export WINEPREFIX=$1
for app in Dormalis.exe Uninstall.exe service_tests.exe service_bench.exe; do
    for dll in fwpuclnt cfgmgr32 wtsapi32 iphlpapi; do
        wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$app\\DllOverrides" /v $dll /d native,builtin /f >/dev/null 2>&1
    done
done
