// The compiled script: a flat list of nodes in a group, one node per
// statement, walked by the runtime.
#pragma once

#include "script/list.h"
#include "script/reader.h"
#include "script/iv_tables.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace TextScript {

// Node kinds; the numbers are what the node list stores.
enum NodeKind : std::uint8_t {
    kNodeEnd = 0,
    kNodeText = 1,
    kNodeGrp = 2,
    kNodeChr = 3,
    kNodeChl = 4,
    kNodeLab = 5,
    kNodeWav = 8,
    kNodePst = 9,
    kNodeSel = 10,
    kNodeRms = 11,
    kNodeClm = 12,
    kNodeLgr = 13,
    kNodeVoi = 14,
    kNodeJmp = 15,
    kNodeRjp = 16,
    kNodePjp = 17,
    kNodeRsp = 18,
    kNodeRst = 19,
    kNodeRsx = 20,
    kNodeSfs = 21,
    kNodeDon = 22,
    kNodeDof = 23,
    kNodeTof = 24,
    kNodeIvg = 25,
    kNodeSsl = 26,
    kNodeEndCommand = 27,
    kNodeEnd1 = 28,
    kNodeEnd2 = 29,
    kNodeSed = 30,
    kNodeDgr = 31,
    kNodePage = 34,
    kNodeFls = 35,
    kNodeS1a = 36,
    kNodeS1b = 37,
    kNodeS1m = 38,
    kNodeS2a = 39,
    kNodeS2b = 40,
    kNodeS2m = 41,
};

// One argument of a node: a value record (kind 1, text) in a singly linked
// list. Both records come from the block pools.
struct ScriptValue {
    static void* operator new(std::size_t size);
    static void operator delete(void* block);

    std::int32_t kind = 1;
    char16_t* text = nullptr; // owned heap copy, NUL-terminated
};

struct ScriptArgument {
    static void* operator new(std::size_t size);
    static void operator delete(void* block);

    ScriptArgument* next = nullptr;
    ScriptValue* value = nullptr;
};

class ScriptStateGroup;

class ScriptStateNode : public CDoubleListNode<ScriptStateNode, ScriptStateGroup> {
public:
    // Nodes come from a block pool of their own size.
    static void* operator new(std::size_t size);
    static void operator delete(void* block, std::size_t size);

    ScriptStateNode() = default;
    // Frees the argument list.
    ~ScriptStateNode() override;
    // Performs the node; returns the node to execute next, or none to end the run.
    virtual ScriptStateNode* Execute();

    void AppendArgument(std::u16string_view text);
    // Argument i (0-based), or nothing when the node has fewer.
    std::optional<std::u16string_view> Argument(int i) const;
    int ArgumentCount() const;

    std::int32_t m_line = 0; // the compile line counter when the node was built
    std::uint8_t m_kind = kNodeEnd;
    char m_operator = 0;     // '=', '+', '-', '<', '>' for PST and PJP
    std::int32_t m_page = 0; // page nodes: 1, 2, 3 ... in list order
    ScriptArgument* m_arguments = nullptr;
};

class ScriptStateGroup : public CDoubleListGroup<ScriptStateGroup, ScriptStateNode> {
public:
    ScriptStateGroup() = default;
    // Destroys every node, both tables and the file name.
    ~ScriptStateGroup() override;

    // A new node of the group's node class, owned by this group (not yet in
    // its list), with the current compile line and page number 0.
    virtual ScriptStateNode* CreateNode();
    virtual void BeginRun();
    virtual void EndRun() {}
    // Runs from the beginning (start page -1) or after the given page node;
    // returns 0 for a normal end, or 1 / 2 after a return-to-title / load
    // request.
    virtual std::int32_t Run(std::int32_t startPage);
    // A request hook nothing calls; answers 0.
    virtual std::int32_t HostRequest(std::int32_t code, const char16_t* text, void* reserved);

    // Compiles a script (its bytes in the code page of the game data) into
    // this group's node list, appends the end node and numbers the pages.
    // Errors are thrown as kestrel::ExceptionHandle after a debug line.
    void Compile(std::span<const std::uint8_t> source, std::u16string_view fileName);

    // Reads iv.txt into the jump and judge tables.
    void ReadTables(std::span<const std::uint8_t> buffer, std::u16string_view fileName);
    // The node to continue at for a judge key (judge entries first, then the jump table).
    ScriptStateNode* JudgeJump(std::int32_t key);

    // The page node before the first LAB node of that name (case ignored),
    // or none when there is no such label. Throws ScriptError2 when the node
    // before the label is not a page node.
    ScriptStateNode* FindLabel(std::u16string_view name);

    const std::u16string& FileName() const { return m_fileName; }
    ScriptStateNode* Executing() const { return m_executing; }
    const IVJUMPTABLEGROUP& JumpTable() const { return m_jumpTable; }
    const IVJUDGETABLEGROUP& JudgeTable() const { return m_judgeTable; }
    std::int32_t LastErrorLine() const { return m_lastErrorLine; }
    const std::u16string& LastErrorMessage() const { return m_lastErrorMessage; }

    // Compile state, shared with the lexer and the parser.
    CharReader& Reader() { return m_reader; }
    void SetFileName(std::u16string_view name) { m_fileName = name; }
    void SetLastError(std::int32_t line, std::u16string_view message)
    {
        m_lastErrorLine = line;
        m_lastErrorMessage = message;
    }

protected:
    // Runs nodes from `node` (or, when none, from the start page) until one
    // returns none, turning errors and requests into Run's results.
    std::int32_t RunFrom(ScriptStateNode* node, std::int32_t startPage);

private:
    ScriptStateNode* StartNode(std::int32_t startPage);
    [[noreturn]] void ReportRuntimeError(std::int32_t line, std::u16string_view message);

    std::u16string m_fileName;
    CharReader m_reader;
    std::int32_t m_lastErrorLine = 0;
    std::u16string m_lastErrorMessage;
    IVJUMPTABLEGROUP m_jumpTable;
    IVJUDGETABLEGROUP m_judgeTable;
    ScriptStateNode* m_executing = nullptr;
};

} // namespace TextScript
