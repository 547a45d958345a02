// XmlEscape, and the XML element, HTML row and payload line of a record whose
// registry texts and candidates are random.
//
// Input: fields 0 to 5 are the display name, key name, display icon,
// uninstall command, install location and executable folder; every further
// field is a candidate as in version_chain (tag byte, points byte, text,
// 0x01, place of reading).

#include "inventory/render.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <string_view>

#include "common/textutil.h"
#include "fuzz_support.h"
#include "inventory/kv_objs.h"

using namespace kelvra;
using namespace kelvra::fuzz;

namespace {

bool IsXmlChar(std::uint32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

// What an XML reader must get back from an escaped text: the trimmed text,
// UTF-16 pairs as the one character they stand for, and U+FFFD for each
// character that an XML document cannot carry at all.
std::string ExpectedXmlText(std::wstring_view raw) {
    const std::wstring text = Trim(raw);
    std::wstring expected;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto code = static_cast<std::uint32_t>(text[i]);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size()) {
            const auto next = static_cast<std::uint32_t>(text[i + 1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            }
        }
        expected += static_cast<wchar_t>(IsXmlChar(code) ? code : 0xFFFD);
    }
    return Utf8ForMessage(expected);
}

void CheckEscape(std::wstring_view raw) {
    const std::wstring escaped = XmlEscape(raw);
    Require(IsPlainAscii(escaped), "XmlEscape left a character outside ASCII",
            Utf8ForMessage(escaped));
    const std::string narrow(escaped.begin(), escaped.end());
    const XmlVerdict verdict = ParseXml("<a>" + narrow + "</a>", "a");
    Require(verdict.wellFormed, "an escaped text does not parse as XML",
            verdict.error + ": " + narrow);
    Require(verdict.texts.size() == 1 && verdict.texts[0] == ExpectedXmlText(raw),
            "an escaped text reads back as something else", narrow);
}

// The markup of an HTML row is the row's own: every "<" opens one of the
// template's tags, and outside the tags no "<", ">" or double quote stands
// and every "&" opens an entity.
constexpr std::array<std::wstring_view, 12> kRowTags = {
    L"<tr style=\"background:",
    L"</tr>",
    L"<td style=\"width:200px;\">",
    L"<td>",
    L"</td>",
    L"<br>",
    L"<b>",
    L"</b>",
    L"<small>",
    L"</small>",
    L"<div style=\"margin : 5px; border:solid ",
    L"</div>",
};

void CheckHtmlLine(std::wstring_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const wchar_t ch = line[i];
        if (ch == L'<') {
            bool known = false;
            for (std::wstring_view tag : kRowTags) known = known || line.substr(i).starts_with(tag);
            if (!known) Fail("an HTML line holds markup of its data", Utf8ForMessage(line));
            const std::size_t close = line.find(L'>', i);
            if (close == std::wstring_view::npos || line.find(L'<', i + 1) < close)
                Fail("an unclosed tag", Utf8ForMessage(line));
            i = close;
        } else if (ch == L'&') {
            std::size_t end = i + 1;
            while (end < line.size() && (std::iswalnum(line[end]) || line[end] == L'#')) ++end;
            if (end == i + 1 || end == line.size() || line[end] != L';')
                Fail("a bare & in an HTML line", Utf8ForMessage(line));
        } else if (ch == L'>' || ch == L'"') {
            Fail("a > or \" outside the tags of an HTML line", Utf8ForMessage(line));
        }
    }
}

std::int32_t PointsFromByte(unsigned char byte) { return static_cast<std::int32_t>(byte % 4) - 1; }

