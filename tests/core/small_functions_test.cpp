#include "core/memory.h"
#include "core/path.h"
#include "core/rect.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace kestrel {
namespace {

TEST(HitTestRects, EdgesAndOrder)
{
    const Rect rects[] = {{10, 10, 20, 20}, {15, 15, 30, 30}, {0, 0, 0, 0}};
    struct Case {
        int x, y, index;
    };
    const Case cases[] = {
        {10, 10, 0}, {19, 19, 0}, {20, 20, 1}, // right and bottom edges are outside
        {15, 15, 0},                           // the first match wins
        {29, 29, 1}, {30, 30, -1}, {9, 10, -1}, {0, 0, -1}, // an empty rectangle holds nothing
    };
    for (const Case& c : cases)
        EXPECT_EQ(HitTestRects(rects, c.x, c.y), c.index) << c.x << "," << c.y;
    EXPECT_EQ(HitTestRects({}, 0, 0), -1);
}

TEST(MoveRect, KeepsTheSize)
{
    Rect r{10, 20, 110, 70};
    MoveRect(r, -5, 3);
    EXPECT_EQ(r, (Rect{-5, 3, 95, 53}));
}

TEST(SwapMemory, OddSizesAndUnalignedBlocks)
{
    for (std::size_t size : {0u, 1u, 3u, 4u, 5u, 64u, 67u}) {
        std::vector<std::uint8_t> a(size + 1), b(size + 1);
        std::iota(a.begin(), a.end(), 0);
        std::iota(b.begin(), b.end(), 100);
        const auto a0 = a, b0 = b;
        SwapMemory(a.data() + 1, b.data() + 1, size);
        EXPECT_EQ(a[0], a0[0]);
        EXPECT_TRUE(std::equal(a.begin() + 1, a.end(), b0.begin() + 1)) << size;
        EXPECT_TRUE(std::equal(b.begin() + 1, b.end(), a0.begin() + 1)) << size;
    }
}

TEST(ComposePath, ReplacesTheGivenParts)
{
    using P = std::optional<std::u16string_view>;
    struct Case {
        std::u16string path;
        P drive, directory, name, extension;
        std::u16string expected;
    };
    const Case cases[] = {
        // The program folder: drop name and extension.
        {u"C:\\Games\\kestrel\\kestrel.exe", {}, {}, u"", u"", u"C:\\Games\\kestrel\\"},
        {u"/opt/kestrel/bin/kestrel", {}, {}, u"", u"", u"/opt/kestrel/bin/"},
        {u"/opt/kestrel/bin/kestrel", {}, {}, u"kestrel", u"ini", u"/opt/kestrel/bin/kestrel.ini"},
        {u"/data/bg01.bmp", {}, {}, {}, u".png", u"/data/bg01.png"},
        {u"bg01", {}, u"/pics", {}, {}, u"/pics/bg01"},
        {u"a.b/c", {}, {}, {}, {}, u"a.b/c"}, // a dot in a folder is no extension
        {u"D:x.txt", u"E:", {}, {}, {}, u"E:x.txt"},
        {u"", {}, {}, {}, {}, u""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ComposePath(c.path, c.drive, c.directory, c.name, c.extension), c.expected);

    const PathParts parts = SplitPath(u"C:/dir/sub/name.tar.gz");
    EXPECT_EQ(parts.drive, u"C:");
    EXPECT_EQ(parts.directory, u"/dir/sub/");
    EXPECT_EQ(parts.name, u"name.tar");
    EXPECT_EQ(parts.extension, u".gz");
    // Each part holds at most 255 units.
    EXPECT_EQ(SplitPath(std::u16string(300, u'n')).name.size(), 255u);
}

} // namespace
} // namespace kestrel
