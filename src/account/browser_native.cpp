// The development machine has no shell associations: the lookup finds
// nothing and no program is ever started.

#include "account/browser.h"

#include "common/files.h"

namespace kelvra {
namespace {

class NativeBrowserShell final : public BrowserShell {
  public:
    bool CreateProbeFile(const std::wstring& path) override {
        try {
            WriteFileBytes(path, {});
            return true;
        } catch (const FileError&) {
            return false;
        }
    }
    std::wstring ExecutableForDocument(const std::wstring&) override { return {}; }
    void Open(const std::wstring&, const std::wstring&) override {}
};

}  // namespace

BrowserShell& SystemBrowserShell() {
    static NativeBrowserShell shell;
    return shell;
}

}  // namespace kelvra
