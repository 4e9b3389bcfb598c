// The JPEG side of picture_testing.h: a writer and the plain library decode
// the benchmarks compare against, both on libjpeg's own memory source and
// destination. Tests and benchmarks only.
#include "dxdraw/picture/picture_testing.h"

#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>

namespace DxDraw::testing {

namespace {

struct ErrorManager {
    jpeg_error_mgr library; // first: libjpeg's pointer to it is a pointer to this
    std::jmp_buf jump;
};

void OnFatalError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void Quiet(j_common_ptr) {}

// The compressor's output buffer belongs to libjpeg's memory destination and
// is freed with free().
struct Encoder {
    ErrorManager errors{};
    jpeg_compress_struct compressor{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    bool created = false;

    ~Encoder()
    {
        if (created)
            jpeg_destroy_compress(&compressor);
        std::free(buffer);
    }
};

[[gnu::noinline]] void EncodeInto(Encoder& e, std::uint32_t width, std::uint32_t height, int components,
    const std::uint8_t* pixels, int quality)
{
    jpeg_create_compress(&e.compressor);
    e.created = true;
    jpeg_mem_dest(&e.compressor, &e.buffer, &e.size);
    e.compressor.image_width = width;
    e.compressor.image_height = height;
    e.compressor.input_components = components;
    e.compressor.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&e.compressor);
    jpeg_set_quality(&e.compressor, quality, TRUE);
    jpeg_start_compress(&e.compressor, TRUE);
    while (e.compressor.next_scanline < height) {
        auto row = const_cast<JSAMPROW>(pixels + std::size_t{e.compressor.next_scanline} * width * components);
        jpeg_write_scanlines(&e.compressor, &row, 1);
    }
    jpeg_finish_compress(&e.compressor);
}

bool Encode(Encoder& e, std::uint32_t width, std::uint32_t height, int components, const std::uint8_t* pixels,
    int quality)
{
    if (setjmp(e.errors.jump))
        return false;
    EncodeInto(e, width, height, components, pixels, quality);
    return true;
}

struct Decoder {
    ErrorManager errors{};
    jpeg_decompress_struct decompressor{};
    bool created = false;
    std::vector<std::uint8_t> pixels;

    ~Decoder()
    {
        if (created)
            jpeg_destroy_decompress(&decompressor);
    }
};

[[gnu::noinline]] std::size_t DecodeInto(Decoder& d, std::span<const std::uint8_t> file)
{
    jpeg_create_decompress(&d.decompressor);
    d.created = true;
    jpeg_mem_src(&d.decompressor, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&d.decompressor, TRUE);
    d.decompressor.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d.decompressor);
    const std::size_t rowBytes = std::size_t{d.decompressor.output_width} * d.decompressor.output_components;
    d.pixels.resize(rowBytes * d.decompressor.output_height);
    while (d.decompressor.output_scanline < d.decompressor.output_height) {
        JSAMPROW row = d.pixels.data() + rowBytes * d.decompressor.output_scanline;
        jpeg_read_scanlines(&d.decompressor, &row, 1);
    }
    jpeg_finish_decompress(&d.decompressor);
    return d.pixels.size();
}

std::size_t Decode(Decoder& d, std::span<const std::uint8_t> file)
{
    if (setjmp(d.errors.jump))
        return 0;
    return DecodeInto(d, file);
}

} // namespace

std::vector<std::uint8_t> EncodeJpegForTest(std::uint32_t width, std::uint32_t height, int components,
    std::span<const std::uint8_t> pixels, int quality)
{
    if ((components != 1 && components != 3) || pixels.size() < std::size_t{width} * height * components)
        return {};
    Encoder e;
    e.compressor.err = jpeg_std_error(&e.errors.library);
    e.errors.library.error_exit = OnFatalError;
    e.errors.library.output_message = Quiet;
    if (!Encode(e, width, height, components, pixels.data(), quality))
        return {};
    return {e.buffer, e.buffer + e.size};
}

std::size_t BareJpegDecode(std::span<const std::uint8_t> file)
{
    Decoder d;
    d.decompressor.err = jpeg_std_error(&d.errors.library);
    d.errors.library.error_exit = OnFatalError;
    d.errors.library.output_message = Quiet;
    return Decode(d, file);
}

} // namespace DxDraw::testing
