#!/bin/bash
# The inventory benchmark in one command; docs/performance.md explains the
# figures. For each machine size N it lays out a synthetic machine in a Wine
# prefix of its own (build/bench/wine-N, kept between runs), runs kvscan.exe
# (a full read), kvscan.exe --incremental (the hourly run: the version reads
# remembered by a run on the same machine), kvbaseline.exe (the reads no
# inventory can avoid, through the system's version calls), kvbaseline.exe
# --direct (the same with the version bytes read straight from the files) and
# kvbaseline.exe --listing (no version reads: the keys and the folder
# listings) in rounds. Then it changes about 2 % of the executables
# (bench/kvchange.py) and runs kvscan full and incremental, with the reads
# remembered before the change, in rounds again, and puts the machine back.
# It prints the median wall times, their ratios within rounds, kvscan's peak
# memory, its time by stage and the longest stretch without serving window
# messages. Once per machine and state it also runs kvscan with every version
# block read through the system's calls, and compares its three files byte
# for byte with those of the measured full and incremental runs. Then it
# runs the native micro-benchmark of the analysis.
#
#   scripts/bench.sh                    N = 300, 3000 and 10000
#   scripts/bench.sh --sizes "300 3000" only these sizes
#   scripts/bench.sh --runs 5           runs per program and size (default:
#                                       7 at N <= 300, 5 at N <= 3000, else 3)
#   scripts/bench.sh --smoke            N = 300 once and a short micro-benchmark:
#                                       checks that it all works, no figures to read
#   --win32-build DIR --native-build DIR
#                                       take the programs from these build folders
#                                       instead of configuring build/bench/win32
#                                       (Release) and build/bench/native (Release,
#                                       no sanitizers)
#   --no-micro                          skip the micro-benchmark
#   --programs "kvscan listing ..."     the programs of a round (default: kvscan
#                                       baseline direct listing incremental)
#   --before EXE                        also run this kvscan.exe (an earlier
#                                       build) in every round, full and
#                                       incremental (with reads it remembered
#                                       itself), for a before and after from
#                                       the same rounds
#   --needs-system P                    also lay out each machine a second time
#                                       in a prefix of its own
#                                       (build/bench/wine-N-needs-system-P-LAYOUT),
#                                       with about P % of its executables laid
#                                       out so that only the system's version
#                                       reader reads them (kvgen.py
#                                       --needs-system), and
#                                       run kvscan on it in every round; its
#                                       files are compared byte for byte with
#                                       those of the system's reads on it and
#                                       with the ordinary machine's
#   --needs-system-layout flat|languages
#                                       how those executables need the system:
#                                       flat images (alignment 0x200, the
#                                       default) or a version resource under
#                                       two languages
# Timings are figures to read: nothing here fails because a run was slow.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

sizes="300 3000 10000"
runs=""
smoke=0
micro=1
win32_build=""
native_build=""
before=""
programs="kvscan baseline direct listing incremental"
needs_system=""
needs_system_layout=flat
while [ $# -gt 0 ]; do
  case "$1" in
    --sizes) sizes=$2; shift ;;
    --runs) runs=$2; shift ;;
    --smoke) smoke=1; sizes=300; runs=1 ;;
    --win32-build) win32_build=$2; shift ;;
    --native-build) native_build=$2; shift ;;
    --no-micro) micro=0 ;;
    --programs) programs=$2; shift ;;
    --before) before=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift ;;
    --needs-system) needs_system=$2; shift ;;
    --needs-system-layout) needs_system_layout=$2; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

bench_dir=$root/build/bench
mkdir -p "$bench_dir"
results=$bench_dir/results
rm -rf "$results"
mkdir -p "$results"

# ---- builds --------------------------------------------------------------------
if [ -z "$win32_build" ]; then
  win32_build=$bench_dir/win32
  cmake --preset win32 -B "$win32_build" -DKELVRA_BUILD_TESTS=OFF -DKELVRA_BUILD_BENCH=ON >/dev/null
  cmake --build "$win32_build" --target kelvra_bench >/dev/null
