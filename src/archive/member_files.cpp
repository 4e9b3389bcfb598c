#include "archive/member_files.h"

#include "archive/egg.h"
#include "archive/zlib/zlib_codec.h"
#include "core/report.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

namespace {

template <class Interface, class Self>
HResult AnswerSelf(Self* self, const Guid& iid, void** object)
{
    if (iid == IUnknown::Iid || iid == Interface::Iid) {
        self->AddRef();
        *object = static_cast<Interface*>(self);
        return kResultOk;
    }
    *object = nullptr;
    return kResultNoInterface;
}

// Hands out `other` (with a reference) when it is asked for by `iid`.
template <class Other>
bool AnswerOther(Other* other, const Guid& iid, void** object)
{
    if (iid != Other::Iid || !other)
        return false;
    other->AddRef();
    *object = other;
    return true;
}

} // namespace

std::int64_t MemberSeekTarget(std::int64_t size, std::int64_t position, std::int64_t offset, std::int32_t origin)
{
    std::int64_t target = 0;
    switch (static_cast<SeekOrigin>(origin)) {
    case SeekOrigin::Begin:
        target = offset;
        break;
    case SeekOrigin::Current:
        target = position + offset;
        break;
    case SeekOrigin::End:
        target = size - 1 + offset;
        break;
    default:
        return -1;
    }
    return (target < 0 || target >= size) ? -1 : target;
}

// --- CArchiveFile ---------------------------------------------------------

CArchiveFile::CArchiveFile(IArchive* archive, std::u16string_view memberPath, const std::filesystem::path& filePath,
    std::int64_t offset, std::int64_t size)
    : m_archive(ComPtr<IArchive>::Share(archive))
    , m_memberPath(memberPath)
    , m_filePath(filePath)
    , m_file(filePath, File::Mode::Read)
    , m_offset(offset)
    , m_size(size)
{
}

CArchiveFile* CArchiveFile::Create(IArchive* archive, std::u16string_view memberPath,
    const std::filesystem::path& filePath, std::int64_t offset, std::int64_t size)
{
    auto* file = new CArchiveFile(archive, memberPath, filePath, offset, size);
    if (!file->m_file || Seek64(file->m_file, offset, SeekMethod::Begin) != offset) {
        file->Release();
        return nullptr;
    }
    return file;
}

HResult CArchiveFile::QueryInterface(const Guid& iid, void** object)
{
    if (!object)
        return kResultPointer;
    if (AnswerOther(m_archive.get(), iid, object))
        return kResultOk;
    return AnswerSelf<IArchiveFile>(this, iid, object);
}

bool CArchiveFile::MoveTo(std::int64_t position)
{
    if (Seek64(m_file, m_offset + position, SeekMethod::Begin) != m_offset + position)
        return false;
    m_position = position;
    return true;
}

std::int64_t CArchiveFile::Seek(std::int64_t offset, std::int32_t origin)
{
    const std::int64_t target = MemberSeekTarget(m_size, m_position, offset, origin);
    if (target < 0 || !MoveTo(target))
        return -1;
    return target;
}

std::int64_t CArchiveFile::Read(void* buffer, std::int64_t count)
{
    count = std::min(count, m_size - m_position);
    if (count <= 0)
        return 0;
    const std::size_t got = m_file.Read({static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(count)});
    m_position += static_cast<std::int64_t>(got);
    return static_cast<std::int64_t>(got);
}

IArchiveFile* CArchiveFile::Clone()
{
    IArchiveFile* clone = m_archive->OpenFile(m_memberPath);
    // Every archive hands out CArchiveFile objects; the clone may sit at the
    // very end, which Seek would refuse.
    auto* same = dynamic_cast<CArchiveFile*>(clone);
    if (same && !same->MoveTo(m_position)) {
        same->Release();
        return nullptr;
    }
    if (clone && !same)
        clone->Seek(m_position, static_cast<std::int32_t>(SeekOrigin::Begin));
    return clone;
}

std::unique_ptr<FileMapping> CArchiveFile::CreateMapping()
{
    return FileMapping::Open(m_filePath);
}

const std::uint8_t* CArchiveFile::MapView(FileMapping* mapping, std::int64_t offset, std::size_t bytes)
{
    if (!mapping || offset < 0)
        return nullptr;
    return mapping->MapView(static_cast<std::uint64_t>(offset), bytes);
}

void CArchiveFile::UnmapView(FileMapping* mapping, const std::uint8_t* address)
{
    if (mapping)
        mapping->UnmapView(address);
}

// --- CMemoryFile ----------------------------------------------------------

HResult CMemoryFile::QueryInterface(const Guid& iid, void** object)
{
    if (!object)
        return kResultPointer;
    return AnswerSelf<IArchiveFile>(this, iid, object);
}

std::int64_t CMemoryFile::Seek(std::int64_t offset, std::int32_t origin)
{
    const std::int64_t target = MemberSeekTarget(GetSize(), m_position, offset, origin);
    if (target >= 0)
        m_position = target;
    return target;
}

std::int64_t CMemoryFile::Read(void* buffer, std::int64_t count)
{
    count = std::min(count, GetSize() - m_position);
    if (count <= 0)
        return 0;
    std::memcpy(buffer, m_bytes.data() + m_position, static_cast<std::size_t>(count));
    m_position += count;
    return count;
}

