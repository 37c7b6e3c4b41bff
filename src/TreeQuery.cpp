// Read-only queries on a tree: the condition on a property, the searched class, the list of
// properties used, and the diagnostic dump.
//
// Every walker here recurses into left operands (and the dump into group contents) and follows
// right operands in a loop, so an and/or list, which the parser hangs on the right, costs one
// frame however long it is; the parser bounds the nesting that does recurse.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Internal.h"

namespace msc {

namespace {

// The lookup behind FindConditionNode. Its first instance (kMayCall false) makes no calls, so it
// needs no stack frame, and serves the usual trees whole; at a left operand that holds more than
// a comparison of leaves it hands over to the second instance, which calls itself for such
// operands, starting again at the same node (whose own operands have already been found not to
// match, so the result is the same).
template <bool kMayCall>
ParseTreeNode *FindCondition(const ParseTreeNode *tree, int propertyId) {
    const ParseTreeNode *node = tree;
    while (node != nullptr) {
        if (node->kind == NODE_GROUP) {
            if (IsPropertyLeaf(node->inner, propertyId)) return const_cast<ParseTreeNode *>(node);
            node = node->inner;
        } else if (node->kind == NODE_OPERATOR) {
            // An operator's own operands are looked at before anything below them.
            const ParseTreeNode *left = node->left;
            if (IsPropertyLeaf(left, propertyId) || IsPropertyLeaf(node->right, propertyId)) {
                return const_cast<ParseTreeNode *>(node);
            }
            if (IsComparisonOfLeaves(left)) {
                // A comparison, the usual left operand of and/or: its own operands are all that
                // a call would look at, so they are looked at here.
                if (IsPropertyLeaf(left->left, propertyId) || IsPropertyLeaf(left->right, propertyId)) {
                    return const_cast<ParseTreeNode *>(left);
                }
            } else if (left != nullptr && left->kind <= NODE_OPERATOR) {
                // Only operators and groups hold conditions: no call for a leaf, the usual left
                // operand of a comparison.
                if (!kMayCall) return FindCondition<true>(node, propertyId);
                if (ParseTreeNode *found = FindCondition<true>(left, propertyId)) return found;
            }
            node = node->right;
            if (node != nullptr && node->kind >= NODE_PROPERTY) return nullptr;  // A leaf: done.
        } else {
            return nullptr;  // A leaf is found through its parent, never itself.
        }
    }
    return nullptr;
}

}  // namespace

ParseTreeNode *FindConditionNode(const ParseTreeNode *tree, int propertyId) {
    return FindCondition<false>(tree, propertyId);
}

namespace {

// Property ids gathered in walk order. The array grows by exactly 10 entries at a time, as
// hosts that size their own copies by it expect; realloc extends large blocks in place or by
// remapping, so long lists do not copy quadratically.
struct PropertyIds {
    int *array = nullptr;
    int count = 0;
    int capacity = 0;

    bool Append(int id) {
        if (count >= capacity) return Grow(id);
        array[count++] = id;
        return true;
    }

    // The first block comes from malloc, which is what realloc of a null pointer does, without
    // realloc's own checks; every later one from realloc.
    bool Grow(int id) {
        if (capacity > INT_MAX - 10) return Fail();
        capacity += 10;
        size_t bytes = sizeof(int) * static_cast<size_t>(capacity);
        void *grown = array == nullptr ? malloc(bytes) : realloc(array, bytes);
        if (grown == nullptr) return Fail();
        array = static_cast<int *>(grown);
        array[count++] = id;
        return true;
    }

