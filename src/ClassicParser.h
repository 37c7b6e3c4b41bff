// The classic criteria grammar: a single pass over a byte range of the caller's text, one token
// at a time, telling a builder what it reads in the order of the text. The tree builder makes
// the parse tree; the one call's builder writes the SQL condition as the text is read, with no
// tree at all. Never installed.
//
// Depth: an and/or list is parsed by a loop that hangs the rest of the range on the logical
// node's right operand, so its length costs no stack. Only a group recurses, once per level,
// and groups plus comparison chains are bounded by MSC_MAX_NESTING levels, which also bounds
// the recursion of every walker over the tree (they recurse into left operands and groups).
#ifndef MSC_CLASSIC_PARSER_H
#define MSC_CLASSIC_PARSER_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Lexer.h"

namespace msc {

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
    MSC_ALWAYS_INLINE bool Find(const char *text, Pos open, Pos last, Pos *match) {
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

    MSC_NOINLINE bool Build(const char *text, Pos from, Pos last) {
        count_ = 0;
        Pos innermost = -1;
        bool built = ForEachStop<kOpen | kClose>(text, from, last, [&](Pos pos) {
            if (text[pos] == '(') {
                if (count_ == capacity_ && !Grow()) return false;
                pairs_[count_] = {pos, -2 - innermost};
                innermost = count_++;
            } else if (innermost >= 0) {
                Pos enclosing = -2 - pairs_[innermost].close;
                pairs_[innermost].close = pos;
                innermost = enclosing;
            }
            return true;
        });
        if (!built) return false;
        while (innermost >= 0) {
            Pos enclosing = -2 - pairs_[innermost].close;
            pairs_[innermost].close = -1;
            innermost = enclosing;
        }
        return true;
    }

    // Out of line: few texts hold more groups than the inline pairs.
    MSC_NOINLINE bool Grow() {
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

// The builder interface is in TreeBuilder.h.
template <typename Builder>
class ClassicParser : public Lexer {
public:
    using Slot = typename Builder::Slot;

    ClassicParser(const char *text, bool quiet, Arena *arena, const Builder &builder)
        : Lexer(text, quiet ? unsigned{kQuiet} : 0u, arena), build_(builder), groups_(arena) {}

    Builder &builder() { return build_; }

    // Parses text_[pos..last] into 'slot'; false on failure, with what was built hanging under
    // the caller's root (the caller frees it).
    bool ParseExpression(Pos pos, Pos last, Slot slot, int nesting);

private:
    bool ParseGroup(Pos open, Pos last, Slot slot, int nesting, bool *done, Pos *rightStart, Slot *rightSlot);

    Builder build_;  // a copy: the parse then reads its state with one load
    GroupMatcher groups_;
};

template <typename Builder>
bool ClassicParser<Builder>::ParseExpression(Pos pos, Pos last, Slot slot, int nesting) {
    // Each turn parses one operand; a logical keyword hangs the rest of the range on its right
    // operand and the loop goes on there.
    for (;;) {
        build_.Clear(slot);
        pos = SkipBlanks(pos, last);
        if (pos > last) return build_.LooseEnd() || Stopped(pos);

        if (text_[pos] == '(') {
            Pos rightStart = 0;
            bool done = false;
            Slot right = slot;
            if (!ParseGroup(pos, last, slot, nesting, &done, &rightStart, &right)) return false;
            if (done) return true;
            slot = right;
            pos = rightStart;
            continue;
        }

        Token token = ClassicToken(pos, last);
        Pos next = SkipBlanks(token.end, last);
        // A property that ends the range is a loose end, which a builder may refuse before the
        // property is looked up (`upnp:class="x"` is one token).
        if (next > last && !build_.LooseEnd()) return Stopped(pos);
        const TokenEntry *property = token.empty() ? nullptr : Keyword<KeywordMatch::kPrefix>(Vocabulary::kProperty, token);
        if (property == nullptr) {
            if (!(flags_ & kQuiet)) fputs("can't find key!!\n", stderr);
            return Fail(SEARCH_PARSE_NO_PROPERTY, pos);
        }
        if (!build_.Property(property->id, static_cast<int>(pos), slot)) return Stopped(pos);

        // Comparisons in a row: each one takes the tree so far as its left operand. At the
        // operator position a logical keyword wins over a binary one, and that over exists.
        for (int chain = 1;; ++chain) {
            pos = next;
            if (pos > last) return chain != 1 || build_.LooseEnd() || Stopped(pos);
            token = ClassicToken(pos, last);
            const TokenEntry *op = token.empty() ? nullptr : Keyword<KeywordMatch::kPrefix>(Vocabulary::kOperator, token);
            if (op == nullptr) return Fail(SEARCH_PARSE_UNKNOWN_OPERATOR, pos);
            if (IsLogicalOperator(op->id)) {
                if ((chain == 1 && !build_.LooseEnd()) || !build_.Logical(op->id, slot)) return Stopped(pos);
                pos = token.end;  // The whole token is consumed: "and(" takes its parenthesis.
                break;
            }

            pos = SkipBlanks(token.end, last);
            if (pos > last) return Fail(SEARCH_PARSE_MISSING_VALUE, pos);
            Token text = ClassicValue(pos, last, &token);
            if (token.empty()) return Fail(SEARCH_PARSE_MISSING_VALUE, pos);
            if (nesting + chain > MSC_MAX_NESTING) return Fail(SEARCH_PARSE_TOO_DEEP, pos);
            // Only a comparison right after @refID or @id has an identifier value.
            bool identifier = chain == 1 && (property->id == PROP_REFID || property->id == PROP_ID) && op->id != OP_EXISTS;
            if (!build_.Comparison(*this, op->id, text, identifier, slot, chain == 1)) return Stopped(pos);
            next = SkipBlanks(token.end, last);
        }
    }
}

// Parses the group that opens at 'open' into 'slot'. When a logical keyword follows it,
// *rightSlot becomes the logical node's right operand and *rightStart its first byte; otherwise
// *done is set, the group being the whole of the rest of the range.
template <typename Builder>
bool ClassicParser<Builder>::ParseGroup(Pos open, Pos last, Slot slot, int nesting, bool *done, Pos *rightStart,
                                        Slot *rightSlot) {
    if (open + 1 > last) return Fail(SEARCH_PARSE_UNBALANCED_PARENTHESES, open);
    if (nesting + 1 > MSC_MAX_NESTING) return Fail(SEARCH_PARSE_TOO_DEEP, open);
    Pos close = -1;
    if (!groups_.Find(text_, open, last, &close)) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, open);
    if (close < 0 || close > last) return Fail(SEARCH_PARSE_UNBALANCED_PARENTHESES, open);

    Slot inner = slot;
    if (!build_.OpenGroup(inner)) return Stopped(open);
    if (!ParseExpression(open + 1, close - 1, inner, nesting + 1)) return false;
    build_.CloseGroup();

    *done = true;
    if (close == last) return true;
    Pos pos = SkipBlanks(close + 1, last);
    if (pos > last) return true;
    // Only a logical keyword may follow a group, matched in place: `(a)and(b)` is fine.
    const TokenEntry *logical = Keyword<KeywordMatch::kPrefix>(Vocabulary::kLogical, {pos, pos});
    if (logical == nullptr) return Fail(SEARCH_PARSE_TRAILING_TEXT, pos);
    if (!build_.Logical(logical->id, slot)) return Stopped(pos);
    *rightSlot = slot;
    *done = false;
    *rightStart = pos + static_cast<Pos>(strlen(logical->name));
    return true;
}

}  // namespace msc

#endif  // MSC_CLASSIC_PARSER_H
