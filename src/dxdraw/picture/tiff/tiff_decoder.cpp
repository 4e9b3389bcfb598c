// TIFF pictures through libtiff, opened on the bytes in memory, read only.
//
// Implemented: pictures stored in strips, samples interleaved, at 1 to 32
// bits per pixel. The bitmap's depth is the picture's bits per pixel rounded
// up to 1, 4, 8, 24 or 32; strips are read in order and their scanlines go to
// the bitmap from the bottom row up. Three bytes per pixel are taken as red,
// green, blue and four as red, green, blue, alpha, and both are stored blue
// first; any other pixel size is copied as it is.
//
// Colour tables: palette pictures take the file's colour map. Its channels
// are 16-bit in the format, but some writers store 8-bit values there, so a
// map with every value below 256 is used as it is and any other map is scaled
// by 255 / 65535. Grey pictures of up to 8 bits get a grey ramp (reversed for
// white-is-zero), so they look as they should; other pictures keep a zeroed
// table.
//
// Not read (the decode fails): tiled pictures, pictures with one plane per
// sample, more than 32 bits per pixel. A strip that cannot be read fails the
// whole picture. Library messages go to the debug output.
#include "dxdraw/picture/decoders.h"

#include "core/report.h"
#include "core/text.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace DxDraw {

namespace {

struct TiffSource {
    const std::uint8_t* data = nullptr;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
};

tmsize_t ReadSource(thandle_t handle, void* out, tmsize_t count)
{
    auto* source = static_cast<TiffSource*>(handle);
    if (count <= 0 || source->position >= source->size)
        return 0;
    const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(count), source->size - source->position);
    std::memcpy(out, source->data + source->position, n);
    source->position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteNothing(thandle_t, void*, tmsize_t)
{
    return 0;
}

// Positions past the end are allowed, as with files; reads there give nothing.
toff_t SeekSource(thandle_t handle, toff_t offset, int whence)
{
    auto* source = static_cast<TiffSource*>(handle);
    switch (whence) {
    case SEEK_SET:
        source->position = offset;
        break;
    case SEEK_CUR:
        source->position += offset; // a negative step arrives wrapped and wraps back
        break;
    case SEEK_END:
        source->position = source->size + offset;
        break;
    default:
        return static_cast<toff_t>(-1);
    }
    return source->position;
}

int CloseSource(thandle_t)
{
    return 0;
}

toff_t SourceSize(thandle_t handle)
{
    return static_cast<TiffSource*>(handle)->size;
}

int NoMapping(thandle_t, void**, toff_t*)
{
    return 0;
}

void NoUnmapping(thandle_t, void*, toff_t) {}

int ReportMessage(TIFF*, void*, const char* module, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    try {
        std::u16string line = u"libtiff: ";
        if (module) {
            line += kestrel::Utf8ToUtf16(module);
            line += u": ";
        }
        line += kestrel::Utf8ToUtf16(text);
        kestrel::DebugOutput(line);
    } catch (...) {
    }
    return 1; // handled: the library's process-wide handlers stay silent
}

struct TiffClose {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffClose>;

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

TiffPtr OpenInMemory(TiffSource& source)
{
    const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), ReportMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), ReportMessage, nullptr);
    // "m": read through ReadSource rather than a mapping of the file.
    return TiffPtr(TIFFClientOpenExt("picture.tif", "rm", &source, ReadSource, WriteNothing, SeekSource, CloseSource,
        SourceSize, NoMapping, NoUnmapping, options.get()));
}

std::uint16_t RoundBitCount(std::uint32_t bitsPerPixel)
{
    for (const std::uint16_t bitCount : {1, 4, 8, 24, 32}) {
        if (bitsPerPixel <= bitCount)
            return bitCount;
    }
    return 0;
}

void FillColourTable(TIFF* tiff, std::uint16_t photometric, std::uint16_t bitsPerSample, std::span<std::uint8_t> table)
{
    const std::size_t entries = table.size() / 4;
    const std::size_t levels = std::size_t{1} << bitsPerSample;
    if (photometric == PHOTOMETRIC_PALETTE) {
        std::uint16_t* red = nullptr;
        std::uint16_t* green = nullptr;
        std::uint16_t* blue = nullptr;
        if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue))
            return;
        // The map has 2^bitsPerSample entries per channel.
        bool wide = false;
        for (std::size_t i = 0; i < levels; ++i)
            wide = wide || red[i] >= 256 || green[i] >= 256 || blue[i] >= 256;
        const auto narrow = [wide](std::uint16_t v) {
            return static_cast<std::uint8_t>(wide ? std::uint32_t{v} * 255 / 65535 : v);
        };
        for (std::size_t i = 0; i < std::min(entries, levels); ++i) {
            table[i * 4] = narrow(blue[i]);
            table[i * 4 + 1] = narrow(green[i]);
            table[i * 4 + 2] = narrow(red[i]);
        }
    } else if (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) {
        for (std::size_t i = 0; i < std::min(entries, levels); ++i) {
            auto grey = static_cast<std::uint8_t>(i * 255 / (levels - 1));
            if (photometric == PHOTOMETRIC_MINISWHITE)
                grey = static_cast<std::uint8_t>(255 - grey);
            table[i * 4] = table[i * 4 + 1] = table[i * 4 + 2] = grey;
        }
    }
}

