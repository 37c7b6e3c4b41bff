// Whether a tree writes a well-formed SQL condition: a visitor on the tree walk that stops at the
// first node, in text order, whose text the database would reject or misread. The parsers
// accept trees that are no condition: a logical keyword at the end of the text, empty
// parentheses, a property without operator and value ("dc:title" is written "title", which a
// database may take as a truth value).
#include <cstdint>

#include "Internal.h"
#include "TreeWalk.h"

namespace msc {
namespace {

// Where a node stands: its parent, and whether that parent is a comparison, the one place
// where a property belongs.
struct Place {
    const ParseTreeNode *parent;
    bool inComparison;
};

bool IsLogical(int opId) { return opId == OP_AND || opId == OP_OR; }

// An operator that the writer writes by name; any other writes nothing or "(null)".
bool LooksUpAsNamed(int opId) {
    const TokenEntry *table = OperatorTable(opId, g_LogOpSQL, g_BinOpSQL, g_ExistOpSQL, kStandardOpSQL);
    return table != nullptr && LookupName(table, opId) != nullptr;
}

// LooksUpAsNamed for every id below 64, read from the tables once: a check asks for every
// operator of the tree.
uint64_t NamedOperatorsBelow64() {
    static const uint64_t named = [] {
        uint64_t bits = 0;
        for (int id = 0; id < 64; ++id) bits |= LooksUpAsNamed(id) ? uint64_t{1} << id : 0;
        return bits;
    }();
    return named;
}

bool IsNamedOperator(int opId) {
    if (opId >= 0 && opId < 64) return ((NamedOperatorsBelow64() >> opId) & 1) != 0;
    return LooksUpAsNamed(opId);
}

class ConditionCheck : public WalkHooks<const ParseTreeNode, Place> {
public:
    explicit ConditionCheck(const TokenEntry *columns) : columns_(columns) {}

    int code() const { return code_; }
    const ParseTreeNode *node() const { return node_; }

    Place Operand(const ParseTreeNode *parent, Place, Side side) {
        return {parent, side != Side::kInner && !IsLogical(parent->opId)};
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

}  // namespace
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
