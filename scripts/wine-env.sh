#!/usr/bin/env bash
# Sourced: starts and stops the project's own Wine environment for one build folder.
#   wine_env_start BUILD_DIR   fresh prefix copied from a cached template, Xvfb, a persistent wineserver
#   wine_env_stop              stops exactly what wine_env_start started
# The user's own ~/.wine is never touched.

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

wine_env_exports() {
    local build=$1
    export WINEPREFIX=$build/wine-prefix WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
    if [ -f "$build/wine-env.display" ]; then export DISPLAY=:$(cat "$build/wine-env.display"); fi
}

# Starts Xvfb on the first display number that is free; several builds may start at once, so a number is only
# taken once our own Xvfb holds it.
start_xvfb() {
    local n=${WINE_ENV_FIRST_DISPLAY:-77}
    while :; do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
            WINE_ENV_XVFB=$!
            for _ in $(seq 50); do
                kill -0 "$WINE_ENV_XVFB" 2>/dev/null || break
                if [ -e "/tmp/.X11-unix/X$n" ]; then
                    sleep 0.3  # a loser of a race for the same number exits by now
                    kill -0 "$WINE_ENV_XVFB" 2>/dev/null && { WINE_ENV_DISPLAY=$n; return 0; }
                    break
                fi
                sleep 0.1
            done
            kill "$WINE_ENV_XVFB" 2>/dev/null || true
        fi
        n=$((n + 1))
    done
}

# Ends what a test killed at its time limit (or a whole run stopped from outside) may have left running in this
# build folder: the Wine servers of its prefixes and the X displays the tests started for themselves.
wine_env_sweep() {
    local build=$1 prefix pid
    for prefix in "$build/wine-prefix" "$build"/road/prefix "$build"/multi-monitor.*/prefix; do
        [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    done
    for pid in $(cat "$build"/multi-monitor.*/xvfb.pid 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
    rm -rf "$build"/road "$build"/multi-monitor.*
}

# The product loads the network stack's DLLs from System32 only, as on Windows: the test bed's stand-ins of a
# build go there in a prefix, over Wine's placeholders (scripts/prefix.d/testbed.sh has our programs prefer them).
wine_env_stand_ins() {
    local dll
    for dll in fwpuclnt cfgmgr32 wtsapi32 iphlpapi; do
        if [ -f "$1/$dll.dll" ]; then cp "$1/$dll.dll" "$2/drive_c/windows/system32/"; fi
    done
}

wine_env_start() {
    local build
    build=$(cd "$1" && pwd)
    WINE_ENV_BUILD=$build
    wine_env_sweep "$build"
    start_xvfb
    local display=$WINE_ENV_DISPLAY
    echo "$display" >"$build/wine-env.display"
    DISPLAY=":$display" "$script_dir/prepare-prefix.sh" "$build/wine-template"
    rm -rf "$build/wine-prefix"
    cp -a "$build/wine-template" "$build/wine-prefix"
    wine_env_stand_ins "$build" "$build/wine-prefix"
    wine_env_exports "$build"
    wineserver -p
    # Wine's own background processes (services.exe, plugplay, ...) start with the first program of the prefix
    # and inherit its output: start them here with no output, or CTest waits forever for the pipe to close.
    wine cmd /c exit </dev/null >/dev/null 2>&1
    echo "Wine prefix $WINEPREFIX on display $DISPLAY"
}

wine_env_stop() {
    [ -n "${WINE_ENV_BUILD:-}" ] || return 0
    wine_env_exports "$WINE_ENV_BUILD"
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    wine_env_sweep "$WINE_ENV_BUILD"
    if [ -n "${WINE_ENV_XVFB:-}" ]; then kill "$WINE_ENV_XVFB" 2>/dev/null || true; wait "$WINE_ENV_XVFB" 2>/dev/null || true; fi
    rm -f "$WINE_ENV_BUILD/wine-env.display"
    WINE_ENV_BUILD=""
}
