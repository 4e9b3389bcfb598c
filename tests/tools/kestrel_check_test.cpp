// The kestrel-check tool, run as a program on small scenarios and iv.txt
// files: the node and table dumps, every warning, the compile errors as the
// engine reports them, and the exit status of each outcome.
#include "core/cp932.h"
#include "core/file.h"
#include "core/text.h"
#include "support/tool_test.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

using kestrel::test::LeakCheck;
using kestrel::test::RunResult;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr int kExitClean = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitWarnings = 3;

// Scenario text is written in UTF-8 here and stored as code page 932.
Bytes Cp932(std::string_view utf8)
{
    const std::string bytes = kestrel::Utf16ToCp932(kestrel::Utf8ToUtf16(utf8));
    return Bytes(bytes.begin(), bytes.end());
}

// An iv.txt: the given jump-table lines, padded with empty lines to 20, then
// the judge blocks.
std::string Iv(const std::vector<std::string>& jumpLines, const std::string& judgeBlocks = "")
{
    std::string text;
    for (std::size_t i = 0; i < 20; ++i)
        text += (i < jumpLines.size() ? jumpLines[i] : std::string()) + "\n";
    return text + judgeBlocks;
}

std::string LastLine(const std::string& text)
{
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n')
        trimmed.pop_back();
    const std::size_t start = trimmed.rfind('\n');
    return start == std::string::npos ? trimmed : trimmed.substr(start + 1);
}

class KestrelCheckTest : public kestrel::test::ToolTest {
protected:
    KestrelCheckTest() : ToolTest(KESTREL_CHECK_PATH, "kestrel_check_") {}

    // Writes `utf8` as code page 932 into the test's folder; returns its path.
    std::string Write(const std::string& name, std::string_view utf8)
    {
        const fs::path path = root() / name;
        kestrel::File file = kestrel::CreateFileForWrite(path);
        EXPECT_TRUE(file.IsOpen()) << path;
        EXPECT_TRUE(file.WriteAll(Cp932(utf8)));
        return path.string();
    }

    std::string PathOf(const std::string& name) const { return (root() / name).string(); }
};

// ---------------------------------------------------------------------------
// --dump-nodes

struct DumpCase {
    const char* name;
    const char* script; // UTF-8
    const char* expected;
};

// Node lines are those the engine records: the line after the statement for
// commands and texts, the line of the next statement for a page run.
const DumpCase kDumpCases[] = {
    {"EmptyFileHoldsOnlyTheEndNode", "", "1\t0\t0\t0\n"},
    {"EveryShape",
        "【あかり】\n"
        "「おはよう」\tと\\言った\n"
        "\n"
        "＃ 朝の場面\n"
        "////memo\n"
        ".PST a010 + 3\n"
        ".PJP A010 > 2 next\n"
        ".Grp bg01 W\n"
        "@v001\n"
        "\n"
        ".LAB NEXT\n",
        "3\t1\t0\t0\t【あかり】\\n「おはよう」\\tと\\\\言った\n"
        "6\t34\t0\t1\n"
        "7\t9\t43\t0\tA010\t3\n"
        "8\t17\t62\t0\tA010\t2\tNEXT\n"
        "9\t2\t0\t0\tBG01\tW\n"
        "10\t14\t0\t0\tV001\n"
        "11\t34\t0\t2\n"
        "12\t5\t0\t0\tNEXT\n"
        "12\t0\t0\t0\n"},
    {"PstOperatorsAndSel",
        ".PST A = 1\n"
        ".PST B - 2\n"
        ".SEL L1 選ぶ\n",
        "2\t9\t61\t0\tA\t1\n"
        "3\t9\t45\t0\tB\t2\n"
        "4\t10\t0\t0\tL1\t選ぶ\n"
        "4\t0\t0\t0\n"},
};

// Cases print as their names in test listings.
void PrintTo(const DumpCase& c, std::ostream* os)
{
    *os << c.name;
}

class KestrelCheckDump : public KestrelCheckTest, public ::testing::WithParamInterface<DumpCase> {};

