#include "account/browser.h"

#include <memory>

#include "common/files.h"
#include "common/paths.h"
#include "common/registry.h"
#include "common/scope.h"
#include "common/sysfacts.h"
#include "common/tools.h"

namespace kelvra {
namespace {

// The default value of the HTTP protocol's open command; empty when the key
// is missing or its value cannot be read as text. Read-only: a standard user
// may not open the machine's classes with any wider access.
std::wstring HttpOpenCommand() {
    try {
        auto registry = CreateRegistryAccessor(RegistryRoot::ClassesRoot, RegistryView::Own);
        if (!registry->OpenKeyReadOnly(kHttpOpenCommandKey)) return {};
        std::wstring command = registry->ReadString(L"");
        registry->CloseKey();
        return command;
    } catch (...) {
        return {};
    }
}

}  // namespace

std::wstring ProgramPathOfCommand(std::wstring_view command) {
    const auto open = command.find(L'"');
    if (open == std::wstring_view::npos) return {};
    const auto close = command.find(L'"', open + 1);
    if (close == std::wstring_view::npos) return {};
    return std::wstring(command.substr(open + 1, close - open - 1));
}

HtmlHandler FindHtmlHandler(BrowserShell& shell) {
    const std::wstring folder = GetTempDir();
    // Without a temporary folder the probe would land in whatever the
    // current folder is; there is then nothing to ask about.
    if (folder.empty()) return {};
    const std::wstring probe = IncludeTrailingSeparator(folder) + kProbeFileName;

    // The probe goes again however the lookup ends.
    const ScopeExit deleteProbe([&probe] {
        try {
            DeleteFileAt(probe);
        } catch (...) {
            // A probe left behind harms nothing; the lookup's result counts.
        }
    });

    // A probe that cannot be created still lets the shell be asked; it then
    // finds no association and the caller falls back.
    shell.CreateProbeFile(probe);
    const std::wstring program = shell.ExecutableForDocument(probe);

    return {FileNamePart(program, PathSeparators::Any), FolderPart(program, PathSeparators::Any)};
}

void OpenUrlInBrowser(BrowserShell& shell, const std::wstring& address) {
    try {
        try {
            const HtmlHandler handler = FindHtmlHandler(shell);
            if (!handler.fileName.empty()) {
                const std::wstring path =
                    (handler.folder.empty() ? L"" : IncludeTrailingSeparator(handler.folder)) +
                    handler.fileName;
                if (FileExists(path)) {
                    shell.Open(path, address);
                    return;
                }
            }
        } catch (...) {
            // Any failure of the association lookup leads to the fallback.
        }

        const std::wstring command = HttpOpenCommand();
        if (command.empty()) {
            ShowNotice(kNoBrowserNotice);
            return;
        }
        const std::wstring program = ProgramPathOfCommand(command);
        // The browser starts only once the user has closed this notice.
        ShowNotice(program);
        if (!program.empty()) shell.Open(program, address);
    } catch (...) {
        // Opening a browser is never worth an error of its own.
    }
}

HtmlHandler FindHtmlHandler() { return FindHtmlHandler(SystemBrowserShell()); }

void OpenUrlInBrowser(const std::wstring& address) {
    OpenUrlInBrowser(SystemBrowserShell(), address);
}

}  // namespace kelvra
