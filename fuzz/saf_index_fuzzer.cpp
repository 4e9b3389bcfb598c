// The archive index loaders with path lookups and enumeration: the first byte
// of the input picks the version, the rest is the archive's index.
#include "archive/saf_index.h"
#include "quiet.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kestrel::fuzz::QuietReports();
    if (size < 1)
        return 0;
    const std::uint8_t version = (data[0] & 1) ? 6 : 5;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    const auto index = kestrel::saf::SafIndex::Parse(bytes, version);
    if (!index)
        return 0;
    std::vector<kestrel::ArchiveEntryRecord> list;
    index->Enumerate(list);
    for (const auto& record : list)
        index->Find(record.path);
    for (const char16_t* path : {u"a", u"bgm/title.ogg", u"A/B\\c", u"/x", u"x//y", u""})
        index->Find(path);
    return 0;
}