TEST_P(KestrelCheckDump, PrintsOneLinePerNode)
{
    const DumpCase& c = GetParam();
    const RunResult r = Run({"--dump-nodes", Write("_start.txt", c.script)});
    EXPECT_EQ(r.exitCode, kExitClean) << r.err;
    EXPECT_EQ(r.out, c.expected);
    EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, KestrelCheckDump, ::testing::ValuesIn(kDumpCases),
    [](const ::testing::TestParamInfo<DumpCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// --dump-iv

TEST_F(KestrelCheckTest, DumpIvPrintsBothTables)
{
    const std::string iv = Iv({"opening\t序章\tの\\メモ", "DAY1 // a comment, not a note", "", "x_1@ rest "},
        "#1\n"
        "morning_a\n"
        "A010 >= 3\n"
        "B010 == 0\n"
        "C <> 1\n"
        "D << E\n"
        "F <= 9 // comment\n"
        "G >> 0\n"
        "\n"
        "H > 5\n"
        "I = 7\n"
        "#12\n"
        "MORNING_B\n");
    std::string expected =
        "J\t0\tOPENING\t序章\\tの\\\\メモ\n"
        "J\t1\tDAY1\t\n"
        "J\t2\t\t\n"
        "J\t3\tX_1@\trest \n";
    for (int i = 4; i < 20; ++i)
        expected += "J\t" + std::to_string(i) + "\t\t\n";
    expected +=
        "K\t1\tMORNING_A\t8\n"
        "C\tA010\t]\t3\n"
        "C\tB010\t=\t0\n"
        "C\tC\t!\t1\n"
        "C\tD\t<\tE\n"
        "C\tF\t[\t9\n"
        "C\tG\t>\t0\n"
        "C\tH\t0\t5\n"
        "C\tI\t=\t7\n"
        "K\t12\tMORNING_B\t0\n";
    const RunResult r = Run({"--dump-iv", Write("iv.txt", iv)}, LeakCheck::On);
    EXPECT_EQ(r.exitCode, kExitClean) << r.err;
    EXPECT_EQ(r.out, expected);
}

// ---------------------------------------------------------------------------
// Warnings

struct LintCase {
    const char* name;
    const char* script;          // UTF-8, written as _start.txt
    std::optional<std::string> iv; // written as iv.txt and passed with --iv
    const char* expected;
};

const std::string kNineConditions = "#4\nL\n" + [] {
    std::string lines;
    for (int i = 0; i < 9; ++i)
        lines += "A" + std::to_string(i) + " == 1\n";
    return lines;
}();

const LintCase kLintCases[] = {
    {"UndefinedJmp", "\n.LAB THERE\n.JMP there\n.JMP NOWHERE\n", std::nullopt,
        "_start.txt(5): warning: JMP to undefined label \"NOWHERE\"\n"},
    {"UndefinedRjp", "\n.LAB A\n.RJP A\n.RJP B\n.RJP A\n", std::nullopt,
        "_start.txt(5): warning: RJP to undefined label \"B\"\n"},
    {"UndefinedPjp", "\n.LAB A\n.PJP X = 1 A\n.PJP X < Y MISSING\n", std::nullopt,
        "_start.txt(5): warning: PJP to undefined label \"MISSING\"\n"},
    {"UndefinedSel", "\n.LAB YES\n.SEL YES はい\n.SEL NO いいえ\n", std::nullopt,
        "_start.txt(5): warning: SEL to undefined label \"NO\"\n"},
    {"LabelWithoutPageBreak", ".LAB FIRST\n\n.LAB OK\n.GRP BG\n.LAB AFTER_GRP\n", std::nullopt,
        "_start.txt(2): warning: label \"FIRST\" does not follow a page break\n"
        "_start.txt(6): warning: label \"AFTER_GRP\" does not follow a page break\n"},
    {"RjpRunOfTwo", "\n.LAB A\n.RJP A\n.RJP A\n", std::nullopt,
        "_start.txt(4): warning: run of 2 RJP lines; exactly 3 are needed\n"},
    {"RjpRunOfFour", "\n.LAB A\n.RJP A\n.RJP A\n.RJP A\n.RJP A\n", std::nullopt,
        "_start.txt(4): warning: run of 4 RJP lines; exactly 3 are needed\n"},
    {"FourSelLines", "\n.LAB A\n.SEL A 一\n.SEL A 二\n.SEL A 三\n.SEL A 四\n\n.SEL A 五\n", std::nullopt,
        "_start.txt(4): warning: run of 4 SEL lines; a menu holds at most 3 choices\n"},
    {"UndefinedJumpTableLabel", "\n.LAB DAY1\n", Iv({"DAY1 the first day", "", "DAY3 never written"}),
        "iv.txt(3): warning: jump-table entry 2 names undefined label \"DAY3\"\n"},
    {"UndefinedJudgeLabel", "\n.LAB MORNING\n", Iv({}, "#1\nMORNING\nA == 1\n\n#2\nEVENING\n"),
        "iv.txt(25): warning: judge block #2 names undefined label \"EVENING\"\n"},
    {"JudgeBlockOfNineConditions", "\n.LAB L\n", Iv({}, kNineConditions),
        "iv.txt(21): warning: judge block #4 has 9 conditions; at most 8 are allowed\n"},
    // The condition line without a right operand swallows the "#2" line, so
    // the blocks' lines are not known for sure.
    {"JudgeLineUnknownAfterMalformedBlock", "\n.LAB L2\n", Iv({}, "#1\nL1\nA ==\n\n#2\nL2\n"),
        "iv.txt(0): warning: judge block #1 names undefined label \"L1\"\n"},
    {"ScriptFindingsBeforeTableFindings", ".LAB X\n", Iv({"Y"}, "#0\nZ\n"),
        "_start.txt(2): warning: label \"X\" does not follow a page break\n"
        "iv.txt(1): warning: jump-table entry 0 names undefined label \"Y\"\n"
        "iv.txt(21): warning: judge block #0 names undefined label \"Z\"\n"},
};

void PrintTo(const LintCase& c, std::ostream* os)
{
    *os << c.name;
}

class KestrelCheckLint : public KestrelCheckTest, public ::testing::WithParamInterface<LintCase> {};

TEST_P(KestrelCheckLint, WarnsAndExitsWithThree)
{
    const LintCase& c = GetParam();
    std::vector<std::string> args = {Write("_start.txt", c.script)};
    if (c.iv) {
        args.push_back("--iv");
        args.push_back(Write("iv.txt", *c.iv));
    }
    const RunResult r = Run(args);
    EXPECT_EQ(r.exitCode, kExitWarnings) << r.err;
    EXPECT_EQ(r.out, c.expected);
    EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, KestrelCheckLint, ::testing::ValuesIn(kLintCases),
    [](const ::testing::TestParamInfo<LintCase>& info) { return std::string(info.param.name); });

TEST_F(KestrelCheckTest, CleanScenarioExitsWithZero)
{
    const std::string script = Write("_start.txt",
        "【ナレーション】\n"
        "どこへ行こう。\n"
        ".SEL go_out 外に出る\n"
        ".SEL STAY_IN 家にいる\n"
        ".SEL Sleep 寝る\n"
        "\n"
        ".LAB GO_OUT\n"
        ".RJP a\n"
        ".RJP B\n"
        ".RJP C\n"
        "＃ 分岐\n"
        ".LAB A\n"
        ".PJP X > 1 b\n"
        ".IVG 1\n"
        "\n"
        ".LAB b\n"
        ".JMP C\n"
        "////\n"
        ".LAB C\n"
        "// a comment line is a page break too\n"
        ".LAB STAY_IN\n"
        "\n"
        ".LAB SLEEP\n"
        ".END\n");
    std::string eight;
    for (int i = 0; i < 8; ++i)
        eight += "V" + std::to_string(i) + " >= " + std::to_string(i) + "\n";
    const std::string iv = Write("iv.txt", Iv({"go_out", "a // note"}, "#1\nb\n" + eight + "#1\nc\n"));
    const RunResult r = Run({script, "--iv", iv}, LeakCheck::On);
    EXPECT_EQ(r.exitCode, kExitClean) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

// ---------------------------------------------------------------------------
// Errors

struct ErrorCase {
    const char* name;
    std::vector<std::string> options; // before the file
    const char* fileName;
    std::string text; // UTF-8
    const char* lastLine;
};

const ErrorCase kErrorCases[] = {
    {"UnknownCommand", {}, "_start.txt", "\n.MESSAGE hello\n", "_start.txt(2): コマンド名が違います。"},
    {"UnknownCommandInDump", {"--dump-nodes"}, "scene2.txt", ".GRPX BG\n", "scene2.txt(1): コマンド名が違います。"},
    {"SyntaxError", {}, "_start.txt", ".GRP A\n.GRP A B C\n", "_start.txt(2): syntax error"},
    {"OneLetterVariable", {}, "_start.txt", ".RST A\n.RST AB\n", "_start.txt(3): 変数名は１文字にして下さい"},
    // Condition lines run up to the next "#", so only the first block can
    // start wrongly.
    {"IvBadFormat", {"--dump-iv"}, "iv.txt", Iv({}, "\n  oops\n#1\nL\n"), "iv.txt(22): 書式が違います"},
};

void PrintTo(const ErrorCase& c, std::ostream* os)
{
    *os << c.name;
}

class KestrelCheckError : public KestrelCheckTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(KestrelCheckError, ReportsTheEngineErrorAndExitsWithOne)
{
    const ErrorCase& c = GetParam();
    std::vector<std::string> args = c.options;
    args.push_back(Write(c.fileName, c.text));
    const RunResult r = Run(args);
    EXPECT_EQ(r.exitCode, kExitError);
    EXPECT_EQ(r.out, "");
    // The engine's own debug line is silenced: the report is all there is.
    EXPECT_EQ(r.err, std::string(c.lastLine) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Cases, KestrelCheckError, ::testing::ValuesIn(kErrorCases),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

TEST_F(KestrelCheckTest, TablesAreReadBeforeTheScript)
{
    // Both files are broken; the engine reads iv.txt first, so its error wins.
    const std::string script = Write("_start.txt", ".BOGUS\n");
    const std::string iv = Write("iv.txt", Iv({}, "oops\n"));
    const RunResult r = Run({script, "--iv", iv}, LeakCheck::On);
    EXPECT_EQ(r.exitCode, kExitError);
    EXPECT_EQ(LastLine(r.err), "iv.txt(21): 書式が違います");
}

TEST_F(KestrelCheckTest, VerboseAlsoShowsTheEngineDebugLine)
{
    const RunResult r = Run({"--verbose", Write("_start.txt", ".BOGUS\n")});
    EXPECT_EQ(r.exitCode, kExitError);
    EXPECT_EQ(r.err, "_start.txt(1): Compile Error: コマンド名が違います。\n_start.txt(1): コマンド名が違います。\n");
}

TEST_F(KestrelCheckTest, MissingFileExitsWithOne)
{
    const std::string script = Write("_start.txt", "\n.LAB A\n");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{PathOf("none.txt")},
             {script, "--iv", PathOf("none.txt")}, {"--dump-nodes", PathOf("none.txt")},
             {"--dump-iv", PathOf("none.txt")}}) {
        const RunResult r = Run(args);
        EXPECT_EQ(r.exitCode, kExitError) << args[0];
        EXPECT_NE(r.err.find("none.txt"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(KestrelCheckTest, UsageErrorsExitWithTwo)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{}, {"--bogus", "a.txt"},
             {"a.txt", "b.txt"}, {"a.txt", "--iv"}, {"--dump-nodes", "--dump-iv", "a.txt"},
             {"--dump-nodes", "a.txt", "--iv", "iv.txt"}, {"--dump-iv"}, {"a.txt", "--iv", "x", "--iv", "y"}}) {
        const RunResult r = Run(args);
        EXPECT_EQ(r.exitCode, kExitUsage) << (args.empty() ? std::string("(none)") : args[0]);
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(KestrelCheckTest, HelpDescribesEveryModeOptionAndExitStatus)
{
    const RunResult help = Run({"--help"});
    EXPECT_EQ(help.exitCode, kExitClean);
    for (const char* word : {"--iv", "--dump-nodes", "--dump-iv", "--verbose", "--help", "warning:", "standard output",
             "Exit status", " 0 ", " 1 ", " 2 ", " 3 "})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

} // namespace
