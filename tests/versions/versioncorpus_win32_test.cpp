// The reader on real executables made by another toolchain: every PE file
// that Debian's Wine packages install for 32-bit Windows (several hundred
// programs and libraries), read by the program's reader and by a plain read
// through the system's functions. The three texts must agree on every file.

#include "common/win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/files.h"
#include "fixtures/fixture_files_win32.h"
#include "versions/fileversion.h"

namespace kelvra {
namespace {

bool IsPeFile(const std::wstring& path) {
    const std::optional<ReadOnlyFile> file = ReadOnlyFile::Open(path);
    std::byte dos[64] = {}, signature[4] = {};
    if (!file || file->ReadAt(0, dos) != sizeof dos || dos[0] != std::byte{'M'} ||
        dos[1] != std::byte{'Z'})
        return false;
    std::uint32_t at = 0;
    std::memcpy(&at, dos + 0x3C, 4);
    return file->ReadAt(at, signature) == sizeof signature &&
           std::memcmp(signature, "PE\0\0", 4) == 0;
}

// A plain read through the system: the fixed file version, and the two
// strings of the first translation up to their NUL.
struct SystemTexts {
    bool block = false;
    std::wstring fixedVersion, fileVersionText, productVersionText;
};

SystemTexts PlainSystemRead(const std::wstring& path) {
    SystemTexts texts;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return texts;
    texts.block = true;
    // The system is given the size it asked for; the zeros behind it only
    // keep a block in the 16-bit layout from damaging this test's heap.
    std::vector<wchar_t> buffer((std::size_t{size} * 4 + 0x10000) / sizeof(wchar_t));
    if (!GetFileVersionInfoW(path.c_str(), handle, size, buffer.data())) return texts;
    const wchar_t* const end = buffer.data() + buffer.size();

    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(buffer.data(), L"\\", &value, &length) &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        if (fixed->dwSignature == 0xFEEF04BD) {
            wchar_t text[32];
            std::swprintf(text, 32, L"%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                          LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                          LOWORD(fixed->dwFileVersionLS));
            texts.fixedVersion = text;
        }
    }
    if (!VerQueryValueW(buffer.data(), L"\\VarFileInfo\\Translation", &value, &length) ||
        length < 4)
        return texts;
    const DWORD translation = *static_cast<const DWORD*>(value);
    const auto text = [&](const wchar_t* key) {
        wchar_t subBlock[64];
        std::swprintf(subBlock, 64, L"\\StringFileInfo\\%04X%04X\\%ls", LOWORD(translation),
                      HIWORD(translation), key);
        if (!VerQueryValueW(buffer.data(), subBlock, &value, &length)) return std::wstring();
        const auto* chars = static_cast<const wchar_t*>(value);
        return std::wstring(chars, wcsnlen(chars, static_cast<std::size_t>(end - chars)));
    };
    texts.fileVersionText = text(L"FileVersion");
    texts.productVersionText = text(L"ProductVersion");
    return texts;
}

TEST(WineCorpus, EveryLibraryReadsAsThePlainSystemReadReadsIt) {
    const std::vector<std::wstring> folders = fixtures::InstalledWineFolders(false);
    ASSERT_FALSE(folders.empty()) << "Wine's 32-bit Windows files are not installed (wine32:i386)";
    const std::wstring& folder = folders.front();

    fixtures::ScratchFolder scratch;
    std::size_t files = 0, blocks = 0, withStrings = 0, disagree = 0;
    for (const DirEntry& entry : FindEntries(folder + L"\\*")) {
        if (entry.isDirectory) continue;
        const std::wstring original = folder + L"\\" + entry.name;
        if (!IsPeFile(original)) continue;
        const std::wstring path = fixtures::NeutralLink(scratch, original, files++);

        const SystemTexts system = PlainSystemRead(path);
        const FileVersionResult program = ReadFileVersions(path);
        blocks += system.block;
        withStrings += !system.fileVersionText.empty() || !system.productVersionText.empty();
        const bool same = program.ok && program.fixedVersion == system.fixedVersion &&
                          program.fileVersionText == system.fileVersionText &&
                          program.productVersionText == system.productVersionText;
        disagree += !same;
        EXPECT_TRUE(same) << WideToAnsi(entry.name) << ": program ["
                          << WideToAnsi(program.fixedVersion) << "] ["
                          << WideToAnsi(program.fileVersionText) << "] ["
                          << WideToAnsi(program.productVersionText) << "], system ["
                          << WideToAnsi(system.fixedVersion) << "] ["
                          << WideToAnsi(system.fileVersionText) << "] ["
                          << WideToAnsi(system.productVersionText) << "]";
        DeleteFileW(path.c_str());
    }
    std::cout << "Wine corpus: " << files << " PE files, " << blocks << " with a version block, "
              << withStrings << " with version strings, " << files - disagree << " read alike, "
              << disagree << " differ\n";
    RecordProperty("files", static_cast<int>(files));
    RecordProperty("blocks", static_cast<int>(blocks));
    // Debian 12's Wine installs 754, 234 of them with a version block; far
    // fewer means the folder is not the one meant.
    EXPECT_GT(files, 300u);
    EXPECT_GT(blocks, 150u);
}

}  // namespace
}  // namespace kelvra
