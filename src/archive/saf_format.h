// The SAF file layout shared by the reader and the writer (docs/formats/saf.md
// describes it in full).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrel::saf {

inline constexpr std::size_t kBlockSize = 2048;

inline constexpr std::uint8_t kVersion5 = 5;
inline constexpr std::uint8_t kVersion6 = 6;

inline constexpr std::uint8_t kFlagScrambled = 0x01;
inline constexpr std::uint8_t kFlagEgg = 0x02; // version 6 only

inline constexpr std::size_t kHeader5Size = 4;
inline constexpr std::size_t kEntry5Size = 32;
inline constexpr std::size_t kName5Size = 20;
inline constexpr std::size_t kHeader6Size = 8;
inline constexpr std::size_t kEntry6Size = 16;

inline constexpr std::uint32_t kDirectoryBit6 = 0x80000000u;
inline constexpr std::uint8_t kDirectoryBit5 = 0x80; // in byte 0 of the name

inline constexpr std::size_t kMaxEntries = 0xFFFF;

// The one-byte bases of the index scrambling.
inline constexpr std::uint8_t kBase5 = 0xA7;
inline constexpr std::uint8_t kBase6 = 0x3C;
inline constexpr std::uint8_t kBaseNames = 0xD1;

// Scrambling is an XOR, so each of these both scrambles and unscrambles.
// Version 5: byte k of the entry table with base5 + (k mod 60).
inline void ScrambleEntries5(std::span<std::uint8_t> table)
{
    for (std::size_t k = 0; k < table.size(); ++k)
        table[k] ^= static_cast<std::uint8_t>(kBase5 + k % 60);
}

// Version 6: byte j of every 16-byte entry with base6 + j.
inline void ScrambleEntries6(std::span<std::uint8_t> table)
{
    for (std::size_t k = 0; k < table.size(); ++k)
        table[k] ^= static_cast<std::uint8_t>(kBase6 + k % kEntry6Size);
}

// Version 6 name table: byte k with baseN - (k mod 256).
inline void ScrambleNames6(std::span<std::uint8_t> names)
{
    for (std::size_t k = 0; k < names.size(); ++k)
        names[k] ^= static_cast<std::uint8_t>(kBaseNames - k % 256);
}

inline std::uint16_t ReadU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t ReadU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void WriteU16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void WriteU32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace kestrel::saf
