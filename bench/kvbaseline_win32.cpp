// kvbaseline.exe: the work that no inventory of this machine can avoid, done
// once and nothing more, as the yardstick for kvscan.exe. It enumerates the
// uninstall entries in both registry views, reads each value the inventory
// needs once, lists each program folder the inventory examines once, and
// reads the version block of each executable the inventory examines once
// (the system's two calls, size and block, and the four values the
// inventory takes from it). No analysis, no sorting, no files written.
//
// The choice of folders and files follows the inventory's rules, so that
// both programs touch the same folders and files; it is plain string work.
//
//   kvbaseline [--direct | --listing] [--stats FILE]
// prints, and writes to FILE as "name value" lines: the counts, the seconds
// the work took inside the process, and the process's peak memory.
//
// With --direct it reads each version block straight from the file instead
// of through the system's two calls: it opens the file, reads its headers and
// section table, follows the resource directory to the first language of the
// first version resource and reads that data with one read, then takes the
// same four values with VerQueryValueW. It checks only what it must to stay
// inside its buffers: the floor under any reader of version bytes.
//
// With --listing it reads no version block at all: the uninstall keys and
// the folder listings, the floor of any run that must notice a change.

#include "common/win32.h"

#include <psapi.h>
#include <winver.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/handles_win32.h"

namespace {

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Seconds spent on each kind of read, for the side-by-side breakdown.
class StageClock {
  public:
    StageClock() { QueryPerformanceFrequency(&frequency_); }
    double Now() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart) / static_cast<double>(frequency_.QuadPart);
    }

  private:
    LARGE_INTEGER frequency_;
};

struct Counts {
    double registrySeconds = 0;
    double foldersSeconds = 0;
    double versionSeconds = 0;
    std::uint64_t entries = 0;
    std::uint64_t records = 0;
    std::uint64_t listings = 0;
    std::uint64_t versionReads = 0;
    std::uint64_t versionBytes = 0;
};

wchar_t Lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

std::wstring LowerText(std::wstring_view text) {
    std::wstring result(text);
    for (wchar_t& c : result) c = Lower(c);
    return result;
}

// Position (0-based) of the needle ignoring the case of A to Z, or npos.
std::size_t FindText(std::wstring_view haystack, std::wstring_view needle) {
    if (needle.empty() || needle.size() > haystack.size()) return std::wstring_view::npos;
    for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
        std::size_t k = 0;
        while (k < needle.size() && Lower(haystack[i + k]) == Lower(needle[k])) ++k;
        if (k == needle.size()) return i;
    }
    return std::wstring_view::npos;
}

bool Contains(std::wstring_view haystack, std::wstring_view needle) {
    return FindText(haystack, needle) != std::wstring_view::npos;
}

std::wstring Trimmed(std::wstring text) {
    text.erase(std::remove(text.begin(), text.end(), L'"'), text.end());
    std::size_t first = 0, last = text.size();
    while (first < last && text[first] <= 32) ++first;
    while (last > first && text[last - 1] <= 32) --last;
    return text.substr(first, last - first);
}

std::wstring WithBackslash(std::wstring path) {
    if (path.empty() || path.back() != L'\\') path += L'\\';
    return path;
}

std::wstring FolderPart(std::wstring_view path) {
    const std::size_t cut = path.find_last_of(L"\\:");
    return cut == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, cut + 1));
}

// One value, one call: the buffer is large enough for every text value the
// inventory reads; a larger one is read again at its size.
std::wstring ReadText(HKEY key, const wchar_t* name, DWORD* typeOut = nullptr) {
    wchar_t buffer[1024];
    DWORD type = 0;
    DWORD size = sizeof buffer - sizeof(wchar_t);
    LSTATUS status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (typeOut) *typeOut = status == ERROR_SUCCESS || status == ERROR_MORE_DATA ? type : REG_NONE;
    if (status == ERROR_MORE_DATA) {
        std::wstring large(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(large.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(large.data()),
                             &size) != ERROR_SUCCESS)
            return {};
        large.resize(size / sizeof(wchar_t));
        return large.c_str();
    }
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    buffer[size / sizeof(wchar_t)] = L'\0';
    return buffer;
}

struct Entry {
    std::wstring displayName, displayIcon, uninstallString, installLocation;
};

