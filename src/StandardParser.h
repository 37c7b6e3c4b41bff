// The standard-grammar parser behind Parse_searchExpEx(SEARCH_PARSE_STANDARD): the UPnP
// ContentDirectory search grammar, with "and" binding tighter than "or", parentheses kept as
// groups, whole-token keywords, decoded quoted values and an error record that says where and
// why a parse stopped; with SEARCH_PARSE_LENIENT, the repairs of a text it refuses (ParseStandard,
// RepairedValue). It writes nothing to standard output or standard error. Like the classic parser
// it tells a builder what it reads, in the order of the text (the builder interface is in
// TreeBuilder.h): the tree builder makes the parse tree, the one call's builder writes the SQL
// condition. Never installed.
//
//   criteria   = blanks [ "*" | orList ] blanks
//   orList     = andList *( "or" andList )
//   andList    = primary *( "and" primary )
//   primary    = "(" orList ")" | comparison
//   comparison = property relOp value | property wordOp value | property "exists" bool
//   property   = name [ "[" "@" name blanks "=" blanks quoted "]" ]
//
// Properties. A built-in name (g_PropertyName, any letter case) gives its id; else a name that
// the host listed (Parse_searchExpWith), byte for byte but for the blanks around the filter's
// "=" and the escapes of its value, gives the host's id; else PROP_UNKNOWN or a failure.
//
// Tree shape. Both lists are built right-leaning, as the classic parser builds its and/or
// chains: `a and b and c` is AND(a, AND(b, c)) and `a or b and c` is OR(a, AND(b, c)); an
// and-list that is not the last operand of an or-list is the left operand of its OR node, one
// level down: `a and b or c` is OR(AND(a, b), c). Every walker of the library loops along right
// operands and recurses into left ones, so a list of any length costs each walker one frame per
// level of and-list, and only parentheses add levels. Written flat as SQL, where AND also binds
// tighter than OR, these trees keep their meaning without added parentheses.
//
// Depth: the parser recurses once per group (two frames: the group's or-list and its primary),
// and groups nest at most MSC_MAX_NESTING deep, which bounds the recursion of every walker too.
// Lists cost no recursion: each operand hangs on the right of the node before it in a loop.
#ifndef MSC_STANDARD_PARSER_H
#define MSC_STANDARD_PARSER_H

#include <cstdint>
#include <cstring>

#include "Lexer.h"

namespace msc {

// The closing quote of the quoted text that opens at 'open', or last + 1 when there is none:
// only \" and \\ are escapes, a backslash before any other byte stands for itself; *escaped (when
// given) is set when the text holds a backslash. The scan stops at quotes and backslashes, sixteen
// bytes a step, and at the text's NUL (or a closing parenthesis, read past) where the range does
// not end it first. FindClosingQuoteFrom goes on from such a stop.
Pos FindClosingQuoteFrom(const char *text, Pos stop, Pos last, bool *escaped);
MSC_ALWAYS_INLINE inline Pos FindClosingQuote(const char *text, Pos open, Pos last, bool *escaped = nullptr) {
    // Most values hold no backslash: their first stop is the closing quote.
    Pos stop = FindStop<kQuote | kEscape | kRangeEnd>(text, open + 1, last);
    if (MSC_LIKELY(stop <= last && text[stop] == '"')) return stop;
    return FindClosingQuoteFrom(text, stop, last, escaped);
}

// The parser's reading of tokens, the same whatever it builds.
class StandardLexer : public Lexer {
public:
    // What a parse with kRepair repaired.
    SearchParseRepairs repairs() const { return repairs_; }

protected:
    StandardLexer(const char *text, Pos last, unsigned options, bool repair, const TokenEntry *hostProperties,
                  Arena *arena)
        : Lexer(text, kDecodeEscapes | kQuiet |
                          ((options & SEARCH_PARSE_KEEP_UNKNOWN) != 0 ? unsigned{kKeepUnknown} : 0u) |
                          (repair ? unsigned{kRepair} : 0u),
                arena),
          last_(last),
          hostProperties_(hostProperties) {}

