// The registry accessor over advapi32. Keys are opened with KEY_READ only and
// never created: the program reads the machine's keys as a standard user, for
// whom any wider access to HKEY_LOCAL_MACHINE is denied.

#include <algorithm>
#include <string>

#include "common/handles_win32.h"
#include "common/registry.h"
#include "common/registry_text.h"
#include "common/textconv.h"

namespace kelvra {
namespace {

HKEY RootKey(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::CurrentUser: return HKEY_CURRENT_USER;
        case RegistryRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
        case RegistryRoot::LocalMachine: break;
    }
    return HKEY_LOCAL_MACHINE;
}

// Under WOW64 a 32-bit process sees the 32-bit branch of the redirected keys
// unless it asks for the 64-bit one; on 32-bit Windows the flag is ignored.
REGSAM ViewFlags(RegistryView view) { return view == RegistryView::Wow64_64 ? KEY_WOW64_64KEY : 0; }

class Win32RegistryAccessor final : public RegistryAccessor {
public:
    Win32RegistryAccessor(RegistryRoot root, RegistryView view)
        : root_(RootKey(root)), access_(KEY_READ | ViewFlags(view)) {}

    bool OpenKeyReadOnly(std::wstring_view path) override {
        CloseKey();
        const std::wstring text(path);
        HKEY opened = nullptr;
        if (RegOpenKeyExW(root_, text.c_str(), 0, access_, &opened) != ERROR_SUCCESS) return false;
        key_.reset(opened);
        path_ = text;
        return true;
    }

    void CloseKey() override {
        key_.reset();
        path_.clear();
    }

    std::wstring CurrentPath() const override { return path_; }

    bool ValueExists(std::wstring_view name) override {
        DWORD type = 0;
        return Query(name, &type, nullptr) == ERROR_SUCCESS;
    }

    RegistryType GetDataType(std::wstring_view name) override {
        DWORD type = 0;
        if (Query(name, &type, nullptr) != ERROR_SUCCESS) return RegistryType::None;
        return static_cast<RegistryType>(type);
    }

    std::wstring ReadString(std::wstring_view name) override {
        DWORD type = 0;
        std::string bytes;
        const LSTATUS status = Query(name, &type, &bytes);
        if (status == ERROR_FILE_NOT_FOUND) return {};
        if (status != ERROR_SUCCESS) ThrowGetDataFailed(name);
        if (type != REG_SZ && type != REG_EXPAND_SZ) ThrowInvalidDataType(name);
        return DecodeRegistryText(bytes);
    }

    std::int32_t ReadInteger(std::wstring_view name) override {
        DWORD type = 0;
        std::string bytes;
        if (Query(name, &type, &bytes) != ERROR_SUCCESS) ThrowGetDataFailed(name);
        if (type != REG_DWORD) ThrowInvalidDataType(name);
        return DecodeRegistryDWord(bytes, name);
    }

    std::vector<std::wstring> GetKeyNames() override {
        std::vector<std::wstring> names;
        if (!key_) return names;
        DWORD longest = 0;
        if (RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, nullptr, &longest, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            longest = 0;
        // Key names are at most 255 characters; the key's own figure is used
        // when it is larger, and a name that still does not fit grows the
        // buffer rather than being skipped.
        std::wstring buffer(std::max<DWORD>(longest, 255) + 1, L'\0');
        for (DWORD index = 0;;) {
            DWORD length = static_cast<DWORD>(buffer.size());
            const LSTATUS status = RegEnumKeyExW(key_.get(), index, buffer.data(), &length, nullptr,
                                                 nullptr, nullptr, nullptr);
            if (status == ERROR_NO_MORE_ITEMS) break;
            if (status == ERROR_MORE_DATA && buffer.size() < 32768) {
                buffer.resize(buffer.size() * 2);
                continue;
            }
            if (status != ERROR_SUCCESS)
                throw RegistryError("Failed to list the subkeys of '" + WideToAnsi(path_) + "'");
            names.emplace_back(buffer.data(), length);
            ++index;
        }
        return names;
    }

private:
    // The value's type and, when bytes is given, its raw data. Reads the size
    // first and then the data, asking again while the value grows between
    // the two calls. ERROR_FILE_NOT_FOUND when the value or the key is missing.
    LSTATUS Query(std::wstring_view name, DWORD* type, std::string* bytes) const {
        if (!key_) return ERROR_FILE_NOT_FOUND;
        const std::wstring valueName(name);
        DWORD size = 0;
        LSTATUS status = RegQueryValueExW(key_.get(), valueName.c_str(), nullptr, type, nullptr, &size);
        if (status != ERROR_SUCCESS || !bytes) return status;
        // A value that keeps growing under our feet is read a few times at
        // most; after that the read is reported as failed.
        for (int attempt = 0; attempt < 8; ++attempt) {
            // One spare code unit: some systems add a terminator when there
            // is room, and the size reported back says what was really read.
            bytes->assign(size + sizeof(wchar_t), '\0');
            DWORD got = static_cast<DWORD>(bytes->size());
            status = RegQueryValueExW(key_.get(), valueName.c_str(), nullptr, type,
                                      reinterpret_cast<BYTE*>(bytes->data()), &got);
            if (status == ERROR_SUCCESS) {
                bytes->resize(std::min<std::size_t>(got, bytes->size()));
                return status;
            }
            if (status != ERROR_MORE_DATA) return status;
            size = got;
        }
        return ERROR_MORE_DATA;
    }

    HKEY root_;
    REGSAM access_;
    UniqueHKey key_;
    std::wstring path_;
};

}  // namespace

std::unique_ptr<RegistryAccessor> CreateRegistryAccessor(RegistryRoot root, RegistryView view) {
    return std::make_unique<Win32RegistryAccessor>(root, view);
}

}  // namespace kelvra
