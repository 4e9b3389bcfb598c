#include "check.h"

#include "core/cp932.h"
#include "core/text.h"
#include "script/variables.h"

#include <algorithm>
#include <optional>
#include <set>

namespace kestrel::check {

namespace {

using TextScript::ScriptStateNode;

// The jump table has this many lines; judge blocks start after them.
constexpr std::int32_t kJumpLines = 20;
// The most choices one menu holds, and the RJP run the engine accepts.
constexpr std::int32_t kMaxMenuChoices = 3;
constexpr std::int32_t kRandomJumpRun = 3;

// Label names as the engine compares them: ASCII letters in upper case.
std::u16string LabelKey(std::u16string_view name)
{
    return TextScript::VariableTable::UpperCase(name);
}

// Built by appending: GCC 12 warns falsely about "literal" + string in release builds.
std::string Quoted(std::u16string_view text)
{
    std::string out(1, '"');
    out += Escape(text);
    out += '"';
    return out;
}

std::string CommandName(std::uint8_t kind)
{
    switch (kind) {
    case TextScript::kNodeJmp:
        return "JMP";
    case TextScript::kNodeRjp:
        return "RJP";
    case TextScript::kNodePjp:
        return "PJP";
    case TextScript::kNodeSel:
        return "SEL";
    default:
        return std::to_string(kind);
    }
}

// The argument a jump node names its label with, if the node is a jump.
std::optional<std::u16string_view> JumpLabel(const ScriptStateNode& node)
{
    switch (node.m_kind) {
    case TextScript::kNodeJmp:
    case TextScript::kNodeRjp:
    case TextScript::kNodeSel:
        return node.Argument(0);
    case TextScript::kNodePjp:
        return node.Argument(2);
    default:
        return std::nullopt;
    }
}

// The number of nodes of `node`'s kind in a row, starting at `node`.
std::int32_t RunLength(const ScriptStateNode* node)
{
    const std::uint8_t kind = node->m_kind;
    std::int32_t count = 0;
    for (; node && node->m_kind == kind; node = node->Next())
        ++count;
    return count;
}

void AppendEscaped(std::string& out, std::string_view utf8)
{
    for (char c : utf8) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

} // namespace

std::string FormatFinding(const Finding& finding)
{
    return Utf16ToUtf8(finding.file) + "(" + std::to_string(finding.line) + "): warning: " + finding.text;
}

std::vector<Finding> Lint(const TextScript::ScriptStateGroup& script, std::u16string_view scriptName,
    const TableSource* tables)
{
    std::set<std::u16string> labels;
    for (const ScriptStateNode* node = script.First(); node; node = node->Next()) {
        if (node->m_kind == TextScript::kNodeLab)
            labels.insert(LabelKey(node->Argument(0).value_or(u"")));
    }
    const auto defined = [&labels](std::u16string_view name) { return labels.count(LabelKey(name)) != 0; };

    std::vector<Finding> findings;
    const auto warnScript = [&](const ScriptStateNode& node, std::string text) {
        findings.push_back({std::u16string(scriptName), node.m_line, std::move(text)});
    };

    for (const ScriptStateNode* node = script.First(); node; node = node->Next()) {
        const ScriptStateNode* prev = node->Prev();
        const bool startsRun = !prev || prev->m_kind != node->m_kind;
        switch (node->m_kind) {
        case TextScript::kNodeLab:
            if (!prev || prev->m_kind != TextScript::kNodePage)
                warnScript(*node, "label " + Quoted(node->Argument(0).value_or(u"")) + " does not follow a page break");
            break;
        case TextScript::kNodeRjp:
            if (const std::int32_t run = startsRun ? RunLength(node) : kRandomJumpRun; run != kRandomJumpRun) {
                warnScript(*node, "run of " + std::to_string(run) + " RJP lines; exactly " +
                        std::to_string(kRandomJumpRun) + " are needed");
            }
            break;
        case TextScript::kNodeSel:
            if (const std::int32_t run = startsRun ? RunLength(node) : 0; run > kMaxMenuChoices) {
                warnScript(*node, "run of " + std::to_string(run) + " SEL lines; a menu holds at most " +
                        std::to_string(kMaxMenuChoices) + " choices");
            }
            break;
        default:
            break;
        }
        if (const std::optional<std::u16string_view> label = JumpLabel(*node); label && !defined(*label))
            warnScript(*node, CommandName(node->m_kind) + " to undefined label " + Quoted(*label));
    }

    if (!tables)
        return findings;

    std::int32_t index = 0;
    if (tables->jumpTable) {
        for (const TextScript::IVJUMPTABLENODE* entry = tables->jumpTable->First(); entry;
             entry = entry->Next(), ++index) {
            // An entry without a label is an unused slot.
            if (!entry->label.empty() && !defined(entry->label)) {
                findings.push_back({tables->fileName, index + 1,
                    "jump-table entry " + std::to_string(index) + " names undefined label " + Quoted(entry->label)});
            }
        }
    }
    if (tables->judgeTable) {
        index = 0;
        for (const TextScript::IVJUDGETABLENODE* entry = tables->judgeTable->First(); entry;
             entry = entry->Next(), ++index) {
            const std::int32_t line =
                static_cast<std::size_t>(index) < tables->judgeLines.size() ? tables->judgeLines[index] : 0;
            const std::string block = "judge block #" + std::to_string(entry->key);
            if (entry->ConditionCount() > TextScript::IVJUDGETABLENODE::kMaxConditions) {
                findings.push_back({tables->fileName, line,
                    block + " has " + std::to_string(entry->ConditionCount()) + " conditions; at most " +
                        std::to_string(TextScript::IVJUDGETABLENODE::kMaxConditions) + " are allowed"});
            }
            if (!defined(entry->label))
                findings.push_back({tables->fileName, line, block + " names undefined label " + Quoted(entry->label)});
        }
    }
    return findings;
}

std::vector<std::int32_t> JudgeBlockLines(std::span<const std::uint8_t> bytes, std::int32_t blocks)
{
    // The same reading as the engine's: a leading NUL means a 128-byte header,
    // a NUL ends the text, and "\r\n", "\r" and "\n" each end one line. A
    // block starts on a line whose first byte after blanks is "#".
    std::size_t pos = !bytes.empty() && bytes[0] == 0 ? std::min<std::size_t>(128, bytes.size()) : 0;
    std::vector<std::int32_t> lines;
    std::int32_t line = 1;
    bool lineStart = true;
    for (; pos < bytes.size() && bytes[pos] != 0; ++pos) {
        const std::uint8_t c = bytes[pos];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && pos + 1 < bytes.size() && bytes[pos + 1] == '\n')
                ++pos;
            ++line;
            lineStart = true;
        } else if (lineStart && c != ' ' && c != '\t') {
            if (c == '#' && line > kJumpLines)
                lines.push_back(line);
            lineStart = false;
        }
    }
    if (lines.size() != static_cast<std::size_t>(blocks))
        lines.clear();
    return lines;
}

