#!/usr/bin/env python3
"""Changes about 2 % of a benchmark machine's executables, and undoes it.

    kvchange.py --drive-c PREFIX/drive_c --exes DIR --journal FILE --apply [--share 0.02]
    kvchange.py --drive-c PREFIX/drive_c --exes DIR --journal FILE --undo

The executables of the machine that kvgen.py laid out are hard links to the
benchmark's own executables in DIR. --apply picks a share of them (a fixed
seed, so every run picks the same) and changes them the four ways an hour
of a real machine does: a quarter get a new last-write time with the same
bytes, a quarter are replaced by an executable of the same size (another one
where DIR has one, with a new time either way), a quarter are removed, and
as many new executables appear beside them. Every changed file becomes a
file of its own, so that no other link of the same executable changes with
it. The journal records what --undo needs to put the machine back as
kvgen.py left it.
"""

import argparse
import json
import os
import random
import shutil
import sys
import time


def machine_executables(drive_c):
    found = []
    for top in ("Program Files", "Program Files (x86)"):
        for folder, _, names in os.walk(os.path.join(drive_c, top)):
            for name in names:
                path = os.path.join(folder, name)
                if name.lower().endswith(".exe") and os.path.getsize(path) > 0:
                    found.append(path)
    return sorted(found)


def apply(args):
    sources = {}
    by_size = {}
    for name in sorted(os.listdir(args.exes)):
        path = os.path.join(args.exes, name)
        if name.endswith(".exe"):
            sources[os.stat(path).st_ino] = path
            by_size.setdefault(os.path.getsize(path), []).append(path)
    exes = [path for path in machine_executables(args.drive_c) if os.stat(path).st_ino in sources]
    rng = random.Random(args.seed)
    chosen = rng.sample(exes, max(4, int(len(exes) * args.share * 3 / 4)))
    journal = []
    later = time.time() + 3600
    for index, path in enumerate(chosen):
        source = sources[os.stat(path).st_ino]
        kind = ("touched", "replaced", "removed")[index % 3]
        journal.append({"path": path, "kind": kind, "source": source})
        os.remove(path)
        if kind == "touched":
            shutil.copyfile(source, path)
            os.utime(path, (later, later))
        elif kind == "replaced":
            others = [other for other in by_size[os.path.getsize(source)] if other != source]
            shutil.copyfile(rng.choice(others) if others else source, path)
            os.utime(path, (later, later))
        if index % 3 == 2:
            added = os.path.join(os.path.dirname(path), "added%04d.exe" % index)
            shutil.copyfile(rng.choice(sorted(sources.values())), added)
            journal.append({"path": added, "kind": "added", "source": None})
    with open(args.journal, "w") as out:
        json.dump(journal, out, indent=1)
    counts = {}
    for change in journal:
        counts[change["kind"]] = counts.get(change["kind"], 0) + 1
    print("kvchange: %d of %d executables: %s" % (
        len(journal), len(exes), ", ".join("%s %d" % item for item in sorted(counts.items()))))


def undo(args):
    if not os.path.exists(args.journal):
        return
    with open(args.journal) as source:
        journal = json.load(source)
    for change in journal:
        if os.path.lexists(change["path"]):
            os.remove(change["path"])
        if change["source"]:
            os.link(change["source"], change["path"])
    os.remove(args.journal)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--drive-c", required=True)
    parser.add_argument("--exes", required=True)
    parser.add_argument("--journal", required=True)
    parser.add_argument("--share", type=float, default=0.02)
    parser.add_argument("--seed", type=int, default=2026)
    what = parser.add_mutually_exclusive_group(required=True)
    what.add_argument("--apply", action="store_true")
    what.add_argument("--undo", action="store_true")
    args = parser.parse_args()
    if args.apply:
        undo(args)  # an interrupted benchmark may have left its changes
        apply(args)
    else:
        undo(args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
