#include "archive/archive.h"
#include "archive/egg.h"
#include "archive/member_files.h"
#include "archive/zlib/zlib_codec.h"
#include "raw_saf.h"

#include <gtest/gtest.h>

#include <random>

namespace kestrel {
namespace {

using test::Bytes;

std::string TestName()
{
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

std::vector<std::uint8_t> Random(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> out(size);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(random());
    return out;
}

// Every seek rule holds alike for members read from a file and from memory.
void CheckSeekRules(IArchiveFile& file)
{
    const std::int64_t size = file.GetSize();
    ASSERT_GE(size, 20);
    struct Case {
        std::int64_t offset;
        std::int32_t origin;
        std::int64_t expected;
    };
    const Case cases[] = {
        {0, 0, 0},
        {size - 1, 0, size - 1},
        {size, 0, -1},
        {-1, 0, -1},
        {0, 2, size - 1}, // the end of a member is its last byte
        {1, 2, -1},
        {-(size - 1), 2, 0},
        {5, 7, -1},       // no such origin
    };
    for (const Case& c : cases) {
        file.Seek(3, 0);
        const std::int64_t result = file.Seek(c.offset, c.origin);
        EXPECT_EQ(result, c.expected) << c.offset << " from " << c.origin;
        EXPECT_EQ(file.Tell(), c.expected >= 0 ? c.expected : 3) << "a refused seek leaves the position";
    }
    file.Seek(2, 0);
    EXPECT_EQ(file.Seek(4, 1), 6);
    EXPECT_EQ(file.Seek(-7, 1), -1);

    EXPECT_EQ(file.Seek(size - 10, 0), size - 10);
    std::vector<std::uint8_t> buffer(100, 0xEE);
    EXPECT_EQ(file.Read(buffer.data(), 100), 10);
    EXPECT_EQ(file.Tell(), size);
    EXPECT_EQ(buffer[10], 0xEE);
    EXPECT_EQ(file.Read(buffer.data(), 100), 0);
}

TEST(ArchiveFile, SeekAndReadRules)
{
    test::TempFolder folder("member_" + TestName());
    const auto content = Random(64, 1);
    auto image = test::RawSaf6(0, {{"", true, 1, 0, 2}, {"a.bin", false, 1, 64, 0}, {"zero.bin", false, 2, 0, 0}});
    test::PlaceData(image, 1, content);
    test::WriteFile(folder / "t.saf", image);
    ComPtr<IArchive> archive = ComPtr<IArchive>::Adopt(NewArchive6(folder / "t.saf"));
    ASSERT_TRUE(archive);

    ComPtr<IArchiveFile> file = ComPtr<IArchiveFile>::Adopt(archive->OpenFile(u"a.bin"));
    ASSERT_TRUE(file);
    CheckSeekRules(*file);
    EXPECT_EQ(file->Seek(8, 0), 8);
    EXPECT_EQ(file->GetFilePosition(), 2048 + 8);

    // A clone opens its own handle at the same position, even at the very end.
    file->Seek(0, 2);
    std::uint8_t last = 0;
    file->Read(&last, 1);
    ComPtr<IArchiveFile> clone = ComPtr<IArchiveFile>::Adopt(file->Clone());
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->Tell(), 64);
    clone->Seek(0, 0);
    std::vector<std::uint8_t> all(64);
    EXPECT_EQ(clone->Read(all.data(), 64), 64);
    EXPECT_EQ(all, content);
    EXPECT_EQ(file->Tell(), 64);

    ComPtr<IArchiveFile> zero = ComPtr<IArchiveFile>::Adopt(archive->OpenFile(u"zero.bin"));
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero->Seek(0, 0), -1);

    auto* memory = new CMemoryFile(content);
    CheckSeekRules(*memory);
    memory->Release();
}

TEST(Egg, TheTwoExamples)
{
    std::vector<std::uint8_t> out(3);
    const std::vector<std::uint8_t> literals = {0xFF, 'a', 'b', 'c'};
    EXPECT_EQ(EggDecode(literals, out), 3u);
    EXPECT_EQ(out, Bytes("abc"));

    // literal, literal, pair from ring 4078 of length 3: the copy reads what it has just written.
    const std::vector<std::uint8_t> overlap = {0x03, 0x61, 0x62, 0xEE, 0xF0};
    out.assign(5, 0);
    EXPECT_EQ(EggDecode(overlap, out), 5u);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0x61, 0x62, 0x61, 0x62, 0x61}));
}

TEST(Egg, StopsAtTheEndOfInputAndOfOutput)
{
    // A pair cut after its first byte, and a long reference into a short output.
    std::vector<std::uint8_t> out(8, 0x77);
    EXPECT_EQ(EggDecode(std::vector<std::uint8_t>{0x01, 'x', 0x00}, out), 1u);
    EXPECT_EQ(out[1], 0x77);
    std::vector<std::uint8_t> small(2, 0x77);
    EXPECT_EQ(EggDecode(std::vector<std::uint8_t>{0x00, 0x00, 0x0F}, small), 2u); // 18 zeros from the cleared ring
    EXPECT_EQ(small, (std::vector<std::uint8_t>{0, 0}));
    EXPECT_EQ(EggDecode({}, out), 0u);
}

