// What a node is: operator ranges, leaf tests and token table lookups; never installed.
#ifndef MSC_TREE_NODES_H
#define MSC_TREE_NODES_H

#include "mysearchcriteria.h"

namespace msc {

// The operator ids by range, as the public header numbers them.
constexpr bool IsLogicalOperator(int opId) { return opId >= OP_AND && opId < OP_EQ; }
// The two logical operators that the parsers make: an and/or list.
constexpr bool IsAndOr(int opId) { return opId == OP_AND || opId == OP_OR; }
constexpr bool IsBinaryOperator(int opId) { return opId >= OP_EQ && opId < OP_EXISTS; }
constexpr bool IsExistsOperator(int opId) { return opId >= OP_EXISTS; }

// True when 'node' is a property leaf with the identifier 'propertyId'.
inline bool IsPropertyLeaf(const ParseTreeNode *node, int propertyId) {
    return node != nullptr && node->kind == NODE_PROPERTY && node->propertyId == propertyId;
}

// The name of the first entry of 'table' whose id is 'id'; nullptr at the terminator or for
// a null table.
const char *LookupName(const TokenEntry *table, int id);

// The name of a property: its criteria keyword, else its name in 'hostProperties' (or null);
// nullptr when neither names it.
inline const char *PropertyNameOf(int propertyId, const TokenEntry *hostProperties) {
    const char *name = LookupName(g_PropertyName, propertyId);
    return name != nullptr ? name : LookupName(hostProperties, propertyId);
}

// True when the table has an entry with the id before its terminator; a null table has none.
inline bool HasEntry(const TokenEntry *table, int id) {
    if (table == nullptr) return false;
    // Two entries a turn: one loop step less per pair.
    for (;; table += 2) {
        if (table[0].id == 0) return false;
        if (table[0].id == id) return true;
        if (table[1].id == 0) return false;
        if (table[1].id == id) return true;
    }
}

// The standard grammar's own operators, outside the exported tables: their criteria keywords and
// SQL texts, paired by id as the exported tables pair theirs. A new operator is a row in each
// (and, when its value is no plain literal, a value form in the SQL writer).
extern const TokenEntry kStandardOpName[];
extern const TokenEntry kStandardOpSQL[];
// The highest operator id that has a name.
constexpr int kLastOperatorId = OP_STARTS_WITH;

// The table that holds an operator id: 'standard' for the ids it lists, else one of three by
// the id's range; nullptr below the logical ids.
inline const TokenEntry *OperatorTable(int opId, const TokenEntry *logical, const TokenEntry *binary,
                                       const TokenEntry *exists, const TokenEntry *standard) {
    if (opId > OP_EXISTS && LookupName(standard, opId) != nullptr) return standard;
    if (IsExistsOperator(opId)) return exists;
    if (IsBinaryOperator(opId)) return binary;
    if (IsLogicalOperator(opId)) return logical;
    return nullptr;
}

// The operator or group node holding the first condition on 'propertyId' (an operand that is
// that property leaf), searched depth first with an operator's own operands looked at before
// anything below them; nullptr when there is none.
ParseTreeNode *FindConditionNode(const ParseTreeNode *tree, int propertyId);

// The first condition on 'propertyId' (FindConditionNode) when it is an operator whose right
// operand is a value leaf, else nullptr: the one that GetUPnPClass reads the class from, and the
// one that the container rule may make false.
ParseTreeNode *FirstConditionWithValue(const ParseTreeNode *tree, int propertyId);

// GetUPnPClass: the value text of the first upnp:class condition, or nullptr.
const char *UPnPClassOf(const ParseTreeNode *tree);

}  // namespace msc

#endif  // MSC_TREE_NODES_H
