// The lexer of both grammars: byte classes, positions, the blank skip, tokens, keywords, value
// leaves and the failure record. The grammars differ by flags, as re2's dialects do, and by how
// they match keywords, which each parser states where it looks one up.
#ifndef MSC_LEXER_H
#define MSC_LEXER_H

#include <cstdint>
#include <cstring>

#if MSC_VECTOR && defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Hints.h"
#include "Internal.h"
#include "Keywords.h"

namespace msc {

using Pos = int64_t;  // Wider than the caller's int indexes, so that last + 2 never overflows.

// Byte classes, locale-free. Exact sets:
//   kBlank     00 (NUL), 09-0D, 20: separate classic tokens.
//   kSpace     09-0D, 20: separate standard tokens. The standard grammar reads no NUL as a
//              blank: a parse that succeeds over a range has met none (see StandardLexer).
//   kTokenEnd  00-20 and 80-FF, the bytes below 33 read as signed: end a classic unquoted token.
//   kQuote 22, kEscape 5C, kOpen 28, kClose 29.
//   kRangeEnd  00 and 29: the bytes that may follow a range, the text's NUL or a group's closing
//              parenthesis. Every classic scan stops at them, so that its loop needs no bound.
//   kName      A-Z a-z 0-9 _ @ : . -, kNameStart A-Z a-z _ @: standard property names, keywords.
//   kRelOp     = ! < >: a run of them is one standard operator token.
//   kWord      21-7E but " ' ( ) \ = < > !, and 80-FF: an unquoted standard value.
//   kNameEnd   every byte outside kName: ends a standard name.
//   kClassicStop  00-29, 5C and 80-FF, the bytes below 42 read as signed and the backslash: what
//              may stop a classic scan outside quotes (kTokenEnd, kQuote, kEscape, kOpen, kClose)
//              and ! # $ % & ', which the scan passes as ordinary bytes. One saturated
//              subtraction and one comparison find them all, where the exact set takes four.
constexpr uint16_t kBlank = 1 << 0;
constexpr uint16_t kTokenEnd = 1 << 1;
constexpr uint16_t kQuote = 1 << 2;
constexpr uint16_t kEscape = 1 << 3;
constexpr uint16_t kOpen = 1 << 4;
constexpr uint16_t kRangeEnd = 1 << 5;
constexpr uint16_t kName = 1 << 6;
constexpr uint16_t kNameStart = 1 << 7;
constexpr uint16_t kRelOp = 1 << 8;
constexpr uint16_t kWord = 1 << 9;
constexpr uint16_t kClose = 1 << 10;
constexpr uint16_t kNameEnd = 1 << 11;
constexpr uint16_t kSpace = 1 << 12;
constexpr uint16_t kClassicStop = 1 << 13;

namespace bytes {
constexpr uint16_t U = kClassicStop, Z = kBlank | kTokenEnd | kRangeEnd | kNameEnd | U,
                   X = kTokenEnd | kNameEnd | U, S = kBlank | kSpace | kTokenEnd | kNameEnd | U,
                   W = kWord | kNameEnd, Y = W | U, N = kName | kWord, L = kNameStart | kName | kWord,
                   R = kRelOp | kNameEnd, B = R | U, Q = kQuote | kNameEnd | U, E = kEscape | kNameEnd | U,
                   O = kOpen | kNameEnd | U, C = kClose | kRangeEnd | kNameEnd | U,
                   H = kTokenEnd | kWord | kNameEnd | U, _ = kNameEnd, K = _ | U;
inline constexpr uint16_t kClass[256] = {
    //   0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F
    Z, X, X, X, X, X, X, X, X, S, S, S, S, S, X, X,  // 0
    X, X, X, X, X, X, X, X, X, X, X, X, X, X, X, X,  // 1
    S, B, Q, Y, Y, Y, Y, K, O, C, W, W, W, N, N, W,  // 2
    N, N, N, N, N, N, N, N, N, N, N, W, R, R, R, W,  // 3
    L, L, L, L, L, L, L, L, L, L, L, L, L, L, L, L,  // 4
    L, L, L, L, L, L, L, L, L, L, L, W, E, W, W, L,  // 5
    W, L, L, L, L, L, L, L, L, L, L, L, L, L, L, L,  // 6
    L, L, L, L, L, L, L, L, L, L, L, W, W, W, W, _,  // 7
    H, H, H, H, H, H, H, H, H, H, H, H, H, H, H, H,  // 8
    H, H, H, H, H, H, H, H, H, H, H, H, H, H, H, H,  // 9
    H, H, H, H, H, H, H, H, H, H, H, H, H, H, H, H,  // A
    H, H, H, H, H, H, H, H, H, H, H, H, H, H, H, H,  // B
    H, H, H, H, H, H, H, H, H, H, H, H, H, H, H, H,  // C
    H, H, H, H, H, H, H, H, H, H, H, H, H, H, H, H,  // D
    H, H, H, H, H, H, H, H, H, H, H, H, H, H, H, H,  // E
    H, H, H, H, H, H, H, H, H, H, H, H, H, H, H, H,  // F
};
}  // namespace bytes

inline bool Is(uint16_t byteClass, char c) {
    return (bytes::kClass[static_cast<unsigned char>(c)] & byteClass) != 0;
}

// Is(kTokenEnd, c) by one comparison: the bytes below 33 read as signed.
constexpr bool IsTokenEnd(char c) { return static_cast<signed char>(c) <= ' '; }
constexpr bool TokenEndIsSignedBelow33() {
    for (int c = 0; c < 256; ++c) {
        if (IsTokenEnd(static_cast<char>(c)) != ((bytes::kClass[c] & kTokenEnd) != 0)) return false;
    }
    return true;
}
static_assert(TokenEndIsSignedBelow33(), "IsTokenEnd tests the kTokenEnd class");

// StopBits finds kClassicStop as the bytes below 42 read as signed, and the backslash; it holds
// every byte that stops a classic scan outside quotes.
constexpr bool ClassicStopIsSignedBelow42OrBackslash() {
    for (int c = 0; c < 256; ++c) {
        bool stop = (bytes::kClass[c] & kClassicStop) != 0;
        if (stop != (static_cast<signed char>(c) < 42 || c == '\\')) return false;
        if ((bytes::kClass[c] & (kTokenEnd | kQuote | kEscape | kOpen | kClose | kRangeEnd)) != 0 && !stop) return false;
    }
    return true;
}
static_assert(ClassicStopIsSignedBelow42OrBackslash(), "StopBits reads kClassicStop by one subtraction");

#if MSC_VECTOR && defined(__SSE2__)
// The kNameEnd bytes of sixteen: all but A-Z a-z 0-9 _ @ : . - (the bytes below 0x80 compare as
// signed, the others are negative and in no range).
inline __m128i NameEndBytes(__m128i bytes) {
    auto within = [](__m128i v, char low, char high) {
        return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(low - 1))),
                             _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(high + 1))));
    };
    // Folded to lower case, A-Z and a-z are a-z and nothing else is.
    __m128i letters = within(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), 'a', 'z');
    __m128i marks = _mm_andnot_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('/')), within(bytes, '-', ':'));
    __m128i others = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('@')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('_')));
    return _mm_andnot_si128(_mm_or_si128(_mm_or_si128(letters, marks), others), _mm_set1_epi8(-1));
}
#endif

