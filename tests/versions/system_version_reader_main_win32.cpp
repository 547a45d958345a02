// The system's side of the differential test of the version-resource lookup:
// asks the system's version functions for the block of each file of a list,
// in order from a given index, and appends one record per file to an output
// file as it goes. A file that makes the system fault ends the process with
// exit code 77 before its record is written, so the test knows which file it
// was and starts a new child after it.
//
//   system_version_reader LIST OUTPUT FIRST
//
// LIST: one path a line, UTF-8. Each record: the file's index, the size
// GetFileVersionInfoSizeW gave, whether GetFileVersionInfoW succeeded (all
// little-endian 32-bit words), then that many bytes of the buffer when it did.

#include "common/win32.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/handles_win32.h"

namespace {

constexpr UINT kFaultExitCode = 77;
// Larger blocks are only sized, not read: no version block is that large.
constexpr DWORD kLargestRead = 16u << 20;

LONG WINAPI EndOnFault(EXCEPTION_POINTERS*) {
    TerminateProcess(GetCurrentProcess(), kFaultExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

std::vector<std::wstring> ReadList(const wchar_t* path) {
    std::vector<std::wstring> paths;
    const kelvra::UniqueHandle file =
        kelvra::MakeUniqueFileHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return paths;
    std::string text;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
        text.append(chunk, got);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const int count = static_cast<int>(end - start);
        std::wstring line(static_cast<std::size_t>(count), L'\0');
        line.resize(static_cast<std::size_t>(
            MultiByteToWideChar(CP_UTF8, 0, text.data() + start, count, line.data(), count)));
        paths.push_back(line);
        start = end + 1;
    }
    return paths;
}

void AppendWord(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(EndOnFault);
    const std::vector<std::wstring> paths = ReadList(argv[1]);
    const kelvra::UniqueHandle output = kelvra::MakeUniqueFileHandle(
        CreateFileW(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) return 3;
    for (std::size_t i = std::wcstoul(argv[3], nullptr, 10); i < paths.size(); ++i) {
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeW(paths[i].c_str(), &handle);
        std::vector<char> buffer;
        bool loaded = false;
        if (size > 0 && size <= kLargestRead) {
            buffer.assign(size, '\0');
            loaded = GetFileVersionInfoW(paths[i].c_str(), handle, size, buffer.data()) != FALSE;
        }
        std::string record;
        AppendWord(record, static_cast<std::uint32_t>(i));
        AppendWord(record, size);
        AppendWord(record, loaded);
        if (loaded) record.append(buffer.data(), buffer.size());
        DWORD written = 0;
        if (!WriteFile(output.get(), record.data(), static_cast<DWORD>(record.size()), &written,
                       nullptr))
            return 4;
    }
    return 0;
}
