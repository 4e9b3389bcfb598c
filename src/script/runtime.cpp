#include "script/runtime.h"

#include "core/exception.h"
#include "core/format.h"
#include "core/report.h"
#include "script/node.h"
#include "script/variables.h"

#include <mutex>

namespace TextScript {

using kestrel::ExceptionHandle;
using kestrel::Format;
using kestrel::ScriptError;
using kestrel::ScriptError2;
using kestrel::ScriptException;

namespace {

struct RandomState {
    std::mutex lock;
    std::uint32_t state = 1;
};

RandomState& TheRandom()
{
    static RandomState random;
    return random;
}

bool SameLabel(std::u16string_view a, std::u16string_view b)
{
    return VariableTable::UpperCase(a) == VariableTable::UpperCase(b);
}

std::u16string_view ArgumentOrEmpty(const ScriptStateNode& node, int i)
{
    return node.Argument(i).value_or(std::u16string_view());
}

[[noreturn]] void ThrowLabelNotFound(std::u16string_view label)
{
    throw ScriptError2(0, Format(kLabelNotFound, label));
}

} // namespace

RunGlobals& Globals()
{
    static RunGlobals globals;
    return globals;
}

std::int32_t Random()
{
    RandomState& random = TheRandom();
    std::lock_guard guard(random.lock);
    random.state = random.state * 214013u + 2531011u;
    return static_cast<std::int32_t>((random.state >> 16) & 0x7FFF);
}

void ResetRandom()
{
    RandomState& random = TheRandom();
    std::lock_guard guard(random.lock);
    random.state = 1;
}

std::vector<std::uint8_t> LoadScriptFile(kestrel::IArchive& archive, std::u16string_view name)
{
    std::optional<std::vector<std::uint8_t>> bytes = kestrel::ReadArchiveText(archive, name);
    if (!bytes)
        kestrel::ThrowException(u"script/scr_gui", u"Script: file not found '%s'", name);
    return std::move(*bytes);
}

// --- labels ---------------------------------------------------------------

ScriptStateNode* ScriptStateGroup::FindLabel(std::u16string_view name)
{
    for (ScriptStateNode* node = First(); node; node = node->Next()) {
        if (node->m_kind != kNodeLab || !SameLabel(ArgumentOrEmpty(*node, 0), name))
            continue;
        ScriptStateNode* before = node->Prev();
        if (before && before->m_kind == kNodePage)
            return before;
        throw ScriptError2(node->m_line, kNoPageBreakBeforeLabel);
    }
    return nullptr;
}

// --- running --------------------------------------------------------------

void ScriptStateGroup::BeginRun()
{
    Globals().currentPage = 0;
    VariableTable& variables = Variables();
    for (IVJUDGETABLENODE* entry = m_judgeTable.First(); entry; entry = entry->Next()) {
        for (const IVCONDITION& condition : entry->conditions) {
            variables.Ensure(condition.left);
            variables.Ensure(condition.right);
        }
    }
}

std::int32_t ScriptStateGroup::Run(std::int32_t startPage)
{
    BeginRun();
    return RunFrom(nullptr, startPage);
}

std::int32_t ScriptStateGroup::RunFrom(ScriptStateNode* node, std::int32_t startPage)
{
    try {
        if (!node)
            node = StartNode(startPage);
        while (node) {
            m_executing = node;
            try {
                node = node->Execute();
            } catch (ScriptError2& error) {
                error.SetLine(node->m_line);
                throw;
            } catch (ScriptError& error) {
                error.SetLine(node->m_line);
                throw;
            }
        }
        m_executing = nullptr;
        EndRun();
        return 0;
    } catch (const ScriptError& error) {
        m_executing = nullptr;
        ReportRuntimeError(error.Line(), error.Text());
    } catch (const ScriptError2& error) {
        m_executing = nullptr;
        ReportRuntimeError(error.Line(), error.Message());
    } catch (const ExceptionHandle& exception) {
        // A command's failure (or the quit) ends the run; the error is not lost.
        m_executing = nullptr;
        if (!exception.IsQuit())
            kestrel::DebugOutput(Format(u"%s(%d): %s", exception.Source(), exception.Line(), exception.Message()));
        EndRun();
        return 0;
    } catch (const ScriptException& request) {
        m_executing = nullptr;
        EndRun();
        if (request.Code() == ScriptException::ReturnToTitle || request.Code() == ScriptException::LoadSlot) {
            Snapshot();
            return request.Code() + 1;
        }
        return 0;
    }
}

ScriptStateNode* ScriptStateGroup::StartNode(std::int32_t startPage)
{
    if (startPage == -1)
        return First();
    for (ScriptStateNode* node = First(); node; node = node->Next()) {
        if (node->m_kind == kNodePage && node->m_page == startPage) {
            if (!node->Next())
                break;
            Globals().currentPage = startPage;
            return node->Next();
        }
    }
    // This error names the page in place of a line.
    throw ScriptError2(startPage, kNoResumePage);
}

void ScriptStateGroup::ReportRuntimeError(std::int32_t line, std::u16string_view message)
{
    kestrel::DebugOutput(Format(u"%s(%d): Runtime Error: %s\n", m_fileName, line, message));
    throw ExceptionHandle(m_fileName, line, message);
}

// --- the generic commands -------------------------------------------------

namespace {

ScriptStateNode* Jump(ScriptStateGroup& group, std::u16string_view label)
{
    ScriptStateNode* target = group.FindLabel(label);
    if (!target)
        ThrowLabelNotFound(label);
    return target;
}

ScriptStateNode* SkipRun(ScriptStateNode* node, std::uint8_t kind)
{
    while (node && node->m_kind == kind)
        node = node->Next();
    return node;
}

} // namespace

ScriptStateNode* ScriptStateNode::Execute()
{
    ScriptStateGroup& group = *Owner();
    VariableTable& variables = Variables();
    switch (m_kind) {
    case kNodeEnd:
        return nullptr;

    case kNodePst: {
        if (Globals().replayMode)
            break;
        VariableEntry* variable = variables.Find(0, ArgumentOrEmpty(*this, 0));
        if (!variable)
            variable = &variables.SetOrCreate(ArgumentOrEmpty(*this, 0), 0);
        const std::u16string_view text = ArgumentOrEmpty(*this, 1);
        if (!StartsWithDigit(text))
            throw ScriptError2(m_line, kNumberExpected);
        const std::uint32_t operand = static_cast<std::uint32_t>(ParseDecimal(text));
        const std::uint32_t current = static_cast<std::uint32_t>(variable->value);
        std::uint32_t result = current;
        if (m_operator == '+')
            result = current + operand;
        else if (m_operator == '-')
            result = current - operand;
        else if (m_operator == '=')
            result = operand;
        variable->value = static_cast<std::int32_t>(result);
        break;
    }

    case kNodeClm:
        return SkipRun(this, kNodeClm);

    case kNodeJmp:
        return Jump(group, ArgumentOrEmpty(*this, 0));

    case kNodeRjp: {
        ScriptStateNode* choices[3] = {};
        int count = 0;
        for (ScriptStateNode* n = this; n && n->m_kind == kNodeRjp; n = n->Next()) {
            if (count < 3)
                choices[count] = n;
            ++count;
        }
        if (count != 3)
            throw ScriptError2(m_line, kRjpNeedsThree);
        return Jump(group, ArgumentOrEmpty(*choices[Random() % 3], 0));
    }

    case kNodePjp: {
        if (Globals().replayMode)
            break;
        const std::int32_t a = variables.Value(ArgumentOrEmpty(*this, 0), 0);
        const std::int32_t b = variables.Value(ArgumentOrEmpty(*this, 1), 0);
        const bool holds = (m_operator == '<' && a < b) || (m_operator == '=' && a == b) || (m_operator == '>' && a > b);
        if (holds)
            return Jump(group, ArgumentOrEmpty(*this, 2));
        break;
    }

    case kNodeRsp: {
        const std::u16string_view name = ArgumentOrEmpty(*this, 0);
        variables.SetOrCreate(name, 0);
        break;
    }

    case kNodeRst:
    case kNodeRsx: {
        const std::u16string letter = VariableTable::UpperCase(ArgumentOrEmpty(*this, 0).substr(0, 1));
        const bool matching = m_kind == kNodeRst;
        variables.ForEach([&](VariableEntry& entry) {
            if (entry.type != 0 || letter.empty())
                return;
            const bool same = !entry.name.empty() && entry.name[0] == letter[0];
            if (same == matching)
                entry.value = 0;
        });
        break;
    }

    case kNodeIvg:
        return group.JudgeJump(variables.Value(ArgumentOrEmpty(*this, 0), 0));

    default:
        break;
    }
    return Next();
}

} // namespace TextScript
