#include "common/tools.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <utility>

#include "common/clock.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/globals.h"
#include "common/textconv.h"

namespace kelvra {
namespace {

std::wstring TwoDigits(int value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%02d", value % 100);
    return text;
}

std::wstring ThreeDigits(int value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%03d", value % 1000);
    return text;
}

class FormatError : public std::runtime_error {
  public:
    FormatError() : std::runtime_error("format does not fit its arguments") {}
};

std::wstring FormatOrThrow(std::wstring_view format, std::initializer_list<FormatArg> args) {
    std::wstring result;
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != L'%') {
            result += format[i];
            continue;
        }
        if (++i == format.size()) throw FormatError();
        const wchar_t conversion = format[i];
        if (conversion == L'%') {
            result += L'%';
            continue;
        }
        if (next == args.end()) throw FormatError();
        const FormatArg& arg = *next++;
        if (conversion == L's' && std::holds_alternative<std::wstring_view>(arg)) {
            result += std::get<std::wstring_view>(arg);
        } else if (conversion == L'd' && std::holds_alternative<long long>(arg)) {
            result += std::to_wstring(std::get<long long>(arg));
        } else {
            throw FormatError();
        }
    }
    return result;
}

MessageBoxHandler& InstalledHandler() {
    static MessageBoxHandler handler;
    return handler;
}

}  // namespace

std::wstring FormatLogLine(const LocalTime& time, std::wstring_view message) {
    const std::wstring colon = LocaleTimeSeparator();
    std::wstring line = L"<";
    line += TwoDigits(time.day) + L"." + TwoDigits(time.month) + L"." + TwoDigits(time.year);
    line += L" " + TwoDigits(time.hour) + colon + TwoDigits(time.minute) + colon +
            TwoDigits(time.second) + colon + ThreeDigits(time.millisecond);
    line += L"|" + AppVersion + L"> ";
    line += message;
    return line;
}

void WriteLog(std::wstring_view message) {
    if (!LogEnabled) return;
    AppendLineToFile(AppDataDir + L"logreg.txt", FormatLogLine(NowLocal(), message));
}

void AppendLineToFile(const std::wstring& path, std::wstring_view line) {
    std::string bytes = WideToAnsi(line);
    bytes += "\r\n";
    AppendFileBytes(path, bytes);
}

std::wstring SafeFormat(std::wstring_view format, std::initializer_list<FormatArg> args) {
    try {
        return FormatOrThrow(format, args);
    } catch (const FormatError&) {
        WriteLog(L"exception formatting string [" + std::wstring(format) + L"]");
        return std::wstring(format);
    }
}

void WriteLogFmt(std::wstring_view format, std::initializer_list<FormatArg> args) {
    WriteLog(SafeFormat(format, args));
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    return std::exchange(InstalledHandler(), std::move(handler));
}

int ShowMessageBox(const MessageBoxRequest& request) {
    const MessageBoxHandler& handler = InstalledHandler();
    return handler ? handler(request) : ShowPlatformMessageBox(request);
}

void ShowErrorAndLog(std::wstring_view message) {
    WriteLog(message);
    ShowMessageBox({std::wstring(message), L"Error", kMbOk | kMbIconError});
}

void ShowNotice(std::wstring_view message) {
    ShowMessageBox({std::wstring(message), ApplicationTitle(), kMbOk});
}

bool CopyFileSave(const std::wstring& source, const std::wstring& destination, bool failIfExists) {
    try {
        return PlatformCopyFile(source, destination, failIfExists);
    } catch (const std::exception& error) {
        try {
            WriteLog(SafeFormat(L"CopyFileSave fout [%s,%s]: %s",
                                {source, destination, ErrorText(error)}));
        } catch (...) {
            // The copy promises never to raise, not even when the log fails.
        }
        return false;
    }
}

}  // namespace kelvra
