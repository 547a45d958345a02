#!/bin/bash
# Sets up a Debian 12 machine and runs Kelvra for real under Wine, against a
# local stand-in of the account service:
#   scripts/run.sh            (as root on a fresh machine; Ctrl+C ends it all)
#
# 1. installs the packages (scripts/install-deps.sh);
# 2. builds kelvra.exe in build/run with the service address
#    http://127.0.0.1:$KELVRA_PORT (default 8642) built in;
# 3. starts the stand-in service on that port (tests/service/account_service.py
#    --serve): it keeps every upload and serves /account/<user>/ and
#    /whatiskelvra/;
# 4. starts the tray program in a Wine prefix of its own (build/run/wine), on
#    Wine's virtual desktop (a Windows-like screen with a taskbar and the tray
#    at the bottom right) on $DISPLAY, or on a private Xvfb when there is no
#    display. Without settings it is given a demo account (demo / demo,
#    profile demo-pc) so that a run can upload at once.
# The program runs until "Exit Kelvra" in its tray menu, or Ctrl+C here.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
port=${KELVRA_PORT:-8642}
build=$root/build/run
state=$build/wine
service_dir=$build/service

if [ -z "${KELVRA_RUN_STAGE:-}" ]; then
    bash scripts/install-deps.sh
    echo "=== building kelvra.exe for the service at http://127.0.0.1:$port"
    cmake --preset win32 -B "$build" -DKELVRA_BUILD_TESTS=OFF \
        -DKELVRA_SERVICE_BASE="http://127.0.0.1:$port" >/dev/null
    cmake --build "$build" --target kelvra -j2
    export KELVRA_RUN_STAGE=1
    if [ -z "${DISPLAY:-}" ]; then
        echo "=== no DISPLAY: running on a private Xvfb (nothing to see; the first"
        echo "    scheduled run uploads about 100 seconds after the start)"
        exec scripts/with-display.sh "$0"
    fi
fi

wine_run() { "$root/cmake/wine-run.sh" "$state" "$@"; }
service_pid=
cleanup() {
    wine_run --stop || true
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The prefix, once: Wine's virtual desktop, so that the tray looks and works
# as on Windows. The setting takes effect with the next server.
if [ ! -f "$state/.kelvra-desktop" ]; then
    echo "=== preparing the Wine prefix $state/prefix (once, about 15 s)"
    wine_run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
    wine_run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f >/dev/null 2>&1
    wine_run --stop
    touch "$state/.kelvra-desktop"
fi

user=$(id -un)
data="$state/prefix/drive_c/users/$user/AppData/Local/Kelvra"
mkdir -p "$data"
if [ ! -f "$data/settings.ini" ]; then
    printf '[Account]\r\nUsername=demo\r\nPassword=demo\r\nProfile=demo-pc\r\n' >"$data/settings.ini"
fi

mkdir -p "$service_dir"
rm -f "$service_dir/ports.txt"
python3 tests/service/account_service.py --dir "$service_dir" --serve --port "$port" &
service_pid=$!
for _ in $(seq 100); do
    [ -f "$service_dir/ports.txt" ] && break
    kill -0 "$service_pid" 2>/dev/null || { echo "run: the service did not start (port $port taken?)" >&2; exit 1; }
    sleep 0.1
done

cat <<INFO
=== Kelvra is starting under Wine (display $DISPLAY).
    Tray icon:   bottom right of the Wine desktop; right-click it for the menu.
    Run now:     right-click the icon, "Run now" (a scheduled run also comes
                 about 100 seconds after the start, then an hour after each run).
    Run files:   $data/dump_<profile>_<N>.txt, .xml, .html
    Uploads:     $service_dir/uploads/ (raw requests: $service_dir/request-NNN.bin)
    Account:     http://127.0.0.1:$port/account/demo/ shows what arrived.
    End:         "Exit Kelvra" in the tray menu, or Ctrl+C here.
INFO
status=0
wine_run "$build/bin/kelvra.exe" || status=$?
echo "=== Kelvra ended with exit code $status"
exit "$status"
