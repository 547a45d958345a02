#!/bin/bash
# Takes the pictures of the dialogs shown in the README (and, through
# screenshots-tray.sh, those of the tray program):
#   docs/settings-account.png, docs/settings-connection.png, docs/new-account.png
#
#   scripts/screenshots.sh [BUILD_DIR] [OUT_DIR]
# BUILD_DIR is a configured and built win32 tree (default build/win32), OUT_DIR
# defaults to docs/. The test program opens the dialogs itself in its picture
# mode (tests/account/dialog_screens_win32.cpp); this script gives it a screen
# that looks like Windows (Xvfb and Wine's virtual desktop in a prefix of its
# own, so the test prefix is left alone) and photographs each window.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=$(cd "${1:-build/win32}" && pwd)
out=$(mkdir -p "${2:-docs}" && cd "${2:-docs}" && pwd)
program="$build/tests/account_tests.exe"
[ -f "$program" ] || { echo "screenshots: $program is not built" >&2; exit 1; }

# The screen must be the virtual desktop's size, so that window coordinates
# are screen coordinates. Run again under a private Xvfb of that size.
if [ -z "${KELVRA_SCREENSHOT_XVFB:-}" ]; then
    export KELVRA_SCREENSHOT_XVFB=1 KELVRA_XVFB_SCREEN=1024x768x24
    exec env -u DISPLAY scripts/with-display.sh "$0" "$build" "$out"
fi

state="$build/wine-screens"
wine_run() { "$root/cmake/wine-run.sh" "$state" "$@"; }
stop_wine() { wine_run --stop || true; }
trap stop_wine EXIT

# Wine's virtual desktop: a taskbar-less Windows desktop with framed windows.
wine_run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
wine_run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f >/dev/null 2>&1
# Wine's own Tahoma and Marlett (close box glyph), which this Wine does not
# find in its data folder by itself; without them the dialogs show in a
# substitute font.
cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf \
   /usr/share/wine/fonts/marlett.ttf "$state/prefix/drive_c/windows/Fonts/"
stop_wine  # the settings take effect with the next server

shots=$(mktemp -d "$build/screens.XXXXXX")
trap 'stop_wine; rm -rf "$shots"' EXIT
windows_shots="Z:${shots//\//\\}"

KELVRA_SCREENSHOT_DIR="$windows_shots" wine_run "$program" >"$shots/program.log" 2>&1 &
program_pid=$!

taken=0
while kill -0 "$program_pid" 2>/dev/null; do
    for rect in "$shots"/*.rect; do
        [ -e "$rect" ] || continue
        name=$(basename "$rect" .rect)
        [ -e "$shots/$name.done" ] && continue
        read -r x y w h <"$rect"
        /usr/bin/import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png"
        echo "screenshots: $out/$name.png (${w}x${h})"
        touch "$shots/$name.done"
        taken=$((taken + 1))
    done
    sleep 0.2
done

status=0
wait "$program_pid" || status=$?
if [ "$status" -ne 0 ] || [ "$taken" -ne 3 ]; then
    echo "screenshots: the picture run failed (status $status, $taken pictures)" >&2
    cat "$shots/program.log" >&2
    exit 1
fi

# The tray program's pictures: title window, tray menu, balloon and report.
stop_wine
scripts/screenshots-tray.sh "$build" "$out"
