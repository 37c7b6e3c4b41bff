// What a node is: operator ranges, leaf tests and token table lookups; never installed.
#ifndef MSC_TREE_NODES_H
#define MSC_TREE_NODES_H

#include "mysearchcriteria.h"

namespace msc {

// The operator ids by range, as the public header numbers them.
constexpr bool IsLogicalOperator(int opId) { return opId >= OP_AND && opId < OP_EQ; }
constexpr bool IsBinaryOperator(int opId) { return opId >= OP_EQ && opId < OP_EXISTS; }
constexpr bool IsExistsOperator(int opId) { return opId >= OP_EXISTS; }

// True when 'node' is a property leaf with the identifier 'propertyId'.
inline bool IsPropertyLeaf(const ParseTreeNode *node, int propertyId) {
    return node != nullptr && node->kind == NODE_PROPERTY && node->propertyId == propertyId;
}

// The name of the first entry of 'table' whose id is 'id'; nullptr at the terminator or for
// a null table.
const char *LookupName(const TokenEntry *table, int id);

// The one of three tables that holds an operator id by its range; nullptr below the logical ids.
inline const TokenEntry *OperatorTable(int opId, const TokenEntry *logical,
                                       const TokenEntry *binary, const TokenEntry *exists) {
    if (IsExistsOperator(opId)) return exists;
    if (IsBinaryOperator(opId)) return binary;
    if (IsLogicalOperator(opId)) return logical;
    return nullptr;
}

// The operator or group node holding the first condition on 'propertyId' (an operand that is
// that property leaf), searched depth first with an operator's own operands looked at before
// anything below them; nullptr when there is none.
ParseTreeNode *FindConditionNode(const ParseTreeNode *tree, int propertyId);

}  // namespace msc

#endif  // MSC_TREE_NODES_H
