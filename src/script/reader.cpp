#include "script/reader.h"

#include "core/report.h"

namespace TextScript {

bool IsDigit(int c)
{
    return c >= '0' && c <= '9';
}

bool IsAsciiLetter(int c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsIdentifierByte(int c)
{
    return IsDigit(c) || IsAsciiLetter(c) || c == '_' || c == '@';
}

void CharReader::Reset(std::span<const std::uint8_t> source)
{
    m_cursor = source.data();
    m_end = source.data() + source.size();
    if (!source.empty() && source[0] == 0)
        m_cursor = source.size() > kHeaderSize ? m_cursor + kHeaderSize : m_end;
    m_pushback.fill(0xFF);
    m_pushCount = 0;
    m_line = 1;
}

int CharReader::Read()
{
    if (m_pushCount > 0) {
        const int c = m_pushback[--m_pushCount];
        m_pushback[m_pushCount] = 0xFF;
        if (c == '\n')
            ++m_line;
        return c;
    }
    if (m_cursor >= m_end || *m_cursor == 0)
        return 0;
    int c = *m_cursor++;
    if (c == '\r') {
        if (m_cursor < m_end && *m_cursor == '\n')
            ++m_cursor;
        c = '\n';
    }
    if (c == '\n')
        ++m_line;
    return c;
}

void CharReader::PushBack(int byte)
{
    if (m_pushCount >= static_cast<std::int32_t>(kPushbackDepth)) {
        KESTREL_ASSERT(m_pushCount < static_cast<std::int32_t>(kPushbackDepth), "script/scr_gui");
        return;
    }
    m_pushback[m_pushCount++] = byte;
    if (byte == '\n')
        --m_line;
}

void CharReader::SkipBlanks()
{
    int c = Read();
    while (c == ' ' || c == '\t')
        c = Read();
    PushBack(c);
}

std::string CharReader::ReadNumber()
{
    std::string out;
    int c = Read();
    while (IsDigit(c)) {
        out += static_cast<char>(c);
        c = Read();
    }
    PushBack(c);
    return out;
}

std::string CharReader::ReadIdentifier()
{
    std::string out;
    int c = Read();
    while (IsIdentifierByte(c)) {
        out += static_cast<char>(c);
        c = Read();
    }
    PushBack(c);
    return out;
}

} // namespace TextScript
