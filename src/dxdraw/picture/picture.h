// Loading the pictures the script and the menus name.
#pragma once

#include "archive/archive.h"
#include "dxdraw/surface.h"

#include <string_view>

namespace DxDraw {

enum class MissingPicture { NotAllowed, Allowed };

// Tries name.jpg, name.tif, name.png and name.bmp in that order and loads the
// first that exists into a new 32-bit surface (one reference). A missing
// picture gives null when allowed; every other failure throws
// kestrel::ExceptionHandle with the picture error texts.
DxSurface* LoadPicture(kestrel::IArchive& archive, std::u16string_view name, MissingPicture missing);

// A new surface loaded by LoadFile from the named BMP or PNG member; throws
// "LoadSurfaceArchive_Dx: file not found '%s'.\n" on any failure.
DxSurface* LoadSurfaceArchive_Dx(kestrel::IArchive& archive, std::u16string_view name);

} // namespace DxDraw
