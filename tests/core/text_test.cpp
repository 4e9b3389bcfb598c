#include "core/text.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrel {
namespace {

TEST(Utf16, EncodeTable)
{
    struct Case {
        char32_t in;
        std::u16string out;
    };
    const Case cases[] = {
        {U'A', u"A"},
        {0x3042, u"\u3042"},
        {0xFFFF, std::u16string(1, 0xFFFF)},
        {0x10000, {0xD800, 0xDC00}},
        {0x1F600, {0xD83D, 0xDE00}},
        {0x10FFFF, {0xDBFF, 0xDFFF}},
        {0x110000, u"\uFFFD"},
        {0xD800, u"\uFFFD"},
    };
    for (const Case& c : cases) {
        char16_t units[2] = {};
        const int count = EncodeUtf16(units, c.in);
        EXPECT_EQ(std::u16string(units, count), c.out) << std::hex << static_cast<std::uint32_t>(c.in);
    }
}

TEST(Utf16, DecodeTable)
{
    struct Case {
        std::u16string text;
        std::ptrdiff_t available;
        char32_t codePoint;
        std::ptrdiff_t advance; // 0: no code point (null returned)
    };
    const Case cases[] = {
        {u"A", 1, U'A', 1},
        {{0xD83D, 0xDE00}, 2, 0x1F600, 2},
        {{0xD83D, 0xDE00}, -1, 0x1F600, 2},
        {{0xD83D, 0xDE00}, 1, 0xD83D, 1}, // the second unit is not available
        {{0xD83D, u'A'}, 2, 0xD83D, 1},   // a high surrogate without a low one stands alone
        {{0xDE00, 0xD83D}, 2, 0xDE00, 1}, // reversed pair
        {u"A", 0, 0, 0},
    };
    for (const Case& c : cases) {
        char32_t cp = 0;
        const char16_t* next = DecodeUtf16(c.text.c_str(), c.available, &cp);
        if (c.advance == 0) {
            EXPECT_EQ(next, nullptr);
            continue;
        }
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(next - c.text.c_str(), c.advance);
        EXPECT_EQ(cp, c.codePoint);
    }
}

TEST(Utf16, TextWidthUnits)
{
    struct Case {
        std::u16string text;
        int width;
    };
    const Case cases[] = {
        {u"", 0},
        {u"abc", 3},
        {u"\u00E9\u00FF", 2},           // Latin-1 counts 1
        {u"\u0100", 2},                 // just above it counts 2
        {u"ｱｲｳ", 3},                    // half-width katakana U+FF71..
        {u"\uFF61\uFF9F\uFF60\uFFA0", 6}, // the range ends are 1, the neighbours 2
        {u"こんにちは", 10},
        {{0xD83D, 0xDE00}, 2},          // a pair is one character
        {{u'a', 0, u'b'}, 1},           // stops at the first NUL
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextWidthUnits(std::u16string_view(c.text)), c.width) << c.text.size();
    EXPECT_EQ(TextWidthUnits(u"ab\u3042"), 4);
    EXPECT_EQ(TextWidthUnits(static_cast<const char16_t*>(nullptr)), 0);
}

TEST(Utf8, RoundTripsAndRepairs)
{
    const std::u16string text = u"kestrel 日本語 \U0001F600 ｶﾀｶﾅ";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
    EXPECT_EQ(Utf16ToUtf8(u"\u3042"), "\xE3\x81\x82");
    // Unpaired surrogates cannot be written as UTF-8.
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
    // Bad bytes: stray continuation, overlong, truncated sequence, encoded surrogate.
    EXPECT_EQ(Utf8ToUtf16("a\x80" "b"), u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xE3\x81"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
}

TEST(Utf16, TruncateKeepsPairsWhole)
{
    const std::u16string text{u'a', u'b', 0xD83D, 0xDE00};
    EXPECT_EQ(TruncateUtf16(text, 10), text);
    EXPECT_EQ(TruncateUtf16(text, 4), u"ab"); // three units fit, but not half a pair
    EXPECT_EQ(TruncateUtf16(text, 5), text);
    EXPECT_EQ(TruncateUtf16(text, 0), u"");
}

} // namespace
} // namespace kestrel
