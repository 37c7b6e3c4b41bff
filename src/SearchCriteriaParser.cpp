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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Internal.h"
#include "KeywordIndex.h"

// Branch hints where the compiler's own guess of the usual case costs jumps on it (each one
// here was measured: a hint elsewhere gained nothing or lost).
#define MSC_LIKELY(x) __builtin_expect(static_cast<bool>(x), 1)
#define MSC_UNLIKELY(x) __builtin_expect(static_cast<bool>(x), 0)

namespace msc {
namespace {

using Pos = int64_t;  // Wider than the caller's int indexes, so that pos + 2 never overflows.

// Byte classes. Blank: NUL, tab to carriage return, space; they separate tokens. Token end:
// every byte that is below 33 read as a signed char (0x00-0x20 and 0x80-0xFF); outside quotes it
// ends an unquoted token, so e.g. the byte 0xC3 after `dc:title = abc` ends the value token and
// starts an empty one.
constexpr uint8_t kBlank = 1 << 0;
constexpr uint8_t kTokenEnd = 1 << 1;
constexpr uint8_t kQuote = 1 << 2;       // 0x22
constexpr uint8_t kBackslash = 1 << 3;   // 0x5C
constexpr uint8_t kParenthesis = 1 << 4; // 0x28 and 0x29
constexpr uint8_t kStopsOutsideQuotes = kTokenEnd | kQuote | kBackslash;
constexpr uint8_t kStopsInsideQuotes = kQuote | kBackslash;

constexpr uint8_t ClassOf(unsigned c) {
    return static_cast<uint8_t>(((c == 0 || (c >= 0x09 && c <= 0x0D) || c == 0x20) ? kBlank : 0) |
                                ((c <= 0x20 || c >= 0x80) ? kTokenEnd : 0) |
                                (c == '"' ? kQuote : 0) | (c == '\\' ? kBackslash : 0) |
                                ((c == '(' || c == ')') ? kParenthesis : 0));
}

struct ByteClassTable {
    uint8_t classes[256];
    constexpr ByteClassTable() : classes() {
        for (unsigned c = 0; c < 256; ++c) classes[c] = ClassOf(c);
    }
};
constexpr ByteClassTable kByteClass;

inline bool IsBlank(unsigned char c) { return kByteClass.classes[c] & kBlank; }

#if defined(__SSE2__)
// The 16 bytes text[pos..pos+15] when they lie in the range, else the range's last 16 bytes,
// with *offset the place of 'pos' in them: a scan near the range's end then needs no byte loop.
// Nothing outside [lowest, last] is read; false when that holds fewer than 16 bytes.
inline bool LoadWindow(const char *text, Pos lowest, Pos pos, Pos last, __m128i *bytes,
                       unsigned *offset) {
    Pos tail = last - 15;  // Where the range's last 16 bytes start.
    Pos start = pos < tail ? pos : tail;
    if (start < lowest) return false;
    *bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + start));
    *offset = static_cast<unsigned>(pos - start);
    return true;
}
#endif

