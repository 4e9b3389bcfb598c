#include "core/format.h"

#include "core/cp932.h"
#include "core/text.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

namespace kestrel {

std::int64_t FormatArg::AsSigned() const
{
    switch (m_kind) {
    case Kind::Signed:
        return m_signed;
    case Kind::Double:
        return static_cast<std::int64_t>(m_double);
    default:
        return static_cast<std::int64_t>(m_unsigned);
    }
}

std::uint64_t FormatArg::AsUnsigned() const
{
    switch (m_kind) {
    case Kind::Signed:
        return static_cast<std::uint64_t>(m_signed);
    case Kind::Double:
        return static_cast<std::uint64_t>(m_double);
    default:
        return m_unsigned;
    }
}

double FormatArg::AsDouble() const
{
    switch (m_kind) {
    case Kind::Signed:
        return static_cast<double>(m_signed);
    case Kind::Double:
        return m_double;
    default:
        return static_cast<double>(m_unsigned);
    }
}

namespace {

// Widths and precisions beyond this are clamped, so that a hostile format
// cannot ask for gigabytes of padding.
constexpr int kMaxCount = 4096;

struct Directive {
    std::string flags;
    int width = -1;
    int precision = -1;
    enum class Size { Default, Short, Long } size = Size::Default;
    char16_t conversion = 0;
};

bool IsNumeric(FormatArg::Kind k)
{
    return k == FormatArg::Kind::Signed || k == FormatArg::Kind::Unsigned || k == FormatArg::Kind::Double ||
        k == FormatArg::Kind::Pointer || k == FormatArg::Kind::WideChar;
}

class Formatter {
public:
    Formatter(std::u16string_view format, std::span<const FormatArg> args) : m_format(format), m_args(args) {}

    std::u16string Run()
    {
        std::size_t i = 0;
        while (i < m_format.size()) {
            const char16_t c = m_format[i++];
            if (c != u'%') {
                m_out += c;
                continue;
            }
            Directive directive;
            if (!ParseDirective(i, directive)) {
                m_out += u'%'; // A lone or malformed '%' is copied as it stands.
                continue;
            }
            Emit(directive);
        }
        return std::move(m_out);
    }

private:
    bool ParseDirective(std::size_t& i, Directive& directive)
    {
        std::size_t p = i;
        auto peek = [&]() -> char16_t { return p < m_format.size() ? m_format[p] : 0; };
        while (peek() == u'-' || peek() == u'+' || peek() == u' ' || peek() == u'#' || peek() == u'0')
            directive.flags += static_cast<char>(m_format[p++]);
        directive.width = ParseCount(p);
        if (peek() == u'.') {
            ++p;
            directive.precision = ParseCount(p);
            if (directive.precision < 0)
                directive.precision = 0;
        }
        // Size prefixes: h, hh, l, ll, L, z, j, t, I64, I32, w.
        for (;;) {
            const char16_t c = peek();
            if (c == u'h') {
                directive.size = Directive::Size::Short, ++p;
            } else if (c == u'l' || c == u'w') {
                directive.size = Directive::Size::Long, ++p;
            } else if (c == u'L' || c == u'z' || c == u'j' || c == u't' || c == u'q') {
                ++p;
            } else if (c == u'I' && m_format.substr(p, 3) == u"I64") {
                p += 3;
            } else if (c == u'I' && m_format.substr(p, 3) == u"I32") {
                p += 3;
            } else {
                break;
            }
        }
        directive.conversion = peek();
        if (directive.conversion == 0)
            return false;
        ++p;
        i = p;
        return true;
    }

    // A decimal count or '*' (taken from the arguments); -1 when absent.
    int ParseCount(std::size_t& p)
    {
        if (p < m_format.size() && m_format[p] == u'*') {
            ++p;
            const FormatArg* arg = Next();
            if (!arg)
                return -1;
            const std::int64_t v = arg->AsSigned();
            return v < 0 ? -1 : static_cast<int>(std::min<std::int64_t>(v, kMaxCount));
        }
        int value = -1;
        while (p < m_format.size() && m_format[p] >= u'0' && m_format[p] <= u'9') {
            value = (value < 0 ? 0 : value);
            value = std::min(value * 10 + (m_format[p] - u'0'), kMaxCount);
            ++p;
        }
        return value;
    }

    const FormatArg* Next()
    {
        return m_next < m_args.size() ? &m_args[m_next++] : nullptr;
    }

    void Emit(const Directive& directive)
    {
        if (directive.conversion == u'%') {
            m_out += u'%';
            return;
        }
        const FormatArg* arg = Next();
        switch (directive.conversion) {
        case u's':
        case u'S':
            EmitString(directive, arg);
            return;
        case u'c':
        case u'C':
            EmitChar(directive, arg);
            return;
        case u'd':
        case u'i':
        case u'u':
        case u'x':
        case u'X':
        case u'o':
        case u'p':
        case u'f':
        case u'F':
        case u'e':
        case u'E':
        case u'g':
        case u'G':
        case u'a':
        case u'A':
            EmitNumber(directive, arg);
            return;
        default:
            // Unknown conversion: copy it so that the reader sees the mistake.
            m_out += u'%';
            m_out += directive.conversion;
            return;
        }
    }

