// The in-memory registry: the same accessor contract as the Win32 one, over
// keys and raw value bytes kept in maps. Values are decoded exactly as the
// Win32 accessor decodes what advapi32 hands out, so a test that lays out
// hostile bytes here sees what the program would see on Windows.

#include <cwctype>
#include <utility>

#include "common/registry.h"
#include "common/registry_text.h"

namespace kelvra {
namespace {

// The registry ignores letter case in key and value names.
std::wstring Fold(std::wstring_view text) {
    std::wstring folded(text);
    for (auto& ch : folded) ch = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(ch)));
    return folded;
}

// The parts of a key path; empty parts (doubled, leading or trailing
// backslashes) are skipped.
std::vector<std::wstring_view> PathParts(std::wstring_view path) {
    std::vector<std::wstring_view> parts;
    while (!path.empty()) {
        const auto cut = path.find(L'\\');
        const auto part = path.substr(0, cut);
        if (!part.empty()) parts.push_back(part);
        if (cut == std::wstring_view::npos) break;
        path.remove_prefix(cut + 1);
    }
    return parts;
}

std::wstring FoldedPath(std::wstring_view path) {
    std::wstring joined;
    for (const auto part : PathParts(path)) {
        if (!joined.empty()) joined += L'\\';
        joined += Fold(part);
    }
    return joined;
}

}  // namespace

class MemoryRegistryAccessor final : public RegistryAccessor {
  public:
    MemoryRegistryAccessor(const MemoryRegistry& registry, RegistryRoot root, RegistryView view)
        : registry_(registry), root_(root), view_(view) {}

    bool OpenKeyReadOnly(std::wstring_view path) override {
        CloseKey();
        if (!registry_.FindKey(root_, view_, path)) return false;
        open_ = true;
        path_ = path;
        return true;
    }

    void CloseKey() override {
        open_ = false;
        path_.clear();
    }

    std::wstring CurrentPath() const override { return path_; }

    bool ValueExists(std::wstring_view name) override { return FindValue(name) != nullptr; }

    RegistryType GetDataType(std::wstring_view name) override {
        const auto* value = FindValue(name);
        return value ? value->type : RegistryType::None;
    }

    std::wstring ReadString(std::wstring_view name) override {
        const auto* value = FindValue(name);
        if (!value) return {};
        if (value->type != RegistryType::String && value->type != RegistryType::ExpandString)
            ThrowInvalidDataType(name);
        return DecodeRegistryText(value->data);
    }

    std::int32_t ReadInteger(std::wstring_view name) override {
        const auto* value = FindValue(name);
        if (!value) ThrowGetDataFailed(name);
        if (value->type != RegistryType::DWord) ThrowInvalidDataType(name);
        return DecodeRegistryDWord(value->data, name);
    }

    std::vector<std::wstring> GetKeyNames(const std::function<void()>& between) override {
        std::vector<std::wstring> names;
        if (const auto* key = OpenKey()) {
            for (const auto& [folded, name] : key->subkeys) {
                names.push_back(name);
                if (between) between();
            }
        }
        return names;
    }

  private:
    // The open key, looked up afresh on every call so that an accessor never
    // holds on to a key the test has since removed.
    const MemoryRegistry::Key* OpenKey() const {
        return open_ ? registry_.FindKey(root_, view_, path_) : nullptr;
    }

    const MemoryRegistry::Value* FindValue(std::wstring_view name) const {
        const auto* key = OpenKey();
        if (!key) return nullptr;
        const auto found = key->values.find(Fold(name));
        return found == key->values.end() ? nullptr : &found->second;
    }

    const MemoryRegistry& registry_;
    RegistryRoot root_;
    RegistryView view_;
    bool open_ = false;
    std::wstring path_;
};

MemoryRegistry::Key& MemoryRegistry::MakeKey(RegistryRoot root, RegistryView view,
                                             std::wstring_view path) {
    std::wstring folded;
    Key* key = &keys_[{root, view, folded}];
    for (const auto part : PathParts(path)) {
        const std::wstring foldedPart = Fold(part);
        key->subkeys.emplace(foldedPart, std::wstring(part));
        if (!folded.empty()) folded += L'\\';
        folded += foldedPart;
        key = &keys_[{root, view, folded}];
    }
    return *key;
}

const MemoryRegistry::Key* MemoryRegistry::FindKey(RegistryRoot root, RegistryView view,
                                                   std::wstring_view path) const {
    const auto found = keys_.find({root, view, FoldedPath(path)});
    if (found != keys_.end()) return &found->second;
    // The root key itself always exists, even before anything is stored.
    static const Key kEmptyRoot;
    return PathParts(path).empty() ? &kEmptyRoot : nullptr;
}

void MemoryRegistry::SetString(RegistryRoot root, RegistryView view, std::wstring_view path,
                               std::wstring_view name, std::wstring_view text, RegistryType type) {
    SetRaw(root, view, path, name, type, EncodeRegistryText(text));
}

void MemoryRegistry::SetDWord(RegistryRoot root, RegistryView view, std::wstring_view path,
                              std::wstring_view name, std::uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    SetRaw(root, view, path, name, RegistryType::DWord, std::move(bytes));
}

void MemoryRegistry::SetRaw(RegistryRoot root, RegistryView view, std::wstring_view path,
                            std::wstring_view name, RegistryType type, std::string data) {
    MakeKey(root, view, path).values[Fold(name)] = Value{type, std::move(data)};
}

void MemoryRegistry::AddKey(RegistryRoot root, RegistryView view, std::wstring_view path) {
    MakeKey(root, view, path);
}

void MemoryRegistry::Clear() { keys_.clear(); }

std::unique_ptr<RegistryAccessor> MemoryRegistry::CreateAccessor(RegistryRoot root,
                                                                 RegistryView view) const {
    return std::make_unique<MemoryRegistryAccessor>(*this, root, view);
}

MemoryRegistry& MemoryRegistry::Machine() {
    static MemoryRegistry machine;
    return machine;
}

}  // namespace kelvra
