// The search criteria parser: a single pass over a byte range of the caller's text, one token
// at a time, building the parse tree as it goes.
//
// Depth: an and/or list is parsed by a loop that hangs the rest of the range on the logical
// node's right operand, so its length costs no stack. Only a group recurses, once per level,
// and groups plus comparison chains are bounded by MSC_MAX_NESTING levels, which also bounds
// the recursion of every walker over the tree (they recurse into left operands and groups).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Lexer.h"

namespace msc {
namespace {

// The matching closing parenthesis of every opening one from some position to the end of the
// range, found in one pass the first time a group is met. Searching afresh from each group
// would rescan a group's contents once per enclosing level; this keeps the parse linear.
// Parentheses are counted whatever stands around them, inside quotes too: `(dc:title = "a)b")`
// ends its group inside the quotes.
class GroupMatcher {
public:
    explicit GroupMatcher(Arena *arena) : arena_(arena) {}
    GroupMatcher(const GroupMatcher &) = delete;
    GroupMatcher &operator=(const GroupMatcher &) = delete;
    ~GroupMatcher() {
        if (pairs_ != inlinePairs_ && arena_ == nullptr) free(pairs_);
    }

    // Sets *match to the closing parenthesis of the opening one at 'open' (-1 when there is none
    // up to 'last'); false when memory runs out.
    bool Find(const char *text, Pos open, Pos last, Pos *match) {
        if (count_ < 0 && !Build(text, open, last)) return false;
        // Groups are met in text order, so a cursor usually finds the entry at once.
        while (cursor_ < count_ && pairs_[cursor_].open < open) ++cursor_;
        while (cursor_ > 0 && pairs_[cursor_ - 1].open >= open) --cursor_;
        *match = (cursor_ < count_ && pairs_[cursor_].open == open) ? pairs_[cursor_].close : -1;
        return true;
    }

private:
    struct Pair {
        Pos open;
        Pos close;  // While unmatched: -2 - the index of the enclosing open pair, or -1.
    };

    bool Build(const char *text, Pos from, Pos last) {
        count_ = 0;
        Pos innermost = -1;
        for (Pos pos = from;; ++pos) {
            pos = FindStop<kOpen | kClose | kRangeEnd>(text, pos, last);
            if (pos > last) break;
            unsigned char c = static_cast<unsigned char>(text[pos]);
            if (c == '(') {
                if (count_ == capacity_ && !Grow()) return false;
                pairs_[count_] = {pos, -2 - innermost};
                innermost = count_++;
            } else if (c == ')' && innermost >= 0) {
                Pos enclosing = -2 - pairs_[innermost].close;
                pairs_[innermost].close = pos;
                innermost = enclosing;
            }
        }
        while (innermost >= 0) {
            Pos enclosing = -2 - pairs_[innermost].close;
            pairs_[innermost].close = -1;
            innermost = enclosing;
        }
        return true;
    }

    // Out of line: few texts hold more groups than the inline pairs.
    __attribute__((noinline)) bool Grow() {
        Pos capacity = capacity_ * 2;
        Pair *grown;
        if (arena_ != nullptr) {
            grown = static_cast<Pair *>(arena_->Take(sizeof(Pair) * static_cast<size_t>(capacity)));
            if (grown != nullptr) memcpy(grown, pairs_, sizeof(Pair) * static_cast<size_t>(capacity_));
        } else if (pairs_ == inlinePairs_) {
            grown = static_cast<Pair *>(malloc(sizeof(Pair) * static_cast<size_t>(capacity)));
            if (grown != nullptr) memcpy(grown, inlinePairs_, sizeof inlinePairs_);
        } else {
            grown = static_cast<Pair *>(realloc(pairs_, sizeof(Pair) * static_cast<size_t>(capacity)));
        }
        if (grown == nullptr) return false;
        pairs_ = grown;
        capacity_ = capacity;
        return true;
    }

    // Real criteria hold a handful of groups; only long texts need the heap.
    static constexpr Pos kInlinePairs = 32;
    Pair inlinePairs_[kInlinePairs];
    Pair *pairs_ = inlinePairs_;
    Pos capacity_ = kInlinePairs;
    Pos count_ = -1;  // -1 until built.
    Pos cursor_ = 0;
    Arena *arena_;  // Where a grown array comes from; null: the heap.
};

// kInArena: the tree goes into the arena, chosen once per parse rather than once per node.
template <bool kInArena>
class Parser : public Lexer {
public:
    Parser(const char *text, bool quiet, Arena *arena)
        : Lexer(text, quiet ? unsigned{kQuiet} : 0u, arena), groups_(arena) {}

    // Parses text_[pos..last] into *slot; false on failure, with what was built hanging under
    // the caller's root (the caller frees it).
    bool ParseExpression(Pos pos, Pos last, ParseTreeNode **slot, int nesting);

private:
    bool ParseGroup(Pos open, Pos last, ParseTreeNode **slot, int nesting, bool *done,
                    Pos *rightStart);

