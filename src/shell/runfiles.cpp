#include "shell/runfiles.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "common/files.h"
#include "common/paths.h"
#include "common/pending_messages.h"
#include "common/textconv.h"
#include "common/textutil.h"

namespace kelvra {

// Numbers past the highest present, not the smallest free one: once the
// oldest sets have been pruned, the smallest free number would start again at
// 0, and the newest set would carry the lowest number in the folder and in
// the name the service receives. While nothing has been removed the numbers
// present run from 0 without a gap, and both rules give the same number.
std::wstring FindFreeFileName(std::wstring_view before, std::wstring_view after) {
    const std::wstring_view prefix = before.substr(FileNameStart(before, PathSeparators::Any));
    const std::wstring lowerPrefix = LowerAscii(prefix);
    const std::wstring lowerAfter = LowerAscii(after);
    unsigned long long next = 0;
    for (const DirEntry& entry : FindEntries(std::wstring(before) + L"*" + std::wstring(after))) {
        const std::wstring name = LowerAscii(entry.name);
        if (name.size() <= lowerPrefix.size() + lowerAfter.size() ||
            !name.starts_with(lowerPrefix) || !name.ends_with(lowerAfter))
            continue;
        const std::wstring_view digits = std::wstring_view(name).substr(
            lowerPrefix.size(), name.size() - lowerPrefix.size() - lowerAfter.size());
        if (digits.size() > 18 || !IsAllDigits(digits)) continue;
        next = std::max(next, std::stoull(std::wstring(digits)) + 1);
    }
    for (unsigned long long n = next;; ++n) {
        std::wstring name = std::wstring(before) + std::to_wstring(n) + std::wstring(after);
        if (!FileExists(name)) return name;
    }
}

std::wstring FileNameSafeProfile(std::wstring_view profile) {
    std::wstring safe(profile);
    for (wchar_t& c : safe) {
        if (c < 32 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos)
            c = L'_';
    }
    return safe;
}

namespace {

// Lines are converted once this many characters have gathered: few calls into
// the system's conversion, little text held twice.
constexpr std::size_t kConvertBatch = 8 * 1024;

}  // namespace

RunFileWriter::RunFileWriter(std::wstring path) : file_(std::move(path)) {}

void RunFileWriter::AppendLine(std::wstring_view line) {
    pending_ += line;
    pending_ += L"\r\n";
    if (pending_.size() >= kConvertBatch) Convert();
}

void RunFileWriter::AppendLines(const std::vector<std::wstring>& lines) {
    for (const std::wstring& line : lines) AppendLine(line);
}

// The code page's conversion works character by character, and a batch always
// ends with a line's CR LF, so converting batch by batch gives the bytes of
// converting the whole text at once.
void RunFileWriter::Convert() {
    if (pending_.empty()) return;
    file_.Write(WideToAnsi(pending_));
    pending_.clear();
}

void RunFileWriter::AppendBytes(std::string_view bytes) {
    Convert();
    file_.Write(bytes);
}

void RunFileWriter::Finish() {
    Convert();
    file_.Finish();
}

void RunFileWriter::Commit() {
    Finish();
    file_.Commit();
}

// Converted line by line, these are the bytes of converting the lines
// together (see Convert).
std::string RunFileBytes(const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (const std::wstring& line : lines) {
        text += line;
        text += L"\r\n";
    }
    return WideToAnsi(text);
}

std::wstring ChangeFileExt(std::wstring_view path, std::wstring_view extension) {
    return std::wstring(WithoutExtension(path, PathSeparators::Any)) + std::wstring(extension);
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
        if (name.size() <= prefix.size() + 4 ||
            LowerAscii(name.substr(0, prefix.size())) != LowerAscii(prefix))
            continue;
        const std::wstring_view digits =
            name.substr(prefix.size(), name.size() - prefix.size() - 4);
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
