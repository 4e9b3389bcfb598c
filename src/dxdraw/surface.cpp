#include "dxdraw/surface.h"

#include "core/file.h"
#include "core/report.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace DxDraw {

namespace {

constexpr std::size_t kPixelAlignment = 32; // whole vectors for the paired kernels

std::uint8_t* AllocatePixels(std::size_t bytes)
{
    const std::size_t rounded = (std::max<std::size_t>(bytes, 1) + kPixelAlignment - 1) / kPixelAlignment *
        kPixelAlignment;
    auto* p = static_cast<std::uint8_t*>(std::aligned_alloc(kPixelAlignment, rounded));
    if (p)
        std::memset(p, 0, rounded);
    return p;
}

bool SideInRange(std::int32_t side)
{
    return side > 0 && side <= kMaxPictureSide;
}

} // namespace

void DxImage::AlignedFree::operator()(std::uint8_t* p) const
{
    std::free(p);
}

DxImage::DxImage(int bitDepth) : m_bitDepth(bitDepth) {}

DxImage::~DxImage() = default;

bool DxImage::Create(std::int32_t width, std::int32_t height)
{
    m_bits.reset();
    m_colourTable.clear();
    m_header = {};
    m_rowBytes = 0;
    if (!SideInRange(width) || height < -kMaxPictureSide || !SideInRange(height < 0 ? -height : height))
        return false;
    const std::int32_t absHeight = height < 0 ? -height : height;

    std::uint32_t entries = 0;
    std::uint32_t step = 0;
    switch (m_bitDepth) {
    case 1:
        entries = 2, step = 255;
        break;
    case 4:
        entries = 16, step = 17;
        break;
    case 8:
        entries = 256, step = 1;
        break;
    default:
        break;
    }
    m_colourTable.assign(std::size_t{entries} * 4, 0);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const auto grey = static_cast<std::uint8_t>(i * step);
        m_colourTable[i * 4 + 0] = grey;
        m_colourTable[i * 4 + 1] = grey;
        m_colourTable[i * 4 + 2] = grey;
    }
    const std::uint32_t rowBytes = DibRowBytes(width, static_cast<std::uint32_t>(m_bitDepth));
    std::unique_ptr<std::uint8_t[], AlignedFree> bits(AllocatePixels(std::size_t{rowBytes} * absHeight));
    if (!bits) {
        m_colourTable.clear();
        return false;
    }
    m_header.width = width;
    m_header.height = height;
    m_header.bitCount = static_cast<std::uint16_t>(m_bitDepth);
    m_bits = std::move(bits);
    m_rowBytes = rowBytes;
    return true;
}

std::int32_t DxImage::Pitch() const
{
    const auto rowBytes = static_cast<std::int32_t>(m_rowBytes);
    return m_header.height < 0 ? rowBytes : -rowBytes;
}

std::uint8_t* DxImage::PixelAddress(std::int32_t x, std::int32_t y) const
{
    const std::size_t column = std::size_t(x) * static_cast<std::size_t>(m_bitDepth) / 8;
    const std::int32_t storedRow = m_header.height < 0 ? y : AbsHeight() - y - 1;
    return m_bits.get() + std::ptrdiff_t(storedRow) * std::ptrdiff_t(m_rowBytes) + std::ptrdiff_t(column);
}

