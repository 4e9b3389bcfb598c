// The saf tool, run as a program: packing a generated tree with every version,
// scrambling and compression, reading it back with list, cat, info and
// unpack, and the errors a user meets.
#include "archive/saf_format.h"
#include "core/file.h"
#include "core/text.h"
#include "support/tool_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using kestrel::test::LeakCheck;
using kestrel::test::RunResult;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

fs::path FromUtf8(std::string_view text)
{
    return fs::path(std::u8string(text.begin(), text.end()));
}

Bytes ToBytes(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

void WriteFile(const fs::path& path, const Bytes& bytes)
{
    fs::create_directories(path.parent_path());
    kestrel::File file = kestrel::CreateFileForWrite(path);
    ASSERT_TRUE(file.IsOpen()) << path;
    ASSERT_TRUE(file.WriteAll(bytes));
}

Bytes ReadFile(const fs::path& path)
{
    return kestrel::ReadWholeFile(path).value_or(Bytes{});
}

class SafToolTest : public kestrel::test::ToolTest {
protected:
    SafToolTest() : ToolTest(SAF_TOOL_PATH, "kestrel_saf_tool_") {}
};

// ---------------------------------------------------------------------------
// The generated tree

struct TreeFile {
    std::string path; // UTF-8, "/" separated
    Bytes bytes;
};

Bytes TextLike(std::size_t size)
{
    static const char* const words[] = {"the ", "rain ", "over ", "kestrel ", "moor ", "falls ", "softly, ",
        "and ", "a ", "bell ", "rings.\n"};
    std::mt19937 rng(7);
    std::string text;
    while (text.size() < size)
        text += words[rng() % std::size(words)];
    text.resize(size);
    return ToBytes(text);
}

// Compressible, but not so much that zlib gets it below 128 KiB: sixteen
// letters in random order, about half a byte of information each.
Bytes Nibbles(std::size_t size)
{
    std::mt19937 rng(11);
    Bytes bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>('a' + rng() % 16);
    return bytes;
}

Bytes Noise(std::size_t size)
{
    std::mt19937 rng(13);
    Bytes bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(rng());
    return bytes;
}

// The files in the order `list` gives them: depth first, siblings sorted by
// their code page 932 bytes (folders "data" < "empty.dat" < ... < "画像").
std::vector<TreeFile> TreeFiles(int version)
{
    std::vector<TreeFile> files = {
        {"data/big.bin", Nibbles(300 * 1024)},
        {"data/deep/er/leaf.txt", ToBytes("a leaf three folders down\n")},
        {"data/noise.bin", Noise(20000)},
        {"empty.dat", {}},
        {"readme.txt", TextLike(6000)},
        // The second byte of 表 in code page 932 is 0x5C, the code of "\".
        {"s_表示.txt", ToBytes("表示テスト\n")},
    };
    // Version 5 keeps bit 7 of a name's first byte for the folder flag.
    if (version == 6)
        files.push_back({"画像/背景.txt", ToBytes("背景\n")});
    return files;
}

void WriteTree(const fs::path& dir, int version)
{
    for (const TreeFile& f : TreeFiles(version))
        WriteFile(dir / FromUtf8(f.path), f.bytes);
    fs::create_directories(dir / "data" / "void"); // an empty folder
}

struct ListLine {
    std::string path;
    std::uint64_t storedSize = 0;
    std::uint64_t offset = 0;
};

std::vector<ListLine> ParseList(const std::string& text)
{
    std::vector<ListLine> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = line.find('\t', tab1 + 1);
        if (tab1 == std::string::npos || tab2 == std::string::npos) {
            ADD_FAILURE() << "malformed list line: " << line;
            continue;
        }
        lines.push_back({line.substr(0, tab1), std::stoull(line.substr(tab1 + 1, tab2 - tab1 - 1)),
            std::stoull(line.substr(tab2 + 1))});
    }
    return lines;
}

// ---------------------------------------------------------------------------
// Round trips

struct PackCase {
    int version;
    bool scramble;
    const char* compress;
};

std::string CaseName(const ::testing::TestParamInfo<PackCase>& info)
{
    return "V" + std::to_string(info.param.version) + (info.param.scramble ? "Scrambled" : "Plain") + "_" +
        info.param.compress;
}

