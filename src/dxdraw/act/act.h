// Action tasks: everything that changes over several frames.
//
// A fade, a wipe, the animated wait icon or a timed wait is a task: a small
// record with a callback that receives a step event once per frame. Tasks sit
// in sixteen priority lists that the frame step runs at fixed points, and a
// task may have child tasks, which run between their parent's two step events.
//
// The records come from a fixed pool of 128, taken from a block pool when the
// pool is initialised: the first 16 are the heads of the priority lists, so at
// most 112 tasks exist at once, and the next MakeACT throws. Creating, running
// and freeing tasks never allocates; a callback may allocate its own state
// once, at creation, and frees it when it is destroyed.
//
// The frame step runs the lists in this order: RunTasks(0, 1); the tree's
// Tick; RunTasks(2, 2); the tree's Draw; then lists 3 to 15. Lists 3 and 4
// belong to drawing: on a frame that is not drawn only 5 to 15 run.
//
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace DxDraw {

struct ACT;

// What a task's callback is told. The numbers are part of every callback's
// contract and do not change.
enum class ActEvent : std::int32_t {
    Create = 1,            // sent by MakeACT once the record is set up
    Destroy = 2,           // the task is going away: free the state in `work`
    ChildRemoved = 3,      // sent to the parent; `other` is the child leaving
    Attach = 4,            // put into a list or under a parent; `other` is the new parent
    Step = 5,              // once per run, before the children run
    StepAfterChildren = 6, // once per run, after the children ran
    Query = 7,             // write the task's result through `out` (its meaning is the task's own)
};

// `other` and `out` are null unless the event says otherwise. The return value
// goes back to whoever sent the event (SendTaskEvent); the task system itself
// ignores it.
using ActCallback = std::int32_t (*)(ACT* task, ActEvent event, ACT* other, void* out);

// The status a task sets when it has finished; 0 at creation, and any other
// value is the callback's own.
inline constexpr std::int32_t kActFinished = -1;

inline constexpr std::int32_t kActRecordCount = 128;
inline constexpr std::int32_t kActListCount = 16;
// The records left for tasks once the list heads are taken.
inline constexpr std::int32_t kActTaskCapacity = kActRecordCount - kActListCount;

// One task. Where pointers are 4 bytes wide this is exactly one 32-byte
// block; the links are maintained by the functions below and are only read
// by callbacks.
struct ACT {
    ACT* parent = nullptr;    // a list head or another task; null when free-standing
    ACT* next = nullptr;      // next sibling: siblings form a ring
    ACT* lastChild = nullptr; // tail of the child ring; null when there are no children
    ActCallback callback = nullptr;
    void* userData = nullptr;   // given to MakeACT
    void* work = nullptr;       // the callback's own state; null at creation
    std::int32_t active = 1;    // 0: the parent's run skips this task and its children
    std::int32_t status = 0;    // kActFinished when done; other values are the callback's
};

// Takes the 128 records from the block pool: 16 list heads, 112 free. An
// initialised pool is emptied first (FreeAllTasks). False, with a line on the
// debug output, when the blocks cannot be had; the pool then stays empty.
bool InitTasks();

// Destroys the sixteen lists with all their tasks (children first, with the
// events of FreeTask), then every free-standing task that is still alive, and
// gives all records back to the block pool. Tasks cannot be made while this
// runs; the pool must be initialised again before further use. A step may
// call it; a Destroy or ChildRemoved handler may not (it is refused).
void FreeAllTasks();

// A new free-standing task with `callback` and `userData`, active, status 0;
// the callback gets ActEvent::Create before this returns. Throws
// ExceptionHandle "MakeACT: Empty Memory!!" (source "act") when all records are
// in use or the pool is not initialised; no task is made then. When the
// callback throws on Create, the task is freed (it gets Destroy) and the
// exception goes on.
ACT* MakeACT(ActCallback callback, void* userData);

// Appends the task to the end of priority list listIndex (0 to 15) and sends
// it ActEvent::Attach. A task that has a parent already leaves it first (the
// old parent gets ActEvent::ChildRemoved).
void AddTask(std::int32_t listIndex, ACT* task);
// The same under another task: `child` becomes the last child of `parent`. A
// task cannot be put under itself or under one of its own descendants.
void AddChildTask(ACT* parent, ACT* child);

// Runs lists from..to in order; to = -1 means the last list.
void RunTasks(std::int32_t from, std::int32_t to = -1);

// Runs one task: ActEvent::Step; then each child, first to last, whose
// active flag is set (recursively, so an inactive child's children do not run
// either); then ActEvent::StepAfterChildren. Any task may be freed during the
// run, the running one included: the iteration moves on to the next sibling
// still in the ring, and a freed task gets no further events. Returns whether
// the task still exists afterwards.
bool RunTask(ACT* task);

// Destroys the task: first every child (recursively, first to last); then, if
// it has a parent, the parent gets ActEvent::ChildRemoved with the task and
// the task leaves the ring; then the task gets ActEvent::Destroy; finally the
// record is cleared and goes back to the free list. Null is ignored; a task
// that is already being destroyed is left to that destruction, and a record
// that is not a live task (a list head, a free record, a foreign pointer) is
// refused with an assertion report.
void FreeTask(ACT* task);

// Sends an event to the task's callback and returns what it returns (0 when
// the task has no callback).
std::int32_t SendTaskEvent(ACT* task, ActEvent event, ACT* other = nullptr, void* out = nullptr);

// Runs the task one step and then one frame (`stepFrame`), over and over,
// until the task's status is kActFinished; then, when `result` is given,
// sends ActEvent::Query with it, and frees the task. A status that is already
// kActFinished runs neither. The task is freed on every way out, including an
// exception from the frame step or the callback. It should be free-standing
// (a task in a list would also run with the lists); a task that frees itself
// during its step ends the wait without a query.
void WaitForTask(ACT* task, const std::function<void()>& stepFrame, void* result = nullptr);

// Records that MakeACT can still hand out.
std::int32_t AvailableTaskCount();
// The head of priority list `index`, or null when the index is out of range or
// the pool is not initialised. Heads have no callback; their children are the
// list's tasks.
ACT* TaskList(std::int32_t index);

// Owns a task and frees it when it goes. Only for tasks nobody else frees: a
// task destroyed with its parent, or by FreeAllTasks, must be released from
// its owner first.
struct ActDeleter {
    void operator()(ACT* task) const { FreeTask(task); }
};
using ActPtr = std::unique_ptr<ACT, ActDeleter>;

// Initialises the pool for its lifetime (start-up to shutdown).
class ActPoolScope {
public:
    ActPoolScope() : m_ready(InitTasks()) {}
    ~ActPoolScope() { FreeAllTasks(); }
    ActPoolScope(const ActPoolScope&) = delete;
    ActPoolScope& operator=(const ActPoolScope&) = delete;

    bool Ready() const { return m_ready; }

private:
    bool m_ready;
};

} // namespace DxDraw
