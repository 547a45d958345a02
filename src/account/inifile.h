#pragma once
// A small INI engine that reads and writes files the way the Windows
// private-profile functions do, so that settings files written by either one
// read back the same through the other:
//  - section and key names match without regard to letter case;
//  - blanks around names and values are dropped, and a value enclosed in a
//    pair of single or double quotation marks loses them;
//  - at most 2047 characters of a value are returned;
//  - a write replaces only the line of its key (or adds the key or section),
//    leaving every other line byte for byte as it was;
//  - the file is text in the ANSI code page with CR LF line ends.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra {

inline constexpr std::size_t kMaxIniValueChars = 2047;

class IniFile {
  public:
    // Reads the lines of a file's bytes; LF and CR LF line ends are accepted.
    static IniFile Parse(std::string_view ansiBytes);

    // The value as the private-profile reader returns it, or nothing when the
    // section or key does not exist.
    std::optional<std::wstring> Find(std::wstring_view section, std::wstring_view key) const;

    std::wstring ReadString(std::wstring_view section, std::wstring_view key,
                            std::wstring_view defaultValue) const;
    int ReadInteger(std::wstring_view section, std::wstring_view key, int defaultValue) const;
    bool ReadBool(std::wstring_view section, std::wstring_view key, bool defaultValue) const;

    // Sets key=value in the section, adding the section or the key at need.
    // Only the value's first line is written: a line break ends it.
    void Write(std::wstring_view section, std::wstring_view key, std::wstring_view value);

    // The file's bytes: every line followed by CR LF.
    std::string Serialize() const;

  private:
    struct Line {
        std::string raw;       // as read, without its line end
        std::wstring section;  // for a section header: its name
        std::wstring key;      // for a key line: its name, trimmed
        std::string rawValue;  // for a key line: the bytes after "="
        bool isSection = false;
        bool isKey = false;
    };

    static Line ReadLine(std::string raw);
    // Index range [begin, end) of the lines of the first section of that name.
    std::optional<std::pair<std::size_t, std::size_t>> SectionRange(
        std::wstring_view section) const;

    std::vector<Line> lines_;
};

// Integer text as the settings file stores it: decimal with an optional sign,
// or hexadecimal after "0x", "0X" or "$". Anything else, an empty text and a
// number outside 32 bits give the default.
int ParseIniInteger(std::wstring_view text, int defaultValue);

}  // namespace kelvra
