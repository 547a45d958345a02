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

}  // namespace kelvra
