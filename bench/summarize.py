#!/usr/bin/env python3
"""Prints the benchmark's table from the "name value" files of its runs.

    summarize.py RESULTS_DIR N [N ...]

RESULTS_DIR holds kvscan-N-i.stats (kvscan --timings plus "wall" and "file"
lines), baseline-N-i.stats and direct-N-i.stats (kvbaseline --stats, and with
--direct, plus "wall"), before-N-i.stats (an earlier kvscan, when measured)
system-N.stats (kvscan through the system's version calls, once, with
"same_files"), listing-N-i.stats (kvbaseline --listing), incremental-N-i.stats
(kvscan --incremental), and kvscan-changed-N-i.stats,
incremental-changed-N-i.stats and system-changed-N.stats, the same after
about 2 % of the executables changed; beforeinc-N-i.stats (the earlier
kvscan --incremental, with the reads it remembered itself), and
needsys-N-i.stats and system-needsys-N.stats, kvscan full and through the
system's version calls on the machine where some executables need the
system's reader (bench.sh --needs-system).
"""

import glob
import os
import statistics
import sys

STAGES = ["registry", "folders", "version_resources", "analysis", "rendering", "writing", "other"]
MIB = 1024.0 * 1024.0


def read_stats(path):
    values = {}
    files = {}
    with open(path) as stats:
        for line in stats:
            parts = line.split()
            if len(parts) == 3 and parts[0] == "file":
                files[parts[1]] = int(parts[2])
            elif len(parts) == 2:
                values[parts[0]] = float(parts[1])
    values["files"] = files
    return values


def runs(results, program, n):
    paths = sorted(glob.glob(os.path.join(results, "%s-%s-*.stats" % (program, n))))
    return [read_stats(path) for path in paths]


def median(runs_, key):
    values = [run[key] for run in runs_ if key in run]
    return statistics.median(values) if values else float("nan")


def within_rounds(numerator, denominator):
    """Median and range of the ratio of wall times of runs of the same round."""
    ratios = [a["wall"] / b["wall"] for a, b in zip(numerator, denominator) if "wall" in a and "wall" in b]
    if not ratios:
        return "-"
    return "%.3f (%.3f-%.3f)" % (statistics.median(ratios), min(ratios), max(ratios))


def print_rounds(results, sizes):
    """The programs of each round side by side: kvscan, the baseline through
    the system's version calls, the baseline that reads the version bytes
    directly, and an earlier kvscan when one was measured."""
    print()
    print("%7s %9s %9s %9s %9s %22s %22s %22s %9s %9s" % (
        "N", "kvscan s", "base s", "direct s", "before s", "kvscan/base (range)",
        "kvscan/direct (range)", "before/base (range)", "peak MiB", "before"))
    for n in sizes:
        kvscan, baseline = runs(results, "kvscan", n), runs(results, "baseline", n)
        direct, before = runs(results, "direct", n), runs(results, "before", n)
        if not kvscan or not baseline:
            continue
        print("%7s %9.2f %9.2f %9.2f %9.2f %22s %22s %22s %9.1f %9.1f" % (
            n, median(kvscan, "wall"), median(baseline, "wall"), median(direct, "wall"),
            median(before, "wall"), within_rounds(kvscan, baseline), within_rounds(kvscan, direct),
            within_rounds(before, baseline),
            max(run.get("peak_working_set_bytes", 0) for run in kvscan) / MIB,
            max([run.get("peak_working_set_bytes", 0) for run in before] or [float("nan")]) / MIB))
    print("  before: an earlier kvscan.exe in the same rounds; peak MiB: peak working sets.")
    for n in sizes:
        system = os.path.join(results, "system-%s.stats" % n)
        if os.path.exists(system):
            stats = read_stats(system)
            print("%7s kvscan through the system's version calls, once: %.2f s, peak %.1f MiB; "
                  "files byte for byte the same: %s%s" % (
                      n, stats.get("wall", float("nan")), stats.get("peak_working_set_bytes", 0) / MIB,
                      "yes" if stats.get("same_files") == 1 else "NO",
                      "" if "same_files_before" not in stats else
                      ", also as the earlier kvscan's: %s" % ("yes" if stats["same_files_before"] == 1 else "NO")))


