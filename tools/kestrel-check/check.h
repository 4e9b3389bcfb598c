// What kestrel-check finds and prints, apart from the command line: the
// lint passes over a compiled script and its iv.txt tables, and the text
// dumps of both.
#pragma once

#include "script/node.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::check {

// One warning: FILE(LINE): warning: TEXT.
struct Finding {
    std::u16string file; // base name of the script or of iv.txt
    std::int32_t line = 0;
    std::string text;    // UTF-8
};

// "FILE(LINE): warning: TEXT" in UTF-8, without a line feed.
std::string FormatFinding(const Finding& finding);

// The tables of iv.txt to check next to the script, with the best source
// line known for each entry.
struct TableSource {
    std::u16string fileName; // base name
    const TextScript::IVJUMPTABLEGROUP* jumpTable = nullptr;
    const TextScript::IVJUDGETABLEGROUP* judgeTable = nullptr;
    // The line of each judge block's "#KEY" line, in table order; empty (and
    // every block reported at line 0) when they are not known.
    std::vector<std::int32_t> judgeLines;
};

// Everything the engine would only stumble on while running: jumps to labels
// that do not exist, labels after something other than a page break, RJP
// runs of other than three, menus of more than three SEL lines, and, when
// tables are given, their labels and over-long judge blocks. Script findings
// come first, in list order, then the jump table's, then the judge table's.
std::vector<Finding> Lint(const TextScript::ScriptStateGroup& script, std::u16string_view scriptName,
    const TableSource* tables);

// The line of every judge block's "#KEY" line in the bytes of an iv.txt that
// read into `blocks` judge entries; empty when the lines found do not match
// the entries one to one (a block swallowed by a malformed one before it).
std::vector<std::int32_t> JudgeBlockLines(std::span<const std::uint8_t> bytes, std::int32_t blocks);

// Text as UTF-8 with "\" "\n" "\t" "\r" written as \\ \n \t \r.
std::string Escape(std::u16string_view text);
// A text whose units are bytes widened one by one (the notes of iv.txt):
// the bytes read as code page 932, escaped as above.
std::string EscapeWidenedBytes(std::u16string_view text);

// One line per node in list order: LINE TAB KIND TAB OP TAB PAGE, then TAB ARG
// for each argument.
std::string DumpNodes(const TextScript::ScriptStateGroup& script);
// J TAB INDEX TAB LABEL TAB NOTE per jump entry, then K TAB KEY TAB LABEL TAB
// COUNT per judge block followed by C TAB LEFT TAB OP TAB RIGHT per condition.
std::string DumpTables(const TextScript::IVJUMPTABLEGROUP& jumpTable, const TextScript::IVJUDGETABLEGROUP& judgeTable);

} // namespace kestrel::check
