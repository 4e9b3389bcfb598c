#include "dxdraw/dib.h"

#include <cstring>

namespace DxDraw {

namespace {

std::uint32_t U32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t U16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void Put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Put16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

} // namespace

std::uint32_t DibRowBytes(std::int32_t width, std::uint32_t bitCount)
{
    // Whole 32-bit words per row; for 8 bits per pixel and more this is
    // ((bitCount * width / 8) + 3) / 4 * 4, and it stays right below 8 bits.
    const std::uint64_t bits = std::uint64_t(width < 0 ? 0 : width) * bitCount;
    return static_cast<std::uint32_t>((bits + 31) / 32 * 4);
}

std::uint32_t DibColourEntries(const BitmapInfoHeader& header)
{
    switch (header.bitCount) {
    case 1:
    case 4:
    case 8: {
        const std::uint32_t full = 1u << header.bitCount;
        return header.clrUsed != 0 ? header.clrUsed : full;
    }
    default:
        return 0;
    }
}

std::optional<BitmapInfoHeader> ReadInfoHeader(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kInfoHeaderSize)
        return std::nullopt;
    const std::uint8_t* p = bytes.data();
    BitmapInfoHeader h;
    h.size = U32(p);
    h.width = static_cast<std::int32_t>(U32(p + 4));
    h.height = static_cast<std::int32_t>(U32(p + 8));
    h.planes = U16(p + 12);
    h.bitCount = U16(p + 14);
    h.compression = U32(p + 16);
    h.sizeImage = U32(p + 20);
    h.xPelsPerMeter = static_cast<std::int32_t>(U32(p + 24));
    h.yPelsPerMeter = static_cast<std::int32_t>(U32(p + 28));
    h.clrUsed = U32(p + 32);
    h.clrImportant = U32(p + 36);
    return h;
}

void WriteInfoHeader(const BitmapInfoHeader& h, std::uint8_t* p)
{
    Put32(p, h.size);
    Put32(p + 4, static_cast<std::uint32_t>(h.width));
    Put32(p + 8, static_cast<std::uint32_t>(h.height));
    Put16(p + 12, h.planes);
    Put16(p + 14, h.bitCount);
    Put32(p + 16, h.compression);
    Put32(p + 20, h.sizeImage);
    Put32(p + 24, static_cast<std::uint32_t>(h.xPelsPerMeter));
    Put32(p + 28, static_cast<std::uint32_t>(h.yPelsPerMeter));
    Put32(p + 32, h.clrUsed);
    Put32(p + 36, h.clrImportant);
}

std::optional<DibBlock> DibBlock::Make(std::int32_t width, std::int32_t height, std::uint16_t bitCount,
    std::uint32_t colourEntries)
{
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide || bitCount == 0 ||
        bitCount > 32 || colourEntries > 256)
        return std::nullopt;
    DibBlock block;
    block.m_header.width = width;
    block.m_header.height = height;
    block.m_header.bitCount = bitCount;
    block.m_header.clrUsed = colourEntries;
    block.m_rowBytes = DibRowBytes(width, bitCount);
    block.m_header.sizeImage = block.m_rowBytes * static_cast<std::uint32_t>(height);
    block.m_colourBytes = std::size_t{colourEntries} * 4;
    block.m_bytes.assign(kInfoHeaderSize + block.m_colourBytes + block.m_header.sizeImage, 0);
    return block;
}

std::span<const std::uint8_t> DibBlock::bytes()
{
    WriteInfoHeader(m_header, m_bytes.data());
    return m_bytes;
}

} // namespace DxDraw
