#include "common/win32.h"

#include "common/clock.h"

namespace kelvra {

LocalTime SystemLocalTime() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
            now.wMinute, now.wSecond, now.wMilliseconds};
}

std::wstring LocaleTimeSeparator() {
    wchar_t separator[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 8) <= 1) return L":";
    return separator;
}

}  // namespace kelvra
