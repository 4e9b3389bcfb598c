#include "archive/saf_archive.h"

#include "archive/egg.h"
#include "archive/member_files.h"
#include "archive/saf_format.h"
#include "archive/zlib/zlib_codec.h"
#include "core/file.h"
#include "core/format.h"
#include "core/report.h"

namespace kestrel {

namespace {

HResult AnswerArchive(IArchive* self, const Guid& iid, void** object)
{
    if (!object)
        return kResultPointer;
    if (iid == IUnknown::Iid || iid == IArchive::Iid) {
        self->AddRef();
        *object = self;
        return kResultOk;
    }
    *object = nullptr;
    return kResultNoInterface;
}

void Report(std::u16string_view what, std::u16string_view path)
{
    DebugOutput(Format(u"archive: %s: %s", what, path));
}

} // namespace

CSafArchive::CSafArchive(std::filesystem::path path, std::int64_t base, std::int64_t fileSize, saf::SafIndex index)
    : m_path(std::move(path)), m_base(base), m_fileSize(fileSize), m_index(std::move(index))
{
}

CSafArchive* CSafArchive::Load(const std::filesystem::path& path, std::int64_t base, std::uint8_t version)
{
    File file(path, File::Mode::Read);
    if (!file)
        return nullptr;
    const std::int64_t fileSize = file.Size();
    const std::size_t headerSize = saf::SafIndex::HeaderSize(version);
    std::vector<std::uint8_t> bytes(headerSize);
    if (fileSize < 0 || Seek64(file, base, SeekMethod::Begin) != base || file.Read(bytes) != headerSize) {
        Report(u"the index header cannot be read", path.u16string());
        return nullptr;
    }
    const std::optional<std::uint64_t> indexSize = saf::SafIndex::IndexSize(bytes, version);
    if (!indexSize || *indexSize > static_cast<std::uint64_t>(fileSize - base)) {
        Report(u"the index does not fit the file", path.u16string());
        return nullptr;
    }
    bytes.resize(static_cast<std::size_t>(*indexSize));
    const std::span<std::uint8_t> rest = std::span(bytes).subspan(headerSize);
    if (file.Read(rest) != rest.size()) {
        Report(u"the index cannot be read", path.u16string());
        return nullptr;
    }
    std::optional<saf::SafIndex> index = saf::SafIndex::Parse(bytes, version);
    if (!index)
        return nullptr;
    if (version == saf::kVersion5)
        return new CArchive5(path, base, fileSize, std::move(*index));
    return new CArchive6(path, base, fileSize, std::move(*index));
}

HResult CSafArchive::QueryInterface(const Guid& iid, void** object)
{
    return AnswerArchive(this, iid, object);
}

std::optional<std::uint32_t> CSafArchive::FindFile(std::u16string_view path) const
{
    const std::optional<std::uint32_t> found = m_index.Find(path);
    if (!found || m_index.entry(*found).directory)
        return std::nullopt;
    return found;
}

bool CSafArchive::Exists(std::u16string_view path)
{
    return m_index.Find(path).has_value();
}

IArchiveFile* CSafArchive::OpenFile(std::u16string_view path)
{
    const std::optional<std::uint32_t> found = FindFile(path);
    if (!found)
        return nullptr;
    const saf::IndexEntry& e = m_index.entry(*found);
    const std::int64_t offset = m_base + std::int64_t{e.start} * static_cast<std::int64_t>(saf::kBlockSize);
    // An empty member may sit at the block after the last data.
    if (e.storedSize > 0 && offset + std::int64_t{e.storedSize} > m_fileSize) {
        Report(u"a member passes the end of the archive file", path);
        return nullptr;
    }
    return CArchiveFile::Create(this, path, m_path, offset, e.storedSize);
}

IMappingFile* CSafArchive::OpenMapped(std::u16string_view path)
{
    ComPtr<IArchiveFile> file = ComPtr<IArchiveFile>::Adopt(OpenFile(path));
    return file ? CMappingFile::Create(file.get()) : nullptr;
}

IArchive* CSafArchive::OpenArchive(std::u16string_view path)
{
    const std::optional<std::uint32_t> found = FindFile(path);
    if (!found)
        return nullptr;
    const std::int64_t nestedBase =
        m_base + std::int64_t{m_index.entry(*found).start} * static_cast<std::int64_t>(saf::kBlockSize);
    return Load(m_path, nestedBase, m_index.version());
}

std::vector<ArchiveEntryRecord>& CSafArchive::Enumerate(std::vector<ArchiveEntryRecord>& list)
{
    list.clear();
    m_index.Enumerate(list);
    return list;
}

IArchive* CSafArchive::Duplicate()
{
    AddRef();
    return this;
}

bool CSafArchive::IsCompressed(std::u16string_view path)
{
    const std::optional<std::uint32_t> found = FindFile(path);
    return found && m_index.entry(*found).third != 0;
}

ICompressedFile* CSafArchive::OpenDecoded(std::u16string_view path)
{
    const std::optional<std::uint32_t> found = FindFile(path);
    if (!found)
        return nullptr;
    const saf::IndexEntry& e = m_index.entry(*found);
    ComPtr<IArchiveFile> file = ComPtr<IArchiveFile>::Adopt(OpenFile(path));
    if (!file)
        return nullptr;
    if (e.third == 0)
        return new CFlatFile(file.get());
    // An unpacked size that the stored bytes cannot produce would only cost an
    // enormous allocation.
    const std::uint64_t limit =
        UsesEgg() ? EggMaxUnpackedSize(e.storedSize) : zlib::MaxInflatedSize(e.storedSize);
    if (e.third > limit) {
        Report(u"a member's unpacked size is impossible for its stored size", path);
        return nullptr;
    }
    if (UsesEgg())
        return new CEggFile(file.get(), e.third);
    return new CZipFile(file.get(), e.third);
}

bool CArchive6Base::UsesEgg() const
{
    return (index().flags() & saf::kFlagEgg) != 0;
}

// --- factories ------------------------------------------------------------

IArchive* NewArchive5(const std::filesystem::path& path)
{
    return CSafArchive::Load(path, 0, saf::kVersion5);
}

IArchive* NewArchive6(const std::filesystem::path& path)
{
    return CSafArchive::Load(path, 0, saf::kVersion6);
}

IArchive* OpenSafArchive(const std::filesystem::path& path)
{
    File file(path, File::Mode::Read);
    if (!file)
        return nullptr;
    std::uint8_t head[2] = {};
    const std::size_t got = file.Read(head);
    file.Close();
    const std::uint16_t w = got == 2 ? saf::ReadU16(head) : 0;
    switch (w & 0xFF00) {
    case saf::kVersion5 << 8:
        return NewArchive5(path);
    case saf::kVersion6 << 8:
        return NewArchive6(path);
    default:
        AssertReport("未対応のSAF形式", "archive", __LINE__);
        return nullptr;
    }
}

} // namespace kestrel
