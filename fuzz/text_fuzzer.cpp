// Code page 932 and UTF-8 text from game data and file names: conversion must
// never read outside the input, and what comes back out must convert again.
#include "core/cp932.h"
#include "core/text.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::u16string text = kestrel::Cp932ToUtf16(bytes);
    if (text.size() > size)
        std::abort(); // one byte never makes two units
    const std::string back = kestrel::Utf16ToCp932(text);
    kestrel::TextWidthUnits(std::u16string_view(text));
    const std::u16string fromUtf8 = kestrel::Utf8ToUtf16(bytes);
    if (kestrel::Utf8ToUtf16(kestrel::Utf16ToUtf8(fromUtf8)) != fromUtf8)
        std::abort(); // repaired UTF-8 is valid UTF-8
    return 0;
}
