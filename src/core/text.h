// UTF-16 is the in-memory text of the whole engine; these helpers walk it,
// measure it and convert it to and from UTF-8 (logs, tools, file names).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Writes one code point as one unit or a surrogate pair; returns the number of
// units written (1 or 2). Code points above U+10FFFF and lone surrogate code
// points are written as U+FFFD.
int EncodeUtf16(char16_t* out, char32_t codePoint);

// Reads one code point from `text`. A high surrogate followed by a low
// surrogate combines into one code point; any other unit stands for itself.
// `unitsAvailable` < 0 means the text is unlimited. Returns the position after
// the code point, or null when no unit is available.
const char16_t* DecodeUtf16(const char16_t* text, std::ptrdiff_t unitsAvailable, char32_t* codePoint);

// Display width in half-width units, up to the first NUL: code points 1-255
// and the half-width katakana U+FF61-U+FF9F count 1, everything else 2.
int TextWidthUnits(const char16_t* text);
int TextWidthUnits(std::u16string_view text);

// Unpaired surrogates become U+FFFD; invalid UTF-8 sequences become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// The part of `text` that fits a fixed buffer of `maxUnits` units with its
// terminator: at most maxUnits - 1 units, never half a surrogate pair.
std::u16string_view TruncateUtf16(std::u16string_view text, std::size_t maxUnits);

} // namespace kestrel
