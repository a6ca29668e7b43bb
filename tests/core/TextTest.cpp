// The shared text rules: trimming, strict decimal numbers, line splitting, bounded texts.
#include "core/Errors.h"
#include "core/Text.h"

#include <gtest/gtest.h>

namespace pw {
namespace {

TEST(Text, TrimRemovesBlanksAndControlCharactersOnly) {
    EXPECT_EQ(Trim(" \t\r\n a b \x01\x1f"), "a b");
    EXPECT_EQ(Trim("\xa0x\xa0"), "\xa0x\xa0"); // 8-bit characters are text
    EXPECT_EQ(TrimLeft("  a  "), "a  ");
    EXPECT_EQ(TrimRight("  a  "), "  a");
    EXPECT_EQ(Trim("   "), "");
}

TEST(Text, StrToIntIsStrictDecimal) {
    EXPECT_EQ(TryStrToInt("15"), 15);
    EXPECT_EQ(TryStrToInt("  -7"), -7);
    EXPECT_EQ(TryStrToInt("+7"), 7);
    EXPECT_EQ(TryStrToInt("2147483647"), 2147483647);
    EXPECT_EQ(TryStrToInt("-2147483648"), INT32_MIN);
    for (const char* bad :
         {"", " ", "-", "15 ", "1a", "0x10", "$10", "2147483648", "99999999999999999999", "1.5"})
        EXPECT_FALSE(TryStrToInt(bad).has_value()) << bad;
    EXPECT_THROW(StrToInt("x"), EConvertError);
    EXPECT_EQ(StrToIntDef("x", 42), 42);
}

TEST(Text, SplitLinesAcceptsEveryLineEnd) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\n\nb\n"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitLines(""), Lines{});
    EXPECT_EQ(SplitLines("\r\n"), Lines{""});
}

TEST(Text, BoundedTextCutsOnStore) {
    BoundedText<5> t("abcdefgh");
    EXPECT_EQ(t.str(), "abcde");
    t = "xy";
    EXPECT_EQ(t.str(), "xy");
}

} // namespace
} // namespace pw