std::string Escape(std::u16string_view text)
{
    std::string out;
    AppendEscaped(out, Utf16ToUtf8(text));
    return out;
}

std::string EscapeWidenedBytes(std::u16string_view text)
{
    std::string bytes;
    for (char16_t unit : text) {
        if (unit > 0xFF)
            return Escape(text);
        bytes += static_cast<char>(unit);
    }
    return Escape(Cp932ToUtf16(bytes));
}

std::string DumpNodes(const TextScript::ScriptStateGroup& script)
{
    std::string out;
    for (const ScriptStateNode* node = script.First(); node; node = node->Next()) {
        out += std::to_string(node->m_line) + "\t" + std::to_string(node->m_kind) + "\t" +
            std::to_string(static_cast<unsigned char>(node->m_operator)) + "\t" + std::to_string(node->m_page);
        for (int i = 0; i < node->ArgumentCount(); ++i) {
            out += '\t';
            out += Escape(node->Argument(i).value_or(u""));
        }
        out += "\n";
    }
    return out;
}

std::string DumpTables(const TextScript::IVJUMPTABLEGROUP& jumpTable, const TextScript::IVJUDGETABLEGROUP& judgeTable)
{
    std::string out;
    std::int32_t index = 0;
    for (const TextScript::IVJUMPTABLENODE* entry = jumpTable.First(); entry; entry = entry->Next(), ++index)
        out += "J\t" + std::to_string(index) + "\t" + Escape(entry->label) + "\t" + EscapeWidenedBytes(entry->note) + "\n";
    for (const TextScript::IVJUDGETABLENODE* entry = judgeTable.First(); entry; entry = entry->Next()) {
        out += "K\t" + std::to_string(entry->key) + "\t" + Escape(entry->label) + "\t" +
            std::to_string(entry->ConditionCount()) + "\n";
        for (const TextScript::IVCONDITION& condition : entry->conditions) {
            out += "C\t" + Escape(condition.left) + "\t" + (condition.op ? std::string(1, condition.op) : "0") + "\t" +
                Escape(condition.right) + "\n";
        }
    }
    return out;
}

} // namespace kestrel::check
