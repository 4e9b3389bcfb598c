#include "archive/saf_index.h"

#include "archive/saf_format.h"
#include "core/cp932.h"
#include "core/report.h"

#include <algorithm>

namespace kestrel::saf {

namespace {

char16_t FoldAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool SameName(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() &&
        std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return FoldAscii(x) == FoldAscii(y); });
}

bool IsSeparator(char16_t c)
{
    return c == u'/' || c == u'\\';
}

void Fail(std::u16string_view why)
{
    DebugOutput(std::u16string(u"archive: damaged index: ") + std::u16string(why));
}

} // namespace

std::size_t SafIndex::HeaderSize(std::uint8_t version)
{
    return version == kVersion5 ? kHeader5Size : kHeader6Size;
}

std::optional<std::uint64_t> SafIndex::IndexSize(std::span<const std::uint8_t> header, std::uint8_t version)
{
    if (header.size() < HeaderSize(version) || header[1] != version)
        return std::nullopt;
    const std::uint64_t count = ReadU16(&header[2]);
    if (version == kVersion5)
        return kHeader5Size + count * kEntry5Size;
    return kHeader6Size + count * kEntry6Size + ReadU32(&header[4]);
}

std::optional<SafIndex> SafIndex::Parse(std::span<const std::uint8_t> bytes, std::uint8_t version)
{
    const std::optional<std::uint64_t> size = IndexSize(bytes, version);
    if (!size) {
        Fail(u"not a SAF header of the expected version");
        return std::nullopt;
    }
    if (*size > bytes.size()) {
        Fail(u"the entry count or name table does not fit the file");
        return std::nullopt;
    }
    std::optional<SafIndex> index = version == kVersion5 ? Parse5(bytes) : Parse6(bytes);
    if (index && !index->Validate())
        return std::nullopt;
    return index;
}

std::optional<SafIndex> SafIndex::Parse5(std::span<const std::uint8_t> bytes)
{
    SafIndex index;
    index.m_version = kVersion5;
    index.m_flags = bytes[0];
    const std::size_t count = ReadU16(&bytes[2]);
    std::vector<std::uint8_t> table(bytes.begin() + kHeader5Size, bytes.begin() + kHeader5Size + count * kEntry5Size);
    if (index.m_flags & kFlagScrambled)
        ScrambleEntries5(table);

    index.m_entries.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* raw = &table[i * kEntry5Size];
        IndexEntry& e = index.m_entries[i];
        e.directory = (raw[0] & kDirectoryBit5) != 0;
        raw[0] &= static_cast<std::uint8_t>(~kDirectoryBit5);
        std::size_t nameBytes = 0;
        while (nameBytes < kName5Size && raw[nameBytes] != 0 && raw[nameBytes] != ' ')
            ++nameBytes;
        const std::u16string name =
            Cp932ToUtf16(std::string_view(reinterpret_cast<const char*>(raw), nameBytes)).substr(0, kName5Size);
        e.nameStart = static_cast<std::uint32_t>(index.m_names.size());
        e.nameLength = static_cast<std::uint32_t>(name.size());
        index.m_names += name;
        e.start = ReadU32(raw + 20);
        e.storedSize = ReadU32(raw + 24);
        e.third = ReadU32(raw + 28);
    }
    return index;
}

