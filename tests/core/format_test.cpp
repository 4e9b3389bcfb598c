#include "core/format.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(Format, Conversions)
{
    struct Case {
        std::u16string result;
        std::u16string expected;
    };
    const std::u16string wide = u"セーブ";
    const Case cases[] = {
        {Format(u"%s(%d): Compile Error: %s\n", u"_start.txt", 12, u"コマンド名が違います。"),
            u"_start.txt(12): Compile Error: コマンド名が違います。\n"},
        {Format(u"%hs", "\x95\xB6\x8E\x9A"), u"文字"}, // narrow text is code page 932
        {Format(u"%ls|%s", wide, std::u16string_view(u"x")), u"セーブ|x"},
        {Format(u"[%5d|%-5d|%05d]", 42, 42, 42), u"[   42|42   |00042]"},
        {Format(u"%x %X %u", -1, 255u, 7u), u"ffffffff FF 7"},
        {Format(u"%lld %d", -9000000000LL, -5), u"-9000000000 -5"},
        {Format(u"%hd", 70000), u"4464"},
        {Format(u"%.2f %g", 1.005, 0.5), u"1.00 0.5"},
        {Format(u"%c%c", u'日', 'A'), u"日A"},
        {Format(u"[%4s|%-4s|%.2s]", u"ab", u"ab", u"abcd"), u"[  ab|ab  |ab]"},
        {Format(u"%*d", 4, 7), u"   7"},
        {Format(u"100%% %"), u"100% %"},
        {Format(u"%p", static_cast<const void*>(nullptr)), u"0000000000000000"},
        {Format(u"%d %s"), u"(missing) (missing)"},
        {Format(u"%d|%s", u"text", 5), u"(bad number)|(bad string)"},
        {Format(u"%q"), u"%q"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, c.expected);
}

TEST(Format, LimitKeepsRoomForTheTerminatorAndPairsWhole)
{
    EXPECT_EQ(FormatLimited(4, u"%s", u"abcdef"), u"abc");
    EXPECT_EQ(FormatLimited(4, u"ab%s", std::u16string{0xD83D, 0xDE00}), u"ab");
    EXPECT_EQ(FormatLimited(0, u"%s", u"abcdef"), u"abcdef");
}

TEST(Format, HostileWidthsAreClamped)
{
    EXPECT_LE(Format(u"%999999999d", 1).size(), 4096u);
    EXPECT_LE(Format(u"%*s", 2000000000, u"x").size(), 4096u);
}

} // namespace
} // namespace kestrel
