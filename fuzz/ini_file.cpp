// The settings file's INI engine: the load of arbitrary bytes, and a save of
// the eight settings into an arbitrary file followed by a load.
//
// Input: an even first byte makes the rest of the input a file's bytes, NULs
// included, to be loaded. An odd first byte makes the rest of field 0 the
// file to save into and fields 1 to 8 the eight texts the dialog would save.

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "account/inifile.h"
#include "common/textconv.h"
#include "fuzz_support.h"

using namespace kelvra;
using namespace kelvra::fuzz;

namespace {

struct SettingKey {
    const wchar_t* section;
    const wchar_t* key;
};
constexpr SettingKey kSettings[] = {
    {L"Proxy", L"Use proxy"},  {L"Proxy", L"Server"},    {L"Proxy", L"Port"},
    {L"Proxy", L"Username"},   {L"Proxy", L"Password"},  {L"Account", L"Username"},
    {L"Account", L"Password"}, {L"Account", L"Profile"},
};

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

// A saved text as the rules of the file give it back: its first line only,
// through the ANSI code page, blanks around it dropped, one pair of
// enclosing quotation marks removed, at most 2047 characters.
std::wstring AsReadBack(std::wstring_view saved) {
    const std::wstring wide = AnsiToWide(WideToAnsi(saved.substr(0, saved.find_first_of(L"\r\n"))));
    std::wstring_view value = wide;
    while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
    while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::wstring(value.substr(0, kMaxIniValueChars));
}

// The file's lines as the engine keeps them: cut at LF, one CR before it
// dropped, each written back with CR LF.
std::string Normalised(std::string_view bytes) {
    std::string out;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.append(line);
        out += "\r\n";
    }
    return out;
}

// Section and key names that the file seems to hold, found by a rough look
// at its lines: probes for comparing two readings, not a second parser.
std::vector<std::pair<std::wstring, std::wstring>> Probes(std::string_view bytes) {
    std::vector<std::pair<std::wstring, std::wstring>> probes;
    std::wstring section;
    for (std::size_t pos = 0; pos <= bytes.size() && probes.size() < 64;) {
        const std::size_t end = std::min(bytes.find('\n', pos), bytes.size());
        const std::wstring line = AnsiToWide(bytes.substr(pos, end - pos));
        pos = end + 1;
        const auto open = line.find(L'[');
        const auto close = line.find(L']');
        if (open != std::wstring::npos && close != std::wstring::npos && open < close) {
            section = line.substr(open + 1, close - open - 1);
        } else if (const auto equals = line.find(L'='); equals != std::wstring::npos) {
            probes.emplace_back(section, line.substr(0, equals));
        }
    }
    return probes;
}

bool IsSetting(std::wstring_view section, std::wstring_view key) {
    const IniFile probe = IniFile::Parse(
        WideToAnsi(L"[" + std::wstring(section) + L"]\r\n" + std::wstring(key) + L"=x\r\n"));
    for (const SettingKey& s : kSettings)
        if (probe.Find(s.section, s.key)) return true;
    return false;
}

void Load(std::string_view bytes) {
    const IniFile file = IniFile::Parse(bytes);
    const std::string written = file.Serialize();
    Require(written == Normalised(bytes), "loading and writing back changed the file's lines");
    const IniFile again = IniFile::Parse(written);
    Require(again.Serialize() == written, "a written file does not write back the same");
    for (const SettingKey& s : kSettings) {
        const auto value = file.Find(s.section, s.key);
        Require(value == again.Find(s.section, s.key),
                "a value reads differently once written back");
        if (value) {
            Require(value->size() <= kMaxIniValueChars, "a value longer than 2047 characters");
            (void)file.ReadInteger(s.section, s.key, -1);
            (void)file.ReadBool(s.section, s.key, false);
        }
    }
    if (bytes.size() >= 4) {
        std::int32_t number = 0;
        for (int i = 0; i < 4; ++i)
            number = static_cast<std::int32_t>(
                (static_cast<std::uint32_t>(number) << 8) |
                static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]));
        Require(ParseIniInteger(std::to_wstring(number), 0) == number,
                "a decimal number does not read back");
    }
}

void SaveThenLoad(const std::vector<std::string_view>& fields) {
    const std::string_view base = fields[0].substr(1);
    IniFile file = IniFile::Parse(base);
    const IniFile old = IniFile::Parse(base);
    std::vector<std::wstring> texts;
    for (std::size_t i = 0; i < 8; ++i)
        texts.push_back(i + 1 < fields.size() ? WideFromBytes(fields[i + 1]) : L"");
    for (std::size_t i = 0; i < 8; ++i)
        file.Write(kSettings[i].section, kSettings[i].key, texts[i]);

    const std::string saved = file.Serialize();
    const IniFile loaded = IniFile::Parse(saved);
    for (std::size_t i = 0; i < 8; ++i) {
        const auto value = loaded.Find(kSettings[i].section, kSettings[i].key);
        Require(value.has_value(), "a saved setting is missing");
        Require(*value == AsReadBack(texts[i]), "a saved setting reads back as something else",
                Utf8ForMessage(kSettings[i].key) + ": " + Utf8ForMessage(texts[i]) + " -> " +
                    Utf8ForMessage(*value));
    }
    // Everything else the file held reads as before.
    for (const auto& [section, key] : Probes(base)) {
        if (IsSetting(section, key)) continue;
        Require(old.Find(section, key) == loaded.Find(section, key),
                "a save changed another key of the file",
                Utf8ForMessage(section) + " / " + Utf8ForMessage(key));
    }
    const auto lines = [](std::string_view bytes) {
        return std::count(bytes.begin(), bytes.end(), '\n');
    };
    Require(lines(saved) <= lines(old.Serialize()) + 8 + 4,
            "a save added more lines than it has settings");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] % 2 == 0) {
        Load(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    } else {
        SaveThenLoad(SplitFields(data, size));
    }
    return 0;
}
