// The egg method: an LZSS variant with a 4096-byte ring, 18-byte look-ahead
// and matches of 3 to 18 bytes. The ring starts as 4078 zero bytes with the
// write position at 4078.
//
// Stream: a flag byte announces the next eight items, least significant bit
// first; bit 1 is a literal byte, bit 0 a pair b0 b1 naming ring position
// b0 | (b1 & 0xF0) << 4 and length (b1 & 0x0F) + 3.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kestrel {

inline constexpr std::size_t kEggRingSize = 4096;
inline constexpr std::size_t kEggMaxMatch = 18;
inline constexpr std::size_t kEggMinMatch = 3;
inline constexpr std::size_t kEggStartPosition = kEggRingSize - kEggMaxMatch; // 4078

// Decodes `input` into `output`, stopping when the input runs out or the
// output is full; returns the number of bytes written. The ring belongs to
// this call alone, so decodes on several threads never meet.
std::size_t EggDecode(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);

// Encodes `input` so that EggDecode gives it back exactly.
std::vector<std::uint8_t> EggEncode(std::span<const std::uint8_t> input);

// The most bytes that `storedSize` bytes of egg input can produce: every
// flag byte followed by eight pairs of 18 bytes.
std::uint64_t EggMaxUnpackedSize(std::uint64_t storedSize);

} // namespace kestrel
