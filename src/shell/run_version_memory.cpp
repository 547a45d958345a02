#include "shell/run_version_memory.h"

#include <cstddef>
#include <exception>
#include <span>
#include <utility>

#include "common/clock.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/textconv.h"
#include "common/tools.h"
#include "shell/version.h"

namespace kelvra {
namespace {

// The memory of the file, or why there is none to use.
DecodedVersionMemory ReadMemoryFile(const std::wstring& path) {
    DecodedVersionMemory decoded;
    const std::optional<ReadOnlyFile> file = ReadOnlyFile::Open(path);
    if (!file) {
        decoded.whyNot = "there is no file of remembered reads";
        return decoded;
    }
    // Looked at before a byte is read: a file of any length may stand there.
    if (file->size() >= kMaxVersionMemoryBytes) {
        decoded.whyNot = "the file of remembered reads is too long";
        return decoded;
    }
    std::string bytes(static_cast<std::size_t>(file->size()), '\0');
    if (file->ReadAt(0, std::as_writable_bytes(std::span(bytes))) != bytes.size()) {
        decoded.whyNot = "the file of remembered reads cannot be read";
        return decoded;
    }
    decoded = DecodeVersionMemory(bytes, VersionReaderIdentity());
    if (!decoded.memory)
        decoded.whyNot = "the file of remembered reads is of no use: " + decoded.whyNot;
    return decoded;
}

}  // namespace

std::string VersionReaderIdentity() {
    return std::string(KELVRA_FILE_VERSION_TEXT) + " rules " + std::to_string(kVersionReadingRules);
}

RunVersionMemory::RunVersionMemory(VersionMemoryUse use) {
    std::wstring line;
    if (use == VersionMemoryUse::Off) {
        WriteLog(L"RunInventory: every file read, nothing remembered");
        return;
    }
    path_ = AppDataDir + kVersionMemoryFileName;
    const std::int64_t now = LocalMillis(NowLocal());
    std::string whyFull = "asked for";
    if (use == VersionMemoryUse::Incremental) {
        DecodedVersionMemory decoded = ReadMemoryFile(path_);
        whyFull = decoded.memory ? WhyReadInFull(decoded.fullReadAt, now) : decoded.whyNot;
        if (whyFull.empty()) {
            memory_ = std::move(decoded.memory);
            fullReadAt_ = decoded.fullReadAt;
        }
    }
    if (memory_) {
        line = L"RunInventory: only new and changed files read, " +
               std::to_wstring(memory_->entries()) + L" remembered";
    } else {
        memory_.emplace();
        fullReadAt_ = now;
        line = L"RunInventory: every file read (" + AnsiToWide(whyFull) + L"), then remembered";
    }
    // Before the memory is lent out: a log that cannot be written ends the
    // run here, with nothing to take back.
    WriteLog(line);
    lent_.emplace(&*memory_);
}

void RunVersionMemory::Save() {
    if (!memory_) return;
    try {
        lent_.reset();
        const std::string bytes = std::move(*memory_).Encode(VersionReaderIdentity(), fullReadAt_);
        memory_.reset();
        ReplaceFileBytes(path_, bytes);
    } catch (const std::exception& error) {
        try {
            WriteLog(L"RunInventory: the remembered version reads were not saved: " +
                     ErrorText(error));
        } catch (...) {
            // The log is a developer's trace; the run is done either way.
        }
    }
    lent_.reset();
    memory_.reset();
}

}  // namespace kelvra
