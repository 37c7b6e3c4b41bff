// The parse tree: token tables, node allocation, freeing and copying.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Internal.h"

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

const char *LookupName(const TokenEntry *table, int id) {
    if (table == nullptr) return nullptr;
    for (; table->id != 0; ++table) {
        if (table->id == id) return table->name;
    }
    return nullptr;
}

const TokenEntry *OperatorTable(int opId, const TokenEntry *logical, const TokenEntry *binary,
                                const TokenEntry *exists) {
    if (opId > 29) return exists;
    if (opId >= 20) return binary;
    if (opId >= 10) return logical;
    return nullptr;
}

bool StartsWithIgnoringCase(const char *text, const char *word) {
    for (; *word != '\0'; ++text, ++word) {
        if (FoldAscii(static_cast<unsigned char>(*text)) !=
            FoldAscii(static_cast<unsigned char>(*word))) {
            return false;
        }
    }
    return true;
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

int HandOverTree(bool ok, ParseTreeNode *root, ParseTreeNode **tree) {
    if (!ok || tree == nullptr) {
        freeParseTree(root);
        root = nullptr;
    }
    if (tree != nullptr) *tree = root;
    return ok ? 0 : 1;
}

namespace {

// Copies a leaf, or nothing, into *slot; a node of unknown kind has no copy, and its parent
// keeps a null child. False when memory ran out. Inline: a call per leaf cost more than its work.
MSC_ALWAYS_INLINE inline bool CloneLeaf(const ParseTreeNode *source, ParseTreeNode **slot) {
    if (source == nullptr) return true;
    if (source->kind == NODE_PROPERTY) {
        ParseTreeNode *copy = NewNode(NODE_PROPERTY);
        if (copy == nullptr) return false;
        copy->propertyId = source->propertyId;
        *slot = copy;
    } else if (source->kind == NODE_VALUE) {
        const char *text = source->text != nullptr ? source->text : "";
        ParseTreeNode *copy = NewValueLeaf(text, strlen(text));
        if (copy == nullptr) return false;
        *slot = copy;
    }
    return true;
}

// Copies an operator node without its operands into *slot; nullptr when memory ran out.
ParseTreeNode *CloneOperator(const ParseTreeNode *source, ParseTreeNode **slot) {
    ParseTreeNode *copy = NewNode(NODE_OPERATOR);
    if (copy == nullptr) return nullptr;
    copy->opId = source->opId;
    *slot = copy;
    return copy;
}

// Copies 'source' and everything below it into *slot, node by node in the order of a depth-first
// walk. Recurses into left operands only and follows right operands and group contents in a
// loop, so an and/or list of any length costs one frame; the parser bounds the nesting that does
// recurse. Returns false when memory ran out; the partial copy then hangs under the caller's
// root, which frees it.
bool CloneInto(const ParseTreeNode *source, ParseTreeNode **slot) {
    while (source != nullptr) {
        switch (source->kind) {
            case NODE_OPERATOR: {
                ParseTreeNode *copy = CloneOperator(source, slot);
                if (copy == nullptr) return false;
                const ParseTreeNode *left = source->left;
                // Leaves, and a comparison of leaves (the usual left operand of and/or), are
                // copied here without a call.
                if (left == nullptr || left->kind >= NODE_PROPERTY) {
                    if (!CloneLeaf(left, &copy->left)) return false;
                } else if (IsComparisonOfLeaves(left)) {
                    ParseTreeNode *comparison = CloneOperator(left, &copy->left);
                    if (comparison == nullptr || !CloneLeaf(left->left, &comparison->left) ||
                        !CloneLeaf(left->right, &comparison->right)) {
                        return false;
                    }
                } else if (!CloneInto(left, &copy->left)) {
                    return false;
                }
                slot = &copy->right;
                source = source->right;
                break;
            }
            case NODE_GROUP: {
                ParseTreeNode *copy = NewNode(NODE_GROUP);
                if (copy == nullptr) return false;
                *slot = copy;
                slot = &copy->inner;
                source = source->inner;
                break;
            }
            default:
                return CloneLeaf(source, slot);
        }
    }
    return true;
}

// True when 'node' is there and of the given kind.
inline bool IsOfKind(const ParseTreeNode *node, NodeKind kind) {
    return node != nullptr && node->kind == static_cast<uint32_t>(kind);
}

// Frees a value leaf and its text.
inline void FreeValueLeaf(ParseTreeNode *leaf) {
    free(leaf->text);
    free(leaf);
}

}  // namespace
}  // namespace msc

extern "C" {

// Frees without recursion, so that no tree shape can exhaust the stack: an operator node whose
// right operand is still to be freed becomes a cell of a stack of pending subtrees, holding the
// subtree in 'left' and the next cell in 'right', and is freed when popped.
void freeParseTree(ParseTreeNode *tree) {
    ParseTreeNode *pending = nullptr;
    ParseTreeNode *node = tree;
    for (;;) {
        if (node == nullptr) {
            if (pending == nullptr) return;
            ParseTreeNode *cell = pending;
            pending = cell->right;
            node = cell->left;
            free(cell);
            continue;
        }
        ParseTreeNode *next = nullptr;
        switch (node->kind) {
            case NODE_OPERATOR: {
                ParseTreeNode *left = node->left;
                ParseTreeNode *right = node->right;
                if (msc::IsOfKind(left, NODE_PROPERTY)) {
                    // A comparison: its leaves go at once, and no cell is needed.
                    free(left);
                    if (msc::IsOfKind(right, NODE_VALUE)) {
                        msc::FreeValueLeaf(right);
                    } else {
                        next = right;
                    }
                    break;
                }
                if (left != nullptr && left->kind == NODE_OPERATOR) {
                    ParseTreeNode *property = left->left;
                    ParseTreeNode *value = left->right;
                    if (msc::IsOfKind(property, NODE_PROPERTY) && msc::IsOfKind(value, NODE_VALUE)) {
                        // A comparison under and/or, the usual left operand: freed whole at once.
                        free(property);
                        msc::FreeValueLeaf(value);
                        free(left);
                        next = right;
                        break;
                    }
                }
                if (right != nullptr) {
                    node->left = right;
                    node->right = pending;
                    pending = node;
                    node = left;
                    continue;
                }
                next = left;
                break;
            }
            case NODE_GROUP:
                next = node->inner;
                break;
            case NODE_VALUE:
                free(node->text);
                break;
            default:
                break;
        }
        free(node);
        node = next;
    }
}

ParseTreeNode *CloneParseTree(const ParseTreeNode *tree) {
    ParseTreeNode *copy = nullptr;
    if (!msc::CloneInto(tree, &copy)) {
        // Returning part of a copy could hand the host a node without its text or operand.
        freeParseTree(copy);
        return nullptr;
    }
    return copy;
}

}  // extern "C"
