// One game run: load the tables and the script, ask the title menu, start or
// resume the scenario, and tell the main loop how the run ended.
//
// What the run needs from the rest of the game is reached through the narrow
// interfaces below; the game side implements them, and tests use doubles.
#pragma once

#include "archive/archive.h"
#include "script/node.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace TextScript {

// The game's group class (its node class executes the game's commands).
class GroupFactory {
public:
    virtual ~GroupFactory() = default;
    virtual std::unique_ptr<ScriptStateGroup> CreateGroup() = 0;
    // The group's list of scenes, cleared at the start and end of a run.
    virtual void ClearSceneList(ScriptStateGroup& group) = 0;
};

class TitleMenu {
public:
    virtual ~TitleMenu() = default;
    // -1 back to the title, 0 quit, 1 new game, n >= 2 load slot n - 1.
    virtual std::int32_t Show() = 0;
};

class SaveStore {
public:
    virtual ~SaveStore() = default;
    virtual void LoadGlobals() = 0;
    virtual void SaveGlobals() = 0;
    // Loads a slot: sets the start page, restores the scene records and the variables.
    virtual void LoadGame(std::int32_t slot) = 0;
    virtual void SetGlobalFlag(std::int32_t flag) = 0;
};

// The five records of what is on screen and playing.
class SceneRecords {
public:
    virtual ~SceneRecords() = default;
    virtual void MarkEmpty() = 0;
};

// The message history and the album list a run keeps.
class RunLists {
public:
    virtual ~RunLists() = default;
    virtual void Create() = 0;
    virtual void Free() = 0;
};

class MenuItems {
public:
    virtual ~MenuItems() = default;
    virtual void Enable(std::int32_t commandId) = 0;
};

struct GameRunHost {
    kestrel::IArchive& data; // the archive scripts and iv.txt come from
    GroupFactory& groups;
    TitleMenu& title;
    SaveStore& save;
    SceneRecords& scenes;
    RunLists& lists;
    MenuItems& menu;
};

inline constexpr std::int32_t kMenuReturnToTitle = 40003;
inline constexpr std::int32_t kMenuLoad = 40011;
// Set when the scenario has been played through (REPR non-zero).
inline constexpr std::int32_t kFlagReplayUnlocked = 16383;
inline constexpr std::u16string_view kStartLabel = u"PRSK";

// Runs one game; returns 0 to end the program, 1 to show the title again,
// n >= 2 to load slot n - 1.
std::int32_t RunGame(GameRunHost& host, std::u16string_view scriptName, std::int32_t previous);

} // namespace TextScript
