// PNG pictures through libpng, read from memory.
//
// Every colour type becomes one of the bitmaps decoders.h describes:
//  - palette without tRNS: the file's depth (2 bits unpacked to 8), the PLTE
//    entries as the colour table;
//  - grey without tRNS: the file's depth (2 bits unpacked to 8, 16 reduced to
//    8) with a grey ramp of 2^depth entries, entry i = i * 255 / (entries - 1);
//  - RGB: 24 bits, blue, green, red;
//  - palette or grey with tRNS, grey with alpha, RGB with tRNS, RGBA: 32 bits,
//    blue, green, red, alpha.
// 16-bit channels keep their high byte. Interlaced files are read whole.
// Pictures wider or taller than 16384 pixels, and files too short to hold
// their rows, are errors found before anything is allocated.
//
// libpng reports errors by calling back and never returning: the error
// callback shows the "libpng error" box and longjmps back to ReadPicture.
// Everything that owns memory lives in PngJob, outside the frame that calls
// setjmp, so the jump skips no destructor; the callbacks that libpng can leave
// by a jump hold nothing with a destructor either. Warnings go to the debug
// output rather than a box: they are never the player's business.
#include "dxdraw/picture/decoders.h"

#include "core/report.h"
#include "core/text.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

namespace DxDraw {

namespace {

// The file being read. Each decode has its own, so the position is never
// shared between decodes.
struct PngSource {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};

struct PngJob {
    PngSource source;
    std::optional<DibBlock> dib;
    std::vector<png_bytep> rows;
};

void ReportError(const char* message) noexcept
{
    try {
        kestrel::MessageBoxRequest request;
        request.caption = u"libpng error";
        request.text = kestrel::Utf8ToUtf16(message ? message : "");
        request.icon = kestrel::MessageBoxIcon::Error;
        kestrel::ShowMessageBox(request);
    } catch (...) {
        // The box is a courtesy; the decode fails either way.
    }
}

void ReportWarning(const char* message) noexcept
{
    try {
        kestrel::DebugOutput(u"libpng warning: " + kestrel::Utf8ToUtf16(message ? message : ""));
    } catch (...) {
    }
}

void OnError(png_structp png, png_const_charp message)
{
    ReportError(message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp message)
{
    ReportWarning(message);
}

// Copies exactly what libpng asks for, or fails as a short file does.
void ReadFromSource(png_structp png, png_bytep out, png_size_t length)
{
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > source->size - source->position)
        png_error(png, "Read Error");
    std::memcpy(out, source->data + source->position, length);
    source->position += length;
}

// Deflate packs at most 1032 bytes into one, so a file shorter than this
// cannot hold the picture's rows; refusing it early avoids allocating for a
// picture that is not there.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

// The libpng part of the decode; an error leaves it by a jump, so it holds
// only trivially destructible locals.
[[gnu::noinline]] void ReadPictureInto(PngJob& job, png_structp png, png_infop info)
{
    png_set_read_fn(png, &job.source, ReadFromSource);
    png_set_user_limits(png, kMaxPictureSide, kMaxPictureSide);
    png_read_info(png, info);

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    int colourType = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, nullptr, nullptr, nullptr);
    if (width == 0 || height == 0 || width > png_uint_32(kMaxPictureSide) || height > png_uint_32(kMaxPictureSide))
        png_error(png, "Image size out of range");
    const std::uint64_t fileRowBytes = (std::uint64_t{width} * png_get_channels(png, info) * depth + 7) / 8;
    if (std::uint64_t{job.source.size} * kMaxDeflateRatio < std::uint64_t{height} * (fileRowBytes + 1))
        png_error(png, "Not enough image data");

    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (depth == 16)
        png_set_strip_16(png);
    const int depth8 = depth == 16 ? 8 : depth; // the depth after reduction

    std::uint16_t bitCount = 0;
    std::uint32_t entries = 0;
    png_colorp palette = nullptr;
    int paletteEntries = 0;
    switch (colourType) {
    case PNG_COLOR_TYPE_PALETTE:
        if (transparency) {
            png_set_expand(png);
            bitCount = 32;
        } else {
            if (depth == 2)
                png_set_packing(png);
            bitCount = static_cast<std::uint16_t>(depth == 2 ? 8 : depth);
            png_get_PLTE(png, info, &palette, &paletteEntries);
            entries = std::min<std::uint32_t>(static_cast<std::uint32_t>(paletteEntries), 1u << bitCount);
        }
        break;
    case PNG_COLOR_TYPE_GRAY:
        if (transparency) {
            png_set_expand(png);
            png_set_gray_to_rgb(png);
            bitCount = 32;
        } else {
            if (depth == 2)
                png_set_packing(png);
            bitCount = static_cast<std::uint16_t>(depth == 2 ? 8 : depth8);
            entries = 1u << depth8;
        }
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        png_set_gray_to_rgb(png);
        bitCount = 32;
        break;
    case PNG_COLOR_TYPE_RGB:
        if (transparency)
            png_set_expand(png);
        bitCount = transparency ? 32 : 24;
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        bitCount = 32;
        break;
    default:
        png_error(png, "Unknown colour type");
    }
    if (bitCount >= 24)
        png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    job.dib = DibBlock::Make(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), bitCount, entries);
    if (!job.dib)
        png_error(png, "Image size out of range");
    DibBlock& dib = *job.dib;
    BitmapInfoHeader& header = dib.header();
    header.sizeImage = 0;
    header.clrUsed = entries;

    std::uint8_t* table = dib.colours().data();
    for (std::uint32_t i = 0; i < entries; ++i, table += 4) {
        if (palette) {
            table[0] = palette[i].blue;
            table[1] = palette[i].green;
            table[2] = palette[i].red;
        } else {
            const auto grey = static_cast<std::uint8_t>(i * 255 / (entries - 1));
            table[0] = table[1] = table[2] = grey;
        }
    }

    // libpng writes whole rows straight into the bitmap, so they must fit.
    if (png_get_rowbytes(png, info) > dib.rowBytes())
        png_error(png, "Unexpected row layout");

    // Picture row i lands in bitmap row height - 1 - i.
    job.rows.resize(height);
    for (png_uint_32 i = 0; i < height; ++i)
        job.rows[i] = dib.row(static_cast<std::int32_t>(height - 1 - i));

    png_read_image(png, job.rows.data());
    png_read_end(png, nullptr);
}

// The jump target. No locals at all, so none can be clobbered by the jump.
bool ReadPicture(PngJob& job, png_structp png, png_infop info)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    ReadPictureInto(job, png, info);
    return true;
}

// Destroys the libpng structures however the decode ends.
struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

} // namespace

std::optional<DibBlock> DecodePng(std::span<const std::uint8_t> file)
{
    PngJob job;
    job.source = {file.data(), file.size(), 0};

    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (!reader.png)
        return std::nullopt;
    reader.info = png_create_info_struct(reader.png);
    if (!reader.info)
        return std::nullopt;

    if (!ReadPicture(job, reader.png, reader.info))
        return std::nullopt;
    return std::move(job.dib);
}

} // namespace DxDraw
