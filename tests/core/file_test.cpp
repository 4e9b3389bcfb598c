#include "core/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

class FileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
            ("kestrel_file_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    fs::path m_dir;
};

TEST_F(FileTest, WriteThenReadWholeFile)
{
    // A name with Japanese characters, as save folders and game data have.
    const fs::path path = m_dir / fs::path(u"セーブ.bin");
    std::vector<std::uint8_t> bytes(70000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    {
        File out = CreateFileForWrite(path);
        ASSERT_TRUE(out.IsOpen());
        EXPECT_TRUE(out.WriteAll(bytes));
    }
    const auto read = ReadWholeFile(path);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, bytes);

    // Truncated on a second creation.
    CreateFileForWrite(path);
    EXPECT_TRUE(ReadWholeFile(path)->empty());
}

TEST_F(FileTest, MissingFilesAndFoldersReadAsNothing)
{
    EXPECT_FALSE(ReadWholeFile(m_dir / "missing").has_value());
    EXPECT_FALSE(ReadWholeFile(m_dir).has_value());
    EXPECT_FALSE(CreateFileForWrite(m_dir / "no" / "such" / "folder").IsOpen());
}

TEST_F(FileTest, Seek64)
{
    const fs::path path = m_dir / "seek.bin";
    {
        File out = CreateFileForWrite(path);
        const std::uint8_t bytes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
        out.WriteAll(bytes);
    }
    File in(path, File::Mode::Read);
    ASSERT_TRUE(in);
    EXPECT_EQ(in.Size(), 10);
    EXPECT_EQ(Seek64(in, 4, SeekMethod::Begin), 4);
    EXPECT_EQ(Seek64(in, 2, SeekMethod::Current), 6);
    std::uint8_t byte = 0;
    EXPECT_EQ(in.Read({&byte, 1}), 1u);
    EXPECT_EQ(byte, 6);
    EXPECT_EQ(Seek64(in, -1, SeekMethod::End), 9);
    EXPECT_EQ(Seek64(in, -20, SeekMethod::Begin), -1);
    // A position past the end is allowed; reading there gives nothing.
    EXPECT_EQ(Seek64(in, 5000000000LL, SeekMethod::Begin), 5000000000LL);
    EXPECT_EQ(in.Read({&byte, 1}), 0u);
    File closed;
    EXPECT_EQ(Seek64(closed, 0, SeekMethod::Begin), -1);
}

} // namespace
} // namespace kestrel
