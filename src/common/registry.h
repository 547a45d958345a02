#pragma once
// The registry accessor: one root key, one registry view, at most one open
// key at a time, read-only. The inventory reads the uninstall entries through
// it; GetWindowsDir reads "SystemRoot" through it. The Windows build talks to
// advapi32; the portable build and the portable tests use MemoryRegistry.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace kelvra {

enum class RegistryRoot { LocalMachine, CurrentUser, ClassesRoot };

// Own: KEY_READ alone (the process's own view; redirected to the 32-bit
// branch under WOW64). Wow64_64: KEY_READ | KEY_WOW64_64KEY (0x20119).
enum class RegistryView { Own, Wow64_64 };

// The value types as the registry stores them (same numbers as REG_*).
enum class RegistryType : std::uint32_t {
    None = 0,
    String = 1,        // REG_SZ
    ExpandString = 2,  // REG_EXPAND_SZ
    Binary = 3,        // REG_BINARY
    DWord = 4,         // REG_DWORD
    DWordBigEndian = 5,
    Link = 6,
    MultiString = 7,  // REG_MULTI_SZ
    QWord = 11,       // REG_QWORD
};

// Raised where the platform's accessor would raise: a value of the wrong type
// ("Invalid data type for '<name>'") or a read that fails.
class RegistryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class RegistryAccessor {
  public:
    virtual ~RegistryAccessor() = default;

    // Opens path (relative to the root) for reading; never creates it. Closes
    // any key opened before. False when the key cannot be opened.
    virtual bool OpenKeyReadOnly(std::wstring_view path) = 0;
    virtual void CloseKey() = 0;
    // The open key's path as given to OpenKeyReadOnly; empty when none is open.
    virtual std::wstring CurrentPath() const = 0;

    virtual bool ValueExists(std::wstring_view name) = 0;
    // RegistryType::None when the value does not exist.
    virtual RegistryType GetDataType(std::wstring_view name) = 0;

    // Text of a REG_SZ or REG_EXPAND_SZ value exactly as stored (expandable
    // text is not expanded), up to its first NUL, whatever its length and
    // whether or not it was stored with a terminator. A missing value reads
    // as empty text. Any other type raises RegistryError.
    virtual std::wstring ReadString(std::wstring_view name) = 0;

    // A REG_DWORD as a signed 32-bit integer. Any other type, a missing
    // value, or a REG_DWORD whose data is not exactly four bytes raises
    // RegistryError.
    virtual std::int32_t ReadInteger(std::wstring_view name) = 0;

    // Names of the open key's direct subkeys, in the registry's order.
    // `between`, when given, is called every so often while the names are
    // read: a key of thousands of subkeys takes a while to list, and a
    // caller may have a user interface to keep alive meanwhile.
    virtual std::vector<std::wstring> GetKeyNames(const std::function<void()>& between = {}) = 0;

    // While no key is open the accessor sees no values and no subkeys.
};

// An accessor on the machine's registry (Windows) or on the process's
// MemoryRegistry (native build).
std::unique_ptr<RegistryAccessor> CreateRegistryAccessor(RegistryRoot root, RegistryView view);

// An in-memory registry for portable tests: keys by path, values as raw
// bytes with their type, so that hostile data (odd lengths, missing
// terminators, wrong types) can be laid out exactly.
class MemoryRegistry {
  public:
    struct Value {
        RegistryType type = RegistryType::None;
        std::string data;  // raw bytes, as RegQueryValueExW would return them
    };

    void SetString(RegistryRoot root, RegistryView view, std::wstring_view path,
                   std::wstring_view name, std::wstring_view text,
                   RegistryType type = RegistryType::String);
    void SetDWord(RegistryRoot root, RegistryView view, std::wstring_view path,
                  std::wstring_view name, std::uint32_t value);
    void SetRaw(RegistryRoot root, RegistryView view, std::wstring_view path,
                std::wstring_view name, RegistryType type, std::string data);
    // Creates an empty key (and its parents).
    void AddKey(RegistryRoot root, RegistryView view, std::wstring_view path);
    void Clear();

    std::unique_ptr<RegistryAccessor> CreateAccessor(RegistryRoot root, RegistryView view) const;

    // The instance behind CreateRegistryAccessor in the native build.
    static MemoryRegistry& Machine();

  private:
    friend class MemoryRegistryAccessor;
    struct Key {
        std::map<std::wstring, Value> values;          // by folded name
        std::map<std::wstring, std::wstring> subkeys;  // folded name -> name as created
    };
    // (root, view, folded path with its parts joined by single backslashes).
    using KeyId = std::tuple<RegistryRoot, RegistryView, std::wstring>;

    Key& MakeKey(RegistryRoot root, RegistryView view, std::wstring_view path);
    const Key* FindKey(RegistryRoot root, RegistryView view, std::wstring_view path) const;

    std::map<KeyId, Key> keys_;
};

}  // namespace kelvra
