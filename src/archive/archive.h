// Game data archives: every script, picture, table and sound is read through
// IArchive, which names members by relative paths ("bgm/title.ogg") and hands
// out member objects.
//
// Implementations: CArchive5 and CArchive6 read the two versions of the SAF
// format, CDirArchive serves a plain folder the same way. All objects are
// reference counted: factories return them with one reference, which the
// caller gives back with Release (or holds in a ComPtr).
#pragma once

#include "core/combase.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class IArchiveFile;
class ICompressedFile;
class IMappingFile;
class FileMapping;

// One file of an archive, as Enumerate lists it.
struct ArchiveEntryRecord {
    std::u16string path; // names from the root joined with "/"
    std::int64_t storedSize = 0;
    std::int64_t offset = 0; // of the member's data, from the archive's start
};

class IArchive : public IUnknown {
public:
    static constexpr Guid Iid{0x6b657374, 0x4172, 0x6368, {0x69, 0x76, 0x65, 0x00, 0x00, 0x00, 0x00, 0x01}};

    // True when the path names an entry, file or folder.
    virtual bool Exists(std::u16string_view path) = 0;
    // The member's stored bytes, or null.
    virtual IArchiveFile* OpenFile(std::u16string_view path) = 0;
    // A memory-mapped view of the member, or null.
    virtual IMappingFile* OpenMapped(std::u16string_view path) = 0;
    // An archive nested in a member, of the same version as this one, or null.
    virtual IArchive* OpenArchive(std::u16string_view path) = 0;
    // Fills `list` with one record per file, depth first in entry order, and returns it.
    virtual std::vector<ArchiveEntryRecord>& Enumerate(std::vector<ArchiveEntryRecord>& list) = 0;
    // This archive with one more reference.
    virtual IArchive* Duplicate() = 0;
    // True when the member exists and is stored compressed.
    virtual bool IsCompressed(std::u16string_view path) = 0;
    // A reader of the member's unpacked bytes, or null.
    virtual ICompressedFile* OpenDecoded(std::u16string_view path) = 0;

protected:
    ~IArchive() = default;
};

enum class SeekOrigin : std::int32_t { Begin = 0, Current = 1, End = 2 };

// A window onto a member's stored bytes, with a file handle of its own.
// Positions are relative to the member's first byte; valid positions are
// 0 ... size - 1.
class IArchiveFile : public IUnknown {
public:
    static constexpr Guid Iid{0x6b657374, 0x4172, 0x6346, {0x69, 0x6c, 0x65, 0x00, 0x00, 0x00, 0x00, 0x02}};

    virtual std::int64_t GetSize() = 0;
    // The new position, or -1 when the target is outside the member (the
    // position then stays). The end of a member is its last byte.
    virtual std::int64_t Seek(std::int64_t offset, std::int32_t origin) = 0;
    virtual std::int64_t Tell() = 0;
    // Reads min(count, size - position) bytes; returns the number read.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    // A new member object on the same path, at this one's position.
    virtual IArchiveFile* Clone() = 0;
    // The archive file this member lives in.
    virtual const std::filesystem::path& GetFilePath() = 0;
    // The absolute position of this member's file handle in the archive file.
    virtual std::int64_t GetFilePosition() = 0;
    // A read-only mapping of the whole archive file, or null.
    virtual std::unique_ptr<FileMapping> CreateMapping() = 0;
    // Maps `bytes` bytes from absolute offset `offset` (a multiple of the
    // mapping granularity); null on failure.
    virtual const std::uint8_t* MapView(FileMapping* mapping, std::int64_t offset, std::size_t bytes) = 0;
    virtual void UnmapView(FileMapping* mapping, const std::uint8_t* address) = 0;

protected:
    ~IArchiveFile() = default;
};

// The whole member's unpacked bytes in one call.
class ICompressedFile : public IUnknown {
public:
    static constexpr Guid Iid{0x6b657374, 0x4372, 0x6d46, {0x69, 0x6c, 0x65, 0x00, 0x00, 0x00, 0x00, 0x03}};

    // The unpacked size.
    virtual std::int64_t GetSize() = 0;
    virtual std::int64_t GetStoredSize() = 0;
    // Unpacks into `buffer` (at least GetSize() bytes); returns the bytes
    // produced, 0 on failure.
    virtual std::int64_t ReadAll(void* buffer) = 0;

protected:
    ~ICompressedFile() = default;
};

// A read-only memory-mapped view of a member.
class IMappingFile : public IUnknown {
public:
    static constexpr Guid Iid{0x6b657374, 0x4d61, 0x7046, {0x69, 0x6c, 0x65, 0x00, 0x00, 0x00, 0x00, 0x04}};

    virtual std::int64_t GetSize() = 0;
    // A pointer to the member byte at `offset`, valid for `length` bytes (0:
    // to the end of the member) until the next Map; null when the range
    // leaves the member.
    virtual const std::uint8_t* Map(std::int64_t offset, std::int64_t length) = 0;
    virtual IMappingFile* Clone() = 0;

protected:
    ~IMappingFile() = default;
};

// Opens a SAF file of version 5 or 6, chosen by its first two bytes; another
// version is reported through the assertion report ("未対応のSAF形式").
IArchive* OpenSafArchive(const std::filesystem::path& path);
IArchive* NewArchive5(const std::filesystem::path& path);
IArchive* NewArchive6(const std::filesystem::path& path);
// Serves a folder as an archive; null when the folder does not exist.
IArchive* NewDirArchive(const std::filesystem::path& path);

// The member's unpacked bytes, or nothing when it cannot be opened. A failed
// unpacking still gives a buffer of the unpacked size (zero-filled where
// nothing was produced).
std::optional<std::vector<std::uint8_t>> ReadArchiveMember(IArchive& archive, std::u16string_view path);
// The same with one 0 byte after the bytes produced; `length` receives their
// number (0 when unpacking failed).
std::optional<std::vector<std::uint8_t>> ReadArchiveText(IArchive& archive, std::u16string_view path,
    std::size_t* length = nullptr);

} // namespace kestrel
