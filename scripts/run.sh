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
# Root is needed only for step 1 (step 2, the compilers, runs as the starting
# user as well). Started as root, the script then runs everything of the demo (Wine, the prefix, the stand-in service,
# the tray) as the unprivileged user kelvra-demo, which it makes on first
# use (a system user with the home folder /var/lib/kelvra-demo, no password,
# no login shell) and reuses afterwards; KELVRA_RUN_USER names another
# existing user instead. That user's copy of the programs and scripts, and
# the prefixes and the service's folder, live in its home folder
# (~/kelvra-run); build/run/wine, build/run/wine-empty and build/run/service
# lead there. Started as another user, the script runs the demo as that user.
# A Windows program in a run prefix can do what that user can, and Wine is
# no sandbox: NT paths under \\?\unix\ reach every file of the host that the
# user may reach, with or without a drive letter for it. At each start a
# program in the prefix tries to write a file only root may write (in
# ~/kelvra-run, owned by root); the start stops if it can. The prefixes keep
# their user folders inside the prefix and map no Z: drive, so that an
# ordinary program stays in the prefix (C:) and the programs' folder (K:).
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
    if [ "$(id -u)" = 0 ]; then
        # Everything from here on runs as the run user, from a copy of the
        # programs and scripts in its home folder (the repository may lie
        # where that user cannot read, such as /root). The copy stays root's:
        # a program in the prefix can neither change it nor the check file.
        run_user=${KELVRA_RUN_USER:-kelvra-demo}
        if ! id -u "$run_user" >/dev/null 2>&1; then
            if [ -n "${KELVRA_RUN_USER:-}" ]; then
                echo "run: KELVRA_RUN_USER=$run_user: no such user" >&2
                exit 2
            fi
            echo "=== making the user $run_user, who runs the demo (once)"
            useradd --system --user-group --create-home --home-dir "/var/lib/$run_user" \
                --shell /usr/sbin/nologin "$run_user"
        fi
        if [ "$(id -u "$run_user")" = 0 ]; then
            echo "run: KELVRA_RUN_USER=$run_user is root" >&2
            exit 2
        fi
        home=$(getent passwd "$run_user" | cut -d: -f6)
        copy=$home/kelvra-run
        install -d -o root -g root -m 755 "$copy" "$copy/build" "$copy/build/run"
        rm -rf "$copy/scripts" "$copy/cmake" "$copy/tools" "$copy/tests" "$copy/build/run/bin" \
            "$copy/build/run/tools"
        cp -p --parents scripts/run.sh scripts/with-display.sh cmake/wine-run.sh tools/regfile.py \
            tools/demo/lay_out.py tools/demo/machine.json tests/service/account_service.py "$copy"
        mkdir -p "$copy/build/run/bin" "$copy/build/run/tools/demo"
        cp -p "$build"/bin/*.exe "$copy/build/run/bin/"
        cp -pr "$build/tools/demo/exe" "$copy/build/run/tools/demo/"
        # The check's file: root's, readable by all, writable by root alone.
        printf 'Only root may write this file.\n' >"$copy/root-only.txt"
        chmod 644 "$copy/root-only.txt"
        # The run user's folders, reached from build/run as before. A folder
        # left there by an earlier start as root moves over once.
        for folder in wine wine-empty service; do
            if [ -d "$build/$folder" ] && [ ! -L "$build/$folder" ] && [ ! -e "$copy/build/run/$folder" ]; then
                mv "$build/$folder" "$copy/build/run/$folder"
            fi
            if [ -d "$build/$folder" ] && [ ! -L "$build/$folder" ]; then
                mv "$build/$folder" "$build/$folder.root-owned"
                echo "=== kept an earlier $build/$folder as $build/$folder.root-owned"
            fi
            rm -f "$build/$folder"
            mkdir -p "$copy/build/run/$folder"
            chown -R "$run_user:" "$copy/build/run/$folder"
            ln -sfn "$copy/build/run/$folder" "$build/$folder"
        done
        display=${DISPLAY:-}
        if [ -n "$display" ] && ! { command -v xhost >/dev/null &&
                                    xhost "+SI:localuser:$run_user" >/dev/null 2>&1; }; then
            echo "=== $run_user may not use the display $display: a private Xvfb instead"
            display=
        fi
        if [ -z "$display" ]; then
            echo "=== no display for $run_user: a private Xvfb (nothing to see; the first"
            echo "    scheduled run uploads about 100 seconds after the start)"
        fi
        echo "=== running the demo as $run_user (uid $(id -u "$run_user"))"
        cd /
        exec runuser -u "$run_user" -- env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$home" \
            USER="$run_user" LOGNAME="$run_user" LANG="${LANG:-C.UTF-8}" DISPLAY="$display" \
            KELVRA_PORT="$port" KELVRA_RUN_STAGE=1 KELVRA_RUN_AS="$run_user" \
            bash "$copy/scripts/run.sh" "$@"
    fi
fi
if [ -z "${DISPLAY:-}" ]; then
    if [ -z "${KELVRA_RUN_AS:-}" ]; then
        echo "=== no DISPLAY: running on a private Xvfb (nothing to see; the first"
        echo "    scheduled run uploads about 100 seconds after the start)"
    fi
    exec scripts/with-display.sh "$0" "$@"
fi
# How this terminal's user runs a command of the run user's.
as_run_user=
[ -n "${KELVRA_RUN_AS:-}" ] && as_run_user="runuser -u $KELVRA_RUN_AS -- "

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

# The check of the top: a program in the prefix tries to write a file that
# only root may write, by the NT path that reaches any host file; it must
# fail. The same program writes a file of the run user's by the same kind of
# path, which must work: otherwise the check would prove nothing.
if [ -f "$root/root-only.txt" ] && [ "$(id -u)" != 0 ]; then
    unix_path() { printf '\\\\?\\unix%s' "$1" | tr / '\\'; }
    own=$state/tmp/reach-check.txt
    rm -f "$own"
    before=$(cat "$root/root-only.txt")
    wine_run cmd.exe /c "echo written by a program in the prefix>>$(unix_path "$root/root-only.txt")" \
        >/dev/null 2>&1 || true
    wine_run cmd.exe /c "echo written by a program in the prefix>>$(unix_path "$own")" \
        >/dev/null 2>&1 || true
    if [ "$(cat "$root/root-only.txt")" != "$before" ]; then
        echo "run: a program in the prefix wrote $root/root-only.txt, which only root may write" >&2
        exit 1
    fi
    if [ ! -s "$own" ]; then
        echo "run: the check could not write the run user's own file $own either; it proves nothing" >&2
        exit 1
    fi
    echo "=== checked: a program in the prefix runs as $(id -un) and cannot write a file only root may write"
fi

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
    # The user's own installs, in the view the 32-bit programs read.
    wine_run reg import 'C:\kelvra-demo.user.reg' /reg:32 >/dev/null 2>&1
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
                  ${as_run_user}$root/cmake/wine-run.sh $state $build/bin/kvscan.exe --data-dir 'C:\kvscan' --profile demo-pc --json -
                  and with the user's own installs beside the machine's:
                  ${as_run_user}$root/cmake/wine-run.sh $state $build/bin/kvscan.exe --data-dir 'C:\kvscan' --profile demo-pc --scope all --json -
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