#if MSC_VECTOR && defined(__SSE2__)
// Bit n set when text[at + n] is a stop of a FindStop or ForEachStop for kStops, for the sixteen
// bytes from 'at'. It need not test kRangeEnd, since no block passes the range's last byte; but
// a scan for a quote tests the NUL too, so that both ways a scan that stops at a quote has
// passed none.
template <uint16_t kStops>
MSC_ALWAYS_INLINE inline unsigned StopBits(const char *at) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
    __m128i stop = _mm_setzero_si128();
    auto add = [&](bool wanted, __m128i hits) { if (wanted) stop = _mm_or_si128(stop, hits); };
    // Signed 00-20 and 80-FF: the bytes whose saturated difference with 33 is negative.
    add(kStops & kTokenEnd, _mm_subs_epi8(bytes, _mm_set1_epi8(33)));
    add((kStops & (kQuote | kTokenEnd)) == kQuote, _mm_cmpeq_epi8(bytes, _mm_setzero_si128()));
    add(kStops & kQuote, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')));
    add(kStops & kEscape, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')));
    if constexpr ((kStops & (kOpen | kClose)) == (kOpen | kClose)) {
        // The parentheses 28 and 29 differ in their low bit only: one comparison finds both.
        add(true, _mm_cmpeq_epi8(_mm_or_si128(bytes, _mm_set1_epi8(1)), _mm_set1_epi8(')')));
    } else {
        add(kStops & kOpen, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('(')));
        add(kStops & kClose, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(')')));
    }
    add(kStops & kNameEnd, NameEndBytes(bytes));
    if constexpr ((kStops & kClassicStop) != 0) {
        add(true, _mm_subs_epi8(bytes, _mm_set1_epi8(42)));
        add(true, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')));
    }
    return static_cast<unsigned>(_mm_movemask_epi8(stop));
}
#endif

