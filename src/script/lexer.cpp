#include "script/lexer.h"

#include "core/cp932.h"
#include "core/exception.h"

#include <cstdio>

namespace TextScript {

const std::array<CommandName, 35> kCommandTable = {{
    {"GRP", kTokenGrp},
    {"CHR", kTokenChr},
    {"CHL", kTokenChl},
    {"LAB", kTokenLab},
    {"WAV", kTokenWav},
    {"PST", kTokenPst},
    {"SEL", kTokenSel},
    {"RMS", kTokenRms},
    {"CLM", kTokenClm},
    {"LGR", kTokenLgr},
    {"VOI", kTokenVoi},
    {"FLS", kTokenFls},
    {"JMP", kTokenJmp},
    {"RJP", kTokenRjp},
    {"PJP", kTokenPjp},
    {"RSP", kTokenRsp},
    {"RST", kTokenRst},
    {"RSX", kTokenRsx},
    {"SFS", kTokenSfs},
    {"DON", kTokenDon},
    {"DOF", kTokenDof},
    {"TOF", kTokenTof},
    {"IVG", kTokenIvg},
    {"SSL", kTokenSsl},
    {"END", kTokenEndCommand},
    {"END1", kTokenEnd1},
    {"END2", kTokenEnd2},
    {"SED", kTokenSed},
    {"DGR", kTokenDgr},
    {"S1A", kTokenS1a},
    {"S1B", kTokenS1b},
    {"S1M", kTokenS1m},
    {"S2A", kTokenS2a},
    {"S2B", kTokenS2b},
    {"S2M", kTokenS2m},
}};

namespace {

// The two bytes of the full-width number sign "＃" in code page 932.
constexpr int kHashLead = 0x81;
constexpr int kHashTrail = 0x94;

bool IsLeadByte(int c)
{
    return c > 0 && c < 0x100 && kestrel::IsCp932LeadByte(static_cast<unsigned char>(c));
}

void UpperCase(std::string& text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
}

// Identifiers and numbers are ASCII, so widening byte by byte is their conversion.
std::u16string Widen(std::string_view bytes)
{
    std::u16string text;
    text.reserve(bytes.size());
    for (const char c : bytes)
        text += static_cast<char16_t>(static_cast<unsigned char>(c));
    return text;
}

} // namespace

std::string TokenName(int token)
{
    switch (token) {
    case kTokenEnd:
        return "END OF INPUT";
    case kTokenWord:
        return "WORD";
    case kTokenText:
        return "TEXT";
    case kTokenNewline:
        return "NEWLINE";
    case kTokenHashLine:
        return "HASH_LINE";
    case kTokenSlashLine:
        return "SLASH_LINE";
    case kTokenAtSign:
        return "AT_SIGN";
    case kTokenLexerError:
        return "LEXER_ERROR";
    default:
        break;
    }
    for (const CommandName& command : kCommandTable) {
        if (command.token == token) {
            std::string name(1, '.'); // appended, not concatenated: GCC 12 warns falsely on "." + string
            name += command.name;
            return name;
        }
    }
    if (token > 0x20 && token < 0x7F)
        return std::string("'") + static_cast<char>(token) + "'";
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(token));
    return hex;
}

int ScriptLexer::FindCommand(std::string_view upperName)
{
    for (const CommandName& command : kCommandTable) {
        if (command.name == upperName)
            return command.token;
    }
    return kTokenEnd;
}

