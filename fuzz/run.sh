#!/bin/bash
# Builds the libFuzzer targets (a native clang build with ASan and UBSan in
# build/fuzz) and runs them.
#
#   fuzz/run.sh SECONDS [TARGET...]
#
# SECONDS 0: every target runs each input of its corpus (fuzz/corpus/TARGET)
# once and stops; a finding that was once made and kept in the corpus fails
# again at once if it comes back. This is the step CI runs.
# SECONDS > 0: every target fuzzes for that long, starting from its corpus;
# new inputs go to build/fuzz/work/TARGET, findings to build/fuzz/findings/.
#
# Either way the inventory documents that the render target builds from its
# corpus are then read once more with Python's own XML package
# (fuzz/check_xml.py). A table of executions and findings goes to standard
# output and build/fuzz/summary.txt. The exit status is 1 when any target
# made a finding.
#
# KELVRA_FUZZ_JOBS=N runs N targets side by side (default 1);
# KELVRA_FUZZ_BUILD=DIR builds in DIR instead of build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
all_targets=(version_chain compare_versions nice_name render ini_file form_body
             pe_resource registry_text answer_text version_memory helper_answers)
targets=("${@:-${all_targets[@]}}")
jobs=${KELVRA_FUZZ_JOBS:-1}
build=${KELVRA_FUZZ_BUILD:-build/fuzz}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKELVRA_FUZZ=ON -DKELVRA_SANITIZE=ON -DKELVRA_BUILD_TESTS=OFF -DKELVRA_BUILD_BENCH=OFF \
    >/dev/null
cmake --build "$build" -- $(printf 'fuzz/fuzz_%s ' "${targets[@]}") >/dev/null

mkdir -p "$build/logs" "$build/findings" "$build/work"
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Executables are larger than the texts the other targets read.
max_len() { [ "$1" = pe_resource ] && echo 65536 || echo 4096; }

run_one() {
    local target=$1 exe="$build/fuzz/fuzz_$1" log="$build/logs/$1.log" status=0
    local corpus="fuzz/corpus/$target"
    rm -f "$build/logs/$target.status"
    if [ "$seconds" = 0 ]; then
        "$exe" -runs=0 -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len "$target")" \
            -print_final_stats=1 -artifact_prefix="$build/findings/$target-" "$corpus" >"$log" 2>&1 || status=$?
    else
        mkdir -p "$build/work/$target"
        "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len "$target")" \
            -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
            "$build/work/$target" "$corpus" >"$log" 2>&1 || status=$?
    fi
    echo "$status" >"$build/logs/$target.status"
}

running=0
for target in "${targets[@]}"; do
    run_one "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait

# Python's XML package on every document the render corpus gives.
xml_status=0
if printf '%s\n' "${targets[@]}" | grep -qx render; then
    dump="$build/xml"
    rm -rf "$dump" && mkdir -p "$dump"
    inputs=(fuzz/corpus/render)
    [ "$seconds" != 0 ] && inputs+=("$build/work/render")
    KELVRA_FUZZ_XML_DUMP="$dump" "$build/fuzz/fuzz_render" -runs=0 "${inputs[@]}" \
        >"$build/logs/render-xml.log" 2>&1 || xml_status=$?
    python3 fuzz/check_xml.py "$dump" || xml_status=1
fi

failed=0
summary="$build/summary.txt"
printf '%-18s %10s %14s %8s  %s\n' target seconds executions corpus result >"$summary"
for target in "${targets[@]}"; do
    log="$build/logs/$target.log"
    status=$(cat "$build/logs/$target.status" 2>/dev/null || echo missing)
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    corpus=$(ls "fuzz/corpus/$target" | wc -l)
    [ "$seconds" != 0 ] && corpus=$((corpus + $(ls "$build/work/$target" | wc -l)))
    result="no finding"
    if [ "$status" != 0 ]; then
        result="FINDING (see $log)"
        failed=1
    fi
    printf '%-18s %10s %14s %8s  %s\n' "$target" "$seconds" "${executions:-?}" "$corpus" "$result" >>"$summary"
done
if [ "$xml_status" != 0 ]; then
    echo "render documents: Python's XML check FAILED (see $build/logs/render-xml.log)" >>"$summary"
    failed=1
fi
cat "$summary"
exit "$failed"
