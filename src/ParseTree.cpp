// The parse tree: token tables, node allocation, freeing and copying.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Internal.h"
#include "Keywords.h"
#include "TreeWalk.h"

extern "C" {

const TokenEntry g_PropertyName[] = {
    {PROP_DC_TITLE, "dc:title"},
    {PROP_DC_DATE, "dc:date"},
    {PROP_DC_CREATOR, "dc:creator"},
    {PROP_UPNP_CLASS, "upnp:class"},
    {PROP_UPNP_ACTOR, "upnp:actor"},
    {PROP_UPNP_ARTIST, "upnp:artist"},
    {PROP_UPNP_ALBUM, "upnp:album"},
    {PROP_UPNP_GENRE, "upnp:genre"},
    {PROP_REFID, "@refID"},
    {PROP_ID, "@id"},
    {PROP_RES, "res"},
    {PROP_UPNP_ORIGINAL_TRACK_NUMBER, "upnp:originalTrackNumber"},
    {0, nullptr},
};

const TokenEntry g_LogOpName[] = {{OP_AND, "and"}, {OP_OR, "or"}, {0, nullptr}};
const TokenEntry g_LogOpSQL[] = {{OP_AND, "AND"}, {OP_OR, "OR"}, {0, nullptr}};

const TokenEntry g_BinOpName[] = {
    {OP_EQ, "="},
    {OP_NE, "!="},
    {OP_LT, "<"},
    {OP_LE, "<="},
    {OP_GT, ">"},
    {OP_GE, ">="},
    {OP_CONTAINS, "contains"},
    {OP_DOES_NOT_CONTAIN, "doesNotContain"},
    {OP_DERIVED_FROM, "derivedfrom"},
    {OP_IS, "is"},
    {0, nullptr},
};

const TokenEntry g_BinOpSQL[] = {
    {OP_EQ, "="},
    {OP_NE, "<>"},
    {OP_LT, "<"},
    {OP_LE, "<="},
    {OP_GT, ">"},
    {OP_GE, ">="},
    {OP_CONTAINS, "LIKE"},
    {OP_DOES_NOT_CONTAIN, "NOT LIKE"},
    {OP_DERIVED_FROM, "LIKE"},
    {OP_IS, "="},
    {0, nullptr},
};

const TokenEntry g_ExistOpName[] = {{OP_EXISTS, "exists"}, {0, nullptr}};
const TokenEntry g_ExistOpSQL[] = {{OP_EXISTS, "IS"}, {0, nullptr}};

}  // extern "C"

namespace msc {

const TokenEntry kStandardOpName[] = {{OP_STARTS_WITH, "startsWith"}, {0, nullptr}};
const TokenEntry kStandardOpSQL[] = {{OP_STARTS_WITH, "LIKE"}, {0, nullptr}};

const char *LookupName(const TokenEntry *table, int id) {
    if (table == nullptr) return nullptr;
    for (; table->id != 0; ++table) {
        if (table->id == id) return table->name;
    }
    return nullptr;
}

void RewriteIdentifier(char *text) {
    const char *dollar = strrchr(text, '$');
    const char *number = dollar != nullptr ? dollar + 1 : text;
    auto low32 = static_cast<int32_t>(static_cast<uint32_t>(myatoll(number)));
    int32_t id = low32 >> 16;  // -32768 to 32767: "-32768" and its NUL fit kIdentifierRoom.
    // The digits by hand, as "%lld" writes them: snprintf cost more than the rest of the parse
    // of a short criteria.
    char digits[kIdentifierRoom];
    char *first = digits + sizeof digits;
    *--first = '\0';
    uint32_t magnitude = id < 0 ? 0u - static_cast<uint32_t>(id) : static_cast<uint32_t>(id);
    do {
        *--first = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (id < 0) *--first = '-';
    memcpy(text, first, static_cast<size_t>(digits + sizeof digits - first));
}

void FreeTree(ParseTreeNode *tree, Arena *arena) {
    if (arena == nullptr) freeParseTree(tree);
}

int HandOverTree(bool ok, ParseTreeNode *root, ParseTreeNode **tree, Arena *arena) {
    if (!ok || tree == nullptr) {
        FreeTree(root, arena);
        root = nullptr;
    }
    if (tree != nullptr) *tree = root;
    return ok ? 0 : 1;
}

namespace {

// Frees each node as the walk leaves it; the walk never recurses, so no shape can exhaust the
// stack. Between and Leave get nodes whose operand the walk has read.
struct Freeing : WalkHooks<ParseTreeNode, int> {
    static constexpr bool kConsumes = true;

    bool Between(ParseTreeNode *op, int, ParseTreeNode *&right) {
        right = op->right;
        free(op);
        return true;
    }
    bool Leave(ParseTreeNode *group, int) {
        free(group);
        return true;
    }
    bool Leaf(ParseTreeNode *node, int) {
        if (node != nullptr && node->kind == NODE_VALUE) free(node->text);
        free(node);
        return true;
    }
};

// Copies each node into the slot its parent's copy holds for it, in walk order; stops when
// memory runs out, the partial copy then hanging under the root. A node of unknown kind has no
// copy, and the parent's copy keeps a null operand.
struct Cloning : WalkHooks<const ParseTreeNode, ParseTreeNode **> {
    Step Enter(const ParseTreeNode *source, ParseTreeNode **slot) {
        ParseTreeNode *copy = NewNode(static_cast<NodeKind>(source->kind));
        if (copy == nullptr) return Step::kStop;
        if (source->kind == NODE_OPERATOR) copy->opId = source->opId;
        *slot = copy;
        return Step::kDescend;
    }
    ParseTreeNode **Operand(const ParseTreeNode *, ParseTreeNode **slot, Side side) {
        if (side == Side::kRight) return &(*slot)->right;
        return side == Side::kInner ? &(*slot)->inner : &(*slot)->left;
    }
    bool Leaf(const ParseTreeNode *source, ParseTreeNode **slot) {
        if (source == nullptr) return true;
        if (source->kind == NODE_PROPERTY) {
            *slot = NewNode(NODE_PROPERTY);
            if (*slot == nullptr) return false;
            (*slot)->propertyId = source->propertyId;
        } else if (source->kind == NODE_VALUE) {
            const char *text = source->text != nullptr ? source->text : "";
            *slot = NewValueLeaf(text, strlen(text));
            if (*slot == nullptr) return false;
        }
        return true;
    }
};

}  // namespace
}  // namespace msc

extern "C" {

void freeParseTree(ParseTreeNode *tree) {
    msc::Freeing freeing;
    msc::Walk(tree, freeing, 0);
}

ParseTreeNode *CloneParseTree(const ParseTreeNode *tree) {
    ParseTreeNode *copy = nullptr;
    msc::Cloning cloning;
    if (!msc::Walk(tree, cloning, &copy)) {
        // Returning part of a copy could hand the host a node without its text or operand.
        freeParseTree(copy);
        return nullptr;
    }
    return copy;
}

}  // extern "C"
