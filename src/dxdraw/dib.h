// Device-independent bitmaps as the picture decoders hand them over: a
// 40-byte info header, a colour table of 4-byte entries (blue, green, red, 0)
// and the pixel rows, bottom-up, each padded to a multiple of 4 bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace DxDraw {

struct BitmapInfoHeader {
    std::uint32_t size = 40;
    std::int32_t width = 0;
    std::int32_t height = 0; // positive: bottom-up rows; negative: top-down
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t clrImportant = 0;
};

inline constexpr std::size_t kInfoHeaderSize = 40;
inline constexpr std::size_t kFileHeaderSize = 14;
// Pictures wider or taller than this are refused rather than allocated.
inline constexpr std::int32_t kMaxPictureSide = 16384;

// Bytes of one row, padded to a multiple of 4.
std::uint32_t DibRowBytes(std::int32_t width, std::uint32_t bitCount);
// Colour-table entries the header implies: the used-colour count for 1, 4 and
// 8-bit pictures, or 2, 16, 256 when it is 0; none for other depths.
std::uint32_t DibColourEntries(const BitmapInfoHeader& header);

// Reads the little-endian header at the start of `bytes`; nothing when fewer
// than 40 bytes are there.
std::optional<BitmapInfoHeader> ReadInfoHeader(std::span<const std::uint8_t> bytes);
void WriteInfoHeader(const BitmapInfoHeader& header, std::uint8_t* out);

// A header, colour table and bottom-up rows in one block.
class DibBlock {
public:
    // A zero-filled block for a picture of this size and depth with
    // `colourEntries` table entries; nothing when the size is out of range.
    static std::optional<DibBlock> Make(std::int32_t width, std::int32_t height, std::uint16_t bitCount,
        std::uint32_t colourEntries);

    BitmapInfoHeader& header() { return m_header; }
    const BitmapInfoHeader& header() const { return m_header; }
    std::span<std::uint8_t> colours() { return std::span(m_bytes).subspan(kInfoHeaderSize, m_colourBytes); }
    std::span<std::uint8_t> bits() { return std::span(m_bytes).subspan(kInfoHeaderSize + m_colourBytes); }
    std::uint8_t* row(std::int32_t storedRow) { return bits().data() + std::size_t(storedRow) * m_rowBytes; }
    std::uint32_t rowBytes() const { return m_rowBytes; }
    // The whole block, header written from header().
    std::span<const std::uint8_t> bytes();

private:
    BitmapInfoHeader m_header;
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_colourBytes = 0;
    std::uint32_t m_rowBytes = 0;
};

} // namespace DxDraw
