// Bitmaps through LoadDib: input starting with "BM" is a BMP file, loaded as
// the picture loader and LoadFile do (info header after the 14-byte file
// header, pixels after the colour table); anything else is taken as a bare
// info block (header, colour table, pixels).
#include "dxdraw/surface.h"
#include "picture_fuzz.h"

#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kestrel::fuzz::QuietReports();
    std::span<const std::uint8_t> bytes(data, size);
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        if (size <= DxDraw::kFileHeaderSize)
            return 0;
        bytes = bytes.subspan(DxDraw::kFileHeaderSize);
    }
    DxDraw::SurfacePtr surface(DxDraw::CreateSurface(32));
    if (surface->LoadDib(bytes, std::nullopt)) {
        const std::int32_t width = surface->Width();
        const std::int32_t height = surface->AbsHeight();
        if (width <= 0 || height <= 0 || width > DxDraw::kMaxPictureSide || height > DxDraw::kMaxPictureSide)
            __builtin_trap();
    }
    return 0;
}
