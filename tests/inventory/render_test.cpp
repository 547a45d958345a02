#include "inventory/render.h"

#include <gtest/gtest.h>

#include "inventory/kv_objs.h"

namespace kelvra {
namespace {

const std::wstring kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App";

std::unique_ptr<TApp> MakeApp(std::wstring_view displayName, std::wstring_view niceName) {
    auto app = std::make_unique<TApp>(kKey, L"App");
    app->regDisplayName = displayName;
    app->niceName = niceName;
    return app;
}

TEST(AppXml, ElementListsFieldsAndEveryCandidate) {
    auto app = MakeApp(L"App 1.2", L"App");
    app->Versions.AddVersion(L"1.2", TVersionType::Registry, kKey, 0);
    app->Versions.AddVersion(L"1.2", TVersionType::EntryName, L"App 1.2", 0);
    app->Versions.RunPruningChain(L"App 1.2");
    TextLines lines;
    AppToXml(*app, lines);
    const TextLines expected = {
        L"<app>",
        L"   <RegistryPath>" + kKey + L"</RegistryPath>",
        L"   <regDisplayName>App 1.2</regDisplayName>",
        L"   <niceName>App</niceName>",
        L"   <version type=\"registry\" fetch=\"" + kKey + L"\">1.2</version>",
        L"   <version type=\"entryName\" fetch=\"App 1.2\">1.2</version>",
        L"</app>",
        L"",
    };
    EXPECT_EQ(lines, expected);
}

TEST(AppXml, FieldsAreTestedBeforeEscapingAndEscapedInside) {
    auto app = MakeApp(L"AT&T Tools <Beta>", L"Tools ");
    app->regDisplayIcon = L"   ";  // not empty as stored, empty once escaped
    app->executablePath = L"";
    app->Versions.AddVersion(L"2.0", TVersionType::EntryName, L"Cat's \"Tool\"", 0);
    TextLines lines;
    AppToXml(*app, lines);
    EXPECT_EQ(lines[2], L"   <regDisplayName>AT&amp;T Tools &lt;Beta&gt;</regDisplayName>");
    EXPECT_EQ(lines[3], L"   <regDisplayIcon></regDisplayIcon>");
    EXPECT_EQ(lines[4], L"   <niceName>Tools</niceName>") << "the trailing blank is trimmed";
    EXPECT_EQ(
        lines[5],
        L"   <version type=\"entryName\" fetch=\"Cat&apos;s &quot;Tool&quot;\">2.0</version>");
}

TEST(XmlEscapeTest, ResultIsPlainAsciiWithEntities) {
    EXPECT_EQ(XmlEscape(L"  a\tb  "), L"a&#9;b");
    EXPECT_EQ(XmlEscape(L"caf\u00e9"), L"caf&#233;");
    EXPECT_EQ(XmlEscape(L"\u20ac 5"), L"&#8364; 5");
    EXPECT_EQ(XmlEscape(L"\x7f~"), L"\x7f~") << "127 stays";
    EXPECT_EQ(XmlEscape(L"&lt;"), L"&amp;lt;");
    EXPECT_EQ(XmlEscape(L"\t\r\n"), L"");
    // Characters XML cannot carry become U+FFFD; a UTF-16 pair is one character.
    EXPECT_EQ(XmlEscape(L"a\x01"
                        L"b\x1F"
                        L"c"),
              L"a&#65533;b&#65533;c");
    const wchar_t high = 0xD83D, low = 0xDE00;
    EXPECT_EQ(XmlEscape(std::wstring{L'x', high, low, L'y'}), L"x&#128512;y");
    EXPECT_EQ(XmlEscape(std::wstring{low, L'.', high}), L"&#65533;.&#65533;");
    EXPECT_EQ(XmlEscape(std::wstring{wchar_t(0xFFFE), wchar_t(0xFFFF), wchar_t(0xFFFD)}),
              L"&#65533;&#65533;&#65533;");
    std::wstring text;
    for (int i = 0; i < 100; ++i) text += L"&x";
    text += std::wstring(55, L'y');
    ASSERT_EQ(text.size(), 255u);
    const std::wstring escaped = XmlEscape(text);
    EXPECT_EQ(escaped.size(), 655u);
    EXPECT_EQ(escaped.find(L"&x"), std::wstring::npos);
}

TEST(AppHtml, RowColourCountsAndCandidateOrder) {
    auto app = MakeApp(L"Foo", L"Foo");
    app->Versions.AddVersion(L"1.0", TVersionType::Registry, kKey, 0);
    app->Versions.AddVersion(L"2.0", TVersionType::FileVersion1, L"C:\\Foo\\foo.exe", 2);
    app->Versions.AddVersion(L"3.0", TVersionType::EntryName, L"Foo", 0);
    TextLines rows;
    AppToHtmlRow(*app, rows);
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[0], L"<tr style=\"background:silver;\">");
    EXPECT_EQ(rows[2], L"<td>3 / 3</td>");
    EXPECT_EQ(rows[4],
              L"<div style=\"margin : 5px; border:solid 1px red; background:yellow\">1.0<br><small>"
              L"registry:" +
                  kKey + L" 0</small></div>");
    EXPECT_EQ(rows[5],
              L"<div style=\"margin : 5px; border:solid 1px red; background:white\">2.0<br><small>"
              L"fileversion1:C:\\Foo\\foo.exe 2</small></div>");
    EXPECT_EQ(rows[6],
              L"<div style=\"margin : 5px; border:solid 1px red; background:orange\">3.0<br><small>"
              L"entryName:Foo 0</small></div>");

