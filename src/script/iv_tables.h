// The tables of iv.txt: 20 jump-table labels indexed by number, and judge
// entries (a key, a label and up to eight conditions on variables).
#pragma once

#include "script/list.h"

#include <cstdint>
#include <string>
#include <vector>

namespace TextScript {

class IVJUMPTABLEGROUP;
class IVJUDGETABLEGROUP;

class IVJUMPTABLENODE : public CListNode<IVJUMPTABLENODE, IVJUMPTABLEGROUP> {
public:
    std::u16string label; // upper case
    std::u16string note;  // the rest of the line
};

class IVJUMPTABLEGROUP : public CListGroup<IVJUMPTABLEGROUP, IVJUMPTABLENODE> {};

// Operators as stored: '=' equal, '!' not equal, '>' greater, ']' greater or
// equal, '<' less, '[' less or equal, 0 no valid operator (never holds).
struct IVCONDITION {
    std::u16string left;
    std::u16string right;
    char op = 0;
};

class IVJUDGETABLENODE : public CListNode<IVJUDGETABLENODE, IVJUDGETABLEGROUP> {
public:
    // Blocks are meant to hold at most this many conditions; longer ones are
    // kept whole (and tested whole) rather than cut, and the checker warns.
    static constexpr int kMaxConditions = 8;
    std::int32_t key = 0;
    std::u16string label;
    std::vector<IVCONDITION> conditions;
    std::int32_t ConditionCount() const { return static_cast<std::int32_t>(conditions.size()); }
};

class IVJUDGETABLEGROUP : public CListGroup<IVJUDGETABLEGROUP, IVJUDGETABLENODE> {};

// The stored operator for the two characters written in iv.txt, or 0.
char IvOperator(int first, int second);
// Whether a condition holds for the two values.
bool IvConditionHolds(char op, std::int32_t left, std::int32_t right);

} // namespace TextScript