IArchiveFile* CMemoryFile::Clone()
{
    auto* clone = new CMemoryFile(m_bytes);
    clone->m_position = m_position;
    return clone;
}

// --- compressed readers ---------------------------------------------------

CCompressedFileBase::CCompressedFileBase(IArchiveFile* inner, std::int64_t unpackedSize)
    : m_inner(ComPtr<IArchiveFile>::Share(inner)), m_unpackedSize(unpackedSize)
{
}

HResult CCompressedFileBase::QueryInterface(const Guid& iid, void** object)
{
    if (!object)
        return kResultPointer;
    if (AnswerOther(m_inner.get(), iid, object))
        return kResultOk;
    return AnswerSelf<ICompressedFile>(this, iid, object);
}

std::optional<std::vector<std::uint8_t>> CCompressedFileBase::ReadStored()
{
    const std::int64_t size = m_inner->GetSize();
    std::vector<std::uint8_t> stored(static_cast<std::size_t>(size));
    m_inner->Seek(0, static_cast<std::int32_t>(SeekOrigin::Begin));
    if (m_inner->Read(stored.data(), size) != size)
        return std::nullopt;
    return stored;
}

std::int64_t CFlatFile::ReadAll(void* buffer)
{
    m_inner->Seek(0, static_cast<std::int32_t>(SeekOrigin::Begin));
    m_inner->Read(buffer, m_unpackedSize);
    return m_unpackedSize;
}

std::int64_t CZipFile::ReadAll(void* buffer)
{
    const std::span<std::uint8_t> output(static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(m_unpackedSize));
    if (GetStoredSize() < kStreamingThreshold) {
        const auto stored = ReadStored();
        if (!stored)
            return 0;
        std::size_t produced = 0;
        const zlib::InflateResult result = zlib::InflateOnce(*stored, output, produced);
        // A stream that ends early is a failure, not a success with a stale tail.
        const bool complete = result == zlib::InflateResult::StreamEnd ||
            (result == zlib::InflateResult::Ok && produced == output.size());
        return complete ? m_unpackedSize : 0;
    }
    m_inner->Seek(0, static_cast<std::int32_t>(SeekOrigin::Begin));
    const auto refill = [this](std::span<std::uint8_t> input) -> std::size_t {
        const std::int64_t got = m_inner->Read(input.data(), static_cast<std::int64_t>(input.size()));
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    };
    const std::optional<std::size_t> produced =
        zlib::InflateStream(refill, static_cast<std::size_t>(kStreamingThreshold), output, kOutputWindow);
    return produced ? static_cast<std::int64_t>(*produced) : 0;
}

std::int64_t CEggFile::ReadAll(void* buffer)
{
    const auto stored = ReadStored();
    if (!stored)
        return 0;
    EggDecode(*stored, {static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(m_unpackedSize)});
    return m_unpackedSize;
}

// --- CMappingFile ---------------------------------------------------------

CMappingFile::CMappingFile(IArchiveFile* inner, std::unique_ptr<FileMapping> mapping, std::int64_t start)
    : m_inner(ComPtr<IArchiveFile>::Share(inner)), m_mapping(std::move(mapping)), m_start(start)
{
}

CMappingFile* CMappingFile::Create(IArchiveFile* inner)
{
    if (!inner)
        return nullptr;
    inner->Seek(0, static_cast<std::int32_t>(SeekOrigin::Begin));
    const std::int64_t start = inner->GetFilePosition();
    std::unique_ptr<FileMapping> mapping = inner->CreateMapping();
    if (!mapping) {
        DebugOutput(u"archive: the archive file cannot be mapped");
        return nullptr;
    }
    return new CMappingFile(inner, std::move(mapping), start);
}

CMappingFile::~CMappingFile()
{
    Unmap();
}

HResult CMappingFile::QueryInterface(const Guid& iid, void** object)
{
    if (!object)
        return kResultPointer;
    if (AnswerOther(m_inner.get(), iid, object))
        return kResultOk;
    return AnswerSelf<IMappingFile>(this, iid, object);
}

void CMappingFile::Unmap()
{
    if (m_view && m_mapping)
        m_mapping->UnmapView(m_view);
    m_view = nullptr;
}

const std::uint8_t* CMappingFile::Map(std::int64_t offset, std::int64_t length)
{
    Unmap();
    if (!m_mapping) {
        AssertReport("m_hMap!=NULL", "archive", __LINE__);
        return nullptr;
    }
    const std::int64_t size = GetSize();
    if (length == 0)
        length = size - offset;
    // The view stays inside the member: past it lies other data, and past
    // the end of the file, pages that fault when touched.
    if (offset < 0 || offset >= size || length <= 0 || length > size - offset)
        return nullptr;
    const std::int64_t absolute = m_start + offset;
    const std::int64_t granularity = static_cast<std::int64_t>(FileMapping::Granularity());
    const std::int64_t aligned = absolute - absolute % granularity;
    const std::uint8_t* view =
        m_mapping->MapView(static_cast<std::uint64_t>(aligned), static_cast<std::size_t>(length + (absolute - aligned)));
    if (!view)
        return nullptr;
    m_view = view;
    return view + (absolute - aligned);
}

IMappingFile* CMappingFile::Clone()
{
    ComPtr<IArchiveFile> inner = ComPtr<IArchiveFile>::Adopt(m_inner->Clone());
    return inner ? Create(inner.get()) : nullptr;
}

} // namespace kestrel
