// A PNG file through the PNG decoder (its error boxes answered in silence),
// then into a 32-bit surface by LoadDib, as the picture loader does it.
#include "dxdraw/picture/decoders.h"
#include "picture_fuzz.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kestrel::fuzz::QuietReports();
    std::optional<DxDraw::DibBlock> dib = DxDraw::DecodePng({data, size});
    kestrel::fuzz::LoadDecoded(dib);
    return 0;
}
