// kvscan.exe and the ANSI code page: text from the registry reaches the files
// as the records store it, in the code page of the machine, with the default
// character for what the code page lacks and never a look-alike. The
// expected bytes are spelled out here, not made by the conversion under test.

#include "common/win32.h"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "shell/kvscan_machine_win32.h"

namespace kelvra {
namespace {

const std::string kKeyPrefix = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// One uninstall entry in the program's own view, and the files of one run.
class KvscanOneEntry : public testing::KvscanMachine {
  protected:
    void Register(std::wstring_view keySuffix, std::wstring_view displayName) {
        keys32_.SetText(Entry(keys32_, keySuffix, displayName), L"DisplayVersion", L"1.5");
    }

    // The key name as the test wrote it: "KelvraTest-<process id>-" is ASCII.
    std::string KeyNameBefore(std::string_view suffix) const {
        return "KelvraTest-" + std::to_string(GetCurrentProcessId()) + "-" + std::string(suffix);
    }

    void Scan() {
        const auto result = Kvscan(L"--profile CP");
        ASSERT_EQ(result.exitCode, 0u) << result.output;
        payload_ = FileOf(L"CP", L".txt");
        xml_ = FileOf(L"CP", L".xml");
        html_ = FileOf(L"CP", L".html");
    }

    // name: the display name and nice name as the XML writes them; key: the
    // key path's last part likewise.
    static std::string ExpectedXml(const std::string& key, const std::string& name) {
        const std::string path = kKeyPrefix + key;
        std::string xml;
        for (const std::string& line : {
                 std::string("<?xml version=\"1.0\"?>"),
                 std::string("<apps>"),
                 std::string("<update>"),
                 std::string("<version>2.0</version>"),
                 std::string("</update>"),
                 std::string("<app>"),
                 "   <RegistryPath>" + path + "</RegistryPath>",
                 "   <regDisplayName>" + name + "</regDisplayName>",
                 "   <niceName>" + name + "</niceName>",
                 "   <version type=\"registry\" fetch=\"" + path + "\">1.5</version>",
                 std::string("</app>"),
                 std::string(),
                 std::string("</apps>"),
             })
            xml += line + "\r\n";
        return xml;
    }

