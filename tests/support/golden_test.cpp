#include "support/golden.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;

TEST(GoldenPictures, WriteCompareAndShowTheDifference)
{
    const fs::path root = fs::temp_directory_path() / "kestrel_golden_self_test";
    fs::remove_all(root);
    setenv("KESTREL_GOLDEN_DIR", root.c_str(), 1);
    unsetenv("KESTREL_UPDATE_GOLDENS"); // also when run by tools/update-goldens.sh

    Frame frame{3, 2, std::vector<std::uint8_t>(3 * 2 * 4)};
    for (std::size_t i = 0; i < frame.pixels.size(); ++i)
        frame.pixels[i] = static_cast<std::uint8_t>(i * 11);
    EXPECT_FALSE(MatchesGolden("g/picture.png", frame)); // no golden yet

    setenv("KESTREL_UPDATE_GOLDENS", "1", 1);
    EXPECT_TRUE(MatchesGolden("g/picture.png", frame));
    unsetenv("KESTREL_UPDATE_GOLDENS");
    EXPECT_TRUE(MatchesGolden("g/picture.png", frame)); // transparency bytes included

    fs::remove_all(fs::current_path() / "golden-failures");
    frame.pixels[7] ^= 1; // one transparency byte
    EXPECT_FALSE(MatchesGolden("g/picture.png", frame));
    EXPECT_TRUE(fs::exists(fs::current_path() / "golden-failures" / "picture.diff.png"));
    EXPECT_TRUE(fs::exists(fs::current_path() / "golden-failures" / "picture.actual.png"));

    unsetenv("KESTREL_GOLDEN_DIR");
    fs::remove_all(root);
}

} // namespace
} // namespace kestrel::test
