// Short texts in a double-byte ANSI code page. The test list runs the Cp932
// suites in a process whose code page is 932 (Japanese), started with the
// locale ja_JP.UTF-8 (see tests/CMakeLists.txt).

#include "common/win32.h"

#include <gtest/gtest.h>

#include "common/shorttext.h"
#include "common/textconv.h"

namespace kelvra {
namespace {

class Cp932 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 932u)
            << "run this suite with LC_ALL=ja_JP.UTF-8, as the test list does";
    }
};

TEST_F(Cp932, CutNeverSplitsADoubleByteCharacter) {
    const std::wstring ideograph = L"\u65e5";  // two bytes in code page 932
    const std::wstring fits = std::wstring(253, L'a') + ideograph;
    EXPECT_EQ(WideToAnsiShort(fits).size(), 255u);
    EXPECT_EQ(ShortText(fits).str(), fits);

    const std::wstring oneTooMany = std::wstring(254, L'a') + ideograph;
    EXPECT_EQ(WideToAnsiShort(oneTooMany).size(), 254u) << "the cut falls before the lead byte";
    EXPECT_EQ(ShortText(oneTooMany).str(), std::wstring(254, L'a'));

    const std::wstring allWide(200, L'\u65e5');
    const std::string cut = WideToAnsiShort(allWide);
    EXPECT_EQ(cut.size(), 254u);
    EXPECT_EQ(AnsiToWide(cut), std::wstring(127, L'\u65e5'));
}

TEST_F(Cp932, HalfWidthKatakanaStaysOneByte) {
    const std::wstring katakana(300, L'\uff71');  // one byte each in code page 932
    EXPECT_EQ(WideToAnsiShort(katakana).size(), 255u);
}

}  // namespace
}  // namespace kelvra
