#include "dxdraw/act/act.h"

#include "core/exception.h"
#include "core/fixheap.h"
#include "core/report.h"

#include <algorithm>
#include <array>
#include <new>
#include <type_traits>

namespace DxDraw {

namespace {

constexpr char kSource[] = "act";

// Where pointers are 4 bytes wide a record is one block of the standard
// 32-byte pool. Wider pointers make it larger and 8-aligned, which those
// 4-aligned blocks cannot hold, so it then has a pool of its own size and
// alignment, with one chunk's worth of room for all the records.
static_assert(sizeof(void*) != 4 || sizeof(ACT) == 32, "a task record is one 32-byte block");
static_assert(std::is_trivially_destructible_v<ACT>);

kestrel::BlockPool& RecordPool()
{
    if constexpr (sizeof(ACT) <= 32 && alignof(ACT) <= 4) {
        return kestrel::Pool32();
    } else {
        // A chunk keeps its header and bitmap in its own allocation; the
        // spare blocks leave room for them.
        static kestrel::BlockPool pool(sizeof(ACT), kActRecordCount + 8, alignof(ACT));
        return pool;
    }
}

// A task being run. The frames of the runs in progress form a stack through
// `outer`, so that freeing or moving a task can tell every iteration that
// holds it: a freed task loses its frame's `task`, and a sibling that leaves
// the ring moves the `next` that points at it on.
struct RunFrame {
    ACT* task;
    ACT* next = nullptr; // the child to run after the current one; null ends the ring
    RunFrame* outer;
};

// A task being destroyed; a second FreeTask of it is ignored.
struct FreeFrame {
    ACT* task;
    FreeFrame* outer;
};

struct TaskPool {
    std::array<ACT*, kActRecordCount> records{}; // every block; the first kActListCount are list heads
    ACT* freeList = nullptr;                     // linked through `next`
    std::int32_t freeCount = 0;
    bool ready = false; // false before InitTasks and while FreeAllTasks runs
    RunFrame* runs = nullptr;
    FreeFrame* frees = nullptr;
};

TaskPool g_pool;

// Marks the records on the free list (their `parent`), so that a stale
// pointer to one is told from a live task.
ACT g_freeMark;

bool IsRecord(const ACT* task)
{
    return task && std::find(g_pool.records.begin(), g_pool.records.end(), task) != g_pool.records.end();
}

bool IsListHead(const ACT* task)
{
    return task && std::find(g_pool.records.begin(), g_pool.records.begin() + kActListCount, task) !=
        g_pool.records.begin() + kActListCount;
}

bool IsLive(const ACT* task)
{
    return IsRecord(task) && task->parent != &g_freeMark;
}

bool IsBeingFreed(const ACT* task)
{
    for (const FreeFrame* frame = g_pool.frees; frame; frame = frame->outer)
        if (frame->task == task)
            return true;
    return false;
}

// A task that can be linked, run and freed: not a head, not free, not on its
// way out.
bool IsLiveTask(const ACT* task)
{
    return IsLive(task) && !IsListHead(task) && !IsBeingFreed(task);
}

// Clears the record and puts it on the free list.
void Release(ACT* task)
{
    *task = ACT{};
    task->parent = &g_freeMark;
    task->next = g_pool.freeList;
    g_pool.freeList = task;
    ++g_pool.freeCount;
}

std::int32_t Send(ACT* task, ActEvent event, ACT* other = nullptr, void* out = nullptr)
{
    return task->callback ? task->callback(task, event, other, out) : 0;
}

// Takes the task out of its parent's ring.
void Unlink(ACT* task)
{
    ACT* parent = task->parent;
    const bool wasLast = parent->lastChild == task;
    for (RunFrame* frame = g_pool.runs; frame; frame = frame->outer)
        if (frame->next == task)
            frame->next = wasLast ? nullptr : task->next;

    if (task->next == task) {
        parent->lastChild = nullptr;
    } else {
        ACT* previous = task->next;
        while (previous->next != task)
            previous = previous->next;
        previous->next = task->next;
        if (wasLast)
            parent->lastChild = previous;
    }
    task->parent = nullptr;
    task->next = nullptr;
}

void Destroy(ACT* task)
{
    FreeFrame frame{task, g_pool.frees};
    g_pool.frees = &frame;
    struct Pop {
        FreeFrame& frame;
        ~Pop() { g_pool.frees = frame.outer; }
    } pop{frame};

    // First to last. A child that is itself being destroyed further out stays
    // for that destruction to finish; the ones after it still go.
    for (;;) {
        ACT* child = nullptr;
        if (ACT* last = task->lastChild) {
            ACT* candidate = last->next;
            for (;;) {
                if (!IsBeingFreed(candidate)) {
                    child = candidate;
                    break;
                }
                if (candidate == last)
                    break;
                candidate = candidate->next;
            }
        }
        if (!child)
            break;
        Destroy(child);
    }
    // What is left is being destroyed further out (a child's ChildRemoved
    // handler freed this task): it no longer has a parent to leave.
    if (ACT* last = task->lastChild) {
        ACT* child = last;
        do {
            ACT* following = child->next;
            child->parent = nullptr;
            child->next = child;
            child = following;
        } while (child != last);
        task->lastChild = nullptr;
    }

    if (ACT* parent = task->parent) {
        Send(parent, ActEvent::ChildRemoved, task);
        // The handler may have freed the parent, which then let go of the task.
        if (task->parent)
            Unlink(task);
    }
    for (RunFrame* run = g_pool.runs; run; run = run->outer)
        if (run->task == task)
            run->task = nullptr;
    Send(task, ActEvent::Destroy);
    Release(task);
}

void Append(ACT* parent, ACT* child)
{
    if (ACT* oldParent = child->parent) {
        Send(oldParent, ActEvent::ChildRemoved, child);
        if (child->parent == &g_freeMark)
            return; // the old parent's handler freed it
        if (child->parent)
            Unlink(child);
    }
    if (ACT* last = parent->lastChild) {
        child->next = last->next;
        last->next = child;
    } else {
        child->next = child;
    }
    parent->lastChild = child;
    child->parent = parent;
    Send(child, ActEvent::Attach, parent);
}

// Whether `task` is `ancestor` or lies under it.
bool IsWithin(const ACT* task, const ACT* ancestor)
{
    for (; task; task = task->parent)
        if (task == ancestor)
            return true;
    return false;
}

} // namespace

bool InitTasks()
{
    if (g_pool.ready)
        FreeAllTasks();

    kestrel::BlockPool& pool = RecordPool();
    for (std::size_t index = 0; index < g_pool.records.size(); ++index) {
        void* block = pool.PoolAlloc(sizeof(ACT));
        if (!block) {
            kestrel::DebugOutput(u"InitTasks: out of memory for the task records");
            for (std::size_t taken = 0; taken < index; ++taken)
                pool.PoolFree(g_pool.records[taken]);
            g_pool.records = {};
            return false;
        }
        g_pool.records[index] = new (block) ACT{};
    }
    // The lowest free record is handed out first.
    g_pool.freeList = nullptr;
    g_pool.freeCount = 0;
    for (std::int32_t index = kActRecordCount - 1; index >= kActListCount; --index)
        Release(g_pool.records[index]);
    g_pool.ready = true;
    return true;
}

void FreeAllTasks()
{
    if (!g_pool.ready)
        return;
    // From a Destroy or ChildRemoved handler the task being destroyed would
    // outlive its record.
    KESTREL_ASSERT(g_pool.frees == nullptr, kSource);
    if (g_pool.frees)
        return;
    g_pool.ready = false;

    for (std::int32_t index = 0; index < kActListCount; ++index)
        Destroy(g_pool.records[index]);
    // Tasks that were never put in a list (a wait in progress, say) still
    // hold state that their callbacks free on Destroy.
    for (ACT* task : g_pool.records)
        if (task->parent == nullptr)
            Destroy(task);

    kestrel::BlockPool& pool = RecordPool();
    for (ACT*& task : g_pool.records) {
        pool.PoolFree(task);
        task = nullptr;
    }
    g_pool.freeList = nullptr;
    g_pool.freeCount = 0;
}

ACT* MakeACT(ActCallback callback, void* userData)
{
    if (!g_pool.ready || !g_pool.freeList)
        kestrel::ThrowException(u"act", u"MakeACT: Empty Memory!!");

    ACT* task = g_pool.freeList;
    g_pool.freeList = task->next;
    --g_pool.freeCount;
    *task = ACT{};
    task->callback = callback;
    task->userData = userData;
    task->active = 1;
    task->status = 0;
    try {
        Send(task, ActEvent::Create);
    } catch (...) {
        // The callback may have made children or put the task in a list
        // before it failed: undo all of it.
        if (IsLive(task) && !IsBeingFreed(task))
            Destroy(task);
        throw;
    }
    return task;
}

void AddTask(std::int32_t listIndex, ACT* task)
{
    ACT* head = TaskList(listIndex);
    const bool valid = head != nullptr && IsLiveTask(task);
    KESTREL_ASSERT(valid, kSource);
    if (valid)
        Append(head, task);
}

void AddChildTask(ACT* parent, ACT* child)
{
    const bool valid = IsLiveTask(parent) && IsLiveTask(child) && !IsWithin(parent, child);
    KESTREL_ASSERT(valid, kSource);
    if (valid)
        Append(parent, child);
}

void RunTasks(std::int32_t from, std::int32_t to)
{
    if (to == -1)
        to = kActListCount - 1;
    const bool inRange = from >= 0 && to < kActListCount;
    KESTREL_ASSERT(inRange, kSource);
    if (!inRange)
        return;
    // A callback may shut the pool down (FreeAllTasks) in the middle.
    for (std::int32_t index = from; index <= to && g_pool.ready; ++index)
        RunTask(g_pool.records[index]);
}

bool RunTask(ACT* task)
{
    if (!task)
        return false;
    RunFrame frame{task, nullptr, g_pool.runs};
    g_pool.runs = &frame;
    struct Pop {
        RunFrame& frame;
        ~Pop() { g_pool.runs = frame.outer; }
    } pop{frame};

    Send(task, ActEvent::Step);
    if (!frame.task)
        return false;
    // The next child is chosen before the current one runs; Unlink keeps it
    // right when that sibling leaves the ring meanwhile.
    ACT* child = task->lastChild ? task->lastChild->next : nullptr;
    while (child) {
        frame.next = child == task->lastChild ? nullptr : child->next;
        if (child->active)
            RunTask(child);
        if (!frame.task)
            return false;
        child = frame.next;
    }
    Send(task, ActEvent::StepAfterChildren);
    return frame.task != nullptr;
}

void FreeTask(ACT* task)
{
    if (!task || IsBeingFreed(task))
        return;
    const bool live = IsLiveTask(task);
    KESTREL_ASSERT(live, kSource);
    if (live)
        Destroy(task);
}

std::int32_t SendTaskEvent(ACT* task, ActEvent event, ACT* other, void* out)
{
    return task ? Send(task, event, other, out) : 0;
}

void WaitForTask(ACT* task, const std::function<void()>& stepFrame, void* result)
{
    if (!task)
        return;
    // The wait watches the task like a run does: whoever frees it meanwhile
    // (the task itself, a frame's commands, FreeAllTasks) clears `frame.task`,
    // so the wait neither drives nor frees a record that is no longer its own.
    struct Watch {
        RunFrame frame;
        ~Watch()
        {
            g_pool.runs = frame.outer;
            if (frame.task)
                FreeTask(frame.task);
        }
    } watch{{task, nullptr, g_pool.runs}};
    g_pool.runs = &watch.frame;
    while (watch.frame.task && task->status != kActFinished) {
        if (!RunTask(task))
            return;
        stepFrame();
    }
    if (watch.frame.task && result)
        Send(task, ActEvent::Query, nullptr, result);
}

std::int32_t AvailableTaskCount()
{
    return g_pool.ready ? g_pool.freeCount : 0;
}

ACT* TaskList(std::int32_t index)
{
    if (!g_pool.ready || index < 0 || index >= kActListCount)
        return nullptr;
    return g_pool.records[index];
}

} // namespace DxDraw
