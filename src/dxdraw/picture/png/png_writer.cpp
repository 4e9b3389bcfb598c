#include "dxdraw/picture/frame_png.h"

#include "core/file.h"

#include <png.h>

#include <csetjmp>

namespace DxDraw {

namespace {

void AppendToVector(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void FlushNothing(png_structp) {}

// libpng errors jump back to Encode; nothing between holds a destructor.
[[gnu::noinline]] void WriteRows(png_structp png, png_infop info, std::int32_t width, std::int32_t height,
    std::vector<png_bytep>& rows, std::vector<std::uint8_t>& out)
{
    png_set_write_fn(png, &out, AppendToVector, FlushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
        PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, info);
}

bool Encode(png_structp png, png_infop info, std::int32_t width, std::int32_t height, std::vector<png_bytep>& rows,
    std::vector<std::uint8_t>& out)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    WriteRows(png, info, width, height, rows, out);
    return true;
}

} // namespace

std::vector<std::uint8_t> EncodeFramePng(std::int32_t width, std::int32_t height, const std::uint8_t* topLeft,
    std::int32_t pitch)
{
    if (width <= 0 || height <= 0 || !topLeft)
        return {};
    // RGBA rows, alpha = 255 - T.
    std::vector<std::uint8_t> pixels(std::size_t(width) * std::size_t(height) * 4);
    std::vector<png_bytep> rows(static_cast<std::size_t>(height));
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* in = topLeft + std::ptrdiff_t(y) * pitch;
        std::uint8_t* out = &pixels[std::size_t(y) * std::size_t(width) * 4];
        rows[static_cast<std::size_t>(y)] = out;
        for (std::int32_t x = 0; x < width; ++x, in += 4, out += 4) {
            out[0] = in[2], out[1] = in[1], out[2] = in[0];
            out[3] = static_cast<std::uint8_t>(255 - in[3]);
        }
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return {};
    png_infop info = png_create_info_struct(png);
    std::vector<std::uint8_t> file;
    const bool ok = info && Encode(png, info, width, height, rows, file);
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return ok ? file : std::vector<std::uint8_t>();
}

bool SaveFramePng(const std::filesystem::path& path, std::int32_t width, std::int32_t height,
    const std::uint8_t* topLeft, std::int32_t pitch)
{
    const std::vector<std::uint8_t> file = EncodeFramePng(width, height, topLeft, pitch);
    if (file.empty())
        return false;
    kestrel::File out = kestrel::CreateFileForWrite(path);
    return out && out.WriteAll(file);
}

} // namespace DxDraw
