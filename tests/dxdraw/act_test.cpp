#include "core/exception.h"
#include "dxdraw/act/act.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace DxDraw {
namespace {

using Log = std::vector<std::string>;
using Hook = std::function<void(ACT* task, ActEvent event)>;

// What a test task is: a name for the log, and what it does on an event.
struct Probe {
    std::string name;
    Log* log = nullptr;
    Hook hook;
    std::int32_t queryResult = 0;
};

std::string NameOf(const ACT* task)
{
    if (!task)
        return "-";
    if (task->callback)
        return static_cast<const Probe*>(task->userData)->name;
    for (std::int32_t index = 0; index < kActListCount; ++index)
        if (TaskList(index) == task)
            return "list " + std::to_string(index);
    return "?";
}

// Logs "name:event", with "(other)" for the events that carry one, before the
// hook runs (the hook may free the task).
std::int32_t Record(ACT* task, ActEvent event, ACT* other, void* out)
{
    Probe& probe = *static_cast<Probe*>(task->userData);
    std::string entry = probe.name + ":" + std::to_string(static_cast<int>(event));
    if (event == ActEvent::ChildRemoved || event == ActEvent::Attach)
        entry += "(" + NameOf(other) + ")";
    probe.log->push_back(entry);
    if (event == ActEvent::Query)
        *static_cast<std::int32_t*>(out) = probe.queryResult;
    if (probe.hook)
        probe.hook(task, event);
    return 0;
}

// Hooks for one event only.
Hook On(ActEvent which, std::function<void(ACT*)> action)
{
    return [which, action = std::move(action)](ACT* task, ActEvent event) {
        if (event == which)
            action(task);
    };
}

std::size_t AssertionCount(const kestrel::test::DebugCapture& capture)
{
    return std::count_if(capture.lines().begin(), capture.lines().end(), [](const std::u16string& line) {
        return line.find(u"Assert(") != std::u16string::npos && line.find(u"File act,") != std::u16string::npos;
    });
}

// The children of a list or task, first to last.
std::vector<ACT*> Children(const ACT* parent)
{
    std::vector<ACT*> children;
    if (ACT* last = parent->lastChild) {
        ACT* child = last;
        do {
            child = child->next;
            children.push_back(child);
        } while (child != last);
    }
    return children;
}

class ActTest : public ::testing::Test {
protected:
    ACT* Make(const std::string& name, Hook hook = {})
    {
        Probe& probe = m_probes.emplace_back();
        probe.name = name;
        probe.log = &m_log;
        probe.hook = std::move(hook);
        return MakeACT(&Record, &probe);
    }
    ACT* MakeChild(ACT* parent, const std::string& name, Hook hook = {})
    {
        ACT* child = Make(name, std::move(hook));
        AddChildTask(parent, child);
        return child;
    }
    static Probe& ProbeOf(ACT* task) { return *static_cast<Probe*>(task->userData); }
    Log TakeLog() { return std::exchange(m_log, {}); }
    // Only the entries of one event.
    Log TakeLog(ActEvent event)
    {
        const std::string suffix = ":" + std::to_string(static_cast<int>(event));
        Log kept;
        for (const std::string& entry : TakeLog())
            if (entry.size() >= suffix.size() &&
                entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) == 0)
                kept.push_back(entry);
        return kept;
    }

    std::deque<Probe> m_probes; // stable addresses for the tasks' user data
    Log m_log;
    ActPoolScope m_pool; // last: its shutdown still logs into the probes
};

using ActPool = ActTest;
using ActLinks = ActTest;
using ActRun = ActTest;
using ActFree = ActTest;
using ActWait = ActTest;

