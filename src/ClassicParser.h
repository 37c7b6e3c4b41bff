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

// The builder interface is in TreeBuilder.h.
template <typename Builder>
class ClassicParser : public Lexer {
public:
    using Slot = typename Builder::Slot;

    ClassicParser(const char *text, bool quiet, Arena *arena, const Builder &builder)
        : Lexer(text, quiet ? unsigned{kQuiet} : 0u, arena), build_(builder) {
        group_.counted = -1;
    }

    Builder &builder() { return build_; }

    // Parses text_[pos..last] into 'slot'; false on failure, with what was built hanging under
    // the caller's root (the caller frees it). Inside a group (kInGroup) 'last' is the last byte
    // of the text's range, and the group's closing parenthesis ends the range where it stands.
    // Out of line, as a recursive function would be: the callers inline the rest of the call.
    template <bool kInGroup = false>
    MSC_NOINLINE bool ParseExpression(Pos pos, Pos last, Slot slot, int nesting);

private:
    template <bool kInGroup>
    bool ParseGroup(Pos open, Pos &last, Slot slot, int nesting, bool *done, Pos *rightStart, Slot *rightSlot);

    // The first byte from 'pos' on that is no blank, or last + 1; inside a group, the group's
    // closing parenthesis there ends the range.
    template <bool kInGroup>
    MSC_ALWAYS_INLINE Pos SkipBlanksIn(Pos pos, Pos &last) {
        pos = SkipBlanks(pos, last);
        if (kInGroup && pos <= last && group_.Closes(text_, pos)) group_.End(pos, &last);
        return pos;
    }

    // Whether a group closes by 'last' whose text holds 'unclosed' opening parentheses that no
    // closing one matches before 'from', counting those from 'from' on.
    MSC_NOINLINE bool GroupCloses(Pos unclosed, Pos from, Pos last) const {
        GroupScan scan = {unclosed, -1, from - 1};
        ForEachStop<kOpen | kClose>(text_, from, last, [&](Pos pos) { return !scan.Count(text_, pos, &last); });
        return scan.close >= 0;
    }

    // Whether the outermost group, which opens at 'open', closes by 'last' after a failure inside
    // it. Its count goes on from that of the innermost group that failed, which each enclosing
    // one took over on its way out. The scans stopped at the failure, having counted every
    // parenthesis before it and perhaps some after it, in the token there: the count goes on
    // after both, and after the group's opening parenthesis.
    MSC_NOINLINE bool ClosesAfterFailure(Pos open, Pos last) const {
        if (group_.close >= 0) return true;
        Pos from = group_.counted < failure_.offset ? Pos{failure_.offset} : group_.counted + 1;
        return GroupCloses(group_.unclosed, from > open ? from : open + 1, last);
    }

    Builder build_;  // a copy: the parse then reads its state with one load
    GroupScan group_;  // of the innermost group being read, which sets its count as it opens
};

template <typename Builder>
template <bool kInGroup>
bool ClassicParser<Builder>::ParseExpression(Pos pos, Pos last, Slot slot, int nesting) {
    // Each turn parses one operand from its first byte, 'pos', past the blanks; a logical keyword
    // hangs the rest of the range on its right operand and the loop goes on there. Each scan
    // tells where the next token begins. Inside a group, the group's closing parenthesis there
    // is for the next scan to find: it ends the range before it and leaves an empty token.
    pos = SkipBlanks(pos, last);
    for (;;) {
        build_.Clear(slot);
        if (pos > last) return build_.LooseEnd() || Stopped(pos);

        if (text_[pos] == '(') {
            Pos rightStart = 0;
            bool done = false;
            Slot right = slot;
            if (!ParseGroup<kInGroup>(pos, last, slot, nesting, &done, &rightStart, &right)) return false;
            if (done) return true;
            slot = right;
            pos = SkipBlanks(rightStart, last);
            continue;
        }

        Pos next;
        // An empty token stands at a byte that ends tokens or at the group's closing parenthesis,
        // with which no keyword begins: its look-up by prefix finds none.
        const TokenEntry *property = ClassicKeyword<kInGroup>(Vocabulary::kProperty, pos, last, group_, &next);
        // A property that ends the range is a loose end (`upnp:class="x"` is one token).
        if (next > last && !build_.LooseEnd()) return Stopped(pos);
        if (property == nullptr) {
            // The group closed where the operand begins: a loose end, which the builder took.
            if (pos > last) return true;
            if (!(flags_ & kQuiet)) fputs("can't find key!!\n", stderr);
            return Fail(SEARCH_PARSE_NO_PROPERTY, pos);
        }
        if (!build_.Property(property->id, static_cast<int>(pos), slot)) return Stopped(pos);

        // Comparisons in a row: each one takes the tree so far as its left operand. At the
        // operator position a logical keyword wins over a binary one, and that over exists.
        for (int chain = 1;; ++chain) {
            pos = next;
            // The range ends where an operator may stand: after a property, a loose end.
            auto rangeEnds = [&] { return chain != 1 || build_.LooseEnd() || Stopped(pos); };
            if (pos > last) return rangeEnds();
            const TokenEntry *op = ClassicKeyword<kInGroup>(Vocabulary::kOperator, pos, last, group_, &next);
            if (op == nullptr) return pos > last ? rangeEnds() : Fail(SEARCH_PARSE_UNKNOWN_OPERATOR, pos);
            if (IsLogicalOperator(op->id)) {
                if ((chain == 1 && !build_.LooseEnd()) || !build_.Logical(op->id, slot)) return Stopped(pos);
                pos = next;  // The whole token is consumed: "and(" takes its parenthesis.
                break;
            }

            pos = next;
            if (pos > last) return Fail(SEARCH_PARSE_MISSING_VALUE, pos);
            Token token;
            Token text = ClassicValue<kInGroup>(pos, last, group_, &token, &next);
            if (token.empty()) return Fail(SEARCH_PARSE_MISSING_VALUE, pos);
            if (nesting + chain > MSC_MAX_NESTING) return Fail(SEARCH_PARSE_TOO_DEEP, pos);
            // Only a comparison right after @refID or @id has an identifier value.
            bool identifier = chain == 1 && (property->id == PROP_REFID || property->id == PROP_ID) && op->id != OP_EXISTS;
            if (!build_.Comparison(*this, op->id, text, identifier, slot, chain == 1)) return Stopped(pos);
        }
    }
}

