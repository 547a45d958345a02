#include "account/inifile.h"

#include <cstdint>

#include "common/textconv.h"

namespace kelvra {
namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

std::wstring_view TrimBlanks(std::wstring_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && CompareTextLocale(a, b) == 0;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

std::optional<std::int64_t> ParseHex(std::wstring_view digits) {
    if (digits.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (wchar_t c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        value = value * 16 + digit;
        if (value > 0xFFFFFFFFLL) return std::nullopt;
    }
    // Eight hexadecimal digits fill all 32 bits: 0xFFFFFFFF reads as -1.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::optional<std::int64_t> ParseDecimal(std::wstring_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == L'+' || text.front() == L'-')) {
        negative = text.front() == L'-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + (c - L'0');
        if (value > 2147483648LL) return std::nullopt;
    }
    value = negative ? -value : value;
    if (value > 2147483647LL || value < -2147483648LL) return std::nullopt;
    return value;
}

}  // namespace

int ParseIniInteger(std::wstring_view text, int defaultValue) {
    std::optional<std::int64_t> value;
    if (text.starts_with(L"0x") || text.starts_with(L"0X"))
        value = ParseHex(text.substr(2));
    else if (text.starts_with(L"$"))
        value = ParseHex(text.substr(1));
    else
        value = ParseDecimal(text);
    return value ? static_cast<int>(*value) : defaultValue;
}

IniFile::Line IniFile::ReadLine(std::string raw) {
    Line line;
    line.raw = std::move(raw);
    const std::wstring wide = AnsiToWide(line.raw);
    const std::wstring_view text = TrimBlanks(wide);
    if (text.starts_with(L'[')) {
        const auto close = text.find(L']');
        if (close != std::wstring_view::npos) {
            line.isSection = true;
            line.section = TrimBlanks(text.substr(1, close - 1));
        }
        return line;
    }
    const auto equals = line.raw.find('=');
    if (!text.empty() && equals != std::string::npos) {
        line.isKey = true;
        line.key = TrimBlanks(AnsiToWide(std::string_view(line.raw).substr(0, equals)));
        line.rawValue = line.raw.substr(equals + 1);
    }
    return line;
}

IniFile IniFile::Parse(std::string_view bytes) {
    IniFile file;
    while (!bytes.empty()) {
        const auto end = bytes.find('\n');
        std::string_view raw = bytes.substr(0, end);
        bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        file.lines_.push_back(ReadLine(std::string(raw)));
    }
    return file;
}

std::optional<std::pair<std::size_t, std::size_t>> IniFile::SectionRange(
    std::wstring_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (!lines_[i].isSection || !SameName(lines_[i].section, section)) continue;
        std::size_t end = i + 1;
        while (end < lines_.size() && !lines_[end].isSection) ++end;
        return std::make_pair(i + 1, end);
    }
    return std::nullopt;
}

std::optional<std::wstring> IniFile::Find(std::wstring_view section, std::wstring_view key) const {
    const auto range = SectionRange(section);
    if (!range) return std::nullopt;
    const std::wstring wantedKey(TrimBlanks(key));
    for (std::size_t i = range->first; i < range->second; ++i) {
        const Line& line = lines_[i];
        if (!line.isKey || !SameName(line.key, wantedKey)) continue;
        const std::wstring wide = AnsiToWide(line.rawValue);
        std::wstring_view value = TrimBlanks(wide);
        if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return std::wstring(value.substr(0, kMaxIniValueChars));
    }
    return std::nullopt;
}

std::wstring IniFile::ReadString(std::wstring_view section, std::wstring_view key,
                                 std::wstring_view defaultValue) const {
    auto value = Find(section, key);
    return value ? std::move(*value) : std::wstring(defaultValue);
}

int IniFile::ReadInteger(std::wstring_view section, std::wstring_view key, int defaultValue) const {
    const auto value = Find(section, key);
    return value ? ParseIniInteger(*value, defaultValue) : defaultValue;
}

bool IniFile::ReadBool(std::wstring_view section, std::wstring_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void IniFile::Write(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
    const std::wstring keyName(TrimBlanks(key));
    // A value is one line. The text after a line break would become lines of
    // their own, keys or sections that the user never saved, so it is not
    // written: the value reads back as its first line, as the system's own
    // reader would read such a value.
    value = value.substr(0, value.find_first_of(L"\r\n"));
    auto keyLine = [&](const std::wstring& name) {
        return ReadLine(WideToAnsi(name + L"=" + std::wstring(value)));
    };
    const auto range = SectionRange(section);
    if (!range) {
        if (!lines_.empty() && !TrimBlanks(AnsiToWide(lines_.back().raw)).empty())
            lines_.push_back(ReadLine(""));
        lines_.push_back(ReadLine(WideToAnsi(L"[" + std::wstring(section) + L"]")));
        lines_.push_back(keyLine(keyName));
        return;
    }
    std::size_t insertAt = range->first;
    for (std::size_t i = range->first; i < range->second; ++i) {
        Line& line = lines_[i];
        if (line.isKey && SameName(line.key, keyName)) {
            // The key keeps the spelling it has in the file.
            line = keyLine(line.key);
            return;
        }
        if (!TrimBlanks(AnsiToWide(line.raw)).empty()) insertAt = i + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), keyLine(keyName));
}

std::string IniFile::Serialize() const {
    std::string bytes;
    for (const Line& line : lines_) {
        bytes += line.raw;
        bytes += "\r\n";
    }
    return bytes;
}

}  // namespace kelvra
