#pragma once
// The program's version, for the code and the version resources alike.

#define KELVRA_VERSION_MAJOR 2
#define KELVRA_VERSION_MINOR 0
#define KELVRA_VERSION_TEXT "2.0"
#define KELVRA_FILE_VERSION_TEXT "2.0.0.0"

#ifdef __cplusplus
namespace kelvra {
inline constexpr wchar_t kAppVersion[] = L"" KELVRA_VERSION_TEXT;
}
#endif
