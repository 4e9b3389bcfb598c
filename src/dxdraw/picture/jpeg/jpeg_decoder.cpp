// JPEG pictures through libjpeg, read from memory, as 24-bit bitmaps.
//
// Every picture is asked of the library as colour, so grey JPEGs come out as
// grey colour pixels; pictures the library cannot turn into colour (CMYK,
// YCCK) fail to decode. Rows go bottom-up, blue, green, red, with the padding
// after the last pixel of each row zeroed.
//
// A picture whose data ends early ends where the data does: the source hands
// the library an end-of-image marker, as its own memory source does, and the
// rows not reached come out as the library fills them. Fatal library errors
// jump back to ReadPicture, and DecodeJpeg then destroys the decompressor and
// returns nothing. Everything that owns memory lives in JpegJob, outside the
// frames a jump leaves. Library messages go to the debug output.
#include "dxdraw/picture/decoders.h"

#include "core/report.h"
#include "core/text.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <jerror.h>

#include <csetjmp>
#include <utility>

namespace DxDraw {

namespace {

struct ErrorManager {
    jpeg_error_mgr library; // first: libjpeg's pointer to it is a pointer to this
    std::jmp_buf jump;
};

struct MemorySource {
    jpeg_source_mgr library; // first, as above
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

struct JpegJob {
    JpegJob() = default;
    JpegJob(const JpegJob&) = delete;
    JpegJob& operator=(const JpegJob&) = delete;
    ~JpegJob()
    {
        if (created)
            jpeg_destroy_decompress(&decompressor);
    }

    ErrorManager errors{};
    MemorySource source{};
    jpeg_decompress_struct decompressor{};
    bool created = false;
    std::optional<DibBlock> dib;
};

void ReportMessage(const char* text) noexcept
{
    try {
        kestrel::DebugOutput(u"libjpeg: " + kestrel::Utf8ToUtf16(text));
    } catch (...) {
    }
}

void OnMessage(j_common_ptr info)
{
    char text[JMSG_LENGTH_MAX] = {};
    info->err->format_message(info, text);
    ReportMessage(text);
}

void OnFatalError(j_common_ptr info)
{
    OnMessage(info);
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void InitSource(j_decompress_ptr) {}

void TermSource(j_decompress_ptr) {}

// The whole file was handed over at the start, so a request for more means
// the data ended early: the picture is ended there with an inserted
// end-of-image marker.
boolean FillInput(j_decompress_ptr info)
{
    static const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};
    WARNMS(info, JWRN_JPEG_EOF);
    info->src->next_input_byte = kEndOfImage;
    info->src->bytes_in_buffer = 2;
    return TRUE;
}

void SkipInput(j_decompress_ptr info, long count)
{
    if (count <= 0)
        return;
    jpeg_source_mgr* source = info->src;
    while (static_cast<std::size_t>(count) > source->bytes_in_buffer) {
        count -= static_cast<long>(source->bytes_in_buffer);
        FillInput(info);
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= static_cast<std::size_t>(count);
}

// The libjpeg part of the decode; a fatal error leaves it by a jump, so it
// holds only trivially destructible locals.
[[gnu::noinline]] void ReadPictureInto(JpegJob& job)
{
    jpeg_decompress_struct* info = &job.decompressor;
    jpeg_create_decompress(info);
    job.created = true;
    // Progressive pictures keep whole-picture buffers; a hostile header must
    // fail cleanly rather than take gigabytes.
    info->mem->max_memory_to_use = 256L << 20;

    MemorySource& source = job.source;
    source.library.init_source = InitSource;
    source.library.fill_input_buffer = FillInput;
    source.library.skip_input_data = SkipInput;
    source.library.resync_to_restart = jpeg_resync_to_restart;
    source.library.term_source = TermSource;
    source.library.next_input_byte = source.data;
    source.library.bytes_in_buffer = source.size;
    info->src = &source.library;

    jpeg_read_header(info, TRUE);
    if (info->image_width == 0 || info->image_height == 0)
        ERREXIT(info, JERR_EMPTY_IMAGE);
    if (info->image_width > JDIMENSION(kMaxPictureSide) || info->image_height > JDIMENSION(kMaxPictureSide))
        ERREXIT1(info, JERR_IMAGE_TOO_BIG, kMaxPictureSide);
    // Nor may a few bytes claim a picture far larger than any compression
    // reaches (a flat picture packs a few thousand pixels into a byte).
    constexpr std::uint64_t kMaxPixelsPerByte = 8192;
    if (std::uint64_t{info->image_width} * info->image_height > std::uint64_t{source.size} * kMaxPixelsPerByte)
        ERREXIT1(info, JERR_IMAGE_TOO_BIG, kMaxPictureSide);
#ifdef JCS_EXTENSIONS
    info->out_color_space = JCS_EXT_BGR; // the bitmap's order straight away
#else
    info->out_color_space = JCS_RGB;
#endif
    jpeg_start_decompress(info);
    if (info->output_components != 3)
        ERREXIT(info, JERR_CONVERSION_NOTIMPL);

    const auto width = static_cast<std::int32_t>(info->output_width);
    const auto height = static_cast<std::int32_t>(info->output_height);
    job.dib = DibBlock::Make(width, height, 24, 0);
    if (!job.dib)
        ERREXIT1(info, JERR_IMAGE_TOO_BIG, kMaxPictureSide);
    DibBlock& dib = *job.dib;

    // Scanline i goes to bitmap row height - 1 - i; the library writes the
    // pixels only, so the padding keeps the block's zeros.
    while (info->output_scanline < info->output_height) {
        const auto line = static_cast<std::int32_t>(info->output_scanline);
        JSAMPROW row = dib.row(height - 1 - line);
        if (jpeg_read_scanlines(info, &row, 1) != 1)
            ERREXIT(info, JERR_INPUT_EMPTY);
#ifndef JCS_EXTENSIONS
        for (std::int32_t x = 0; x < width; ++x)
            std::swap(row[3 * x], row[3 * x + 2]);
#endif
    }
    jpeg_finish_decompress(info);

    BitmapInfoHeader& header = dib.header();
    header.sizeImage = dib.rowBytes() * static_cast<std::uint32_t>(height);
    header.clrUsed = 0;
}

// The jump target. No locals at all, so none can be clobbered by the jump.
bool ReadPicture(JpegJob& job)
{
    if (setjmp(job.errors.jump))
        return false;
    ReadPictureInto(job);
    return true;
}

} // namespace

std::optional<DibBlock> DecodeJpeg(std::span<const std::uint8_t> file)
{
    JpegJob job;
    job.decompressor.err = jpeg_std_error(&job.errors.library);
    job.errors.library.error_exit = OnFatalError;
    job.errors.library.output_message = OnMessage;
    job.source.data = file.data();
    job.source.size = file.size();

    if (!ReadPicture(job))
        return std::nullopt;
    return std::move(job.dib);
}

} // namespace DxDraw