    bool AtEnd(Pos pos) const { return pos > last_; }
    MSC_ALWAYS_INLINE Pos SkipBlanks(Pos pos) const { return Lexer::SkipBlanks<kSpace>(pos, last_); }
    Token Run(uint16_t byteClass, Pos pos) const { return Lexer::Run(byteClass, pos, last_); }

    // The token at 'pos', up to the first token end, where a keyword is looked up whole. Clients
    // mostly write a keyword followed by a blank, and a keyword holds bytes of one class only
    // (name bytes, or relational ones for the operators "=" to ">="), so where the token is one,
    // the run of that class from 'pos' ends where the token does. The criteria is a C string: its
    // NUL ends the search.
    MSC_ALWAYS_INLINE Token KeywordToken(Pos pos) const { return {pos, FindStop<kTokenEnd>(text_, pos, last_)}; }

    // The entry of 'vocabulary' that the keyword token at 'pos' is (its end to *end), or nullptr.
    MSC_ALWAYS_INLINE const TokenEntry *TokenKeyword(Vocabulary vocabulary, Pos pos, Pos *end) const {
        Token token = KeywordToken(pos);
        const TokenEntry *entry = Keyword<KeywordMatch::kWhole>(vocabulary, token);
        if (entry != nullptr) *end = token.end;
        return entry;
    }
    // The logical keyword that is the whole name at 'pos' (its end to *end), or nullptr.
    MSC_ALWAYS_INLINE const TokenEntry *LogicalAt(Pos pos, Pos *end) const {
        // A logical keyword is a name: what follows the last operand of a group, ")", is none.
        if (!Is(kNameStart, text_[pos])) return nullptr;
        if (const TokenEntry *logical = TokenKeyword(Vocabulary::kLogical, pos, end)) return logical;
        Token name = {pos, NameEnd(text_, pos, last_)};
        *end = name.end;
        return Keyword<KeywordMatch::kWhole>(Vocabulary::kLogical, name);
    }

    // The property at *pos (a name start byte) into *id, *pos past its name.
    MSC_ALWAYS_INLINE bool ParseProperty(Pos *pos, int *id) {
        Pos at = *pos;
        // A built-in name followed by a blank ends where ReadPropertyName's scan would end it; a
        // name that ends where the token does it need not look up again.
        Token token = KeywordToken(at);
        if (const TokenEntry *property = Keyword<KeywordMatch::kWhole>(Vocabulary::kProperty, token)) {
            *pos = token.end;
            *id = property->id;
            return true;
        }
        *id = ReadPropertyName(text_, at, last_, hostProperties_, pos, token.end);
        if (*id == 0) return Fail(SEARCH_PARSE_NO_PROPERTY, at);
        if (*id == PROP_UNKNOWN && !(flags_ & kKeepUnknown)) return Fail(SEARCH_PARSE_UNKNOWN_PROPERTY, at);
        return true;
    }

    // The operator after a property: a whole run of relational bytes, blanks around it or not ("=",
    // "!=", "<", "<=", ">", ">="; "==" and "<>" are no operators), else a whole word ("contains",
    // "doesNotContain", "derivedFrom", "is", "exists"), without regard to case.
    MSC_ALWAYS_INLINE bool ParseOperator(Pos *pos, int *opId) {
        Pos at = SkipBlanks(*pos);
        if (AtEnd(at)) return Fail(SEARCH_PARSE_UNKNOWN_OPERATOR, at);
        const TokenEntry *op = TokenKeyword(Vocabulary::kComparison, at, pos);
        if (op == nullptr) {
            Token token = Is(kRelOp, text_[at]) ? Run(kRelOp, at) : Token{at, NameEnd(text_, at, last_)};
            op = Keyword<KeywordMatch::kWhole>(Vocabulary::kComparison, token);
            if (op == nullptr) return Fail(SEARCH_PARSE_UNKNOWN_OPERATOR, at);
            *pos = token.end;
        }
        *opId = op->id;
        return true;
    }

