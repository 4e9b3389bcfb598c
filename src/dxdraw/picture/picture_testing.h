// Picture writers and plain library decodes for tests, fuzz corpora and
// benchmarks only: they live in kestrel_dxdraw_picture_testing, which the
// engine never links. They sit beside the decoders because only these folders
// may use the image libraries.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace DxDraw::testing {

enum class PngColour { Grey = 0, Rgb = 2, Palette = 3, GreyAlpha = 4, Rgba = 6 };

struct PngPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    PngColour colour = PngColour::Rgb;
    int bitDepth = 8; // as the format allows for the colour type
    bool interlaced = false;
    // Rows top-down as the format stores them: samples packed high bit first
    // below 8 bits, 16-bit samples big-endian; ceil(width * bits per pixel / 8)
    // bytes a row.
    std::vector<std::uint8_t> pixels;
    std::vector<std::array<std::uint8_t, 3>> palette; // red, green, blue
    // tRNS for palette pictures: one alpha a palette entry.
    std::vector<std::uint8_t> paletteAlpha;
    // tRNS for grey (first value) and RGB pictures: the transparent colour.
    std::optional<std::array<std::uint16_t, 3>> transparentColour;
};

// A PNG file of the picture; empty when libpng refuses it.
std::vector<std::uint8_t> EncodePngForTest(const PngPicture& picture);

// A baseline JPEG of `pixels` (top-down rows of red, green, blue, or of grey
// when components is 1) at the given quality (1-100).
std::vector<std::uint8_t> EncodeJpegForTest(std::uint32_t width, std::uint32_t height, int components,
    std::span<const std::uint8_t> pixels, int quality);

struct TiffPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bitsPerSample = 8;
    std::uint16_t samplesPerPixel = 3;
    std::uint16_t photometric = 2; // 0 white is zero, 1 black is zero, 2 RGB, 3 palette
    std::uint32_t rowsPerStrip = 1;
    bool alpha = false; // the fourth sample is unassociated alpha
    // Rows top-down, ceil(width * bits per pixel / 8) bytes a row.
    std::vector<std::uint8_t> pixels;
    // The colour map of palette pictures: 2^bitsPerSample values a channel.
    std::vector<std::uint16_t> red, green, blue;
};

// An uncompressed TIFF file of the picture; empty when libtiff refuses it.
std::vector<std::uint8_t> EncodeTiffForTest(const TiffPicture& picture);

// The library alone, for comparison in benchmarks: decodes the file into a
// buffer of plain rows (RGB for JPEG; 8-bit samples for PNG) and returns the
// bytes produced, 0 on failure.
std::size_t BareJpegDecode(std::span<const std::uint8_t> file);
std::size_t BarePngDecode(std::span<const std::uint8_t> file);

} // namespace DxDraw::testing