def print_against(results, sizes):
    """The ratios the work on the system's reader is judged by, within rounds
    and whichever programs were left out: kvscan against the direct baseline
    and the earlier build, the hourly run against the earlier build's."""
    print()
    print("Within rounds (median and range):")
    print("%7s %22s %22s %22s %22s" % ("N", "kvscan/direct", "kvscan/before", "incr/before incr",
                                        "incr/listing"))
    for n in sizes:
        kvscan = runs(results, "kvscan", n)
        if not kvscan:
            continue
        print("%7s %22s %22s %22s %22s" % (
            n, within_rounds(kvscan, runs(results, "direct", n)),
            within_rounds(kvscan, runs(results, "before", n)),
            within_rounds(runs(results, "incremental", n), runs(results, "beforeinc", n)),
            within_rounds(runs(results, "incremental", n), runs(results, "listing", n))))
    print("%7s %40s" % ("N", "helper starts, max: full/incr/2% full/2% incr"))
    for n in sizes:
        groups = [runs(results, name, n) for name in
                  ("kvscan", "incremental", "kvscan-changed", "incremental-changed")]
        if not groups[0]:
            continue
        print("%7s %40s" % (n, "/".join(
            "%d" % max([r.get("count.helper_starts", 0) for r in g] or [0]) for g in groups)))


def helper_cost(system, ordinary):
    """Milliseconds per question to the helper: the version stage's extra time
    on the machine that needs the system over the ordinary machine's in the
    same round, divided by the questions asked (one start-up included)."""
    costs = [1000.0 * (a["stage.version_resources"] - b["stage.version_resources"]) /
             a["count.helper_questions"]
             for a, b in zip(system, ordinary)
             if a.get("count.helper_questions") and "stage.version_resources" in b]
    if not costs:
        return "-"
    return "%.1f (%.1f-%.1f)" % (statistics.median(costs), min(costs), max(costs))


def print_needs_system(results, sizes):
    """The machine where some executables need the system's reader
    (bench.sh --needs-system) beside the ordinary machine of the same rounds."""
    if not any(runs(results, "needsys", n) for n in sizes):
        return
    print()
    print("The machine whose executables partly need the system's reader, and the ordinary one:")
    print("%7s %-9s %8s %9s %7s %8s %7s %8s %7s %20s %18s" % (
        "N", "machine", "reads", "questions", "starts", "wall s", "CPU s", "version", "gap ms",
        "system/ordinary", "ms per question"))
    for n in sizes:
        system, ordinary = runs(results, "needsys", n), runs(results, "kvscan", n)
        if not system:
            continue
        for name, group in (("ordinary", ordinary), ("system", system)):
            print("%7s %-9s %8d %9d %7d %8.2f %7.2f %8.3f %7.1f %20s %18s" % (
                n, name, median(group, "count.version_reads"),
                median(group, "count.helper_questions"),
                max(r.get("count.helper_starts", 0) for r in group),
                median(group, "wall"), median(group, "cpu"), median(group, "stage.version_resources"),
                1000.0 * max(r.get("longest_gap_seconds", 0) for r in group),
                within_rounds(system, ordinary) if name == "system" else "",
                helper_cost(system, ordinary) if name == "system" else ""))
        worst = max(system, key=lambda run: run.get("longest_gap_seconds", 0))
        print("%7s longest gap on that machine by stage (ms): %s" % (n, ", ".join(
            "%s %.1f" % (stage, 1000.0 * worst.get("longest_gap." + stage, 0)) for stage in STAGES
            if worst.get("longest_gap." + stage, 0) > 0)))
        yardstick = os.path.join(results, "system-needsys-%s.stats" % n)
        if os.path.exists(yardstick):
            stats = read_stats(yardstick)
            print("%7s every block through the helper, once: %.2f s (version stage %.3f s, "
                  "%d questions, %d starts); files the same as those of the system's reads: %s, "
                  "as the ordinary machine's: %s" % (
                      n, stats.get("wall", float("nan")), stats.get("stage.version_resources", 0),
                      stats.get("count.helper_questions", 0), stats.get("count.helper_starts", 0),
                      "yes" if stats.get("same_files") == 1 else "NO",
                      "yes" if stats.get("same_files_ordinary") == 1 else "NO"))
    print("  questions: files whose version block the helper read; CPU s: the process's and its")
    print("  wineserver's (the helper's perhaps not: not checked); ms per question: the version")
    print("  stage's extra time over the ordinary machine's in the same round, per question (the")
    print("  helper's start-up included); gap ms: the longest stretch without serving messages.")


def opened(run):
    """Executables opened: those read, not remembered."""
    return run.get("count.version_reads", 0)


