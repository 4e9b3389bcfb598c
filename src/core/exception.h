// The engine's exception types.
//
// ExceptionHandleT is the application-wide failure (and, with Type 1, the
// orderly quit); ScriptException unwinds a running scenario for menu
// requests; ScriptError and ScriptError2 are script compile and run-time
// errors. All are thrown by value and caught by reference; none allocates
// when copied, so throwing cannot fail on the way.
#pragma once

#include "core/format.h"
#include "core/text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

namespace kestrel {

template <class Char>
class ExceptionHandleT {
public:
    static constexpr std::size_t kTextUnits = 256;
    // Type 1 is the orderly quit: it unwinds like an error but is never reported.
    static constexpr std::int32_t kTypeQuit = 1;

    ExceptionHandleT() = default;
    ExceptionHandleT(std::basic_string_view<Char> source, std::int32_t line, std::basic_string_view<Char> message,
        std::int32_t type = 0, const void* ptr = nullptr)
        : m_line(line), m_ptr(ptr), m_type(type)
    {
        Store(m_source, source);
        Store(m_message, message);
    }

    std::basic_string_view<Char> Source() const { return m_source.data(); }
    std::int32_t Line() const { return m_line; }
    const void* Ptr() const { return m_ptr; }
    std::basic_string_view<Char> Message() const { return m_message.data(); }
    std::int32_t Type() const { return m_type; }
    bool IsQuit() const { return m_type == kTypeQuit; }

private:
    using Text = std::array<Char, kTextUnits>;

    static void Store(Text& field, std::basic_string_view<Char> text)
    {
        std::basic_string_view<Char> kept = text.substr(0, kTextUnits - 1);
        if constexpr (sizeof(Char) == 2)
            kept = TruncateUtf16(text, kTextUnits);
        std::copy(kept.begin(), kept.end(), field.begin());
        field[kept.size()] = 0;
    }

    Text m_source{};
    std::int32_t m_line = 0;
    const void* m_ptr = nullptr;
    Text m_message{};
    std::int32_t m_type = 0;
};

using ExceptionHandle = ExceptionHandleT<char16_t>;

// Where a throw happens: the source name the reports show ("main", "misc",
// "script/scr_gui" ...) and the line, taken from the call site.
struct ThrowSite {
    // __builtin_LINE is what std::source_location is built on; clang 14 with
    // this C++ library has the builtin but not the class.
    ThrowSite(const char16_t* sourceName, std::int32_t callerLine = __builtin_LINE())
        : source(sourceName), line(callerLine)
    {
    }
    std::u16string_view source;
    std::int32_t line;
};

// Throws ExceptionHandle with the message formatted printf-style (256 units).
template <class... Args>
[[noreturn]] void ThrowException(ThrowSite site, std::u16string_view format, const Args&... args)
{
    throw ExceptionHandle(site.source, site.line, FormatLimited(ExceptionHandle::kTextUnits, format, args...));
}

// The same with a type (ExceptionHandle::kTypeQuit for the orderly quit).
template <class... Args>
[[noreturn]] void ThrowExceptionOfType(std::int32_t type, ThrowSite site, std::u16string_view format,
    const Args&... args)
{
    throw ExceptionHandle(site.source, site.line, FormatLimited(ExceptionHandle::kTextUnits, format, args...), type);
}

// Unwinds a running scenario to the runtime.
class ScriptException {
public:
    enum Code : std::int32_t { ReturnToTitle = 0, LoadSlot = 1, GoBack = 2, RedrawText = 3 };
    explicit ScriptException(std::int32_t code) : m_code(code) {}
    std::int32_t Code() const { return m_code; }

private:
    std::int32_t m_code;
};

// A script error named by a code from a fixed table.
class ScriptError {
public:
    ScriptError(std::int32_t line, std::int32_t code) : m_line(line), m_code(code) {}
    std::int32_t Line() const { return m_line; }
    std::int32_t Code() const { return m_code; }
    void SetLine(std::int32_t line) { m_line = line; }
    // The code's text, e.g. "0004: ラベルが定義されていません"; empty for an unknown code.
    std::u16string_view Text() const;

private:
    std::int32_t m_line;
    std::int32_t m_code;
};

// The text of a ScriptError code; empty for an unknown code.
std::u16string_view ScriptErrorText(std::int32_t code);

// A script error with its own message (up to 1024 units with the terminator).
class ScriptError2 {
public:
    static constexpr std::size_t kMessageUnits = 1024;

    ScriptError2(std::int32_t line, std::u16string_view message) : m_line(line)
    {
        const std::u16string_view kept = TruncateUtf16(message, kMessageUnits);
        std::copy(kept.begin(), kept.end(), m_message.begin());
        m_message[kept.size()] = 0;
    }
    std::int32_t Line() const { return m_line; }
    void SetLine(std::int32_t line) { m_line = line; }
    std::u16string_view Message() const { return m_message.data(); }

private:
    std::int32_t m_line;
    std::array<char16_t, kMessageUnits> m_message{};
};

} // namespace kestrel