// The first byte at or after 'pos' whose class is in kStops, which must hold the text's NUL
// (kTokenEnd, kRangeEnd or kNameEnd): the NUL ends the search, and a result past 'last' means the
// range holds no stop from 'pos' on (last + 1 from the vector blocks and from the token scan,
// kTokenEnd alone). 'text' is where the text begins: text[0..last] may be read. With MSC_VECTOR
// (CMake option, on by default) and SSE2 it tests sixteen bytes at a time while the range holds
// them (StopBits, the one vector test of the scans), and the bytes after the last whole block
// as the block that ends at 'last', its bytes before 'pos' shifted off, when the text holds
// sixteen; else the plain loop, which is all a build without it runs. Values such as
// "object.item.audioItem" are most of the bytes of a criteria, and the last token of a range
// mostly stands within the last sixteen.
template <uint16_t kStops>
MSC_ALWAYS_INLINE inline Pos FindStop(const char *text, Pos pos, Pos last) {
    static_assert((bytes::kClass[0] & kStops) != 0, "the NUL must stop the search");
#if MSC_VECTOR && defined(__SSE2__)
    const Pos lastBlock = last - 15;
    for (; pos <= lastBlock; pos += 16) {
        unsigned mask = StopBits<kStops>(text + pos);
        if (mask != 0) return pos + static_cast<unsigned>(__builtin_ctz(mask));
    }
    if (pos <= last && lastBlock >= 0) {
        unsigned mask = StopBits<kStops>(text + lastBlock) >> (pos - lastBlock);
        return mask != 0 ? pos + static_cast<unsigned>(__builtin_ctz(mask)) : last + 1;
    }
#else
    (void)last;
#endif
    if constexpr (kStops == kTokenEnd) {
        while (!IsTokenEnd(text[pos])) ++pos;  // A comparison rather than the class table.
        return pos > last ? last + 1 : pos;
    } else {
        while (!Is(kStops, text[pos])) ++pos;
        return pos;
    }
}

// Calls visit(pos) for every byte of text[from..last] whose class is in kStops, in text order,
// until visit returns false; false then. For a scan that meets many stops, such as the count of
// a group's parentheses that meets every one: each block of sixteen bytes is classified once however
// many it holds, and the bytes after the last whole block are one block ending at 'last' when
// the range holds sixteen, its bytes already seen masked off, rather than a byte at a time.
template <uint16_t kStops, typename Visit>
MSC_ALWAYS_INLINE inline bool ForEachStop(const char *text, Pos from, Pos last, Visit visit) {
    Pos pos = from;
#if MSC_VECTOR && defined(__SSE2__)
    auto visitBits = [&](Pos at, unsigned bits) {
        for (; bits != 0; bits &= bits - 1) {
            if (!visit(at + __builtin_ctz(bits))) return false;
        }
        return true;
    };
    for (const Pos lastBlock = last - 15; pos <= lastBlock; pos += 16) {
        unsigned bits = StopBits<kStops>(text + pos);
        if (bits != 0 && !visitBits(pos, bits)) return false;
    }
    if (pos <= last && last - from >= 15) {
        Pos at = last - 15;
        return visitBits(at, StopBits<kStops>(text + at) & (~0u << (pos - at)));
    }
#endif
    for (; pos <= last; ++pos) {
        if (Is(kStops, text[pos]) && !visit(pos)) return false;
    }
    return true;
}

