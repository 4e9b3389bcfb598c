#include "core/file.h"
#include "dxdraw/picture/decoders.h"
#include "dxdraw/surface.h"

namespace DxDraw {

bool DxImage::LoadFile(kestrel::IArchive* archive, std::u16string_view name)
{
    const std::optional<std::vector<std::uint8_t>> file =
        archive ? kestrel::ReadArchiveMember(*archive, name) : kestrel::ReadWholeFile(std::filesystem::path(name));
    if (!file)
        return false;
    const std::span<const std::uint8_t> bytes(*file);
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
        // The pixels follow the colour table; the file's pixel offset is not used.
        return bytes.size() > kFileHeaderSize && LoadDib(bytes.subspan(kFileHeaderSize), std::nullopt);
    }
    if (bytes.size() >= 4 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G') {
        std::optional<DibBlock> dib = DecodePng(bytes);
        return dib && LoadDib(dib->bytes(), std::nullopt);
    }
    return false;
}

} // namespace DxDraw