// One scanline into one bitmap row, never past either.
void StoreScanline(const std::uint8_t* in, std::size_t scanlineBytes, std::size_t bytesPerPixel, std::uint8_t* out,
    std::size_t rowBytes)
{
    const std::size_t bytes = std::min(scanlineBytes, rowBytes);
    if (bytesPerPixel == 3) {
        for (std::size_t i = 0; i + 3 <= bytes; i += 3) {
            out[i] = in[i + 2];
            out[i + 1] = in[i + 1];
            out[i + 2] = in[i];
        }
    } else if (bytesPerPixel == 4) {
        for (std::size_t i = 0; i + 4 <= bytes; i += 4) {
            out[i] = in[i + 2];
            out[i + 1] = in[i + 1];
            out[i + 2] = in[i];
            out[i + 3] = in[i + 3];
        }
    } else {
        std::memcpy(out, in, bytes);
    }
}

} // namespace

std::optional<DibBlock> DecodeTiff(std::span<const std::uint8_t> file)
{
    TiffSource source{file.data(), file.size(), 0};
    const TiffPtr tiff = OpenInMemory(source);
    if (!tiff)
        return std::nullopt;
    TIFF* t = tiff.get();

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bitsPerSample = 1;
    std::uint16_t samplesPerPixel = 1;
    std::uint32_t rowsPerStrip = 0;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height))
        return std::nullopt;
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);

    if (width == 0 || height == 0 || width > std::uint32_t(kMaxPictureSide) ||
        height > std::uint32_t(kMaxPictureSide))
        return std::nullopt;
    if (TIFFIsTiled(t) || (planar != PLANARCONFIG_CONTIG && samplesPerPixel > 1))
        return std::nullopt;
    const std::uint16_t bitCount = RoundBitCount(std::uint32_t{bitsPerSample} * samplesPerPixel);
    const tmsize_t scanline = TIFFScanlineSize(t);
    const tmsize_t stripSize = TIFFStripSize(t);
    if (bitCount == 0 || scanline <= 0 || stripSize <= 0)
        return std::nullopt;
    const auto scanlineBytes = static_cast<std::size_t>(scanline);
    const std::size_t bytesPerPixel = scanlineBytes / width;
    // A few hundred bytes must not claim a gigabyte picture: the stored strips
    // bound what they can expand to (far beyond any real compression ratio).
    std::uint64_t stored = 0;
    for (std::uint32_t s = 0; s < TIFFNumberOfStrips(t); ++s)
        stored += TIFFGetStrileByteCount(t, s);
    constexpr std::uint64_t kMaxExpansion = 4096;
    if (stored * kMaxExpansion < std::uint64_t{height} * scanlineBytes)
        return std::nullopt;

    const std::uint32_t entries = bitCount <= 8 ? 1u << bitCount : 0;
    std::optional<DibBlock> dib =
        DibBlock::Make(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), bitCount, entries);
    if (!dib)
        return std::nullopt;
    BitmapInfoHeader& header = dib->header();
    header.sizeImage = static_cast<std::uint32_t>(std::uint64_t{width} * bitCount * height / 8);
    header.xPelsPerMeter = 2834;
    header.yPelsPerMeter = 2834;
    header.clrUsed = 0;
    header.clrImportant = 0;
    if (entries != 0 && samplesPerPixel == 1 && bitsPerSample <= 8)
        FillColourTable(t, photometric, bitsPerSample, dib->colours());

    // The first scanline goes to the last bitmap row.
    rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, height);
    std::vector<std::uint8_t> strip(static_cast<std::size_t>(stripSize));
    const std::uint32_t strips = TIFFNumberOfStrips(t);
    std::uint32_t row = 0;
    for (std::uint32_t s = 0; row < height; ++s) {
        if (s >= strips)
            return std::nullopt;
        const tmsize_t got = TIFFReadEncodedStrip(t, s, strip.data(), stripSize);
        if (got < 0)
            return std::nullopt;
        const std::uint32_t rows = std::min(rowsPerStrip, height - row);
        const std::size_t present = std::min<std::size_t>(rows, static_cast<std::size_t>(got) / scanlineBytes);
        for (std::size_t r = 0; r < present; ++r) {
            StoreScanline(strip.data() + r * scanlineBytes, scanlineBytes, bytesPerPixel,
                dib->row(static_cast<std::int32_t>(height - 1 - (row + r))), dib->rowBytes());
        }
        row += rows;
    }
    return dib;
}

} // namespace DxDraw
