// The member objects the archives hand out (internal to the archive library;
// callers see only the interfaces of archive.h).
#pragma once

#include "archive/archive.h"
#include "core/file.h"
#include "platform/file_mapping.h"

#include <vector>

namespace kestrel {

// A window onto a member's stored bytes, with a file handle of its own.
class CArchiveFile final : public CComImpl<IArchiveFile> {
public:
    // Opens its own handle on `filePath` at `offset`; null when that fails.
    static CArchiveFile* Create(IArchive* archive, std::u16string_view memberPath, const std::filesystem::path& filePath,
        std::int64_t offset, std::int64_t size);

    HResult QueryInterface(const Guid& iid, void** object) override;
    std::int64_t GetSize() override { return m_size; }
    std::int64_t Seek(std::int64_t offset, std::int32_t origin) override;
    std::int64_t Tell() override { return m_position; }
    std::int64_t Read(void* buffer, std::int64_t count) override;
    IArchiveFile* Clone() override;
    const std::filesystem::path& GetFilePath() override { return m_filePath; }
    std::int64_t GetFilePosition() override { return m_offset + m_position; }
    std::unique_ptr<FileMapping> CreateMapping() override;
    const std::uint8_t* MapView(FileMapping* mapping, std::int64_t offset, std::size_t bytes) override;
    void UnmapView(FileMapping* mapping, const std::uint8_t* address) override;

private:
    CArchiveFile(IArchive* archive, std::u16string_view memberPath, const std::filesystem::path& filePath,
        std::int64_t offset, std::int64_t size);
    // Moves to a position in 0 ... size (the end itself included).
    bool MoveTo(std::int64_t position);

    ComPtr<IArchive> m_archive;
    std::u16string m_memberPath;
    std::filesystem::path m_filePath;
    File m_file;
    std::int64_t m_offset;
    std::int64_t m_size;
    std::int64_t m_position = 0;
};

// Member bytes held in memory, for members built on the fly and for tests.
class CMemoryFile final : public CComImpl<IArchiveFile> {
public:
    explicit CMemoryFile(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}

    HResult QueryInterface(const Guid& iid, void** object) override;
    std::int64_t GetSize() override { return static_cast<std::int64_t>(m_bytes.size()); }
    std::int64_t Seek(std::int64_t offset, std::int32_t origin) override;
    std::int64_t Tell() override { return m_position; }
    std::int64_t Read(void* buffer, std::int64_t count) override;
    IArchiveFile* Clone() override;
    const std::filesystem::path& GetFilePath() override { return m_noPath; }
    std::int64_t GetFilePosition() override { return m_position; }
    std::unique_ptr<FileMapping> CreateMapping() override { return nullptr; }
    const std::uint8_t* MapView(FileMapping*, std::int64_t, std::size_t) override { return nullptr; }
    void UnmapView(FileMapping*, const std::uint8_t*) override {}

private:
    std::vector<std::uint8_t> m_bytes;
    std::int64_t m_position = 0;
    std::filesystem::path m_noPath;
};

// The target of a member seek, or -1 when it is refused: valid positions are
// 0 ... size - 1, and the end of a member is its last byte.
std::int64_t MemberSeekTarget(std::int64_t size, std::int64_t position, std::int64_t offset, std::int32_t origin);

// Readers of the whole unpacked member. Each holds a reference to its inner member.
class CCompressedFileBase : public CComImpl<ICompressedFile> {
public:
    HResult QueryInterface(const Guid& iid, void** object) override;
    std::int64_t GetSize() override { return m_unpackedSize; }
    std::int64_t GetStoredSize() override { return m_inner->GetSize(); }

protected:
    CCompressedFileBase(IArchiveFile* inner, std::int64_t unpackedSize);
    // Reads the whole stored member; nothing on a short read.
    std::optional<std::vector<std::uint8_t>> ReadStored();

    ComPtr<IArchiveFile> m_inner;
    std::int64_t m_unpackedSize;
};

class CFlatFile final : public CCompressedFileBase {
public:
    explicit CFlatFile(IArchiveFile* inner) : CCompressedFileBase(inner, inner->GetSize()) {}
    std::int64_t ReadAll(void* buffer) override;
};

class CZipFile final : public CCompressedFileBase {
public:
    // Stored members from this size on are inflated through a fixed input buffer.
    static constexpr std::int64_t kStreamingThreshold = 0x20000;
    static constexpr std::size_t kOutputWindow = 0x8000;

    CZipFile(IArchiveFile* inner, std::int64_t unpackedSize) : CCompressedFileBase(inner, unpackedSize) {}
    std::int64_t ReadAll(void* buffer) override;
};

class CEggFile final : public CCompressedFileBase {
public:
    CEggFile(IArchiveFile* inner, std::int64_t unpackedSize) : CCompressedFileBase(inner, unpackedSize) {}
    std::int64_t ReadAll(void* buffer) override;
};

// A read-only memory-mapped view of a member, one window at a time.
class CMappingFile final : public CComImpl<IMappingFile> {
public:
    // Null when the archive file cannot be mapped.
    static CMappingFile* Create(IArchiveFile* inner);
    ~CMappingFile() override;

    HResult QueryInterface(const Guid& iid, void** object) override;
    std::int64_t GetSize() override { return m_inner->GetSize(); }
    const std::uint8_t* Map(std::int64_t offset, std::int64_t length) override;
    IMappingFile* Clone() override;

private:
    CMappingFile(IArchiveFile* inner, std::unique_ptr<FileMapping> mapping, std::int64_t start);
    void Unmap();

    ComPtr<IArchiveFile> m_inner;
    std::unique_ptr<FileMapping> m_mapping;
    std::int64_t m_start;
    const std::uint8_t* m_view = nullptr;
};

} // namespace kestrel