// The version block's bytes straight from the file, into block (laid out as
// the system's calls lay it out, so that VerQueryValueW can take it); false
// when the file has none that this simple walk finds.
class DirectVersionReader {
  public:
    bool Read(const std::wstring& path, std::vector<BYTE>& block) {
        file_ = kelvra::MakeUniqueFileHandle(CreateFileW(
            path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, 0, nullptr));
        return file_ && Walk(block);
    }

  private:
    bool ReadAt(std::uint64_t offset, void* out, DWORD count) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        return ReadFile(file_.get(), out, count, &got, &at) && got == count;
    }
    static DWORD Word(const BYTE* p) { return p[0] | (p[1] << 8); }
    static DWORD DWord(const BYTE* p) { return Word(p) | (Word(p + 2) << 16); }

    // The file offset of a virtual address, through the section table.
    bool FileOffset(DWORD address, DWORD& offset) const {
        for (std::size_t at = 0; at + 40 <= sections_.size(); at += 40) {
            const BYTE* section = &sections_[at];
            const DWORD start = DWord(section + 12), size = DWord(section + 16);
            if (address >= start && address - start < size) {
                offset = DWord(section + 20) + (address - start);
                return true;
            }
        }
        return false;
    }

    // The target of the directory's entry with the id (or its first entry).
    bool Entry(DWORD base, DWORD directory, DWORD id, bool first, DWORD& target) {
        BYTE header[16];
        if (!ReadAt(base + directory, header, 16)) return false;
        const DWORD named = Word(header + 12), count = named + Word(header + 14);
        if (count == 0 || count > 4096) return false;
        std::vector<BYTE> entries(count * 8);
        if (!ReadAt(base + directory + 16, entries.data(), count * 8)) return false;
        for (DWORD i = first ? 0 : named; i < count; ++i) {
            if (first || DWord(&entries[i * 8]) == id) {
                target = DWord(&entries[i * 8 + 4]) & 0x7FFFFFFF;
                return true;
            }
        }
        return false;
    }

    bool Walk(std::vector<BYTE>& block) {
        BYTE dos[64];
        if (!ReadAt(0, dos, 64) || Word(dos) != 0x5A4D) return false;
        const DWORD pe = DWord(dos + 0x3C);
        BYTE header[24 + 240];
        if (!ReadAt(pe, header, 24) || DWord(header) != 0x4550) return false;
        const DWORD sections = Word(header + 6), optionalSize = Word(header + 20);
        if (optionalSize > 240 || !ReadAt(pe + 24, header + 24, optionalSize)) return false;
        const DWORD directories = Word(header + 24) == 0x20B ? 24 + 112 : 24 + 96;
        if (directories + 24 > 24 + optionalSize) return false;
        const DWORD resources = DWord(header + directories + 16);
        sections_.resize(sections * 40);
        if (!resources || !ReadAt(pe + 24 + optionalSize, sections_.data(), sections * 40))
            return false;
        DWORD base = 0, name = 0, language = 0, data = 0;
        if (!FileOffset(resources, base) || !Entry(base, 0, 16, false, name) ||
            !Entry(base, name, 0, true, language) || !Entry(base, language, 0, true, data))
            return false;
        BYTE entry[16];
        DWORD offset = 0;
        if (!ReadAt(base + data, entry, 16) || !FileOffset(DWord(entry), offset)) return false;
        const DWORD size = DWord(entry + 4);
        if (size < 6 || size > (1u << 20)) return false;
        block.assign(size * 2 + 4, 0);
        if (!ReadAt(offset, block.data(), size)) return false;
        const DWORD length = Word(block.data());
        if (block.size() >= length + 4) std::copy_n("FE2X", 4, block.begin() + length);
        return true;
    }

    kelvra::UniqueHandle file_;
    std::vector<BYTE> sections_;
};

