#include "script/run_game.h"

#include "core/exception.h"
#include "core/format.h"
#include "core/report.h"
#include "script/runtime.h"
#include "script/variables.h"

namespace TextScript {

namespace {

// The running group is reachable from the scene replay and the debug window
// while the run lasts, and never after it.
class RunningGroup {
public:
    explicit RunningGroup(ScriptStateGroup* group) { Globals().runningGroup = group; }
    ~RunningGroup() { Globals().runningGroup = nullptr; }
    RunningGroup(const RunningGroup&) = delete;
    RunningGroup& operator=(const RunningGroup&) = delete;
};

// The start page of a new game: the beginning, or the page before the label
// the title menu asked for.
std::int32_t NewGameStartPage(ScriptStateGroup& group)
{
    RunGlobals& globals = Globals();
    if (!globals.startLabelRequest)
        return -1;
    globals.startLabelRequest = false;
    ScriptStateNode* page = group.FindLabel(kStartLabel);
    if (!page) {
        // A script without the label starts from its beginning.
        kestrel::DebugOutput(kestrel::Format(u"%s: no label %s, starting from the beginning", group.FileName(),
            kStartLabel));
        return -1;
    }
    return page->m_page;
}

std::int32_t PlayRun(GameRunHost& host, ScriptStateGroup& group, std::int32_t previous)
{
    RunGlobals& globals = Globals();
    if (previous < 2) {
        const std::int32_t answer = host.title.Show();
        if (answer == -1)
            return 1;
        if (answer == 0)
            return 0;
        if (answer >= 2)
            previous = answer;
    }
    host.scenes.MarkEmpty();
    host.menu.Enable(kMenuReturnToTitle);
    host.menu.Enable(kMenuLoad);
    if (previous >= 2) {
        host.save.LoadGame(previous - 1);
    } else {
        globals.startPage = NewGameStartPage(group);
    }
    globals.replayMode = false;
    const std::int32_t result = group.Run(globals.startPage);
    if (Variables().Value(u"REPR", 0) != 0)
        host.save.SetGlobalFlag(kFlagReplayUnlocked);
    return result;
}

void EndRun(GameRunHost& host, ScriptStateGroup& group)
{
    host.save.SaveGlobals();
    host.groups.ClearSceneList(group);
    host.scenes.MarkEmpty();
    host.lists.Free();
}

} // namespace

std::int32_t RunGame(GameRunHost& host, std::u16string_view scriptName, std::int32_t previous)
{
    std::unique_ptr<ScriptStateGroup> group = host.groups.CreateGroup();
    RunningGroup running(group.get());

    const std::vector<std::uint8_t> tables = LoadScriptFile(host.data, u"iv.txt");
    group->ReadTables(tables, u"iv.txt");
    const std::vector<std::uint8_t> script = LoadScriptFile(host.data, scriptName);
    group->Compile(script, scriptName);

    host.groups.ClearSceneList(*group);
    Variables().Clear();
    host.scenes.MarkEmpty();
    host.lists.Create();
    host.save.LoadGlobals();
    host.menu.Enable(kMenuReturnToTitle);
    Globals().startLabelRequest = false;

    std::int32_t result = 0;
    try {
        result = PlayRun(host, *group, previous);
    } catch (const kestrel::ExceptionHandle& exception) {
        EndRun(host, *group);
        if (exception.IsQuit())
            return 0;
        throw;
    }
    EndRun(host, *group);
    return result;
}

} // namespace TextScript
