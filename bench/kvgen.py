#!/usr/bin/env python3
"""Lays out a synthetic machine for the inventory benchmark in a Wine prefix.

    kvgen.py --entries N --drive-c PREFIX/drive_c --exes DIR --reg OUT [--seed S]

(The demo machine that scripts/run.sh shows a newcomer is tools/demo/.)

Writes the program folders into the prefix's C: drive and the uninstall
entries of each registry view into OUT.32.reg and OUT.64.reg; the caller
deletes the uninstall key in both views and imports them with
`wine reg import OUT.32.reg /reg:32` and the same for 64.
The same arguments always give the same machine.

The machine: N uninstall entries over both registry views (about two thirds
in the 32-bit one, a few in both), with the shapes of display names, install
locations, uninstall commands and icons that executable discovery tells
apart, and program folders of 0 to 30 executables (hard links to the
benchmark's executables of several sizes), some with a bin\\ folder.

With --needs-system P --variants DIR about P % of the files (chosen by their
paths, so that the machine is otherwise the same file for file) are instead
hard links to copies of the same executables, made in DIR, that the
inventory leaves to the system's reader, which reads the same block from
them. --layout flat (the default): section and file alignment 0x200, each
section's address its file offset (no ordinary image). --layout languages:
the version resource under a second language (German) naming the same
bytes (the system takes the US English one).
"""

import argparse
import hashlib
import json
import os
import random
import shutil
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from regfile import write_reg  # noqa: E402

GENERATOR_VERSION = 4

PROGRAM_FILES = {"32": r"C:\Program Files (x86)", "64": r"C:\Program Files"}
APPS_FOLDER = "Bench Apps"  # below each program files folder; removed on regeneration
TEMP_DIR_OTHER_CASE = r"c:\Users\Root\TEMP"  # Wine's temporary folder, C:\users\root\Temp
WINDOWS_DIR = r"C:\windows"

SYLLABLES = ["ac", "me", "zo", "ra", "tek", "vi", "on", "lu", "mi", "nor", "sta", "qua", "bel",
             "dra", "fen", "gor", "hal", "ist", "jun", "kal", "mon", "pex", "ros", "tur"]
PRODUCT_WORDS = ["Photo", "Studio", "Media", "Player", "Tools", "Suite", "Driver", "Audio",
                 "Netz", "Sync", "Cloud", "Pro", "Viewer", "Editor", "Backup", "Manager",
                 "Converter", "Reader", "Office", "Designer", "Server", "Client", "Runtime",
                 "Toolkit", "Scanner", "Browser", "Mail", "Notes", "Capture", "Maps",
                 "Café", "Müller", "Señor", "Bücher"]
VERSION_TEXTS = ["3.1.0", "3,1,0", "v2.0", "Release 3.0", "0.0.0.0", "12.0.31101", "2.5 beta",
                 "4.2", "1.0.0.0", "10.0.19041.1", "7", "2024.1", "1. 2. 3", "5.1 build 2600"]

MAIN_RESOURCES = ["bv_app", "bv_tool", "bv_twolang", "bench_fv_1234", "bench_fv_multi"]
HELPER_RESOURCES = ["bv_placeholder", "bv_tool", "bv_app", "bench_fv_otherlang",
                    "bench_fv_notrans", "bench_fv_none"]
PADS = [(0, 0.55), (65536, 0.30), (1048576, 0.12), (6291456, 0.03)]