    GroupMatcher groups_;
};

template <bool kInArena>
bool Parser<kInArena>::ParseExpression(Pos pos, Pos last, ParseTreeNode **slot, int nesting) {
    // Each turn parses one operand; a logical keyword hangs the rest of the range on its right
    // operand and the loop goes on there.
    for (;;) {
        *slot = nullptr;
        pos = SkipBlanks(pos, last);
        if (pos > last) {
            if constexpr (kInArena) arena_->NoteLooseEnd();
            return true;
        }

        if (text_[pos] == '(') {
            Pos rightStart = 0;
            bool done = false;
            if (!ParseGroup(pos, last, slot, nesting, &done, &rightStart)) return false;
            if (done) return true;
            slot = &(*slot)->right;
            pos = rightStart;
            continue;
        }

        Token token = ClassicToken(pos, last);
        const TokenEntry *property = token.empty() ? nullptr : Keyword(Vocabulary::kProperty, token);
        if (property == nullptr) {
            if (!(flags_ & kQuiet)) fputs("can't find key!!\n", stderr);
            return Fail(SEARCH_PARSE_NO_PROPERTY, pos);
        }
        ParseTreeNode *current = NewPropertyLeafIn<kInArena>(property->id, arena_);
        if (current == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, pos);
        *slot = current;

        // Comparisons in a row: each one takes the tree so far as its left operand. At the
        // operator position a logical keyword wins over a binary one, and that over exists.
        for (int chain = 1;; ++chain) {
            pos = SkipBlanks(token.end, last);
            if (pos > last) {
                if constexpr (kInArena) {
                    if (chain == 1) arena_->NoteLooseEnd();
                }
                return true;
            }
            token = ClassicToken(pos, last);
            const TokenEntry *op = token.empty() ? nullptr : Keyword(Vocabulary::kOperator, token);
            if (op == nullptr) return Fail(SEARCH_PARSE_UNKNOWN_OPERATOR, pos);
            if (IsLogicalOperator(op->id)) {
                if constexpr (kInArena) {
                    if (chain == 1) arena_->NoteLooseEnd();
                }
                ParseTreeNode *node = NewOperatorIn<kInArena>(op->id, current, nullptr, arena_);
                if (node == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, pos);
                *slot = node;
                slot = &node->right;
                pos = token.end;  // The whole token is consumed: "and(" takes its parenthesis.
                break;
            }

            pos = SkipBlanks(token.end, last);
            if (pos > last) return Fail(SEARCH_PARSE_MISSING_VALUE, pos);
            Token text = ClassicValue(pos, last, &token);
            if (token.empty()) return Fail(SEARCH_PARSE_MISSING_VALUE, pos);
            if (nesting + chain > MSC_MAX_NESTING) return Fail(SEARCH_PARSE_TOO_DEEP, pos);
            bool identifier = op->id != OP_EXISTS &&
                              (IsPropertyLeaf(current, PROP_REFID) || IsPropertyLeaf(current, PROP_ID));
            ParseTreeNode *value = ValueLeafIn<kInArena>(text, identifier);
            if (value == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, pos);
            ParseTreeNode *comparison = NewOperatorIn<kInArena>(op->id, current, value, arena_);
            if (comparison == nullptr) {
                FreeTree(value, arena_);
                return Fail(SEARCH_PARSE_OUT_OF_MEMORY, pos);
            }
            *slot = comparison;
            if constexpr (kInArena) {
                if (chain == 1) arena_->NoteComparison(comparison);
            }
            current = comparison;
        }
    }
}

// Parses the group that opens at 'open' into *slot. When a logical keyword follows it, *slot
// becomes the logical node and *rightStart the first byte of its right operand; otherwise *done
// is set, the group being the whole of the rest of the range.
template <bool kInArena>
bool Parser<kInArena>::ParseGroup(Pos open, Pos last, ParseTreeNode **slot, int nesting, bool *done,
                        Pos *rightStart) {
    if (open + 1 > last) return Fail(SEARCH_PARSE_UNBALANCED_PARENTHESES, open);
    if (nesting + 1 > MSC_MAX_NESTING) return Fail(SEARCH_PARSE_TOO_DEEP, open);
    Pos close = -1;
    if (!groups_.Find(text_, open, last, &close)) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, open);
    if (close < 0 || close > last) return Fail(SEARCH_PARSE_UNBALANCED_PARENTHESES, open);

    ParseTreeNode *group = NewNodeIn<kInArena>(NODE_GROUP, arena_);
    if (group == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, open);
    *slot = group;
    if (!ParseExpression(open + 1, close - 1, &group->inner, nesting + 1)) return false;

