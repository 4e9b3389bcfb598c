#include "script/list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace TextScript {
namespace {

class Item : public ListNode {
public:
    explicit Item(int v, int* destroyed = nullptr) : value(v), m_destroyed(destroyed) {}
    ~Item() override
    {
        if (m_destroyed)
            ++*m_destroyed;
    }
    int value;

private:
    int* m_destroyed;
};

std::vector<int> Values(const ListGroup& group)
{
    std::vector<int> out;
    for (DoubleListNode* n = group.First(); n; n = n->Next())
        out.push_back(static_cast<Item*>(n)->value);
    // The back links must agree with the forward ones.
    std::vector<int> backwards;
    for (DoubleListNode* n = group.Last(); n; n = n->Prev())
        backwards.insert(backwards.begin(), static_cast<Item*>(n)->value);
    EXPECT_EQ(out, backwards);
    EXPECT_EQ(static_cast<int>(out.size()), group.Count());
    return out;
}

TEST(Lists, InsertRemoveAndDestroy)
{
    int destroyed = 0;
    {
        ListGroup group;
        auto* one = new Item(1, &destroyed);
        auto* four = new Item(4, &destroyed);
        group.Append(one);
        group.Append(four);
        auto* two = new Item(2, &destroyed);
        auto* three = new Item(3, &destroyed);
        // Inserting in front of a node, also in front of the first.
        group.Insert(four, three);
        group.Insert(three, two);
        group.Insert(one, new Item(0, &destroyed));
        EXPECT_EQ(Values(group), (std::vector<int>{0, 1, 2, 3, 4}));
        EXPECT_EQ(two->Owner(), &group);

        ListGroup other;
        other.Remove(two); // not its node: nothing happens
        EXPECT_EQ(group.Count(), 5);

        delete three; // a destroyed node leaves its group
        EXPECT_EQ(Values(group), (std::vector<int>{0, 1, 2, 4}));
        EXPECT_EQ(destroyed, 1);

        group.Remove(one);
        EXPECT_EQ(one->Owner(), nullptr);
        EXPECT_EQ(Values(group), (std::vector<int>{0, 2, 4}));
        delete one;
        EXPECT_EQ(destroyed, 2);
    }
    EXPECT_EQ(destroyed, 5); // the group destroyed the rest
}

TEST(Lists, NthCountsFromBothEnds)
{
    ListGroup group;
    for (int i = 0; i < 7; ++i)
        group.Append(new Item(i));
    struct Case {
        int index;
        int value; // -1: none
    };
    const Case cases[] = {{0, 0}, {3, 3}, {4, 4}, {6, 6}, {7, -1}, {-1, 6}, {-7, 0}, {-8, -1}};
    for (const Case& c : cases) {
        ListNode* node = group.Nth(c.index);
        EXPECT_EQ(node ? static_cast<Item*>(node)->value : -1, c.value) << c.index;
    }
    ListGroup empty;
    EXPECT_EQ(empty.Nth(0), nullptr);
    EXPECT_EQ(empty.Nth(-1), nullptr);
}

} // namespace
} // namespace TextScript
