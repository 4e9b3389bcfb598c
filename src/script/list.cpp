#include "script/list.h"

namespace TextScript {

DoubleListNode::~DoubleListNode()
{
    if (m_owner)
        m_owner->Remove(this);
}

DoubleListGroup::~DoubleListGroup()
{
    Clear();
}

void DoubleListGroup::Clear()
{
    while (m_count > 0 && m_first)
        delete m_first; // the node's destructor removes it
}

void DoubleListGroup::Insert(DoubleListNode* before, DoubleListNode* chain)
{
    if (!chain)
        return;
    if (before && before->m_owner != this)
        before = nullptr;
    DoubleListNode* last = chain;
    for (DoubleListNode* n = chain;; n = n->m_next) {
        n->m_owner = this;
        ++m_count;
        last = n;
        if (!n->m_next)
            break;
        n->m_next->m_prev = n;
    }
    DoubleListNode* after = before ? before->m_prev : m_last;
    chain->m_prev = after;
    last->m_next = before;
    if (after)
        after->m_next = chain;
    else
        m_first = chain;
    if (before)
        before->m_prev = last;
    else
        m_last = last;
}

void DoubleListGroup::Remove(DoubleListNode* node)
{
    if (!node || m_count == 0 || node->m_owner != this)
        return;
    if (node->m_prev)
        node->m_prev->m_next = node->m_next;
    else
        m_first = node->m_next;
    if (node->m_next)
        node->m_next->m_prev = node->m_prev;
    else
        m_last = node->m_prev;
    node->m_prev = node->m_next = nullptr;
    node->m_owner = nullptr;
    --m_count;
}

ListNode* ListGroup::Nth(std::int32_t i) const
{
    const std::int32_t count = Count();
    if (i < -count || i >= count)
        return nullptr;
    if (i < 0)
        i += count;
    DoubleListNode* node = nullptr;
    if (i < count / 2) {
        node = First();
        for (std::int32_t k = 0; k < i; ++k)
            node = node->Next();
    } else {
        node = Last();
        for (std::int32_t k = count - 1; k > i; --k)
            node = node->Prev();
    }
    return static_cast<ListNode*>(node);
}

} // namespace TextScript
