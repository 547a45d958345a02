#include "shell/runfiles.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "common/files.h"
#include "common/textconv.h"
#include "versions/textutil.h"

namespace kelvra {

std::wstring FindFreeFileName(std::wstring_view before, std::wstring_view after) {
    for (unsigned long long n = 0;; ++n) {
        std::wstring name = std::wstring(before) + std::to_wstring(n) + std::wstring(after);
        if (!FileExists(name)) return name;
    }
}

std::wstring FileNameSafeProfile(std::wstring_view profile) {
    std::wstring safe(profile);
    for (wchar_t& c : safe) {
        if (c < 32 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) c = L'_';
    }
    return safe;
}

void WriteLinesFile(const std::wstring& path, const std::vector<std::wstring>& lines) {
    std::wstring text;
    std::size_t size = 0;
    for (const auto& line : lines) size += line.size() + 2;
    text.reserve(size);
    for (const auto& line : lines) {
        text += line;
        text += L"\r\n";
    }
    ReplaceFileBytes(path, WideToAnsi(text));
}

std::wstring ChangeFileExt(std::wstring_view path, std::wstring_view extension) {
    const auto dot = path.find_last_of(L'.');
    const auto folderEnd = path.find_last_of(L"\\/:");
    if (dot == std::wstring_view::npos || (folderEnd != std::wstring_view::npos && dot < folderEnd))
        return std::wstring(path) + std::wstring(extension);
    return std::wstring(path.substr(0, dot)) + std::wstring(extension);
}

void PruneRunFileSets(const std::wstring& folder, std::wstring_view safeProfile,
                      const std::wstring& currentPayload, std::size_t keep) {
    struct RunSet {
        std::wstring payload;
        std::int64_t written;
        unsigned long long number;
    };
    const std::wstring prefix = L"dump_" + std::wstring(safeProfile) + L"_";
    std::vector<RunSet> sets;
    for (const DirEntry& entry : FindEntries(folder + prefix + L"*.txt")) {
        if (entry.isDirectory) continue;
        // Only names of exactly this profile: prefix, digits, ".txt".
        const std::wstring_view name = entry.name;
        if (name.size() <= prefix.size() + 4 || LowerAscii(name.substr(0, prefix.size())) != LowerAscii(prefix))
            continue;
        const std::wstring_view digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        if (digits.empty() || digits.size() > 18 || !IsAllDigits(digits) ||
            LowerAscii(name.substr(name.size() - 4)) != L".txt")
            continue;
        const std::wstring payload = folder + std::wstring(name);
        if (LowerAscii(payload) == LowerAscii(currentPayload)) continue;
        const auto written = FileLastWriteTime(payload);
        if (!written) continue;
        sets.push_back({payload, *written, std::stoull(std::wstring(digits))});
    }
    const std::size_t others = keep > 0 ? keep - 1 : 0;  // the current set counts
    if (sets.size() <= others) return;
    // Newest first; equal times fall back to the higher number.
    std::sort(sets.begin(), sets.end(), [](const RunSet& a, const RunSet& b) {
        return a.written != b.written ? a.written > b.written : a.number > b.number;
    });
    for (std::size_t i = others; i < sets.size(); ++i) {
        for (const wchar_t* extension : {L".xml", L".html", L".txt"})
            DeleteFileAt(ChangeFileExt(sets[i].payload, extension));
    }
}

}  // namespace kelvra
