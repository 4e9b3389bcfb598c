// Golden pictures: a rendered frame compared byte for byte with a committed
// PNG under tests/. On a difference the actual frame, the expected one and a
// difference image (changed pixels red, the rest grey) are written into the
// test's working folder. KESTREL_UPDATE_GOLDENS=1 rewrites the golden instead
// (tools/update-goldens.sh does that on purpose).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

// A frame: top-down rows of 4-byte pixels blue, green, red, T (T = 255 - alpha).
struct Frame {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;
};

// `goldenPath` is relative to tests/, e.g. "dxdraw/golden/overlap.png".
::testing::AssertionResult MatchesGolden(const std::string& goldenPath, const Frame& frame);

} // namespace kestrel::test
