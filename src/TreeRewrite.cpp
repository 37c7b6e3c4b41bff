// Tree rewrites: conditions the host cannot evaluate become constant comparisons, "1" = "1" where
// a true operand leaves the enclosing and unchanged, "1" = "0" where a false one leaves the
// enclosing or unchanged; and a true @refID condition in three fixed containers becomes false.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Internal.h"
#include "TreeWalk.h"

namespace msc {
namespace {

char *NewOneText(Arena *arena) {
    auto *one = static_cast<char *>(arena != nullptr ? arena->Take(2) : malloc(2));
    if (one != nullptr) memcpy(one, kConstantText[1], 2);
    return one;
}

// Turns a property leaf into the value leaf "1" in place; the node keeps its address, so the
// parent's link stays valid. False when memory runs out, the leaf then unchanged.
bool TurnIntoOne(ParseTreeNode *leaf, Arena *arena) {
    char *one = NewOneText(arena);
    if (one == nullptr) return false;
    leaf->kind = NODE_VALUE;
    leaf->text = one;
    return true;
}

ParseTreeNode *NewDigitLeaf(int polarity, Arena *arena) {
    return NewValueLeaf(kConstantText[polarity != 0 ? 1 : 0], 1, 0, arena);
}

// The left operand is the matching property leaf: the node becomes "1" = "1" or "1" = "0".
// Each step that allocates comes before the change it feeds, so a failure never leaves a value
// leaf without text.
int RewriteLeft(ParseTreeNode *node, int polarity, Arena *arena) {
    FreeTree(node->right, arena);
    node->right = nullptr;
    node->right = NewDigitLeaf(polarity, arena);
    if (node->right == nullptr || !TurnIntoOne(node->left, arena)) return -1;
    node->opId = kConstantOperator;
    return 0;
}

// The right operand is the matching property leaf; whatever the left operand holds is released.
int RewriteRight(ParseTreeNode *node, int polarity, Arena *arena) {
    FreeTree(node->right, arena);
    node->right = nullptr;
    node->right = NewDigitLeaf(polarity, arena);
    if (node->right == nullptr) return -1;
    FreeTree(node->left, arena);
    node->left = nullptr;
    node->left = NewValueLeaf(kConstantText[1], 1, 0, arena);
    if (node->left == nullptr) return -1;
    node->opId = kConstantOperator;
    return 0;
}

// What a node receives from above. The writer writes an and/or list flat, without the tree's
// shape, and the database groups that text AND over OR; a condition there drops out only if its
// constant suits the SQL term it stands in: true next to an AND (it leaves that AND term
// unchanged), false between ORs only. The nearest and/or above can be the wrong guide, as in the
// classic parser's right-hung and(c1, or(c2, c3)), written "c1 AND c2 OR c3": there c2 must be
// true. So each operand of a list learns the operators on either side of it in the written text.
//
// The flags a node receives, in one word: kNearest is set unless the nearest and/or above is an
// or (through groups); the neighbour bits name the operators written just before and after the
// node in its list; kInherited is what a list of one single operand gets, the enclosing term's.
// kNewList marks flags handed unchanged into a group or a comparison: the neighbour bits are
// still the enclosing list's, and Resolved turns them into the new list's flags only where an
// and/or needs them. Most operands are leaves, which never look.
using Polarity = unsigned;
constexpr Polarity kNearest = 1u, kInherited = 2u, kAndBefore = 4u, kOrBefore = 8u, kAndAfter = 16u,
                   kOrAfter = 32u, kNewList = 64u;

// The polarity of a node that is an operand of a list, or the whole list. Marked flags give the
// same answer as resolved ones.
constexpr unsigned OfTerm(Polarity down) {
    return static_cast<unsigned>(PolarityOfTerm((down & (kAndBefore | kAndAfter)) != 0,
                                                (down & (kOrBefore | kOrAfter)) != 0, (down & kInherited) != 0));
}

// The flags of a new list's first and/or, marked flags resolved and others kept, looked up in a
// table of every value. Resolving twice gives the same flags, so nested groups and comparisons
// may each mark them.
struct ResolvedTable {
    unsigned char flags[2 * kNewList];
    constexpr ResolvedTable() : flags{} {
        for (Polarity down = 0; down < 2 * kNewList; ++down) {
            flags[down] = static_cast<unsigned char>(
                (down & kNewList) == 0 ? down : (down & kNearest) | (OfTerm(down) != 0 ? kInherited : 0));
        }
    }
};
constexpr ResolvedTable kResolved;

inline Polarity Resolved(Polarity down) { return kResolved.flags[down]; }

// Rewrites the property leaves that 'matches' picks. A comparison takes the polarity of its place
// in the written list; an and/or node that is itself rewritten, having a bare property operand,
// keeps that of the nearest and/or above it. An operator's left leaf is decided before its left
// operand is walked, its right leaf after; a node of unknown kind or an allocation failure ends
// the walk with the result -1.
template <typename Matches>
struct Rewriting : WalkHooks<ParseTreeNode, Polarity> {
    const Matches matches;  // a copy: the walk then reads its state with one load
    Arena *arena;  // Where new leaves come from; null: the heap.
    int result = 0;

    Rewriting(const Matches &m, Arena *a) : matches(m), arena(a) {}

    bool Matching(const ParseTreeNode *leaf) const {
        return leaf != nullptr && leaf->kind == NODE_PROPERTY && matches(leaf->propertyId);
    }
    bool Failed() {
        result = -1;
        return false;
    }
    static int Of(const ParseTreeNode *op, Polarity down) {
        return static_cast<int>(IsAndOr(op->opId) ? down & kNearest : OfTerm(down));
    }

