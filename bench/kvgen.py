#!/usr/bin/env python3
"""Lays out a synthetic machine for the inventory benchmark in a Wine prefix.

    kvgen.py --entries N --drive-c PREFIX/drive_c --exes DIR --reg OUT [--seed S]
    kvgen.py --demo --drive-c PREFIX/drive_c --exes DIR --reg OUT
    kvgen.py --demo-exes

The second form lays out the demo machine that scripts/run.sh shows a
newcomer: about thirty entries named and shaped as real installers write
them, each with its own executables (the third form lists their version
resources, from which the build makes them).

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
"""

import argparse
import hashlib
import json
import os
import random
import shutil
import sys

GENERATOR_VERSION = 3

UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
UNINSTALL_ROOT = "HKEY_LOCAL_MACHINE\\" + UNINSTALL
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


class Machine:
    def __init__(self, entries, seed, drive_c, exes):
        self.random = random.Random(seed)
        self.entries = entries
        self.drive_c = drive_c
        self.exes = exes
        self.keys = {"32": [], "64": []}  # (key name, [(value name, kind, data)])
        self.stats = {"entries": 0, "folders": 0, "files": 0, "exes": 0, "bin_folders": 0}
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

    def place(self, source, windows_path):
        target = self.host_path(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if os.path.exists(target):
            return
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


# ---- the demo machine --------------------------------------------------------------
# Made-up products, shaped as their installers would register them: Windows
# Installer (msiexec, a product code as key), Inno Setup (key "..._is1",
# unins000.exe), NSIS (no location, the uninstaller's folder), installers of
# the vendor's own (uninstall.exe, a bin\ folder), a Wise leftover, a driver
# package in the Windows folder, updates and office parts that the first
# filter drops. Some programs updated themselves and their entry still shows
# the old version; some entries outlived their program.

# id: fixed file version, FileVersion, ProductVersion, product, company
DEMO_EXES = {
    "brightleaf": ("11.2.3.0", "11.2.3.0", "11.2.3", "Brightleaf PDF Reader", "Brightleaf Software"),
    "brightleaf_upd": ("3.1.0.7", "3.1.0.7", "3.1", "Brightleaf Updater", "Brightleaf Software"),
    "corvid": ("4.0.1.2200", "4.0.1.2200", "4.0.1", "Corvid Backup Agent", "Corvid Systems"),
    "orbital": ("2.7.1.0", "2.7.1.0", "2.7.1", "Orbital Chat", "Orbital Labs"),
    "quillpad": ("8.4.2.0", "8.4.2.0", "8.4.2", "Quillpad", "Quill Works"),
    "inno_unins": ("51.1052.0.0", "51.1052.0.0", "51.1052.0.0", "Setup/Uninstall", "Setup Tool Makers"),
    "tessera": ("23.1.0.0", "23.01", "23.01", "Tessera Archiver", "Tessera Project"),
    "mosaic": ("2.1.0.0", "2.1.0.0", "2.1", "Mosaic Image Viewer", "Mosaic Imaging"),
    "pinecone": ("3.2.0.0", "3.2.0.0", "3.2", "Pinecone Notes", "Pinecone Apps"),
    "riverbend": ("3.0.18.0", "3.0.18.0", "3.0.18", "Riverbend Media Player", "Riverbend Media"),
    "kestrel": ("5.1.0.3", "5.1.0.3", "5.1", "Kestrel FTP", "Kestrel Net"),
    "sparrow": ("1.6.0.0", "1.6.0.0", "1.6", "Sparrow Mail", "Sparrow Mail Team"),
    "fathom": ("1.4.7.0", "1.4.7.0", "1.4.7", "Fathom Disk Analyzer", "Fathom Tools"),
    "granite": ("2024.2.1.0", "2024.2.1.0", "2024.2.1", "Granite IDE", "Granite Dev"),
    "granite_helper": ("1.0.0.0", "1.0.0.0", "1.0.0.0", "file watcher", "Granite Dev"),
    "atlas": ("7.2.0.1", "7.2.0.1", "7.2", "Atlas Maps Desktop", "Atlas Cartography"),
    "cobalt": ("1.0.0.0", "1.0.0.0", "1.0.0.0", "Cobalt Game Launcher", "Cobalt Games"),
    "helix": ("1.3.0.0", "1.3.0.0", "1.3", "Helix Sound Recorder", "Helix Audio"),
    "scantool": ("2.0.0.5", "2.0.0.5", "2.0", "Legacy Scanner Tools", "Oldfield Imaging"),
    "sable": ("3.4.1.0", "3.4.1.0", "3.4.1", "Sable Sync", "Sable Cloud"),
    "tidewater": ("2.0.1834.0", "2.0.1834.0", "2.0", "Tidewater Photo Editor", "Tidewater Graphics"),
    "verdant": ("4.3.0.0", "4.3.0.0", "4.3", "Verdant Password Safe", "Verdant Security"),
    "ember": ("3.7.2.0", "3.7.2.0", "3.7.2", "Ember Screen Capture", "Ember Soft"),
    "ironbark": ("1.18.3.0", "1.18.3.0", "1.18.3", "Ironbark Terminal", "Ironbark"),
    "glacier": ("91.0.4.0", "91.0.4.0", "91.0.4", "Glacier Cloud Drive", "Glacier Storage"),
    "uninstaller": ("2.4.0.0", "2.4.0.0", "2.4", "Uninstaller", "Installer Makers"),
    "unwise": ("9.0.2.0", "9.0.2.0", "9.0", "Wise Uninstaller", "Installer Makers"),
}

PF32 = PROGRAM_FILES["32"]
PF64 = PROGRAM_FILES["64"]


def demo_entries():
    """(view, key, values, files); files are (Windows path, exe id)."""
    def sz(name, data):
        return (name, "sz", data)

    def dword(name, data):
        return (name, "dword", data)

    def msi(code):
        return [sz("UninstallString", "MsiExec.exe /X" + code), sz("ModifyPath", "MsiExec.exe /I" + code),
                dword("WindowsInstaller", 1)]

    entries = []

    def add(view, key, values, files=()):
        entries.append((view, key, values, list(files)))

    # Windows Installer
    code = "{6F1C3A52-2B8E-4D1A-9C3B-1A2B3C4D5E01}"
    folder = PF32 + r"\Brightleaf\PDF Reader"
    add("32", code, [sz("DisplayName", "Brightleaf PDF Reader"), sz("DisplayVersion", "11.2.3"),
                     sz("Publisher", "Brightleaf Software"), sz("InstallLocation", folder + "\\"),
                     sz("DisplayIcon", folder + r"\BrightleafReader.exe,0"),
                     dword("VersionMajor", 11), dword("VersionMinor", 2)] + msi(code),
        [(folder + r"\BrightleafReader.exe", "brightleaf"), (folder + r"\BrightleafUpdate.exe", "brightleaf_upd")])
    code = "{0D7E2F11-5A6B-4C8D-8E9F-2B3C4D5E6F02}"
    folder = PF64 + r"\Corvid\Backup Agent"
    add("64", code, [sz("DisplayName", "Corvid Backup Agent"), sz("DisplayVersion", "4.0.1"),
                     sz("Publisher", "Corvid Systems"), sz("InstallLocation", folder)] + msi(code),
        [(folder + r"\CorvidAgent.exe", "corvid"), (folder + r"\CorvidTray.exe", "corvid")])
    code = "{A4B1C2D3-E4F5-4061-8273-3C4D5E6F7003}"
    add("64", code, [sz("DisplayName", "Lumen Runtime 6.0 (x64)"), sz("DisplayVersion", "6.0.14"),
                     sz("Publisher", "Lumen Foundation")] + msi(code))
    code = "{B5C6D7E8-F901-4A2B-9C3D-4E5F60718204}"
    add("32", code, [sz("DisplayName", "Harbor VPN Client"), sz("DisplayVersion", "5.2.0"),
                     sz("Publisher", "Harbor Networks"),
                     sz("InstallLocation", PF32 + r"\Harbor\VPN Client" + "\\")] + msi(code))
    code = "{C7D8E9F0-0A1B-4C2D-8E3F-5061728394A5}"
    folder = PF32 + r"\Orbital Chat"
    add("32", code, [sz("DisplayName", "Orbital Chat"), sz("DisplayVersion", "2.3.0"),
                     sz("Publisher", "Orbital Labs"), sz("InstallLocation", folder + "\\"),
                     sz("DisplayIcon", folder + r"\OrbitalChat.exe")] + msi(code),
        [(folder + r"\OrbitalChat.exe", "orbital")])
    code = "{D9E0F1A2-B3C4-4D5E-9F60-718293A4B5C6}"
    add("32", code, [sz("DisplayName", "Meridian Office Suite 2019"), sz("DisplayVersion", "19.0.4266"),
                     sz("Publisher", "Meridian")] + msi(code))

    # Inno Setup
    def inno(view, key, name, version, publisher, folder, exe, exe_id, more=()):
        add(view, key, [sz("DisplayName", name), sz("DisplayVersion", version), sz("Publisher", publisher),
                        sz("InstallLocation", folder + "\\"), sz("DisplayIcon", folder + "\\" + exe),
                        sz("UninstallString", '"%s\\unins000.exe"' % folder),
                        sz("QuietUninstallString", '"%s\\unins000.exe" /SILENT' % folder),
                        sz("Inno Setup: App Path", folder)] + list(more),
            [(folder + "\\" + exe, exe_id), (folder + r"\unins000.exe", "inno_unins")])

    inno("32", "Quillpad_is1", "Quillpad 8.4.2", "8.4.2", "Quill Works", PF32 + r"\Quillpad",
         "Quillpad.exe", "quillpad")
    inno("64", "{7B1F3E2A-91C4-4E55-A0D3-6F7E8D9CA0B1}_is1", "Tessera Archiver 23.01 (x64)", "23.01",
         "Tessera Project", PF64 + r"\Tessera Archiver", "Tessera.exe", "tessera")
    inno("32", "Mosaic Image Viewer_is1", "Mosaic Image Viewer", "1.9.2", "Mosaic Imaging",
         PF32 + r"\Mosaic", "MosaicViewer.exe", "mosaic")
    inno("32", "Pinecone Notes_is1", "Pinecone Notes Version 3.2", "3.2", "Pinecone Apps",
         PF32 + r"\Pinecone Notes", "PineconeNotes.exe", "pinecone")
    # Its program folder is gone with everything in it; only the entry is left.
    add("32", "Zephyr Download Manager_is1",
        [sz("DisplayName", "Zephyr Download Manager"), sz("DisplayVersion", "6.1"),
         sz("Publisher", "Zephyr"), sz("InstallLocation", PF32 + r"\Zephyr" + "\\"),
         sz("UninstallString", '"%s\\Zephyr\\unins000.exe"' % PF32)])

    # NSIS: no install location; the uninstaller lies in the program folder.
    folder = PF64 + r"\Riverbend"
    add("64", "Riverbend Media Player",
        [sz("DisplayName", "Riverbend Media Player"), sz("DisplayVersion", "3.0.18"),
         sz("Publisher", "Riverbend Media"), sz("UninstallString", folder + r"\uninst.exe"),
         sz("DisplayIcon", folder + r"\riverbend.exe")],
        [(folder + r"\riverbend.exe", "riverbend"), (folder + r"\uninst.exe", "uninstaller")])
    folder = PF32 + r"\Kestrel FTP"
    add("32", "Kestrel FTP",
        [sz("DisplayName", "Kestrel FTP 5.1"), sz("DisplayVersion", "5.1.0"), sz("Publisher", "Kestrel Net"),
         sz("UninstallString", '"%s\\Uninstall.exe" /S' % folder),
         sz("DisplayIcon", '"%s\\kestrel.exe",0' % folder)],
        [(folder + r"\kestrel.exe", "kestrel"), (folder + r"\Uninstall.exe", "uninstaller")])
    # Its uninstaller was deleted by hand; the program is still there.
    folder = PF32 + r"\Sparrow Mail"
    add("32", "Sparrow Mail",
        [sz("DisplayName", "Sparrow Mail"), sz("DisplayVersion", "1.6"), sz("Publisher", "Sparrow Mail Team"),
         sz("UninstallString", '"%s\\Uninstall.exe"' % folder)],
        [(folder + r"\SparrowMail.exe", "sparrow")])
    folder = PF32 + r"\Fathom"
    add("32", "Fathom Disk Analyzer",
        [sz("DisplayName", "Fathom Disk Analyzer"), sz("DisplayVersion", "1.4"), sz("Publisher", "Fathom Tools"),
         sz("UninstallString", folder + r"\uninst.exe")],
        [(folder + r"\Fathom.exe", "fathom"), (folder + r"\uninst.exe", "uninstaller")])

    # Installers of the vendor's own.
    folder = PF64 + r"\Granite IDE 2024.2"
    add("64", "Granite IDE 2024.2",
        [sz("DisplayName", "Granite IDE 2024.2.1"), sz("DisplayVersion", "2024.2.1"), sz("Publisher", "Granite Dev"),
         sz("InstallLocation", folder), sz("UninstallString", folder + r"\bin\Uninstall.exe"),
         sz("DisplayIcon", folder + r"\bin\granite64.exe")],
        [(folder + r"\launcher.exe", "granite"), (folder + r"\bin\granite64.exe", "granite"),
         (folder + r"\bin\fswatch.exe", "granite_helper"), (folder + r"\bin\Uninstall.exe", "uninstaller")])

    def own(view, key, name, version, publisher, folder, exe, exe_id, uninstall=r"%s\uninstall.exe",
            icon=None, more=()):
        """An installer of the vendor's own: a location without a backslash,
        uninstall.exe beside the program; version None: no DisplayVersion."""
        values = [sz("DisplayName", name)] + ([sz("DisplayVersion", version)] if version else [])
        values += [sz("Publisher", publisher), sz("InstallLocation", folder),
                   sz("UninstallString", uninstall % folder)] + list(more)
        if icon is not None:
            values.append(sz("DisplayIcon", folder + "\\" + exe + icon))
        add(view, key, values, [(folder + "\\" + exe, exe_id), (folder + r"\uninstall.exe", "uninstaller")])

    own("32", "AtlasMapsDesktop", "Atlas Maps Desktop", "7.2", "Atlas Cartography", PF32 + r"\Atlas Maps",
        "AtlasMapsDesktop.exe", "atlas")
    own("32", "CobaltLauncher", "Cobalt Game Launcher", "2.5.0", "Cobalt Games", PF32 + r"\Cobalt Games\Launcher",
        "CobaltLauncher.exe", "cobalt", uninstall=r"%s\uninstall.exe /quiet", icon=",0")
    own("32", "Helix Sound Recorder", "Helix Sound Recorder (Patch 1.3)", None, "Helix Audio",
        PF32 + r"\Helix Audio\Sound Recorder", "HelixRecorder.exe", "helix")
    own("64", "IronbarkTerminal", "Ironbark Terminal", "1.18.3", "Ironbark", PF64 + r"\Ironbark Terminal",
        "ironbark.exe", "ironbark", uninstall='"%s\\uninstall.exe"', icon="")
    own("32", "GlacierCloudDrive", "Glacier Cloud Drive", "88.0", "Glacier Storage", PF32 + r"\Glacier Cloud Drive",
        "GlacierDrive.exe", "glacier", uninstall='"%s\\uninstall.exe" --uninstall', icon=",0")
    for view in ("32", "64"):  # an installer that registered itself in both views
        own(view, "SableSync", "Sable Sync", "3.4.1", "Sable Cloud", PF32 + r"\Sable Sync", "SableSync.exe",
            "sable", icon="")
    own("32", "Tidewater Photo Editor", "Tidewater Photo Editor 2.0 (build 1834)", "2.0.1834",
        "Tidewater Graphics", PF32 + r"\Tidewater", "Tidewater.exe", "tidewater")
    own("32", "Verdant Password Safe", "Verdant Password Safe", None, "Verdant Security", PF32 + r"\Verdant",
        "Verdant.exe", "verdant")
    own("32", "EmberCapture", "Ember Screen Capture", None, "Ember Soft", PF32 + r"\Ember", "EmberCapture.exe",
        "ember", more=[dword("VersionMajor", 3), dword("VersionMinor", 7)])

    # Wise: the command's last backslash lies in its log's path.
    folder = PF32 + r"\LegacyScan"
    add("32", "Legacy Scanner Tools",
        [sz("DisplayName", "Legacy Scanner Tools"), sz("Publisher", "Oldfield Imaging"),
         sz("UninstallString", r"%s\UNWISE.EXE %s\INSTALL.LOG" % (folder, folder))],
        [(folder + r"\scantool.exe", "scantool"), (folder + r"\UNWISE.EXE", "unwise")])
    # A driver package: a part of the system, whose programs are not examined.
    add("64", "DemoPrinterDriver",
        [sz("DisplayName", "Windows Driver Package - Demo Printers (01/02/2024 10.0.2.1)"),
         sz("DisplayVersion", "10.0.2.1"), sz("Publisher", "Demo Printers"),
         sz("InstallLocation", WINDOWS_DIR + r"\system32"),
         sz("UninstallString", WINDOWS_DIR + r"\system32\rundll32.exe drvinst.dll,Uninstall demo.inf")])

    # Updates and office parts: the first filter drops them.
    add("32", "{6F1C3A52-2B8E-4D1A-9C3B-1A2B3C4D5E01}.KB5012345",
        [sz("DisplayName", "Security Update for Brightleaf PDF Reader (KB5012345)"),
         sz("ParentKeyName", "{6F1C3A52-2B8E-4D1A-9C3B-1A2B3C4D5E01}"), sz("ParentDisplayName", "Brightleaf PDF Reader"),
         sz("UninstallString", "MsiExec.exe /package {6F1C3A52-2B8E-4D1A-9C3B-1A2B3C4D5E01} /uninstall {KB5012345}")])
    add("64", "KB890830", [sz("ParentKeyName", "OperatingSystem"), sz("DisplayVersion", "1.0")])
    for code, part in (("{90160000-002C-0409-0000-0000000FF1CE}", "Proofing Tools 2016 - English"),
                       ("{90160000-0011-0000-0000-0000000FF1CE}", "Shared Setup Metadata MUI (English) 2016")):
        add("32", code, [sz("DisplayName", "Microsoft Office " + part), sz("DisplayVersion", "16.0.4266.1001"),
                         sz("Publisher", "Microsoft Corporation")] + msi(code))
    return entries


def lay_out_demo(drive_c, exes):
    machine = Machine(0, 0, drive_c, exes)
    entries = demo_entries()
    # Each vendor's folder is laid out anew, so that what a demo program
    # lost (Sparrow Mail's uninstaller) stays lost however often it runs.
    vendor_folders = {"\\".join(path.split("\\")[:3]) for _, _, _, files in entries for path, _ in files}
    for folder in sorted(vendor_folders):
        shutil.rmtree(machine.host_path(folder), ignore_errors=True)
    for view, key, values, files in entries:
        machine.keys[view].append((key, values))
        machine.stats["entries"] += 1
        for path, exe_id in files:
            machine.place(os.path.join(exes, "demo_%s.exe" % exe_id), path)
            machine.stats["exes"] += 1
    return machine


def list_demo_exes():
    """One line per executable: id|file version|FileVersion|ProductVersion|product|company."""
    for exe_id, (fixed, file_text, product_text, product, company) in sorted(DEMO_EXES.items()):
        print("|".join([exe_id, fixed.replace(".", ","), file_text, product_text, product, company]))


# ---- the registry file -----------------------------------------------------------

def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_value(name, kind, data):
    if kind == "sz":
        return "%s=%s" % (reg_string(name), reg_string(data))
    if kind == "dword":
        return "%s=dword:%08x" % (reg_string(name), data)
    if kind == "expand":
        raw = (data + "\0").encode("utf-16-le")
        return "%s=hex(2):%s" % (reg_string(name), ",".join("%02x" % b for b in raw))
    raise ValueError(kind)


def write_reg(keys, path):
    """One view's entries, for `reg import FILE /reg:32` or `/reg:64`. The
    caller deletes an earlier machine's entries with `reg delete` first: a
    deletion inside the file is carried out in reg.exe's own view, whatever
    view the import was asked for."""
    lines = ["Windows Registry Editor Version 5.00", "", "[%s]" % UNINSTALL_ROOT, ""]
    for key, values in keys:
        lines.append("[%s\\%s]" % (UNINSTALL_ROOT, key))
        lines += [reg_value(*value) for value in values]
        lines.append("")
    with open(path, "wb") as out:
        out.write(("\r\n".join(lines) + "\r\n").encode("utf-16"))  # with a byte-order mark


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--demo", action="store_true", help="the demo machine of scripts/run.sh")
    parser.add_argument("--demo-exes", action="store_true",
                        help="list the demo machine's executables for the build and exit")
    parser.add_argument("--entries", type=int)
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--drive-c")
    parser.add_argument("--exes", help="folder of the benchmark's (or the demo's) executables")
    parser.add_argument("--reg", help="registry files to write: REG.32.reg and REG.64.reg, one per view")
    parser.add_argument("--stamp", help="prints nothing and exits 0 when this stamp file matches")
    args = parser.parse_args()
    if args.demo_exes:
        list_demo_exes()
        return 0
    if not (args.drive_c and args.exes and args.reg) or (args.entries is not None) == args.demo:
        parser.error("give --entries N or --demo, with --drive-c, --exes and --reg")
    if args.demo:
        machine = lay_out_demo(args.drive_c, args.exes)
        for view in ("32", "64"):
            write_reg(machine.keys[view], "%s.%s.reg" % (args.reg, view))
        print("kvgen: the demo machine, %d entries, %d executables" % (
            machine.stats["entries"], machine.stats["exes"]))
        return 0

    sources = sorted(name for name in os.listdir(args.exes) if name.endswith(".exe"))
    identity = json.dumps({"generator": GENERATOR_VERSION, "entries": args.entries, "seed": args.seed,
                           "exes": sources, "code": hashlib.sha256(open(__file__, "rb").read()).hexdigest()},
                          sort_keys=True)
    if args.stamp and os.path.exists(args.stamp) and open(args.stamp).read() == identity:
        return 0

    machine = Machine(args.entries, args.seed, args.drive_c, args.exes)
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