class SafToolRoundTrip : public SafToolTest, public ::testing::WithParamInterface<PackCase> {};

TEST_P(SafToolRoundTrip, PackListCatUnpack)
{
    const PackCase& c = GetParam();
    const LeakCheck leaks = c.scramble ? LeakCheck::On : LeakCheck::Off;
    const fs::path src = root() / "src";
    const fs::path archive = root() / "out.saf";
    WriteTree(src, c.version);
    const std::vector<TreeFile> files = TreeFiles(c.version);

    std::vector<std::string> packArgs = {"pack", "--version", std::to_string(c.version), "--compress", c.compress};
    if (c.scramble)
        packArgs.push_back("--scramble");
    packArgs.push_back(src.string());
    packArgs.push_back(archive.string());
    const RunResult pack = Run(packArgs, leaks);
    ASSERT_EQ(pack.exitCode, 0) << pack.err;

    // The header (info is checked on its own below).
    const Bytes header = ReadFile(archive);
    ASSERT_GE(header.size(), 8u);
    EXPECT_EQ(header[1], c.version);
    EXPECT_EQ((header[0] & kestrel::saf::kFlagScrambled) != 0, c.scramble);
    EXPECT_EQ((header[0] & kestrel::saf::kFlagEgg) != 0, std::string(c.compress) == "egg");
    EXPECT_EQ(header.size() % kestrel::saf::kBlockSize, 0u);

    // list: every file once, depth first in index order, each on blocks of its
    // own. Data follows the entry order (breadth first), not the list order.
    const RunResult list = Run({"list", archive.string()}, leaks);
    ASSERT_EQ(list.exitCode, 0) << list.err;
    const std::vector<ListLine> lines = ParseList(list.out);
    ASSERT_EQ(lines.size(), files.size()) << list.out;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> extents; // offset, end
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].path);
        const ListLine& line = lines[i];
        const std::uint64_t size = files[i].bytes.size();
        EXPECT_EQ(line.path, files[i].path);
        EXPECT_EQ(line.offset % kestrel::saf::kBlockSize, 0u);
        EXPECT_GT(line.offset, 0u);
        EXPECT_LE(line.offset + line.storedSize, header.size());
        extents.emplace_back(line.offset, line.offset + std::max<std::uint64_t>(line.storedSize, 1));
        const std::string compress = c.compress;
        if (compress == "none" || line.path == "data/noise.bin" || size == 0)
            EXPECT_EQ(line.storedSize, size);
        else if (line.path == "readme.txt")
            EXPECT_LT(line.storedSize, size / 2);
        else
            EXPECT_LE(line.storedSize, size);
        // Large enough that the reader streams it through its 128 KiB input buffer.
        if (compress == "zlib" && line.path == "data/big.bin") {
            EXPECT_GE(line.storedSize, 0x20000u);
            EXPECT_LT(line.storedSize, size);
        }
    }

    std::sort(extents.begin(), extents.end());
    for (std::size_t i = 1; i < extents.size(); ++i)
        EXPECT_LE(extents[i - 1].second, extents[i].first) << "members overlap";

    // cat: the unpacked bytes, by a differently spelled path.
    const RunResult big = Run({"cat", archive.string(), "DATA\\Big.BIN"}, leaks);
    ASSERT_EQ(big.exitCode, 0) << big.err;
    EXPECT_TRUE(big.out == std::string(files[0].bytes.begin(), files[0].bytes.end()));

    // unpack: the same files, nothing else (the Japanese names included).
    const fs::path out = root() / "unpacked";
    const RunResult unpack = Run({"unpack", archive.string(), out.string()}, leaks);
    ASSERT_EQ(unpack.exitCode, 0) << unpack.err;
    std::size_t found = 0;
    for (const auto& entry : fs::recursive_directory_iterator(out))
        found += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(found, files.size());
    for (const TreeFile& f : files) {
        SCOPED_TRACE(f.path);
        ASSERT_TRUE(fs::is_regular_file(out / FromUtf8(f.path)));
        EXPECT_TRUE(ReadFile(out / FromUtf8(f.path)) == f.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(AllVersions, SafToolRoundTrip,
    ::testing::Values(PackCase{5, false, "none"}, PackCase{5, false, "zlib"}, PackCase{5, true, "none"},
        PackCase{5, true, "zlib"}, PackCase{6, false, "none"}, PackCase{6, false, "zlib"},
        PackCase{6, false, "egg"}, PackCase{6, true, "none"}, PackCase{6, true, "zlib"},
        PackCase{6, true, "egg"}),
    CaseName);

// ---------------------------------------------------------------------------
// Names and errors

TEST_F(SafToolTest, Version5NameOfTwentyBytesIsStoredAndTwentyOneIsRefused)
{
    const std::string name20 = "abcdefghijklmnop.txt"; // 20 bytes
    const std::string name21 = "abcdefghijklmnopq.txt";
    ASSERT_EQ(name20.size(), 20u);
    WriteFile(root() / "ok" / name20, ToBytes("twenty"));
    ASSERT_EQ(Run({"pack", "--version", "5", (root() / "ok").string(), (root() / "ok.saf").string()}).exitCode, 0);
    const RunResult cat = Run({"cat", (root() / "ok.saf").string(), name20});
    EXPECT_EQ(cat.exitCode, 0) << cat.err;
    EXPECT_EQ(cat.out, "twenty");

    WriteFile(root() / "long" / name21, ToBytes("twenty-one"));
    const RunResult pack = Run({"pack", "--version", "5", (root() / "long").string(), (root() / "long.saf").string()});
    EXPECT_EQ(pack.exitCode, 1);
    EXPECT_NE(pack.err.find(name21), std::string::npos) << pack.err;
    EXPECT_NE(pack.err.find("20"), std::string::npos) << pack.err;
    EXPECT_FALSE(fs::exists(root() / "long.saf"));
    // Version 6 has no such limit.
    EXPECT_EQ(Run({"pack", (root() / "long").string(), (root() / "long6.saf").string()}).exitCode, 0);
}

TEST_F(SafToolTest, NameOutsideCodePage932IsRefused)
{
    WriteFile(root() / "src" / "smile_\xF0\x9F\x98\x80.txt", ToBytes("x"));
    const RunResult pack = Run({"pack", (root() / "src").string(), (root() / "out.saf").string()});
    EXPECT_EQ(pack.exitCode, 1);
    EXPECT_NE(pack.err.find("code page 932"), std::string::npos) << pack.err;
    EXPECT_FALSE(fs::exists(root() / "out.saf"));
}

TEST_F(SafToolTest, EggWithVersion5IsAUsageError)
{
    WriteFile(root() / "src" / "a.txt", ToBytes("x"));
    const RunResult pack =
        Run({"pack", "--version", "5", "--compress", "egg", (root() / "src").string(), (root() / "out.saf").string()});
    EXPECT_EQ(pack.exitCode, 2);
    EXPECT_NE(pack.err.find("egg"), std::string::npos) << pack.err;
    EXPECT_FALSE(fs::exists(root() / "out.saf"));
}

TEST_F(SafToolTest, UsageErrorsExitWithTwo)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{}, {"list"}, {"frobnicate", "x"},
             {"cat", "a.saf"}, {"pack", "--compress", "lz4", "a", "b"}, {"pack", "--version", "7", "a", "b"},
             {"pack", "only-one"}, {"pack", "--bogus", "a", "b"}}) {
        const RunResult r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << (args.empty() ? std::string("(none)") : args[0]);
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << r.err;
    }
}