    *done = true;
    if (close == last) return true;
    Pos pos = SkipBlanks(close + 1, last);
    if (pos > last) return true;
    // Only a logical keyword may follow a group, matched in place: `(a)and(b)` is fine.
    const TokenEntry *logical = Keyword(Vocabulary::kLogical, {pos, pos});
    if (logical == nullptr) return Fail(SEARCH_PARSE_TRAILING_TEXT, pos);
    ParseTreeNode *node = NewNodeIn<kInArena>(NODE_OPERATOR, arena_);
    if (node == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, pos);
    node->opId = logical->id;
    node->left = group;
    *slot = node;
    *done = false;
    *rightStart = pos + static_cast<Pos>(strlen(logical->name));
    return true;
}

template <bool kInArena>
int ParseClassicIn(ParseTreeNode **tree, const char *criteria, int first, int last, bool quiet,
                   ParseFailure *failure, Arena *arena) {
    Pos from = first < 0 ? 0 : first;
    Parser<kInArena> parser(criteria, quiet, arena);
    ParseTreeNode *root = nullptr;
    bool ok = parser.ParseExpression(from, last, &root, 0);
    if (failure != nullptr) *failure = parser.failure();
    if (ok && tree != nullptr) {
        *tree = root;  // The usual end, without a call.
        return 0;
    }
    return HandOverTree(ok, root, tree, arena);
}

}  // namespace

int ParseClassic(ParseTreeNode **tree, const char *criteria, int first, int last, bool quiet,
                 ParseFailure *failure, Arena *arena) {
    if (arena != nullptr) return ParseClassicIn<true>(tree, criteria, first, last, quiet, failure, arena);
    return ParseClassicIn<false>(tree, criteria, first, last, quiet, failure, nullptr);
}

namespace {

// Both extended entry points; they call this rather than each other, so that no call goes
// through the library's symbol table.
MSC_ALWAYS_INLINE inline int ParseExtended(ParseTreeNode **tree, const char *criteria, int first, int last, unsigned options,
                                            const TokenEntry *hostProperties, SearchParseError *error,
                                            Arena *arena = nullptr) {
    if (tree != nullptr) *tree = nullptr;
    ParseFailure failure = {SEARCH_PARSE_INVALID_ARGUMENT, first};
    int result = 1;
    // Unknown option bits are refused rather than ignored, so that a host built against a later
    // header learns that this library lacks what it asked for; KEEP_UNKNOWN needs STANDARD.
    bool standard = options == SEARCH_PARSE_STANDARD ||
                    options == (SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN);
    if (criteria != nullptr && options == 0) {
        result = ParseClassic(tree, criteria, first, last, /*quiet=*/true, &failure, arena);
    } else if (criteria != nullptr && standard) {
        result = ParseStandard(tree, criteria, first, last, options, hostProperties, &failure, arena);
    }
    if (error != nullptr) *error = {failure.code, result == 0 ? -1 : failure.offset};
    return result;
}

}  // namespace

int ParseWithConfig(ParseTreeNode **tree, const char *criteria, int first, int last,
                    const SearchParseConfig *config, SearchParseError *error, Arena *arena) {
    // A host table that the parser could misread is refused whole, before any criteria is read.
    if (config == nullptr || !IsValidHostTable(config->hostProperties)) {
        if (tree != nullptr) *tree = nullptr;
        if (error != nullptr) *error = {SEARCH_PARSE_INVALID_ARGUMENT, first};
        return 1;
    }
    return ParseExtended(tree, criteria, first, last, config->options, config->hostProperties, error, arena);
}

}  // namespace msc

extern "C" {

int Parse_searchExp(ParseTreeNode **tree, const char *criteria, int first, int last) {
    if (tree != nullptr) *tree = nullptr;
    if (criteria == nullptr) return 1;
    return msc::ParseClassic(tree, criteria, first, last, /*quiet=*/false, nullptr, nullptr);
}

int Parse_searchExpEx(ParseTreeNode **tree, const char *criteria, int first, int last,
                      unsigned options, SearchParseError *error) {
    return msc::ParseExtended(tree, criteria, first, last, options, nullptr, error);
}

int Parse_searchExpWith(ParseTreeNode **tree, const char *criteria, int first, int last,
                        const SearchParseConfig *config, SearchParseError *error) {
    return msc::ParseWithConfig(tree, criteria, first, last, config, error, nullptr);
}

const char *SearchParseErrorMessage(int code) {
    static const char *const kMessages[] = {
        "no error",                                   // SEARCH_PARSE_OK
        "expected a property",                        // SEARCH_PARSE_NO_PROPERTY
        "unknown property",                           // SEARCH_PARSE_UNKNOWN_PROPERTY
        "expected an operator or a logical keyword",  // SEARCH_PARSE_UNKNOWN_OPERATOR
        "missing value after the operator",           // SEARCH_PARSE_MISSING_VALUE
        "quoted value without its closing quote",     // SEARCH_PARSE_UNTERMINATED_QUOTE
        "unbalanced parentheses",                     // SEARCH_PARSE_UNBALANCED_PARENTHESES
        "unexpected text after the expression",       // SEARCH_PARSE_TRAILING_TEXT
        "nested too deeply",                          // SEARCH_PARSE_TOO_DEEP
        "out of memory",                              // SEARCH_PARSE_OUT_OF_MEMORY
        "invalid argument or option",                 // SEARCH_PARSE_INVALID_ARGUMENT
    };
    static_assert(sizeof kMessages / sizeof kMessages[0] == SEARCH_PARSE_INVALID_ARGUMENT + 1, "a message for every code");
    return msc::MessageOf(kMessages, code, "unknown error");
}

}  // extern "C"
