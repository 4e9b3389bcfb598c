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

// A node class whose text nodes do what their text says, so that tests can
// see where execution went and raise what a game command would.
class TraceNode : public ScriptStateNode {
public:
    explicit TraceNode(std::vector<std::u16string>& trace) : m_trace(trace) {}
    ScriptStateNode* Execute() override
    {
        if (m_kind == kNodeLgr) { // ".LGR WORD" stands for any game command
            const std::u16string word(Argument(0).value_or(u""));
            m_trace.push_back(word);
            if (word == u"TITLE")
                throw kestrel::ScriptException(kestrel::ScriptException::ReturnToTitle);
            if (word == u"LOAD")
                throw kestrel::ScriptException(kestrel::ScriptException::LoadSlot);
            if (word == u"BACK")
                throw kestrel::ScriptException(kestrel::ScriptException::GoBack);
            if (word == u"QUIT")
                kestrel::ThrowExceptionOfType(ExceptionHandle::kTypeQuit, u"main", u"Quit");
            if (word == u"FAIL")
                kestrel::ThrowException(u"dxdraw/dxdraw", u"file not found");
        }
        return ScriptStateNode::Execute();
    }

private:
    std::vector<std::u16string>& m_trace;
};

class TraceGroup : public ScriptStateGroup {
public:
    ScriptStateNode* CreateNode() override
    {
        auto* node = new TraceNode(trace);
        node->m_line = Reader().Line();
        return node;
    }
    void EndRun() override { ++endRuns; }

    std::vector<std::u16string> trace;
    int endRuns = 0;
};

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Variables().Clear();
        PageSnapshot().Clear();
        Globals() = RunGlobals{};
        ResetRandom();
    }

    // Compiles and runs a script; returns Run's result.
    // Each script gets a fresh group.
    std::int32_t RunScript(std::string_view script, std::int32_t startPage = -1)
    {
        m_group = std::make_unique<TraceGroup>();
        m_group->Compile(Bytes(script), u"test.txt");
        return m_group->Run(startPage);
    }

    // Runs a script that must fail; returns the exception.
    ExceptionHandle RunFailing(std::string_view script, std::int32_t startPage = -1)
    {
        try {
            RunScript(script, startPage);
        } catch (const ExceptionHandle& e) {
            return e;
        }
        ADD_FAILURE() << "the run did not fail";
        return {};
    }

    std::int32_t Var(std::u16string_view name) { return Variables().Value(name, -999); }

    std::unique_ptr<TraceGroup> m_group;
    kestrel::test::DebugCapture m_debug;
};

TEST_F(RuntimeTest, PstArithmeticAndItsError)
{
    EXPECT_EQ(RunScript(".PST A + 5\n.PST B + 1\n.PST B - 3\n.PST C = 4294967297\n.PST D - 1\n.PST D + 1\n"), 0);
    EXPECT_EQ(Var(u"A"), 5);
    EXPECT_EQ(Var(u"B"), -2);
    EXPECT_EQ(Var(u"C"), 1); // 32-bit wrap-around
    EXPECT_EQ(Var(u"D"), 0);

    const ExceptionHandle e = RunFailing(".PST A = 1\n.PST A = B\n");
    EXPECT_EQ(e.Source(), u"test.txt");
    EXPECT_EQ(e.Line(), 3); // the line after the statement
    EXPECT_EQ(e.Message(), u"数値を指定してください。");
    EXPECT_EQ(m_debug.lines().back(), u"test.txt(3): Runtime Error: 数値を指定してください。");
    EXPECT_EQ(Var(u"A"), 1); // what ran before the error stays
}

