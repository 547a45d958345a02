#!/bin/sh
# Runs a command with an X display for the Windows programs under Wine that
# open windows (without one they hang silently at the first window).
#   with-display.sh command [arguments...]
# With DISPLAY set the command simply runs. Otherwise a private Xvfb starts
# on a display number it picks itself (-displayfd), the command runs with
# DISPLAY pointing at it, and the server stops afterwards. The command's exit
# status is passed on. KELVRA_XVFB_SCREEN sets the screen (default
# 1024x768x24).
set -eu

if [ -n "${DISPLAY:-}" ]; then
    exec "$@"
fi

state=$(mktemp -d "${TMPDIR:-/tmp}/kelvra-xvfb.XXXXXX")
xvfb_pid=
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Every stream of the server goes to files or /dev/null: a server that held
# the caller's pipes open would keep CTest waiting after the command ended.
Xvfb -displayfd 3 -screen 0 "${KELVRA_XVFB_SCREEN:-1024x768x24}" -nolisten tcp \
    3>"$state/display" </dev/null >/dev/null 2>"$state/xvfb.log" &
xvfb_pid=$!

tries=0
while [ ! -s "$state/display" ]; do
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        echo "with-display: Xvfb did not start:" >&2
        cat "$state/xvfb.log" >&2
        exit 1
    fi
    tries=$((tries + 1))
    if [ "$tries" -gt 200 ]; then
        echo "with-display: Xvfb gave no display number" >&2
        exit 1
    fi
    sleep 0.05
done

DISPLAY=":$(head -n 1 "$state/display")"
export DISPLAY
status=0
"$@" || status=$?
exit "$status"