TEST_F(ActPool, HoldsOneHundredTwelveTasksBecauseTheListHeadsTakeSixteenRecords)
{
    ASSERT_TRUE(m_pool.Ready());
    std::set<ACT*> heads;
    for (std::int32_t index = 0; index < kActListCount; ++index) {
        ACT* head = TaskList(index);
        ASSERT_NE(head, nullptr);
        EXPECT_EQ(head->callback, nullptr);
        EXPECT_EQ(head->lastChild, nullptr);
        heads.insert(head);
    }
    EXPECT_EQ(heads.size(), 16u);
    EXPECT_EQ(TaskList(-1), nullptr);
    EXPECT_EQ(TaskList(16), nullptr);
    EXPECT_EQ(AvailableTaskCount(), 128 - 16);

    std::set<ACT*> tasks;
    for (int made = 0; made < 112; ++made)
        tasks.insert(Make("t"));
    EXPECT_EQ(tasks.size(), 112u);
    for (ACT* head : heads)
        EXPECT_EQ(tasks.count(head), 0u);
    EXPECT_EQ(AvailableTaskCount(), 0);
    EXPECT_EQ(TakeLog().size(), 112u);

    try {
        Make("113th");
        FAIL() << "the 113th task was made";
    } catch (const kestrel::ExceptionHandle& error) {
        EXPECT_EQ(error.Message(), u"MakeACT: Empty Memory!!");
        EXPECT_EQ(error.Source(), u"act");
        EXPECT_FALSE(error.IsQuit());
    }
    EXPECT_TRUE(TakeLog().empty()) << "the failed task got an event";

    // A freed record is the next one handed out.
    ACT* freed = *std::next(tasks.begin(), 40);
    FreeTask(freed);
    EXPECT_EQ(AvailableTaskCount(), 1);
    EXPECT_EQ(Make("again"), freed);
}

TEST_F(ActPool, ACreateThatThrowsLeavesNoTaskBehind)
{
    while (AvailableTaskCount() > 2)
        MakeACT(nullptr, nullptr);
    // The parent takes one record and its first child the last: the second
    // child's MakeACT throws out of the parent's Create.
    EXPECT_THROW(Make("P", On(ActEvent::Create,
                                [this](ACT* task) {
                                    AddTask(6, task);
                                    for (int child = 0; child < 2; ++child)
                                        MakeChild(task, "child");
                                })),
        kestrel::ExceptionHandle);
    EXPECT_EQ(TakeLog(),
        (Log{"P:1", "P:4(list 6)", "child:1", "child:4(P)", "P:3(child)", "child:2", "P:2"}));
    EXPECT_EQ(AvailableTaskCount(), 2);
    EXPECT_EQ(TaskList(6)->lastChild, nullptr);
}

TEST_F(ActPool, FreeAllTasksDestroysEverythingAndNeedsANewInit)
{
    ACT* a = Make("a");
    AddTask(0, a);
    MakeChild(a, "a1");
    AddTask(15, Make("b"));
    MakeChild(Make("c"), "c1"); // never put in a list
    TakeLog();

    FreeAllTasks();
    EXPECT_EQ(TakeLog(), (Log{"a:3(a1)", "a1:2", "a:2", "b:2", "c:3(c1)", "c1:2", "c:2"}));
    EXPECT_EQ(TaskList(0), nullptr);
    EXPECT_EQ(AvailableTaskCount(), 0);
    EXPECT_THROW(MakeACT(nullptr, nullptr), kestrel::ExceptionHandle);
    RunTasks(0, -1);
    FreeAllTasks();
    EXPECT_TRUE(TakeLog().empty());

    // A step may shut the pool down: nothing runs after it.
    ASSERT_TRUE(InitTasks());
    EXPECT_EQ(AvailableTaskCount(), 112);
    AddTask(0, Make("x", On(ActEvent::Step, [](ACT*) { FreeAllTasks(); })));
    AddTask(1, Make("y"));
    TakeLog();
    RunTasks(0, -1);
    EXPECT_EQ(TakeLog(), (Log{"x:5", "x:2", "y:2"}));
    EXPECT_TRUE(InitTasks());
}