def flat_image(data):
    """The same executable laid out flat, as only the system's reader reads it:
    section and file alignment 0x200 and every section's address equal to its
    file offset (Wine then maps the whole file at the image base, as Windows
    maps such an image). The bytes of every section stay where they were, so
    the file keeps its size and its version block; only the addresses in the
    headers, the data directories and the resource directory's data entries
    move. None when the file is not laid out as the benchmark's executables
    are (no raw data for a section, a section larger in memory than in the
    file, base relocations)."""
    data = bytearray(data)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        return None
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x10B:
        return None  # the benchmark's executables are 32-bit images
    table = optional + optional_size
    sections = []
    for index in range(count):
        at = table + 40 * index
        virtual_size, address, raw_size, raw_offset = struct.unpack_from("<IIII", data, at + 8)
        if raw_size == 0 or raw_offset % 0x200 or virtual_size > raw_size:
            return None
        sections.append((at, address, virtual_size, raw_offset, raw_size))
    directories = optional + 96
    if struct.unpack_from("<I", data, directories + 5 * 8)[0]:
        return None  # base relocations would need moving too

    def moved(address):
        for _, start, size, offset, raw in sections:
            if start <= address < start + max(size, raw):
                return address - start + offset
        raise ValueError("address 0x%X outside the sections" % address)

    struct.pack_into("<I", data, optional + 16, moved(struct.unpack_from("<I", data, optional + 16)[0]))
    for field in (20, 24):  # BaseOfCode, BaseOfData
        value = struct.unpack_from("<I", data, optional + field)[0]
        if value:
            struct.pack_into("<I", data, optional + field, moved(value))
    struct.pack_into("<II", data, optional + 32, 0x200, 0x200)  # section and file alignment
    last = sections[-1]
    struct.pack_into("<I", data, optional + 56, last[3] + last[4])  # SizeOfImage
    directory_count = struct.unpack_from("<I", data, optional + 92)[0]
    resources = None
    for index in range(min(directory_count, 16)):
        address, size = struct.unpack_from("<II", data, directories + 8 * index)
        if address and index != 4:  # the certificate table holds a file offset already
            struct.pack_into("<I", data, directories + 8 * index, moved(address))
            if index == 2:
                resources = moved(address)
    if resources is not None:
        def walk(directory, depth):
            named, ids = struct.unpack_from("<HH", data, resources + directory + 12)
            for entry in range(named + ids):
                target = struct.unpack_from("<I", data, resources + directory + 16 + 8 * entry + 4)[0]
                if target & 0x80000000:
                    if depth < 3:
                        walk(target & 0x7FFFFFFF, depth + 1)
                else:
                    at = resources + target
                    struct.pack_into("<I", data, at, moved(struct.unpack_from("<I", data, at)[0]))
        walk(0, 0)
    for at, _, _, offset, raw in sections:
        struct.pack_into("<II", data, at + 8, raw, offset)  # VirtualSize, VirtualAddress
    return bytes(data)


SECOND_LANGUAGE = 0x407  # German: the system takes the user's default, US English, first


