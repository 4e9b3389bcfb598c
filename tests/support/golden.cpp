#include "support/golden.h"

#include "dxdraw/picture/decoders.h"
#include "dxdraw/picture/frame_png.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

namespace kestrel::test {

namespace {

namespace fs = std::filesystem;

// Goldens live under tests/ of the source tree; KESTREL_GOLDEN_DIR points
// elsewhere (the helper's own test uses a temporary folder).
fs::path GoldenRoot()
{
    if (const char* dir = std::getenv("KESTREL_GOLDEN_DIR"))
        return fs::path(dir);
    const char* source = std::getenv("KESTREL_SOURCE_DIR");
    return (source ? fs::path(source) : fs::current_path()) / "tests";
}

std::vector<std::uint8_t> EncodeFrame(const Frame& frame)
{
    return DxDraw::EncodeFramePng(frame.width, frame.height, frame.pixels.data(), frame.width * 4);
}

// A golden PNG back into a frame; nothing when it cannot be read.
std::optional<Frame> DecodeFrame(const std::vector<std::uint8_t>& file)
{
    std::optional<DxDraw::DibBlock> dib = DxDraw::DecodePng(file);
    if (!dib || (dib->header().bitCount != 32 && dib->header().bitCount != 24))
        return std::nullopt;
    Frame frame;
    frame.width = dib->header().width;
    frame.height = dib->header().height;
    frame.pixels.resize(std::size_t(frame.width) * std::size_t(frame.height) * 4);
    const int bytes = dib->header().bitCount / 8;
    for (std::int32_t y = 0; y < frame.height; ++y) {
        const std::uint8_t* in = dib->row(frame.height - 1 - y); // bottom-up rows
        for (std::int32_t x = 0; x < frame.width; ++x) {
            std::uint8_t* out = &frame.pixels[(std::size_t(y) * std::size_t(frame.width) + std::size_t(x)) * 4];
            out[0] = in[x * bytes], out[1] = in[x * bytes + 1], out[2] = in[x * bytes + 2];
            out[3] = bytes == 4 ? static_cast<std::uint8_t>(255 - in[x * 4 + 3]) : 0;
        }
    }
    return frame;
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
        static_cast<std::streamsize>(bytes.size()));
}

Frame Difference(const Frame& actual, const Frame& expected)
{
    Frame diff{actual.width, actual.height, std::vector<std::uint8_t>(actual.pixels.size(), 0)};
    for (std::size_t i = 0; i + 3 < actual.pixels.size(); i += 4) {
        const bool same = i + 3 < expected.pixels.size() && actual.pixels[i] == expected.pixels[i] &&
            actual.pixels[i + 1] == expected.pixels[i + 1] && actual.pixels[i + 2] == expected.pixels[i + 2] &&
            actual.pixels[i + 3] == expected.pixels[i + 3];
        const std::uint8_t grey = static_cast<std::uint8_t>(
            (actual.pixels[i] + actual.pixels[i + 1] + actual.pixels[i + 2]) / 6 + 64);
        diff.pixels[i] = same ? grey : 0;
        diff.pixels[i + 1] = same ? grey : 0;
        diff.pixels[i + 2] = same ? grey : 255;
    }
    return diff;
}

} // namespace

::testing::AssertionResult MatchesGolden(const std::string& goldenPath, const Frame& frame)
{
    const fs::path golden = GoldenRoot() / goldenPath;
    const char* update = std::getenv("KESTREL_UPDATE_GOLDENS");
    if (update && std::string(update) == "1") {
        WriteFile(golden, EncodeFrame(frame));
        return ::testing::AssertionSuccess() << "rewrote " << golden;
    }
    std::ifstream in(golden, std::ios::binary);
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::optional<Frame> expected = DecodeFrame(file);
    if (expected && expected->width == frame.width && expected->height == frame.height &&
        expected->pixels == frame.pixels)
        return ::testing::AssertionSuccess();

    const fs::path stem = fs::current_path() / "golden-failures" / fs::path(goldenPath).stem();
    WriteFile(fs::path(stem.string() + ".actual.png"), EncodeFrame(frame));
    if (expected) {
        WriteFile(fs::path(stem.string() + ".expected.png"), file);
        WriteFile(fs::path(stem.string() + ".diff.png"), EncodeFrame(Difference(frame, *expected)));
    }
    return ::testing::AssertionFailure()
        << (expected ? "the frame differs from " : "no readable golden at ") << golden
        << "; see " << stem.string() << ".*.png (run tools/update-goldens.sh to accept a change)";
}

} // namespace kestrel::test
