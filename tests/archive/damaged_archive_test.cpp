// Damaged and hostile archives fail cleanly: null or false and one line on
// the debug output, never a crash, a hang or a read outside a buffer.
#include "archive/archive.h"
#include "archive/saf_index.h"
#include "raw_saf.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using test::Bytes;
using test::RawEntry;

std::string TestName()
{
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

class DamagedArchiveTest : public ::testing::Test {
protected:
    ComPtr<IArchive> Open(const std::vector<std::uint8_t>& image)
    {
        test::WriteFile(m_folder / "d.saf", image);
        return ComPtr<IArchive>::Adopt(OpenSafArchive(m_folder / "d.saf"));
    }
    test::TempFolder m_folder{"damaged_" + TestName()};
    test::DebugCapture m_capture;
};

TEST_F(DamagedArchiveTest, BrokenIndexesAreRefusedWithOneLine)
{
    struct Case {
        const char* what;
        std::vector<std::uint8_t> image;
    };
    auto tooManyEntries = test::RawSaf6(0, {{"", true, 1, 0, 0}});
    saf::WriteU16(&tooManyEntries[2], 500); // the table would run past the file
    auto nameTableTooBig = test::RawSaf6(0, {{"", true, 1, 0, 0}});
    saf::WriteU32(&nameTableTooBig[4], 0xFFFFFFF0u);
    auto nameOffsetOutside = test::RawSaf6(0, {{"", true, 1, 0, 1}, {"a", false, 1, 0, 0}});
    saf::WriteU32(&nameOffsetOutside[8 + 16], 0x7FFFFFFFu);
    auto unterminatedName = test::RawSaf6(0, {{"", true, 1, 0, 1}, {"abc", false, 1, 0, 0}});
    unterminatedName.back() = 'x'; // the last name loses its NUL
    const Case cases[] = {
        {"root range leaves the table (v5)", test::RawSaf5(0, {{"", true, 1, 0, 5}})},
        {"folder range leaves the table (v6)",
            test::RawSaf6(0, {{"", true, 1, 0, 1}, {"d", true, 0xFFFFFFFFu, 0, 2}})},
        {"entry count past the end of the file", tooManyEntries},
        {"name table past the end of the file", nameTableTooBig},
        {"name offset outside the name table", nameOffsetOutside},
        {"name without terminator", unterminatedName},
        {"header cut short (v5)", {0x00, 0x05, 0x01}},
        {"header cut short (v6)", {0x00, 0x06, 0x01, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        const std::size_t before = m_capture.lines().size();
        EXPECT_FALSE(Open(c.image)) << c.what;
        EXPECT_EQ(m_capture.lines().size(), before + 1) << c.what;
    }
}

TEST_F(DamagedArchiveTest, MemberPastTheEndOfTheFileIsRefused)
{
    auto image = test::RawSaf6(0, {{"", true, 1, 0, 2}, {"cut.bin", false, 1, 5000, 0}, {"ok.bin", false, 1, 3, 0}});
    test::PlaceData(image, 1, Bytes("abcdef"));
    ComPtr<IArchive> archive = Open(image);
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->Exists(u"cut.bin"));
    EXPECT_EQ(archive->OpenFile(u"cut.bin"), nullptr);
    EXPECT_FALSE(ReadArchiveMember(*archive, u"cut.bin").has_value());
    EXPECT_EQ(m_capture.lines().size(), 2u);
    // The rest of the archive stays usable.
    EXPECT_EQ(*ReadArchiveMember(*archive, u"ok.bin"), Bytes("abc"));
}

TEST_F(DamagedArchiveTest, ImpossibleUnpackedSizesAreRefused)
{
    // 10 stored bytes cannot unpack to 4 GiB by either method.
    for (std::uint8_t flags : {0, 2}) {
        auto image = test::RawSaf6(flags, {{"", true, 1, 0, 1}, {"huge.bmp", false, 1, 10, 0xFFFFFFF0u}});
        test::PlaceData(image, 1, std::vector<std::uint8_t>(10, 0));
        ComPtr<IArchive> archive = Open(image);
        ASSERT_TRUE(archive);
        EXPECT_EQ(archive->OpenDecoded(u"huge.bmp"), nullptr);
    }
}

TEST_F(DamagedArchiveTest, MembersTooLargeToReadWholeAreRefused)
{
    // 2 MiB of zlib could in principle unpack to 1.25 GiB: no member read
    // whole is anywhere near that, so it is refused rather than allocated.
    const std::uint32_t stored = 2u << 20;
    auto image = test::RawSaf6(0, {{"", true, 1, 0, 1}, {"huge.txt", false, 1, stored, 0x50000000u}});
    test::PlaceData(image, 1, std::vector<std::uint8_t>(stored, 0));
    ComPtr<IArchive> archive = Open(image);
    ASSERT_TRUE(archive);
    const std::size_t before = m_capture.lines().size();
    EXPECT_FALSE(ReadArchiveMember(*archive, u"huge.txt").has_value());
    EXPECT_FALSE(ReadArchiveText(*archive, u"huge.txt").has_value());
    EXPECT_EQ(m_capture.lines().size(), before + 2);
}

TEST_F(DamagedArchiveTest, FoldersThatContainThemselvesEnumerateOnce)
{
    // Folder 1 lists itself and folder 2; folder 2 lists folder 1 again.
    std::vector<RawEntry> entries = {
        {"", true, 1, 0, 1},
        {"a", true, 1, 0, 3},
        {"b", true, 1, 0, 1},
        {"f", false, 1, 1, 0},
    };
    auto image = test::RawSaf6(0, entries);
    test::PlaceData(image, 1, Bytes("x"));
    ComPtr<IArchive> archive = Open(image);
    ASSERT_TRUE(archive);
    std::vector<ArchiveEntryRecord> list;
    archive->Enumerate(list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].path, u"a/f");
    // Lookups follow the path given and end with it.
    EXPECT_TRUE(archive->Exists(u"a/a/b/a/f"));
}

TEST(SafIndex, ParsesFromBytesWithoutAFile)
{
    auto image = test::RawSaf6(1, {{"", true, 1, 0, 1}, {"x.txt", false, 1, 1, 0}});
    const auto index = saf::SafIndex::Parse(image, 6);
    ASSERT_TRUE(index.has_value());
    EXPECT_EQ(index->Find(u"X.TXT"), 1u);
    test::DebugCapture capture;
    EXPECT_FALSE(saf::SafIndex::Parse(image, 5).has_value()); // wrong version
    EXPECT_FALSE(saf::SafIndex::Parse(std::span(image).first(3), 6).has_value());
    const auto empty = saf::SafIndex::Parse(test::RawSaf6(0, {}), 6);
    ASSERT_TRUE(empty.has_value());
    EXPECT_FALSE(empty->Find(u"x").has_value());
}

TEST(DirArchive, ServesAFolderLikeAnArchive)
{
    test::TempFolder folder("dir_" + TestName());
    test::WriteFile(folder / "data/bgm/Title.ogg", Bytes("music"));
    test::WriteFile(folder / "data/readme.txt", Bytes("hello"));
    test::WriteFile(folder / "secret.txt", Bytes("outside"));
    auto inner = test::RawSaf6(0, {{"", true, 1, 0, 1}, {"in.txt", false, 1, 2, 0}});
    test::PlaceData(inner, 1, Bytes("in"));
    test::WriteFile(folder / "data/pack.saf", inner);

    EXPECT_EQ(NewDirArchive(folder / "missing"), nullptr);
    EXPECT_EQ(NewDirArchive(folder / "secret.txt"), nullptr);
    ComPtr<IArchive> archive = ComPtr<IArchive>::Adopt(NewDirArchive(folder / "data"));
    ASSERT_TRUE(archive);

    test::DebugCapture capture;
    struct Case {
        std::u16string path;
        bool exists;
    };
    const Case cases[] = {
        {u"bgm/Title.ogg", true},
        {u"BGM\\TITLE.OGG", true}, // the game data was written on case-blind systems
        {u"bgm", true},
        {u"readme.txt", true},
        {u"../secret.txt", false},
        {u"bgm/../../secret.txt", false},
        {u"/etc/passwd", false},
        {u"nothing.txt", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(archive->Exists(c.path), c.exists) << std::string(c.path.begin(), c.path.end());
    EXPECT_EQ(capture.lines().size(), 2u); // each escape is reported

    EXPECT_EQ(*ReadArchiveMember(*archive, u"BGM/title.OGG"), Bytes("music"));
    EXPECT_EQ(archive->OpenFile(u"bgm"), nullptr);
    EXPECT_FALSE(archive->IsCompressed(u"readme.txt"));
    std::vector<ArchiveEntryRecord> list{{u"stale", 0, 0}};
    EXPECT_TRUE(archive->Enumerate(list).empty());

    ComPtr<IArchive> nested = ComPtr<IArchive>::Adopt(archive->OpenArchive(u"pack.saf"));
    ASSERT_TRUE(nested);
    EXPECT_EQ(*ReadArchiveMember(*nested, u"in.txt"), Bytes("in"));

    ComPtr<IMappingFile> mapped = ComPtr<IMappingFile>::Adopt(archive->OpenMapped(u"readme.txt"));
    ASSERT_TRUE(mapped);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped->Map(1, 3)), 3), "ell");
}

} // namespace
} // namespace kestrel
