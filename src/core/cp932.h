// Code page 932 (Shift_JIS as Windows extends it), the encoding of every file
// the game data holds: scripts, tables, archive names, save blobs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// True for the first byte of a double-byte character: 0x81-0x9F and 0xE0-0xFC.
constexpr bool IsCp932LeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

struct ConversionReport {
    std::size_t replaced = 0; // characters that could not be converted
    bool lossless() const { return replaced == 0; }
};

// Bytes that do not form a character become U+FFFD, one per offending byte.
std::u16string Cp932ToUtf16(std::string_view bytes, ConversionReport* report = nullptr);

// Characters that code page 932 cannot hold (and unpaired surrogates) become '?'.
std::string Utf16ToCp932(std::u16string_view text, ConversionReport* report = nullptr);

} // namespace kestrel
