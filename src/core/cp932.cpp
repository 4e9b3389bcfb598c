// The only user of iconv in the engine. iconv is the authority on code page
// 932; asking it once per character builds two lookup tables, and every
// conversion after that is a table walk.
#include "core/cp932.h"

#include "core/text.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <vector>

namespace kestrel {

namespace {

constexpr const char* kNativeUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
constexpr char16_t kInvalid = 0xFFFF; // no character of code page 932 decodes to it

class Converter {
public:
    Converter(const char* to, const char* from) : m_handle(iconv_open(to, from)) {}
    ~Converter()
    {
        if (valid())
            iconv_close(m_handle);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }

    // Converts the whole input, or fails: the output's size, or -1.
    std::ptrdiff_t Convert(const void* input, std::size_t inSize, void* output, std::size_t outSize)
    {
        iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
        char* in = static_cast<char*>(const_cast<void*>(input));
        char* out = static_cast<char*>(output);
        std::size_t inLeft = inSize, outLeft = outSize;
        if (iconv(m_handle, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
            return -1;
        return static_cast<std::ptrdiff_t>(outSize - outLeft);
    }

private:
    iconv_t m_handle;
};

struct Tables {
    // Single bytes, and double bytes by lead byte (only lead bytes have rows).
    char16_t single[256];
    std::unique_ptr<char16_t[]> pairs = std::make_unique<char16_t[]>(256 * 256);
    // UTF-16 unit to its bytes (high byte first for a double byte), 0 for none.
    std::unique_ptr<std::uint16_t[]> encode = std::make_unique<std::uint16_t[]>(65536);
    bool encodesNul = false;

    Tables()
    {
        std::fill(std::begin(single), std::end(single), kInvalid);
        std::fill(pairs.get(), pairs.get() + 256 * 256, kInvalid);
        Converter decoder(kNativeUtf16, "CP932");
        Converter encoder("CP932", kNativeUtf16);
        if (!decoder.valid() || !encoder.valid()) {
            // Without a converter only ASCII survives.
            for (unsigned b = 0; b < 0x80; ++b) {
                single[b] = static_cast<char16_t>(b);
                encode[b] = static_cast<std::uint16_t>(b);
            }
            encodesNul = true;
            return;
        }
        std::vector<char16_t> decoded;
        for (unsigned b = 0; b < 256; ++b) {
            if (IsCp932LeadByte(static_cast<unsigned char>(b))) {
                for (unsigned t = 0; t < 256; ++t)
                    pairs[b * 256 + t] = DecodeOne(decoder, {static_cast<char>(b), static_cast<char>(t)});
            } else {
                single[b] = DecodeOne(decoder, {static_cast<char>(b)});
            }
        }
        // Each character is encoded the way iconv prefers, which matters for
        // the characters that several byte pairs decode to.
        const auto learn = [&](char16_t unit) {
            if (unit == kInvalid || encode[unit] != 0)
                return;
            unsigned char bytes[4];
            const std::ptrdiff_t n = encoder.Convert(&unit, sizeof unit, bytes, sizeof bytes);
            if (n == 1)
                encode[unit] = bytes[0];
            else if (n == 2)
                encode[unit] = static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
        };
        for (unsigned b = 0; b < 256; ++b)
            learn(single[b]);
        for (unsigned i = 0; i < 256 * 256; ++i)
            learn(pairs[i]);
        encodesNul = single[0] == 0;
    }

    static char16_t DecodeOne(Converter& decoder, std::initializer_list<char> bytes)
    {
        char16_t out[2];
        const std::ptrdiff_t n = decoder.Convert(bytes.begin(), bytes.size(), out, sizeof out);
        return n == static_cast<std::ptrdiff_t>(sizeof(char16_t)) ? out[0] : kInvalid;
    }
};

const Tables& TheTables()
{
    static const Tables tables;
    return tables;
}

void CountReplacement(ConversionReport* report)
{
    if (report)
        ++report->replaced;
}

} // namespace

std::u16string Cp932ToUtf16(std::string_view bytes, ConversionReport* report)
{
    const Tables& tables = TheTables();
    std::u16string out;
    out.resize(bytes.size()); // every byte yields at most one unit
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    char16_t* o = out.data();
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            *o++ = tables.single[b]; // every byte below 0x80 is a character of its own
            ++p;
            continue;
        }
        if (IsCp932LeadByte(b) && end - p >= 2) {
            const char16_t pair = tables.pairs[b * 256u + p[1]];
            if (pair != kInvalid) {
                *o++ = pair;
                p += 2;
                continue;
            }
        }
        // A lead byte with a trail that is no trail, cut off at the end, or a
        // byte that starts nothing: one replacement, and the next byte is
        // read on its own (so an ASCII trail byte survives).
        const char16_t unit = IsCp932LeadByte(b) ? kInvalid : tables.single[b];
        if (unit == kInvalid) {
            *o++ = static_cast<char16_t>(kReplacementCharacter);
            CountReplacement(report);
        } else {
            *o++ = unit;
        }
        ++p;
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::string Utf16ToCp932(std::u16string_view text, ConversionReport* report)
{
    const Tables& tables = TheTables();
    std::string out;
    out.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit == 0 && tables.encodesNul) {
            out += '\0';
            continue;
        }
        const std::uint16_t code = (unit >= 0xD800 && unit <= 0xDFFF) ? 0 : tables.encode[unit];
        if (code == 0) {
            // A surrogate pair is one character and gives one '?'.
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF)
                ++i;
            out += '?';
            CountReplacement(report);
        } else if (code < 0x100) {
            out += static_cast<char>(code);
        } else {
            out += static_cast<char>(code >> 8);
            out += static_cast<char>(code & 0xFF);
        }
    }
    return out;
}

} // namespace kestrel