TEST_F(ActLinks, MakeAndAddSetTheRecordUp)
{
    int userData = 0;
    ACT* bare = MakeACT(nullptr, &userData);
    EXPECT_EQ(bare->parent, nullptr);
    EXPECT_EQ(bare->lastChild, nullptr);
    EXPECT_EQ(bare->callback, nullptr);
    EXPECT_EQ(bare->userData, &userData);
    EXPECT_EQ(bare->work, nullptr);
    EXPECT_EQ(bare->active, 1);
    EXPECT_EQ(bare->status, 0);

    ACT* task = Make("T");
    EXPECT_EQ(task->callback, &Record);
    AddTask(9, task);
    EXPECT_EQ(task->parent, TaskList(9));
    ACT* later = Make("U");
    AddTask(9, later);
    EXPECT_EQ(Children(TaskList(9)), (std::vector<ACT*>{task, later}));
    EXPECT_EQ(TakeLog(), (Log{"T:1", "T:4(list 9)", "U:1", "U:4(list 9)"}));

    // A task that has a parent leaves it first, and the parent hears of it.
    ACT* parent = Make("P");
    ACT* child = MakeChild(parent, "C");
    EXPECT_EQ(child->parent, parent);
    TakeLog();
    AddTask(4, child);
    EXPECT_EQ(TakeLog(), (Log{"P:3(C)", "C:4(list 4)"}));
    EXPECT_EQ(parent->lastChild, nullptr);
    EXPECT_EQ(child->parent, TaskList(4));
    AddTask(9, task); // to the end of its own list
    EXPECT_EQ(Children(TaskList(9)), (std::vector<ACT*>{later, task}));
}

TEST_F(ActLinks, RefusesBadListsRangesAndCycles)
{
    kestrel::test::DebugCapture capture;
    ACT* a = Make("A");
    ACT* b = MakeChild(a, "B");
    TakeLog();

    AddTask(16, a);
    AddTask(-1, a);
    AddTask(0, TaskList(1)); // a head is no task
    AddChildTask(a, a);
    AddChildTask(b, a); // a would be under itself
    RunTasks(0, 16);
    RunTasks(-1, 3);
    EXPECT_EQ(AssertionCount(capture), 7u);
    EXPECT_TRUE(TakeLog().empty());
    EXPECT_EQ(a->parent, nullptr);
    EXPECT_EQ(b->parent, a);
    EXPECT_EQ(TaskList(0)->lastChild, nullptr);
}

TEST_F(ActRun, ListsRunInPriorityOrderAtTheFramePhases)
{
    for (auto [list, name] : std::vector<std::pair<int, std::string>>{
             {5, "L5"}, {0, "L0a"}, {15, "L15"}, {2, "L2"}, {0, "L0b"}, {1, "L1"}, {3, "L3"}})
        AddTask(list, Make(name));
    TakeLog();

    RunTasks(0, 1);
    EXPECT_EQ(TakeLog(ActEvent::Step), (Log{"L0a:5", "L0b:5", "L1:5"}));
    RunTasks(2, 2);
    EXPECT_EQ(TakeLog(ActEvent::Step), (Log{"L2:5"}));
    RunTasks(3);
    EXPECT_EQ(TakeLog(ActEvent::Step), (Log{"L3:5", "L5:5", "L15:5"}));
    RunTasks(0, -1);
    EXPECT_EQ(TakeLog(ActEvent::Step), (Log{"L0a:5", "L0b:5", "L1:5", "L2:5", "L3:5", "L5:5", "L15:5"}));
}

TEST_F(ActRun, ParentsStepAroundTheirActiveChildren)
{
    ACT* p = Make("P");
    AddTask(3, p);
    ACT* c1 = MakeChild(p, "C1");
    MakeChild(c1, "G");
    MakeChild(p, "C2");
    ACT* q = Make("Q");
    AddTask(3, q);
    TakeLog();

    RunTasks(3, 3);
    EXPECT_EQ(TakeLog(), (Log{"P:5", "C1:5", "G:5", "G:6", "C1:6", "C2:5", "C2:6", "P:6", "Q:5", "Q:6"}));

    // An inactive task is skipped with everything under it, in a list as
    // under a task; run directly, it runs.
    c1->active = 0;
    q->active = 0;
    RunTasks(3, 3);
    EXPECT_EQ(TakeLog(), (Log{"P:5", "C2:5", "C2:6", "P:6"}));
    EXPECT_TRUE(RunTask(c1));
    EXPECT_EQ(TakeLog(), (Log{"C1:5", "G:5", "G:6", "C1:6"}));
}

