#include "core/cp932.h"
#include "core/exception.h"
#include "core/text.h"
#include "script/lexer.h"
#include "script/node.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace TextScript {
namespace {

using namespace std::string_literals;

constexpr std::u16string_view kFileName = u"_start.txt";

// Scripts are written here in UTF-8 and compiled in code page 932.
std::string ToCp932(std::string_view utf8)
{
    return kestrel::Utf16ToCp932(kestrel::Utf8ToUtf16(utf8));
}

void Compile(ScriptStateGroup& group, std::string_view utf8)
{
    const std::string bytes = ToCp932(utf8);
    group.Compile({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, kFileName);
}

std::string Escape(std::string text)
{
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2))
        text.replace(at, 1, "\\n");
    return text;
}

// One entry per node: line, kind with the operator right after it, "p" and
// the page number when there is one, then the arguments in quotes.
//   2 9- "A" "3"      3 34 p1      3 0
std::vector<std::string> Dump(const ScriptStateGroup& group)
{
    std::vector<std::string> nodes;
    for (const ScriptStateNode* node = group.First(); node; node = node->Next()) {
        std::string entry = std::to_string(node->m_line) + " " + std::to_string(node->m_kind);
        if (node->m_operator)
            entry += node->m_operator;
        if (node->m_page)
            entry += " p" + std::to_string(node->m_page);
        for (int i = 0; i < node->ArgumentCount(); ++i)
            entry += " \"" + Escape(kestrel::Utf16ToUtf8(node->Argument(i).value_or(u"?"))) + "\"";
        nodes.push_back(entry);
    }
    return nodes;
}

// Whole scripts and the node lists they compile to.
struct ScriptCase {
    const char* name;
    std::string source; // UTF-8
    std::vector<std::string> nodes;
};

// gtest prints a case by its name rather than its bytes.
void PrintTo(const ScriptCase& c, std::ostream* out)
{
    *out << c.name;
}

class CompileScripts : public testing::TestWithParam<ScriptCase> {};

TEST_P(CompileScripts, BuildsNodes)
{
    kestrel::test::DebugCapture debug;
    ScriptStateGroup group;
    Compile(group, GetParam().source);
    EXPECT_EQ(Dump(group), GetParam().nodes);
    EXPECT_EQ(group.FileName(), kFileName);
    EXPECT_TRUE(debug.lines().empty());
}

const std::string kLongestWord(ScriptLexer::kMaxTokenUnits, 'W');

