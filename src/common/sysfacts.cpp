// The portable half of the system facts: the folders that are built from a
// platform answer, and the Windows folder read from the registry.

#include "common/sysfacts.h"

#include "common/globals.h"
#include "common/paths.h"
#include "common/registry.h"
#include "common/textutil.h"

namespace kelvra {
namespace {

// The older place of "SystemRoot" first, then the one current systems use.
constexpr std::wstring_view kSystemRootKeys[] = {
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
};

}  // namespace

std::wstring GetLocalAppDataDir() {
    return IncludeTrailingBackslash(GetSpecialFolder(kCsidlLocalAppData));
}

std::wstring GetWindowsDir() {
    if (!WindowsDir.empty()) return WindowsDir;
    // Read-only access is all that reading a value needs, and all that a
    // standard user is granted on these machine keys: asking for more would
    // be denied, the folder would come out as a lone backslash, and every
    // application folder would then be discarded as lying inside Windows.
    const auto registry = CreateRegistryAccessor(RegistryRoot::LocalMachine, RegistryView::Own);
    std::wstring systemRoot;
    for (const auto key : kSystemRootKeys) {
        if (registry->OpenKeyReadOnly(key)) {
            // A value that is not text raises RegistryError to our caller.
            systemRoot = registry->ReadString(L"SystemRoot");
            registry->CloseKey();
        }
        if (!systemRoot.empty()) break;
    }
    WindowsDir = IncludeTrailingBackslash(systemRoot);
    return WindowsDir;
}

bool InWindowsFolder(std::wstring_view path) { return PosText(GetWindowsDir(), path) > 0; }

}  // namespace kelvra
