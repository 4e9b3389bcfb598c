// Byte-exact SAF images for the reader tests, including damaged ones that no
// packer would write.
#pragma once

#include "archive/saf_format.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kestrel::test {

struct RawEntry {
    std::string name; // code page 932 bytes
    bool directory = false;
    std::uint32_t start = 0;
    std::uint32_t storedSize = 0;
    std::uint32_t third = 0;
};

inline std::vector<std::uint8_t> RawSaf5(std::uint8_t flags, const std::vector<RawEntry>& entries)
{
    std::vector<std::uint8_t> out(saf::kHeader5Size + entries.size() * saf::kEntry5Size, 0);
    out[0] = flags;
    out[1] = 5;
    saf::WriteU16(&out[2], static_cast<std::uint16_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::uint8_t* e = &out[saf::kHeader5Size + i * saf::kEntry5Size];
        for (std::size_t k = 0; k < entries[i].name.size() && k < 20; ++k)
            e[k] = static_cast<std::uint8_t>(entries[i].name[k]);
        if (entries[i].directory)
            e[0] |= 0x80;
        saf::WriteU32(e + 20, entries[i].start);
        saf::WriteU32(e + 24, entries[i].storedSize);
        saf::WriteU32(e + 28, entries[i].third);
    }
    if (flags & saf::kFlagScrambled)
        saf::ScrambleEntries5(std::span(out).subspan(saf::kHeader5Size));
    return out;
}

inline std::vector<std::uint8_t> RawSaf6(std::uint8_t flags, const std::vector<RawEntry>& entries)
{
    std::vector<std::uint8_t> names;
    std::vector<std::uint32_t> offsets;
    for (const RawEntry& e : entries) {
        offsets.push_back(static_cast<std::uint32_t>(names.size()));
        names.insert(names.end(), e.name.begin(), e.name.end());
        names.push_back(0);
    }
    const std::size_t tableEnd = saf::kHeader6Size + entries.size() * saf::kEntry6Size;
    std::vector<std::uint8_t> out(tableEnd, 0);
    out[0] = flags;
    out[1] = 6;
    saf::WriteU16(&out[2], static_cast<std::uint16_t>(entries.size()));
    saf::WriteU32(&out[4], static_cast<std::uint32_t>(names.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::uint8_t* e = &out[saf::kHeader6Size + i * saf::kEntry6Size];
        saf::WriteU32(e, offsets[i] | (entries[i].directory ? saf::kDirectoryBit6 : 0));
        saf::WriteU32(e + 4, entries[i].start);
        saf::WriteU32(e + 8, entries[i].storedSize);
        saf::WriteU32(e + 12, entries[i].third);
    }
    out.insert(out.end(), names.begin(), names.end());
    if (flags & saf::kFlagScrambled) {
        saf::ScrambleEntries6(std::span(out).subspan(saf::kHeader6Size, tableEnd - saf::kHeader6Size));
        saf::ScrambleNames6(std::span(out).subspan(tableEnd));
    }
    return out;
}

// Puts `data` at block `block` of the image, growing it as needed.
inline void PlaceData(std::vector<std::uint8_t>& image, std::uint32_t block, const std::vector<std::uint8_t>& data)
{
    const std::size_t at = std::size_t{block} * saf::kBlockSize;
    if (image.size() < at + data.size())
        image.resize(at + data.size(), 0);
    std::copy(data.begin(), data.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

inline std::vector<std::uint8_t> Bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
        static_cast<std::streamsize>(bytes.size()));
}

// A fresh folder under the temporary directory, removed afterwards.
class TempFolder {
public:
    explicit TempFolder(const std::string& name)
        : m_path(std::filesystem::temp_directory_path() / ("kestrel_" + name))
    {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TempFolder() { std::filesystem::remove_all(m_path); }
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

} // namespace kestrel::test