def print_incremental(results, sizes):
    """The hourly run: the version reads remembered between runs."""
    print()
    print("Version reads remembered (kvscan --incremental), ratios within rounds:")
    print("%7s %8s %8s %8s %20s %20s %8s %8s %20s %20s" % (
        "N", "full s", "incr s", "list s", "incr/full", "incr/listing", "2% full", "2% incr",
        "2%: incr/full", "full/before"))
    for n in sizes:
        full, incremental = runs(results, "kvscan", n), runs(results, "incremental", n)
        listing, before = runs(results, "listing", n), runs(results, "before", n)
        changed_full = runs(results, "kvscan-changed", n)
        changed_incremental = runs(results, "incremental-changed", n)
        if not full or not incremental:
            continue
        print("%7s %8.2f %8.2f %8.2f %20s %20s %8.2f %8.2f %20s %20s" % (
            n, median(full, "wall"), median(incremental, "wall"), median(listing, "wall"),
            within_rounds(incremental, full), within_rounds(incremental, listing),
            median(changed_full, "wall"), median(changed_incremental, "wall"),
            within_rounds(changed_incremental, changed_full), within_rounds(full, before)))
    print("%7s %26s %26s %30s" % ("N", "peak MiB full/incr/2% incr", "gap ms full/incr/2% incr",
                                   "executables opened full/incr/2%"))
    for n in sizes:
        groups = [runs(results, "kvscan", n), runs(results, "incremental", n),
                  runs(results, "incremental-changed", n)]
        if not groups[0] or not groups[1]:
            continue
        peaks = "/".join("%.1f" % (max([r.get("peak_working_set_bytes", 0) for r in g] or [0]) / MIB)
                         for g in groups)
        gaps = "/".join("%.1f" % (1000.0 * max([r.get("longest_gap_seconds", 0) for r in g] or [0]))
                        for g in groups)
        opens = "/".join("%d" % statistics.median([opened(r) for r in g] or [0]) for g in groups)
        print("%7s %26s %26s %30s" % (n, peaks, gaps, opens))
        changed = os.path.join(results, "system-changed-%s.stats" % n)
        if os.path.exists(changed):
            print("%7s after the change: full, incremental and the system's version reads give the "
                  "same files: %s" % (n, "yes" if read_stats(changed).get("same_files") == 1 else "NO"))


