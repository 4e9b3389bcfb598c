#include "core/text.h"

namespace kestrel {

namespace {

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool IsSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

int EncodeUtf16(char16_t* out, char32_t codePoint)
{
    if (codePoint > 0x10FFFF || IsSurrogate(codePoint))
        codePoint = kReplacementCharacter;
    if (codePoint < 0x10000) {
        out[0] = static_cast<char16_t>(codePoint);
        return 1;
    }
    out[0] = static_cast<char16_t>((codePoint >> 10) - 10304);
    out[1] = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    return 2;
}

const char16_t* DecodeUtf16(const char16_t* text, std::ptrdiff_t unitsAvailable, char32_t* codePoint)
{
    if (unitsAvailable == 0)
        return nullptr;
    const char32_t first = text[0];
    // The second unit is read only when it is known to exist (unlimited text
    // is NUL-terminated, and a NUL is never a low surrogate).
    if (IsHighSurrogate(first) && (unitsAvailable < 0 || unitsAvailable >= 2) && IsLowSurrogate(text[1])) {
        *codePoint = ((first - 0xD7C0) << 10) | (static_cast<char32_t>(text[1]) - 0xDC00);
        return text + 2;
    }
    *codePoint = first;
    return text + 1;
}

int TextWidthUnits(std::u16string_view text)
{
    int width = 0;
    const char16_t* p = text.data();
    const char16_t* end = p + text.size();
    while (p < end && *p != 0) {
        char32_t cp = 0;
        p = DecodeUtf16(p, end - p, &cp);
        const bool halfWidth = (cp >= 1 && cp <= 255) || (cp >= 0xFF61 && cp <= 0xFF9F);
        width += halfWidth ? 1 : 2;
    }
    return width;
}

int TextWidthUnits(const char16_t* text)
{
    return text ? TextWidthUnits(std::u16string_view(text)) : 0;
}

std::string Utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (IsHighSurrogate(cp) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if (IsSurrogate(cp)) {
            cp = kReplacementCharacter;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char lead = *p;
        int length = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            length = 1, cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, cp = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, cp = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, cp = lead & 0x07, minimum = 0x10000;
        }
        bool valid = length > 0 && end - p >= length;
        for (int k = 1; valid && k < length; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                valid = false;
            else
                cp = (cp << 6) | (p[k] & 0x3F);
        }
        if (valid && (cp < minimum || cp > 0x10FFFF || IsSurrogate(cp)))
            valid = false;
        if (!valid) {
            // Skip the lead byte only, so that a following valid sequence survives.
            out += static_cast<char16_t>(kReplacementCharacter);
            ++p;
            continue;
        }
        char16_t units[2];
        out.append(units, EncodeUtf16(units, cp));
        p += length;
    }
    return out;
}

std::u16string_view TruncateUtf16(std::u16string_view text, std::size_t maxUnits)
{
    if (maxUnits == 0)
        return {};
    if (text.size() < maxUnits)
        return text;
    std::size_t keep = maxUnits - 1;
    if (keep > 0 && IsHighSurrogate(text[keep - 1]))
        --keep;
    return text.substr(0, keep);
}

} // namespace kestrel