class Baseline {
  public:
    Baseline(bool direct, bool listing) : direct_(direct), listing_(listing) {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH, temp);
        tempDir_ = LowerText(WithBackslash(temp));
        wchar_t windows[MAX_PATH + 1] = {};
        GetWindowsDirectoryW(windows, MAX_PATH);
        windowsDir_ = WithBackslash(windows);
    }

    void Pass(REGSAM view) {
        const double start = clock_.Now();
        HKEY uninstall = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | view, &uninstall) !=
            ERROR_SUCCESS)
            return;
        std::vector<std::wstring> names;
        wchar_t name[256];
        for (DWORD index = 0;; ++index) {
            DWORD length = 256;
            if (RegEnumKeyExW(uninstall, index, name, &length, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS)
                break;
            names.emplace_back(name, length);
        }
        counts_.registrySeconds += clock_.Now() - start;
        for (const std::wstring& keyName : names) ReadEntry(uninstall, keyName);
        RegCloseKey(uninstall);
    }

    const Counts& counts() const { return counts_; }

  private:
    void ReadEntry(HKEY uninstall, const std::wstring& keyName) {
        ++counts_.entries;
        const double start = clock_.Now();
        HKEY key = nullptr;
        if (RegOpenKeyExW(uninstall, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
        Entry entry;
        entry.displayName = Trimmed(ReadText(key, L"DisplayName"));
        entry.displayIcon = Trimmed(ReadText(key, L"DisplayIcon"));
        entry.uninstallString = Trimmed(ReadText(key, L"UninstallString"));
        entry.installLocation = Trimmed(ReadText(key, L"InstallLocation"));
        ReadText(key, L"DisplayVersion");
        ReadText(key, L"VersionMajor");
        ReadText(key, L"VersionMinor");
        RegCloseKey(key);
        counts_.registrySeconds += clock_.Now() - start;

        if (entry.displayName.empty()) entry.displayName = L"(" + keyName + L")";
        if (Contains(entry.displayName, L"(KB") ||
            FindText(entry.displayName, L"Microsoft Office ") == 0)
            return;
        ++counts_.records;
        ExamineFolder(entry);
    }

    // Lists folder + "*" once: that shows both the executables and whether
    // a bin folder is there. False when the folder does not exist.
    bool ListFolder(const std::wstring& folder, std::vector<std::wstring>& exes, bool& hasBin) {
        WIN32_FIND_DATAW data;
        HANDLE search = FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (search == INVALID_HANDLE_VALUE) return false;
        ++counts_.listings;
        exes.clear();
        hasBin = false;
        do {
            const std::wstring_view fileName = data.cFileName;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (LowerText(fileName) == L"bin") hasBin = true;
                continue;
            }
            if (data.nFileSizeLow == 0 && data.nFileSizeHigh == 0) continue;
            const std::size_t dot = fileName.rfind(L'.');
            if (dot == std::wstring_view::npos || LowerText(fileName.substr(dot)) != L".exe")
                continue;
            if (Contains(fileName, L"unins") || Contains(fileName, L"setup.exe")) continue;
            exes.push_back(folder + std::wstring(fileName));
        } while (FindNextFileW(search, &data));
        FindClose(search);
        return true;
    }

    void ExamineFolder(const Entry& entry) {
        const double start = clock_.Now();
        std::vector<std::wstring> exes;
        bool hasBin = false;
        std::wstring folder;
        bool listed = false;
        if (!entry.installLocation.empty()) {
            // The inventory keeps 255 characters of it (the machine's texts
            // are single-byte), with the backslash it adds, and then takes
            // the folder part.
            std::wstring location = WithBackslash(entry.installLocation).substr(0, 255);
            location = WithBackslash(FolderPart(location));
            if (LowerText(location) != tempDir_ && ListFolder(location, exes, hasBin)) {
                folder = location;
                listed = true;
            }
        }
        if (folder.empty() && !entry.uninstallString.empty()) {
            if (!Contains(entry.uninstallString, L"msiexec.exe")) {
                const std::wstring dir = WithBackslash(FolderPart(entry.uninstallString));
                if (dir != L"\\" && ListFolder(dir, exes, hasBin)) {
                    folder = dir;
                    listed = true;
                }
            }
            if (folder.empty()) {
                const std::size_t unwise = FindText(entry.uninstallString, L"unwise.exe");
                if (unwise != std::wstring_view::npos)
                    folder = entry.uninstallString.substr(0, unwise);
            }
        }
        if (folder.empty() || Contains(folder, windowsDir_)) {
            counts_.foldersSeconds += clock_.Now() - start;
            return;
        }
        if (!listed) ListFolder(folder, exes, hasBin);
        if (hasBin) {
            bool unused = false;
            ListFolder(folder + L"bin\\", exes, unused);
        }

        const std::size_t exe = FindText(entry.displayIcon, L".exe");
        if (exe != std::wstring_view::npos) {
            const std::wstring icon = entry.displayIcon.substr(0, exe + 4);
            const std::wstring wanted = LowerText(icon);
            const bool inList = std::any_of(exes.begin(), exes.end(), [&](const std::wstring& e) {
                return LowerText(e) == wanted;
            });
            if (!inList) {
                const DWORD attributes = GetFileAttributesW(icon.c_str());
                if (attributes != INVALID_FILE_ATTRIBUTES &&
                    !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                    exes.push_back(icon);
            }
        }
        const double reading = clock_.Now();
        counts_.foldersSeconds += reading - start;
        for (const std::wstring& file : exes) {
            if (Contains(file, L"MsiExec")) continue;
            if (listing_)
                ++counts_.versionReads;  // counted, so that the counts still agree
            else
                ReadVersionBlock(file);
        }
        counts_.versionSeconds += clock_.Now() - reading;
    }

    void ReadVersionBlock(const std::wstring& file) {
        ++counts_.versionReads;
        if (direct_) {
            if (!directReader_.Read(file, block_)) return;
        } else {
            DWORD handle = 0;
            const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
            if (size == 0) return;
            block_.resize(size);
            if (!GetFileVersionInfoW(file.c_str(), handle, size, block_.data())) return;
        }
        counts_.versionBytes += block_.size();
        void* value = nullptr;
        UINT length = 0;
        VerQueryValueW(block_.data(), L"\\", &value, &length);
        if (!VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", &value, &length) ||
            length < 4)
            return;
        const DWORD translation = *static_cast<const DWORD*>(value);
        wchar_t path[64];
        for (const wchar_t* key : {L"FileVersion", L"ProductVersion"}) {
            std::swprintf(path, 64, L"\\StringFileInfo\\%04X%04X\\%ls", translation & 0xFFFF,
                          translation >> 16, key);
            VerQueryValueW(block_.data(), path, &value, &length);
        }
    }

    std::wstring tempDir_;
    std::wstring windowsDir_;
    bool direct_;
    bool listing_;
    DirectVersionReader directReader_;
    std::vector<BYTE> block_;
    StageClock clock_;
    Counts counts_;
};

bool IsWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring statsFile;
    bool direct = false, listing = false;
    for (int i = 1; i < argc; ++i) {
        if (std::wstring_view(argv[i]) == L"--stats" && i + 1 < argc) {
            statsFile = argv[++i];
        } else if (std::wstring_view(argv[i]) == L"--direct") {
            direct = true;
        } else if (std::wstring_view(argv[i]) == L"--listing") {
            listing = true;
        } else {
            std::fwprintf(stderr, L"Usage: kvbaseline [--direct | --listing] [--stats FILE]\n");
            return 2;
        }
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Baseline baseline(direct, listing);
    baseline.Pass(0);
    if (IsWow64()) baseline.Pass(KEY_WOW64_64KEY);
    QueryPerformanceCounter(&end);

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    const Counts& counts = baseline.counts();
    char text[1024];
    std::snprintf(text, sizeof text,
                  "total_seconds %.6f\nstage.registry %.6f\nstage.folders %.6f\n"
                  "stage.version_resources %.6f\ncount.entries %llu\ncount.records "
                  "%llu\ncount.listings %llu\n"
                  "count.version_reads %llu\nversion_bytes %llu\npeak_working_set_bytes %lu\n"
                  "peak_pagefile_bytes %lu\n",
                  static_cast<double>(end.QuadPart - start.QuadPart) /
                      static_cast<double>(frequency.QuadPart),
                  counts.registrySeconds, counts.foldersSeconds, counts.versionSeconds,
                  static_cast<unsigned long long>(counts.entries),
                  static_cast<unsigned long long>(counts.records),
                  static_cast<unsigned long long>(counts.listings),
                  static_cast<unsigned long long>(counts.versionReads),
                  static_cast<unsigned long long>(counts.versionBytes),
                  static_cast<unsigned long>(memory.PeakWorkingSetSize),
                  static_cast<unsigned long>(memory.PeakPagefileUsage));
    std::fputs(text, stdout);
    if (!statsFile.empty()) {
        FILE* out = _wfopen(statsFile.c_str(), L"wb");
        if (!out) return 1;
        std::fputs(text, out);
        std::fclose(out);
    }
    return 0;
}
