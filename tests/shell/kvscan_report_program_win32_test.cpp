// kvscan.exe's report from the outside: the JSON document beside the run
// files, the console's summary of what it found, and registry text that
// reaches the terminal with its control characters written out.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "common/utf8.h"
#include "shell/kvscan_machine_win32.h"
#include "support/json_schema.h"

namespace kelvra {
namespace {

using testing::Quoted;
using testing::UninstallKeys;

const std::wstring& kKeyPrefix = testing::kUninstallKeyPrefix;

// A machine with something to find: a program that updated itself without
// telling its entry, an entry whose program is gone, and entries about which
// nothing may be said.
class KvscanReport : public testing::KvscanMachine {
  protected:
    void SetUp() override {
        chat_ = programs_ / L"Chat\\";
        agree_ = programs_ / L"Agree\\";
        gone_ = programs_ / L"Gone\\";
        ASSERT_TRUE(ForceDirectories(chat_) && ForceDirectories(agree_));
        fixtures::CopyFixture(L"fv_1234", chat_ + L"chat.exe");  // 1.2.3.4
        fixtures::CopyFixture(L"fv_none", chat_ + L"uninst.exe");
        fixtures::CopyFixture(L"fv_1234", agree_ + L"agree.exe");

        const std::wstring chat = Entry(keys32_, L"chat", L"Chat");
        keys32_.SetText(chat, L"DisplayVersion", L"1.1");
        keys32_.SetText(chat, L"InstallLocation", chat_);
        keys32_.SetText(chat, L"DisplayIcon", chat_ + L"chat.exe,0");
        keys32_.SetText(chat, L"UninstallString", L"\"" + chat_ + L"uninst.exe\" /S");
        const std::wstring agree = Entry(keys64_, L"agree", L"Agree");
        keys64_.SetText(agree, L"DisplayVersion", L"1.2");
        keys64_.SetText(agree, L"InstallLocation", agree_);
        keys64_.SetText(agree, L"UninstallString",
                        L"MsiExec.exe /X{00000000-0000-0000-0000-000000000001}");
        gone_key_ = Entry(keys32_, L"gone", L"Gone Tool");
        keys32_.SetText(gone_key_, L"DisplayVersion", L"2.0");
        keys32_.SetText(gone_key_, L"InstallLocation", gone_);
        keys32_.SetText(gone_key_, L"UninstallString", L"\"" + gone_ + L"unins000.exe\"");
        const std::wstring system = Entry(keys32_, L"system", L"System Part");
        keys32_.SetText(system, L"UninstallString", L"rundll32.exe shell32.dll,Control_RunDLL");
        kb_ = L"KB999-" + UninstallKeys::UniqueName(L"kb");
        keys64_.Create(kb_);
        office_ = Entry(keys32_, L"office", L"Microsoft Office Test Part");
    }

    testing::ProgramResult Scan(const std::wstring& more) { return Kvscan(L"--profile J " + more); }

    // Each <app> element's registry path and number of candidates, in order.
    std::vector<std::pair<std::string, int>> XmlApps() const {
        std::vector<std::pair<std::string, int>> apps;
        std::istringstream xml(FileOf(L"J", L".xml"));
        for (std::string line; std::getline(xml, line);) {
            const std::string open = "   <RegistryPath>";
            if (line.rfind(open, 0) == 0)
                apps.emplace_back(line.substr(open.size(), line.find("</") - open.size()), 0);
            else if (line.rfind("   <version ", 0) == 0)
                ++apps.back().second;
        }
        return apps;
    }

    static const nlohmann::ordered_json& Record(const nlohmann::ordered_json& document,
                                                const std::string& name) {
        for (const auto& record : document["records"])
            if (record["displayName"] == name) return record;
        throw std::runtime_error("no record " + name);
    }