fi
if [ "$micro" = 1 ] && [ -z "$native_build" ]; then
  native_build=$bench_dir/native
  cmake -S . -B "$native_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVRA_SANITIZE=OFF \
    -DKELVRA_BUILD_TESTS=OFF -DKELVRA_BUILD_BENCH=ON >/dev/null
  cmake --build "$native_build" --target kelvra_bench >/dev/null
fi
win32_build=$(cd "$win32_build" && pwd)
kvscan=$win32_build/bin/kvscan.exe
baseline=$win32_build/bin/kvbaseline.exe
exes=$win32_build/bench/exe
for file in "$kvscan" "$baseline" "$exes"; do
  [ -e "$file" ] || { echo "bench: $file is missing; build the target kelvra_bench" >&2; exit 1; }
done

# ---- Wine --------------------------------------------------------------------------
wine_run=$root/cmake/wine-run.sh
active_state=""
# The prefix of the machine whose executables partly need the system's reader
# (--needs-system), and, while a program runs on it, the prefix of that run.
system_state=""
run_state=""
stop_wine() {
  if [ -n "$active_state" ]; then
    change_machine --undo || true
    "$wine_run" "$active_state" --stop || true
  fi
  if [ -n "$system_state" ]; then
    "$wine_run" "$system_state" --stop || true
  fi
  active_state=""
  system_state=""
}
trap stop_wine EXIT

# Windows paths of the host's files: Wine shows the root as drive Z:.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# Runs a Windows program in the active prefix, straight through wine so that
# the wrapper's start-up checks stay out of the measured time.
wine_in() {
  local state=${run_state:-$active_state}
  WINEPREFIX=$state/prefix WINEDEBUG=-all TMPDIR=$state/tmp WINEARCH=win64 \
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" wine "$@"
}

# Lays out the machine of N entries in the prefix of STATE unless the prefix
# holds it already; further arguments go to kvgen.py.
prepare_machine() {
  local n=$1
  active_state=$2
  shift 2
  mkdir -p "$active_state"
  "$wine_run" "$active_state" cmd.exe /c rem </dev/null >/dev/null 2>&1  # prefix and server
  local stamp=$active_state/machine.stamp
  python3 "$root/bench/kvgen.py" --entries "$n" --drive-c "$active_state/prefix/drive_c" \
    --exes "$exes" --reg "$active_state/machine" --stamp "$stamp" "$@"
  if [ -f "$stamp.pending" ]; then
    # A journal of changes belongs to the machine just replaced.
    rm -f "$active_state/changes.json"
    local key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
    for view in 32 64; do
      wine_in reg delete "$key" /reg:$view /f </dev/null >/dev/null 2>&1 || true
      wine_in reg import "$(winpath "$active_state/machine.$view.reg")" /reg:$view </dev/null >/dev/null 2>&1
    done
    mv "$stamp.pending" "$stamp"
  fi
}

now() { printf '%s' "$EPOCHREALTIME"; }

# CPU seconds spent so far by this script's finished children and by the
# prefix's wineserver (found by its working folder, which is the server's
# socket folder under the prefix's TMPDIR). A machine shared with others
# stretches wall times a lot; the CPU a run costs it much less.
ticks=$(getconf CLK_TCK)
server_pid=""
find_server() {
  server_pid=""
  local proc cwd state=${run_state:-$active_state}
  for proc in /proc/[0-9]*; do
    cwd=$(readlink "$proc/cwd" 2>/dev/null) || continue
    case "$cwd" in "$state"/tmp/.wine-*/server-*) server_pid=${proc#/proc/}; return ;; esac
  done
}
cpu_now() {
  local children server=0
  children=$(awk '{ print $16 + $17 }' /proc/$$/stat)
  if [ -n "$server_pid" ] && [ -r "/proc/$server_pid/stat" ]; then
    server=$(sed 's/.*) //' "/proc/$server_pid/stat" | awk '{ print $12 + $13 }')
  fi
  echo "$children $server" | awk -v t="$ticks" '{ printf "%.2f", ($1 + $2) / t }'
}

