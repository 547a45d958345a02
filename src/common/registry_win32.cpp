// The registry accessor over advapi32. Keys are opened with KEY_READ only and
// never created: the program reads the machine's keys as a standard user, for
// whom any wider access to HKEY_LOCAL_MACHINE is denied.

#include "common/registry.h"

#include <algorithm>
#include <optional>
#include <string>

#include "common/handles_win32.h"
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
        last_.reset();
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
        last_.reset();
    }

    std::wstring CurrentPath() const override { return path_; }

    bool ValueExists(std::wstring_view name) override { return Read(name).status == ERROR_SUCCESS; }

    RegistryType GetDataType(std::wstring_view name) override {
        const ValueRead& value = Read(name);
        if (value.status != ERROR_SUCCESS) return RegistryType::None;
        return static_cast<RegistryType>(value.type);
    }

    std::wstring ReadString(std::wstring_view name) override {
        const ValueRead& value = Read(name);
        if (value.status == ERROR_FILE_NOT_FOUND) return {};
        if (value.status != ERROR_SUCCESS) ThrowGetDataFailed(name);
        if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) ThrowInvalidDataType(name);
        return DecodeRegistryText(value.bytes);
    }

    std::int32_t ReadInteger(std::wstring_view name) override {
        const ValueRead& value = Read(name);
        if (value.status != ERROR_SUCCESS) ThrowGetDataFailed(name);
        if (value.type != REG_DWORD) ThrowInvalidDataType(name);
        return DecodeRegistryDWord(value.bytes, name);
    }

    std::vector<std::wstring> GetKeyNames(const std::function<void()>& between) override {
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
            // Each name is a round trip to the registry's keeper.
            if (between && index % 64 == 0) between();
        }
        return names;
    }

  private:
    struct ValueRead {
        std::wstring name;
        LSTATUS status = ERROR_FILE_NOT_FOUND;
        DWORD type = REG_NONE;
        std::string bytes;  // raw data
    };

    // The value's status, type and raw data. Every registry call is a round
    // trip to the registry's keeper (a process of its own under Wine), and a
    // number is asked whether it exists, then for its type, then for its
    // data: the last value read answers all three, until another value is
    // read or the key is opened or closed.
    const ValueRead& Read(std::wstring_view name) {
        if (last_ && last_->name == name) return *last_;
        ValueRead value;
        value.name = name;
        value.status = Query(value.name, &value.type, &value.bytes);
        last_ = std::move(value);
        return *last_;
    }

    // Type and data in one call when the data fits a small buffer, as
    // nearly every value of an uninstall entry does; a larger value is read
    // again at the size the call reported, asking again while the value
    // grows between two calls. ERROR_FILE_NOT_FOUND when the value or the
    // key is missing.
    LSTATUS Query(const std::wstring& name, DWORD* type, std::string* bytes) const {
        if (!key_) return ERROR_FILE_NOT_FOUND;
        DWORD size = kFirstReadBytes;
        // A value that keeps growing under our feet is read a few times at
        // most; after that the read is reported as failed.
        for (int attempt = 0; attempt < 8; ++attempt) {
            // One spare code unit: some systems add a terminator when there
            // is room, and the size reported back says what was really read.
            bytes->assign(size + sizeof(wchar_t), '\0');
            DWORD got = static_cast<DWORD>(bytes->size());
            const LSTATUS status = RegQueryValueExW(key_.get(), name.c_str(), nullptr, type,
                                                    reinterpret_cast<BYTE*>(bytes->data()), &got);
            if (status == ERROR_SUCCESS) {
                bytes->resize(std::min<std::size_t>(got, bytes->size()));
                return status;
            }
            if (status != ERROR_MORE_DATA) {
                bytes->clear();
                return status;
            }
            size = got;
        }
        bytes->clear();
        return ERROR_MORE_DATA;
    }

    static constexpr DWORD kFirstReadBytes = 512;

    HKEY root_;
    REGSAM access_;
    UniqueHKey key_;
    std::wstring path_;
    std::optional<ValueRead> last_;
};

}  // namespace

std::unique_ptr<RegistryAccessor> CreateRegistryAccessor(RegistryRoot root, RegistryView view) {
    return std::make_unique<Win32RegistryAccessor>(root, view);
}

}  // namespace kelvra
