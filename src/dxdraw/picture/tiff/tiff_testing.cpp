// The TIFF side of picture_testing.h: an uncompressed writer into memory.
// Tests and fuzz corpora only.
#include "dxdraw/picture/picture_testing.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace DxDraw::testing {

namespace {

struct Sink {
    std::vector<std::uint8_t> bytes;
    std::uint64_t position = 0;
};

tmsize_t ReadSink(thandle_t handle, void* out, tmsize_t count)
{
    auto* sink = static_cast<Sink*>(handle);
    if (count <= 0 || sink->position >= sink->bytes.size())
        return 0;
    const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(count), sink->bytes.size() - sink->position);
    std::memcpy(out, sink->bytes.data() + sink->position, n);
    sink->position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteSink(thandle_t handle, void* data, tmsize_t count)
{
    auto* sink = static_cast<Sink*>(handle);
    if (count <= 0)
        return 0;
    const std::uint64_t end = sink->position + static_cast<std::uint64_t>(count);
    if (end > sink->bytes.size())
        sink->bytes.resize(end);
    std::memcpy(sink->bytes.data() + sink->position, data, static_cast<std::size_t>(count));
    sink->position = end;
    return count;
}

toff_t SeekSink(thandle_t handle, toff_t offset, int whence)
{
    auto* sink = static_cast<Sink*>(handle);
    switch (whence) {
    case SEEK_SET:
        sink->position = offset;
        break;
    case SEEK_CUR:
        sink->position += offset;
        break;
    case SEEK_END:
        sink->position = sink->bytes.size() + offset;
        break;
    default:
        return static_cast<toff_t>(-1);
    }
    return sink->position;
}

int CloseSink(thandle_t)
{
    return 0;
}

toff_t SinkSize(thandle_t handle)
{
    return static_cast<Sink*>(handle)->bytes.size();
}

int NoMapping(thandle_t, void**, toff_t*)
{
    return 0;
}

void NoUnmapping(thandle_t, void*, toff_t) {}

int Quiet(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

} // namespace

std::vector<std::uint8_t> EncodeTiffForTest(const TiffPicture& picture)
{
    const std::size_t rowBytes =
        (std::size_t{picture.width} * picture.bitsPerSample * picture.samplesPerPixel + 7) / 8;
    if (picture.width == 0 || picture.height == 0 || picture.pixels.size() < rowBytes * picture.height)
        return {};

    const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), Quiet, nullptr);
    Sink sink;
    TIFF* tiff = TIFFClientOpenExt("test.tif", "wm", &sink, ReadSink, WriteSink, SeekSink, CloseSink, SinkSize,
        NoMapping, NoUnmapping, options.get());
    if (!tiff)
        return {};

    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, picture.width) &&
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, picture.height) &&
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, picture.bitsPerSample) &&
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, picture.samplesPerPixel) &&
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, picture.photometric) &&
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, picture.rowsPerStrip);
    if (ok && picture.alpha) {
        const std::uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (ok && picture.photometric == PHOTOMETRIC_PALETTE) {
        const std::size_t levels = std::size_t{1} << picture.bitsPerSample;
        ok = picture.red.size() >= levels && picture.green.size() >= levels && picture.blue.size() >= levels &&
            TIFFSetField(tiff, TIFFTAG_COLORMAP, picture.red.data(), picture.green.data(), picture.blue.data());
    }
    std::vector<std::uint8_t> row(rowBytes);
    for (std::uint32_t y = 0; ok && y < picture.height; ++y) {
        std::memcpy(row.data(), picture.pixels.data() + rowBytes * y, rowBytes);
        ok = TIFFWriteScanline(tiff, row.data(), y, 0) == 1;
    }
    TIFFClose(tiff);
    return ok ? std::move(sink.bytes) : std::vector<std::uint8_t>{};
}

} // namespace DxDraw::testing