// The matching closing parenthesis of every opening one from some position to the end of the
// range, found in one pass the first time a group is met. Searching afresh from each group
// would rescan a group's contents once per enclosing level; this keeps the parse linear.
// Parentheses are counted whatever stands around them, inside quotes too: `(dc:title = "a)b")`
// ends its group inside the quotes.
class GroupMatcher {
public:
    GroupMatcher() = default;
    GroupMatcher(const GroupMatcher &) = delete;
    GroupMatcher &operator=(const GroupMatcher &) = delete;
    ~GroupMatcher() {
        if (pairs_ != inlinePairs_) free(pairs_);
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
        for (Pos pos = from; pos <= last; ++pos) {
            pos = NextParenthesis(text, from, pos, last);
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

    // The first parenthesis at or after 'pos', or last + 1: sixteen bytes at a time with SSE2
    // while more than sixteen bytes of the range remain, then in the window of the range's last
    // sixteen bytes (none before 'lowest'), or with one class test a byte in a shorter range.
    static Pos NextParenthesis(const char *text, Pos lowest, Pos pos, Pos last) {
#if defined(__SSE2__)
        const __m128i open = _mm_set1_epi8('(');
        const __m128i close = _mm_set1_epi8(')');
        auto parentheses = [&](__m128i bytes) {
            return static_cast<unsigned>(_mm_movemask_epi8(
                _mm_or_si128(_mm_cmpeq_epi8(bytes, open), _mm_cmpeq_epi8(bytes, close))));
        };
        while (last - pos >= 16) {
            unsigned mask = parentheses(_mm_loadu_si128(reinterpret_cast<const __m128i *>(text + pos)));
            if (mask != 0) return pos + __builtin_ctz(mask);
            pos += 16;
        }
        __m128i window;
        unsigned offset;
        if (LoadWindow(text, lowest, pos, last, &window, &offset)) {
            unsigned mask = parentheses(window) >> offset;
            return mask != 0 ? pos + __builtin_ctz(mask) : last + 1;
        }
#else
        (void)lowest;
#endif
        while (pos <= last && !(kByteClass.classes[static_cast<unsigned char>(text[pos])] & kParenthesis)) {
            ++pos;
        }
        return pos;
    }

    bool Grow() {
        Pos capacity = capacity_ * 2;
        Pair *grown;
        if (pairs_ == inlinePairs_) {
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
};

class Parser {
public:
    Parser(const char *text, Pos first, bool quiet) : text_(text), first_(first), quiet_(quiet) {}

    // Parses text_[pos..last] into *slot; false on failure, with what was built hanging under
    // the caller's root (the caller frees it).
    bool ParseExpression(Pos pos, Pos last, ParseTreeNode **slot, int nesting);

    ParseFailure failure() const { return failure_; }

private:
    Pos SkipBlanks(Pos pos, Pos last) const {
        // Tokens are nearly always parted by one space: that case takes two tests, not a loop
        // (every blank is below 0x21, so a byte above 0x20 ends the skip).
        if (MSC_LIKELY(pos < last && text_[pos] == ' ' &&
                       static_cast<unsigned char>(text_[pos + 1]) > ' ')) {
            return pos + 1;
        }
        while (pos <= last && IsBlank(static_cast<unsigned char>(text_[pos]))) ++pos;
        return pos;
    }

    // Returns the index of the last byte of the token that starts at 'pos' (pos - 1 when the
    // token is empty). A quote flips the in-quote state, a backslash takes the next byte
    // unexamined, and the token never reaches past 'last'.
    Pos ScanToken(Pos pos, Pos last) const {
#if defined(__SSE2__)
        __m128i window;
        unsigned offset;
        size_t length;
        if (ScanShortToken(pos, last, &window, &offset, &length)) {
            return pos + static_cast<Pos>(length) - 1;
        }
#endif
        return ScanLongToken(pos, last);
    }

    // ScanToken for any token. Ordinary bytes are skipped by SkipOrdinary and a one-test loop
    // over the byte classes; only a quote, a backslash or (outside quotes) a token end stops it.
    Pos ScanLongToken(Pos pos, Pos last) const {
        uint8_t stops = kStopsOutsideQuotes;
        for (;;) {
            pos = SkipOrdinary(pos, last, stops == kStopsInsideQuotes);
            if (pos > last) return last;
            while (!(kByteClass.classes[static_cast<unsigned char>(text_[pos])] & stops)) {
                if (++pos > last) return last;
            }
            unsigned char c = static_cast<unsigned char>(text_[pos]);
            if (c == '"') {
                stops ^= kStopsOutsideQuotes ^ kStopsInsideQuotes;
                ++pos;
            } else if (c == '\\') {
                pos += 2;
            } else {
                return pos - 1;  // A token end outside quotes.
            }
            if (pos > last) return last;
        }
    }

#if defined(__SSE2__)
    // The window of the whole range that holds 'pos'; a token near the range's end, often a
    // value, needs no byte loop then.
    bool LoadWindow(Pos pos, Pos last, __m128i *bytes, unsigned *offset) const {
        return msc::LoadWindow(text_, first_, pos, last, bytes, offset);
    }

    // Nearly every property and operator token is a keyword without quote or backslash that a
    // token end (or the range's end) follows within sixteen bytes: one load finds its end when no
    // quote or backslash comes before it, and the keyword lookup compares the same load. True
    // with the token's *length (0 for an empty token) and its *window and *offset (see
    // LoadWindow); false for anything else, which takes ScanLongToken.
    bool ScanShortToken(Pos pos, Pos last, __m128i *window, unsigned *offset, size_t *length) const {
        if (!LoadWindow(pos, last, window, offset)) return false;
        __m128i quote = _mm_cmpeq_epi8(*window, _mm_set1_epi8('"'));
        __m128i backslash = _mm_cmpeq_epi8(*window, _mm_set1_epi8('\\'));
        // Signed: 0x00-0x20 and 0x80-0xFF end a token.
        __m128i end = _mm_cmplt_epi8(*window, _mm_set1_epi8(33));
        auto ends = static_cast<unsigned>(_mm_movemask_epi8(end)) >> *offset;
        auto specials =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(quote, backslash))) >> *offset;
        if (ends == 0) {
            // No token end: the token is the rest of the range if the window holds all of it.
            if (specials != 0 || last - pos > 15) return false;
            *length = static_cast<size_t>(last - pos + 1);
            return true;
        }
        // ends ^ (ends - 1): the bits up to and including the first end.
        if ((specials & (ends ^ (ends - 1))) != 0) return false;
        *length = static_cast<size_t>(__builtin_ctz(ends));
        return true;
    }
#endif

    // Scans the keyword token at 'pos' as ScanToken does (its last byte to *end) and looks it up:
    // where an expression starts ('which' null) the property entry that it begins, at an operator
    // position the logical, binary or exists one (its table in *which); nullptr when none matches.
    MSC_ALWAYS_INLINE const TokenEntry *ScanKeyword(Pos pos, Pos last, Pos *end,
                                                    Vocabulary *which) const {
        const char *at = text_ + pos;
#if defined(__SSE2__)
        __m128i window;
        unsigned offset;
        size_t length;
        if (MSC_LIKELY(ScanShortToken(pos, last, &window, &offset, &length))) {
            *end = pos + static_cast<Pos>(length) - 1;
            if (MSC_UNLIKELY(length == 0)) return nullptr;
            return which == nullptr
                       ? MatchKeywordInWindow(Vocabulary::kProperty, at, length, window, offset)
                       : MatchOperatorInWindow(at, length, window, offset, which);
        }
#endif
        *end = ScanLongToken(pos, last);
        if (*end < pos) return nullptr;
        auto tokenLength = static_cast<size_t>(*end - pos + 1);
        return which == nullptr ? MatchKeyword(Vocabulary::kProperty, at, tokenLength)
                                : MatchOperator(at, tokenLength, which);
    }

    // ScanToken for a value token, most of which are a quoted text without backslashes followed
    // by a blank: then the token ends at the closing quote, found in one pass. Anything else,
    // and a closing quote followed by a byte that continues the token, takes ScanToken.
    Pos ScanValue(Pos pos, Pos last) const {
        if (MSC_LIKELY(text_[pos] == '"')) {
            Pos close = SkipOrdinary(pos + 1, last, /*inQuote=*/true);
            while (close <= last && !(kByteClass.classes[static_cast<unsigned char>(text_[close])] & kStopsInsideQuotes)) {
                ++close;
            }
            if (close == last && text_[close] == '"') return close;
            if (close < last && text_[close] == '"' &&
                (kByteClass.classes[static_cast<unsigned char>(text_[close + 1])] & kTokenEnd)) {
                return close;
            }
        }
        return ScanToken(pos, last);
    }

    // Moves over ordinary bytes to the first stop byte (a quote or backslash, and outside quotes
    // a token end) or to last + 1, sixteen at a time and then with one window of the range's last
    // sixteen bytes, so that it never reads past 'last'. In a range of fewer than sixteen bytes
    // it stops short and the byte loops of its callers do the rest. Values such as
    // "object.item.audioItem.musicTrack" are most of the bytes of a criteria.
    Pos SkipOrdinary(Pos pos, Pos last, bool inQuote) const {
#if defined(__SSE2__)
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        const __m128i tokenEndBelow = _mm_set1_epi8(33);  // Signed: 0x00-0x20 and 0x80-0xFF.
        auto stops = [&](__m128i bytes) {
            __m128i stop = _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash));
            if (!inQuote) stop = _mm_or_si128(stop, _mm_cmplt_epi8(bytes, tokenEndBelow));
            return static_cast<unsigned>(_mm_movemask_epi8(stop));
        };
        while (last - pos >= 16) {
            unsigned mask = stops(_mm_loadu_si128(reinterpret_cast<const __m128i *>(text_ + pos)));
            if (mask != 0) return pos + __builtin_ctz(mask);
            pos += 16;
        }
        __m128i window;
        unsigned offset;
        if (LoadWindow(pos, last, &window, &offset)) {
            unsigned mask = stops(window) >> offset;
            return mask != 0 ? pos + __builtin_ctz(mask) : last + 1;
        }
#else
        (void)last;
        (void)inQuote;
#endif
        return pos;
    }

