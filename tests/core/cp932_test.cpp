#include "core/cp932.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(Cp932, LeadBytes)
{
    for (int b = 0; b < 256; ++b) {
        const bool expected = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        EXPECT_EQ(IsCp932LeadByte(static_cast<unsigned char>(b)), expected) << b;
    }
}

TEST(Cp932, RoundTrips)
{
    struct Case {
        std::string bytes;
        std::u16string text;
    };
    const Case cases[] = {
        {"script/_start.txt", u"script/_start.txt"},
        {"\x5C", u"\\"}, // the path separator stays a backslash
        {"\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD", u"こんにちは"},
        {"\xB1\xB2\xB3\xDF", u"ｱｲｳﾟ"},            // half-width katakana are single bytes
        {"\x81\x40", u"\u3000"},                    // ideographic space
        {"\x87\x40", u"①"},                         // NEC row 13
        {"\x81\x60", u"\uFF5E"},                    // the wave dash as Windows maps it
        {"\x93\xFA\x96\x7B\x8C\xEA", u"日本語"},
        {"\x82\xA0" "A\x82\xA2", u"あAい"},
    };
    for (const Case& c : cases) {
        ConversionReport in, out;
        EXPECT_EQ(Cp932ToUtf16(c.bytes, &in), c.text) << c.bytes;
        EXPECT_EQ(Utf16ToCp932(c.text, &out), c.bytes);
        EXPECT_TRUE(in.lossless());
        EXPECT_TRUE(out.lossless());
    }
}

TEST(Cp932, InvalidBytesBecomeReplacementCharacters)
{
    struct Case {
        std::string bytes;
        std::u16string text;
        std::size_t replaced;
    };
    const Case cases[] = {
        {"\x82", u"\uFFFD", 1},                 // lead byte cut off at the end
        {"a\x82 b", u"a\uFFFD b", 1},           // lead byte with a trail that is no trail: the blank survives
        {"\x80", u"\uFFFD", 1},
        {"\xA0", u"\uFFFD", 1},
        {"\xFD\xFE\xFF", u"\uFFFD\uFFFD\uFFFD", 3},
        {std::string("x\0y", 3), std::u16string(u"x\0y", 3), 0}, // NUL is a character like any other
    };
    for (const Case& c : cases) {
        ConversionReport report;
        EXPECT_EQ(Cp932ToUtf16(c.bytes, &report), c.text);
        EXPECT_EQ(report.replaced, c.replaced);
    }
}

TEST(Cp932, UnmappableCharactersBecomeQuestionMarks)
{
    ConversionReport report;
    EXPECT_EQ(Utf16ToCp932(u"a\u00E9b", &report), "a?b");
    EXPECT_EQ(report.replaced, 1u);
    report = {};
    // A surrogate pair is one character and gives one '?'; a lone surrogate too.
    EXPECT_EQ(Utf16ToCp932(std::u16string{0xD83D, 0xDE00, u'x', 0xDC00}, &report), "?x?");
    EXPECT_EQ(report.replaced, 2u);
    EXPECT_EQ(Utf16ToCp932(u""), "");
    EXPECT_EQ(Cp932ToUtf16(""), u"");
}

} // namespace
} // namespace kestrel
