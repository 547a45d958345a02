#!/bin/sh
# Runs a Windows program under Wine in the build tree's private prefix.
#   wine-run.sh STATE_DIR program.exe [arguments...]
#   wine-run.sh STATE_DIR --stop        shuts the prefix's wineserver down
# STATE_DIR holds the prefix, the server's socket folder (TMPDIR) and a lock.
#
# Why the dance below: the first Wine process starts wineserver and the system
# services, and they inherit its standard streams. Anything that waits for
# those streams to close (CTest, $(...)) then waits for the services to exit,
# which costs seconds per test. So a persistent server and the services are
# started first with every stream on /dev/null, under a lock, and only then
# does the program itself run.
set -eu
mkdir -p "$1/tmp"
state=$(cd "$1" && pwd)  # Wine wants an absolute prefix path
shift
export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export TMPDIR="$state/tmp"
export WINEARCH=win64

if [ "${1:-}" = "--stop" ]; then
    wineserver -k >/dev/null 2>&1 </dev/null || true
    exit 0
fi

(
    flock 9
    if [ ! -f "$WINEPREFIX/.kelvra-ready" ]; then
        wineboot -i >/dev/null 2>&1 </dev/null 9>&- || true
        wineserver -w </dev/null >/dev/null 2>&1 9>&- || true
        touch "$WINEPREFIX/.kelvra-ready"
    fi
    # Exit status 2 means a server is already running for this prefix.
    if wineserver -p120 </dev/null >/dev/null 2>&1 9>&-; then
        wine cmd.exe /c rem </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$state/lock"

exec wine "$@"