TEST_F(RuntimeTest, VariablesAreOrderedByKeyThenCreation)
{
    VariableTable& table = Variables();
    EXPECT_EQ(VariableTable::KeyOf(u"A"), 0x9F49F478u);
    EXPECT_EQ(VariableTable::KeyOf(u"AB"), VariableTable::KeyOf(u"A")); // ASCII names: only the first byte counts
    EXPECT_EQ(VariableTable::KeyOf(u"あ"), 0xCCCCCC61u);
    for (const char16_t* name : {u"b", u"AB", u"あ", u"Z", u"a", u"_X"})
        table.SetOrCreate(name, 1);
    std::vector<std::u16string> order;
    table.ForEach([&](VariableEntry& e) { order.push_back(e.name); });
    EXPECT_EQ(order, (std::vector<std::u16string>{u"Z", u"AB", u"A", u"B", u"_X", u"あ"}));

    EXPECT_EQ(table.Value(u"12ab", 7), 12);
    EXPECT_EQ(table.Value(u"NONE", 7), 7);
    EXPECT_EQ(table.Value(u"ab", 7), 1); // case is ignored
    table.Ensure(u"5");
    table.Ensure(u"NEW");
    EXPECT_EQ(table.Size(), 7u);
    EXPECT_EQ(table.Find(0, u"new")->value, 0);
}

TEST_F(RuntimeTest, ResetCommands)
{
    struct Case {
        const char* command;
        std::vector<std::pair<std::u16string, std::int32_t>> expected;
    };
    const Case cases[] = {
        {".RST A\n", {{u"A", 0}, {u"ABC", 0}, {u"B", 2}, {u"X1", 3}}},
        {".RST a\n", {{u"A", 0}, {u"ABC", 0}, {u"B", 2}, {u"X1", 3}}},
        {".RSX A\n", {{u"A", 1}, {u"ABC", 1}, {u"B", 0}, {u"X1", 0}}},
        {".RSP ABC\n", {{u"A", 1}, {u"ABC", 0}, {u"B", 2}, {u"X1", 3}}},
    };
    for (const Case& c : cases) {
        TraceGroup group;
        Variables().Clear();
        for (auto [name, value] : {std::pair{u"A", 1}, {u"ABC", 1}, {u"B", 2}, {u"X1", 3}})
            Variables().SetOrCreate(name, value);
        group.Compile(Bytes(c.command), u"t.txt");
        group.Run(-1);
        for (const auto& [name, value] : c.expected)
            EXPECT_EQ(Var(name), value) << c.command << std::string(name.begin(), name.end());
    }
    RunScript(".RSP NEWONE\n");
    EXPECT_EQ(Var(u"NEWONE"), 0);
}

TEST_F(RuntimeTest, JumpsContinueAtThePageBeforeTheLabel)
{
    EXPECT_EQ(RunScript(".JMP THERE\n.LGR SKIPPED\n\n.LAB THERE\n.LGR REACHED\n\n.LAB THERE\n.LGR SECOND\n"), 0);
    EXPECT_EQ(m_group->trace, (std::vector<std::u16string>{u"REACHED", u"SECOND"})); // the first label wins

    const ExceptionHandle missing = RunFailing(".JMP NOWHERE\n");
    EXPECT_EQ(missing.Message(), u"ラベルが見つかりません。[NOWHERE]");
    EXPECT_EQ(missing.Line(), 2);

    const ExceptionHandle noBreak = RunFailing(".JMP L\n.LGR X\n.LAB L\n");
    EXPECT_EQ(noBreak.Message(), u"ラベルの直前にページ区切りがありません");
    EXPECT_EQ(noBreak.Line(), 2); // reported with the line of the jump being executed
}

TEST_F(RuntimeTest, ConditionalJumps)
{
    struct Case {
        const char* script;
        std::u16string reached;
    };
    const Case cases[] = {
        {".PJP A = B YES\n.LGR NO\n.JMP END\n\n.LAB YES\n.LGR YES\n\n.LAB END\n", u"YES"}, // 0 = 0
        {".PST A = 3\n.PJP A < 3 YES\n.LGR NO\n.JMP END\n\n.LAB YES\n.LGR YES\n\n.LAB END\n", u"NO"},
        {".PST A = 3\n.PJP A > 2 YES\n.LGR NO\n.JMP END\n\n.LAB YES\n.LGR YES\n\n.LAB END\n", u"YES"},
        {".PST A = 3\n.PJP 2 < A YES\n.LGR NO\n.JMP END\n\n.LAB YES\n.LGR YES\n\n.LAB END\n", u"YES"},
    };
    for (const Case& c : cases) {
        TraceGroup group;
        Variables().Clear();
        group.Compile(Bytes(c.script), u"t.txt");
        group.Run(-1);
        ASSERT_EQ(group.trace.size(), 1u) << c.script;
        EXPECT_EQ(group.trace[0], c.reached) << c.script;
    }
}