TEST_F(SafToolTest, HelpDescribesEveryCommandAndOption)
{
    const RunResult help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* word : {"list", "cat", "info", "unpack", "pack", "--version", "--scramble", "--compress", "egg",
             "zlib"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

TEST_F(SafToolTest, MissingMemberOrArchiveExitsWithOne)
{
    WriteFile(root() / "src" / "a.txt", ToBytes("x"));
    ASSERT_EQ(Run({"pack", (root() / "src").string(), (root() / "a.saf").string()}).exitCode, 0);
    const RunResult missing = Run({"cat", (root() / "a.saf").string(), "b.txt"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("b.txt"), std::string::npos) << missing.err;
    EXPECT_TRUE(missing.out.empty());

    EXPECT_EQ(Run({"list", (root() / "nothing.saf").string()}).exitCode, 1);
    WriteFile(root() / "v7.saf", Bytes{0x00, 0x07, 0x00, 0x00});
    EXPECT_EQ(Run({"list", (root() / "v7.saf").string()}).exitCode, 1);
    EXPECT_EQ(Run({"info", (root() / "v7.saf").string()}).exitCode, 1);
}

TEST_F(SafToolTest, CatTakesJapaneseMemberNamesInUtf8)
{
    WriteFile(root() / "src" / FromUtf8("画像") / FromUtf8("表示.txt"), ToBytes("表示テスト\n"));
    ASSERT_EQ(Run({"pack", "--scramble", (root() / "src").string(), (root() / "a.saf").string()}).exitCode, 0);
    const RunResult cat = Run({"cat", (root() / "a.saf").string(), "画像\\表示.txt"});
    EXPECT_EQ(cat.exitCode, 0) << cat.err;
    EXPECT_EQ(cat.out, "表示テスト\n");
}

TEST_F(SafToolTest, InfoOfVersion5HasNoNameTable)
{
    WriteFile(root() / "src" / "d" / "a.txt", ToBytes("x"));
    ASSERT_EQ(Run({"pack", "--version", "5", "--scramble", (root() / "src").string(), (root() / "a.saf").string()})
                  .exitCode,
        0);
    const RunResult info = Run({"info", (root() / "a.saf").string()});
    ASSERT_EQ(info.exitCode, 0);
    EXPECT_EQ(info.out, "version: 5\nflags: 0x01 (scrambled)\nentries: 3\nname table: none\n");

    ASSERT_EQ(Run({"pack", (root() / "src").string(), (root() / "b.saf").string()}).exitCode, 0);
    // Names "", "d" and "a.txt", each with its NUL.
    EXPECT_EQ(Run({"info", (root() / "b.saf").string()}).out, "version: 6\nflags: 0x00\nentries: 3\nname table: 9 bytes\n");
}

TEST_F(SafToolTest, FolderServedAsArchive)
{
    WriteFile(root() / "tree" / "bgm" / "a.txt", ToBytes("from the folder"));
    const RunResult cat = Run({"cat", (root() / "tree").string(), "bgm/a.txt"});
    EXPECT_EQ(cat.exitCode, 0) << cat.err;
    EXPECT_EQ(cat.out, "from the folder");
    const RunResult list = Run({"list", (root() / "tree").string()});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_TRUE(list.out.empty());
}

// Replaces the first occurrence of `from` in `bytes` by `to` (same length).
void Patch(Bytes& bytes, std::string_view from, std::string_view to)
{
    ASSERT_EQ(from.size(), to.size());
    const auto it = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
    ASSERT_NE(it, bytes.end()) << from;
    std::copy(to.begin(), to.end(), it);
}

TEST_F(SafToolTest, UnpackRefusesPathsThatLeaveTheFolder)
{
    // The packer refuses such names, so they are patched into a packed index.
    WriteFile(root() / "src" / "qq" / "evil1.txt", ToBytes("one"));
    WriteFile(root() / "src" / "rrrr.txt", ToBytes("two"));
    WriteFile(root() / "src" / "good.txt", ToBytes("fine"));
    const fs::path archive = root() / "a.saf";
    ASSERT_EQ(Run({"pack", (root() / "src").string(), archive.string()}).exitCode, 0);
    Bytes bytes = ReadFile(archive);
    Patch(bytes, std::string_view("qq\0", 3), std::string_view("..\0", 3));
    Patch(bytes, "rrrr.txt", "..\\r.txt");
    WriteFile(archive, bytes);

    const fs::path out = root() / "deep" / "out";
    const RunResult unpack = Run({"unpack", archive.string(), out.string()});
    EXPECT_EQ(unpack.exitCode, 1);
    EXPECT_NE(unpack.err.find("../evil1.txt"), std::string::npos) << unpack.err;
    EXPECT_NE(unpack.err.find("..\\r.txt"), std::string::npos) << unpack.err;
    EXPECT_EQ(ReadFile(out / "good.txt"), ToBytes("fine"));
    EXPECT_FALSE(fs::exists(root() / "deep" / "evil1.txt"));
    EXPECT_FALSE(fs::exists(root() / "deep" / "r.txt"));
    EXPECT_FALSE(fs::exists(root() / "deep" / "..\\r.txt"));
    std::size_t written = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root() / "deep"))
        written += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(written, 1u);
}

} // namespace
