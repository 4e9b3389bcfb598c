// The in-memory index of a SAF archive: entries forming a tree by index
// ranges, names converted to UTF-16, path lookup and enumeration. Parsed from
// bytes, so that the loaders, the tools and the fuzzers share it.
#pragma once

#include "archive/archive.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::saf {

struct IndexEntry {
    std::uint32_t nameStart = 0; // into the name buffer
    std::uint32_t nameLength = 0;
    std::uint32_t start = 0;      // first block of a file, first child of a folder
    std::uint32_t storedSize = 0; // files
    std::uint32_t third = 0;      // unpacked size of a file (0: stored), child count of a folder
    bool directory = false;
};

class SafIndex {
public:
    // Header bytes needed before the size of the whole index is known.
    static std::size_t HeaderSize(std::uint8_t version);
    // The index size (header, entries and for version 6 the name table) that
    // the header announces; nothing when the header is not of this version.
    static std::optional<std::uint64_t> IndexSize(std::span<const std::uint8_t> header, std::uint8_t version);

    // Parses an index of the given version from its bytes (header first). A
    // malformed index gives nothing and one line on the debug output.
    static std::optional<SafIndex> Parse(std::span<const std::uint8_t> bytes, std::uint8_t version);

    std::uint8_t version() const { return m_version; }
    std::uint8_t flags() const { return m_flags; }
    std::size_t size() const { return m_entries.size(); }
    std::uint32_t nameTableSize() const { return m_nameTableSize; }
    const IndexEntry& entry(std::size_t index) const { return m_entries[index]; }
    std::u16string_view name(std::size_t index) const;

    // The entry a path names (file or folder); "/" and "\" both separate,
    // names compare without regard to ASCII case, the first match wins.
    std::optional<std::uint32_t> Find(std::u16string_view path) const;

    // One record per file, depth first in entry order.
    void Enumerate(std::vector<ArchiveEntryRecord>& list) const;

private:
    struct Range {
        std::uint32_t first = 0;
        std::uint32_t count = 0;
    };

    static std::optional<SafIndex> Parse5(std::span<const std::uint8_t> bytes);
    static std::optional<SafIndex> Parse6(std::span<const std::uint8_t> bytes);
    bool Validate();
    Range Children(std::uint32_t index) const;
    std::optional<std::uint32_t> FindIn(Range range, std::u16string_view name) const;

    std::uint8_t m_version = 0;
    std::uint8_t m_flags = 0;
    std::uint32_t m_nameTableSize = 0;
    std::vector<IndexEntry> m_entries;
    std::u16string m_names;
};

} // namespace kestrel::saf