    // The value after an operator: a quoted text with \" and \\ decoded, or one unquoted word, into
    // *text, and *pos past it. After "exists" it must read true or false (quoted or not, in any
    // case) and stands for *literal, "true" or "false" (else null).
    MSC_ALWAYS_INLINE bool ParseValue(Pos *pos, int opId, int nesting, Token *text, const char **literal) {
        Pos at = SkipBlanks(*pos);
        valueEscaped_ = false;
        *literal = nullptr;
        // Most values: quoted, read strictly, and compared rather than tested for existence.
        if (MSC_LIKELY(!AtEnd(at) && text_[at] == '"' && !(flags_ & kRepair) && opId != OP_EXISTS)) {
            return QuotedValue(at, text, pos);
        }
        return OtherValue(at, opId, nesting, text, pos, literal);
    }
    // The text between the quote at 'at' and its closing one into *text, *end past the latter.
    MSC_ALWAYS_INLINE bool QuotedValue(Pos at, Token *text, Pos *end) {
        Pos close = FindClosingQuote(text_, at, last_, &valueEscaped_);
        if (AtEnd(close)) return Fail(SEARCH_PARSE_UNTERMINATED_QUOTE, at);
        *text = {at + 1, close};
        *end = close + 1;
        return true;
    }
    bool OtherValue(Pos at, int opId, int nesting, Token *text, Pos *pos, const char **literal);
    bool RepairedValue(Pos at, int nesting, Token *text, Pos *end);
    bool Finish(Pos pos);

    // Notes a repair of the kind 'bit' at 'pos'. The parse reads the text in order and adds what
    // the end lacks last, so the first repair noted is the first in the text.
    void Repair(unsigned bit, Pos pos) {
        if (repairs_.repairs == 0) repairs_.offset = pos > INT32_MAX ? INT32_MAX : static_cast<int>(pos);
        repairs_.repairs |= bit;
    }

    Pos last_;
    const TokenEntry *hostProperties_;
    SearchParseRepairs repairs_ = {0, -1};
};

template <typename Builder>
class StandardParser : public StandardLexer {
public:
    using Slot = typename Builder::Slot;

    StandardParser(const char *text, Pos last, unsigned options, bool repair, const TokenEntry *hostProperties,
                   Arena *arena, const Builder &builder)
        : StandardLexer(text, last, options, repair, hostProperties, arena), build_(builder) {}

    Builder &builder() { return build_; }

    // Parses the criteria from 'pos' into 'root'; false on failure, with what was built hanging
    // under the root (the caller frees it).
    bool ParseCriteria(Pos pos, Slot root);

private:
    bool ParseOrList(Pos *pos, Slot slot, int nesting);
    bool ParsePrimary(Pos *pos, Slot slot, int nesting);
    bool ParseComparison(Pos *pos, Slot slot, int nesting);

