// Shared by the picture fuzz targets: the decoded bitmap loaded into a
// surface as the engine does it.
//
// Their corpora (fuzz/corpus/png, jpeg, tiff, bmp) hold a few tiny valid
// files of the main kinds, written once by the writers in
// src/dxdraw/picture/picture_testing.h, and cut or damaged copies of them.
#pragma once

#include "quiet.h"
#include "dxdraw/dib.h"
#include "dxdraw/surface.h"

#include <optional>

namespace kestrel::fuzz {

// A decoder's bitmap always loads, at its own size.
inline void LoadDecoded(std::optional<DxDraw::DibBlock>& dib)
{
    if (!dib)
        return;
    const DxDraw::BitmapInfoHeader header = dib->header();
    if (header.width <= 0 || header.height <= 0 || header.width > DxDraw::kMaxPictureSide ||
        header.height > DxDraw::kMaxPictureSide)
        __builtin_trap();
    DxDraw::SurfacePtr surface(DxDraw::CreateSurface(32));
    if (!surface->LoadDib(dib->bytes(), std::nullopt) || surface->Width() != header.width ||
        surface->AbsHeight() != header.height)
        __builtin_trap();
}

} // namespace kestrel::fuzz
