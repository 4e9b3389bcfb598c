// The SAF packer, checked through the readers: what SafBuilder writes,
// NewArchive5 and NewArchive6 find by path and unpack exactly.
#include "archive/archive.h"
#include "archive/saf_format.h"
#include "archive/saf_writer.h"
#include "core/file.h"
#include "core/text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using saf::Compression;
using saf::SafBuilder;
using saf::WriterOptions;

Bytes ToBytes(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Noise(std::size_t size, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(rng());
    return out;
}

Bytes Repetitive(std::size_t size)
{
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>("tick tock, "[i % 11]);
    return out;
}

fs::path TempPath(const std::string& name)
{
    std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : test) {
        if (c == '/')
            c = '_'; // parameterised tests are named "Test/Case"
    }
    return fs::temp_directory_path() /
        ("kestrel_saf_writer_" + test + "_" + std::to_string(std::random_device{}()) + "_" + name);
}

// A file that is removed when the test ends.
class TempFile {
public:
    explicit TempFile(const std::string& name) : m_path(TempPath(name)) {}
    ~TempFile()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

void Store(const fs::path& path, const Bytes& bytes)
{
    File file = CreateFileForWrite(path);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_TRUE(file.WriteAll(bytes));
}

ComPtr<IArchive> OpenVersion(int version, const fs::path& path)
{
    return ComPtr<IArchive>::Adopt(version == 5 ? NewArchive5(path) : NewArchive6(path));
}

struct Member {
    std::u16string path;
    Bytes bytes;
    bool compressible;
};

std::vector<Member> SampleMembers()
{
    return {
        {u"bgm/title.ogg", Noise(5000, 1), false},
        {u"bgm/empty.bin", {}, false},
        {u"script/main.txt", Repetitive(40000), true},
        {u"script/sub/s_日本語.txt", ToBytes("「こんにちは」"), false},
        {u"readme.txt", ToBytes("hello"), false},
    };
}

struct WriterCase {
    int version;
    bool scramble;
    Compression compression;
};

std::string WriterCaseName(const ::testing::TestParamInfo<WriterCase>& info)
{
    static const char* const names[] = {"None", "Zlib", "Egg"};
    return "V" + std::to_string(info.param.version) + (info.param.scramble ? "Scrambled" : "Plain") +
        names[static_cast<int>(info.param.compression)];
}

class SafWriterRoundTrip : public ::testing::TestWithParam<WriterCase> {};

TEST_P(SafWriterRoundTrip, ReadersFindEveryMemberByPath)
{
    const WriterCase& c = GetParam();
    SafBuilder builder(WriterOptions{c.version, c.scramble, c.compression});
    for (const Member& m : SampleMembers())
        builder.AddFile(m.path, m.bytes);
    builder.AddDirectory(u"se/empty_folder");
    Bytes image;
    ASSERT_EQ(builder.Build(image), std::nullopt);

    TempFile file("a.saf");
    Store(file.path(), image);
    ComPtr<IArchive> archive = OpenVersion(c.version, file.path());
    ASSERT_TRUE(archive);
    for (const Member& m : SampleMembers()) {
        SCOPED_TRACE(Utf16ToUtf8(m.path));
        EXPECT_TRUE(archive->Exists(m.path));
        EXPECT_EQ(archive->IsCompressed(m.path), c.compression != Compression::None && m.compressible);
        const auto bytes = ReadArchiveMember(*archive, m.path);
        ASSERT_TRUE(bytes.has_value());
        EXPECT_TRUE(*bytes == m.bytes);
    }
    EXPECT_TRUE(archive->Exists(u"se/empty_folder"));
    EXPECT_TRUE(archive->Exists(u"SCRIPT\\Main.TXT"));
    EXPECT_FALSE(archive->Exists(u"/readme.txt"));
    EXPECT_FALSE(archive->Exists(u"bgm/missing.ogg"));

    // The factory that sniffs the version opens it too.
    ComPtr<IArchive> sniffed = ComPtr<IArchive>::Adopt(OpenSafArchive(file.path()));
    ASSERT_TRUE(sniffed);
    std::vector<ArchiveEntryRecord> records;
    sniffed->Enumerate(records);
    ASSERT_EQ(records.size(), SampleMembers().size());
    // Siblings are sorted by name, folders and files alike.
    EXPECT_EQ(records[0].path, u"bgm/empty.bin");
    EXPECT_EQ(records[1].path, u"bgm/title.ogg");
    EXPECT_EQ(records[2].path, u"readme.txt");
    EXPECT_EQ(records[3].path, u"script/main.txt");
    EXPECT_EQ(records[4].path, u"script/sub/s_日本語.txt");
    for (const ArchiveEntryRecord& r : records)
        EXPECT_EQ(r.offset % static_cast<std::int64_t>(saf::kBlockSize), 0);
}

INSTANTIATE_TEST_SUITE_P(AllVersions, SafWriterRoundTrip,
    ::testing::Values(WriterCase{5, false, Compression::None}, WriterCase{5, true, Compression::Zlib},
        WriterCase{6, false, Compression::None}, WriterCase{6, true, Compression::Zlib},
        WriterCase{6, false, Compression::Egg}, WriterCase{6, true, Compression::Egg}),
    WriterCaseName);

TEST(SafWriter, Version6LayoutIsBreadthFirstSortedAndBlockAligned)
{
    SafBuilder builder(WriterOptions{});
    builder.AddFile(u"b/x.txt", ToBytes("x"));
    builder.AddFile(u"a.txt", ToBytes("aaaa"));
    builder.AddFile(u"b/c/y.txt", {});
    Bytes image;
    ASSERT_EQ(builder.Build(image), std::nullopt);

    // Entries: 0 root, 1 a.txt, 2 b, 3 c, 4 x.txt, 5 y.txt.
    ASSERT_GE(image.size(), saf::kHeader6Size);
    EXPECT_EQ(image[0], 0);
    EXPECT_EQ(image[1], 6);
    ASSERT_EQ(saf::ReadU16(&image[2]), 6);
    const std::uint32_t nameTableSize = saf::ReadU32(&image[4]);
    EXPECT_EQ(nameTableSize, 1u + 6 + 2 + 2 + 6 + 6);
    auto field = [&](int entry, int k) { return saf::ReadU32(&image[saf::kHeader6Size + entry * 16 + k * 4]); };
    const char* names = reinterpret_cast<const char*>(&image[saf::kHeader6Size + 6 * 16]);
    auto name = [&](int entry) { return std::string(names + (field(entry, 0) & 0x7FFFFFFF)); };

    const std::vector<std::string> expectedNames = {"", "a.txt", "b", "c", "x.txt", "y.txt"};
    const std::vector<bool> directories = {true, false, true, true, false, false};
    for (int e = 0; e < 6; ++e) {
        EXPECT_EQ(name(e), expectedNames[static_cast<std::size_t>(e)]) << e;
        EXPECT_EQ((field(e, 0) & saf::kDirectoryBit6) != 0, directories[static_cast<std::size_t>(e)]) << e;
    }
    // Folders: first child and child count.
    EXPECT_EQ(field(0, 1), 1u);
    EXPECT_EQ(field(0, 3), 2u);
    EXPECT_EQ(field(2, 1), 3u);
    EXPECT_EQ(field(2, 3), 2u);
    EXPECT_EQ(field(3, 1), 5u);
    EXPECT_EQ(field(3, 3), 1u);
    // Files: start block, stored size, 0 for stored. The index fits block 0,
    // so data starts at block 1, and the empty file still owns a block.
    EXPECT_EQ(field(1, 1), 1u);
    EXPECT_EQ(field(1, 2), 4u);
    EXPECT_EQ(field(1, 3), 0u);
    EXPECT_EQ(field(4, 1), 2u);
    EXPECT_EQ(field(5, 1), 3u);
    EXPECT_EQ(field(5, 2), 0u);
    EXPECT_EQ(image.size(), 4 * saf::kBlockSize);
    EXPECT_EQ(image[saf::kBlockSize], 'a');
    EXPECT_EQ(image[2 * saf::kBlockSize], 'x');
}

TEST(SafWriter, Version5NamesArePaddedWithNulAndCarryTheFolderFlag)
{
    SafBuilder builder(WriterOptions{5, false, Compression::None});
    builder.AddFile(u"dir/abcdefghijklmnop.txt", ToBytes("20"));
    Bytes image;
    ASSERT_EQ(builder.Build(image), std::nullopt);
    ASSERT_EQ(saf::ReadU16(&image[2]), 3);
    const std::uint8_t* root = &image[saf::kHeader5Size];
    const std::uint8_t* dir = root + 32;
    const std::uint8_t* file = dir + 32;
    EXPECT_EQ(root[0], 0x80);
    EXPECT_EQ(dir[0], 'd' | 0x80);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dir + 1), 2), "ir");
    EXPECT_EQ(dir[3], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file), 20), "abcdefghijklmnop.txt");
    EXPECT_EQ(saf::ReadU32(file + 24), 2u);
}