def two_language_image(data):
    """The same executable with each resource under a second language too,
    both languages naming the same data: an ordinary image whose version
    resource has two languages, which the inventory leaves to the system's
    reader (it takes US English, the same block). The resource directory is
    written anew in the resource section's slack; None when it does not fit,
    a resource has a name instead of an id, or the section is not the last."""
    data = bytearray(data)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        return None
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x10B:
        return None
    directory = optional + 96 + 2 * 8
    rva, _ = struct.unpack_from("<II", data, directory)
    table = optional + optional_size
    section = None
    for index in range(count):
        at = table + 40 * index
        virtual_size, address, raw_size, raw_offset = struct.unpack_from("<IIII", data, at + 8)
        if address == rva:
            section = (at, virtual_size, raw_size, raw_offset, index == count - 1)
    if not rva or section is None or not section[4]:
        return None
    at, virtual_size, raw_size, base, _ = section

    def read_directory(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        if named:
            raise ValueError("named resource")
        return [struct.unpack_from("<II", data, base + offset + 16 + 8 * i) for i in range(ids)]

    try:
        tree = []  # [(type, [(name, [(language, (data rva, size, code page))])])]
        for type_id, names in read_directory(0):
            name_list = []
            for name_id, languages in read_directory(names & 0x7FFFFFFF):
                language_list = []
                for language, leaf in read_directory(languages & 0x7FFFFFFF):
                    language_list.append((language, struct.unpack_from("<III", data, base + leaf)))
                if not any(language == SECOND_LANGUAGE for language, _ in language_list):
                    language_list.append((SECOND_LANGUAGE, language_list[0][1]))
                name_list.append((name_id, sorted(language_list)))
            tree.append((type_id, name_list))
    except (ValueError, IndexError, struct.error):
        return None

    # Directories first, then the data entries, then the data, each piece
    # of data once (both languages name the same entry's bytes).
    sizes = lambda entries: 16 + 8 * len(entries)
    offset = sizes(tree)
    name_at, language_at = [], []
    for _, names in tree:
        name_at.append(offset)
        offset += sizes(names)
    for _, names in tree:
        language_at.append([])
        for _, languages in names:
            language_at[-1].append(offset)
            offset += sizes(languages)
    leaves = []  # distinct (rva, size, code page) in order
    for _, names in tree:
        for _, languages in names:
            for _, leaf in languages:
                if leaf not in leaves:
                    leaves.append(leaf)
    leaf_at = {leaf: offset + 16 * i for i, leaf in enumerate(leaves)}
    offset += 16 * len(leaves)
    blob_at = {}
    for leaf in leaves:
        offset = (offset + 7) & ~7
        blob_at[leaf] = offset
        offset += leaf[1]
    if offset > raw_size:
        return None
    out = bytearray(raw_size)

    def write_directory(where, entries):
        struct.pack_into("<IIHHHH", out, where, 0, 0, 0, 0, 0, len(entries))
        for i, (key, value) in enumerate(entries):
            struct.pack_into("<II", out, where + 16 + 8 * i, key, value)

    write_directory(0, [(type_id, 0x80000000 | name_at[t]) for t, (type_id, _) in enumerate(tree)])
    for t, (_, names) in enumerate(tree):
        write_directory(name_at[t], [(name_id, 0x80000000 | language_at[t][n])
                                     for n, (name_id, _) in enumerate(names)])
        for n, (_, languages) in enumerate(names):
            write_directory(language_at[t][n], [(language, leaf_at[leaf]) for language, leaf in languages])
    for leaf in leaves:
        old_rva, size, code_page = leaf
        struct.pack_into("<III", out, leaf_at[leaf], rva + blob_at[leaf], size, code_page)
        out[blob_at[leaf]:blob_at[leaf] + size] = data[base + old_rva - rva:base + old_rva - rva + size]
    data[base:base + raw_size] = out
    struct.pack_into("<I", data, at + 8, max(virtual_size, offset))  # VirtualSize
    struct.pack_into("<I", data, directory + 4, offset)
    image_size = struct.unpack_from("<I", data, optional + 56)[0]
    alignment = struct.unpack_from("<I", data, optional + 32)[0]
    end = rva + ((max(virtual_size, offset) + alignment - 1) // alignment) * alignment
    if end > image_size:
        struct.pack_into("<I", data, optional + 56, end)
    return bytes(data)


LAYOUTS = {"flat": flat_image, "languages": two_language_image}


class Machine:
    def __init__(self, entries, seed, drive_c, exes, needs_system=0.0, variants=None,
                 layout="flat"):
        self.random = random.Random(seed)
        self.entries = entries
        self.drive_c = drive_c
        self.exes = exes
        self.needs_system_share = needs_system / 100.0
        self.variants = variants
        self.layout = LAYOUTS[layout]
        self.made_variants = set()
        self.keys = {"32": [], "64": []}  # (key name, [(value name, kind, data)])
        self.stats = {"entries": 0, "folders": 0, "files": 0, "exes": 0, "bin_folders": 0,
                      "exes_needing_system": 0}
        self.vendors = [self.word_name(2) for _ in range(150)]
        self.shared_tool = None

    # ---- names ---------------------------------------------------------------

    def word_name(self, syllables):
        return "".join(self.random.choice(SYLLABLES) for _ in range(syllables)).capitalize()

    def product_name(self):
        words = self.random.sample(PRODUCT_WORDS, self.random.choice([1, 2, 2, 3]))
        return " ".join(words)

    def guid(self):
        hex_digits = "%032X" % self.random.getrandbits(128)
        return "{%s-%s-%s-%s-%s}" % (hex_digits[:8], hex_digits[8:12], hex_digits[12:16],
                                     hex_digits[16:20], hex_digits[20:])

    def display_name(self, vendor, product):
        name = product if self.random.random() < 0.6 else vendor + " " + product
        shape = self.random.random()
        version = self.random.choice(["4.2.1", "2.0", "11", "3.1.0.27", "2.5b", "1.2.3"])
        if shape < 0.30:
            return name
        if shape < 0.50:
            return name + " " + version
        if shape < 0.58:
            return name + " Version " + version
        if shape < 0.64:
            return name + " " + version + " (build " + str(self.random.randint(100, 99999)) + ")"
        if shape < 0.68:
            return name + " (Patch " + version + ")"
        if shape < 0.73:
            return name + " " + str(self.random.randint(1998, 2024))
        if shape < 0.77:
            return name + " (x64)"
        if shape < 0.80:
            return name + " & " + self.word_name(2) + " <Beta>"
        if shape < 0.83:
            return vendor + "'s " + product
        if shape < 0.85:
            return "  \"" + name + "\"  "
        return name + " " + self.random.choice(["Update", "Runtime", "Language Pack", "SDK"])

    # ---- files -----------------------------------------------------------------

    def host_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\"
        return os.path.join(self.drive_c, *windows_path[3:].rstrip("\\").split("\\"))

    def exe_source(self, resources):
        resource = self.random.choice(resources)
        if resource.startswith("bench_"):
            return os.path.join(self.exes, resource + ".exe")
        pad = self.random.choices([p for p, _ in PADS], [w for _, w in PADS])[0]
        return os.path.join(self.exes, "%s_%d.exe" % (resource, pad))

    def needs_system(self, windows_path):
        """Whether this file is laid out flat (--needs-system): chosen by its
        path alone, so that the machine stays the one of the same entries and
        seed, file for file, and only the layout of the chosen files differs."""
        if not self.needs_system_share:
            return False
        digest = hashlib.sha256(windows_path.lower().encode("utf-8")).digest()
        return int.from_bytes(digest[:4], "little") < self.needs_system_share * 2**32

    def variant(self, source):
        """The copy of one of the benchmark's executables in the layout that
        needs the system (made once)."""
        target = os.path.join(self.variants, os.path.basename(source))
        if target not in self.made_variants:
            with open(source, "rb") as original:
                copy = self.layout(original.read())
            if copy is None:
                raise SystemExit("kvgen: %s cannot be laid out so" % source)
            os.makedirs(self.variants, exist_ok=True)
            with open(target, "wb") as out:
                out.write(copy)
            self.made_variants.add(target)
        return target

    def place(self, source, windows_path):
        target = self.host_path(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if os.path.exists(target):
            return
        if self.needs_system(windows_path):
            source = self.variant(source)
            if windows_path.lower().endswith(".exe"):
                self.stats["exes_needing_system"] += 1
        try:
            os.link(source, target)
        except OSError:
            shutil.copyfile(source, target)
        self.stats["files"] += 1

    def write_file(self, windows_path, data):
        target = self.host_path(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as out:
            out.write(data)
        self.stats["files"] += 1

    def exe_count(self):
        band = self.random.random()
        if band < 0.10:
            return 0
        if band < 0.60:
            return self.random.randint(1, 5)
        if band < 0.88:
            return self.random.randint(6, 15)
        return self.random.randint(16, 30)

    def fill_folder(self, folder, main_exe, count, uninstaller):
        """count executables (installers among them) and a few other files."""
        os.makedirs(self.host_path(folder), exist_ok=True)
        self.stats["folders"] += 1
        names = []
        if count > 0:
            names.append(main_exe)
        if uninstaller and len(names) < count:
            names.append(uninstaller)
        extras = ["setup.exe", "Updater.exe", "crashreporter.exe", "MySetup.exe", "setup2.exe",
                  "Install.exe", "helper.exe", "service.exe", "cli.exe", "launcher.exe"]
        self.random.shuffle(extras)
        while len(names) < count:
            names.append(extras.pop() if extras else "tool%02d.exe" % len(names))
        for index, name in enumerate(names):
            source = self.exe_source(MAIN_RESOURCES if index == 0 else HELPER_RESOURCES)
            self.place(source, folder + "\\" + name)
            self.stats["exes"] += 1
        if self.random.random() < 0.5:
            self.write_file(folder + "\\readme.txt", b"Read me.\r\n")
        if self.random.random() < 0.3:
            self.place(self.exe_source(HELPER_RESOURCES), folder + "\\core.dll")
        if self.random.random() < 0.05:
            self.write_file(folder + "\\stub.exe", b"")  # empty: never listed
        if self.random.random() < 0.05 and count:
            self.place(self.exe_source(HELPER_RESOURCES), folder + "\\" + main_exe + ".bak")

    def program_folder(self, view, vendor, product, index, uninstaller=None, bin_folder=None):
        folder = "%s\\%s\\%s\\%s %d" % (PROGRAM_FILES[view], APPS_FOLDER, vendor, product, index)
        main_exe = product.replace(" ", "") + ".exe" if self.random.random() < 0.5 else "app.exe"
        if bin_folder is None:
            bin_folder = self.random.random() < 0.12
        if bin_folder:
            self.stats["bin_folders"] += 1
            self.fill_folder(folder, "launcher.exe", self.random.randint(0, 2), uninstaller)
            self.fill_folder(folder + "\\bin", main_exe, self.exe_count(), None)
            return folder, folder + "\\bin\\" + main_exe
        self.fill_folder(folder, main_exe, self.exe_count(), uninstaller)
        return folder, folder + "\\" + main_exe

    # ---- entries ---------------------------------------------------------------

    def versions(self, values):
        if self.random.random() < 0.8:
            values.append(("DisplayVersion", "sz", self.random.choice(VERSION_TEXTS)))
        roll = self.random.random()
        if roll < 0.35:
            values.append(("VersionMajor", "dword", self.random.randint(0, 12)))
            values.append(("VersionMinor", "dword", self.random.randint(0, 40)))
        elif roll < 0.40:
            values.append(("VersionMajor", "sz", self.random.choice(["5.1", "none", "7"])))

    def icon(self, values, folder, main_exe):
        roll = self.random.random()
        if roll < 0.35:
            values.append(("DisplayIcon", "sz", main_exe + ",0"))
        elif roll < 0.45:
            values.append(("DisplayIcon", "sz", '"' + main_exe + '"'))
        elif roll < 0.50:
            values.append(("DisplayIcon", "sz", self.shared_tool))
        elif roll < 0.58:
            values.append(("DisplayIcon", "sz", folder + "\\app.ico"))
        elif roll < 0.63:
            values.append(("DisplayIcon", "expand", r"%SystemRoot%\system32\shell32.dll,5"))
        elif roll < 0.66:
            values.append(("DisplayIcon", "sz", folder + "\\unins000.exe,0"))
        elif roll < 0.70:
            values.append(("DisplayIcon", "sz", folder + "\\gone.exe"))

    def entry(self, index):
        view = "32" if self.random.random() < 0.65 else "64"
        vendor = self.random.choice(self.vendors)
        product = self.product_name()
        name = self.display_name(vendor, product)
        values = [("DisplayName", "sz", name), ("Publisher", "sz", vendor)]
        kind = self.random.random()
        key = None
        if kind < 0.08:  # an update: rejected by its name before anything else
            number = self.random.randint(100000, 999999)
            key = "KB%d" % number
            if self.random.random() < 0.5:
                values = [("DisplayName", "sz", "Security Update for %s (KB%d)" % (product, number))]
            else:
                values = [("ParentKeyName", "sz", "OperatingSystem")]
            values.append(("UninstallString", "sz", r'"C:\windows\$NtUninstallKB%d$\spuninst\spuninst.exe"' % number))
        elif kind < 0.11:  # parts of an office suite: rejected as well
            key = self.guid()
            values[0] = ("DisplayName", "sz", "Microsoft Office %s (English) 2010" % product)
            values.append(("UninstallString", "sz", "MsiExec.exe /X" + key))
        elif kind < 0.46:  # Windows Installer
            key = self.guid()
            values.append(("UninstallString", "sz", "MsiExec.exe /X" + key))
            roll = self.random.random()
            if roll < 0.55:
                folder, main_exe = self.program_folder(view, vendor, product, index)
                location = folder + ("\\" if self.random.random() < 0.5 else "")
                if self.random.random() < 0.02:
                    location = location.lower()  # another letter case than on disk
                values.append(("InstallLocation", "sz", location))
                self.icon(values, folder, main_exe)
            elif roll < 0.65:
                values.append(("InstallLocation", "sz", "%s\\%s\\%s\\Gone %d" % (
                    PROGRAM_FILES[view], APPS_FOLDER, vendor, index)))
            elif roll < 0.70:
                values.append(("InstallLocation", "sz", ""))
            self.versions(values)
        elif kind < 0.61:  # Inno Setup: quoted uninstaller, location with a backslash
            key = product + " %d_is1" % index
            folder, main_exe = self.program_folder(view, vendor, product, index, "unins000.exe")
            values.append(("UninstallString", "sz", '"%s\\unins000.exe"' % folder))
            values.append(("QuietUninstallString", "sz", '"%s\\unins000.exe" /SILENT' % folder))
            values.append(("InstallLocation", "sz", folder + "\\"))
            values.append(("DisplayIcon", "sz", main_exe))
            self.versions(values)
        elif kind < 0.76:  # NSIS: no location, the uninstaller's folder is the program's
            key = "%s %d" % (product, index)
            folder, main_exe = self.program_folder(view, vendor, product, index, "Uninstall.exe")
            command = ('"%s\\Uninstall.exe" /S' if self.random.random() < 0.5 else "%s\\uninst.exe")
            values.append(("UninstallString", "sz", command % folder))
            self.icon(values, folder, main_exe)
            self.versions(values)
        elif kind < 0.78:  # Wise: the command's last backslash lies in the log's path
            key = "%s %d" % (product, index)
            folder, _ = self.program_folder(view, vendor, product, index, "UNWISE.EXE")
            values.append(("UninstallString", "sz",
                           "%s\\UNWISE.EXE %s\\logs\\INSTALL.LOG" % (folder, folder)))
            self.versions(values)
        elif kind < 0.83:  # parts of the system
            key = self.guid() if self.random.random() < 0.5 else "%s %d" % (product, index)
            if self.random.random() < 0.5:
                values.append(("InstallLocation", "sz", WINDOWS_DIR + "\\system32"))
            values.append(("UninstallString", "sz",
                           WINDOWS_DIR + r"\system32\rundll32.exe shell32.dll,Control_RunDLL"))
            self.versions(values)
        elif kind < 0.84:  # an installer that named the temporary folder
            key = "%s %d" % (product, index)
            folder, main_exe = self.program_folder(view, vendor, product, index, "uninst.exe")
            values.append(("InstallLocation", "sz", TEMP_DIR_OTHER_CASE))
            values.append(("UninstallString", "sz", folder + "\\uninst.exe"))
            self.versions(values)
        elif kind < 0.89:  # only an icon, or nothing to find at all
            key = "%s %d" % (product, index)
            if self.random.random() < 0.5:
                values.append(("DisplayIcon", "sz", self.shared_tool + ",0"))
            values.append(("UninstallString", "sz",
                           r'"C:\ProgramData\Package Cache\%s\setup.exe" /uninstall' % self.guid()))
            self.versions(values)
        elif kind < 0.895:  # a location longer than a short text holds
            key = "%s %d" % (product, index)
            folder, _ = self.program_folder(view, vendor, product, index)
            long_name = "Sub" + "x" * max(1, 262 - len(folder))
            values.append(("InstallLocation", "sz", folder + "\\" + long_name))
            self.versions(values)
        else:  # an installer of its own: location, uninstaller, often a bin folder
            key = "%s %d" % (product, index)
            folder, main_exe = self.program_folder(view, vendor, product, index, "uninstall.exe",
                                                   bin_folder=self.random.random() < 0.3)
            values.append(("InstallLocation", "sz", folder))
            values.append(("UninstallString", "sz", folder + "\\uninstall.exe"))
            self.icon(values, folder, main_exe)
            self.versions(values)

        if values[0][0] == "DisplayName" and self.random.random() < 0.03:
            values.pop(0)  # no display name: the key's name in parentheses stands in
        self.keys[view].append((key, values))
        if self.random.random() < 0.03:  # registered in both views
            other = "64" if view == "32" else "32"
            self.keys[other].append((key, values))
        self.stats["entries"] += 1

    def build(self):
        for view in ("32", "64"):
            shutil.rmtree(self.host_path(PROGRAM_FILES[view] + "\\" + APPS_FOLDER), ignore_errors=True)
        self.shared_tool = PROGRAM_FILES["32"] + "\\" + APPS_FOLDER + r"\Shared\tool.exe"
        self.place(self.exe_source(MAIN_RESOURCES), self.shared_tool)
        for index in range(self.entries):
            self.entry(index)


def code_digest():
    """What the machine is made by: this file and the registry file writer."""
    digest = hashlib.sha256(open(__file__, "rb").read())
    digest.update(open(sys.modules["regfile"].__file__, "rb").read())
    return digest.hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--entries", type=int)
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--drive-c")
    parser.add_argument("--exes", help="folder of the benchmark's executables")
    parser.add_argument("--reg", help="registry files to write: REG.32.reg and REG.64.reg, one per view")
    parser.add_argument("--stamp", help="prints nothing and exits 0 when this stamp file matches")
    parser.add_argument("--needs-system", type=float, default=0.0, metavar="PERCENT",
                        help="lay out about this share of the files flat, so that only the "
                             "system's version reader reads them")
    parser.add_argument("--layout", choices=sorted(LAYOUTS), default="flat",
                        help="how those files need the system: flat images (alignment 0x200) "
                             "or their version resource under two languages")
    parser.add_argument("--variants", help="folder for those copies (with --needs-system)")
    args = parser.parse_args()
    if not (args.drive_c and args.exes and args.reg and args.entries is not None):
        parser.error("give --entries N, --drive-c, --exes and --reg")
    if args.needs_system and not args.variants:
        parser.error("--needs-system needs --variants DIR")

    sources = sorted(name for name in os.listdir(args.exes) if name.endswith(".exe"))
    # The folder too: the machine's executables are hard links into it, and
    # kvchange.py knows them by that. A machine laid out from the executables
    # of another build (the test command's smoke run takes build/win32, the
    # benchmark its own build) is laid out again.
    identity = json.dumps({"generator": GENERATOR_VERSION, "entries": args.entries, "seed": args.seed,
                           "exes": sources, "exesFolder": os.path.realpath(args.exes),
                           "needsSystem": args.needs_system, "layout": args.layout,
                           "code": code_digest()},
                          sort_keys=True)
    if args.stamp and os.path.exists(args.stamp) and open(args.stamp).read() == identity:
        return 0

    if args.variants:
        shutil.rmtree(args.variants, ignore_errors=True)  # made again from the executables of now
    machine = Machine(args.entries, args.seed, args.drive_c, args.exes, args.needs_system,
                      args.variants, args.layout)
    machine.build()
    for view in ("32", "64"):
        write_reg(machine.keys[view], "%s.%s.reg" % (args.reg, view))
    machine.stats["keys_32"] = len(machine.keys["32"])
    machine.stats["keys_64"] = len(machine.keys["64"])
    print("kvgen: " + " ".join("%s=%d" % item for item in sorted(machine.stats.items())))
    if args.stamp:
        with open(args.stamp + ".pending", "w") as out:
            out.write(identity)
    return 0


if __name__ == "__main__":
    sys.exit(main())