// Parses the group that opens at 'open' into 'slot'. When a logical keyword follows it,
// *rightSlot becomes the logical node's right operand and *rightStart its first byte; otherwise
// *done is set, the group being the whole of the rest of the range. A group that does not close
// fails, at the outermost one; a builder that keeps what it builds before a failure
// (kGroupClosesFirst) reads a group only once it is known to close, while for another a failure
// inside the group first asks whether it closes.
template <typename Builder>
template <bool kInGroup>
bool ClassicParser<Builder>::ParseGroup(Pos open, Pos &last, Slot slot, int nesting, bool *done, Pos *rightStart,
                                        Slot *rightSlot) {
    if (open + 1 > last) return Fail(SEARCH_PARSE_UNBALANCED_PARENTHESES, open);
    if (nesting + 1 > MSC_MAX_NESTING) return Fail(SEARCH_PARSE_TOO_DEEP, open);
    // Inside a group, the outermost one's closing parenthesis is known, or its failure decides.
    constexpr bool kOutermost = !kInGroup;
    if (kOutermost && Builder::kGroupClosesFirst && !GroupCloses(0, open + 1, last)) {
        return Fail(SEARCH_PARSE_UNBALANCED_PARENTHESES, open);
    }

    // The group counts its parentheses afresh, from its opening one.
    const Pos outerUnclosed = kInGroup ? group_.unclosed : 0;
    group_.unclosed = 0;
    group_.close = -1;
    Slot inner = slot;
    bool parsed = build_.OpenGroup(inner) ? ParseExpression<true>(open + 1, last, inner, nesting + 1) : Stopped(open);
    const Pos close = group_.close;
    if (parsed && close < 0) parsed = Fail(SEARCH_PARSE_UNBALANCED_PARENTHESES, open);
    if (!parsed) {
        if (kOutermost && !Builder::kGroupClosesFirst && !ClosesAfterFailure(open, last)) {
            FailInstead(SEARCH_PARSE_UNBALANCED_PARENTHESES, open);
        }
        if (kInGroup) group_.Enclose(outerUnclosed, open);
        return false;
    }
    if (kInGroup) group_.EncloseClosed(outerUnclosed);
    build_.CloseGroup();

    *done = true;
    if (close == last) return true;
    Pos pos = SkipBlanksIn<kInGroup>(close + 1, last);
    if (pos > last) return true;
    // Only a logical keyword may follow a group, matched in place: `(a)and(b)` is fine. Its
    // token, which the prefix rule reads past as it must, ends at the first byte that may stop
    // a classic scan (a blank, a parenthesis): a keyword written as its table writes it is then
    // settled at once. The parentheses after it are the next scan's to count.
    Pos end = FindStop<kClassicStop>(text_, pos, last);
    const TokenEntry *logical =
        Keyword<KeywordMatch::kPrefix>(Vocabulary::kLogical, {pos, end > last ? last + 1 : end});
    if (logical == nullptr) return Fail(SEARCH_PARSE_TRAILING_TEXT, pos);
    if (!build_.Logical(logical->id, slot)) return Stopped(pos);
    *rightSlot = slot;
    *done = false;
    *rightStart = pos + static_cast<Pos>(strlen(logical->name));
    // A keyword that the text ends inside, at a NUL, is read past it ("a<NUL>(" is "and"), over
    // bytes that no scan meets: the group's count takes in their parentheses, and one that
    // closes the group ends the range before it, leaving the keyword's right operand empty.
    if (kInGroup && MSC_UNLIKELY(*rightStart > end)) {
        Pos to = *rightStart - 1 < last ? *rightStart - 1 : last;
        ForEachStop<kOpen | kClose>(text_, end, to, [&](Pos at) { return !group_.Count(text_, at, &last); });
    }
    return true;
}

}  // namespace msc

#endif  // MSC_CLASSIC_PARSER_H