TEST(SafWriter, OutputDoesNotDependOnTheOrderOfAdding)
{
    const std::vector<Member> members = SampleMembers();
    Bytes forward;
    Bytes backward;
    SafBuilder a(WriterOptions{6, true, Compression::Zlib});
    for (const Member& m : members)
        a.AddFile(m.path, m.bytes);
    SafBuilder b(WriterOptions{6, true, Compression::Zlib});
    for (auto it = members.rbegin(); it != members.rend(); ++it)
        b.AddFile(it->path, it->bytes);
    ASSERT_EQ(a.Build(forward), std::nullopt);
    ASSERT_EQ(b.Build(backward), std::nullopt);
    EXPECT_TRUE(forward == backward);
}

TEST(SafWriter, WriteToGivesTheSameBytesAsBuild)
{
    TempFile source("member.bin");
    const Bytes big = Repetitive(300000);
    Store(source.path(), big);
    Bytes inMemory;
    SafBuilder a(WriterOptions{6, false, Compression::Egg});
    a.AddFile(u"d/big.bin", big);
    ASSERT_EQ(a.Build(inMemory), std::nullopt);

    TempFile out("out.saf");
    SafBuilder b(WriterOptions{6, false, Compression::Egg});
    b.AddFileFromDisk(u"d/big.bin", source.path());
    ASSERT_EQ(b.WriteTo(out.path()), std::nullopt);
    const auto written = ReadWholeFile(out.path());
    ASSERT_TRUE(written.has_value());
    EXPECT_TRUE(*written == inMemory);

    ComPtr<IArchive> archive = ComPtr<IArchive>::Adopt(NewArchive6(out.path()));
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->IsCompressed(u"d/big.bin"));
    EXPECT_TRUE(ReadArchiveMember(*archive, u"d/big.bin") == big);
}