    std::string payload_, xml_, html_;
};

// Letters that code page 1252 lacks but for which the system knows a
// look-alike: L-stroke and z-acute (L, z), full-width letters (ASCII ones)
// and full-width quotes (a real double quote).
TEST_F(KvscanOneEntry, LettersWithLookAlikesBecomeTheDefaultCharacterInEveryFile) {
    ASSERT_EQ(GetACP(), 1252u) << "the plain test list runs in code page 1252";
    Register(L"lookalike", L"\u0141\u00f3w \u017a \uff2d\uff41\uff50 \uff02Pro\uff02");
    ASSERT_NO_FATAL_FAILURE(Scan());

    // The o-acute is in 1252 (0xF3); everything else the code page lacks is '?'.
    const std::string name = "?\xf3w ? ??? ?Pro?";
    EXPECT_EQ(payload_, name + "\t1.5\r\n");
    EXPECT_EQ(xml_, ExpectedXml(KeyNameBefore("lookalike"), "?&#243;w ? ??? ?Pro?"));
    EXPECT_NE(html_.find("<td style=\"width:200px;\">" + name + "<br>"), std::string::npos)
        << html_;
    EXPECT_EQ(html_.find("\"Pro\""), std::string::npos) << "a full-width quote became a real one";
}

// Names the code page lacks reach the JSON document in full beside the short
// texts, and the record says that its short name lost characters.
TEST_F(KvscanOneEntry, NamesInFullBesideTheShortOnesAndTheirFinding) {
    ASSERT_EQ(GetACP(), 1252u) << "the plain test list runs in code page 1252";
    const std::wstring longName(300, L'n');
    const struct {
        const wchar_t* suffix;
        std::wstring name;
        std::string fullUtf8;   // in the JSON document
        std::string shortName;  // the record's displayName (UTF-8); empty: as full
        bool finding;
    } cases[] = {
        {L"plain", L"Caf\u00e9 Editor", "Caf\xc3\xa9 Editor", "", false},
        {L"chinese", L"\u7f16\u8f91\u5668 2", "\xe7\xbc\x96\xe8\xbe\x91\xe5\x99\xa8 2", "??? 2",
         true},
        {L"cyrillic", L"\u0420\u0435\u0434", "\xd0\xa0\xd0\xb5\xd0\xb4", "???", true},
        {L"emoji", L"Chat \U0001F600", "Chat \xf0\x9f\x98\x80", "", true},
        // A lone surrogate cannot be UTF-8: U+FFFD stands for it.
        {L"surrogate", std::wstring(L"Tool ") + wchar_t(0xD800) + L"!", "Tool \xef\xbf\xbd!",
         "Tool ?!", true},
        {L"long", longName, std::string(300, 'n'), std::string(255, 'n'), true},
    };
    std::map<std::string, std::size_t> caseOfKey;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::wstring key = Entry(keys32_, cases[i].suffix, cases[i].name);
        keys32_.SetText(key, L"Publisher", cases[i].name);
        caseOfKey[kKeyPrefix + WideToAnsi(key)] = i;
    }
    const auto result = Kvscan(L"--profile CP --json - --quiet");
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    const auto document = nlohmann::json::parse(result.output);
    std::size_t seen = 0;
    for (const auto& record : document["records"]) {
        const auto found = caseOfKey.find(record["registryKey"].get<std::string>());
        if (found == caseOfKey.end()) continue;
        ++seen;
        const auto& c = cases[found->second];
        SCOPED_TRACE(WideToAnsi(c.suffix));
        EXPECT_EQ(record["fullTexts"]["displayName"], c.fullUtf8);
        EXPECT_EQ(record["fullTexts"]["publisher"], c.fullUtf8);
        if (!c.shortName.empty()) {
            EXPECT_EQ(record["displayName"], c.shortName);
        }
        const auto& findings = record["findings"];
        ASSERT_EQ(findings.size(), c.finding ? 1u : 0u) << findings;
        if (!c.finding) continue;
        EXPECT_EQ(findings[0]["kind"], "nameNotRepresentable");
        EXPECT_EQ(findings[0]["name"], c.fullUtf8);
        EXPECT_EQ(findings[0]["shortName"], record["displayName"]);
        EXPECT_NE(findings[0]["shortName"], c.fullUtf8);
    }
    EXPECT_EQ(seen, std::size(cases));
    EXPECT_GE(document["summary"]["namesNotRepresentable"], 5);
}

// The test list runs the Cp1251 suites with LC_ALL=ru_RU.UTF-8, from which
// Wine takes the ANSI code page 1251; kvscan.exe inherits it.
class Cp1251Kvscan : public KvscanOneEntry {
  protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 1251u)
            << "run this suite with LC_ALL=ru_RU.UTF-8, as the test list does";
    }
};

TEST_F(Cp1251Kvscan, CyrillicReachesThePayloadIn1251AndTheXmlAsCharacterReferences) {
    // Key "...-ред"; display name "Редактор é №": the e-acute is not in 1251
    // (its look-alike would be e), the numero sign is (0xB9).
    Register(L"\u0440\u0435\u0434",
             L"\u0420\u0435\u0434\u0430\u043a\u0442\u043e\u0440 \u00e9 \u2116");
    ASSERT_NO_FATAL_FAILURE(Scan());

    const std::string name1251 = "\xd0\xe5\xe4\xe0\xea\xf2\xee\xf0 ? \xb9";
    EXPECT_EQ(payload_, name1251 + "\t1.5\r\n");
    const std::string key = KeyNameBefore("&#1088;&#1077;&#1076;");
    EXPECT_EQ(xml_, ExpectedXml(key,
                                "&#1056;&#1077;&#1076;&#1072;&#1082;&#1090;&#1086;&#1088; ? "
                                "&#8470;"));
    // The HTML report shows the name as it stands and escapes the key path.
    EXPECT_NE(html_.find("<td style=\"width:200px;\">" + name1251 + "<br>"), std::string::npos)
        << html_;
    EXPECT_NE(html_.find("<small>registry:" + kKeyPrefix + key + " 0</small>"), std::string::npos)
        << html_;
}

}  // namespace
}  // namespace kelvra
