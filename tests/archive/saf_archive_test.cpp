#include "archive/archive.h"
#include "archive/saf_archive.h"
#include "archive/zlib/zlib_codec.h"
#include "archive/egg.h"
#include "platform/headless/headless_platform.h"
#include "raw_saf.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <thread>

namespace kestrel {
namespace {

using test::Bytes;
using test::RawEntry;

std::string TestName()
{
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 5));
    return out;
}

// root: bgm/ (title.ogg, empty.bin), readme.txt, SE/ (click.wav)
std::vector<RawEntry> SampleEntries()
{
    return {
        {"", true, 1, 0, 3},
        {"bgm", true, 4, 0, 2},
        {"readme.txt", false, 1, 5, 0},
        {"SE", true, 6, 0, 1},
        {"title.ogg", false, 2, 100, 0},
        {"empty.bin", false, 3, 0, 0},
        {"click.wav", false, 3, 10, 0},
    };
}

std::vector<std::uint8_t> SampleImage(std::uint8_t version, std::uint8_t flags)
{
    auto image = version == 5 ? test::RawSaf5(flags, SampleEntries()) : test::RawSaf6(flags, SampleEntries());
    test::PlaceData(image, 1, Bytes("hello"));
    test::PlaceData(image, 2, Pattern(100, 1));
    test::PlaceData(image, 3, Pattern(10, 50));
    return image;
}

class SafArchiveTest : public ::testing::Test {
protected:
    ComPtr<IArchive> Open(const std::vector<std::uint8_t>& image)
    {
        const auto path = m_folder / "test.saf";
        test::WriteFile(path, image);
        return ComPtr<IArchive>::Adopt(OpenSafArchive(path));
    }

    test::TempFolder m_folder{"saf_" + TestName()};
};

TEST_F(SafArchiveTest, LookupRulesInBothVersionsScrambledOrNot)
{
    for (std::uint8_t version : {5, 6}) {
        for (std::uint8_t flags : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "version " << int(version) << " flags " << int(flags));
            ComPtr<IArchive> archive = Open(SampleImage(version, flags));
            ASSERT_TRUE(archive);
            struct Case {
                std::u16string path;
                bool exists;
            };
            const Case cases[] = {
                {u"bgm/title.ogg", true},
                {u"BGM/Title.OGG", true},       // ASCII case does not matter
                {u"bgm\\title.ogg", true},      // both separators
                {u"se/CLICK.WAV", true},
                {u"readme.txt", true},
                {u"bgm", true},                 // folders exist too
                {u"/bgm/title.ogg", false},     // a leading separator is an empty component
                {u"bgm//title.ogg", false},
                {u"bgm/", false},
                {u"readme.txt/x", false},       // a file used as a folder
                {u"title.ogg", false},          // only in its folder
                {u"bgm/title.og", false},
                {u"", false},
            };
            for (const Case& c : cases)
                EXPECT_EQ(archive->Exists(c.path), c.exists) << std::string(c.path.begin(), c.path.end());

            // Folders are not members.
            EXPECT_EQ(archive->OpenFile(u"bgm"), nullptr);
            EXPECT_EQ(archive->OpenDecoded(u"SE"), nullptr);
            EXPECT_FALSE(archive->IsCompressed(u"bgm"));

            const auto title = ReadArchiveMember(*archive, u"BGM\\TITLE.ogg");
            ASSERT_TRUE(title.has_value());
            EXPECT_EQ(*title, Pattern(100, 1));
            EXPECT_EQ(*ReadArchiveMember(*archive, u"se/click.wav"), Pattern(10, 50));
            EXPECT_TRUE(ReadArchiveMember(*archive, u"bgm/empty.bin")->empty());
            EXPECT_FALSE(ReadArchiveMember(*archive, u"missing").has_value());
        }
    }
}

TEST_F(SafArchiveTest, EnumerateIsDepthFirstInEntryOrder)
{
    ComPtr<IArchive> archive = Open(SampleImage(6, 1));
    ASSERT_TRUE(archive);
    std::vector<ArchiveEntryRecord> list{{u"stale", 1, 1}};
    archive->Enumerate(list);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].path, u"bgm/title.ogg");
    EXPECT_EQ(list[0].storedSize, 100);
    EXPECT_EQ(list[0].offset, 2 * 2048);
    EXPECT_EQ(list[1].path, u"bgm/empty.bin");
    EXPECT_EQ(list[2].path, u"readme.txt");
    EXPECT_EQ(list[3].path, u"SE/click.wav");
}