TEST_F(ActRun, TasksFreedDuringAStepLeaveTheRestOfTheRingRunning)
{
    // List 7 holds A, B (with the child B1) and C; one task frees another
    // (or itself) at its step.
    struct Case {
        std::string freer;
        std::string freed;
        Log expected;
    };
    const std::vector<Case> cases = {
        {"B", "B", {"A:5", "A:6", "B:5", "B:3(B1)", "B1:2", "B:2", "C:5", "C:6"}},
        {"C", "C", {"A:5", "A:6", "B:5", "B1:5", "B1:6", "B:6", "C:5", "C:2"}},
        {"B", "C", {"A:5", "A:6", "B:5", "C:2", "B1:5", "B1:6", "B:6"}},
        {"B", "A", {"A:5", "A:6", "B:5", "A:2", "B1:5", "B1:6", "B:6", "C:5", "C:6"}},
        {"A", "B", {"A:5", "B:3(B1)", "B1:2", "B:2", "A:6", "C:5", "C:6"}},
        {"B1", "B", {"A:5", "A:6", "B:5", "B1:5", "B:3(B1)", "B1:2", "B:2", "C:5", "C:6"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.freer + " frees " + test.freed);
        ASSERT_TRUE(InitTasks());
        std::map<std::string, ACT*> tasks;
        auto hookFor = [&](const std::string& name) {
            return name == test.freer ? On(ActEvent::Step, [&](ACT*) { FreeTask(tasks.at(test.freed)); }) : Hook{};
        };
        for (const std::string name : {"A", "B", "C"}) {
            tasks[name] = Make(name, hookFor(name));
            AddTask(7, tasks[name]);
        }
        tasks["B1"] = MakeChild(tasks["B"], "B1", hookFor("B1"));
        TakeLog();

        RunTasks(7, 7);
        EXPECT_EQ(TakeLog(), test.expected);
        EXPECT_EQ(AvailableTaskCount(), 112 - 4 + (test.freed == "B" ? 2 : 1));
    }
}

TEST_F(ActRun, ARecordFreedAndMadeAgainInOneStepGetsNoneOfTheOldEvents)
{
    ACT* successor = nullptr;
    ACT* b = Make("B", On(ActEvent::Step, [&](ACT* task) {
        FreeTask(task);
        successor = Make("D");
    }));
    AddTask(0, Make("A"));
    AddTask(0, b);
    AddTask(0, Make("C"));
    TakeLog();

    RunTasks(0, 0);
    EXPECT_EQ(successor, b) << "the free list should hand the record straight back";
    EXPECT_EQ(TakeLog(), (Log{"A:5", "A:6", "B:5", "B:2", "D:1", "C:5", "C:6"}));
    EXPECT_TRUE(RunTask(successor));
    EXPECT_FALSE(RunTask(Make("E", On(ActEvent::Step, [](ACT* task) { FreeTask(task); }))));
}

TEST_F(ActFree, ChildrenGoFirstAndEachIsReportedToItsParentBeforeTheParentGoes)
{
    ACT* p = Make("P");
    AddTask(1, p);
    ACT* c1 = MakeChild(p, "C1");
    MakeChild(c1, "G");
    MakeChild(p, "C2");
    AddTask(1, Make("Q"));
    TakeLog();

    FreeTask(p);
    EXPECT_EQ(TakeLog(), (Log{"C1:3(G)", "G:2", "P:3(C1)", "C1:2", "P:3(C2)", "C2:2", "P:2"}));
    EXPECT_EQ(AvailableTaskCount(), 112 - 1);
    EXPECT_EQ(NameOf(TaskList(1)->lastChild), "Q");
    EXPECT_EQ(Children(TaskList(1)).size(), 1u);

    // The freed records come back cleared.
    ACT* again = Make("R");
    EXPECT_EQ(again->parent, nullptr);
    EXPECT_EQ(again->lastChild, nullptr);
}

TEST_F(ActFree, ASecondFreeIsIgnoredWhileDestroyingAndRefusedAfterwards)
{
    kestrel::test::DebugCapture capture;
    ACT* self = Make("S", On(ActEvent::Destroy, [](ACT* task) { FreeTask(task); }));
    FreeTask(self);
    EXPECT_EQ(TakeLog(), (Log{"S:1", "S:2"}));
    EXPECT_EQ(AssertionCount(capture), 0u);

    ACT* gone = Make("A");
    FreeTask(gone);
    FreeTask(gone);
    FreeTask(TaskList(2));
    ACT foreign;
    FreeTask(&foreign);
    FreeTask(nullptr);
    EXPECT_EQ(AssertionCount(capture), 3u);
    EXPECT_EQ(TakeLog(), (Log{"A:1", "A:2"}));
    EXPECT_EQ(AvailableTaskCount(), 112);
    ASSERT_NE(TaskList(2), nullptr);
}

TEST_F(ActFree, AParentFreedOnHearingOfAChildLetsThatChildGo)
{
    kestrel::test::DebugCapture capture;
    ACT* p = Make("P", On(ActEvent::ChildRemoved, [](ACT* task) { FreeTask(task); }));
    AddTask(8, p);
    ACT* c = MakeChild(p, "C");
    MakeChild(p, "D");
    TakeLog();

    // C is on its way out when P goes: P takes D with it and leaves C to
    // finish, without a parent to leave.
    FreeTask(c);
    EXPECT_EQ(TakeLog(), (Log{"P:3(C)", "P:3(D)", "D:2", "P:2", "C:2"}));
    EXPECT_EQ(AvailableTaskCount(), 112);
    EXPECT_EQ(TaskList(8)->lastChild, nullptr);
    EXPECT_EQ(AssertionCount(capture), 0u);
}

TEST_F(ActWait, StepsThenAFrameUntilFinishedThenQueriesAndFrees)
{
    int steps = 0;
    ACT* task = Make("W", On(ActEvent::Step, [&](ACT* self) {
        if (++steps == 3)
            self->status = kActFinished;
    }));
    ProbeOf(task).queryResult = 42;
    std::int32_t result = 0;
    WaitForTask(task, [this] { m_log.push_back("frame"); }, &result);
    EXPECT_EQ(TakeLog(), (Log{"W:1", "W:5", "W:6", "frame", "W:5", "W:6", "frame", "W:5", "W:6", "frame", "W:7",
                             "W:2"}));
    EXPECT_EQ(result, 42);
    EXPECT_EQ(AvailableTaskCount(), 112);

    // Finished at creation: no step, no frame; no result asked, no query.
    WaitForTask(Make("F", On(ActEvent::Create, [](ACT* self) { self->status = kActFinished; })),
        [this] { m_log.push_back("frame"); });
    EXPECT_EQ(TakeLog(), (Log{"F:1", "F:2"}));
}

TEST_F(ActWait, TheTaskIsFreedOnEveryWayOut)
{
    kestrel::test::DebugCapture capture;
    EXPECT_THROW(WaitForTask(Make("W"), [] { throw kestrel::ScriptException(kestrel::ScriptException::LoadSlot); }),
        kestrel::ScriptException);
    EXPECT_EQ(TakeLog(), (Log{"W:1", "W:5", "W:6", "W:2"}));
    EXPECT_EQ(AvailableTaskCount(), 112);

    std::int32_t result = 0;
    WaitForTask(Make("S", On(ActEvent::Step, [](ACT* task) { FreeTask(task); })), [] {}, &result);
    EXPECT_EQ(TakeLog(), (Log{"S:1", "S:5", "S:2"}));
    EXPECT_EQ(AvailableTaskCount(), 112);

    // Freed by the frame's commands, and its record made again at once: the
    // wait ends without driving or freeing the newcomer.
    static ACT* waited = nullptr;
    static ACT* newcomer = nullptr;
    waited = Make("E");
    WaitForTask(waited, [this] {
        FreeTask(waited);
        newcomer = Make("N");
    });
    EXPECT_EQ(TakeLog(), (Log{"E:1", "E:5", "E:6", "E:2", "N:1"}));
    EXPECT_EQ(AvailableTaskCount(), 111);
    FreeTask(newcomer);
    TakeLog();

    // Everything freed while the wait goes on.
    WaitForTask(Make("A"), [] { FreeAllTasks(); });
    EXPECT_EQ(TakeLog(), (Log{"A:1", "A:5", "A:6", "A:2"}));
    EXPECT_EQ(AssertionCount(capture), 0u);
}

} // namespace
} // namespace DxDraw