    // A group's contents and an operator's left operand share the field, so one test serves
    // both; the rare rewrite is out of line.
    Step Enter(ParseTreeNode *node, Polarity down) {
        if (!Matching(node->left)) return Step::kDescend;
        return RewriteFirst(node, down);
    }
    MSC_NOINLINE Step RewriteFirst(ParseTreeNode *node, Polarity down) {
        bool done = node->kind == NODE_GROUP ? TurnIntoOne(node->inner, arena)
                                             : RewriteLeft(node, Of(node, down), arena) == 0;
        if (done) return Step::kSkip;
        Failed();
        return Step::kStop;
    }
    // The operands of an and/or stay in its list; a group or any other operator begins a new
    // one that inherits its own polarity.
    Polarity Operand(const ParseTreeNode *parent, Polarity down, Side side) {
        if (side == Side::kInner || !IsAndOr(parent->opId)) return down | kNewList;
        down = Resolved(down);
        bool isAnd = parent->opId == OP_AND;
        if (side == Side::kLeft) {
            return (down & (kInherited | kAndBefore | kOrBefore)) | (isAnd ? kAndAfter | kNearest : kOrAfter);
        }
        return (down & (kInherited | kAndAfter | kOrAfter)) | (isAnd ? kAndBefore | kNearest : kOrBefore);
    }
    bool Between(ParseTreeNode *op, Polarity down, ParseTreeNode *&right) {
        if (Matching(op->right) && RewriteRight(op, Of(op, down), arena) != 0) return Failed();
        right = op->right;
        return true;
    }
    bool Leaf(const ParseTreeNode *node, Polarity) {
        if (node == nullptr || node->kind <= NODE_VALUE) return true;
        return Failed();
    }
};

// The root is never replaced: a matching property leaf at the root becomes the value "1" in place.
template <typename Matches>
int RewriteTree(ParseTreeNode *tree, const Matches &matches, Arena *arena = nullptr) {
    Rewriting<Matches> rewriting(matches, arena);
    if (rewriting.Matching(tree)) return TurnIntoOne(tree, arena) ? 0 : -1;
    Walk(tree, rewriting, Polarity{kNearest | kInherited});
    return rewriting.result;
}

// Containers whose searches must not return references.
const char *const kRefIdContainers[] = {"A0$128$129", "A0$148$149", "A0$160$161"};

bool IsRefIdContainer(const char *containerId) {
    for (const char *container : kRefIdContainers) {
        if (strcmp(containerId, container) == 0) return true;
    }
    return false;
}

// Turns a true @refID condition in a reference-free container into "1" = "0"; always 0. Out of
// line: most trees have no @refID condition, and their lookup need not save registers for this.
MSC_NOINLINE int RewriteRefIdCondition(const char *containerId, ParseTreeNode *condition,
                                                    Arena *arena = nullptr) {
    const char *value = condition->right->text;
    if (!RefIdRuleApplies(containerId, value, strnlen(value, 4))) return 0;

    // Take the new text first: when memory runs out the condition stays as it was.
    char *one = NewOneText(arena);
    if (one == nullptr) return 0;
    condition->opId = kConstantOperator;
    condition->left->kind = NODE_VALUE;
    condition->left->text = one;
    // The value text begins with "true", so its buffer holds at least five bytes.
    memcpy(condition->right->text, kConstantText[0], 2);
    return 0;
}

}  // namespace

bool RefIdRuleApplies(const char *containerId, const char *value, size_t length) {
    // The four bytes are read only when the text has them.
    return length >= 4 && EqualsFolded(value, 4, "true") && IsRefIdContainer(containerId);
}

int RewriteUnsupported(ParseTreeNode *tree, const TokenEntry *supportedTable, Arena *arena) {
    return RewriteTree(tree, [supportedTable](int id) { return !HasEntry(supportedTable, id); }, arena);
}

bool MakeRefIdConditionFalse(const char *containerId, ParseTreeNode *tree, Arena *arena) {
    ParseTreeNode *condition = FirstConditionWithValue(tree, PROP_REFID);
    if (condition == nullptr) return false;
    RewriteRefIdCondition(containerId, condition, arena);
    return condition->left->kind == NODE_VALUE;
}

}  // namespace msc

extern "C" {

int SetAlwayTrueForProperty(ParseTreeNode *tree, int propertyId) {
    return msc::RewriteTree(tree, [propertyId](int id) { return id == propertyId; });
}

int SetAlwayTrueForNonSupportedProperty(ParseTreeNode *tree, const TokenEntry *supportedTable) {
    return msc::RewriteUnsupported(tree, supportedTable, nullptr);
}

int CheckContainerIsSupportRefID(const char *containerId, ParseTreeNode *pTree) {
    // The messages name the parser's source and fixed line numbers, as hosts' log filters expect.
    if (containerId == nullptr) {
        fprintf(stderr, "[%s][%s:%d]containerId is NULL\n", "SearchCriteriaParser.cpp",
                "CheckContainerIsSupportRefID", 1091);
        return 1;
    }
    if (pTree == nullptr) {
        fprintf(stderr, "[%s][%s:%d]pTree is NULL\n", "SearchCriteriaParser.cpp",
                "CheckContainerIsSupportRefID", 1095);
        return 0;
    }
    ParseTreeNode *condition = msc::FirstConditionWithValue(pTree, PROP_REFID);
    if (condition == nullptr) return 1;
    return msc::RewriteRefIdCondition(containerId, condition);
}

}  // extern "C"
