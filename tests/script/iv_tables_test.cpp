#include "core/exception.h"
#include "script/node.h"
#include "script/runtime.h"
#include "script/variables.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace TextScript {
namespace {

using kestrel::ExceptionHandle;

std::vector<std::uint8_t> Bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

// Twenty jump lines: J00 ... J19, with notes.
std::string JumpLines()
{
    std::string out;
    for (int i = 0; i < 20; ++i)
        out += "  J" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "\tnote " + std::to_string(i) + "\r\n";
    return out;
}

// A script with one labelled page per jump and judge label.
std::string LabelScript()
{
    std::string out = ".IVG KEY\n";
    for (const char* label : {"J00", "J05", "J19", "KEYTHREE", "FIRST", "SECOND", "EQZERO", "NEZERO", "SINGLE",
             "GREATER", "NOOP", "J01"})
        out += std::string("\n.LAB ") + label + "\n.END\n";
    return out;
}

class IvTablesTest : public ::testing::Test {
protected:
    void SetUp() override { Variables().Clear(); }

    void Load(const std::string& iv)
    {
        m_group.ReadTables(Bytes(iv), u"iv.txt");
        m_group.Compile(Bytes(LabelScript()), u"_start.txt");
    }

    // The label of the page a judge jump for `key` reaches.
    std::u16string JumpFor(std::int32_t key)
    {
        ScriptStateNode* page = m_group.JudgeJump(key);
        return page && page->Next() ? std::u16string(page->Next()->Argument(0).value_or(u"?")) : u"(none)";
    }

    ScriptStateGroup m_group;
    kestrel::test::DebugCapture m_debug;
};

TEST_F(IvTablesTest, ReadsJumpLinesAndJudgeBlocks)
{
    Load(JumpLines() + "// judge blocks\r\n#3 trailing words\r\nKEYTHREE\r\n\r\n#4\nfirst\n  a010 == 0 // c\n"
                       "B <= 7\n#4\nSECOND\n#900000\n J01 \n");
    const IVJUMPTABLEGROUP& jumps = m_group.JumpTable();
    ASSERT_EQ(jumps.Count(), 20);
    EXPECT_EQ(jumps.First()->label, u"J00");
    EXPECT_EQ(jumps.First()->note, u"note 0");
    EXPECT_EQ(jumps.Nth(-1)->label, u"J19");

    const IVJUDGETABLEGROUP& judges = m_group.JudgeTable();
    ASSERT_EQ(judges.Count(), 4);
    const IVJUDGETABLENODE* first = judges.Nth(1);
    EXPECT_EQ(first->key, 4);
    EXPECT_EQ(first->label, u"FIRST");
    ASSERT_EQ(first->ConditionCount(), 2);
    EXPECT_EQ(first->conditions[0].left, u"A010");
    EXPECT_EQ(first->conditions[0].op, '=');
    EXPECT_EQ(first->conditions[0].right, u"0");
    EXPECT_EQ(first->conditions[1].op, '[');
    EXPECT_EQ(judges.Nth(0)->ConditionCount(), 0);
    EXPECT_EQ(judges.Nth(3)->key, 900000);
}

TEST_F(IvTablesTest, OperatorTable)
{
    struct Case {
        char first, second, stored;
    };
    const Case cases[] = {
        {'=', '=', '='}, {'=', ' ', '='}, {'<', '>', '!'}, {'>', '>', '>'},
        {'>', '=', ']'}, {'<', '<', '<'}, {'<', '=', '['}, {'>', ' ', 0}, {'!', '=', 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IvOperator(c.first, c.second), c.stored) << c.first << c.second;
    EXPECT_TRUE(IvConditionHolds(']', 3, 3));
    EXPECT_FALSE(IvConditionHolds('!', 3, 3));
    EXPECT_FALSE(IvConditionHolds(0, 3, 3)); // no valid operator never holds
}

TEST_F(IvTablesTest, JudgeJumpRules)
{
    Load(JumpLines() +
        "#3\nKEYTHREE\n"
        "#3\nJ19\n"                                   // a second entry for 3 never wins over the first
        "#7\nFIRST\nX == 1\n#7\nSECOND\nX == 1\n"     // both hold: the first wins
        "#8\nEQZERO\nA010 == 0\n#8\nJ19\n"
        "#9\nNEZERO\nA010 <> 0\n"                       // undefined variables are 0
        "#10\nSINGLE\nA010 = 0\n"                       // "=" and any character is "=="
        "#11\nGREATER\nA010 > -1\n");                   // ">" and a blank: no valid operator
    Variables().SetOrCreate(u"X", 1);
    struct Case {
        std::int32_t key;
        std::u16string label;
    };
    const Case cases[] = {
        {3, u"KEYTHREE"}, {7, u"FIRST"}, {8, u"EQZERO"}, {9, u"J09"}, {10, u"SINGLE"}, {11, u"J11"},
        {5, u"J05"},   // no judge entry: the sixth jump line
        {-1, u"J19"},  // negative keys count from the last line
        {-20, u"J00"},
    };
    for (const Case& c : cases) {
        if (c.label == u"J09" || c.label == u"J11") {
            // Those jump lines have no label in the script.
            EXPECT_THROW(m_group.JudgeJump(c.key), kestrel::ScriptError2) << c.key;
            continue;
        }
        EXPECT_EQ(JumpFor(c.key), c.label) << c.key;
    }
    try {
        m_group.JudgeJump(20); // past the table
        ADD_FAILURE();
    } catch (const kestrel::ScriptError2& e) {
        EXPECT_EQ(e.Message(), u"ラベルが見つかりません。[20]");
    }
}

TEST_F(IvTablesTest, IvgRunsThroughTheTables)
{
    m_group.ReadTables(Bytes(JumpLines()), u"iv.txt");
    m_group.Compile(Bytes(".IVG KEY\n\n.LAB J05\n.PST HIT = 5\n.JMP FIN\n\n.LAB J01\n.PST HIT = 1\n\n.LAB FIN\n"),
        u"_start.txt");
    Variables().SetOrCreate(u"KEY", 5);
    EXPECT_EQ(m_group.Run(-1), 0);
    EXPECT_EQ(Variables().Value(u"HIT", 0), 5);
    // BeginRun creates the variables that judge conditions name.
    ScriptStateGroup other;
    other.ReadTables(Bytes(JumpLines() + "#1\nJ01\nNEWVAR == OTHER\n"), u"iv.txt");
    other.BeginRun();
    EXPECT_NE(Variables().Find(0, u"NEWVAR"), nullptr);
    EXPECT_NE(Variables().Find(0, u"OTHER"), nullptr);
}

TEST_F(IvTablesTest, FormatErrors)
{
    struct Case {
        std::string iv;
        std::int32_t line;
        std::u16string message;
    };
    const Case cases[] = {
        {JumpLines() + "\n\nJ00\n", 23, u"書式が違います"},
        {"A\nB\n", 3, u"ジャンプテーブルは20行必要です"},
        {"", 1, u"ジャンプテーブルは20行必要です"},
    };
    for (const Case& c : cases) {
        ScriptStateGroup group;
        try {
            group.ReadTables(Bytes(c.iv), u"iv.txt");
            ADD_FAILURE() << c.iv;
        } catch (const ExceptionHandle& e) {
            EXPECT_EQ(e.Source(), u"iv.txt");
            EXPECT_EQ(e.Line(), c.line);
            EXPECT_EQ(e.Message(), c.message);
            EXPECT_EQ(m_debug.lines().back(), kestrel::Format(u"iv.txt(%d): Compile Error: %s", c.line, c.message));
        }
    }
}

} // namespace
} // namespace TextScript