// Line numbers: a command's node is built when its NEWLINE has been read, so
// it records the line after the command. A page node is built when the
// parser sees the first token after the page, and the end node after the
// last token.
const ScriptCase kScriptCases[] = {
    {"EmptyFileHasOnlyTheEndNode", "", {"1 0"}},
    {"TextThenPage", "こんにちは\n\n", {"2 1 \"こんにちは\"", "3 34 p1", "3 0"}},
    {"HeaderIsSkipped", "\0"s + std::string(127, '.') + ".GRP BG01\n", {"2 2 \"BG01\"", "2 0"}},
    {"ShortFileWithHeaderIsEmpty", "\0.GRP BG01\n"s, {"1 0"}},
    {"EveryNewlineFormCountsOnce", ".GRP A\r\n.GRP B\r.GRP C\n",
        {"2 2 \"A\"", "3 2 \"B\"", "4 2 \"C\"", "4 0"}},
    {"CommandNamesIgnoreCase", ".grp a\n.Grp B\n", {"2 2 \"A\"", "3 2 \"B\"", "3 0"}},
    {"NumberThenName", ".GRP 12ab\n", {"2 2 \"12\" \"AB\"", "2 0"}},
    {"PeriodBeforeDigitIsDropped", ".GRP .5\n", {"2 2 \"5\"", "2 0"}},
    {"TextLinesJoin", "あいう\nかきく\n\n", {"3 1 \"あいう\\nかきく\"", "4 34 p1", "4 0"}},
    {"TextEndsBeforeLeadingSpace", "あ\n い\n", {"2 1 \"あ\"", "3 1 \"い\"", "3 0"}},
    {"TextEndsBeforeCommand", "あ\n.GRP A\n", {"2 1 \"あ\"", "3 2 \"A\"", "3 0"}},
    {"HashLineAfterTextIsText", "あ\n＃ remark\n", {"3 1 \"あ\\n＃ remark\"", "3 0"}},
    {"CommentAfterCommand", ".GRP A // note\n.GRP B\n", {"2 2 \"A\"", "3 2 \"B\"", "3 0"}},
    {"CommentLineIsPageBreak", ".GRP A\n// note\n.GRP B\n", {"2 2 \"A\"", "3 34 p1", "4 2 \"B\"", "4 0"}},
    {"ThreeSlashesAreAComment", ".GRP A ///x\n", {"2 2 \"A\"", "2 0"}},
    {"SlashLineIsPageBreak", ".GRP A\n////x\n.GRP B\n", {"2 2 \"A\"", "3 34 p1", "4 2 \"B\"", "4 0"}},
    {"HashLineIsPageBreak", ".GRP A\n＃x\n.GRP B\n", {"2 2 \"A\"", "3 34 p1", "4 2 \"B\"", "4 0"}},
    {"ThreeEmptyLinesAreOnePage", ".GRP A\n\n\n\n.GRP B\n", {"2 2 \"A\"", "5 34 p1", "6 2 \"B\"", "6 0"}},
    {"RemarkInsidePage", "あ\n\n＃ remark\n\n.GRP A\n", {"2 1 \"あ\"", "5 34 p1", "6 2 \"A\"", "6 0"}},
    {"PagesAreNumberedInOrder", "あ\n\nい\n\nう\n",
        {"2 1 \"あ\"", "3 34 p1", "4 1 \"い\"", "5 34 p2", "6 1 \"う\"", "6 0"}},
    {"PageAtEndOfInput", ".GRP A\n\n\n", {"2 2 \"A\"", "4 34 p1", "4 0"}},
    {"LabelTwice", ".LAB A\n.LAB A\n", {"2 5 \"A\"", "3 5 \"A\"", "3 0"}},
    {"LongestWord", ".GRP " + kLongestWord + "\n", {"2 2 \"" + kLongestWord + "\"", "2 0"}},
    // The end of the file also ends its last line.
    {"CommandWithoutFinalNewline", ".GRP A", {"1 2 \"A\"", "1 0"}},
    {"TextWithoutFinalNewline", "\nあ", {"2 34 p1", "2 1 \"あ\"", "2 0"}},
    {"SlashLineWithoutFinalNewline", ".GRP A\n////x", {"2 2 \"A\"", "2 34 p1", "2 0"}},
};

INSTANTIATE_TEST_SUITE_P(Table, CompileScripts, testing::ValuesIn(kScriptCases),
    [](const testing::TestParamInfo<ScriptCase>& info) { return std::string(info.param.name); });

// Each statement form alone on line 1, and the node it builds (line 2).
struct FormCase {
    const char* statement; // UTF-8
    const char* node;      // kind, operator, arguments
};

void PrintTo(const FormCase& c, std::ostream* out)
{
    *out << c.statement;
}

class CompileForms : public testing::TestWithParam<FormCase> {};

TEST_P(CompileForms, BuildsNode)
{
    ScriptStateGroup group;
    Compile(group, GetParam().statement + "\n"s);
    EXPECT_EQ(Dump(group), (std::vector<std::string>{"2 "s + GetParam().node, "2 0"}));
}