// The end of the run of name bytes (kName) from 'pos' on, never past last + 1.
MSC_ALWAYS_INLINE inline Pos NameEnd(const char *text, Pos pos, Pos last) {
    Pos end = FindStop<kNameEnd>(text, pos, last);
    return end > last ? last + 1 : end;
}

// The grammar flags; the classic grammar is 0.
enum LexFlags : unsigned {
    kDecodeEscapes = 1 << 0,   // \" and \\ in a quoted value stand for the quote and backslash.
    kQuiet = 1 << 1,           // Nothing on standard error.
    kKeepUnknown = 1 << 2,     // An unknown property becomes PROP_UNKNOWN.
    kRepair = 1 << 3,          // Repairs a client's mistake of one obvious meaning (SEARCH_PARSE_LENIENT).
};

// A token: the bytes text[first..end-1].
struct Token {
    Pos first;
    Pos end;
    bool empty() const { return end == first; }
    size_t size() const { return static_cast<size_t>(end - first); }
};

// The parentheses that the classic scans meet inside a group. A group ends at the first closing
// parenthesis that matches no opening one of its text, wherever either stands: quoted, after a
// backslash, in a token. So each scan inside a group stops at every parenthesis to count it, and
// ends the group's range at that one; the group's text is read once, parentheses and all. The
// scans count the parentheses in the order of the text, none left out: a count over the rest of
// the text goes on from where they stopped.
struct GroupScan {
    Pos unclosed;  // the opening parentheses of the group's text that no closing one matched yet
    Pos close;     // the group's closing parenthesis, once a scan met it; else -1
    // The last parenthesis of the group's text that the count took in, without closing the
    // group: one counted, or the closing one of a group inside it. Before the group's opening
    // parenthesis while there is none: a group's count leaves it as the enclosing one had it.
    Pos counted;

    bool Closes(const char *text, Pos at) const { return text[at] == ')' && unclosed == 0; }
    // The group closes at 'at': its range ends before it. True, for the scans' conditions.
    bool End(Pos at, Pos *last) {
        close = at;
        *last = at - 1;
        return true;
    }
    // Counts the parenthesis at text[at]; true when it closes the group.
    bool Count(const char *text, Pos at, Pos *last) {
        if (Closes(text, at)) return End(at, last);
        counted = at;
        unclosed += text[at] == '(' ? 1 : -1;
        return false;
    }
    // The enclosing group's count, 'outerUnclosed' before this group opened at 'open', goes on
    // where this group's count stopped: the group's parentheses, its opening one too, are the
    // enclosing group's as well.
    void Enclose(Pos outerUnclosed, Pos open) {
        if (close >= 0) return EncloseClosed(outerUnclosed);
        if (counted < open) counted = open;
        unclosed += outerUnclosed + 1;
    }
    // Enclose for a group that closed, whose parentheses match.
    void EncloseClosed(Pos outerUnclosed) {
        counted = close;
        unclosed = outerUnclosed;
        close = -1;
    }
};

class Lexer {
public:
    Lexer(const char *text, unsigned flags, Arena *arena = nullptr) : text_(text), flags_(flags), arena_(arena) {}

    ParseFailure failure() const { return failure_; }

