// The picture loader: name.jpg, name.tif, name.png, name.bmp, the first that
// exists, into a new 32-bit surface.
//
// Each file is read whole from the archive and decoded from memory. A picture
// that exists but cannot be loaded is an error even when a missing one would
// be allowed: the name was found, so something is wrong with the data.
#include "dxdraw/picture/picture.h"

#include "core/exception.h"
#include "dxdraw/picture/decoders.h"

#include <new>
#include <optional>
#include <string>
#include <vector>

namespace DxDraw {

namespace {

constexpr char16_t kScriptSource[] = u"script/scr_gui";
constexpr char16_t kDxDrawSource[] = u"dxdraw/dxdraw";

std::vector<std::uint8_t> ReadWhole(kestrel::IArchive& archive, std::u16string_view path)
{
    std::optional<std::vector<std::uint8_t>> bytes = kestrel::ReadArchiveMember(archive, path);
    return bytes ? std::move(*bytes) : std::vector<std::uint8_t>{};
}

// Decodes without letting memory exhaustion out: a picture too large for
// the machine fails like any undecodable one.
template <class Decoder>
std::optional<DibBlock> DecodeOrNothing(Decoder decode, std::span<const std::uint8_t> bytes)
{
    try {
        return decode(bytes);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

// A new surface holding the bitmap, or null when it cannot be loaded.
DxSurface* SurfaceFromDib(DibBlock& dib)
{
    SurfacePtr surface(CreateSurface(32));
    if (!surface || !surface->LoadDib(dib.bytes(), std::nullopt))
        return nullptr;
    return surface.release();
}

// Reads and decodes one picture file into a new surface; any failure is the
// script error `failure` formatted with `named`.
template <class Decoder>
DxSurface* LoadDecoded(kestrel::IArchive& archive, const std::u16string& path, Decoder decode,
    std::u16string_view failure, const std::u16string& named)
{
    const std::vector<std::uint8_t> bytes = ReadWhole(archive, path);
    std::optional<DibBlock> dib = DecodeOrNothing(decode, bytes);
    DxSurface* surface = dib ? SurfaceFromDib(*dib) : nullptr;
    if (!surface)
        kestrel::ThrowException(kScriptSource, failure, named);
    return surface;
}

} // namespace

DxSurface* LoadPicture(kestrel::IArchive& archive, std::u16string_view name, MissingPicture missing)
{
    const std::u16string base(name);

    const std::u16string jpg = base + u".jpg";
    if (archive.Exists(jpg))
        return LoadDecoded(archive, jpg, DecodeJpeg, u"Script Error: JPEG decode error '%s'.", base);

    const std::u16string tif = base + u".tif";
    if (archive.Exists(tif))
        return LoadDecoded(archive, tif, DecodeTiff, u"Script Error: file not found '%s'.", tif);

    const std::u16string png = base + u".png";
    if (archive.Exists(png))
        return LoadSurfaceArchive_Dx(archive, png);

    const std::u16string bmp = base + u".bmp";
    if (archive.Exists(bmp)) {
        // The pixels are taken to follow the colour table; the file header's
        // pixel offset is not consulted.
        const std::vector<std::uint8_t> bytes = ReadWhole(archive, bmp);
        SurfacePtr surface(CreateSurface(32));
        const std::span<const std::uint8_t> file(bytes);
        if (!surface || file.size() <= kFileHeaderSize ||
            !surface->LoadDib(file.subspan(kFileHeaderSize), std::nullopt))
            kestrel::ThrowException(kScriptSource, u"Script Error: file not found '%s'.", bmp);
        return surface.release();
    }

    if (missing == MissingPicture::Allowed)
        return nullptr;
    kestrel::ThrowException(kScriptSource, u"Script Error: file not found '%s'.", base);
}

DxSurface* LoadSurfaceArchive_Dx(kestrel::IArchive& archive, std::u16string_view name)
{
    SurfacePtr surface(CreateSurface(32));
    bool loaded = false;
    try {
        loaded = surface && surface->LoadFile(&archive, name);
    } catch (const std::bad_alloc&) {
        loaded = false; // too large for this machine: as undecodable
    }
    if (!loaded)
        kestrel::ThrowException(kDxDrawSource, u"LoadSurfaceArchive_Dx: file not found '%s'.\n", name);
    return surface.release();
}

} // namespace DxDraw
