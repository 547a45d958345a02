#pragma once
// Opening a web address in the user's browser: the program associated with
// ".htm" files first, the command registered for HTTP second.

#include <string>
#include <string_view>

namespace kelvra {

struct HtmlHandler {
    std::wstring fileName;  // e.g. browser.exe
    std::wstring folder;    // with its trailing backslash
};

// The program the shell would open an ".htm" file with, found through an
// empty probe file "htmpl.htm" in the temporary folder (deleted again in
// every case); both texts empty when there is none.
HtmlHandler FindHtmlHandler();

// Starts the browser on the address, or shows a notice when none can be
// found. Never raises.
void OpenUrlInBrowser(const std::wstring& address);

// The program path of a registered open command: the text between its first
// two double quotes; empty when it has fewer than two.
std::wstring ProgramPathOfCommand(std::wstring_view command);

// ---- the shell behind the two routines ----------------------------------------

inline constexpr wchar_t kProbeFileName[] = L"htmpl.htm";
inline constexpr wchar_t kHttpOpenCommandKey[] = L"HTTP\\shell\\open\\command";
inline constexpr wchar_t kNoBrowserNotice[] = L"url way";

// The few shell calls the browser launch needs. The Windows build asks the
// shell; tests put in their own.
class BrowserShell {
  public:
    virtual ~BrowserShell() = default;

    // Creates the file empty (emptying an existing one) with read and write
    // access, no sharing and normal attributes, and closes it at once.
    // False when it cannot be created.
    virtual bool CreateProbeFile(const std::wstring& path) = 0;

    // The full path of the program the shell would open the document with;
    // empty when there is none or the shell fails.
    virtual std::wstring ExecutableForDocument(const std::wstring& documentPath) = 0;

    // Starts the program with the verb "open", the parameters as they stand,
    // no working folder, no owner window and the show mode SW_SHOW. Whether
    // it started is not examined.
    virtual void Open(const std::wstring& program, const std::wstring& parameters) = 0;
};

// The shell of this platform: the Windows shell, or on the development
// machine a stand-in without associations that starts nothing.
BrowserShell& SystemBrowserShell();

// The two routines on a given shell; the registry is the accessor's of this
// build (HKEY_CLASSES_ROOT, the process's own view).
HtmlHandler FindHtmlHandler(BrowserShell& shell);
void OpenUrlInBrowser(BrowserShell& shell, const std::wstring& address);

}  // namespace kelvra
