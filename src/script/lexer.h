// The script lexer: turns the bytes of a scenario (code page 932) into the
// tokens the grammar reads, one at a time, through the compile state's
// character reader.
//
// The language is line-oriented. A newline ends every command; a line whose
// first byte is the lead byte of a double-byte character is message text and
// runs on over the following lines that start the same way; an empty line, a
// line starting with the full-width "＃" and a line starting with "////" are
// page breaks; "//" starts a comment that runs to the end of the line.
//
// Only token texts are converted to UTF-16; the source bytes are read in
// place.
#pragma once

#include "script/reader.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace TextScript {

// Token codes. 0 is the end of input; 1-255 are single bytes returned as
// themselves (the grammar accepts only '=', '<', '>', '+' and '-'); the named
// tokens follow. The grammar declares the same numbers and checks them at
// compile time, so the two cannot drift apart.
enum Token : int {
    kTokenEnd = 0,

    kTokenWord = 258,  // an identifier (upper-cased) or a digit string
    kTokenText,        // message text: one or more lines, joined by '\n'
    kTokenNewline,     // the end of a line
    kTokenHashLine,    // a line starting with "＃"; text: the rest of the line
    kTokenSlashLine,   // a line starting with "////"; text: the rest of the line
    kTokenAtSign,      // '@', the voice shorthand

    // One token per command, in the order of the command table.
    kTokenGrp,
    kTokenChr,
    kTokenChl,
    kTokenLab,
    kTokenWav,
    kTokenPst,
    kTokenSel,
    kTokenRms,
    kTokenClm,
    kTokenLgr,
    kTokenVoi,
    kTokenFls,
    kTokenJmp,
    kTokenRjp,
    kTokenPjp,
    kTokenRsp,
    kTokenRst,
    kTokenRsx,
    kTokenSfs,
    kTokenDon,
    kTokenDof,
    kTokenTof,
    kTokenIvg,
    kTokenSsl,
    kTokenEndCommand,
    kTokenEnd1,
    kTokenEnd2,
    kTokenSed,
    kTokenDgr,
    kTokenS1a,
    kTokenS1b,
    kTokenS1m,
    kTokenS2a,
    kTokenS2b,
    kTokenS2m,

    // Never returned by the lexer: the parser's caller uses it to stop the
    // parse after the lexer has failed (no production accepts it).
    kTokenLexerError,
};

struct CommandName {
    std::string_view name;
    Token token;
};

// The command table, searched in this order; the first match wins.
extern const std::array<CommandName, 35> kCommandTable;

// A token's name for dumps and messages: "WORD", "NEWLINE", ".GRP", "'='",
// "0x81" (other bytes), "END OF INPUT".
std::string TokenName(int token);

class ScriptLexer {
public:
    // Texts of identifiers, numbers, command names and page-break lines are
    // limited to this many UTF-16 units; a longer one is the compile error
    // kMessageTokenTooLong. Message text has no limit.
    static constexpr std::size_t kMaxTokenUnits = 1023;

    explicit ScriptLexer(CharReader& reader) : m_reader(reader) {}

    // The next token code. The text of a WORD, TEXT, HASH_LINE or SLASH_LINE
    // is in Text() until the next call; other tokens leave it empty.
    // Throws kestrel::ScriptError2 (with the reader's current line) for an
    // unknown command name or a token text that is too long.
    int Next();

    std::u16string& Text() { return m_text; }

private:
    int ReadMessageText();
    int ReadPageBreakLine(int token);
    void SkipComment();
    int ReadCommand();
    // A WORD from the bytes of a number or an identifier.
    int MakeWord(std::string word);
    // The command's token, or kTokenEnd when the name is not in the table.
    static int FindCommand(std::string_view upperName);

    CharReader& m_reader;
    std::u16string m_text;
};

// The lexer's compile errors.
inline constexpr std::u16string_view kMessageUnknownCommand = u"コマンド名が違います。";
inline constexpr std::u16string_view kMessageTokenTooLong = u"トークンが長すぎます。";

} // namespace TextScript