const FormCase kFormCases[] = {
    {"あいう", "1 \"あいう\""},
    {".GRP BG01", "2 \"BG01\""},
    {".GRP BG01 BG02", "2 \"BG01\" \"BG02\""},
    {".CHR C1", "3 \"C1\""},
    {".CHL C1", "4 \"C1\""},
    {".LAB L1", "5 \"L1\""},
    {".WAV SE01", "8 \"SE01\""},
    {".PST A = 1", "9= \"A\" \"1\""},
    {".PST A + B", "9+ \"A\" \"B\""},
    {".PST A - 3", "9- \"A\" \"3\""},
    {".SEL L1 はい", "10 \"L1\" \"はい\""},
    {".RMS メモ", "11 \"メモ\""},
    {".CLM メモ", "12 \"メモ\""},
    {".LGR G1", "13 \"G1\""},
    {".VOI V001", "14 \"V001\""},
    {"@V001", "14 \"V001\""},
    {".JMP L1", "15 \"L1\""},
    {".RJP L1", "16 \"L1\""},
    {".PJP A = 3 L1", "17= \"A\" \"3\" \"L1\""},
    {".PJP A < B L1", "17< \"A\" \"B\" \"L1\""},
    {".pjp a > 3 l1", "17> \"A\" \"3\" \"L1\""},
    {".RSP A", "18 \"A\""},
    {".RST A", "19 \"A\""},
    {".RSX B", "20 \"B\""},
    {".SFS S1", "21 \"S1\""},
    {".DON D1", "22 \"D1\""},
    {".DOF", "23"},
    {".TOF", "24"},
    {".IVG 3", "25 \"3\""},
    {".SSL S1", "26 \"S1\""},
    {".END", "27"},
    {".END X", "27 \"X\""},
    {".END1", "28"},
    {".END1 X", "28 \"X\""},
    {".END2", "29"},
    {".END2 X", "29 \"X\""},
    {".SED", "30"},
    {".DGR D1", "31 \"D1\""},
    {".FLS F1", "35 \"F1\""},
    {".S1A SE1", "36 \"SE1\""},
    {".S1B SE1", "37 \"SE1\""},
    {".S1M", "38"},
    {".S2A SE2", "39 \"SE2\""},
    {".S2B SE2", "40 \"SE2\""},
    {".S2M", "41"},
};

INSTANTIATE_TEST_SUITE_P(Table, CompileForms, testing::ValuesIn(kFormCases),
    [](const testing::TestParamInfo<FormCase>& info) {
        std::string name = "Form" + std::to_string(info.index) + "_";
        for (const char* c = info.param.statement; *c; ++c) {
            if (std::isalnum(static_cast<unsigned char>(*c)))
                name += *c;
        }
        return name;
    });

// Scripts that fail, and how the failure is reported. Lexer errors are
// "Compile Error" lines with the line and are kept in the group; parser
// errors print line -1 and throw with the current line.
enum class Origin { Lexer, Parser };

struct ErrorCase {
    const char* name;
    std::string source; // UTF-8
    Origin origin;
    int line;
    std::u16string_view message;
};

void PrintTo(const ErrorCase& c, std::ostream* out)
{
    *out << c.name;
}

class CompileErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(CompileErrors, Reports)
{
    const ErrorCase& c = GetParam();
    kestrel::test::DebugCapture debug;
    ScriptStateGroup group;
    try {
        Compile(group, c.source);
        FAIL() << "compiled without error";
    } catch (const kestrel::ExceptionHandle& error) {
        EXPECT_EQ(error.Source(), kFileName);
        EXPECT_EQ(error.Line(), c.line);
        EXPECT_EQ(error.Message(), c.message);
    }
    const std::u16string message(c.message);
    const std::u16string expectedLine = c.origin == Origin::Lexer
        ? u"_start.txt(" + kestrel::Utf8ToUtf16(std::to_string(c.line)) + u"): Compile Error: " + message
        : u"_start.txt(-1): " + message;
    EXPECT_EQ(debug.lines(), std::vector<std::u16string>{expectedLine});
    EXPECT_EQ(group.LastErrorLine(), c.origin == Origin::Lexer ? c.line : 0);
    EXPECT_EQ(group.LastErrorMessage(), c.origin == Origin::Lexer ? message : u"");
}

constexpr std::u16string_view kSyntaxError = u"syntax error";
constexpr std::u16string_view kOneLetter = u"変数名は１文字にして下さい";

