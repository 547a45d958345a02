#!/bin/bash
# Sets up a Debian 12 machine and runs Kelvra for real under Wine, against a
# local stand-in of the account service:
#   scripts/run.sh            (as root on a fresh machine; Ctrl+C ends it all)
#   scripts/run.sh --empty    the same in a bare prefix of its own, for
#                             installing real Windows programs into it
#
# 1. installs the packages (scripts/install-deps.sh);
# 2. builds kelvra.exe in build/run with the service address
#    http://127.0.0.1:$KELVRA_PORT (default 8642) built in, kvscan.exe and the
#    demo machine's programs;
# 3. lays out the demo machine in the prefix, once (tools/demo/lay_out.py, from
#    the table tools/demo/machine.json):
#    about thirty uninstall entries over both registry views, shaped as real
#    installers write them, with executables that carry version resources;
#    some of them disagree with their entry, some entries lost their program;
# 4. starts the stand-in service on that port (tests/service/account_service.py
#    --serve): it keeps every upload and serves /account/<user>/ and
#    /whatiskelvra/;
# 5. starts the tray program in a Wine prefix of its own (build/run/wine, or
#    build/run/wine-empty with --empty), on Wine's virtual desktop (a
#    Windows-like screen with a taskbar and the tray at the bottom right) on
#    $DISPLAY, or on a private Xvfb when there is no display. Without settings
#    it is given a demo account (demo / demo, profile demo-pc) so that a run
#    can upload at once. After the first run this terminal says where its
#    report is and what the account page shows.
# The program runs until "Exit Kelvra" in its tray menu, or Ctrl+C here.
#
# Wine runs as whoever starts this script (root, on a fresh machine), and a
# Windows program installed into a run prefix runs with those rights. So the
# run prefixes map no drive to the host's root (Wine's default Z:) and keep
# their user folders (Desktop, Documents, ...) inside the prefix instead of
# linking them to the home folder: such a program reaches the prefix itself
# (drive C:) and the build's bin folder (drive K:, kelvra.exe and kvscan.exe),
# and nothing else of the host through a drive. It is still a Linux process
# of that user, and Wine does not stop a program that deliberately leaves the
# Windows world (native Linux calls); install only what you would run as
# that user anyway.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
port=${KELVRA_PORT:-8642}
build=$root/build/run
demo=1
for arg in "$@"; do
    case "$arg" in
        --empty) demo=0 ;;
        -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) echo "run: unknown argument $arg (only --empty)" >&2; exit 2 ;;
    esac
done
if [ "$demo" = 1 ]; then state=$build/wine; else state=$build/wine-empty; fi
service_dir=$build/service

if [ -z "${KELVRA_RUN_STAGE:-}" ]; then
    bash scripts/install-deps.sh
    echo "=== building kelvra.exe for the service at http://127.0.0.1:$port"
    cmake --preset win32 -B "$build" -DKELVRA_BUILD_TESTS=OFF \
        -DKELVRA_SERVICE_BASE="http://127.0.0.1:$port" >/dev/null
    cmake --build "$build" --target kelvra kvscan kelvra_demo -j2
    export KELVRA_RUN_STAGE=1
    if [ -z "${DISPLAY:-}" ]; then
        echo "=== no DISPLAY: running on a private Xvfb (nothing to see; the first"
        echo "    scheduled run uploads about 100 seconds after the start)"
        exec scripts/with-display.sh "$0" "$@"
    fi
fi

wine_run() { "$root/cmake/wine-run.sh" "$state" "$@"; }

# The run prefix's reach (see the top): no Z: drive for the host's root,
# user folders of its own, the build's programs as K:, and no automatic
# prefix update, which would bring the links back. Done at every start, so
# that a prefix made before this rule is brought under it too.
seal_prefix() {
    local prefix=$state/prefix
    rm -f "$prefix/dosdevices/z:"
    local folder
    for folder in "$prefix"/drive_c/users/*/*; do
        if [ -L "$folder" ]; then
            rm -f "$folder"
            mkdir -p "$folder"
        fi
    done
    ln -sfn "$build/bin" "$prefix/dosdevices/k:"
    echo disable >"$prefix/.update-timestamp"
}
service_pid=
kelvra_pid=
cleanup() {
    wine_run --stop || true
    if [ -n "$kelvra_pid" ]; then wait "$kelvra_pid" 2>/dev/null || true; fi
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
wine_run --stop
seal_prefix

# The demo machine, once (again when its table or script changed): program folders
# on the prefix's C: drive and the entries of both registry views.
if [ "$demo" = 1 ] && { [ ! "$state/.kelvra-demo" -nt tools/demo/machine.json ] ||
                        [ ! "$state/.kelvra-demo" -nt tools/demo/lay_out.py ]; }; then
    echo "=== laying out the demo machine (tools/demo/lay_out.py)"
    # The registry files go on C:, which the prefix can read without a Z: drive.
    python3 tools/demo/lay_out.py --drive-c "$state/prefix/drive_c" --exes "$build/tools/demo/exe" \
        --reg "$state/prefix/drive_c/kelvra-demo"
    for view in 32 64; do
        wine_run reg import "C:\\kelvra-demo.$view.reg" /reg:$view >/dev/null 2>&1
    done
    touch "$state/.kelvra-demo"
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
uploads_before=$(ls "$service_dir/uploads" 2>/dev/null | wc -l)
wine_run "$build/bin/kelvra.exe" &
kelvra_pid=$!

# After the first run of this session: where its report is, and what the
# account page now shows (read from the page itself).
while kill -0 "$kelvra_pid" 2>/dev/null; do
    if [ "$(ls "$service_dir/uploads" 2>/dev/null | wc -l)" -gt "$uploads_before" ]; then
        sleep 1  # the report is written before the upload starts; let the upload end
        report=$(ls -t "$data"/dump_*.html 2>/dev/null | head -n 1)
        counts=$(grep -o -E '^(ERROR|OK): <b>[0-9]+' "$report" | sed 's/<b>//' | paste -sd ' ' || true)
        page="http://127.0.0.1:$port/account/demo/"
        listed=$(python3 -c 'import sys, urllib.request
page = urllib.request.urlopen(sys.argv[1], timeout=10).read().decode("utf-8", "replace")
newest = page.split("<h2>")[1] if "<h2>" in page else ""
print("%d upload(s); the newest, %s, lists %d applications" % (
    page.count("<h2>"), newest.split("</h2>")[0], newest.split("</table>")[0].count("<tr><td>")))' "$page" \
            2>/dev/null || echo "nothing it could be asked for")
        cat <<DONE
=== The first run is done ($counts).
    Report:       $report
                  (open file://$report
                  in a browser: every application, its candidate versions
                  and why each one lost)
    Account page: $page
                  shows $listed
    Admins:       the same inventory as JSON, with what kvscan finds amiss:
                  cmake/wine-run.sh $state $build/bin/kvscan.exe --data-dir 'C:\kvscan' --profile demo-pc --json -
                  and with the user's own installs beside the machine's:
                  cmake/wine-run.sh $state $build/bin/kvscan.exe --data-dir 'C:\kvscan' --profile demo-pc --scope all --json -
DONE
        break
    fi
    sleep 1
done

status=0
wait "$kelvra_pid" || status=$?
kelvra_pid=
echo "=== Kelvra ended with exit code $status"
exit "$status"
