// printf-style formatting into UTF-16 text.
//
// The engine's messages are written with Windows wide-printf conventions:
// "%s" is a UTF-16 string, "%hs" a narrow (code page 932) string, "%ls" a
// UTF-16 string again, "%d"/"%u"/"%x"/"%p"/"%f"/"%c" as usual. Arguments are
// captured with their types, so a mismatch prints a marker instead of reading
// the wrong thing off the stack.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrel {

class FormatArg {
public:
    enum class Kind { Signed, Unsigned, Double, Wide, Narrow, Pointer, WideChar };

    template <std::signed_integral T>
        requires(!std::same_as<T, char>)
    FormatArg(T v) : m_kind(Kind::Signed), m_signed(v) {}
    template <std::unsigned_integral T>
        requires(!std::same_as<T, char16_t> && !std::same_as<T, bool>)
    FormatArg(T v) : m_kind(Kind::Unsigned), m_unsigned(v) {}
    FormatArg(bool v) : m_kind(Kind::Signed), m_signed(v ? 1 : 0) {}
    FormatArg(char v) : m_kind(Kind::Signed), m_signed(static_cast<unsigned char>(v)) {}
    FormatArg(char16_t v) : m_kind(Kind::WideChar), m_unsigned(v) {}
    template <std::floating_point T>
    FormatArg(T v) : m_kind(Kind::Double), m_double(static_cast<double>(v)) {}
    FormatArg(const char16_t* s) : m_kind(Kind::Wide), m_wide(s ? std::u16string_view(s) : std::u16string_view(u"(null)")) {}
    FormatArg(std::u16string_view s) : m_kind(Kind::Wide), m_wide(s) {}
    FormatArg(const std::u16string& s) : m_kind(Kind::Wide), m_wide(s) {}
    FormatArg(const char* s) : m_kind(Kind::Narrow), m_narrow(s ? std::string_view(s) : std::string_view("(null)")) {}
    FormatArg(std::string_view s) : m_kind(Kind::Narrow), m_narrow(s) {}
    FormatArg(const std::string& s) : m_kind(Kind::Narrow), m_narrow(s) {}
    FormatArg(const void* p) : m_kind(Kind::Pointer), m_unsigned(reinterpret_cast<std::uintptr_t>(p)) {}
    FormatArg(std::nullptr_t) : m_kind(Kind::Pointer), m_unsigned(0) {}

    Kind kind() const { return m_kind; }
    std::int64_t AsSigned() const;
    std::uint64_t AsUnsigned() const;
    double AsDouble() const;
    std::u16string_view wide() const { return m_wide; }
    std::string_view narrow() const { return m_narrow; }

private:
    Kind m_kind;
    union {
        std::int64_t m_signed;
        std::uint64_t m_unsigned;
        double m_double;
    };
    std::u16string_view m_wide;
    std::string_view m_narrow;
};

// Formats `format` with `args`; the result holds at most `maxUnits` - 1 units
// (as a fixed buffer of `maxUnits` would, with its terminator), never ending
// in the middle of a surrogate pair. maxUnits 0 means no limit.
std::u16string FormatArgs(std::u16string_view format, std::span<const FormatArg> args, std::size_t maxUnits = 0);

template <class... Args>
std::u16string Format(std::u16string_view format, const Args&... args)
{
    const std::array<FormatArg, sizeof...(Args)> packed{FormatArg(args)...};
    return FormatArgs(format, packed);
}

template <class... Args>
std::u16string FormatLimited(std::size_t maxUnits, std::u16string_view format, const Args&... args)
{
    const std::array<FormatArg, sizeof...(Args)> packed{FormatArg(args)...};
    return FormatArgs(format, packed, maxUnits);
}

} // namespace kestrel
