#include "script/node.h"

#include "core/fixheap.h"

#include <cstring>
#include <new>

namespace TextScript {

namespace {

// Each record type has a block pool of its own size and alignment. The four
// standard pools hold 4-byte-aligned blocks of up to 32 bytes, which fit these
// records only where pointers are 4 bytes wide.
template <class Record>
kestrel::BlockPool& PoolOf()
{
    static kestrel::BlockPool pool(sizeof(Record), 4096, alignof(Record));
    return pool;
}

template <class Record>
void* AllocateBlock(std::size_t size)
{
    if (void* block = PoolOf<Record>().PoolAlloc(size))
        return block;
    throw std::bad_alloc();
}

template <class Record>
void FreeBlock(void* block)
{
    if (block)
        PoolOf<Record>().PoolFree(block);
}

char16_t* CopyText(std::u16string_view text)
{
    auto* copy = new char16_t[text.size() + 1];
    std::memcpy(copy, text.data(), text.size() * sizeof(char16_t));
    copy[text.size()] = 0;
    return copy;
}

} // namespace

void* ScriptValue::operator new(std::size_t size)
{
    return AllocateBlock<ScriptValue>(size);
}

void ScriptValue::operator delete(void* block)
{
    FreeBlock<ScriptValue>(block);
}

void* ScriptArgument::operator new(std::size_t size)
{
    return AllocateBlock<ScriptArgument>(size);
}

void ScriptArgument::operator delete(void* block)
{
    FreeBlock<ScriptArgument>(block);
}

// Derived node classes (the game's) are larger than the generic node: they
// come from the general heap, the generic node from its pool.
void* ScriptStateNode::operator new(std::size_t size)
{
    if (size > sizeof(ScriptStateNode))
        return ::operator new(size);
    return AllocateBlock<ScriptStateNode>(size);
}

void ScriptStateNode::operator delete(void* block, std::size_t size)
{
    if (size > sizeof(ScriptStateNode))
        ::operator delete(block);
    else
        FreeBlock<ScriptStateNode>(block);
}

ScriptStateNode::~ScriptStateNode()
{
    while (ScriptArgument* argument = m_arguments) {
        m_arguments = argument->next;
        if (argument->value) {
            delete[] argument->value->text;
            delete argument->value;
        }
        delete argument;
    }
}

void ScriptStateNode::AppendArgument(std::u16string_view text)
{
    auto* value = new ScriptValue;
    value->text = CopyText(text);
    auto* argument = new ScriptArgument;
    argument->value = value;
    ScriptArgument** tail = &m_arguments;
    while (*tail)
        tail = &(*tail)->next;
    *tail = argument;
}

std::optional<std::u16string_view> ScriptStateNode::Argument(int i) const
{
    const ScriptArgument* argument = m_arguments;
    for (; argument && i > 0; --i)
        argument = argument->next;
    if (!argument || i < 0 || !argument->value || !argument->value->text)
        return std::nullopt;
    return std::u16string_view(argument->value->text);
}

int ScriptStateNode::ArgumentCount() const
{
    int count = 0;
    for (const ScriptArgument* a = m_arguments; a; a = a->next)
        ++count;
    return count;
}

ScriptStateGroup::~ScriptStateGroup()
{
    Clear();
}

ScriptStateNode* ScriptStateGroup::CreateNode()
{
    auto* node = new ScriptStateNode;
    node->m_line = m_reader.Line();
    node->m_page = 0;
    return node;
}

std::int32_t ScriptStateGroup::HostRequest(std::int32_t, const char16_t*, void*)
{
    return 0;
}

} // namespace TextScript