bool DxImage::LoadDib(std::span<const std::uint8_t> info, std::optional<std::span<const std::uint8_t>> bits)
{
    const std::optional<BitmapInfoHeader> header = ReadInfoHeader(info);
    if (!header)
        return false;
    const std::int32_t width = header->width;
    // Negated as 64 bits: the height may be INT32_MIN.
    const std::int64_t absHeight = header->height < 0 ? -std::int64_t{header->height} : header->height;
    if (!SideInRange(width) || absHeight <= 0 || absHeight > kMaxPictureSide || header->size < kInfoHeaderSize ||
        header->bitCount == 0)
        return false;
    const auto height = static_cast<std::int32_t>(absHeight);

    // The colour table follows the header as the header's own size says,
    // which also reads the larger headers newer tools write.
    const std::uint32_t entries = DibColourEntries(*header);
    if (entries > 256)
        return false;
    const std::size_t tableStart = header->size;
    const std::size_t tableEnd = tableStart + std::size_t{entries} * 4;
    if (tableEnd > info.size())
        return false;
    const std::span<const std::uint8_t> table = info.subspan(tableStart, tableEnd - tableStart);
    const std::span<const std::uint8_t> pixels = bits ? *bits : info.subspan(tableEnd);
    const std::uint32_t sourceRowBytes = DibRowBytes(width, header->bitCount);
    // A header that promises more rows than the bytes hold is refused.
    if (pixels.size() / sourceRowBytes < static_cast<std::size_t>(height))
        return false;

    if (!Create(width, height))
        return false;
    if (m_bitDepth != 32)
        return false;

    std::uint8_t palette[256][4] = {};
    std::memcpy(palette, table.data(), table.size());
    for (std::int32_t row = 0; row < height; ++row) {
        // Rows are stored bottom-up whatever the sign of the height: stored
        // row r is memory row r of this (bottom-up) image.
        const std::uint8_t* in = pixels.data() + std::size_t(row) * sourceRowBytes;
        std::uint8_t* out = m_bits.get() + std::size_t(row) * m_rowBytes;
        for (std::int32_t x = 0; x < width; ++x, out += 4) {
            switch (header->bitCount) {
            case 1:
            case 4:
            case 8: {
                const unsigned bitsPer = header->bitCount;
                const unsigned perByte = 8 / bitsPer;
                const unsigned shift = (perByte - 1 - unsigned(x) % perByte) * bitsPer;
                const unsigned index = (in[unsigned(x) / perByte] >> shift) & ((1u << bitsPer) - 1);
                const std::uint8_t* colour = palette[index]; // entries past the table read as black
                out[0] = colour[0], out[1] = colour[1], out[2] = colour[2], out[3] = 0;
                break;
            }
            case 16: {
                const unsigned v = in[x * 2] | (in[x * 2 + 1] << 8);
                const auto widen = [](unsigned c) { return static_cast<std::uint8_t>((c << 3) | (c & 7)); };
                out[0] = widen(v & 0x1F);
                out[1] = widen((v >> 5) & 0x1F);
                out[2] = widen((v >> 10) & 0x1F);
                out[3] = static_cast<std::uint8_t>((v >> 15) & 1);
                break;
            }
            case 24:
                out[0] = in[x * 3], out[1] = in[x * 3 + 1], out[2] = in[x * 3 + 2], out[3] = 0;
                break;
            case 32:
                out[0] = in[x * 4], out[1] = in[x * 4 + 1], out[2] = in[x * 4 + 2];
                out[3] = static_cast<std::uint8_t>(in[x * 4 + 3] ^ 0xFF); // alpha into transparency
                break;
            default:
                break; // other depths stay opaque black
            }
        }
    }
    return true;
}

namespace {

void Put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The 14-byte file header and the 40-byte info header of a saved BMP.
std::vector<std::uint8_t> BmpHeaders(const BitmapInfoHeader& image, std::uint16_t bitCount, std::uint32_t fileSize)
{
    std::vector<std::uint8_t> out(kFileHeaderSize + kInfoHeaderSize, 0);
    out[0] = 'B', out[1] = 'M';
    Put32(&out[2], fileSize);
    Put32(&out[10], kFileHeaderSize + kInfoHeaderSize);
    BitmapInfoHeader header;
    header.width = image.width;
    header.height = image.height;
    header.bitCount = bitCount;
    WriteInfoHeader(header, &out[kFileHeaderSize]);
    return out;
}

} // namespace

bool DxImage::WriteBmp(const std::filesystem::path& path, std::uint16_t bitCount, std::uint32_t rowBytes,
    const std::function<void(const std::uint8_t* in, std::uint8_t* out)>& convertRow) const
{
    if (!m_bits || m_bitDepth != 32)
        return false;
    kestrel::File file = kestrel::CreateFileForWrite(path);
    if (!file)
        return false;
    const std::int32_t height = AbsHeight();
    bool ok = file.WriteAll(BmpHeaders(m_header, bitCount, std::uint32_t(height) * rowBytes + 54));
    std::vector<std::uint8_t> row(rowBytes, 0);
    // Rows in memory order, so a bottom-up image gives an ordinary bottom-up file.
    for (std::int32_t r = 0; r < height && ok; ++r) {
        convertRow(m_bits.get() + std::size_t(r) * m_rowBytes, row.data());
        ok = file.WriteAll(row);
    }
    return ok;
}