    // A value leaf, in the arena when kInArena, with the text of 'token' (escapes decoded under
    // kDecodeEscapes), or with 'literal' when not null; for an identifier the rewritten number,
    // announced on standard error unless kQuiet. nullptr when memory runs out.
    template <bool kInArena>
    MSC_ALWAYS_INLINE ParseTreeNode *ValueLeafIn(Token token, bool identifier, const char *literal = nullptr) {
        if (MSC_LIKELY(!identifier && literal == nullptr && !(flags_ & kDecodeEscapes))) {
            return NewValueLeafIn<kInArena>(text_ + token.first, token.size(), 0, arena_);  // The text as it stands.
        }
        return DecodedValueLeaf(token, identifier, literal);
    }

    // The text of the value just read, of 'token', as its leaf would hold it, without the leaf:
    // the literal, or the token's bytes when no identifier is to be rewritten and no escape
    // decoded; false when only the leaf (ValueLeafIn) holds it.
    MSC_ALWAYS_INLINE bool ValueWithoutLeaf(Token token, bool identifier, const char *literal, const char **text,
                                            size_t *length) const {
        if (MSC_UNLIKELY(identifier)) return false;
        if (MSC_UNLIKELY(literal != nullptr)) {
            *text = literal;
            *length = strlen(literal);
            return true;
        }
        *text = text_ + token.first;
        *length = token.size();
        return !valueEscaped_;
    }

    // The text that tokens index.
    const char *text() const { return text_; }

protected:
    // The first byte from 'pos' on that is no blank (kBlank, or kSpace), or last + 1.
    template <uint16_t kBlanks = kBlank>
    MSC_ALWAYS_INLINE Pos SkipBlanks(Pos pos, Pos last) const {
        // Tokens are nearly always parted by one space, and begin with a byte above the blanks.
        // Where a NUL is no blank (kSpace), no scan passes one, so the byte at 'pos' is readable
        // even past the range and settles most calls before the bound.
        bool space = kBlanks == kSpace ? text_[pos] == ' ' && pos <= last : SpaceBeforeLast(pos, last);
        if (MSC_LIKELY(space && TokenFollows(pos))) return pos + 1;
        while (pos <= last && Is(kBlanks, text_[pos])) ++pos;
        return pos;
    }

    // Whether text_[pos] is the one space before a classic token, within the range: the common
    // case of SkipBlanks, which a classic scan tests where its token ends.
    MSC_ALWAYS_INLINE bool OneSpace(Pos pos, Pos last) const { return SpaceBeforeLast(pos, last) && TokenFollows(pos); }

    // Whether text_[pos] is a space before the range's last byte. The bound comes first: not every
    // 'pos' is readable. A stop that FindStop returns is (its blocks stop by last + 1, its plain
    // loop read it), but not the byte after a logical keyword that the prefix rule matched
    // through the text's NUL, nor the byte after a quoted value's stop where that stop is the
    // NUL past a host's range. Where it is readable, the byte first saves no bound, since a
    // range may end before a space of the text, and measured dearer: a failed bound tells the
    // compiler that the token ends the range, which spares the tests after it.
    MSC_ALWAYS_INLINE bool SpaceBeforeLast(Pos pos, Pos last) const { return pos < last && text_[pos] == ' '; }

    // Whether a token begins right after the blank at 'pos': a byte above the blanks, read as
    // unsigned.
    MSC_ALWAYS_INLINE bool TokenFollows(Pos pos) const { return static_cast<unsigned char>(text_[pos + 1]) > ' '; }

    // The run of bytes of 'byteClass' from 'pos' on, possibly empty, never past 'last'.
    Token Run(uint16_t byteClass, Pos pos, Pos last) const {
        Pos end = pos;
        while (end <= last && Is(byteClass, text_[end])) ++end;
        return {pos, end};
    }

    // What stops a classic scan inside quotes: a quote, a backslash, and the bytes that may
    // follow a range.
    static constexpr uint16_t kInsideQuotes = kQuote | kEscape | kRangeEnd;

