// Whether a tree writes a well-formed SQL condition: a visitor on the tree walk that stops at the
// first node, in text order, whose text the database would reject or misread. The parsers
// accept trees that are no condition: a logical keyword at the end of the text, empty
// parentheses, a property without operator and value ("dc:title" is written "title", which a
// database may take as a truth value). Never installed.
#ifndef MSC_CONDITION_CHECK_H
#define MSC_CONDITION_CHECK_H

#include <cstdint>

#include "Internal.h"
#include "TreeWalk.h"

namespace msc {

// Where a node stands: its parent, and whether that parent is a comparison, the one place
// where a property belongs.
struct Place {
    const ParseTreeNode *parent;
    bool inComparison;
};

// Bit n: operator id n is one that the writer writes by name, read from the SQL tables when the
// library loads (they are constant data, initialised before any constructor runs).
extern const uint64_t kNamedOperatorsBelow64;
// The same test for any id, by a lookup in the tables.
bool LooksUpAsNamed(int opId);

// True when every operator of the parsers' vocabularies is named: then no tree a parser makes
// has an operator the check finds fault with.
extern const bool kParsedOperatorsNamed;

// True for an operator that the writer writes by name; any other writes nothing or "(null)".
inline bool IsNamedOperator(int opId) {
    if (opId >= 0 && opId < 64) return ((kNamedOperatorsBelow64 >> opId) & 1) != 0;
    return LooksUpAsNamed(opId);
}

// Whether CheckSQLCondition would find the tree of a text without loose ends, rewritten, well-formed,
// known without its walk: the parsers make no other fault, the rewrites turn conditions into
// comparisons of values and remove unsupported properties, so they add none, and what remains is
// a property without a column name, which the writer notices.
inline bool WellFormedWithoutWalk(bool wroteNoColumn, const TokenEntry *columnTable) {
    return kParsedOperatorsNamed && !(wroteNoColumn && columnTable != nullptr);
}

class ConditionCheck : public WalkHooks<const ParseTreeNode, Place> {
public:
    explicit ConditionCheck(const TokenEntry *columns) : columns_(columns) {}

    int code() const { return code_; }
    const ParseTreeNode *node() const { return node_; }

    Place Operand(const ParseTreeNode *parent, Place, Side side) {
        return {parent, side != Side::kInner && !IsAndOr(parent->opId)};
    }
    bool Between(const ParseTreeNode *op, Place, const ParseTreeNode *&right) {
        if (!IsNamedOperator(op->opId)) return Fail(SEARCH_CONDITION_UNKNOWN_OPERATOR, op);
        right = op->right;
        return true;
    }
    bool Leaf(const ParseTreeNode *node, Place place) {
        if (node == nullptr) {
            // Absent: the whole tree, a group's contents or an operand.
            if (place.parent == nullptr) return Fail(SEARCH_CONDITION_EMPTY, nullptr);
            return Fail(place.parent->kind == NODE_GROUP ? SEARCH_CONDITION_EMPTY_GROUP
                                                         : SEARCH_CONDITION_MISSING_OPERAND,
                        place.parent);
        }
        if (node->kind == NODE_VALUE) return true;
        if (node->kind != NODE_PROPERTY) return Fail(SEARCH_CONDITION_UNKNOWN_KIND, node);
        if (!place.inComparison) return Fail(SEARCH_CONDITION_BARE_PROPERTY, node);
        if (columns_ != nullptr && !HasColumn(node->propertyId)) return Fail(SEARCH_CONDITION_NO_COLUMN, node);
        return true;
    }

private:
    bool Fail(int code, const ParseTreeNode *node) {
        code_ = code;
        node_ = node;
        return false;
    }
    // The writer takes the first entry with the id; a missing or empty name writes no column.
    bool HasColumn(int propertyId) const {
        for (const TokenEntry *entry = columns_; entry->id != 0; ++entry) {
            if (entry->id == propertyId) return entry->name != nullptr && entry->name[0] != '\0';
        }
        return false;
    }

    const TokenEntry *columns_;
    int code_ = SEARCH_CONDITION_OK;
    const ParseTreeNode *node_ = nullptr;
};

}  // namespace msc

#endif  // MSC_CONDITION_CHECK_H
