#pragma once
// Reporting routines every subsystem uses: the developer's trace log, a
// formatter that never fails, the program's message boxes and a file copy
// that never raises.

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace kelvra {

// ---- the trace log ---------------------------------------------------------

// Appends "<dd.mm.yy hh:nn:ss:zzz|AppVersion> message" to AppDataDir +
// "logreg.txt" while LogEnabled is on; otherwise returns at once. A log file
// that cannot be written raises FileError to the caller.
void WriteLog(std::wstring_view message);

// One argument of SafeFormat: a text for "%s", an integer for "%d".
using FormatArg = std::variant<std::wstring_view, long long>;

// printf-like: "%s" takes a text, "%d" an integer, "%%" is a percent sign.
// A format that does not fit its arguments logs "exception formatting
// string [<format>]" and yields the format unchanged.
std::wstring SafeFormat(std::wstring_view format, std::initializer_list<FormatArg> args);

// SafeFormat, then WriteLog.
void WriteLogFmt(std::wstring_view format, std::initializer_list<FormatArg> args);

// Appends the line and CR LF, in the ANSI code page, to the file at the path,
// creating it when missing. Opens and closes the file on every call.
void AppendLineToFile(const std::wstring& path, std::wstring_view line);

// The log line for a message at the given time, without the line end.
struct LocalTime;
std::wstring FormatLogLine(const LocalTime& time, std::wstring_view message);

// ---- message boxes ---------------------------------------------------------

// Message box styles, with the values of the Windows constants.
inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbIconError = 0x10;

struct MessageBoxRequest {
    std::wstring text;
    std::wstring caption;
    unsigned style = kMbOk;
};

// Every box of the program goes through one handler. The default shows a real
// modal box (Windows) or writes to standard error (native); tests install
// their own so that nothing ever blocks on a modal box. Returns the button
// pressed (1 for OK).
using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

// Installs a handler; an empty one restores the default. Returns the previous.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

int ShowMessageBox(const MessageBoxRequest& request);

// Logs the message, then shows it with the caption "Error", the error icon
// and one OK button.
void ShowErrorAndLog(std::wstring_view message);

// Shows the message in a plain box whose caption is the application's title.
void ShowNotice(std::wstring_view message);

// The application's title: the executable's file name without extension.
std::wstring ApplicationTitle();

// ---- files -----------------------------------------------------------------

// Copies source to destination through the system's file copy. With
// failIfExists an existing destination makes the copy fail; without it the
// destination is overwritten. Never raises.
bool CopyFileSave(const std::wstring& source, const std::wstring& destination, bool failIfExists);

// ---- platform rim (tools_win32.cpp / tools_native.cpp) ----------------------

int ShowPlatformMessageBox(const MessageBoxRequest& request);
bool PlatformCopyFile(const std::wstring& source, const std::wstring& destination,
                      bool failIfExists);

}  // namespace kelvra