    // Finds the entry whose keyword begins the text at 'pos' (neither the token's end nor the
    // range's is consulted: "order" matches "or").
    const TokenEntry *Lookup(Vocabulary vocabulary, Pos pos) const {
        return MatchKeyword(vocabulary, text_ + pos);
    }

    bool ParseGroup(Pos open, Pos last, ParseTreeNode **slot, int nesting, bool *done,
                    Pos *rightStart);
    ParseTreeNode *MakeValueLeaf(Pos first, Pos end, bool identifier);

    bool Fail(SearchParseErrorCode code, Pos pos) {
        if (failure_.code == SEARCH_PARSE_OK) failure_ = {code, static_cast<int>(pos)};
        return false;
    }

    const char *text_;
    Pos first_;  // The first byte of the whole range: no load reaches before it.
    bool quiet_;
    GroupMatcher groups_;
    ParseFailure failure_ = {SEARCH_PARSE_OK, -1};
};

bool Parser::ParseExpression(Pos pos, Pos last, ParseTreeNode **slot, int nesting) {
    // Each turn parses one operand; a logical keyword hangs the rest of the range on its right
    // operand and the loop goes on there.
    for (;;) {
        *slot = nullptr;
        pos = SkipBlanks(pos, last);
        if (pos > last) return true;

        if (text_[pos] == '(') {
            Pos rightStart = 0;
            bool done = false;
            if (!ParseGroup(pos, last, slot, nesting, &done, &rightStart)) return false;
            if (done) return true;
            slot = &(*slot)->right;
            pos = rightStart;
            continue;
        }

        Pos end = 0;
        const TokenEntry *property = ScanKeyword(pos, last, &end, nullptr);
        if (property == nullptr) {
            if (!quiet_) fputs("can't find key!!\n", stderr);
            return Fail(SEARCH_PARSE_NO_PROPERTY, pos);
        }
        ParseTreeNode *current = NewNode(NODE_PROPERTY);
        if (current == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, pos);
        current->propertyId = property->id;
        *slot = current;

        // Comparisons in a row: each one takes the tree so far as its left operand.
        int chain = 0;
        for (;;) {
            pos = SkipBlanks(end + 1, last);
            if (pos > last) return true;
            Vocabulary vocabulary = Vocabulary::kLogical;
            const TokenEntry *op = ScanKeyword(pos, last, &end, &vocabulary);
            if (op == nullptr) return Fail(SEARCH_PARSE_UNKNOWN_OPERATOR, pos);
            if (vocabulary == Vocabulary::kLogical) {
                ParseTreeNode *node = NewNode(NODE_OPERATOR);
                if (node == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, pos);
                node->opId = op->id;
                node->left = current;
                *slot = node;
                slot = &node->right;
                pos = end + 1;  // The whole token is consumed: "and(" takes its parenthesis.
                break;
            }

            pos = SkipBlanks(end + 1, last);
            if (pos > last) return Fail(SEARCH_PARSE_MISSING_VALUE, pos);
            end = ScanValue(pos, last);
            if (end < pos) return Fail(SEARCH_PARSE_MISSING_VALUE, pos);
            if (nesting + ++chain > MSC_MAX_NESTING) return Fail(SEARCH_PARSE_TOO_DEEP, pos);

            bool identifier = op->id != OP_EXISTS &&
                              (IsPropertyLeaf(current, PROP_REFID) || IsPropertyLeaf(current, PROP_ID));
            ParseTreeNode *value = MakeValueLeaf(pos, end, identifier);
            if (value == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, pos);
            ParseTreeNode *comparison = NewNode(NODE_OPERATOR);
            if (comparison == nullptr) {
                freeParseTree(value);
                return Fail(SEARCH_PARSE_OUT_OF_MEMORY, pos);
            }
            comparison->opId = op->id;
            comparison->left = current;
            comparison->right = value;
            *slot = comparison;
            current = comparison;
        }
    }
}

