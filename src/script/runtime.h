// What a running script shares: the run globals, the random generator and
// the script loader.
#pragma once

#include "archive/archive.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace TextScript {

class ScriptStateGroup;

struct RunGlobals {
    std::int32_t currentPage = 0; // the resume position a save records
    std::int32_t startPage = -1;  // -1: from the beginning
    bool replayMode = false;      // scene replay: PST and PJP do nothing
    std::int32_t loadSlot = 0;
    bool startLabelRequest = false; // the title menu asks for a new game at PRSK
    ScriptStateGroup* runningGroup = nullptr;
};

RunGlobals& Globals();

// The three-way jump's generator: state = state * 214013 + 2531011, result
// (state >> 16) & 0x7FFF. The state starts at 1 and is never reseeded, so
// the first value after start is always the same.
std::int32_t Random();
// Puts the generator back to its state at start (for tests).
void ResetRandom();

// The file's bytes and one NUL after them, from the game's data archive.
// Throws kestrel::ExceptionHandle ("Script: file not found '%s'") when missing.
std::vector<std::uint8_t> LoadScriptFile(kestrel::IArchive& archive, std::u16string_view name);

// Run-time error texts.
inline constexpr std::u16string_view kLabelNotFound = u"ラベルが見つかりません。[%s]";
inline constexpr std::u16string_view kNoPageBreakBeforeLabel = u"ラベルの直前にページ区切りがありません";
inline constexpr std::u16string_view kNumberExpected = u"数値を指定してください。";
inline constexpr std::u16string_view kRjpNeedsThree = u"RJP: ジャンプ先を３つ指定してください。";
inline constexpr std::u16string_view kNoResumePage = u"再開できるページが見つかりません";

} // namespace TextScript