TEST(CompressedFiles, FlatZipAndEggOverMemory)
{
    const auto plain = Random(3000, 4);
    auto* stored = new CMemoryFile(plain);
    auto* zipped = new CMemoryFile(zlib::Deflate(plain));
    auto* egged = new CMemoryFile(EggEncode(plain));
    ComPtr<ICompressedFile> readers[] = {
        ComPtr<ICompressedFile>::Adopt(new CFlatFile(stored)),
        ComPtr<ICompressedFile>::Adopt(new CZipFile(zipped, 3000)),
        ComPtr<ICompressedFile>::Adopt(new CEggFile(egged, 3000)),
    };
    stored->Release();
    zipped->Release();
    egged->Release();
    for (auto& reader : readers) {
        std::vector<std::uint8_t> out(3000);
        EXPECT_EQ(reader->ReadAll(out.data()), 3000);
        EXPECT_EQ(out, plain);
        void* inner = nullptr;
        ASSERT_EQ(reader->QueryInterface(IArchiveFile::Iid, &inner), kResultOk);
        static_cast<IArchiveFile*>(inner)->Release();
    }
}

TEST(CompressedFiles, ZipFailures)
{
    const auto plain = Random(1000, 5);
    auto zipped = zlib::Deflate(plain);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> stored;
        std::int64_t unpacked;
        std::int64_t expected;
    };
    auto truncated = zipped;
    truncated.resize(zipped.size() / 2);
    auto corrupt = zipped;
    corrupt[0] = 0x00; // not a zlib header
    const Case cases[] = {
        {"whole", zipped, 1000, 1000},
        {"stream shorter than its unpacked size", truncated, 1000, 0},
        {"not zlib", corrupt, 1000, 0},
        {"output smaller than the stream", zipped, 10, 10}, // never written past
    };
    for (const Case& c : cases) {
        auto* inner = new CMemoryFile(c.stored);
        ComPtr<ICompressedFile> reader = ComPtr<ICompressedFile>::Adopt(new CZipFile(inner, c.unpacked));
        inner->Release();
        std::vector<std::uint8_t> out(static_cast<std::size_t>(c.unpacked));
        EXPECT_EQ(reader->ReadAll(out.data()), c.expected) << c.what;
    }
}

TEST(CompressedFiles, ZipStreamingStartsAtExactly0x20000StoredBytes)
{
    // Both paths inflate the same data; they differ when the stream ends before
    // the unpacked size: one call reports the unpacked size, streaming what it produced.
    const auto plain = Random(50000, 6);
    std::vector<std::uint8_t> zipped = zlib::Deflate(plain);
    for (std::size_t storedSize : {std::size_t{0x1FFFF}, std::size_t{0x20000}, std::size_t{0x50000}}) {
        std::vector<std::uint8_t> stored = zipped;
        stored.resize(storedSize, 0); // padding after the end of the stream
        auto* inner = new CMemoryFile(stored);
        ComPtr<ICompressedFile> reader = ComPtr<ICompressedFile>::Adopt(new CZipFile(inner, 60000));
        inner->Release();
        std::vector<std::uint8_t> out(60000);
        const std::int64_t produced = reader->ReadAll(out.data());
        EXPECT_EQ(produced, storedSize < 0x20000 ? 60000 : 50000) << storedSize;
        EXPECT_TRUE(std::equal(plain.begin(), plain.end(), out.begin()));
    }
    // A large stream inflates through the 32 KiB windows intact.
    const auto big = Random(600000, 7);
    auto* inner = new CMemoryFile(zlib::Deflate(big));
    ComPtr<ICompressedFile> reader = ComPtr<ICompressedFile>::Adopt(new CZipFile(inner, 600000));
    inner->Release();
    std::vector<std::uint8_t> out(600000);
    EXPECT_EQ(reader->ReadAll(out.data()), 600000);
    EXPECT_EQ(out, big);
}

TEST(MappingFile, MapsMemberBytesAtUnalignedOffsets)
{
    test::TempFolder folder("mapping_" + TestName());
    const auto content = Random(10000, 8);
    auto image = test::RawSaf6(0, {{"", true, 1, 0, 1}, {"m.bin", false, 3, 10000, 0}});
    test::PlaceData(image, 3, content); // 6144: inside a page, not at its start
    test::WriteFile(folder / "t.saf", image);
    ComPtr<IArchive> archive = ComPtr<IArchive>::Adopt(NewArchive6(folder / "t.saf"));
    ComPtr<IMappingFile> mapped = ComPtr<IMappingFile>::Adopt(archive->OpenMapped(u"m.bin"));
    ASSERT_TRUE(mapped);
    EXPECT_EQ(mapped->GetSize(), 10000);
    const std::uint8_t* all = mapped->Map(0, 0);
    ASSERT_NE(all, nullptr);
    EXPECT_TRUE(std::equal(content.begin(), content.end(), all));
    const std::uint8_t* part = mapped->Map(4321, 100);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part[0], content[4321]);
    EXPECT_EQ(part[99], content[4420]);
    EXPECT_EQ(mapped->Map(9999, 2), nullptr);  // leaves the member
    EXPECT_EQ(mapped->Map(10000, 0), nullptr);
    ComPtr<IMappingFile> clone = ComPtr<IMappingFile>::Adopt(mapped->Clone());
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->Map(1, 1)[0], content[1]);
}

} // namespace
} // namespace kestrel