// Parses the group that opens at 'open' into *slot. When a logical keyword follows it, *slot
// becomes the logical node and *rightStart the first byte of its right operand; otherwise *done
// is set, the group being the whole of the rest of the range.
bool Parser::ParseGroup(Pos open, Pos last, ParseTreeNode **slot, int nesting, bool *done,
                        Pos *rightStart) {
    if (open + 1 > last) return Fail(SEARCH_PARSE_UNBALANCED_PARENTHESES, open);
    if (nesting + 1 > MSC_MAX_NESTING) return Fail(SEARCH_PARSE_TOO_DEEP, open);
    Pos close = -1;
    if (!groups_.Find(text_, open, last, &close)) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, open);
    if (close < 0 || close > last) return Fail(SEARCH_PARSE_UNBALANCED_PARENTHESES, open);

    ParseTreeNode *group = NewNode(NODE_GROUP);
    if (group == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, open);
    *slot = group;
    if (!ParseExpression(open + 1, close - 1, &group->inner, nesting + 1)) return false;

    *done = true;
    if (close == last) return true;
    Pos pos = SkipBlanks(close + 1, last);
    if (pos > last) return true;
    // Only a logical keyword may follow a group, matched in place: `(a)and(b)` is fine.
    const TokenEntry *logical = Lookup(Vocabulary::kLogical, pos);
    if (logical == nullptr) return Fail(SEARCH_PARSE_TRAILING_TEXT, pos);
    ParseTreeNode *node = NewNode(NODE_OPERATOR);
    if (node == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, pos);
    node->opId = logical->id;
    node->left = group;
    *slot = node;
    *done = false;
    *rightStart = pos + static_cast<Pos>(strlen(logical->name));
    return true;
}

