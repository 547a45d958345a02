#include "account/inifile.h"

#include <gtest/gtest.h>

namespace kelvra {
namespace {

TEST(IniRead, NamesMatchWithoutRegardToCaseAndBlanks) {
    const IniFile file = IniFile::Parse("[ proxy ]\r\n  USE PROXY =  1  \r\nserver=host\r\n");
    EXPECT_EQ(file.ReadString(L"Proxy", L"Use proxy", L"x"), L"1");
    EXPECT_EQ(file.ReadString(L"PROXY", L"Server", L"x"), L"host");
    EXPECT_EQ(file.ReadString(L"Proxy", L"Port", L"dflt"), L"dflt");
    EXPECT_EQ(file.ReadString(L"Account", L"Server", L"dflt"), L"dflt");
}

TEST(IniRead, OnePairOfEnclosingQuotesIsRemoved) {
    const IniFile file = IniFile::Parse(
        "[A]\nd=\"  spaced  \"\ns='single'\nmixed=\"x'\nnested=\"\"x\"\"\nlone=\"\nblank=   \n");
    EXPECT_EQ(file.ReadString(L"A", L"d", L""), L"  spaced  ");
    EXPECT_EQ(file.ReadString(L"A", L"s", L""), L"single");
    EXPECT_EQ(file.ReadString(L"A", L"mixed", L""), L"\"x'");
    EXPECT_EQ(file.ReadString(L"A", L"nested", L""), L"\"x\"");
    EXPECT_EQ(file.ReadString(L"A", L"lone", L""), L"\"");
    EXPECT_EQ(file.ReadString(L"A", L"blank", L"dflt"), L"");
}

TEST(IniRead, ValuesAreCutAt2047Characters) {
    const std::string longValue(5000, 'v');
    const IniFile file = IniFile::Parse("[A]\r\nk=" + longValue + "\r\n");
    EXPECT_EQ(file.ReadString(L"A", L"k", L"").size(), kMaxIniValueChars);
}

TEST(IniRead, FirstOfDuplicateSectionsAndKeysWinsAndStrayLinesAreIgnored) {
    const IniFile file = IniFile::Parse(
        "k=before any section\n[A]\nk=first\nno equals sign\nk=second\n[a]\nk=third\n[broken\n");
    EXPECT_EQ(file.ReadString(L"A", L"k", L""), L"first");
    EXPECT_EQ(file.ReadString(L"", L"k", L"dflt"), L"dflt");
}

TEST(IniRead, IntegersInDecimalAndHexadecimal) {
    struct Case {
        const wchar_t* text;
        int expected;
    };
    const Case cases[] = {
        {L"8080", 8080},
        {L"0x1F90", 8080},
        {L"0X1f90", 8080},
        {L"$1F90", 8080},
        {L"-5", -5},
        {L"+5", 5},
        {L"007", 7},
        {L"abc", -1},
        {L"", -1},
        {L"80 80", -1},
        {L"8080abc", -1},
        {L"0x", -1},
        {L"$", -1},
        {L"-", -1},
        {L"2147483647", 2147483647},
        {L"-2147483648", -2147483647 - 1},
        {L"2147483648", -1},
        {L"99999999999999999999", -1},
        {L"0xFFFFFFFF", -1},
        {L"0x100000000", -1},
        {L"0x7FFFFFFF", 2147483647},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseIniInteger(c.text, -1), c.expected) << c.text;
}

TEST(IniRead, BooleansAreIntegersThatAreNotZero) {
    const IniFile file = IniFile::Parse("[P]\na=2\nb=yes\nc=0\nd=0x10\n");
    EXPECT_TRUE(file.ReadBool(L"P", L"a", false));
    EXPECT_FALSE(file.ReadBool(L"P", L"b", false));
    EXPECT_FALSE(file.ReadBool(L"P", L"c", true));
    EXPECT_TRUE(file.ReadBool(L"P", L"d", false));
    EXPECT_TRUE(file.ReadBool(L"P", L"missing", true));
}

TEST(IniWrite, NewFileListsSectionsAndKeysInWriteOrder) {
    IniFile file = IniFile::Parse({});
    file.Write(L"Proxy", L"Use proxy", L"0");
    file.Write(L"Proxy", L"Server", L"");
    file.Write(L"Account", L"Username", L"ann");
    file.Write(L"Account", L"Profile", L"PC01.ann");
    EXPECT_EQ(file.Serialize(),
              "[Proxy]\r\nUse proxy=0\r\nServer=\r\n\r\n"
              "[Account]\r\nUsername=ann\r\nProfile=PC01.ann\r\n");
}

TEST(IniWrite, ExistingFileChangesKeyByKeyAndKeepsEverythingElse) {
    const std::string original =
        "; written by hand\r\n"
        "[Other]\r\n"
        "keep = this  \r\n"
        "\r\n"
        "[PROXY]\r\n"
        "SERVER = old.example\r\n"
        "Extra=stays\r\n"
        "\r\n";
    IniFile file = IniFile::Parse(original);
    file.Write(L"Proxy", L"Server", L"new.example");
    file.Write(L"Proxy", L"Port", L"3128");
    file.Write(L"Account", L"Username", L"bob");
    EXPECT_EQ(file.Serialize(),
              "; written by hand\r\n"
              "[Other]\r\n"
              "keep = this  \r\n"
              "\r\n"
              "[PROXY]\r\n"
              "SERVER=new.example\r\n"
              "Extra=stays\r\n"
              "Port=3128\r\n"
              "\r\n"
              "[Account]\r\n"
              "Username=bob\r\n");
}

TEST(IniWrite, ValuesAreWrittenVerbatimAndReadBackByTheReadingRules) {
    IniFile file = IniFile::Parse({});
    file.Write(L"Account", L"Password", L"  secret  ");
    file.Write(L"Account", L"Quoted", L"'x'");
    file.Write(L"Account", L"Equals", L"a=b=c");
    const IniFile reread = IniFile::Parse(file.Serialize());
    EXPECT_EQ(reread.ReadString(L"Account", L"Password", L""), L"secret");
    EXPECT_EQ(reread.ReadString(L"Account", L"Quoted", L""), L"x");
    EXPECT_EQ(reread.ReadString(L"Account", L"Equals", L""), L"a=b=c");
}

TEST(IniWrite, ALineBreakEndsTheValueAndAddsNoLines) {
    IniFile file = IniFile::Parse("[Account]\r\nProfile=Desk\r\n");
    file.Write(L"Account", L"Password", L"pw\r\n[Account]\r\nProfile=Stolen");
    file.Write(L"Account", L"Username", L"ann\nUse proxy=1");
    file.Write(L"Proxy", L"Server", L"\rhost");
    EXPECT_EQ(file.Serialize(),
              "[Account]\r\nProfile=Desk\r\nPassword=pw\r\nUsername=ann\r\n\r\n"
              "[Proxy]\r\nServer=\r\n");
}

TEST(IniWrite, LfOnlyFilesComeBackWithCrLf) {
    IniFile file = IniFile::Parse("[A]\nk=1\n");
    file.Write(L"A", L"k", L"2");
    EXPECT_EQ(file.Serialize(), "[A]\r\nk=2\r\n");
}

}  // namespace
}  // namespace kelvra
