#include "core/cp932.h"
#include "core/exception.h"
#include "core/text.h"
#include "script/lexer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

namespace TextScript {
namespace {

using namespace std::string_literals;

// Scripts are written here in UTF-8 and handed to the lexer in code page 932.
std::string ToCp932(std::string_view utf8)
{
    return kestrel::Utf16ToCp932(kestrel::Utf8ToUtf16(utf8));
}

std::string Escape(std::string text)
{
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2))
        text.replace(at, 1, "\\n");
    return text;
}

// One entry per token up to the end of input: the reader's line after the
// token, the token's name, and its text when it has one.
std::vector<std::string> Tokens(std::string_view utf8)
{
    const std::string bytes = ToCp932(utf8);
    CharReader reader;
    reader.Reset({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    ScriptLexer lexer(reader);
    std::vector<std::string> tokens;
    for (;;) {
        const int token = lexer.Next();
        std::string entry = std::to_string(reader.Line()) + " " + TokenName(token);
        if (!lexer.Text().empty())
            entry += " " + Escape(kestrel::Utf16ToUtf8(lexer.Text()));
        tokens.push_back(entry);
        if (token == kTokenEnd)
            break;
    }
    // The end of input stays the end.
    EXPECT_EQ(lexer.Next(), kTokenEnd);
    return tokens;
}

struct TokenCase {
    const char* name;
    std::string source; // UTF-8
    std::vector<std::string> tokens;
};

// gtest prints a case by its name rather than its bytes.
void PrintTo(const TokenCase& c, std::ostream* out)
{
    *out << c.name;
}

class LexerTokens : public testing::TestWithParam<TokenCase> {};

TEST_P(LexerTokens, ProducesTokens)
{
    EXPECT_EQ(Tokens(GetParam().source), GetParam().tokens);
}

const TokenCase kTokenCases[] = {
    {"Empty", "", {"1 END OF INPUT"}},
    {"NameIsUpperCased", "bg01", {"1 WORD BG01", "1 END OF INPUT"}},
    {"NameTakesUnderscoreAndAtSign", "a_b@c", {"1 WORD A_B@C", "1 END OF INPUT"}},
    {"NumberStopsAtLetter", "12ab", {"1 WORD 12", "1 WORD AB", "1 END OF INPUT"}},
    {"UnderscoreStartsNoName", "_x", {"1 '_'", "1 WORD X", "1 END OF INPUT"}},
    {"PeriodBeforeDigitIsDropped", ".5", {"1 WORD 5", "1 END OF INPUT"}},
    {"PeriodBeforeOtherByteIsDropped", ".=", {"1 '='", "1 END OF INPUT"}},
    // The byte after the period is a character token even when it is a
    // newline: it is not NEWLINE.
    {"PeriodBeforeNewline", ".\n", {"2 0x0A", "2 END OF INPUT"}},
    {"CommandsIgnoreCase", ".grp .Grp .END .end1 .End2",
        {"1 .GRP", "1 .GRP", "1 .END", "1 .END1", "1 .END2", "1 END OF INPUT"}},
    {"AtSign", "@V001", {"1 AT_SIGN", "1 WORD V001", "1 END OF INPUT"}},
    {"OperatorsAndSlash", "= < > + - /x",
        {"1 '='", "1 '<'", "1 '>'", "1 '+'", "1 '-'", "1 '/'", "1 WORD X", "1 END OF INPUT"}},
    {"BlanksSeparate", "a \tb", {"1 WORD A", "1 WORD B", "1 END OF INPUT"}},
    {"HalfWidthKatakanaIsAByte", "ｱ", {"1 0xB1", "1 END OF INPUT"}},
    {"EveryNewlineFormCountsOnce", "a\r\nb\rc\nd",
        {"1 WORD A", "2 NEWLINE", "2 WORD B", "3 NEWLINE", "3 WORD C", "4 NEWLINE", "4 WORD D", "4 END OF INPUT"}},
    {"CommentKeepsNewline", "a // note\nb", {"1 WORD A", "2 NEWLINE", "2 WORD B", "2 END OF INPUT"}},
    {"ThreeSlashesAreAComment", "///abc\nb", {"2 NEWLINE", "2 WORD B", "2 END OF INPUT"}},
    {"CommentRunsIntoEnd", "a //", {"1 WORD A", "1 END OF INPUT"}},
    {"FourSlashesArePageBreak", "////abc\n", {"1 SLASH_LINE abc", "2 NEWLINE", "2 END OF INPUT"}},
    {"HashLine", "＃ remark\n", {"1 HASH_LINE  remark", "2 NEWLINE", "2 END OF INPUT"}},
    {"HashLineAfterBlanks", "  ＃め", {"1 HASH_LINE め", "1 END OF INPUT"}},
    {"TextJoinsLines", "あいう\nかきく\n\n",
        {"2 TEXT あいう\\nかきく", "3 NEWLINE", "4 NEWLINE", "4 END OF INPUT"}},
    {"TextEndsBeforeLeadingSpace", "あ\n い", {"1 TEXT あ", "2 NEWLINE", "2 TEXT い", "2 END OF INPUT"}},
    {"TextEndsBeforeCommand", "あ\n.GRP", {"1 TEXT あ", "2 NEWLINE", "2 .GRP", "2 END OF INPUT"}},
    {"TextEndsBeforeLetter", "あ\nb", {"1 TEXT あ", "2 NEWLINE", "2 WORD B", "2 END OF INPUT"}},
    // A "＃" line right after text starts with a lead byte, so it goes on the text.
    {"HashLineContinuesText", "あ\n＃x", {"2 TEXT あ\\n＃x", "2 END OF INPUT"}},
    // 0x81 that is not followed by 0x94 is ordinary text (here U+3000).
    {"OtherLead81IsText", "　x", {"1 TEXT 　x", "1 END OF INPUT"}},
    {"TextAfterWord", "a かな\n", {"1 WORD A", "1 TEXT かな", "2 NEWLINE", "2 END OF INPUT"}},
};

INSTANTIATE_TEST_SUITE_P(Table, LexerTokens, testing::ValuesIn(kTokenCases),
    [](const testing::TestParamInfo<TokenCase>& info) { return std::string(info.param.name); });

TEST(Lexer, HeaderIsSkippedWhenFirstByteIsZero)
{
    const std::string bytes = "\0"s + std::string(127, '.') + "abc";
    CharReader reader;
    reader.Reset({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    ScriptLexer lexer(reader);
    EXPECT_EQ(lexer.Next(), kTokenWord);
    EXPECT_EQ(lexer.Text(), u"ABC");
    EXPECT_EQ(lexer.Next(), kTokenEnd);
}

TEST(Lexer, MessageTextHasNoLengthLimit)
{
    std::string line;
    for (int i = 0; i < 3000; ++i)
        line += "あ";
    const std::vector<std::string> tokens = Tokens(line);
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0], "1 TEXT " + line);
}

// The command tokens follow the table's order, and a name in lower case
// finds its command.
TEST(Lexer, EveryCommandHasItsToken)
{
    for (std::size_t i = 0; i < kCommandTable.size(); ++i) {
        const CommandName& command = kCommandTable[i];
        SCOPED_TRACE(std::string(command.name));
        EXPECT_EQ(command.token, kTokenGrp + static_cast<int>(i));
        std::string source = "." + std::string(command.name);
        for (char& c : source)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        CharReader reader;
        reader.Reset({reinterpret_cast<const std::uint8_t*>(source.data()), source.size()});
        ScriptLexer lexer(reader);
        EXPECT_EQ(lexer.Next(), command.token);
    }
}

struct LexerErrorCase {
    const char* name;
    std::string source; // UTF-8
    int line;
    std::u16string_view message;
};

void PrintTo(const LexerErrorCase& c, std::ostream* out)
{
    *out << c.name;
}

class LexerErrors : public testing::TestWithParam<LexerErrorCase> {};

TEST_P(LexerErrors, ThrowsScriptError2)
{
    const LexerErrorCase& c = GetParam();
    try {
        Tokens(c.source);
        FAIL() << "no error";
    } catch (const kestrel::ScriptError2& error) {
        EXPECT_EQ(error.Line(), c.line);
        EXPECT_EQ(error.Message(), c.message);
    }
}

const std::string kLongest(ScriptLexer::kMaxTokenUnits, 'A');

const LexerErrorCase kLexerErrorCases[] = {
    {"UnknownCommand", "\n.GRPX", 2, kMessageUnknownCommand},
    {"UnderscoreCommand", "._X", 1, kMessageUnknownCommand},
    {"NoSuchCommandMessage", ".message", 1, kMessageUnknownCommand},
    {"NameTooLong", "\n" + kLongest + "A\n", 2, kMessageTokenTooLong},
    {"NumberTooLong", std::string(ScriptLexer::kMaxTokenUnits + 1, '7'), 1, kMessageTokenTooLong},
    {"CommandNameTooLong", "." + kLongest + "A", 1, kMessageTokenTooLong},
    {"SlashLineTooLong", "////" + kLongest + "A\n", 1, kMessageTokenTooLong},
    {"HashLineTooLong", "＃" + kLongest + "A\n", 1, kMessageTokenTooLong},
};

INSTANTIATE_TEST_SUITE_P(Table, LexerErrors, testing::ValuesIn(kLexerErrorCases),
    [](const testing::TestParamInfo<LexerErrorCase>& info) { return std::string(info.param.name); });

TEST(Lexer, LongestTokensAreAccepted)
{
    EXPECT_EQ(Tokens(kLongest), (std::vector<std::string>{"1 WORD " + kLongest, "1 END OF INPUT"}));
    EXPECT_EQ(Tokens("////" + kLongest), (std::vector<std::string>{"1 SLASH_LINE " + kLongest, "1 END OF INPUT"}));
    EXPECT_EQ(Tokens("＃" + kLongest), (std::vector<std::string>{"1 HASH_LINE " + kLongest, "1 END OF INPUT"}));
}

} // namespace
} // namespace TextScript