    app->Versions.RunPruningChain(L"Foo");
    rows.clear();
    AppToHtmlRow(*app, rows);
    EXPECT_EQ(rows[0], L"<tr style=\"background:white;\">");
    EXPECT_EQ(rows[2], L"<td>1 / 3</td>");
    // Active candidates first, then the removed ones with their reasons.
    EXPECT_NE(rows[4].find(L"border:solid 1px red"), std::wstring::npos);
    EXPECT_EQ(
        rows[5].rfind(L"<div style=\"margin : 5px; border:solid 0px red; background:gray\">", 0),
        0u);
    EXPECT_NE(rows[5].find(L"<br><b>"), std::wstring::npos);
}

TEST(AppHtml, FactsFragmentListsSixLabels) {
    auto app = MakeApp(L"D", L"N");
    app->executablePath = L"C:\\D\\";
    app->regUninstallString = L"u";
    app->regDisplayIcon = L"i";
    app->regInstallLocation = L"C:\\D\\";
    EXPECT_EQ(
        AppInfoHtml(*app),
        L"regDisplayName: <b>D</b><br>niceName: <b>N</b><br>executablePath: <b>C:\\D\\</b><br>"
        L"regUninstallString: <b>u</b><br>regDisplayIcon: <b>i</b><br>"
        L"regInstallLocation: <b>C:\\D\\</b>");
}

TEST(AppHtml, RegistryTextsCannotInjectMarkup) {
    auto app = MakeApp(L"<script>alert(\"x\")</script> & Co", L"<b>");
    app->Versions.AddVersion(L"1<i>", TVersionType::Registry, L"a'b", 0);
    TextLines rows;
    AppToHtmlRow(*app, rows);
    for (const auto& row : rows) EXPECT_EQ(row.find(L"<script"), std::wstring::npos) << row;
    EXPECT_NE(rows[1].find(L"&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; Co<br>"),
              std::wstring::npos);
    EXPECT_NE(rows[1].find(L"niceName: <b>&lt;b&gt;</b>"), std::wstring::npos);
    EXPECT_NE(rows[4].find(L">1&lt;i&gt;<br><small>registry:a&apos;b 0<"), std::wstring::npos)
        << "fetch keeps its XML escaping and is not escaped twice";
}

TEST(AppHtml, GroupsFollowTheActiveCount) {
    auto none = MakeApp(L"None", L"None");
    auto one = MakeApp(L"One", L"One");
    one->Versions.AddVersion(L"1.0", TVersionType::Registry, kKey, 0);
    auto two = MakeApp(L"Two", L"Two");
    two->Versions.AddVersion(L"1.0", TVersionType::Registry, kKey, 0);
    two->Versions.AddVersion(L"2.0", TVersionType::Registry, kKey, 0);

    TextLines groupA, groupB;
    AppToHtmlList(*none, groupA, groupB, false);
    EXPECT_TRUE(groupA.empty());
    AppToHtmlList(*none, groupA, groupB, true);
    EXPECT_EQ(groupA.front(), L"<tr style=\"background:red;\">");
    AppToHtmlList(*two, groupA, groupB, false);
    EXPECT_EQ(groupA.size(), 14u);
    EXPECT_TRUE(groupB.empty());
    AppToHtmlList(*one, groupA, groupB, false);
    EXPECT_EQ(groupB.front(), L"<tr style=\"background:white;\">");
}

TEST(AppPayload, NiceNameTabChosenVersion) {
    auto app = MakeApp(L"Foo Version 1.2", L"Foo ");
    TextLines lines;
    AppPayloadLine(*app, lines);
    EXPECT_EQ(lines.back(), L"Foo \t") << "no candidate: nothing after the TAB";
    EXPECT_EQ(ChosenVersion(*app), L"");
    app->Versions.AddVersion(L"1.2", TVersionType::EntryName, L"Foo Version 1.2", 0);
    AppPayloadLine(*app, lines);
    EXPECT_EQ(lines.back(), L"Foo \t1.2");
    app->Versions.AddVersion(L"1.3", TVersionType::Registry, kKey, 0);
    EXPECT_EQ(ChosenVersion(*app), L"") << "two active candidates choose nothing";
}

TEST(AppPayload, ControlCharactersOfTheRegistryCannotSplitTheLine) {
    auto app = MakeApp(L"x", L"Evil\r\nFake App\t9.9");
    app->Versions.AddVersion(L"1.0\tx\ny", TVersionType::Registry, kKey, 0);
    TextLines lines;
    AppPayloadLine(*app, lines);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], L"Evil  Fake App 9.9\t1.0 x y");
}

}  // namespace
}  // namespace kelvra
