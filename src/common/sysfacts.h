#pragma once
// System folders and facts: the answers of the system to the few questions the
// program asks. Each failed question yields empty text or a fixed fallback.

#include <string>
#include <string_view>

namespace kelvra {

inline constexpr int kCsidlLocalAppData = 0x1C;

// The path of a shell special folder for the current user, without a trailing
// backslash; empty when the shell reports failure.
std::wstring GetSpecialFolder(int csidl);

// The local (non-roaming) application-data folder with a trailing backslash;
// a lone backslash when the shell cannot tell.
std::wstring GetLocalAppDataDir();

// The Windows folder with a trailing backslash, read once from "SystemRoot"
// in the registry and cached in WindowsDir; a lone backslash when neither
// registry place holds it.
std::wstring GetWindowsDir();

// Whether the path contains the Windows folder (letter case aside): the
// rule by which an application's folder, or a path an entry names, counts
// as a part of the system. With a lone backslash for the Windows folder
// every path that contains a backslash counts.
bool InWindowsFolder(std::wstring_view path);

// The temporary-files folder as the system reports it (with its backslash).
std::wstring GetTempDir();

// The computer's NetBIOS name; empty when the system call fails.
std::wstring GetComputerNameText();

// The user's name, trimmed; empty when the system call fails or the name is
// longer than 252 characters.
std::wstring GetUserNameText();

// True for a 32-bit process on 64-bit Windows. IsWow64Process is looked up
// at run time, since Windows versions without it exist. The native build
// answers true, so that portable tests see both passes.
bool IsRunningOnWow64();

}  // namespace kelvra