// Makes the value leaf of the token text_[first..end]: the bytes between the quotes of a quoted
// pair, else the whole token. For a comparison on @id or @refID the text becomes the decimal
// number of the identifier's last "$"-separated part, shifted right by 16 bits.
ParseTreeNode *Parser::MakeValueLeaf(Pos first, Pos end, bool identifier) {
    const char *start = text_ + first;
    size_t length = static_cast<size_t>(end - first + 1);
    if (MSC_LIKELY(length >= 2 && start[0] == '"' && start[length - 1] == '"')) {
        ++start;
        length -= 2;
    }
    if (!identifier) return NewValueLeaf(start, length);

    ParseTreeNode *leaf = NewValueLeaf(start, length, kIdentifierRoom);
    if (leaf == nullptr) return nullptr;
    RewriteIdentifier(leaf->text);
    if (!quiet_) {
        // The line "id = %s\n", composed and written with one call: parsing the format would
        // cost more than writing the line. The text is the number, at most "-32768".
        char line[sizeof "id = " + kIdentifierRoom];
        size_t digits = strnlen(leaf->text, kIdentifierRoom - 1);
        memcpy(line, "id = ", 5);
        memcpy(line + 5, leaf->text, digits);
        line[5 + digits] = '\n';
        fwrite(line, 1, 6 + digits, stderr);
    }
    return leaf;
}

}  // namespace

int ParseClassic(ParseTreeNode **tree, const char *criteria, int first, int last, bool quiet,
                 ParseFailure *failure) {
    Pos from = first < 0 ? 0 : first;
    Parser parser(criteria, from, quiet);
    ParseTreeNode *root = nullptr;
    bool ok = parser.ParseExpression(from, last, &root, 0);
    if (failure != nullptr) *failure = parser.failure();
    if (ok && tree != nullptr) {
        *tree = root;  // The usual end, without a call.
        return 0;
    }
    return HandOverTree(ok, root, tree);
}

}  // namespace msc

extern "C" {

int Parse_searchExp(ParseTreeNode **tree, const char *criteria, int first, int last) {
    if (tree != nullptr) *tree = nullptr;
    if (criteria == nullptr) return 1;
    return msc::ParseClassic(tree, criteria, first, last, /*quiet=*/false, nullptr);
}

int Parse_searchExpEx(ParseTreeNode **tree, const char *criteria, int first, int last,
                      unsigned options, SearchParseError *error) {
    if (tree != nullptr) *tree = nullptr;
    msc::ParseFailure failure = {SEARCH_PARSE_INVALID_ARGUMENT, first};
    int result = 1;
    // Unknown option bits are refused rather than ignored, so that a host built against a later
    // header learns that this library lacks what it asked for; KEEP_UNKNOWN needs STANDARD.
    bool standard = options == SEARCH_PARSE_STANDARD ||
                    options == (SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN);
    if (criteria != nullptr && options == 0) {
        result = msc::ParseClassic(tree, criteria, first, last, /*quiet=*/true, &failure);
    } else if (criteria != nullptr && standard) {
        result = msc::ParseStandard(tree, criteria, first, last, options, &failure);
    }
    if (error != nullptr) *error = {failure.code, result == 0 ? -1 : failure.offset};
    return result;
}

}  // extern "C"
