#include "common/shorttext.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvra {
namespace {

TEST(ShortText, KeepsAtMost255BytesAndComparesThem) {
    ShortText text(L"1.2.3");
    EXPECT_EQ(text.str(), L"1.2.3");
    text = std::wstring(1000, L'y');
    EXPECT_EQ(text.bytes(), std::string(255, 'y'));

    EXPECT_FALSE(ShortText(L"Beta") == ShortText(L"beta"));
    // Texts that differ only past the limit, or only in characters the code
    // page lacks, are stored alike.
    EXPECT_EQ(ShortText(std::wstring(255, L'a') + L"1"), ShortText(std::wstring(255, L'a') + L"2"));
    EXPECT_EQ(ShortText(L"1.0\u4e2d"), ShortText(L"1.0\u6587"));
}

}  // namespace
}  // namespace kelvra