    bool Fail() {
        free(array);
        *this = PropertyIds();
        return false;
    }
};

// What the walk below does with a leaf or a missing operand: a property leaf adds its id, and
// false stops the whole walk (a node of unknown kind, or an array that could not grow).
inline bool AppendLeaf(const ParseTreeNode *leaf, PropertyIds *ids) {
    if (leaf == nullptr || leaf->kind == NODE_VALUE) return true;
    if (leaf->kind == NODE_PROPERTY) return ids->Append(leaf->propertyId);
    return false;
}

// Returns false when the whole walk must stop: at a node of unknown kind, or when the array
// could not grow.
bool CollectPropertyIds(const ParseTreeNode *node, PropertyIds *ids) {
    while (node != nullptr) {
        switch (node->kind) {
            case NODE_GROUP:
                node = node->inner;
                break;
            case NODE_OPERATOR: {
                // A comparison's property leaf is taken in place, without a call; so are both
                // leaves of a comparison that is the left operand of and/or.
                const ParseTreeNode *left = node->left;
                if (left != nullptr && left->kind == NODE_PROPERTY) {
                    if (!ids->Append(left->propertyId)) return false;
                } else if (IsComparisonOfLeaves(left)) {
                    if (!AppendLeaf(left->left, ids) || !AppendLeaf(left->right, ids)) return false;
                } else if (left != nullptr && left->kind != NODE_VALUE) {
                    if (!CollectPropertyIds(left, ids)) return false;
                }
                node = node->right;
                break;
            }
            case NODE_PROPERTY:
                return ids->Append(node->propertyId);
            case NODE_VALUE:
                return true;
            default:
                return false;
        }
    }
    return true;
}

// Writes the indentation of a line at 'depth': "--->" per level, in as few calls as possible,
// since a long and/or list prints each further operand one level deeper.
void Indent(int depth) {
    static const char kArrows[] =
        "--->--->--->--->--->--->--->--->--->--->--->--->--->--->--->--->";
    constexpr int kArrowsPerCall = (sizeof kArrows - 1) / 4;
    for (; depth > 0; depth -= kArrowsPerCall) {
        int arrows = depth < kArrowsPerCall ? depth : kArrowsPerCall;
        fwrite(kArrows, 4, static_cast<size_t>(arrows), stdout);
    }
}

const char *OrNull(const char *name) { return name != nullptr ? name : "(null)"; }

// Writes the line tag + text + newline ("V:abc\n") with one output call, as printf("V:%s\n")
// would, and returns what printf would: the bytes written, or a negative value on an error.
// Composing the line and writing it with fwrite skips printf's parsing of the format, which
// was most of the cost of a dump.
int PutLine(const char (&tag)[3], const char *text) {
    char line[256];
    size_t length = strlen(text);
    if (length > sizeof line - 3) return printf("%s%s\n", tag, text);
    memcpy(line, tag, 2);
    memcpy(line + 2, text, length);
    line[length + 2] = '\n';
    size_t total = length + 3;
    return fwrite(line, 1, total, stdout) == total ? static_cast<int>(total) : -1;
}

int Dump(const ParseTreeNode *node, int depth) {
    for (;;) {
        if (node == nullptr) {
            Indent(depth);
            return fputs("NULL\n", stdout);
        }
        switch (node->kind) {
            case NODE_VALUE:
                Indent(depth);
                return PutLine("V:", OrNull(node->text));
            case NODE_PROPERTY:
                Indent(depth);
                return PutLine("P:", OrNull(LookupName(g_PropertyName, node->propertyId)));
            case NODE_GROUP:
                Indent(depth);
                fputs("->()\n", stdout);
                Dump(node->inner, depth + 1);
                return fputs("<-()\n", stdout);  // The closing line is never indented.
            case NODE_OPERATOR: {
                Dump(node->left, depth + 1);
                // Ids of 9 or less have no keyword table: their line, indentation included, is
                // left out, so that the next line still starts where it should.
                const TokenEntry *table =
                    OperatorTable(node->opId, g_LogOpName, g_BinOpName, g_ExistOpName);
                if (table != nullptr) {
                    Indent(depth);
                    PutLine("O:", OrNull(LookupName(table, node->opId)));
                }
                node = node->right;
                ++depth;
                break;
            }
            default:
                Indent(depth);
                return fputs("Something Error\n", stdout);
        }
    }
}

}  // namespace
}  // namespace msc

extern "C" {

const char *GetUPnPClass(const ParseTreeNode *tree) {
    const ParseTreeNode *condition = msc::FindConditionNode(tree, PROP_UPNP_CLASS);
    if (condition == nullptr || condition->kind != NODE_OPERATOR) return nullptr;
    const ParseTreeNode *value = condition->right;
    if (value == nullptr || value->kind != NODE_VALUE) return nullptr;
    return value->text;
}

// A count that is not 0 on entry is reset: it is also the index of the next store into the
// fresh array, so trusting it would write outside the array.
int *GetPropertyList(const ParseTreeNode *tree, int *count) {
    if (tree == nullptr || count == nullptr) return nullptr;
    msc::PropertyIds ids;
    msc::CollectPropertyIds(tree, &ids);
    *count = ids.count;
    return ids.array;
}

int TravelTree(const ParseTreeNode *tree, int depth) { return msc::Dump(tree, depth); }

}  // extern "C"
