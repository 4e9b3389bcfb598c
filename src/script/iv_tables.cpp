#include "script/iv_tables.h"

#include "core/exception.h"
#include "core/cp932.h"
#include "core/format.h"
#include "core/report.h"
#include "script/node.h"
#include "script/runtime.h"
#include "script/variables.h"

namespace TextScript {

using kestrel::ScriptError2;

char IvOperator(int first, int second)
{
    if (first == '=')
        return '=';
    if (first == '<' && second == '>')
        return '!';
    if (first == '>' && second == '>')
        return '>';
    if (first == '>' && second == '=')
        return ']';
    if (first == '<' && second == '<')
        return '<';
    if (first == '<' && second == '=')
        return '[';
    return 0;
}

bool IvConditionHolds(char op, std::int32_t left, std::int32_t right)
{
    switch (op) {
    case '=':
        return left == right;
    case '!':
        return left != right;
    case '>':
        return left > right;
    case ']':
        return left >= right;
    case '<':
        return left < right;
    case '[':
        return left <= right;
    default:
        return false;
    }
}

namespace {

constexpr int kJumpLines = 20;
constexpr std::u16string_view kBadFormat = u"書式が違います";
constexpr std::u16string_view kShortJumpTable = u"ジャンプテーブルは20行必要です";

// The character reader of iv.txt: "//" starts a comment to the end of the
// line wherever a character is read.
class IvReader {
public:
    explicit IvReader(CharReader& reader) : m_reader(reader) {}

    int Read()
    {
        const int c = m_reader.Read();
        if (c != '/')
            return c;
        const int d = m_reader.Read();
        if (d != '/') {
            m_reader.PushBack(d);
            return c;
        }
        int e = m_reader.Read();
        while (e != '\n' && e != 0)
            e = m_reader.Read();
        return e;
    }
    void PushBack(int c) { m_reader.PushBack(c); }

    // Skips spaces and tabs (and newlines when asked).
    void SkipBlanks(bool newlinesToo)
    {
        int c = Read();
        while (c == ' ' || c == '\t' || (newlinesToo && c == '\n'))
            c = Read();
        PushBack(c);
    }

    std::u16string ReadIdentifier()
    {
        std::u16string out;
        int c = Read();
        while (IsIdentifierByte(c)) {
            out += static_cast<char16_t>(c);
            c = Read();
        }
        PushBack(c);
        return VariableTable::UpperCase(out);
    }

    // The rest of the line, each byte widened by itself; the newline is consumed.
    std::u16string ReadRestOfLine()
    {
        std::u16string out;
        for (int c = Read(); c != '\n' && c != 0; c = Read())
            out += static_cast<char16_t>(c);
        return out;
    }

    bool AtEnd()
    {
        const int c = Read();
        PushBack(c);
        return c == 0;
    }

    std::int32_t Line() const { return m_reader.Line(); }

private:
    CharReader& m_reader;
};

} // namespace

void ScriptStateGroup::ReadTables(std::span<const std::uint8_t> buffer, std::u16string_view fileName)
{
    m_jumpTable.Clear();
    m_judgeTable.Clear();
    m_reader.Reset(buffer);
    IvReader in(m_reader);
    try {
        for (int i = 0; i < kJumpLines; ++i) {
            // The table is read by index, so a short one is an error here
            // rather than a lookup that finds nothing later.
            if (in.AtEnd())
                throw ScriptError2(in.Line(), kShortJumpTable);
            auto* entry = new IVJUMPTABLENODE;
            m_jumpTable.Append(entry);
            in.SkipBlanks(false);
            entry->label = in.ReadIdentifier();
            in.SkipBlanks(false);
            entry->note = in.ReadRestOfLine();
        }
        for (;;) {
            in.SkipBlanks(true);
            int c = in.Read();
            if (c == 0)
                break;
            if (c != '#')
                throw ScriptError2(in.Line(), kBadFormat);
            auto* entry = new IVJUDGETABLENODE;
            m_judgeTable.Append(entry);
            entry->key = ParseDecimal(kestrel::Cp932ToUtf16(m_reader.ReadNumber()));
            in.ReadRestOfLine();
            in.SkipBlanks(true);
            entry->label = in.ReadIdentifier();
            in.ReadRestOfLine();
            for (;;) {
                in.SkipBlanks(true);
                c = in.Read();
                in.PushBack(c);
                if (c == 0 || c == '#')
                    break;
                IVCONDITION condition;
                condition.left = in.ReadIdentifier();
                in.SkipBlanks(true);
                const int first = in.Read();
                const int second = first == 0 ? 0 : in.Read();
                condition.op = IvOperator(first, second);
                in.SkipBlanks(true);
                condition.right = in.ReadIdentifier();
                in.ReadRestOfLine();
                entry->conditions.push_back(std::move(condition));
            }
        }
    } catch (const ScriptError2& error) {
        SetLastError(error.Line(), error.Message());
        kestrel::DebugOutput(kestrel::Format(u"%s(%d): Compile Error: %s\n", fileName, error.Line(), error.Message()));
        throw kestrel::ExceptionHandle(fileName, error.Line(), error.Message());
    }
}

ScriptStateNode* ScriptStateGroup::JudgeJump(std::int32_t key)
{
    VariableTable& variables = Variables();
    for (IVJUDGETABLENODE* entry = m_judgeTable.First(); entry; entry = entry->Next()) {
        if (entry->key != key)
            continue;
        bool holds = true;
        for (const IVCONDITION& condition : entry->conditions) {
            if (!IvConditionHolds(condition.op, variables.Value(condition.left, 0), variables.Value(condition.right, 0))) {
                holds = false;
                break;
            }
        }
        if (!holds)
            continue;
        if (ScriptStateNode* target = FindLabel(entry->label))
            return target;
        throw ScriptError2(0, kestrel::Format(kLabelNotFound, entry->label));
    }
    const IVJUMPTABLENODE* jump = m_jumpTable.Nth(key);
    // Keys past the 20 entries name no label at all.
    const std::u16string label = jump ? jump->label : kestrel::Format(u"%d", key);
    if (ScriptStateNode* target = jump ? FindLabel(label) : nullptr)
        return target;
    throw ScriptError2(0, kestrel::Format(kLabelNotFound, label));
}

} // namespace TextScript
