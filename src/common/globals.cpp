#include "common/globals.h"

namespace kelvra {

std::wstring AppDataDir;
std::wstring AppVersion;

#ifdef KELVRA_LOG_ENABLED
bool LogEnabled = true;
#else
bool LogEnabled = false;
#endif

std::wstring SettingsFile;
bool UseProxy = false;
std::wstring ProxyServer;
int ProxyPort = -1;
std::wstring ProxyUsername;
std::wstring ProxyPassword;
std::wstring AccountUsername;
std::wstring AccountPassword;
std::wstring AccountProfile;

std::wstring WindowsDir;

}  // namespace kelvra