TEST(SafWriter, MemberThatWouldNotShrinkIsStored)
{
    SafBuilder builder(WriterOptions{6, false, Compression::Egg});
    builder.AddFile(u"noise.bin", Noise(10000, 4));
    Bytes image;
    ASSERT_EQ(builder.Build(image), std::nullopt);
    // Egg archives say so in the header even when no member is compressed.
    EXPECT_EQ(image[0], saf::kFlagEgg);
    const std::uint8_t* entry = &image[saf::kHeader6Size + 16];
    EXPECT_EQ(saf::ReadU32(entry + 8), 10000u);
    EXPECT_EQ(saf::ReadU32(entry + 12), 0u);
}

TEST(SafWriter, ArchiveStoredAsAMemberOpensAsNested)
{
    SafBuilder inner(WriterOptions{});
    inner.AddFile(u"in/deep.txt", ToBytes("nested"));
    Bytes innerImage;
    ASSERT_EQ(inner.Build(innerImage), std::nullopt);
    SafBuilder outer(WriterOptions{});
    outer.AddFile(u"first.txt", ToBytes("first"));
    outer.AddFile(u"pack/inner.saf", innerImage);
    Bytes image;
    ASSERT_EQ(outer.Build(image), std::nullopt);
    TempFile file("outer.saf");
    Store(file.path(), image);

    ComPtr<IArchive> archive = ComPtr<IArchive>::Adopt(NewArchive6(file.path()));
    ASSERT_TRUE(archive);
    ComPtr<IArchive> nested = ComPtr<IArchive>::Adopt(archive->OpenArchive(u"pack/inner.saf"));
    ASSERT_TRUE(nested);
    EXPECT_TRUE(ReadArchiveMember(*nested, u"in/deep.txt") == ToBytes("nested"));
}

TEST(SafWriter, AsManyEntriesAsTheCountHolds)
{
    // Folders, because they take no blocks: the root and 65534 more make 65535.
    SafBuilder full(WriterOptions{});
    for (int i = 0; i < 65534; ++i)
        full.AddDirectory(u"d" + Utf8ToUtf16(std::to_string(i)));
    Bytes image;
    ASSERT_EQ(full.Build(image), std::nullopt);
    EXPECT_EQ(saf::ReadU16(&image[2]), 0xFFFF);

    full.AddDirectory(u"one_more");
    const auto error = full.Build(image);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("65535"), std::string::npos) << *error;
}

struct ErrorCase {
    const char* what;
    int version;
    Compression compression;
    std::function<void(SafBuilder&)> add;
    const char* expected; // part of the error text
};