    // The classic token from 'pos' on: a quote flips the in-quote state, a backslash takes the
    // next byte unexamined, and outside quotes a token-end byte ends it; never past 'last'.
    // *next becomes the first byte after it that is no blank, or last + 1 (SkipBlanks).
    // *heldNul (when given) tells whether it holds a NUL: inside quotes, or after a backslash.
    // Inside a group (kInGroup) the scan counts each parenthesis that it passes into 'group',
    // and the group's closing one ends the token and the range ('last'); a token that begins
    // at it is empty, the range ending before its first byte.
    template <bool kInGroup>
    MSC_ALWAYS_INLINE Token ClassicToken(Pos pos, Pos &last, GroupScan &group, Pos *next,
                                         bool *heldNul = nullptr) const {
        constexpr uint16_t kParentheses = kInGroup ? kOpen | kClose : 0;
        // The text ends with a NUL and a group's range with its closing parenthesis, which stop
        // every search: a stop past 'last' ends the token at 'last'.
        const Pos first = pos;
        bool inQuotes = false;
        pos = FindStop<kClassicStop>(text_, pos, last);
        // Most tokens: one space, then the next token, whose first byte is the group's closing
        // parenthesis or not, which the next scan tells.
        if (MSC_LIKELY(OneSpace(pos, last))) {
            *next = pos + 1;
            return {first, pos};
        }
        // A token that ends at 'end', before the blanks to the next one. The range's end is an
        // argument, not a capture by reference, which GCC would build in every caller's prologue.
        auto ends = [this, first, next](Pos end, Pos rangeLast) {
            *next = SkipBlanks(end, rangeLast);
            return Token{first, end};
        };
        if (pos <= last && IsTokenEnd(text_[pos])) return ends(pos, last);  // Any other token-end byte.
        while (pos <= last) {
            char c = text_[pos];
            if (!inQuotes && IsTokenEnd(c)) return ends(pos, last);
            if (c == '"') {
                inQuotes = !inQuotes;
                ++pos;
            } else if (c == '\\') {
                if (heldNul != nullptr && pos < last && text_[pos + 1] == '\0') *heldNul = true;
                // The byte it takes counts as a parenthesis all the same.
                if (kInGroup && pos < last && Is(kOpen | kClose, text_[pos + 1]) && group.Count(text_, pos + 1, &last)) {
                    break;
                }
                pos += 2;
            } else if (kInGroup && (c == '(' || c == ')')) {
                if (group.Count(text_, pos, &last)) break;
                ++pos;
            } else {
                // A parenthesis outside groups, one of ! # $ % & ' (kClassicStop), or a NUL
                // inside quotes: ordinary bytes here.
                if (heldNul != nullptr && c == '\0') *heldNul = true;
                ++pos;
            }
            if (pos > last) break;
            pos = inQuotes ? FindStop<kInsideQuotes | kParentheses>(text_, pos, last)
                           : FindStop<kClassicStop>(text_, pos, last);
        }
        return ends(last + 1, last);
    }

    // The classic value token from 'pos' on, into *token, and its text: the bytes between the
    // quotes of a quoted pair, else the whole token, up to a NUL that quotes or a backslash may
    // hold (a value leaf's text ends there). *next and a group as ClassicToken.
    template <bool kInGroup>
    MSC_ALWAYS_INLINE Token ClassicValue(Pos pos, Pos &last, GroupScan &group, Token *token, Pos *next) const {
        constexpr uint16_t kParentheses = kInGroup ? kOpen | kClose : 0;
        if (MSC_LIKELY(text_[pos] == '"')) {
            // Most values: a quoted text without backslashes, NULs or parentheses, followed by
            // one space before the next token, or else by a blank, the range's end or the
            // group's closing parenthesis.
            Pos close = FindStop<kInsideQuotes | kParentheses>(text_, pos + 1, last);
            bool quoted = OneSpace(close + 1, last) && text_[close] == '"';
            if (MSC_LIKELY(quoted)) {
                *next = close + 2;
            } else if (close <= last && text_[close] == '"' &&
                       (close == last || IsTokenEnd(text_[close + 1]) ||
                        (kInGroup && group.Closes(text_, close + 1) && group.End(close + 1, &last)))) {
                quoted = true;
                *next = SkipBlanks(close + 1, last);
            }
            if (quoted) {
                *token = {pos, close + 1};
                return {pos + 1, close};
            }
        }
        bool heldNul = false;
        *token = ClassicToken<kInGroup>(pos, last, group, next, &heldNul);
        Token text = *token;
        if (token->size() >= 2 && text_[token->first] == '"' && text_[token->end - 1] == '"') {
            text = {token->first + 1, token->end - 1};
        }
        if (MSC_UNLIKELY(heldNul)) text.end = text.first + static_cast<Pos>(strnlen(text_ + text.first, text.size()));
        return text;
    }

