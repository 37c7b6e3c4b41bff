// CheckSQLCondition and the named operators of the check.
#include <cstdint>
#include <initializer_list>

#include "ConditionCheck.h"

namespace msc {

bool LooksUpAsNamed(int opId) {
    const TokenEntry *table = OperatorTable(opId, g_LogOpSQL, g_BinOpSQL, g_ExistOpSQL, kStandardOpSQL);
    return table != nullptr && LookupName(table, opId) != nullptr;
}

// A check asks for every operator of the tree: no table walk and no first-use test then.
const uint64_t kNamedOperatorsBelow64 = [] {
    uint64_t bits = 0;
    for (int id = 0; id < 64; ++id) bits |= LooksUpAsNamed(id) ? uint64_t{1} << id : 0;
    return bits;
}();

const bool kParsedOperatorsNamed = [] {
    for (const TokenEntry *table : {g_LogOpName, g_BinOpName, g_ExistOpName, kStandardOpName}) {
        for (const TokenEntry *entry = table; entry->id != 0; ++entry) {
            if (!IsNamedOperator(entry->id)) return false;
        }
    }
    return true;
}();

}  // namespace msc

extern "C" {

int CheckSQLCondition(const ParseTreeNode *tree, const TokenEntry *columnTable, const ParseTreeNode **node) {
    msc::ConditionCheck check(columnTable);
    msc::Walk(tree, check, msc::Place{nullptr, false});
    if (node != nullptr) *node = check.node();
    return check.code();
}

const char *SearchConditionMessage(int code) {
    static const char *const kMessages[] = {
        "a well-formed condition",                       // SEARCH_CONDITION_OK
        "no condition",                                  // SEARCH_CONDITION_EMPTY
        "empty parentheses",                             // SEARCH_CONDITION_EMPTY_GROUP
        "an operator without its operand",               // SEARCH_CONDITION_MISSING_OPERAND
        "a property without an operator and a value",    // SEARCH_CONDITION_BARE_PROPERTY
        "a property without a column",                   // SEARCH_CONDITION_NO_COLUMN
        "an operator of unknown id",                     // SEARCH_CONDITION_UNKNOWN_OPERATOR
        "a node of unknown kind",                        // SEARCH_CONDITION_UNKNOWN_KIND
    };
    static_assert(sizeof kMessages / sizeof kMessages[0] == SEARCH_CONDITION_UNKNOWN_KIND + 1, "a message for every code");
    return msc::MessageOf(kMessages, code, "unknown problem");
}

}  // extern "C"