TEST_F(SafArchiveTest, Version5NameOfExactly20Bytes)
{
    const std::string name20 = "abcdefghij0123456789";
    std::vector<RawEntry> entries = {
        {"", true, 1, 0, 3},
        {name20, false, 1, 3, 0},
        {"pad ded", false, 1, 3, 0}, // a space ends the name
        // Bit 7 of the first byte is the folder flag, so a name cannot start
        // with a double-byte character; it can hold them after that.
        {"a\x83\x65\x83\x58\x83\x67", false, 1, 3, 0}, // aテスト
    };
    auto image = test::RawSaf5(0, entries);
    test::PlaceData(image, 1, Bytes("abc"));
    ComPtr<IArchive> archive = Open(image);
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->Exists(u"abcdefghij0123456789"));
    EXPECT_FALSE(archive->Exists(u"abcdefghij012345678"));
    EXPECT_TRUE(archive->Exists(u"pad"));
    EXPECT_FALSE(archive->Exists(u"pad ded"));
    EXPECT_TRUE(archive->Exists(u"aテスト"));
}

TEST_F(SafArchiveTest, Version5ScrambleKeyRestartsEvery60BytesAndStopsAtTheTable)
{
    std::vector<RawEntry> entries = {
        {"", true, 1, 0, 2},
        {"one", false, 1, 4, 0},
        {"two", false, 2, 4, 0},
    };
    // Unscrambled table, then scrambled by the rule written out here.
    auto image = test::RawSaf5(0, entries);
    ASSERT_EQ(image.size(), 4u + 96u);
    image[0] = 1;
    for (std::size_t k = 0; k < 96; ++k)
        image[4 + k] ^= static_cast<std::uint8_t>(saf::kBase5 + k % 60);
    // Bytes after the table belong to the data and are read as they are.
    test::PlaceData(image, 1, Bytes("ONE!"));
    test::PlaceData(image, 2, Bytes("TWO!"));
    image[100] = 0x5A;
    ComPtr<IArchive> archive = Open(image);
    ASSERT_TRUE(archive);
    EXPECT_EQ(*ReadArchiveMember(*archive, u"one"), Bytes("ONE!"));
    EXPECT_EQ(*ReadArchiveMember(*archive, u"two"), Bytes("TWO!"));
    auto* saf = dynamic_cast<CSafArchive*>(archive.get());
    ASSERT_NE(saf, nullptr);
    EXPECT_EQ(saf->index().entry(2).start, 2u); // bytes 64-95: keys from the restarted sequence
}

TEST_F(SafArchiveTest, Version6DirectoryBitLeavesTheNameOffset)
{
    ComPtr<IArchive> archive = Open(SampleImage(6, 0));
    auto* saf = dynamic_cast<CSafArchive*>(archive.get());
    ASSERT_NE(saf, nullptr);
    EXPECT_TRUE(saf->index().entry(1).directory);
    EXPECT_EQ(saf->index().name(1), u"bgm");
    EXPECT_FALSE(saf->index().entry(2).directory);
    EXPECT_EQ(saf->index().name(2), u"readme.txt");
    EXPECT_EQ(saf->index().nameTableSize(), 1u + 4 + 11 + 3 + 10 + 10 + 10);
}

TEST_F(SafArchiveTest, CompressedMembersAndTheEggFlag)
{
    const std::vector<std::uint8_t> plain = Pattern(5000, 3);
    const std::vector<std::uint8_t> zipped = zlib::Deflate(plain);
    const std::vector<std::uint8_t> egged = EggEncode(plain);
    const auto size = [](const std::vector<std::uint8_t>& v) { return static_cast<std::uint32_t>(v.size()); };
    const std::uint32_t plainSize = size(plain);
    struct Case {
        std::uint8_t version;
        std::uint8_t flags;
        std::vector<std::uint8_t> packed;
    };
    const Case cases[] = {{5, 0, zipped}, {6, 0, zipped}, {6, 2, egged}, {6, 3, egged}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "version " << int(c.version) << " flags " << int(c.flags));
        std::vector<RawEntry> entries = {
            {"", true, 1, 0, 2},
            {"packed.bmp", false, 1, size(c.packed), plainSize},
            {"stored.bmp", false, 10, plainSize, 0}, // unpacked size 0: stored, even with the egg flag
        };
        auto image = c.version == 5 ? test::RawSaf5(c.flags, entries) : test::RawSaf6(c.flags, entries);
        test::PlaceData(image, 1, c.packed);
        test::PlaceData(image, 10, plain);
        ComPtr<IArchive> archive = Open(image);
        ASSERT_TRUE(archive);
        EXPECT_TRUE(archive->IsCompressed(u"packed.bmp"));
        EXPECT_FALSE(archive->IsCompressed(u"stored.bmp"));
        EXPECT_EQ(*ReadArchiveMember(*archive, u"packed.bmp"), plain);
        EXPECT_EQ(*ReadArchiveMember(*archive, u"stored.bmp"), plain);
        ComPtr<ICompressedFile> decoded = ComPtr<ICompressedFile>::Adopt(archive->OpenDecoded(u"packed.bmp"));
        EXPECT_EQ(decoded->GetSize(), plainSize);
        EXPECT_EQ(decoded->GetStoredSize(), size(c.packed));
    }
}

