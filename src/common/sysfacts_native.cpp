// Stand-ins for the development machine, from the environment: enough for the
// portable code to find a data folder and form a profile name.

#include "common/sysfacts.h"

#include <unistd.h>

#include <cstdlib>

#include "common/textconv.h"
#include "common/textutil.h"

namespace kelvra {
namespace {

std::wstring Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? AnsiToWide(value) : std::wstring();
}

}  // namespace

std::wstring GetSpecialFolder(int csidl) {
    if (csidl != kCsidlLocalAppData) return {};
    std::wstring folder = Environment("LOCALAPPDATA");
    if (folder.empty()) folder = Environment("HOME");
    while (folder.size() > 1 && (folder.back() == L'/' || folder.back() == L'\\'))
        folder.pop_back();
    return folder;
}

std::wstring GetTempDir() {
    std::wstring folder = Environment("TMPDIR");
    if (folder.empty()) return L"/tmp/";
    if (folder.back() != L'/' && folder.back() != L'\\') folder += L'/';
    return folder;
}

std::wstring GetComputerNameText() {
    std::wstring name = Environment("COMPUTERNAME");
    if (name.empty()) {
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) == 0) name = AnsiToWide(host);
    }
    // A NetBIOS name has at most 15 characters.
    return name.substr(0, 15);
}

std::wstring GetUserNameText() {
    const std::wstring name = Trim(Environment("USER"));
    return name.size() > 252 ? std::wstring() : name;
}

// The native build stands in for 64-bit Windows, so that portable tests of
// the run see both registry views of the in-memory registry.
bool IsRunningOnWow64() { return true; }

}  // namespace kelvra