    std::wstring chat_, agree_, gone_, kb_, office_, gone_key_;
};

TEST_F(KvscanReport, JsonOnStandardOutputDescribesTheRunOfTheSameFiles) {
    const auto result = Scan(L"--json - --quiet");
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    const auto document = nlohmann::ordered_json::parse(result.output);
    EXPECT_EQ(testing::SchemaViolations(testing::KvscanSchema(), document),
              std::vector<std::string>{});
    EXPECT_EQ(document.begin().key(), "schemaVersion");
    EXPECT_EQ(document["header"]["profile"], "J");
    // The same records, in the same order, with the same chosen versions and
    // every candidate of the XML document.
    std::string payload;
    for (const auto& record : document["records"])
        payload += record["niceName"].get<std::string>() + "\t" +
                   testing::TextOrEmpty(record["chosenVersion"]) + "\r\n";
    EXPECT_EQ(payload, FileOf(L"J", L".txt"));
    const auto xmlApps = XmlApps();
    ASSERT_EQ(xmlApps.size(), document["records"].size());
    for (std::size_t i = 0; i < xmlApps.size(); ++i) {
        EXPECT_EQ(document["records"][i]["registryKey"], xmlApps[i].first);
        EXPECT_EQ(document["records"][i]["candidates"].size(),
                  static_cast<std::size_t>(xmlApps[i].second));
    }
    EXPECT_EQ(document["summary"]["excluded"], 2);
    const auto& chat = Record(document, "Chat");
    EXPECT_EQ(chat["findings"][0]["kind"], "registryExecutableDisagreement");
    EXPECT_EQ(chat["findings"][0]["executable"], WideToAnsi(chat_ + L"chat.exe"));
    EXPECT_EQ(Record(document, "Gone Tool")["findings"][0]["kind"], "orphanedEntry");
    EXPECT_EQ(Record(document, "Agree")["findings"].size(), 0u);
}

TEST_F(KvscanReport, ConsoleSummaryNamesTheFindingsAndQuietSaysNothing) {
    const std::wstring json = data_ / L"scan.json";
    const auto result = Scan(L"--json " + Quoted(json));
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_EQ(result.output, WideToAnsi(L"Payload: " + PathOf(L"J", L".txt") +
                                        L"\r\nOK: 3\r\nERROR: 1\r\n"
                                        L"Registry and executable disagree: 1\r\n"
                                        L"  Chat: registry 1.1, " +
                                        chat_ +
                                        L"chat.exe 1.2.3.4\r\n"
                                        L"Orphaned entries: 1\r\n"
                                        L"  Gone Tool: uninstaller " +
                                        gone_ +
                                        L"unins000.exe is gone\r\n"
                                        L"  Gone Tool: install folder " +
                                        gone_ + L" is gone\r\n"));
    EXPECT_EQ(nlohmann::json::parse(ReadFileBytes(json))["summary"]["orphanedEntries"], 1);

    const auto quiet = Scan(L"--quiet");
    EXPECT_EQ(quiet.exitCode, 0u);
    EXPECT_EQ(quiet.output, "");
    EXPECT_TRUE(FileExists(PathOf(L"J", L".txt", 1)));

    const auto unwritable = Scan(L"--json " + Quoted(data_ / L"missing\\scan.json"));
    EXPECT_EQ(unwritable.exitCode, 1u);
    EXPECT_NE(unwritable.output.find("kvscan: cannot create"), std::string::npos);
    EXPECT_FALSE(FileExists(PathOf(L"J", L".txt", 2))) << "no run without its report";

    // A run that fails after the report was begun (here: its timings cannot
    // be written) leaves the last good report whole, and no temporary.
    const std::string lastGood = ReadFileBytes(json);
    const auto failed =
        Scan(L"--json " + Quoted(json) + L" --timings " + Quoted(data_ / L"missing\\t.txt"));
    EXPECT_EQ(failed.exitCode, 1u) << failed.output;
    EXPECT_EQ(ReadFileBytes(json), lastGood);
    EXPECT_FALSE(FileExists(json + L".tmp"));
}

// Registry text reaches the terminal with its control characters written
// out: an escape sequence or a line break of an entry's cannot retitle or
// recolour the terminal, or forge a line of the summary.
// The JSON document, read on a terminal just as often, writes the C1
// controls (the 8-bit CSI among them) and the bidirectional overrides and
// isolates as \u escapes: the same text for a JSON reader.
TEST_F(KvscanReport, RegistryTextReachesTheConsoleVisible) {
    keys32_.SetText(gone_key_, L"UninstallString",
                    L"\"" + gone_ + L"un\x1b]0;owned\a\x1b[2J\r\nOK: 99\r\nins.exe\"");
    const struct {
        const wchar_t* character;
        const char* escaped;  // as the document writes it; nullptr: as it stands
    } characters[] = {
        {L"\x0080", "\\u0080"}, {L"\x0085", "\\u0085"}, {L"\x009b", "\\u009b"},
        {L"\x009f", "\\u009f"}, {L"\x202a", "\\u202a"}, {L"\x202e", "\\u202e"},
        {L"\x2066", "\\u2066"}, {L"\x2069", "\\u2069"}, {L"\x00a0", nullptr},
        {L"\x2029", nullptr},   {L"\x202f", nullptr},   {L"\x2065", nullptr},
    };
    std::wstring publisher = L"<";
    std::string written = "\"publisher\":\"<";
    for (const auto& c : characters) {
        publisher += c.character + std::wstring(L"|");
        written += (c.escaped ? c.escaped : WideToUtf8(c.character)) + "|";
    }
    keys32_.SetText(gone_key_, L"Publisher", publisher);
    const auto result = Scan(L"--json -");
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_NE(result.output.find(written), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("\xC2\x9B"), std::string::npos);
    EXPECT_EQ(result.output.find("\xE2\x80\xAE"), std::string::npos);
    EXPECT_NE(result.output.find(WideToAnsi(L"  Gone Tool: uninstaller " + gone_ +
                                            L"un\\x1b]0;owned\\x07\\x1b[2J\\x0d\\x0aOK: "
                                            L"99\\x0d\\x0ains.exe is gone\r\n")),
              std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace kelvra
