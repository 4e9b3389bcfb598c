// The intrusive lists the script is built on: the node list of a script
// group and the iv.txt tables.
//
// A node knows its neighbours and its owning group; a group is itself a node
// (so that it could sit in another group's list) and knows its first and last
// node and their count. Destroying a node takes it out of its group;
// destroying a group destroys its nodes.
#pragma once

#include <cstdint>

namespace TextScript {

class DoubleListGroup;

class DoubleListNode {
public:
    DoubleListNode() = default;
    DoubleListNode(const DoubleListNode&) = delete;
    DoubleListNode& operator=(const DoubleListNode&) = delete;
    virtual ~DoubleListNode();

    DoubleListNode* Prev() const { return m_prev; }
    DoubleListNode* Next() const { return m_next; }
    DoubleListGroup* Owner() const { return m_owner; }

private:
    friend class DoubleListGroup;
    DoubleListNode* m_prev = nullptr;
    DoubleListNode* m_next = nullptr;
    DoubleListGroup* m_owner = nullptr;
};

class DoubleListGroup : public DoubleListNode {
public:
    ~DoubleListGroup() override;

    // Links a chain of nodes (joined by their next links, the last one's next
    // being none) in front of `before`, or after the last node when `before`
    // is none. Every node of the chain becomes this group's.
    void Insert(DoubleListNode* before, DoubleListNode* chain);
    void Append(DoubleListNode* node) { Insert(nullptr, node); }
    // Unlinks one of this group's nodes; other nodes are left alone.
    void Remove(DoubleListNode* node);
    // Destroys every node.
    void Clear();

    DoubleListNode* First() const { return m_first; }
    DoubleListNode* Last() const { return m_last; }
    std::int32_t Count() const { return m_count; }

private:
    DoubleListNode* m_first = nullptr;
    DoubleListNode* m_last = nullptr;
    std::int32_t m_count = 0;
};

// The same shape for the iv.txt tables, with indexed access.
class ListNode : public DoubleListNode {};

class ListGroup : public DoubleListGroup {
public:
    // For 0 <= i < count the i-th node from the first; for -count <= i < 0
    // the node |i| - 1 places before the last (-1 is the last); else none.
    ListNode* Nth(std::int32_t i) const;
};

// Typed layers: no data of their own.
template <class Node, class Group>
class CDoubleListNode : public DoubleListNode {
public:
    Node* Prev() const { return static_cast<Node*>(DoubleListNode::Prev()); }
    Node* Next() const { return static_cast<Node*>(DoubleListNode::Next()); }
    Group* Owner() const { return static_cast<Group*>(DoubleListNode::Owner()); }
};

template <class Group, class Node>
class CDoubleListGroup : public DoubleListGroup {
public:
    Node* First() const { return static_cast<Node*>(DoubleListGroup::First()); }
    Node* Last() const { return static_cast<Node*>(DoubleListGroup::Last()); }
};

template <class Node, class Group>
class CListNode : public ListNode {
public:
    Node* Next() const { return static_cast<Node*>(ListNode::Next()); }
    Group* Owner() const { return static_cast<Group*>(ListNode::Owner()); }
};

template <class Group, class Node>
class CListGroup : public ListGroup {
public:
    Node* First() const { return static_cast<Node*>(ListGroup::First()); }
    Node* Nth(std::int32_t i) const { return static_cast<Node*>(ListGroup::Nth(i)); }
};

} // namespace TextScript
