#include "support/uninstall_keys_win32.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/handles_win32.h"

namespace kelvra::testing {
namespace {

constexpr wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

UniqueHKey CreateKey(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    const LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view,
                                           nullptr, &key, nullptr);
    EXPECT_EQ(status, ERROR_SUCCESS) << "creating a test key";
    return UniqueHKey(status == ERROR_SUCCESS ? key : nullptr);
}

}  // namespace

UninstallKeys::UninstallKeys(REGSAM view, HKEY root) : view_(view), root_(root) {}

UninstallKeys::~UninstallKeys() {
    const UniqueHKey uninstall = CreateKey(root_, kUninstall, view_);
    if (!uninstall) return;
    for (const auto& name : created_) RegDeleteTreeW(uninstall.get(), name.c_str());
    for (const auto& name : created_) RegDeleteKeyExW(uninstall.get(), name.c_str(), view_, 0);
}

std::wstring UninstallKeys::UniqueName(std::wstring_view suffix) {
    return L"KelvraTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::wstring(suffix);
}

std::wstring UninstallKeys::Create(const std::wstring& keyName) {
    const std::wstring path = std::wstring(kUninstall) + L"\\" + keyName;
    CreateKey(root_, path, view_);
    if (std::find(created_.begin(), created_.end(), keyName) == created_.end())
        created_.push_back(keyName);
    return path;
}

void UninstallKeys::SetRaw(const std::wstring& keyName, const std::wstring& valueName, DWORD type,
                           const std::string& bytes) {
    const UniqueHKey key = CreateKey(root_, Create(keyName), view_);
    ASSERT_TRUE(key);
    ASSERT_EQ(RegSetValueExW(key.get(), valueName.c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
}

void UninstallKeys::SetText(const std::wstring& keyName, const std::wstring& valueName,
                            std::wstring_view text, DWORD type) {
    SetRaw(keyName, valueName, type, Utf16Bytes(text) + std::string(2, '\0'));
}

void UninstallKeys::SetDWord(const std::wstring& keyName, const std::wstring& valueName,
                             DWORD value) {
    SetRaw(keyName, valueName, REG_DWORD,
           std::string(reinterpret_cast<const char*>(&value), sizeof value));
}

std::string Utf16Bytes(std::wstring_view text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

}  // namespace kelvra::testing
