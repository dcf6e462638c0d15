#include <gtest/gtest.h>

#include "code/Fields.h"

namespace veldrix {
namespace {

TEST(FieldsTest, ParseDigits) {
    EXPECT_EQ(ParseDigits("1fF", 16), 0x1FF);
    EXPECT_EQ(ParseDigits("1234", 10), 1234);
    EXPECT_EQ(ParseDigits("1011", 2), 11);
    EXPECT_EQ(ParseDigits("", 16), 0);
    // The first foreign character anywhere spoils the whole text.
    for (auto [text, base] : {std::pair{"1G", 16}, {"G1", 16}, {"1A", 10}, {"102", 2}, {" 12", 10}, {"1F\n", 16}})
        EXPECT_EQ(ParseDigits(text, base), -1) << text;
    // Modulo 2^32: all ones reads like the error.
    EXPECT_EQ(ParseDigits("FFFFFFFF", 16), -1);
    EXPECT_EQ(ParseDigits("100000012", 16), 0x12);
}

TEST(FieldsTest, FormatDigits) {
    struct Case {
        int base;
        uint32_t value;
        int width;
        const char* text;
    } cases[] = {{16, 0, 4, "0000"},       {16, 0, 255, "0"},         {16, 0x1FFF, 4, "1FFF"},
                 {16, 0x1F, 4, "001F"},    {16, 0x12345, 4, "12345"}, {16, 0xabcdef, 255, "ABCDEF"},
                 {10, 12, 5, "00012"},     {2, 5, 8, "00000101"},     {16, 0xFFFFFFFF, 255, "FFFFFFFF"}};
    std::string out;
    for (const Case& c : cases) {
        EXPECT_TRUE(FormatDigits(c.base, c.value, out, 8, c.width)) << c.text;
        EXPECT_EQ(out, c.text);
    }
    out = "stale";
    EXPECT_FALSE(FormatDigits(8, 7, out, 8, 4));
    EXPECT_EQ(out, "");
    out = "stale";
    EXPECT_FALSE(FormatDigits(16, 0x12345, out, 4, 4));  // five digits, room for four
    EXPECT_EQ(out, "");
}

TEST(FieldsTest, HexCharsetAcceptsDigitsAndLineControls) {
    EXPECT_EQ(HexCharset.size(), 26u);
    EXPECT_TRUE(OnlyCharsFrom(HexCharset, "0123456789ABCDEFabcdef\r\n\t\a"));
    EXPECT_TRUE(OnlyCharsFrom(HexCharset, ""));
    using namespace std::literals;
    for (std::string_view bad : {"1F "sv, "1G"sv, ":"sv, "1\0"sv})
        EXPECT_FALSE(OnlyCharsFrom(HexCharset, bad)) << bad;
}

TEST(FieldsTest, PadLeftZeros) {
    std::string out;
    for (auto [text, padded] : {std::pair{"", "00000"}, {"1ff", "001ff"}, {"12345", "12345"}, {"123456", "23456"}}) {
        EXPECT_TRUE(PadLeftZeros(text, 5, out));
        EXPECT_EQ(out, padded);
    }
    EXPECT_TRUE(PadLeftZeros(std::string(40, '1'), 5, out));
    EXPECT_EQ(out, "11111");
    EXPECT_FALSE(PadLeftZeros(std::string(41, '1'), 5, out));
    EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace veldrix
