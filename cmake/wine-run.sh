#!/bin/sh
# Runs a Windows program under Wine in the build tree's private prefix.
#   wine-run.sh [--arch win32|win64] STATE_DIR program.exe [arguments...]
#   wine-run.sh [--arch ...] STATE_DIR --stop   shuts the prefix's wineserver down
# STATE_DIR holds the prefix, the server's socket folder (TMPDIR) and a lock.
# --arch chooses the kind of Windows the prefix is made as: win64 (the
# default) is a 64-bit Windows on which the 32-bit program runs under WOW64
# with two registry views; win32 is a 32-bit Windows, with one view and no
# WOW64. A prefix keeps the kind it was made as, so each kind needs a
# STATE_DIR of its own.
#
# Why the dance below: the first Wine process starts wineserver and the system
# services, and they inherit its standard streams. Anything that waits for
# those streams to close (CTest, $(...)) then waits for the services to exit,
# which costs seconds per test. So a persistent server and the services are
# started first with every stream on /dev/null, under a lock, and only then
# does the program itself run.
set -eu
arch=win64
if [ "${1:-}" = "--arch" ]; then
    case "${2:-}" in
        win32 | win64) arch=$2 ;;
        *) echo "wine-run.sh: --arch takes win32 or win64" >&2; exit 2 ;;
    esac
    shift 2
fi
mkdir -p "$1/tmp"
state=$(cd "$1" && pwd)  # Wine wants an absolute prefix path
shift
export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export TMPDIR="$state/tmp"
export WINEARCH=$arch

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
    if [ ! -f "$WINEPREFIX/.kelvra-tuned" ]; then
        # Without a window manager Wine waits two seconds for every managed
        # window that goes away; unmanaged windows close at once.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
            </dev/null >/dev/null 2>&1 9>&- || true
        # Wine's own Tahoma and Marlett, so dialogs render as on Windows.
        for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
            if [ -f "/usr/share/wine/fonts/$font" ]; then
                cp "/usr/share/wine/fonts/$font" "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
            fi
        done
        # The server that "reg add" started lingers a few seconds and then
        # ends; a program started meanwhile would talk to a server on its
        # way out ("recvmsg: Connection reset by peer"). Wait for it to end,
        # so that the persistent server below is the one every program meets.
        wineserver -w </dev/null >/dev/null 2>&1 9>&- || true
        touch "$WINEPREFIX/.kelvra-tuned"
    fi
    # Exit status 2 means a server is already running for this prefix.
    if wineserver -p120 </dev/null >/dev/null 2>&1 9>&-; then
        wine cmd.exe /c rem </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$state/lock"

# The program's output goes through files: a helper process that Wine starts
# on the program's behalf (the desktop window's process, for one) inherits
# the standard streams and outlives the program by a second or more, and
# whoever reads a pipe from us would wait for it.
out=$(mktemp "$state/tmp/out.XXXXXX")
err=$(mktemp "$state/tmp/err.XXXXXX")
status=0
wine "$@" >"$out" 2>"$err" </dev/null || status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit "$status"