    // The entry of 'vocabulary' by prefix for the classic token from 'pos' on (nullptr: none);
    // *next and a group as ClassicToken. Clients mostly write a keyword as its table does, with
    // one space and the next token after it: its first bytes then find it (FindSpelledKeyword)
    // before any scan for its token's end.
    template <bool kInGroup>
    MSC_ALWAYS_INLINE const TokenEntry *ClassicKeyword(Vocabulary vocabulary, Pos pos, Pos &last, GroupScan &group,
                                                       Pos *next) const {
        size_t length;
        const TokenEntry *entry =
            last - pos >= 7 ? FindSpelledKeyword(vocabulary, text_ + pos, static_cast<size_t>(last - pos), &length)
                            : nullptr;
        if (entry != nullptr) {
            // OneSpace without its bound, which the keyword's length below the room settles.
            Pos end = pos + static_cast<Pos>(length);
            if (MSC_LIKELY(text_[end] == ' ' && TokenFollows(end))) {
                *next = end + 1;
                return entry;
            }
        }
        return Keyword<KeywordMatch::kPrefix>(vocabulary, ClassicToken<kInGroup>(pos, last, group, next));
    }

    // The entry of 'vocabulary' for the token, whole or by prefix as the grammar reads keywords.
    template <KeywordMatch kMatch>
    MSC_ALWAYS_INLINE const TokenEntry *Keyword(Vocabulary vocabulary, Token token) const {
        return FindKeyword(vocabulary, kMatch, text_ + token.first, token.size());
    }

    ParseTreeNode *DecodedValueLeaf(Token token, bool identifier, const char *literal);

    // A builder's stop, at 'pos': it ran out of memory (the one call's builder may also stop for
    // a tree, which it tells its caller itself).
    bool Stopped(Pos pos) { return Fail(SEARCH_PARSE_OUT_OF_MEMORY, pos); }

    // Records the first failure; returns false.
    bool Fail(SearchParseErrorCode code, Pos pos) {
        if (failure_.code == SEARCH_PARSE_OK) {
            failure_ = {code, pos > INT32_MAX ? INT32_MAX : static_cast<int>(pos)};
        }
        return false;
    }
    // Records a failure in place of the one recorded, which the text shows first; returns false.
    bool FailInstead(SearchParseErrorCode code, Pos pos) {
        failure_.code = SEARCH_PARSE_OK;
        return Fail(code, pos);
    }

    const char *text_;
    unsigned flags_;
    ParseFailure failure_ = {SEARCH_PARSE_OK, -1};
    bool valueEscaped_ = false;  // The standard grammar's last value holds a backslash (or was repaired).
    Arena *arena_;  // Where nodes and texts come from; null: the heap.
};

// The property named at text[at..last], whose first byte is a kNameStart byte, with its filter
// ("upnp:artist[@role=\"Composer\"]"); *end is the byte after the name. Its id: a built-in name in
// any letter case gives its own, else the first entry of 'hostProperties' (or null) with the same
// name byte for byte (blanks around the filter's "=" and its value's escapes aside), else
// PROP_UNKNOWN; 0 when the name is a logical keyword, which no property may be called. A name
// that ends at 'notBuiltIn' is none of the built-in ones: the caller looked its bytes up already.
int ReadPropertyName(const char *text, Pos at, Pos last, const TokenEntry *hostProperties, Pos *end,
                     Pos notBuiltIn = -1);

}  // namespace msc

#endif  // MSC_LEXER_H