const ErrorCase kErrorCases[] = {
    {"UnknownCommand", ".GRP A\n.GRPX B\n", Origin::Lexer, 2, kMessageUnknownCommand},
    {"NotACommandOfThisLanguage", ".MAKEMENU\n", Origin::Lexer, 1, kMessageUnknownCommand},
    {"UnderscoreCommand", "._X\n", Origin::Lexer, 1, kMessageUnknownCommand},
    {"WordTooLong", ".GRP " + kLongestWord + "W\n", Origin::Lexer, 1, kMessageTokenTooLong},
    {"NumberTooLong", "\n.IVG " + std::string(ScriptLexer::kMaxTokenUnits + 1, '9') + "\n", Origin::Lexer, 2,
        kMessageTokenTooLong},
    {"CommandNameTooLong", "." + kLongestWord + "W\n", Origin::Lexer, 1, kMessageTokenTooLong},
    {"SlashLineTooLong", "////" + kLongestWord + "W\n", Origin::Lexer, 1, kMessageTokenTooLong},
    {"HashLineTooLong", "＃" + kLongestWord + "W\n", Origin::Lexer, 1, kMessageTokenTooLong},
    // The failing token's line is the current line; a NEWLINE has already
    // counted its line.
    {"UnderscoreWord", "_x\n", Origin::Parser, 1, kSyntaxError},
    {"StatementStartsWithWord", "あ\nabc\n", Origin::Parser, 2, kSyntaxError},
    {"TooManyWords", ".GRP A B C\n", Origin::Parser, 1, kSyntaxError},
    {"MissingWord", ".GRP\n", Origin::Parser, 2, kSyntaxError},
    {"WordWhereNoneBelongs", ".DOF X\n", Origin::Parser, 1, kSyntaxError},
    {"WordWhereTextBelongs", ".RMS A\n", Origin::Parser, 1, kSyntaxError},
    {"TwoCharacterOperator", ".PJP A >= 3 L\n", Origin::Parser, 1, kSyntaxError},
    {"NegativeNumber", ".PST A = -1\n", Origin::Parser, 1, kSyntaxError},
    {"WrongOperatorForPst", ".PST A < 1\n", Origin::Parser, 1, kSyntaxError},
    {"SingleSlash", ".GRP A / B\n", Origin::Parser, 1, kSyntaxError},
    {"SlashLineAfterCommand", ".GRP A ////x\n", Origin::Parser, 1, kSyntaxError},
    {"HashAfterCommand", ".GRP A ＃x\n", Origin::Parser, 1, kSyntaxError},
    {"PeriodAlone", ".GRP A\n.\n", Origin::Parser, 3, kSyntaxError},
    {"HalfWidthKatakana", ".GRP ｱ\n", Origin::Parser, 1, kSyntaxError},
    {"ErrorAfterNodes", ".GRP A\n\n.GRP B\n.GRP\n", Origin::Parser, 5, kSyntaxError},
    {"RstTwoLetters", ".RST AB\n", Origin::Parser, 2, kOneLetter},
    {"RsxNumber", ".RSX 12\n", Origin::Parser, 2, kOneLetter},
};

INSTANTIATE_TEST_SUITE_P(Table, CompileErrors, testing::ValuesIn(kErrorCases),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

// A group whose node class cannot be made: what CreateNode throws comes out
// of Compile unchanged, and no token text is left behind.
class FailingGroup : public ScriptStateGroup {
public:
    ScriptStateNode* CreateNode() override
    {
        if (++m_created == 2)
            throw std::runtime_error("no node");
        return ScriptStateGroup::CreateNode();
    }

private:
    int m_created = 0;
};

TEST(CompileFailures, NodeFactoryExceptionPassesThrough)
{
    kestrel::test::DebugCapture debug;
    FailingGroup group;
    EXPECT_THROW(Compile(group, ".GRP A\n.PJP A = 3 L\n.GRP C\n"), std::runtime_error);
    EXPECT_EQ(Dump(group), std::vector<std::string>{"2 2 \"A\""});
    EXPECT_TRUE(debug.lines().empty());
}

// Node classes of the game come through the group's CreateNode.
class CountingGroup : public ScriptStateGroup {
public:
    ScriptStateNode* CreateNode() override
    {
        ++created;
        return ScriptStateGroup::CreateNode();
    }
    int created = 0;
};

TEST(CompileFailures, NodesComeFromCreateNode)
{
    CountingGroup group;
    Compile(group, "あ\n\n.GRP A\n");
    EXPECT_EQ(group.created, 4);
    EXPECT_EQ(group.Count(), 4);
}

} // namespace
} // namespace TextScript
