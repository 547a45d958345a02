#include "support/process_win32.h"

#include <algorithm>

#include "common/files.h"
#include "common/handles_win32.h"
#include "common/textconv.h"
#include "support/temp_dir.h"

namespace kelvra::testing {

ProgramResult RunProgram(const std::wstring& commandLine, unsigned long timeoutMs) {
    TempDir dir;
    const std::wstring outputPath = dir / L"output.txt";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    UniqueHandle output = MakeUniqueFileHandle(
        CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION process{};
    std::wstring mutableLine = commandLine;
    ProgramResult result;
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        result.exitCode = 0xFFFFFFFF;
        result.output = "CreateProcessW failed";
        return result;
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
        result.timedOut = true;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    result.exitCode = exitCode;
    output.reset();
    result.output = ReadFileBytes(outputPath);
    return result;
}

std::wstring HostPathToWindows(const std::string& hostPath) {
    std::wstring path = AnsiToWide(hostPath);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (!path.empty() && path.front() == L'\\') path = L"Z:" + path;
    return path;
}

std::wstring Quoted(const std::wstring& path) {
    // Backslashes before the closing quote are doubled, or the program's
    // argument parser would read the last one as escaping the quote.
    std::wstring text = path;
    std::size_t trailing = 0;
    while (trailing < text.size() && text[text.size() - 1 - trailing] == L'\\') ++trailing;
    text.append(trailing, L'\\');
    return L"\"" + text + L"\"";
}

}  // namespace kelvra::testing