    Builder build_;  // a copy: the parse then reads its state with one load
};

// The last byte of the range text[first..last] that the parser reads: the criteria is a C string,
// so it ends at its NUL even where the range reaches further, and the parser never reads past it.
inline Pos StandardRangeEnd(const char *text, Pos first, Pos last) {
    if (first <= last) {
        const void *nul = memchr(text + first, '\0', static_cast<size_t>(last - first + 1));
        if (nul != nullptr) return static_cast<const char *>(nul) - text - 1;
    }
    return last;
}

template <typename Builder>
bool StandardParser<Builder>::ParseCriteria(Pos pos, Slot root) {
    build_.Clear(root);
    // Most criteria begin with a property's name, which the or-list reads.
    if (MSC_UNLIKELY(AtEnd(pos) || !Is(kNameStart, text_[pos]))) {
        pos = SkipBlanks(pos);
        if (AtEnd(pos)) return build_.LooseEnd() || Stopped(pos);  // Blanks only: no condition.

        if (text_[pos] == '*') {
            // "*" is the whole criteria or nothing: it matches every object.
            Pos star = pos;
            if (!Finish(pos + 1)) return false;
            return build_.MatchAll(root) || Stopped(star);
        }
    }

    if (!ParseOrList(&pos, root, 0)) return false;
    return AtEnd(pos) || Finish(pos);  // Most criteria end with their last value.
}

// Parses operands joined by "and" and "or" into 'slot', and stops before the first thing that
// is neither (the end, a closing parenthesis, or text the caller rejects).
template <typename Builder>
bool StandardParser<Builder>::ParseOrList(Pos *pos, Slot slot, int nesting) {
    Slot orSlot = slot;   // Where the current and-list stands.
    Slot andSlot = slot;  // Where the next operand of the and-list goes.
    for (;;) {
        if (!ParsePrimary(pos, andSlot, nesting)) return false;
        Pos at = SkipBlanks(*pos);
        Pos end = at;
        const TokenEntry *keyword = AtEnd(at) ? nullptr : LogicalAt(at, &end);
        if (keyword == nullptr) return true;
        // "and" binds tighter than "or": an "or" takes the whole and-list before it as its left
        // operand, an "and" the operand before it.
        bool outer = keyword->id == OP_OR;
        Slot right = outer ? orSlot : andSlot;
        if (!build_.Logical(keyword->id, right)) return Stopped(at);
        andSlot = right;
        if (outer) orSlot = right;
        *pos = end;
    }
}

template <typename Builder>
bool StandardParser<Builder>::ParsePrimary(Pos *pos, Slot slot, int nesting) {
    Pos at = SkipBlanks(*pos);
    if (AtEnd(at)) return Fail(SEARCH_PARSE_NO_PROPERTY, at);

    // Most operands are comparisons, which begin with a property's name.
    if (MSC_LIKELY(Is(kNameStart, text_[at]))) {
        *pos = at;
        return ParseComparison(pos, slot, nesting);
    }
    if (text_[at] == ')') {
        // Outside every group it closes nothing; inside one, an operand is missing before it.
        return Fail(nesting == 0 ? SEARCH_PARSE_UNBALANCED_PARENTHESES : SEARCH_PARSE_NO_PROPERTY, at);
    }
    if (text_[at] != '(') return Fail(SEARCH_PARSE_NO_PROPERTY, at);

    if (nesting + 1 > MSC_MAX_NESTING) return Fail(SEARCH_PARSE_TOO_DEEP, at);
    Slot inner = slot;
    if (!build_.OpenGroup(inner)) return Stopped(at);
    Pos contents = at + 1;
    if (!ParseOrList(&contents, inner, nesting + 1)) return false;
    Pos close = SkipBlanks(contents);
    if (AtEnd(close)) {
        // A client that leaves parentheses open at the end meant to close them there. Strictly an
        // unclosed group is reported at its opening parenthesis, the byte a reader must fix.
        if (!(flags_ & kRepair)) return Fail(SEARCH_PARSE_UNBALANCED_PARENTHESES, at);
        Repair(SEARCH_REPAIR_CLOSE_PARENTHESES, close);
        *pos = close;
    } else if (text_[close] != ')') {
        return Fail(SEARCH_PARSE_TRAILING_TEXT, close);
    } else {
        *pos = close + 1;
    }
    build_.CloseGroup();
    return true;
}

// property operator value, at *pos (a name start byte), 'nesting' groups deep.
template <typename Builder>
bool StandardParser<Builder>::ParseComparison(Pos *pos, Slot slot, int nesting) {
    Pos at = *pos;
    int propertyId = 0, opId = 0;
    Token text;
    const char *literal = nullptr;
    if (!ParseProperty(pos, &propertyId) || !ParseOperator(pos, &opId) ||
        !ParseValue(pos, opId, nesting, &text, &literal)) {
        return false;
    }
    bool identifier = opId != OP_EXISTS && (propertyId == PROP_REFID || propertyId == PROP_ID);
    if (!build_.Property(propertyId, static_cast<int>(at), slot) ||
        !build_.Comparison(*this, opId, text, identifier, slot, /*first=*/true, literal)) {
        return Stopped(at);
    }
    return true;
}

}  // namespace msc

#endif  // MSC_STANDARD_PARSER_H
