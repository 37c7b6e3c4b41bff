// Tree rewrites: conditions the host cannot evaluate become constant comparisons, "1" = "1" where
// a true operand leaves the enclosing and unchanged, "1" = "0" where a false one leaves the
// enclosing or unchanged; and a true @refID condition in three fixed containers becomes false.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Internal.h"

namespace msc {
namespace {

char *NewOneText() {
    auto *one = static_cast<char *>(malloc(2));
    if (one != nullptr) memcpy(one, "1", 2);
    return one;
}

// Turns a property leaf into the value leaf "1" in place; the node keeps its address, so the
// parent's link stays valid. False when memory runs out, the leaf then unchanged.
bool TurnIntoOne(ParseTreeNode *leaf) {
    char *one = NewOneText();
    if (one == nullptr) return false;
    leaf->kind = NODE_VALUE;
    leaf->text = one;
    return true;
}

ParseTreeNode *NewDigitLeaf(int polarity) { return NewValueLeaf(polarity != 0 ? "1" : "0", 1); }

// The left operand is the matching property leaf: the node becomes "1" = "1" or "1" = "0".
// Each step that allocates comes before the change it feeds, so a failure never leaves a value
// leaf without text.
int RewriteLeft(ParseTreeNode *node, int polarity) {
    freeParseTree(node->right);
    node->right = nullptr;
    node->right = NewDigitLeaf(polarity);
    if (node->right == nullptr || !TurnIntoOne(node->left)) return -1;
    node->opId = OP_EQ;
    return 0;
}

// The right operand is the matching property leaf; whatever the left operand holds is released.
int RewriteRight(ParseTreeNode *node, int polarity) {
    freeParseTree(node->right);
    node->right = nullptr;
    node->right = NewDigitLeaf(polarity);
    if (node->right == nullptr) return -1;
    freeParseTree(node->left);
    node->left = nullptr;
    node->left = NewValueLeaf("1", 1);
    if (node->left == nullptr) return -1;
    node->opId = OP_EQ;
    return 0;
}

// The polarity that an operator hands to its operands: its own when it is an and or an or, else
// the one it received.
inline int OperandPolarity(const ParseTreeNode *node, int polarity) {
    return node->opId == OP_OR ? 0 : node->opId == OP_AND ? 1 : polarity;
}

// What RewriteLeaves and RewriteWalk<false> return where they would have to make a call.
constexpr int kNeedsCalls = 2;

// What the walk below does with a comparison of leaves (IsComparisonOfLeaves), the usual left
// operand of and/or, without calling itself on it: 0 when done, -1 on a leaf of unknown kind or
// an allocation failure, kNeedsCalls for a rewrite when kMayCall is false. 'polarity' is the one
// the walk would hand to the comparison.
template <bool kMayCall, typename Matches>
int RewriteLeaves(ParseTreeNode *node, int polarity, const Matches &matches) {
    const ParseTreeNode *left = node->left;
    if (left != nullptr && left->kind == NODE_PROPERTY && matches(left->propertyId)) {
        return kMayCall ? RewriteLeft(node, polarity) : kNeedsCalls;
    }
    if (left != nullptr && left->kind > NODE_VALUE) return -1;
    const ParseTreeNode *right = node->right;
    if (right == nullptr || right->kind == NODE_VALUE) return 0;
    if (right->kind != NODE_PROPERTY) return -1;
    if (!matches(right->propertyId)) return 0;
    return kMayCall ? RewriteRight(node, polarity) : kNeedsCalls;
}

// The walk shared by both rewrites; 'matches' decides which property leaves are rewritten.
// Returns 1 when 'node' is itself a matching property leaf (its parent rewrites it), 0 when the
// subtree is done and -1 on a node of unknown kind or an allocation failure. The polarity is
// nonzero where the nearest and/or above is an and, or where there is none.
//
// Recurses into left operands only, following groups and right operands in a loop: the stack
// grows with the nesting that the parser bounds, not with the length of an and/or list.
//
// The first instance (kMayCall false) makes no calls but tail calls, so it needs no stack frame,
// and serves whole the usual tree, which has nothing to rewrite and no left operand beyond a
// comparison of leaves. Where it would make a call it hands over, at the same node, to the
// instance that makes them: it has changed nothing yet, so the result is the same.
template <bool kMayCall, typename Matches>
int RewriteWalk(ParseTreeNode *node, int polarity, const Matches &matches) {
    while (node != nullptr) {
        switch (node->kind) {
            case NODE_PROPERTY:
                return matches(node->propertyId) ? 1 : 0;
            case NODE_VALUE:
                return 0;
            case NODE_GROUP: {
                ParseTreeNode *inner = node->inner;
                if (inner != nullptr && inner->kind == NODE_PROPERTY) {
                    if (!matches(inner->propertyId)) return 0;
                    if (!kMayCall) return RewriteWalk<true>(node, polarity, matches);
                    return TurnIntoOne(inner) ? 0 : -1;
                }
                node = inner;
                break;
            }
            case NODE_OPERATOR: {
                // A comparison's property leaf is decided in place, without a call, and so is a
                // comparison of leaves that is the left operand of and/or.
                ParseTreeNode *leftNode = node->left;
                int left = 0;
                if (leftNode != nullptr && leftNode->kind == NODE_PROPERTY) {
                    left = matches(leftNode->propertyId) ? 1 : 0;
                } else if (IsComparisonOfLeaves(leftNode)) {
                    left = RewriteLeaves<kMayCall>(leftNode, OperandPolarity(node, polarity), matches);
                    if (!kMayCall && left == kNeedsCalls) return RewriteWalk<true>(node, polarity, matches);
                } else if (leftNode != nullptr && leftNode->kind != NODE_VALUE) {
                    if (!kMayCall) return RewriteWalk<true>(node, polarity, matches);
                    left = RewriteWalk<true>(leftNode, OperandPolarity(node, polarity), matches);
                }
                if (left < 0) return left;
                if (left == 1) return RewriteLeft(node, polarity);
                ParseTreeNode *right = node->right;
                if (right != nullptr && right->kind == NODE_PROPERTY) {
                    return matches(right->propertyId) ? RewriteRight(node, polarity) : 0;
                }
                if (right != nullptr && right->kind == NODE_VALUE) return 0;  // A comparison's value.
                polarity = OperandPolarity(node, polarity);
                node = right;
                break;
            }
            default:
                return -1;
        }
    }
    return 0;
}

// The root is never replaced: a matching property leaf at the root becomes the value "1" in place.
template <typename Matches>
int RewriteTree(ParseTreeNode *tree, const Matches &matches) {
    if (tree != nullptr && tree->kind == NODE_PROPERTY) {
        if (!matches(tree->propertyId)) return 0;
        return TurnIntoOne(tree) ? 0 : -1;
    }
    return RewriteWalk<false>(tree, 1, matches) < 0 ? -1 : 0;
}

// A null or empty table supports no property.
bool IsSupported(const TokenEntry *supportedTable, int propertyId) {
    if (supportedTable == nullptr) return false;
    for (; supportedTable->id != 0; ++supportedTable) {
        if (supportedTable->id == propertyId) return true;
    }
    return false;
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
__attribute__((noinline)) int RewriteRefIdCondition(const char *containerId, ParseTreeNode *condition) {
    if (!StartsWithIgnoringCase(condition->right->text, "true")) return 0;
    if (!IsRefIdContainer(containerId)) return 0;

    // Take the new text first: when memory runs out the condition stays as it was.
    char *one = NewOneText();
    if (one == nullptr) return 0;
    condition->opId = OP_EQ;
    condition->left->kind = NODE_VALUE;
    condition->left->text = one;
    // The value text begins with "true", so its buffer holds at least five bytes.
    condition->right->text[0] = '0';
    condition->right->text[1] = '\0';
    return 0;
}

}  // namespace
}  // namespace msc

extern "C" {

int SetAlwayTrueForProperty(ParseTreeNode *tree, int propertyId) {
    return msc::RewriteTree(tree, [propertyId](int id) { return id == propertyId; });
}

int SetAlwayTrueForNonSupportedProperty(ParseTreeNode *tree, const TokenEntry *supportedTable) {
    return msc::RewriteTree(tree,
                            [supportedTable](int id) { return !msc::IsSupported(supportedTable, id); });
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
    ParseTreeNode *condition = msc::FindConditionNode(pTree, PROP_REFID);
    if (condition == nullptr || condition->kind != NODE_OPERATOR || condition->right == nullptr ||
        condition->right->kind != NODE_VALUE) {
        return 1;
    }
    return msc::RewriteRefIdCondition(containerId, condition);
}

}  // extern "C"
