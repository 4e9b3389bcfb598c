// SAF archives of versions 5 and 6 and folders served as archives (internal
// to the archive library; callers use the factories of archive.h).
#pragma once

#include "archive/archive.h"
#include "archive/saf_index.h"

namespace kestrel {

// What both SAF versions share: the file, the base offset of the archive in
// it, and the index.
class CSafArchive : public CComImpl<IArchive> {
public:
    HResult QueryInterface(const Guid& iid, void** object) override;
    bool Exists(std::u16string_view path) override;
    IArchiveFile* OpenFile(std::u16string_view path) override;
    IMappingFile* OpenMapped(std::u16string_view path) override;
    IArchive* OpenArchive(std::u16string_view path) override;
    std::vector<ArchiveEntryRecord>& Enumerate(std::vector<ArchiveEntryRecord>& list) override;
    IArchive* Duplicate() override;
    bool IsCompressed(std::u16string_view path) override;
    ICompressedFile* OpenDecoded(std::u16string_view path) override;

    const saf::SafIndex& index() const { return m_index; }
    std::int64_t base() const { return m_base; }

    // Loads the index of the given version at `base` in `path`; null on failure.
    static CSafArchive* Load(const std::filesystem::path& path, std::int64_t base, std::uint8_t version);

    CSafArchive(std::filesystem::path path, std::int64_t base, std::int64_t fileSize, saf::SafIndex index);

private:
    // The file entry a path names, or nothing (folders are not members).
    std::optional<std::uint32_t> FindFile(std::u16string_view path) const;
    // True when compressed members of this archive use the egg method.
    virtual bool UsesEgg() const = 0;

    std::filesystem::path m_path;
    std::int64_t m_base;
    std::int64_t m_fileSize;
    saf::SafIndex m_index;
};

class CArchive5 final : public CSafArchive {
public:
    using CSafArchive::CSafArchive;

private:
    bool UsesEgg() const override { return false; }
};

// The version 6 table logic: the header flags choose the egg method.
class CArchive6Base : public CSafArchive {
public:
    using CSafArchive::CSafArchive;

private:
    bool UsesEgg() const override;
};

class CArchive6 final : public CArchive6Base {
public:
    using CArchive6Base::CArchive6Base;
};

class CDirArchive final : public CComImpl<IArchive> {
public:
    static CDirArchive* Create(const std::filesystem::path& path);

    HResult QueryInterface(const Guid& iid, void** object) override;
    bool Exists(std::u16string_view path) override;
    IArchiveFile* OpenFile(std::u16string_view path) override;
    IMappingFile* OpenMapped(std::u16string_view path) override;
    IArchive* OpenArchive(std::u16string_view path) override;
    std::vector<ArchiveEntryRecord>& Enumerate(std::vector<ArchiveEntryRecord>& list) override;
    IArchive* Duplicate() override;
    bool IsCompressed(std::u16string_view) override { return false; }
    ICompressedFile* OpenDecoded(std::u16string_view path) override;

    const std::filesystem::path& folder() const { return m_folder; }

private:
    explicit CDirArchive(std::filesystem::path folder) : m_folder(std::move(folder)) {}
    // The file or folder a member path names inside this folder, or nothing
    // when it does not exist or would leave the folder.
    std::optional<std::filesystem::path> Resolve(std::u16string_view path) const;
    std::optional<std::filesystem::path> ResolveComponents(std::u16string_view path) const;

    std::filesystem::path m_folder;
};

} // namespace kestrel
