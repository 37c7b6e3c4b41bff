// Declarations shared by the library's sources; never installed.
#ifndef MSC_INTERNAL_H
#define MSC_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mysearchcriteria.h"

// Forces a small function inline where a call per piece or per token would cost more than its
// work. Only when optimising: an unoptimised build keeps the locals of every inlined call in the
// caller's frame, and the recursive walkers pay their frame once per level of nesting.
#if defined(__OPTIMIZE__)
#define MSC_ALWAYS_INLINE __attribute__((always_inline))
#else
#define MSC_ALWAYS_INLINE
#endif

namespace msc {

// Allocates one node of the given kind with every field cleared; nullptr when memory runs out.
// Inline: the parser makes one per node, and the call cost more than the stores.
inline ParseTreeNode *NewNode(NodeKind kind) {
    auto *node = static_cast<ParseTreeNode *>(malloc(sizeof(ParseTreeNode)));
    if (node != nullptr) *node = ParseTreeNode{static_cast<uint32_t>(kind), {nullptr}, nullptr, 0};
    return node;
}

// Copies from[0..n-1] with an N-byte load and store at each end of it (n from N to 2N), which
// may overlap and touch nothing outside the n bytes.
template <size_t N>
MSC_ALWAYS_INLINE inline void CopyBothEnds(char *to, const char *from, size_t n) {
    char head[N], tail[N];
    memcpy(head, from, N);
    memcpy(tail, from + n - N, N);
    memcpy(to, head, N);
    memcpy(to + n - N, tail, N);
}

// Copies a value text. Values are nearly always short, class names such as
// "object.container.album.musicAlbum" the longest: up to 32 bytes take two loads and stores
// instead of a call to memcpy, which cost more than the copy.
MSC_ALWAYS_INLINE inline void CopyValueText(char *to, const char *from, size_t n) {
    if (n >= 16) {
        if (n > 32) {
            memcpy(to, from, n);
        } else {
            CopyBothEnds<16>(to, from, n);
        }
    } else if (n >= 8) {
        CopyBothEnds<8>(to, from, n);
    } else if (n >= 4) {
        CopyBothEnds<4>(to, from, n);
    } else if (n >= 2) {
        CopyBothEnds<2>(to, from, n);
    } else if (n == 1) {
        to[0] = from[0];
    }
}

// Allocates a value leaf owning a malloc'd copy of text[0..length-1], in storage of at least
// 'room' bytes; nullptr when memory runs out, with nothing left allocated. Inline like NewNode:
// the parser makes one per value.
inline ParseTreeNode *NewValueLeaf(const char *text, size_t length, size_t room = 0) {
    auto *copy = static_cast<char *>(malloc(length + 1 > room ? length + 1 : room));
    if (copy == nullptr) return nullptr;
    CopyValueText(copy, text, length);
    copy[length] = '\0';
    ParseTreeNode *leaf = NewNode(NODE_VALUE);
    if (leaf == nullptr) {
        free(copy);
        return nullptr;
    }
    leaf->text = copy;
    return leaf;
}

// Returns the name of the first entry of 'table' whose id is 'id', or nullptr at the terminator.
const char *LookupName(const TokenEntry *table, int id);

// The SQL or criteria table that holds an operator id, chosen by its range: above 29 the
// exists table, 20 to 29 the binary one, 10 to 19 the logical one, nullptr for 9 or less.
const TokenEntry *OperatorTable(int opId, const TokenEntry *logical, const TokenEntry *binary,
                                const TokenEntry *exists);

// True when 'node' is a property leaf with the identifier 'propertyId'.
inline bool IsPropertyLeaf(const ParseTreeNode *node, int propertyId) {
    return node != nullptr && node->kind == NODE_PROPERTY && node->propertyId == propertyId;
}

// True for an operator neither of whose operands is an operator or a group (a comparison, as the
// parser makes them): a walker can take its operands in place instead of calling itself on it.
inline bool IsComparisonOfLeaves(const ParseTreeNode *node) {
    return node != nullptr && node->kind == NODE_OPERATOR &&
           (node->left == nullptr || node->left->kind >= NODE_PROPERTY) &&
           (node->right == nullptr || node->right->kind >= NODE_PROPERTY);
}

// Folds ASCII letters only. Keywords are ASCII, and a server's locale must not change what a
// client's criteria means, so the folding ignores the locale (the C and UTF-8 locales agree).
inline unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// strncasecmp(text, word, strlen(word)) == 0 over ASCII letters, locale-free like FoldAscii.
bool StartsWithIgnoringCase(const char *text, const char *word);

// The internal node lookup: the node holding the first condition on 'propertyId', searched
// depth first with an operator's own children looked at before anything below them.
ParseTreeNode *FindConditionNode(const ParseTreeNode *tree, int propertyId);

// Why a parse stopped; the offset is the byte where it stopped.
struct ParseFailure {
    SearchParseErrorCode code;
    int offset;
};

// Room that an @id or @refID value text needs at least: its rewritten form is at most "-32768"
// and its NUL.
constexpr size_t kIdentifierRoom = 8;

// Rewrites an identifier value in place into the decimal number of its last "$"-separated part,
// read by the host's myatoll and shifted right by 16 bits with its sign ("A0$8454145" becomes
// "129"). 'text' has room for at least kIdentifierRoom bytes.
void RewriteIdentifier(char *text);

// Ends a parse: hands the tree to *tree on success (or frees it when the caller gave no slot),
// frees what a failed parse built; returns the parse result, 0 or 1.
int HandOverTree(bool ok, ParseTreeNode *root, ParseTreeNode **tree);

// The classic parse behind Parse_searchExp; 'quiet' leaves standard error alone, and *failure
// (when not null) tells why a failed parse stopped.
int ParseClassic(ParseTreeNode **tree, const char *criteria, int first, int last, bool quiet,
                 ParseFailure *failure);

// The UPnP ContentDirectory grammar behind Parse_searchExpEx(SEARCH_PARSE_STANDARD); always
// quiet. 'options' may add SEARCH_PARSE_KEEP_UNKNOWN.
int ParseStandard(ParseTreeNode **tree, const char *criteria, int first, int last, unsigned options,
                  ParseFailure *failure);

}  // namespace msc

#endif  // MSC_INTERNAL_H