TEST_F(SafArchiveTest, ReadArchiveTextAddsATerminator)
{
    ComPtr<IArchive> archive = Open(SampleImage(6, 0));
    std::size_t length = 99;
    const auto text = ReadArchiveText(*archive, u"readme.txt", &length);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(length, 5u);
    ASSERT_EQ(text->size(), 6u);
    EXPECT_EQ((*text)[4], 'o');
    EXPECT_EQ((*text)[5], 0);
    EXPECT_FALSE(ReadArchiveText(*archive, u"nothing.txt", &length).has_value());
}

TEST_F(SafArchiveTest, NestedArchivesUseTheMemberAsBase)
{
    // An inner version 6 archive stored as member "inner.saf" at block 2.
    auto inner = test::RawSaf6(1, {{"", true, 1, 0, 1}, {"deep.txt", false, 1, 4, 0}});
    test::PlaceData(inner, 1, Bytes("deep"));
    auto outer = test::RawSaf6(0, {{"", true, 1, 0, 1}, {"inner.saf", false, 2, static_cast<std::uint32_t>(inner.size()), 0}});
    test::PlaceData(outer, 2, inner);
    ComPtr<IArchive> archive = Open(outer);
    ASSERT_TRUE(archive);
    ComPtr<IArchive> nested = ComPtr<IArchive>::Adopt(archive->OpenArchive(u"inner.saf"));
    ASSERT_TRUE(nested);
    EXPECT_EQ(*ReadArchiveMember(*nested, u"deep.txt"), Bytes("deep"));
    std::vector<ArchiveEntryRecord> list;
    nested->Enumerate(list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].offset, 2048); // relative to the nested archive
    EXPECT_EQ(archive->OpenArchive(u"missing.saf"), nullptr);
}

TEST_F(SafArchiveTest, MembersKeepTheirArchiveAndAnswerForIt)
{
    ComPtr<IArchiveFile> member;
    {
        ComPtr<IArchive> archive = Open(SampleImage(6, 0));
        member = ComPtr<IArchiveFile>::Adopt(archive->OpenFile(u"readme.txt"));
        ComPtr<IArchive> same = ComPtr<IArchive>::Adopt(archive->Duplicate());
        EXPECT_EQ(same.get(), archive.get());
    }
    ASSERT_TRUE(member);
    void* owner = nullptr;
    ASSERT_EQ(member->QueryInterface(IArchive::Iid, &owner), kResultOk);
    ComPtr<IArchive> archive = ComPtr<IArchive>::Adopt(static_cast<IArchive*>(owner));
    EXPECT_TRUE(archive->Exists(u"bgm/title.ogg"));
    void* nothing = reinterpret_cast<void*>(1);
    EXPECT_EQ(member->QueryInterface(ICompressedFile::Iid, &nothing), kResultNoInterface);
    EXPECT_EQ(nothing, nullptr);
}

TEST_F(SafArchiveTest, MembersReadIndependentlyOnTwoThreads)
{
    ComPtr<IArchive> archive = Open(SampleImage(6, 0));
    auto reader = [&archive](std::u16string path, std::vector<std::uint8_t> expected) {
        for (int i = 0; i < 200; ++i) {
            auto bytes = ReadArchiveMember(*archive, path);
            ASSERT_TRUE(bytes.has_value());
            ASSERT_EQ(*bytes, expected);
        }
    };
    std::thread a(reader, u"bgm/title.ogg", Pattern(100, 1));
    std::thread b(reader, u"SE/click.wav", Pattern(10, 50));
    a.join();
    b.join();
}

TEST_F(SafArchiveTest, VersionSniffing)
{
    platform::HeadlessPlatform headless;
    headless.SetMessageBoxPolicy(platform::HeadlessPlatform::AlwaysAnswer(MessageBoxAnswer::Ignore));
    platform::ScopedMessageBoxHost host(headless);
    test::DebugCapture capture;

    EXPECT_TRUE(Open(SampleImage(5, 0)));
    EXPECT_TRUE(Open(SampleImage(6, 0)));
    EXPECT_TRUE(headless.MessageBoxLog().empty());

    auto version7 = SampleImage(6, 0);
    version7[0] = 0x00;
    version7[1] = 0x07;
    EXPECT_FALSE(Open(version7));
    ASSERT_EQ(headless.MessageBoxLog().size(), 1u);
    EXPECT_EQ(headless.MessageBoxLog()[0].request.text.rfind(u"Assert(未対応のSAF形式);\nFile archive, line ", 0), 0u);

    EXPECT_EQ(OpenSafArchive(m_folder / "missing.saf"), nullptr);
    EXPECT_EQ(headless.MessageBoxLog().size(), 1u); // a missing file is no programming error
    // The explicit factories do not sniff: a version 6 file is no version 5 archive.
    test::WriteFile(m_folder / "six.saf", SampleImage(6, 0));
    EXPECT_EQ(NewArchive5(m_folder / "six.saf"), nullptr);
}

} // namespace
} // namespace kestrel
