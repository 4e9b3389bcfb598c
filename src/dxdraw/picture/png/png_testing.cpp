// The PNG side of picture_testing.h: a writer built on libpng and the plain
// library decode the benchmarks compare against. Tests and benchmarks only.
#include "dxdraw/picture/picture_testing.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

namespace DxDraw::testing {

namespace {

void AppendToVector(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void FlushNothing(png_structp) {}

// Errors jump back through libpng's own jump buffer; these frames hold
// nothing with a destructor.
[[gnu::noinline]] void WriteInto(png_structp png, png_infop info, const PngPicture& picture,
    std::vector<std::uint8_t>& out, std::vector<png_bytep>& rows)
{
    png_set_write_fn(png, &out, AppendToVector, FlushNothing);
    png_set_IHDR(png, info, picture.width, picture.height, picture.bitDepth, static_cast<int>(picture.colour),
        picture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
        PNG_FILTER_TYPE_DEFAULT);
    if (!picture.palette.empty()) {
        png_color colours[256];
        const int count = static_cast<int>(std::min<std::size_t>(picture.palette.size(), 256));
        for (int i = 0; i < count; ++i)
            colours[i] = {picture.palette[i][0], picture.palette[i][1], picture.palette[i][2]};
        png_set_PLTE(png, info, colours, count);
    }
    if (!picture.paletteAlpha.empty()) {
        png_set_tRNS(png, info, picture.paletteAlpha.data(), static_cast<int>(picture.paletteAlpha.size()), nullptr);
    } else if (picture.transparentColour) {
        png_color_16 colour{};
        colour.gray = (*picture.transparentColour)[0];
        colour.red = (*picture.transparentColour)[0];
        colour.green = (*picture.transparentColour)[1];
        colour.blue = (*picture.transparentColour)[2];
        png_set_tRNS(png, info, nullptr, 0, &colour);
    }
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, info);
}

bool Write(png_structp png, png_infop info, const PngPicture& picture, std::vector<std::uint8_t>& out,
    std::vector<png_bytep>& rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    WriteInto(png, info, picture, out, rows);
    return true;
}

struct ReadSource {
    std::span<const std::uint8_t> file;
    std::size_t position = 0;
};

void ReadFromSpan(png_structp png, png_bytep out, png_size_t length)
{
    auto* source = static_cast<ReadSource*>(png_get_io_ptr(png));
    if (length > source->file.size() - source->position)
        png_error(png, "Read Error");
    std::memcpy(out, source->file.data() + source->position, length);
    source->position += length;
}

[[gnu::noinline]] std::size_t ReadInto(png_structp png, png_infop info, ReadSource& source,
    std::vector<std::uint8_t>& pixels, std::vector<png_bytep>& rows)
{
    png_set_read_fn(png, &source, ReadFromSpan);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    pixels.resize(rowBytes * height);
    rows.resize(height);
    for (png_uint_32 i = 0; i < height; ++i)
        rows[i] = pixels.data() + rowBytes * i;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    return pixels.size();
}

std::size_t Read(png_structp png, png_infop info, ReadSource& source, std::vector<std::uint8_t>& pixels,
    std::vector<png_bytep>& rows)
{
    if (setjmp(png_jmpbuf(png)))
        return 0;
    return ReadInto(png, info, source, pixels, rows);
}

} // namespace

std::vector<std::uint8_t> EncodePngForTest(const PngPicture& picture)
{
    const int channels = picture.colour == PngColour::Rgb ? 3
        : picture.colour == PngColour::Rgba               ? 4
        : picture.colour == PngColour::GreyAlpha          ? 2
                                                          : 1;
    const std::size_t rowBytes = (std::size_t{picture.width} * channels * picture.bitDepth + 7) / 8;
    if (picture.pixels.size() < rowBytes * picture.height)
        return {};
    std::vector<png_bytep> rows(picture.height);
    for (std::uint32_t i = 0; i < picture.height; ++i)
        rows[i] = const_cast<png_bytep>(picture.pixels.data() + rowBytes * i);

    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool written = info && Write(png, info, picture, out, rows);
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return written ? out : std::vector<std::uint8_t>{};
}

std::size_t BarePngDecode(std::span<const std::uint8_t> file)
{
    ReadSource source{file};
    std::vector<std::uint8_t> pixels;
    std::vector<png_bytep> rows;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const std::size_t produced = info ? Read(png, info, source, pixels, rows) : 0;
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return produced;
}

} // namespace DxDraw::testing