std::optional<SafIndex> SafIndex::Parse6(std::span<const std::uint8_t> bytes)
{
    SafIndex index;
    index.m_version = kVersion6;
    index.m_flags = bytes[0];
    const std::size_t count = ReadU16(&bytes[2]);
    index.m_nameTableSize = ReadU32(&bytes[4]);
    const std::size_t tableEnd = kHeader6Size + count * kEntry6Size;
    std::vector<std::uint8_t> table(bytes.begin() + kHeader6Size, bytes.begin() + tableEnd);
    std::vector<std::uint8_t> names(bytes.begin() + tableEnd, bytes.begin() + tableEnd + index.m_nameTableSize);
    if (index.m_flags & kFlagScrambled) {
        ScrambleEntries6(table);
        ScrambleNames6(names);
    }

    index.m_entries.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* raw = &table[i * kEntry6Size];
        IndexEntry& e = index.m_entries[i];
        const std::uint32_t first = ReadU32(raw);
        e.directory = (first & kDirectoryBit6) != 0;
        const std::uint32_t nameOffset = first & ~kDirectoryBit6;
        if (nameOffset >= names.size()) {
            Fail(u"a name offset leaves the name table");
            return std::nullopt;
        }
        const auto nameBegin = names.begin() + nameOffset;
        const auto nameEnd = std::find(nameBegin, names.end(), std::uint8_t{0});
        if (nameEnd == names.end()) {
            Fail(u"a name runs past the end of the name table");
            return std::nullopt;
        }
        const std::u16string name = Cp932ToUtf16(
            std::string_view(reinterpret_cast<const char*>(&*nameBegin), static_cast<std::size_t>(nameEnd - nameBegin)));
        e.nameStart = static_cast<std::uint32_t>(index.m_names.size());
        e.nameLength = static_cast<std::uint32_t>(name.size());
        index.m_names += name;
        index.m_names += u'\0';
        e.start = ReadU32(raw + 4);
        e.storedSize = ReadU32(raw + 8);
        e.third = ReadU32(raw + 12);
    }
    return index;
}

// Every folder's child range, and the root's, must lie inside the entry table.
bool SafIndex::Validate()
{
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const IndexEntry& e = m_entries[i];
        if (!e.directory && i != 0)
            continue;
        if (std::uint64_t{e.start} + e.third > m_entries.size()) {
            Fail(u"a folder's child range leaves the entry table");
            return false;
        }
    }
    return true;
}

std::u16string_view SafIndex::name(std::size_t index) const
{
    const IndexEntry& e = m_entries[index];
    return std::u16string_view(m_names).substr(e.nameStart, e.nameLength);
}

SafIndex::Range SafIndex::Children(std::uint32_t index) const
{
    const IndexEntry& e = m_entries[index];
    return {e.start, e.third};
}

std::optional<std::uint32_t> SafIndex::FindIn(Range range, std::u16string_view name) const
{
    if (name.empty())
        return std::nullopt;
    for (std::uint32_t i = range.first; i < range.first + range.count; ++i) {
        if (SameName(this->name(i), name))
            return i;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> SafIndex::Find(std::u16string_view path) const
{
    if (m_entries.empty())
        return std::nullopt;
    Range range = Children(0);
    std::size_t componentStart = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (!IsSeparator(path[i]))
            continue;
        const std::optional<std::uint32_t> found = FindIn(range, path.substr(componentStart, i - componentStart));
        if (!found || !m_entries[*found].directory)
            return std::nullopt;
        range = Children(*found);
        componentStart = i + 1;
    }
    return FindIn(range, path.substr(componentStart));
}

void SafIndex::Enumerate(std::vector<ArchiveEntryRecord>& list) const
{
    if (m_entries.empty())
        return;
    // A damaged index can make folders share or contain each other; each
    // folder is walked once, so enumeration always ends. The walk keeps its
    // own stack, so deep trees cannot exhaust the thread's.
    std::vector<bool> expanded(m_entries.size(), false);
    expanded[0] = true;
    struct Level {
        Range range;
        std::uint32_t next;
        std::u16string prefix;
    };
    std::vector<Level> stack;
    stack.push_back({Children(0), Children(0).first, u""});
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next >= level.range.first + level.range.count) {
            stack.pop_back();
            continue;
        }
        const std::uint32_t i = level.next++;
        const IndexEntry& e = m_entries[i];
        std::u16string path = level.prefix + std::u16string(name(i));
        if (!e.directory) {
            list.push_back(
                {std::move(path), e.storedSize, std::int64_t{e.start} * static_cast<std::int64_t>(kBlockSize)});
            continue;
        }
        if (expanded[i]) {
            DebugOutput(u"archive: damaged index: a folder is reached twice: " + path);
            continue;
        }
        expanded[i] = true;
        const Range children = Children(i);
        stack.push_back({children, children.first, path + u"/"}); // `level` is not used after this
    }
}

} // namespace kestrel::saf