TEST_F(RuntimeTest, ReplayModeLeavesVariablesAndJumpsAlone)
{
    Globals().replayMode = true;
    RunScript(".PST A = 5\n.PJP A = 0 L\n.LGR STAYED\n\n.LAB L\n.LGR JUMPED\n");
    EXPECT_EQ(Var(u"A"), -999);
    EXPECT_EQ(m_group->trace, (std::vector<std::u16string>{u"STAYED", u"JUMPED"}));
}

TEST_F(RuntimeTest, RandomJumpNeedsExactlyThreeAndStartsTheSameWay)
{
    const char* script = ".RJP L1\n.RJP L2\n.RJP L3\n\n.LAB L1\n.LGR ONE\n.END\n\n.LAB L2\n.LGR TWO\n.END\n\n"
                         ".LAB L3\n.LGR THREE\n.END\n";
    // state 1 -> 2745024, (2745024 >> 16) & 0x7FFF = 41, 41 mod 3 = 2: the third label.
    RunScript(script);
    ASSERT_FALSE(m_group->trace.empty());
    EXPECT_EQ(m_group->trace[0], u"THREE");

    for (const char* wrong : {".RJP L1\n.RJP L2\n\n.LAB L1\n\n.LAB L2\n", ".RJP A\n.RJP A\n.RJP A\n.RJP A\n\n.LAB A\n"}) {
        TraceGroup group;
        group.Compile(Bytes(wrong), u"t.txt");
        try {
            group.Run(-1);
            ADD_FAILURE() << wrong;
        } catch (const ExceptionHandle& e) {
            EXPECT_EQ(e.Message(), u"RJP: ジャンプ先を３つ指定してください。");
        }
    }
}

TEST_F(RuntimeTest, RunFromAPage)
{
    const char* script = ".LGR P0\n\n.LGR P1\n\n.LGR P2\n\n.LGR P3\n\n.LGR P4\n";
    EXPECT_EQ(RunScript(script, 2), 0);
    EXPECT_EQ(m_group->trace, (std::vector<std::u16string>{u"P2", u"P3", u"P4"}));
    EXPECT_EQ(Globals().currentPage, 2);

    const ExceptionHandle e = RunFailing(script, 5);
    EXPECT_EQ(e.Message(), u"再開できるページが見つかりません");
    EXPECT_EQ(e.Line(), 5); // the page number stands in for a line
}

TEST_F(RuntimeTest, RequestsAndFailuresEndTheRun)
{
    struct Case {
        const char* command;
        std::int32_t result;
        bool snapshot;
    };
    const Case cases[] = {
        {".LGR TITLE\n", 1, true},
        {".LGR LOAD\n", 2, true},
        {".LGR BACK\n", 0, false},
        {".LGR QUIT\n", 0, false},
        {".LGR FAIL\n", 0, false},
    };
    for (const Case& c : cases) {
        TraceGroup group;
        Variables().Clear();
        PageSnapshot().Clear();
        Variables().SetOrCreate(u"V", 9);
        group.Compile(Bytes(std::string(c.command) + ".LGR AFTER\n"), u"t.txt");
        EXPECT_EQ(group.Run(-1), c.result) << c.command;
        EXPECT_EQ(group.trace.size(), 1u) << c.command;
        EXPECT_EQ(group.endRuns, 1) << c.command;
        EXPECT_EQ(PageSnapshot().Size(), c.snapshot ? 1u : 0u) << c.command;
    }
    // A failing command's message reaches the debug output even though the run just ends.
    const std::u16string& last = m_debug.lines().back();
    EXPECT_EQ(last.rfind(u"dxdraw/dxdraw(", 0), 0u);
    EXPECT_EQ(last.substr(last.size() - 17), u"): file not found");
}

TEST_F(RuntimeTest, ClmSkipsItsRun)
{
    RunScript(".LGR A\n.CLM \x82\xa0\n.CLM \x82\xa2\n.LGR B\n");
    EXPECT_EQ(m_group->trace, (std::vector<std::u16string>{u"A", u"B"}));
}

} // namespace
} // namespace TextScript