// With KELVRA_FUZZ_XML_DUMP set to a folder, every document goes there too,
// for fuzz/check_xml.py to read with Python's own XML package.
void DumpDocument(const std::string& document) {
    static const char* folder = std::getenv("KELVRA_FUZZ_XML_DUMP");
    static unsigned long count = 0;
    if (!folder) return;
    const std::string path = std::string(folder) + "/" + std::to_string(getpid()) + "-" +
                             std::to_string(++count) + ".xml";
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(document.data(), 1, document.size(), file);
        std::fclose(file);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = SplitFields(data, size);
    auto fieldText = [&](std::size_t i) {
        return i < fields.size() ? WideFromBytes(fields[i]) : std::wstring();
    };
    for (std::size_t i = 0; i < 6 && i < fields.size(); ++i) CheckEscape(fieldText(i));

    const std::wstring keyName = fieldText(1);
    TApp app(std::wstring(kUninstallKey) + L"\\" + keyName, keyName);
    app.regDisplayName = fieldText(0);
    app.regDisplayIcon = fieldText(2);
    app.regUninstallString = fieldText(3);
    app.regInstallLocation = fieldText(4);
    app.executablePath = fieldText(5);
    for (std::size_t f = 6; f < fields.size() && f < 6 + 32; ++f) {
        if (fields[f].size() < 2) continue;
        const std::string_view rest = fields[f].substr(2);
        const std::size_t split = rest.find('\x01');
        app.Versions.AddVersion(
            WideFromBytes(rest.substr(0, split)),
            static_cast<TVersionType>(static_cast<unsigned char>(fields[f][0]) % 8),
            split == std::string_view::npos ? app.regDisplayName.str()
                                            : WideFromBytes(rest.substr(split + 1)),
            PointsFromByte(static_cast<unsigned char>(fields[f][1])));
    }
    app.MakeNiceName();
    app.Versions.RunPruningChain(app.regDisplayName.str());
    const TVersions& versions = app.Versions;

    // The XML document of a run with this one record.
    TextLines xml = {L"<?xml version=\"1.0\"?>", L"<apps>", L"<update>", L"<version>2.0</version>",
                     L"</update>"};
    AppToXml(app, xml);
    xml.push_back(L"</apps>");
    std::string document;
    for (const std::wstring& line : xml) {
        if (!IsPlainAscii(line)) Fail("an XML line is not plain ASCII", Utf8ForMessage(line));
        document.append(line.begin(), line.end());
        document += "\r\n";
    }
    DumpDocument(document);
    const XmlVerdict parsed = ParseXml(document, "@fetch");
    Require(parsed.wellFormed, "the XML document does not parse", parsed.error + "\n" + document);
    std::size_t fieldsShown = 0;
    for (const ShortText* field :
         {&app.regDisplayName, &app.regDisplayIcon, &app.regUninstallString,
          &app.regInstallLocation, &app.executablePath, &app.niceName})
        fieldsShown += field->empty() ? 0 : 1;
    Require(parsed.elements == 5 + fieldsShown + versions.Count(),
            "the XML element has elements too many or few", document);
    Require(parsed.texts.size() == versions.Count(), "a candidate lost its fetch attribute",
            document);
    for (std::size_t i = 0; i < versions.Count(); ++i)
        Require(parsed.texts[i] == ExpectedXmlText(versions.GetFetch(i)),
                "a fetch attribute reads back wrong", document);

    TextLines groupA, groupB;
    AppToHtmlList(app, groupA, groupB, true);
    Require(groupA.empty() != groupB.empty(), "the record got no row, or two");
    for (const std::wstring& line : groupA.empty() ? groupB : groupA) CheckHtmlLine(line);

    // One line of the payload file per record: name, TAB, version.
    TextLines payload;
    AppPayloadLine(app, payload);
    Require(payload.size() == 1, "not one payload line");
    const std::wstring& line = payload[0];
    Require(std::count(line.begin(), line.end(), L'\t') == 1,
            "the payload line has more than one TAB", Utf8ForMessage(line));
    Require(line.find_first_of(L"\r\n") == std::wstring::npos,
            "the payload line breaks into several lines", Utf8ForMessage(line));
    Require(ChosenVersion(app).empty() == (versions.ActiveCount() != 1),
            "ChosenVersion disagrees with ActiveCount");
    return 0;
}
