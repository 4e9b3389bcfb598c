// A JPEG file through the JPEG decoder, then into a
// 32-bit surface by LoadDib, as the picture loader does it.
#include "dxdraw/picture/decoders.h"
#include "picture_fuzz.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kestrel::fuzz::QuietReports();
    std::optional<DxDraw::DibBlock> dib = DxDraw::DecodeJpeg({data, size});
    kestrel::fuzz::LoadDecoded(dib);
    return 0;
}