bool DxImage::SaveBmp24(const std::filesystem::path& path)
{
    const std::int32_t width = Width();
    return WriteBmp(path, 24, (3 * std::uint32_t(width) + 3) / 4 * 4, [width](const std::uint8_t* in, std::uint8_t* out) {
        for (std::int32_t x = 0; x < width; ++x)
            out[x * 3] = in[x * 4], out[x * 3 + 1] = in[x * 4 + 1], out[x * 3 + 2] = in[x * 4 + 2];
    });
}

bool DxImage::SaveBmp32(const std::filesystem::path& path)
{
    const std::int32_t width = Width();
    return WriteBmp(path, 32, std::uint32_t(width) * 4, [width](const std::uint8_t* in, std::uint8_t* out) {
        for (std::int32_t x = 0; x < width * 4; x += 4) {
            out[x] = in[x], out[x + 1] = in[x + 1], out[x + 2] = in[x + 2];
            out[x + 3] = static_cast<std::uint8_t>(255 - in[x + 3]); // T back to alpha
        }
    });
}

DrawingContext* DxImage::GetDC()
{
    if (m_dcCount > 0) {
        ++m_dcCount;
        return m_dc.get();
    }
    if (!m_bits)
        return nullptr;
    m_dc = std::make_unique<DrawingContext>(DrawingContext{this});
    m_dcCount = 1;
    return m_dc.get();
}

std::int32_t DxImage::ReleaseDC()
{
    if (!m_dc || m_dcCount == 0)
        return m_dcCount;
    if (--m_dcCount == 0)
        m_dc.reset();
    return m_dcCount;
}

// --- DxSurface --------------------------------------------------------------

bool DxSurface::Create(std::int32_t width, std::int32_t height)
{
    if (!DxImage::Create(width, height))
        return false;
    m_clip = {0, 0, width, AbsHeight()};
    return true;
}

std::int32_t DxSurface::Release()
{
    if (m_refCount <= 0)
        return 0;
    if (--m_refCount == 0) {
        delete this;
        return 0;
    }
    return m_refCount;
}

void DxSurface::MarkDirty(const Rect* rect)
{
    if (!rect) {
        m_dirty = {0, 0, Width(), AbsHeight()};
        return;
    }
    if (rect->Empty())
        return;
    Rect united = *rect;
    if (!m_dirty.Empty()) {
        united.left = std::min(united.left, m_dirty.left);
        united.top = std::min(united.top, m_dirty.top);
        united.right = std::max(united.right, m_dirty.right);
        united.bottom = std::max(united.bottom, m_dirty.bottom);
    }
    m_dirty = {std::max(united.left, m_clip.left), std::max(united.top, m_clip.top),
        std::min(united.right, m_clip.right), std::min(united.bottom, m_clip.bottom)};
    if (m_dirty.Empty())
        m_dirty = {};
}

DxSurface* CreateSurface(int bitDepth)
{
    if (bitDepth == 32)
        return new DxSurface32;
    if (bitDepth == 16)
        kestrel::AssertReport("bpp != 16", "dxdraw/dxsurface", __LINE__);
    return nullptr;
}

// --- DibSection -------------------------------------------------------------

bool DibSection::Create(std::int32_t width, std::int32_t height, std::uint16_t bitDepth)
{
    m_header = {};
    m_colours.clear();
    m_bits.clear();
    if (!SideInRange(width) || height < -kMaxPictureSide || height > kMaxPictureSide || height == 0 || bitDepth == 0 ||
        bitDepth > 32)
        return false;
    const std::int32_t absHeight = height < 0 ? -height : height;
    const std::uint32_t entries = bitDepth < 16 ? (1u << bitDepth) : 0;
    m_rowBytes = DibRowBytes(width, bitDepth);
    m_header.width = width;
    m_header.height = height;
    m_header.bitCount = bitDepth;
    m_colours.assign(std::size_t{entries} * 4, 0);
    m_bits.assign(std::size_t{m_rowBytes} * absHeight, 0);
    return true;
}

} // namespace DxDraw