    void Pad(const Directive& directive, std::u16string_view text)
    {
        const std::size_t width = directive.width > 0 ? static_cast<std::size_t>(directive.width) : 0;
        const bool left = directive.flags.find('-') != std::string::npos;
        const std::size_t fill = width > text.size() ? width - text.size() : 0;
        if (!left)
            m_out.append(fill, u' ');
        m_out += text;
        if (left)
            m_out.append(fill, u' ');
    }

    void EmitString(const Directive& directive, const FormatArg* arg)
    {
        if (!arg) {
            Pad(directive, u"(missing)");
            return;
        }
        std::u16string converted;
        std::u16string_view text;
        switch (arg->kind()) {
        case FormatArg::Kind::Wide:
            text = arg->wide();
            break;
        case FormatArg::Kind::Narrow:
            // Narrow text is in the system code page, as %hs is on the target systems.
            converted = Cp932ToUtf16(arg->narrow());
            text = converted;
            break;
        default:
            Pad(directive, u"(bad string)");
            return;
        }
        if (directive.precision >= 0 && text.size() > static_cast<std::size_t>(directive.precision))
            text = TruncateUtf16(text, static_cast<std::size_t>(directive.precision) + 1);
        Pad(directive, text);
    }

    void EmitChar(const Directive& directive, const FormatArg* arg)
    {
        if (!arg || !IsNumeric(arg->kind())) {
            Pad(directive, u"?");
            return;
        }
        char16_t units[2];
        const int count = EncodeUtf16(units, static_cast<char32_t>(arg->AsUnsigned() & 0x1FFFFF));
        Pad(directive, std::u16string_view(units, count));
    }

    void EmitNumber(const Directive& directive, const FormatArg* arg)
    {
        if (!arg || !IsNumeric(arg->kind())) {
            Pad(directive, arg ? u"(bad number)" : u"(missing)");
            return;
        }
        std::string narrowFormat = "%" + directive.flags;
        if (directive.width >= 0)
            narrowFormat += std::to_string(directive.width);
        if (directive.precision >= 0) {
            narrowFormat += '.'; // appended: GCC 12 warns falsely on "." + string in release builds
            narrowFormat += std::to_string(directive.precision);
        }
        char buffer[512];
        int written = 0;
        const char conv = static_cast<char>(directive.conversion);
        switch (directive.conversion) {
        case u'd':
        case u'i': {
            // 'h' narrows to 16 bits as the C library does; other values print whole.
            long long v = arg->AsSigned();
            if (directive.size == Directive::Size::Short)
                v = static_cast<short>(v);
            written = std::snprintf(buffer, sizeof buffer, (narrowFormat + "lld").c_str(), v);
            break;
        }
        case u'u':
        case u'x':
        case u'X':
        case u'o': {
            unsigned long long v = arg->AsUnsigned();
            if (directive.size == Directive::Size::Short)
                v = static_cast<unsigned short>(v);
            else if (arg->kind() == FormatArg::Kind::Signed && arg->AsSigned() < 0 && arg->AsSigned() >= INT32_MIN)
                v = static_cast<std::uint32_t>(arg->AsSigned()); // -1 prints as FFFFFFFF, as a 32-bit int does
            written = std::snprintf(buffer, sizeof buffer, (narrowFormat + "ll" + conv).c_str(), v);
            break;
        }
        case u'p': {
            // Pointers print as fixed-width upper-case hex, as on Windows.
            written = std::snprintf(buffer, sizeof buffer, "%0*llX", static_cast<int>(sizeof(void*) * 2),
                static_cast<unsigned long long>(arg->AsUnsigned()));
            break;
        }
        default:
            written = std::snprintf(buffer, sizeof buffer, (narrowFormat + conv).c_str(), arg->AsDouble());
            break;
        }
        if (written < 0)
            return;
        const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(written), sizeof buffer - 1);
        if (directive.conversion == u'p') {
            Pad(directive, std::u16string(buffer, buffer + length));
            return;
        }
        for (std::size_t k = 0; k < length; ++k)
            m_out += static_cast<char16_t>(static_cast<unsigned char>(buffer[k]));
    }

    std::u16string_view m_format;
    std::span<const FormatArg> m_args;
    std::size_t m_next = 0;
    std::u16string m_out;
};

} // namespace

std::u16string FormatArgs(std::u16string_view format, std::span<const FormatArg> args, std::size_t maxUnits)
{
    std::u16string out = Formatter(format, args).Run();
    if (maxUnits > 0 && out.size() >= maxUnits)
        out.resize(TruncateUtf16(out, maxUnits).size());
    return out;
}

} // namespace kestrel