def main():
    results, sizes = sys.argv[1], sys.argv[2:]
    rows = []
    for n in sizes:
        kvscan, baseline = runs(results, "kvscan", n), runs(results, "baseline", n)
        if not kvscan or not baseline:
            continue  # without the baseline: only the tables below
        row = {
            "n": int(n),
            "runs": min(len(kvscan), len(baseline)),
            "kv_wall": median(kvscan, "wall"),
            "base_wall": median(baseline, "wall"),
            "kv_run": median(kvscan, "total_seconds"),
            "base_run": median(baseline, "total_seconds"),
            "kv_peak": max(run.get("peak_working_set_bytes", 0) for run in kvscan),
            "kv_private": max(run.get("peak_pagefile_bytes", 0) for run in kvscan),
            "base_peak": max(run.get("peak_working_set_bytes", 0) for run in baseline),
            "base_private": max(run.get("peak_pagefile_bytes", 0) for run in baseline),
            "gap": max(run.get("longest_gap_seconds", 0) for run in kvscan),
            "pumps": median(kvscan, "pumps"),
            "stages": {stage: median(kvscan, "stage." + stage) for stage in STAGES},
            "entries": median(kvscan, "count.entries"),
            "reads": median(kvscan, "count.version_reads"),
            "base_reads": median(baseline, "count.version_reads"),
            "files": kvscan[-1]["files"],
            "memory": {name: max(run.get("memory." + name, 0) for run in kvscan)
                       for name in ("read", "rendered", "written")},
        }
        # Each round runs both programs back to back, so the ratio within a
        # round is spared most of the drift of a machine shared with others.
        row["kv_cpu"] = median(kvscan, "cpu")
        row["base_cpu"] = median(baseline, "cpu")
        paired = [k["wall"] / b["wall"] for k, b in zip(kvscan, baseline) if "wall" in k and "wall" in b]
        row["paired"] = statistics.median(paired) if paired else float("nan")
        row["paired_range"] = (min(paired), max(paired)) if paired else (float("nan"),) * 2
        worst = max(kvscan, key=lambda run: run.get("longest_gap_seconds", 0))
        row["gap_stages"] = {stage: worst.get("longest_gap." + stage, 0) for stage in STAGES}
        rows.append(row)

    if not rows:
        print_rounds(results, sizes)
        print_incremental(results, sizes)
        print_against(results, sizes)
        print_needs_system(results, sizes)
        return 0
    print()
    print("%7s %5s %11s %11s %6s %11s %11s %6s %9s %9s %9s" % (
        "N", "runs", "kvscan s", "baseline s", "ratio", "kv run s", "base run s", "ratio",
        "ms/entry", "peak MiB", "gap ms"))
    for row in rows:
        print("%7d %5d %11.2f %11.2f %6.3f %11.2f %11.2f %6.3f %9.3f %9.1f %9.1f" % (
            row["n"], row["runs"], row["kv_wall"], row["base_wall"], row["kv_wall"] / row["base_wall"],
            row["kv_run"], row["base_run"], row["kv_run"] / row["base_run"],
            1000.0 * row["kv_wall"] / row["n"], row["kv_peak"] / MIB, 1000.0 * row["gap"]))
    for row in rows:
        print("%7d ratio within each round: median %.3f (%.3f to %.3f); CPU: kvscan %.2f s, baseline %.2f s, ratio %.3f" % (
            row["n"], row["paired"], row["paired_range"][0], row["paired_range"][1], row["kv_cpu"],
            row["base_cpu"], row["kv_cpu"] / row["base_cpu"] if row["base_cpu"] else float("nan")))
    print("  kvscan s, baseline s: median wall time of the process under Wine; kv run s, base run s:")
    print("  median time of the work inside the process (RunInventory; the baseline's reads);")
    print("  peak MiB: kvscan's peak working set; gap ms: longest stretch without serving messages.")

    print()
    print("kvscan's time by stage (median seconds), and what filled its longest gap (ms):")
    print("%7s " % "N" + " ".join("%17s" % stage for stage in STAGES))
    for row in rows:
        print("%7d " % row["n"] + " ".join("%17.3f" % row["stages"][stage] for stage in STAGES))
    for row in rows:
        print("%7s " % ("gap %d" % row["n"]) + " ".join("%17.1f" % (1000.0 * row["gap_stages"][stage])
                                                      for stage in STAGES))

    print()
    print("%7s %9s %12s %12s %8s %22s %22s" % ("N", "entries", "exe reads", "base reads", "pumps",
                                                "kvscan peak/private", "baseline peak/private"))
    for row in rows:
        print("%7d %9d %12d %12d %8d %14.1f/%5.1f MiB %14.1f/%5.1f MiB" % (
            row["n"], row["entries"], row["reads"], row["base_reads"], row["pumps"],
            row["kv_peak"] / MIB, row["kv_private"] / MIB, row["base_peak"] / MIB,
            row["base_private"] / MIB))
        if row["reads"] != row["base_reads"]:
            print("        the two programs read different numbers of executables: compare their rules")
    for row in rows:
        print("%7d working set after reading %.1f MiB, after rendering %.1f MiB, after writing %.1f MiB" % (
            row["n"], row["memory"]["read"] / MIB, row["memory"]["rendered"] / MIB,
            row["memory"]["written"] / MIB))
    for row in rows:
        sizes_ = ", ".join("%s %.1f MiB" % (name, size / MIB) for name, size in sorted(row["files"].items()))
        print("%7d files: %s" % (row["n"], sizes_))

    runfiles = sorted(glob.glob(os.path.join(results, "runfiles-*.stats")),
                      key=lambda path: int(path.rsplit("-", 1)[1].split(".")[0]))
    if runfiles:
        print()
        print("run-file sets already in the data folder (N = %s): kvscan's writing stage" % sizes[0])
        for path in runfiles:
            stats = read_stats(path)
            print("%7d sets before, %4d after: writing %.1f ms, run %.2f s" % (
                stats.get("sets", 0), stats.get("left", 0), 1000.0 * stats.get("stage.writing", 0),
                stats.get("total_seconds", 0)))

    print_rounds(results, sizes)
    print_incremental(results, sizes)
    print_against(results, sizes)
    print_needs_system(results, sizes)

    if len(rows) > 1:
        first, last = rows[0], rows[-1]
        def per_entry(row, key):
            return row[key] / row["n"]
        print()
        print("time per entry at N = %d over N = %d: wall %.3f, inside the run %.3f" % (
            last["n"], first["n"], per_entry(last, "kv_wall") / per_entry(first, "kv_wall"),
            per_entry(last, "kv_run") / per_entry(first, "kv_run")))
        print("the same in CPU seconds: kvscan %.3f, baseline %.3f" % (
            per_entry(last, "kv_cpu") / per_entry(first, "kv_cpu"),
            per_entry(last, "base_cpu") / per_entry(first, "base_cpu")))
        print("the same for the baseline: wall %.3f, inside the process %.3f" % (
            per_entry(last, "base_wall") / per_entry(first, "base_wall"),
            per_entry(last, "base_run") / per_entry(first, "base_run")))
        print("kvscan's time per executable read, inside the run: %.3f; baseline's: %.3f" % (
            (last["kv_run"] / last["reads"]) / (first["kv_run"] / first["reads"]),
            (last["base_run"] / last["base_reads"]) / (first["base_run"] / first["base_reads"])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