int ScriptLexer::Next()
{
    m_text.clear();
    for (;;) {
        m_reader.SkipBlanks();
        int c = m_reader.Read();
        if (c == 0)
            return kTokenEnd;

        if (c == kHashLead) {
            const int trail = m_reader.Read();
            if (trail == kHashTrail)
                return ReadPageBreakLine(kTokenHashLine);
            m_reader.PushBack(trail);
        }
        if (IsLeadByte(c)) {
            m_reader.PushBack(c);
            return ReadMessageText();
        }
        if (c == '\n')
            return kTokenNewline;
        if (c == '@')
            return kTokenAtSign;

        if (c == '/') {
            const int second = m_reader.Read();
            if (second != '/') {
                m_reader.PushBack(second);
                return '/';
            }
            const int third = m_reader.Read();
            if (third != '/') {
                m_reader.PushBack(third);
                SkipComment();
                continue;
            }
            const int fourth = m_reader.Read();
            if (fourth != '/') {
                m_reader.PushBack(fourth);
                SkipComment();
                continue;
            }
            return ReadPageBreakLine(kTokenSlashLine);
        }

        if (c == '.') {
            const int next = m_reader.Read();
            if (IsAsciiLetter(next) || next == '_') {
                m_reader.PushBack(next);
                return ReadCommand();
            }
            // Not a command: the period is dropped and the next byte stands
            // for itself, so ".5" is the number 5.
            c = next;
        }

        if (IsDigit(c)) {
            m_reader.PushBack(c);
            return MakeWord(m_reader.ReadNumber());
        }
        if (IsAsciiLetter(c)) {
            m_reader.PushBack(c);
            return MakeWord(m_reader.ReadIdentifier());
        }
        return c;
    }
}

// Message text: every following line that starts with a lead byte belongs to
// the same token. Blanks are not skipped here, so a line starting with a
// space ends the text. The newline after the last line is left for the next
// token, which is therefore always NEWLINE or the end of input.
int ScriptLexer::ReadMessageText()
{
    std::string bytes;
    for (;;) {
        int c = m_reader.Read();
        while (c != '\n' && c != 0) {
            bytes += static_cast<char>(c);
            c = m_reader.Read();
        }
        if (c == 0)
            break;
        const int next = m_reader.Read();
        if (IsLeadByte(next)) {
            m_reader.PushBack(next);
            bytes += '\n';
            continue;
        }
        m_reader.PushBack(next);
        m_reader.PushBack('\n');
        break;
    }
    m_text = kestrel::Cp932ToUtf16(bytes);
    return kTokenText;
}

// The rest of a "＃" or "////" line; its newline is left for the next token.
// "＃" lines are converted from code page 932, "////" lines widened byte by
// byte.
int ScriptLexer::ReadPageBreakLine(int token)
{
    std::string bytes;
    int c = m_reader.Read();
    while (c != '\n' && c != 0) {
        bytes += static_cast<char>(c);
        c = m_reader.Read();
    }
    if (c == '\n')
        m_reader.PushBack(c);
    m_text = token == kTokenSlashLine ? Widen(bytes) : kestrel::Cp932ToUtf16(bytes);
    if (m_text.size() > kMaxTokenUnits)
        throw kestrel::ScriptError2(m_reader.Line(), kMessageTokenTooLong);
    return token;
}

// Drops the rest of the line but keeps its newline, so that a command
// followed by a comment still ends with NEWLINE.
void ScriptLexer::SkipComment()
{
    int c = m_reader.Read();
    while (c != '\n' && c != 0)
        c = m_reader.Read();
    if (c == '\n')
        m_reader.PushBack(c);
}

int ScriptLexer::ReadCommand()
{
    std::string name = m_reader.ReadIdentifier();
    if (name.size() > kMaxTokenUnits)
        throw kestrel::ScriptError2(m_reader.Line(), kMessageTokenTooLong);
    UpperCase(name);
    const int token = FindCommand(name);
    if (token == kTokenEnd)
        throw kestrel::ScriptError2(m_reader.Line(), kMessageUnknownCommand);
    return token;
}

int ScriptLexer::MakeWord(std::string word)
{
    if (word.size() > kMaxTokenUnits)
        throw kestrel::ScriptError2(m_reader.Line(), kMessageTokenTooLong);
    UpperCase(word);
    m_text = Widen(word);
    return kTokenWord;
}

} // namespace TextScript
