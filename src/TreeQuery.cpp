// Read-only queries on a tree: the condition on a property, the searched class, the list of
// properties used, and the diagnostic dump. Each is a visitor on the walk of TreeWalk.h.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Internal.h"
#include "TreeWalk.h"

namespace msc {
namespace {

// Stops at the first operator or group that has a matching property leaf as an operand: an
// operator's own operands are looked at before anything below them.
struct ConditionLookup : WalkHooks<const ParseTreeNode, int> {
    int propertyId;
    const ParseTreeNode *found = nullptr;

    explicit ConditionLookup(int id) : propertyId(id) {}

    // A node whose operands are all leaves has nothing below them to look at: skipped.
    Step Enter(const ParseTreeNode *node, int) {
        const ParseTreeNode *first = node->left;  // a group's inner is the same field
        bool firstIsLeaf = IsLeaf(first);
        if (firstIsLeaf && IsPropertyLeaf(first, propertyId)) return Found(node);
        if (node->kind == NODE_GROUP) return firstIsLeaf ? Step::kSkip : Step::kDescend;
        const ParseTreeNode *right = node->right;
        if (!IsLeaf(right)) return Step::kDescend;
        if (IsPropertyLeaf(right, propertyId)) return Found(node);
        return firstIsLeaf ? Step::kSkip : Step::kDescend;
    }
    Step Found(const ParseTreeNode *node) {
        found = node;
        return Step::kStop;
    }
    bool Leaf(const ParseTreeNode *, int) { return true; }
};

}  // namespace

ParseTreeNode *FindConditionNode(const ParseTreeNode *tree, int propertyId) {
    ConditionLookup lookup(propertyId);
    Walk(tree, lookup, 0);
    return const_cast<ParseTreeNode *>(lookup.found);
}

ParseTreeNode *FirstConditionWithValue(const ParseTreeNode *tree, int propertyId) {
    ParseTreeNode *condition = FindConditionNode(tree, propertyId);
    if (condition == nullptr || condition->kind != NODE_OPERATOR || condition->right == nullptr ||
        condition->right->kind != NODE_VALUE) {
        return nullptr;
    }
    return condition;
}

const char *UPnPClassOf(const ParseTreeNode *tree) {
    const ParseTreeNode *condition = FirstConditionWithValue(tree, PROP_UPNP_CLASS);
    return condition != nullptr ? condition->right->text : nullptr;
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

// Gathers the ids of the property leaves; a node of unknown kind, or an array that could not
// grow, ends the walk with what was gathered so far.
struct PropertyCollector : WalkHooks<const ParseTreeNode, int> {
    PropertyIds ids;

    bool Leaf(const ParseTreeNode *leaf, int) {
        if (leaf == nullptr || leaf->kind == NODE_VALUE) return true;
        return leaf->kind == NODE_PROPERTY && ids.Append(leaf->propertyId);
    }
};

const char *OrNull(const char *name) { return name != nullptr ? name : "(null)"; }

// Prints one line per node, "--->" per level of 'depth' before it; an operator's line comes
// between its operands, at its own depth, and a group's closing line is never indented.
// 'result' is that of the last output call.
struct Dumper : WalkHooks<const ParseTreeNode, int> {
    FILE *stream;
    const TokenEntry *hostProperties;  // Names of the ids that g_PropertyName lacks, or nullptr.
    int result = 0;

    Dumper(FILE *s, const TokenEntry *host) : stream(s), hostProperties(host) {}

    // "--->" per level, in as few calls as possible: a long and/or list prints each further
    // operand one level deeper.
    void Indent(int depth) {
        static const char kArrows[] = "--->--->--->--->--->--->--->--->--->--->--->--->--->--->--->--->";
        constexpr int kArrowsPerCall = (sizeof kArrows - 1) / 4;
        for (; depth > 0; depth -= kArrowsPerCall) {
            fwrite(kArrows, 4, static_cast<size_t>(depth < kArrowsPerCall ? depth : kArrowsPerCall), stream);
        }
    }
    // Writes tag + text + newline ("V:abc\n") with one output call, as fprintf("V:%s\n") would,
    // and keeps what fprintf would return; cheaper than having the format parsed.
    void Line(int depth, const char (&tag)[3], const char *text) {
        Indent(depth);
        char line[256];
        size_t length = strlen(text);
        if (length > sizeof line - 3) {
            result = fprintf(stream, "%s%s\n", tag, text);
            return;
        }
        memcpy(line, tag, 2);
        memcpy(line + 2, text, length);
        line[length + 2] = '\n';
        size_t total = length + 3;
        result = fwrite(line, 1, total, stream) == total ? static_cast<int>(total) : -1;
    }
    void Put(int depth, const char *text) {
        Indent(depth);
        result = fputs(text, stream);
    }

    Step Enter(const ParseTreeNode *node, int depth) {
        if (node->kind == NODE_GROUP) Put(depth, "->()\n");
        return Step::kDescend;
    }
    int Operand(const ParseTreeNode *, int depth, Side) { return depth + 1; }
    bool Between(const ParseTreeNode *op, int depth, const ParseTreeNode *&right) {
        // Ids below the logical ones have no keyword table: no line, indentation included.
        const TokenEntry *table = OperatorTable(op->opId, g_LogOpName, g_BinOpName, g_ExistOpName, kStandardOpName);
        if (table != nullptr) Line(depth, "O:", OrNull(LookupName(table, op->opId)));
        right = op->right;
        return true;
    }
    bool Leave(const ParseTreeNode *, int) {
        Put(0, "<-()\n");
        return true;
    }
    bool Leaf(const ParseTreeNode *node, int depth) {
        if (node == nullptr) {
            Put(depth, "NULL\n");
        } else if (node->kind == NODE_VALUE) {
            Line(depth, "V:", OrNull(node->text));
        } else if (node->kind == NODE_PROPERTY) {
            Line(depth, "P:", OrNull(PropertyNameOf(node->propertyId, hostProperties)));
        } else {
            Put(depth, "Something Error\n");
        }
        return true;
    }
};

}  // namespace
}  // namespace msc

extern "C" {

const char *GetUPnPClass(const ParseTreeNode *tree) { return msc::UPnPClassOf(tree); }

// A count that is not 0 on entry is reset: it is also the index of the next store into the
// fresh array, so trusting it would write outside the array.
int *GetPropertyList(const ParseTreeNode *tree, int *count) {
    if (tree == nullptr || count == nullptr) return nullptr;
    msc::PropertyCollector collector;
    msc::Walk(tree, collector, 0);
    *count = collector.ids.count;
    return collector.ids.array;
}

int TravelTreeToStream(const ParseTreeNode *tree, int depth, FILE *stream, const TokenEntry *hostProperties) {
    msc::Dumper dumper(stream, hostProperties);
    msc::Walk(tree, dumper, depth);
    return dumper.result;
}

int TravelTree(const ParseTreeNode *tree, int depth) { return TravelTreeToStream(tree, depth, stdout, nullptr); }

}  // extern "C"