# One run of the baseline (with --direct or --listing when given); appends
# "wall <seconds>" and "cpu <seconds>" to its results file.
run_baseline() {
  local out=$1
  shift
  local start end cpu_start cpu_end
  cpu_start=$(cpu_now)
  start=$(now)
  wine_in "$baseline" "$@" --stats "$(winpath "$out.stats")" </dev/null >/dev/null 2>"$out.err"
  end=$(now)
  cpu_end=$(cpu_now)
  echo "$start $end $cpu_start $cpu_end" | awk '{ printf "wall %.6f\ncpu %.2f\n", $2 - $1, $4 - $3 }' >>"$out.stats"
}

# One run of a kvscan.exe (default: the one built here) with --timings into
# its own empty data folder, which the next run of that data folder replaces.
run_kvscan() {
  local out=$1 exe=${2:-$kvscan} folder=${3:-benchdata}
  shift $(( $# < 3 ? $# : 3 ))
  local data=${run_state:-$active_state}/prefix/drive_c/$folder
  rm -rf "$data"  # every run starts with an empty data folder (the run-file sets are measured apart)
  if [ -n "$seed_cache" ]; then  # but for the version reads remembered, when given
    mkdir -p "$data"
    cp "$seed_cache" "$data/$cache_name"
  fi
  local start end cpu_start cpu_end
  cpu_start=$(cpu_now)
  start=$(now)
  wine_in "$exe" --data-dir "C:\\$folder" --profile bench --timings "$(winpath "$out.stats")" "$@" \
    </dev/null >"$out.out" 2>"$out.err"
  end=$(now)
  cpu_end=$(cpu_now)
  echo "$start $end $cpu_start $cpu_end" | awk '{ printf "wall %.6f\ncpu %.2f\n", $2 - $1, $4 - $3 }' >>"$out.stats"
  ls -l "$data" | awk '/dump_bench_0/ { printf "file %s %s\n", $9, $5 }' >>"$out.stats"
}

run_before() { run_kvscan "$1" "$before" benchbefore; }

# One run of this build's kvscan on the machine whose executables partly
# need the system's reader (--needs-system), in that machine's prefix. Its
# server is started (again, when it stopped while the other prefix ran)
# before the measured run, as the other prefix's is by the run before.
run_on_system_machine() {
  local out=$1 folder=${2:-benchdata} ordinary_server=$server_pid
  shift $(( $# < 2 ? $# : 2 ))
  run_state=$system_state
  "$wine_run" "$system_state" cmd.exe /c rem </dev/null >/dev/null 2>&1
  find_server
  run_kvscan "$out" "$kvscan" "$folder" "$@"
  run_state=""
  server_pid=$ordinary_server
}

# The hourly run: kvscan --incremental with the version reads remembered by
# a run on the unchanged machine.
cache_name=version-reads.cache
seed_cache=""
run_incremental() {
  seed_cache=$active_state/cache.unchanged
  run_kvscan "$1" "$kvscan" benchinc --incremental
  seed_cache=""
}
# The same with the earlier build (--before), with the reads that it
# remembered itself.
run_before_incremental() {
  seed_cache=$active_state/cache.before
  run_kvscan "$1" "$before" benchbeforeinc --incremental
  seed_cache=""
}

# Whether the three files of two data folders are byte for byte the same
# (folders of the active prefix, or STATE:folder for another prefix's).
same_files() {
  local ext first second
  first=$active_state/prefix/drive_c/$1
  second=$active_state/prefix/drive_c/$2
  case "$1" in *:*) first=${1%%:*}/prefix/drive_c/${1#*:} ;; esac
  case "$2" in *:*) second=${2%%:*}/prefix/drive_c/${2#*:} ;; esac
  for ext in txt xml html; do
    cmp -s "$first/dump_bench_0.$ext" "$second/dump_bench_0.$ext" || return 1
  done
}

# The rounds of a list of programs, the order turned every other round.
run_rounds() {
  local n=$1 count=$2 programs=$3 suffix=${4:-} i order program
  for i in $(seq 1 "$count"); do
    order=$programs
    [ $((i % 2)) = 0 ] && order=$(echo $programs | tr ' ' '\n' | tac | tr '\n' ' ')
    for program in $order; do
      case $program in
        kvscan) run_kvscan "$results/kvscan$suffix-$n-$i" ;;
        incremental) run_incremental "$results/incremental$suffix-$n-$i" ;;
        baseline) run_baseline "$results/baseline-$n-$i" ;;
        direct) run_baseline "$results/direct-$n-$i" --direct ;;
        listing) run_baseline "$results/listing-$n-$i" --listing ;;
        before) run_before "$results/before-$n-$i" ;;
        beforeinc) run_before_incremental "$results/beforeinc-$n-$i" ;;
        needsys) run_on_system_machine "$results/needsys-$n-$i" ;;
      esac
    done
  done
}

