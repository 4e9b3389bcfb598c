// Writing a composed frame as a PNG file: the headless runs' screenshots and
// the golden pictures of the tests. T (255 - alpha) becomes PNG alpha, so the
// file keeps every byte of the frame.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace DxDraw {

// `topLeft` addresses row 0; `pitch` is the signed byte step to the next row
// of 4-byte pixels (blue, green, red, T). Empty when the frame is empty or
// libpng fails.
std::vector<std::uint8_t> EncodeFramePng(std::int32_t width, std::int32_t height, const std::uint8_t* topLeft,
    std::int32_t pitch);

bool SaveFramePng(const std::filesystem::path& path, std::int32_t width, std::int32_t height,
    const std::uint8_t* topLeft, std::int32_t pitch);

} // namespace DxDraw
