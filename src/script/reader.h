// The byte reader under the script lexer and the iv.txt reader: one byte at
// a time from a buffer, with a small pushback stack and a line counter.
//
// "\r\n", a lone "\r" and a lone "\n" each read as one newline ('\n'), and
// every newline read counts a line (every one pushed back uncounts it). A
// NUL byte, or the end of the buffer, reads as 0 (end of input) and stays
// there. A buffer whose first byte is 0 starts with a 128-byte header that
// is skipped.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace TextScript {

class CharReader {
public:
    static constexpr std::size_t kHeaderSize = 128;

    void Reset(std::span<const std::uint8_t> source);

    // The next byte (0 at the end of input).
    int Read();
    // Returns a byte to the input; it is read again before any other.
    void PushBack(int byte);
    // Reads spaces and tabs and pushes back the first other byte.
    void SkipBlanks();
    // Reads digits 0-9 and pushes back the first other byte.
    std::string ReadNumber();
    // Reads digits, ASCII letters, '_' and '@' and pushes back the first other byte.
    std::string ReadIdentifier();

    std::int32_t Line() const { return m_line; }

private:
    static constexpr std::size_t kPushbackDepth = 4;

    const std::uint8_t* m_cursor = nullptr;
    const std::uint8_t* m_end = nullptr;
    std::array<int, kPushbackDepth> m_pushback{0xFF, 0xFF, 0xFF, 0xFF};
    std::int32_t m_pushCount = 0;
    std::int32_t m_line = 1;
};

bool IsDigit(int c);
bool IsAsciiLetter(int c);
bool IsIdentifierByte(int c);

} // namespace TextScript