# About 2 % of the executables changed, and put back (also when the script
# stops early, so that the machine in the prefix stays kvgen.py's).
change_machine() {
  python3 "$root/bench/kvchange.py" --drive-c "$active_state/prefix/drive_c" --exes "$exes" \
    --journal "$active_state/changes.json" "$@"
}

# The programs of one round, in this order on odd rounds and in the reverse
# order on even ones, so that drifts of the machine's load touch all alike.
[ -n "$before" ] && programs="$programs before"
[ -n "$before" ] && case " $programs " in *" incremental "*) programs="$programs beforeinc" ;; esac
[ -n "$needs_system" ] && programs="$programs needsys"

differing=""
uptime_before=$(uptime)
for n in $sizes; do
  count=$runs
  if [ -z "$count" ]; then
    if [ "$n" -le 300 ]; then count=7; elif [ "$n" -le 3000 ]; then count=5; else count=3; fi
  fi
  if [ -n "$needs_system" ]; then
    echo "=== N = $n: machine with $needs_system % of its executables for the system's reader ($needs_system_layout)"
    system_state=$bench_dir/wine-$n-needs-system-$needs_system-$needs_system_layout
    prepare_machine "$n" "$system_state" --needs-system "$needs_system" \
      --layout "$needs_system_layout" --variants "$system_state/variants"
  fi
  echo "=== N = $n: machine"
  prepare_machine "$n" "$bench_dir/wine-$n"
  change_machine --undo
  find_server
  if [ "$smoke" = 0 ] && [ "$n" -le 3000 ]; then
    run_baseline "$results/warmup" && run_kvscan "$results/warmup"  # caches warm, not counted
    [ -z "$needs_system" ] || run_on_system_machine "$results/warmup-needsys"
  fi
  if [ -n "$needs_system" ]; then
    # The yardstick on that machine: every version block through the system.
    run_on_system_machine "$results/system-needsys-$n" benchsystem --system-version-reads
  fi
  # The yardstick path once: every version block through the system's calls.
  # Its files are compared with those of the last measured kvscan run.
  run_kvscan "$results/system-$n" "$kvscan" benchsystem --system-version-reads
  # The version reads an hourly run remembers: those of a first run.
  run_kvscan "$results/primed-$n" "$kvscan" benchinc --incremental
  cp "$active_state/prefix/drive_c/benchinc/$cache_name" "$active_state/cache.unchanged"
  if [[ " $programs " == *" beforeinc "* ]]; then
    run_kvscan "$results/primed-before-$n" "$before" benchbeforeinc --incremental
    cp "$active_state/prefix/drive_c/benchbeforeinc/$cache_name" "$active_state/cache.before"
  fi
  if [ "$smoke" = 0 ] && [ "$n" = "$(echo $sizes | awk '{print $1}')" ]; then
    # The data folder as the tray leaves it after two days (48 sets kept) and
    # after years without retention (1000 sets): the writing stage grows with
    # the sets present, once, and never with their square.
    for sets in 0 48 1000; do
      data=$active_state/prefix/drive_c/benchdata
      rm -rf "$data"; mkdir -p "$data"
      for i in $(seq 0 $((sets - 1))); do
        for ext in txt xml html; do : >"$data/dump_bench_$i.$ext"; done
      done
      start=$(now)
      wine_in "$kvscan" --data-dir 'C:\benchdata' --profile bench \
        --timings "$(winpath "$results/runfiles-$sets.stats")" </dev/null >/dev/null 2>&1
      end=$(now)
      echo "$start $end" | awk '{ printf "wall %.6f\n", $2 - $1 }' >>"$results/runfiles-$sets.stats"
      printf 'sets %s\nleft %s\n' "$sets" "$(ls "$data" | grep -c '\.txt$')" >>"$results/runfiles-$sets.stats"
    done
  fi
  echo "=== N = $n: $count rounds of $programs"
  run_rounds "$n" "$count" "$programs"
  # The files of the last measured full run; when kvscan full was left out
  # of the rounds, those of the system's reads stand in (the data folder of
  # the full runs then holds the run-file sets' leftovers).
  full=benchdata
  [[ " $programs " == *" kvscan "* ]] || full=benchsystem
  same=1
  same_files "$full" benchsystem || same=0
  same_files "$full" benchinc || same=0
  echo "same_files $same" >>"$results/system-$n.stats"
  if [ -n "$before" ]; then
    same_files "$full" benchbefore || same=0
    echo "same_files_before $same" >>"$results/system-$n.stats"
  fi
  if [ -n "$needs_system" ]; then
    # The machine whose executables partly need the system: its full run
    # gives the files of the system's reads on it, and those of the ordinary
    # machine (the same entries and files, only laid out otherwise).
    system_same=1
    same_files "$system_state:benchdata" "$system_state:benchsystem" || system_same=0
    echo "same_files $system_same" >>"$results/system-needsys-$n.stats"
    ordinary_same=1
    same_files "$system_state:benchdata" "$full" || ordinary_same=0
    echo "same_files_ordinary $ordinary_same" >>"$results/system-needsys-$n.stats"
    [ "$system_same" = 1 ] && [ "$ordinary_same" = 1 ] || same=0
  fi

  # An hour later: about 2 % of the executables changed since the
  # remembered reads were taken.
  echo "=== N = $n: about 2 % of the executables changed, $count rounds of kvscan incremental"
  change_machine --apply | tee "$results/changed-$n.out"
  run_kvscan "$results/system-changed-$n" "$kvscan" benchsystem --system-version-reads
  run_rounds "$n" "$count" "kvscan incremental" -changed
  change_machine --undo
  changed_same=1
  same_files benchdata benchsystem || changed_same=0
  same_files benchdata benchinc || changed_same=0
  echo "same_files $changed_same" >>"$results/system-changed-$n.stats"
  if [ "$same" = 0 ] || [ "$changed_same" = 0 ]; then
    echo "bench: N = $n: kvscan's files differ between full, incremental and the system's version reads (or the earlier build's)" >&2
    differing="$differing $n"
  fi
  stop_wine
done
uptime_after=$(uptime)

python3 "$root/bench/summarize.py" "$results" $sizes
echo "load before: $uptime_before"
echo "load after:  $uptime_after"

if [ "$micro" = 1 ]; then
  echo "=== analysis micro-benchmark (native)"
  if [ "$smoke" = 1 ]; then
    "$native_build/bench/kvanalysis_bench" --benchmark_min_time=0.01 >/dev/null 2>&1
    echo "ran"
  else
    "$native_build/bench/kvanalysis_bench" --benchmark_min_time=0.5 2>&1 | tee "$results/micro.txt"
  fi
fi

# Timings never fail the benchmark; different output bytes do.
[ -z "$differing" ] || { echo "bench: output files differ at N =$differing" >&2; exit 1; }
