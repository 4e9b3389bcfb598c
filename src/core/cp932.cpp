// The only user of iconv in the engine.
#include "core/cp932.h"

#include "core/text.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace kestrel {

namespace {

constexpr const char* kNativeUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// One converter per thread and direction: iconv descriptors carry state, and
// the sound thread converts names while the main thread converts scripts.
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

    // Converts as much as it can; returns the errno of the stop (0 when done).
    int Convert(const char*& in, std::size_t& inLeft, char*& out, std::size_t& outLeft)
    {
        iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
        const std::size_t result = iconv(m_handle, const_cast<char**>(&in), &inLeft, &out, &outLeft);
        return result == static_cast<std::size_t>(-1) ? errno : 0;
    }

private:
    iconv_t m_handle;
};

Converter& DecoderFromCp932()
{
    thread_local Converter converter(kNativeUtf16, "CP932");
    return converter;
}

Converter& EncoderToCp932()
{
    thread_local Converter converter("CP932", kNativeUtf16);
    return converter;
}

void CountReplacement(ConversionReport* report)
{
    if (report)
        ++report->replaced;
}

} // namespace

std::u16string Cp932ToUtf16(std::string_view bytes, ConversionReport* report)
{
    std::u16string out;
    if (bytes.empty())
        return out;
    Converter& converter = DecoderFromCp932();
    // Every byte yields at most one unit.
    out.resize(bytes.size());
    const char* in = bytes.data();
    std::size_t inLeft = bytes.size();
    char* outBytes = reinterpret_cast<char*>(out.data());
    std::size_t outLeft = out.size() * sizeof(char16_t);
    while (inLeft > 0) {
        if (!converter.valid()) {
            // No converter at all: keep ASCII, replace the rest.
            for (; inLeft > 0; ++in, --inLeft) {
                const auto byte = static_cast<unsigned char>(*in);
                const char16_t unit = byte < 0x80 ? byte : static_cast<char16_t>(kReplacementCharacter);
                if (byte >= 0x80)
                    CountReplacement(report);
                std::memcpy(outBytes, &unit, sizeof unit);
                outBytes += sizeof unit, outLeft -= sizeof unit;
            }
            break;
        }
        const int error = converter.Convert(in, inLeft, outBytes, outLeft);
        if (error == 0)
            break;
        if (error != EILSEQ && error != EINVAL)
            break;
        // A byte that starts no character, a lead byte with a bad trail, or a
        // lead byte cut off at the end: replace one byte and go on, so that an
        // ASCII trail byte still comes through.
        const char16_t unit = static_cast<char16_t>(kReplacementCharacter);
        std::memcpy(outBytes, &unit, sizeof unit);
        outBytes += sizeof unit, outLeft -= sizeof unit;
        ++in, --inLeft;
        CountReplacement(report);
    }
    out.resize((out.size() * sizeof(char16_t) - outLeft) / sizeof(char16_t));
    return out;
}

std::string Utf16ToCp932(std::u16string_view text, ConversionReport* report)
{
    std::string out;
    if (text.empty())
        return out;
    Converter& converter = EncoderToCp932();
    // Every unit yields at most two bytes.
    out.resize(text.size() * 2);
    const char* in = reinterpret_cast<const char*>(text.data());
    std::size_t inLeft = text.size() * sizeof(char16_t);
    char* outBytes = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        int error = converter.valid() ? converter.Convert(in, inLeft, outBytes, outLeft) : EILSEQ;
        if (error == 0)
            break;
        if (error != EILSEQ && error != EINVAL)
            break;
        // Skip one whole character: a surrogate pair counts as one.
        std::size_t skip = sizeof(char16_t);
        char16_t first = 0;
        std::memcpy(&first, in, sizeof first);
        if (first >= 0xD800 && first <= 0xDBFF && inLeft >= 2 * sizeof(char16_t)) {
            char16_t second = 0;
            std::memcpy(&second, in + sizeof first, sizeof second);
            if (second >= 0xDC00 && second <= 0xDFFF)
                skip = 2 * sizeof(char16_t);
        }
        if (!converter.valid() && first < 0x80) {
            *outBytes++ = static_cast<char>(first);
            --outLeft;
        } else {
            *outBytes++ = '?';
            --outLeft;
            CountReplacement(report);
        }
        in += skip, inLeft -= skip;
    }
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace kestrel
