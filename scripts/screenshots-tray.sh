#!/bin/bash
# Takes the pictures of the tray program shown in the README:
#   docs/tray-title.png    the title window at start
#   docs/tray-menu.png     the tray menu, opened by a right click on the icon
#   docs/tray-balloon.png  the balloon after "Run now"
#   docs/report.png        the HTML report of that run, in headless Chromium
#   docs/account-page.png  the account page of the stand-in service after the upload
#   docs/tray-already-running.png  the balloon of the running tray when the
#                          program is started a second time
#
#   scripts/screenshots-tray.sh [BUILD_DIR] [OUT_DIR]
# BUILD_DIR is a configured win32 tree (default build/win32) in which
# kelvra.exe and the demo machine's programs (target kelvra_demo) are built;
# OUT_DIR defaults to docs/. Like screenshots.sh for the dialogs, it uses a
# private Xvfb and Wine's virtual desktop in a prefix of its own, which gets
# the demo machine of scripts/run.sh (tools/demo/), so that the
# pictures show what a newcomer sees. The upload goes to the account-service
# stand-in through the proxy setting, so the program keeps the service
# address it was built with. The tray is driven as a user would: real
# clicks on the icon.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=$(cd "${1:-build/win32}" && pwd)
out=$(mkdir -p "${2:-docs}" && cd "${2:-docs}" && pwd)
program="$build/bin/kelvra.exe"
[ -f "$program" ] || { echo "screenshots-tray: $program is not built" >&2; exit 1; }
demo_exes="$build/tools/demo/exe"
[ -d "$demo_exes" ] || { echo "screenshots-tray: $demo_exes is not built (target kelvra_demo)" >&2; exit 1; }
if ! command -v chromium >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends chromium >/dev/null
fi

# Screen coordinates below are those of a 1024 x 768 virtual desktop.
if [ -z "${KELVRA_SCREENSHOT_XVFB:-}" ]; then
    export KELVRA_SCREENSHOT_XVFB=1 KELVRA_XVFB_SCREEN=1024x768x24
    exec env -u DISPLAY scripts/with-display.sh "$0" "$build" "$out"
fi

state="$build/wine-tray-screens"
wine_run() { "$root/cmake/wine-run.sh" "$state" "$@"; }
work=$(mktemp -d "$build/tray-screens.XXXXXX")
service_pid=
program_pid=
cleanup() {
    wine_run --stop || true
    [ -n "$service_pid" ] && { kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; }
    rm -rf "$work"
}
trap cleanup EXIT

wine_run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
wine_run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f >/dev/null 2>&1
python3 tools/demo/lay_out.py --drive-c "$state/prefix/drive_c" --exes "$demo_exes" --reg "$work/demo" >/dev/null
for view in 32 64; do
    wine_run reg import "Z:${work//\//\\}\\demo.$view.reg" /reg:$view >/dev/null 2>&1
done
wine_run --stop  # the desktop setting takes effect with the next server

# The stand-in service, reached through the proxy setting.
python3 tests/service/account_service.py --dir "$work/service" --serve --port 0 &
service_pid=$!
while [ ! -s "$work/service/ports.txt" ]; do sleep 0.1; done
port=$(awk '/^service/ {print $2}' "$work/service/ports.txt")
data="$state/prefix/drive_c/users/$(id -un)/AppData/Local/Kelvra"
rm -rf "$data"
mkdir -p "$data"
printf '[Proxy]\r\nUse proxy=1\r\nServer=127.0.0.1\r\nPort=%s\r\n[Account]\r\nUsername=demo\r\nPassword=demo\r\nProfile=demo-pc\r\n' \
    "$port" >"$data/settings.ini"

shot() { /usr/bin/import -window root "$1"; }
is_white() {  # picture, x, y
    [ "$(/usr/bin/convert "$1" -crop "1x1+$2+$3" +repage -format '%[hex:p{0,0}]' info:)" = FFFFFF ]
}

wine_run cmd.exe /c rem >/dev/null 2>&1  # server and desktop up first
wine_run "$program" >"$work/program.log" 2>&1 &
program_pid=$!

# The title window shows for one tick (800 ms): shoot until it is there.
found=
for i in $(seq 200); do
    shot "$work/title-$i.png"
    if is_white "$work/title-$i.png" 512 384; then found="$work/title-$i.png"; break; fi
    sleep 0.02
done
[ -n "$found" ] || { echo "screenshots-tray: the title window never showed" >&2; exit 1; }
/usr/bin/convert "$found" -crop 337x154+343+307 +repage "$out/tray-title.png"
echo "screenshots-tray: $out/tray-title.png"

sleep 12  # until the greeting balloon has gone
xdotool mousemove 1013 757 click 3  # the icon, bottom right
sleep 1
xdotool mousemove 904 650 click 1  # "Run now", the menu's first item

for _ in $(seq 300); do
    [ -n "$(ls "$work/service/uploads" 2>/dev/null)" ] && break
    sleep 0.1
done
[ -n "$(ls "$work/service/uploads" 2>/dev/null)" ] || { echo "screenshots-tray: no upload arrived" >&2; exit 1; }
# Balloons queue up: wait for the wide one that follows the run (its left
# part, where the shorter "Gathering..." balloon does not reach, turns white).
for i in $(seq 200); do
    shot "$work/balloon.png"
    is_white "$work/balloon.png" 670 705 && break
    sleep 0.1
done
/usr/bin/convert "$work/balloon.png" -crop 420x110+604+658 +repage "$out/tray-balloon.png"
echo "screenshots-tray: $out/tray-balloon.png"

report=$(ls "$data"/dump_*.html | head -n 1)
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1000,760 \
    --screenshot="$out/report.png" "file://$report" >/dev/null 2>&1
echo "screenshots-tray: $out/report.png"
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=700,640 \
    --screenshot="$out/account-page.png" "http://127.0.0.1:$port/account/demo/" >/dev/null 2>&1
echo "screenshots-tray: $out/account-page.png"

# The menu once the balloon has gone, with the time of the last run.
sleep 12
xdotool mousemove 1013 757 click 3
sleep 0.5
xdotool mousemove 900 681  # onto a separator, off the icon, so that its tooltip goes
sleep 1
shot "$work/menu.png"
/usr/bin/convert "$work/menu.png" -crop 330x160+694+608 +repage "$out/tray-menu.png"
echo "screenshots-tray: $out/tray-menu.png"

# A second start ends at once; the running tray says it is already there.
xdotool mousemove 300 300 click 1  # closes the menu
sleep 12  # until the icon's tooltip has gone
wine_run "$program" >>"$work/program.log" 2>&1
for i in $(seq 200); do
    shot "$work/again.png"
    is_white "$work/again.png" 990 705 && break  # its right part: this balloon is narrower
    sleep 0.1
done
/usr/bin/convert "$work/again.png" -crop 420x110+604+658 +repage "$out/tray-already-running.png"
echo "screenshots-tray: $out/tray-already-running.png"

sleep 12  # until that balloon has gone
xdotool mousemove 1013 757 click 3
sleep 0.5
xdotool mousemove 900 736 click 1  # "Exit Kelvra", the last item
status=0
for _ in $(seq 300); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$program_pid" 2>/dev/null && { echo "screenshots-tray: Exit did not end kelvra.exe" >&2; exit 1; }
wait "$program_pid" || status=$?
[ "$status" -eq 0 ] || { echo "screenshots-tray: kelvra.exe ended with $status" >&2; exit 1; }
