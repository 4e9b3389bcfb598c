#include "archive/archive.h"
#include "core/format.h"
#include "core/report.h"

namespace kestrel {

namespace {

std::optional<std::vector<std::uint8_t>> Unpack(IArchive& archive, std::u16string_view path, std::size_t extra,
    std::int64_t* produced)
{
    ComPtr<ICompressedFile> member = ComPtr<ICompressedFile>::Adopt(archive.OpenDecoded(path));
    if (!member)
        return std::nullopt;
    const std::int64_t size = member->GetSize();
    // No member the engine reads whole comes near this; a damaged index that
    // claims more is refused rather than allocated (sounds stream instead).
    constexpr std::int64_t kMaxWholeMember = std::int64_t{1} << 30;
    if (size < 0 || size > kMaxWholeMember) {
        DebugOutput(Format(u"archive: a member too large to read whole: %s", path));
        return std::nullopt;
    }
    // Zero-filled, so that bytes a failed unpacking did not write read as 0.
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size) + extra);
    *produced = member->ReadAll(buffer.data());
    return buffer;
}

} // namespace

std::optional<std::vector<std::uint8_t>> ReadArchiveMember(IArchive& archive, std::u16string_view path)
{
    std::int64_t produced = 0;
    return Unpack(archive, path, 0, &produced);
}

std::optional<std::vector<std::uint8_t>> ReadArchiveText(IArchive& archive, std::u16string_view path,
    std::size_t* length)
{
    std::int64_t produced = 0;
    auto buffer = Unpack(archive, path, 1, &produced);
    if (!buffer)
        return std::nullopt;
    (*buffer)[static_cast<std::size_t>(produced)] = 0;
    if (length)
        *length = static_cast<std::size_t>(produced);
    return buffer;
}

} // namespace kestrel
