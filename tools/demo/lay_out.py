#!/usr/bin/env python3
"""Lays out the demo machine of scripts/run.sh in a Wine prefix.

    lay_out.py --drive-c PREFIX/drive_c --exes DIR --reg OUT [--user NAME]
    lay_out.py --list-exes

The machine is the table machine.json beside this script. The first form
places each entry's program files (built by the target kelvra_demo into
DIR) on the prefix's C: drive and writes the entries of each registry view
into OUT.32.reg and OUT.64.reg, for `wine reg import OUT.32.reg /reg:32`
and the same for 64. The user's own installs (view "user") go into
OUT.user.reg, for HKEY_CURRENT_USER, with their programs under the local
application data of the prefix's user NAME (default: who runs this; Wine
names the prefix's user after the Unix user). Each vendor's folder is laid out anew, so that what a
demo program lost (Sparrow Mail's uninstaller) stays lost however often it
runs. The second form lists the executables for the build, one a line:
id|fixed version with commas|FileVersion|ProductVersion|product|company.
"""

import argparse
import getpass
import json
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from regfile import USER_UNINSTALL_ROOT, write_reg  # noqa: E402

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "machine.json")


def load_machine():
    with open(TABLE, encoding="utf-8") as table:
        return json.load(table)


def host_path(drive_c, windows_path):
    assert windows_path[:3].upper() == "C:\\"
    return os.path.join(drive_c, *windows_path[3:].rstrip("\\").split("\\"))


LOCAL_APP_DATA = "%LOCALAPPDATA%"


def vendor_folder(path):
    """The folder a vendor's installer owns: C:\\Program Files\\Vendor, or
    %LOCALAPPDATA%\\Vendor or %LOCALAPPDATA%\\Programs\\Vendor for a user's own."""
    parts = path.split("\\")
    if parts[0] == LOCAL_APP_DATA and len(parts) > 2 and parts[1] == "Programs":
        return "\\".join(parts[:3])
    return "\\".join(parts[:2] if parts[0] == LOCAL_APP_DATA else parts[:3])


def lay_out(machine, drive_c, exes, user):
    """The registry views' keys, and how many executables were placed."""
    local = "C:\\users\\%s\\AppData\\Local" % user

    def expand(text):
        return text.replace(LOCAL_APP_DATA, local) if isinstance(text, str) else text

    entries = machine["entries"]
    vendor_folders = {vendor_folder(path) for entry in entries for path, _ in entry["files"]}
    for folder in sorted(vendor_folders):
        shutil.rmtree(host_path(drive_c, expand(folder)), ignore_errors=True)
    keys = {"32": [], "64": [], "user": []}
    placed = 0
    for entry in entries:
        keys[entry["view"]].append((entry["key"], [(name, kind, expand(data))
                                                   for name, kind, data in entry["values"]]))
        for path, exe_id in entry["files"]:
            target = host_path(drive_c, expand(path))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if not os.path.exists(target):
                source = os.path.join(exes, "demo_%s.exe" % exe_id)
                try:
                    os.link(source, target)
                except OSError:
                    shutil.copyfile(source, target)
            placed += 1
    return keys, placed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list-exes", action="store_true",
                        help="list the executables for the build and exit")
    parser.add_argument("--drive-c")
    parser.add_argument("--exes", help="folder of the demo's executables (target kelvra_demo)")
    parser.add_argument("--reg", help="registry files to write: REG.32.reg, REG.64.reg and REG.user.reg")
    parser.add_argument("--user", default=getpass.getuser(),
                        help="the prefix's user, whose own installs are laid out (default: who runs this)")
    args = parser.parse_args()
    machine = load_machine()
    if args.list_exes:
        for exe in machine["executables"]:
            print("|".join([exe["id"], exe["fixed"].replace(".", ","), exe["fileVersion"],
                            exe["productVersion"], exe["product"], exe["company"]]))
        return 0
    if not (args.drive_c and args.exes and args.reg):
        parser.error("give --drive-c, --exes and --reg, or --list-exes")
    keys, placed = lay_out(machine, args.drive_c, args.exes, args.user)
    for view in ("32", "64"):
        write_reg(keys[view], "%s.%s.reg" % (args.reg, view))
    write_reg(keys["user"], "%s.user.reg" % args.reg, USER_UNINSTALL_ROOT)
    print("demo: the demo machine, %d entries (%d of the user's own), %d executables"
          % (len(machine["entries"]), len(keys["user"]), placed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