TEST(SafWriter, ReportsWhatCannotBeStored)
{
    const std::vector<ErrorCase> cases = {
        {"v5 name of 21 bytes", 5, Compression::None,
            [](SafBuilder& b) { b.AddFile(u"abcdefghijklmnopq.txt", {}); }, "at most 20"},
        {"v5 name starting with a byte of 0x80 or above", 5, Compression::None,
            [](SafBuilder& b) { b.AddFile(u"音楽/a.ogg", {}); }, "0x80"},
        {"v5 name with a space", 5, Compression::None, [](SafBuilder& b) { b.AddFile(u"a b.txt", {}); },
            "space"},
        {"egg with version 5", 5, Compression::Egg, [](SafBuilder&) {}, "egg"},
        {"name outside code page 932", 6, Compression::None, [](SafBuilder& b) { b.AddFile(u"한국어.txt", {}); },
            "code page 932"},
        {"empty component", 6, Compression::None, [](SafBuilder& b) { b.AddFile(u"a//b.txt", {}); },
            "empty name"},
        {"leading slash", 6, Compression::None, [](SafBuilder& b) { b.AddFile(u"/a.txt", {}); }, "empty name"},
        {"backslash", 6, Compression::None, [](SafBuilder& b) { b.AddFile(u"a\\b.txt", {}); }, "\\"},
        {"NUL", 6, Compression::None,
            [](SafBuilder& b) { b.AddFile(std::u16string(u"a\0b", 3), {}); }, "NUL"},
        {"dot dot", 6, Compression::None, [](SafBuilder& b) { b.AddFile(u"../a.txt", {}); }, "\"..\""},
        {"duplicate", 6, Compression::None,
            [](SafBuilder& b) {
                b.AddFile(u"a/b.txt", {});
                b.AddFile(u"a/b.txt", {});
            },
            "added twice"},
        {"file then folder", 6, Compression::None,
            [](SafBuilder& b) {
                b.AddFile(u"a/b", {});
                b.AddFile(u"a/b/c.txt", {});
            },
            "both as a file and as a folder"},
        {"folder then file", 6, Compression::None,
            [](SafBuilder& b) {
                b.AddDirectory(u"a/b");
                b.AddFile(u"a/b", {});
            },
            "both as a file and as a folder"},
        {"names differing in case", 6, Compression::None,
            [](SafBuilder& b) {
                b.AddFile(u"Readme.txt", {});
                b.AddFile(u"README.txt", {});
            },
            "letter case"},
        {"unreadable source", 6, Compression::None,
            [](SafBuilder& b) { b.AddFileFromDisk(u"a.txt", TempPath("does_not_exist")); }, "cannot read"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.what);
        SafBuilder builder(WriterOptions{c.version, false, c.compression});
        c.add(builder);
        Bytes image;
        const auto error = builder.Build(image);
        ASSERT_TRUE(error.has_value());
        EXPECT_NE(error->find(c.expected), std::string::npos) << *error;
        EXPECT_TRUE(image.empty());
    }
}

TEST(SafWriter, FailedWriteLeavesNoFile)
{
    TempFile out("out.saf");
    SafBuilder builder(WriterOptions{});
    builder.AddFileFromDisk(u"a.txt", TempPath("does_not_exist"));
    EXPECT_TRUE(builder.WriteTo(out.path()).has_value());
    EXPECT_FALSE(fs::exists(out.path()));
    fs::path partial = out.path();
    partial += ".partial";
    EXPECT_FALSE(fs::exists(partial));

    // An archive already there survives a failed write.
    Store(out.path(), ToBytes("old"));
    EXPECT_TRUE(builder.WriteTo(out.path()).has_value());
    EXPECT_TRUE(ReadWholeFile(out.path()) == ToBytes("old"));
}

TEST(SafWriter, PackDirectoryTakesEveryFileAndFolder)
{
    TempFile tree("tree");
    fs::create_directories(tree.path() / "sub" / "empty");
    Store(tree.path() / "sub" / "a.txt", ToBytes("a"));
    Store(tree.path() / "b.txt", ToBytes("b"));
    // The output inside the packed folder is not packed into itself.
    const fs::path out = tree.path() / "out.saf";
    Store(out, ToBytes("an earlier archive"));
    ASSERT_EQ(saf::PackDirectory(tree.path(), out, WriterOptions{5, true, Compression::Zlib}), std::nullopt);
    ComPtr<IArchive> archive = ComPtr<IArchive>::Adopt(OpenSafArchive(out));
    ASSERT_TRUE(archive);
    std::vector<ArchiveEntryRecord> records;
    archive->Enumerate(records);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].path, u"b.txt");
    EXPECT_EQ(records[1].path, u"sub/a.txt");
    EXPECT_TRUE(archive->Exists(u"sub/empty"));
}

} // namespace
} // namespace kestrel
