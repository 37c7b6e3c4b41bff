// The keyword index behind MatchKeyword and MatchOperator, in a header so that the parser gets
// the usual case, a token that is exactly one keyword followed by a blank, inlined: a call per
// token cost about as much as the comparison itself. Only the library's sources include it.
#ifndef MSC_KEYWORD_INDEX_H
#define MSC_KEYWORD_INDEX_H

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Internal.h"

namespace msc {
namespace keywords {

constexpr int kMaxEntries = 16;         // Bits in a mask.
constexpr int kMaxKeywordLength = 24;   // "upnp:originalTrackNumber".
constexpr int kMaxByteKinds = 48;       // Distinct folded bytes of one table's keywords, plus two.
// Bytes before each stored keyword, so that a 16-byte load from up to 15 bytes before it lines the
// keyword up with a token that starts anywhere in a 16-byte window of the text; the row of an
// entry is a power of two long, so that finding it takes one shift.
constexpr int kKeywordPad = 16;
constexpr int kKeywordRow = 64;
static_assert(kKeywordPad + kMaxKeywordLength <= kKeywordRow, "a keyword must fit its row");

// True when text[0..n-1] equals the folded keyword[0..n-1] with ASCII letters folded, where
// caseBits[i] is 0x20 at the keyword's letters and 0 elsewhere: a text byte t matches a keyword
// letter k exactly when (t | 0x20) == k, that is t is k or its upper-case form, and any other
// keyword byte only itself, so one OR and one comparison per word decide what FoldAscii would.
// Reads nothing outside the ranges: loads of eight, four or two bytes that overlap in the middle
// (or one byte) cover the n bytes.
template <typename Word>
inline Word LoadWord(const char *p) {
    Word word;
    memcpy(&word, p, sizeof word);
    return word;
}

template <typename Word>
inline Word Differ(const char *text, const char *keyword, const char *caseBits, size_t at) {
    return (LoadWord<Word>(text + at) | LoadWord<Word>(caseBits + at)) ^ LoadWord<Word>(keyword + at);
}

__attribute__((always_inline)) inline bool EqualsIgnoringLetterCase(const char *text, const char *keyword,
                                                                    const char *caseBits, size_t n) {
    if (n >= 8) {
        // Up to 24 bytes, the longest keyword the index holds: the first eight, the last eight
        // and, beyond 16, the eight after the first.
        uint64_t differ = Differ<uint64_t>(text, keyword, caseBits, 0) |
                          Differ<uint64_t>(text, keyword, caseBits, n - 8);
        if (n > 16) differ |= Differ<uint64_t>(text, keyword, caseBits, 8);
        return differ == 0;
    }
    if (n >= 4) {
        return (Differ<uint32_t>(text, keyword, caseBits, 0) | Differ<uint32_t>(text, keyword, caseBits, n - 4)) == 0;
    }
    if (n >= 2) {
        return (Differ<uint16_t>(text, keyword, caseBits, 0) | Differ<uint16_t>(text, keyword, caseBits, n - 2)) == 0;
    }
    return n == 0 || Differ<uint8_t>(text, keyword, caseBits, 0) == 0;
}

// One index over the entries of up to three tables, each table a group of bits: the operator
// position looks up the logical, binary and exists keywords in one pass over the text.
class KeywordIndex {
public:
    // False when the tables do not fit the index (too many entries, too long a keyword, too
    // many distinct bytes): the lookup then walks the tables instead.
    bool Build(const TokenEntry *const *tables, int tableCount) {
        for (int t = 0; t < tableCount; ++t) {
            groups_[t] = 0;
            for (const TokenEntry *entry = tables[t]; entry->id != 0; ++entry) {
                if (count_ == kMaxEntries) return false;
                size_t length = strlen(entry->name);
                if (length > kMaxKeywordLength) return false;
                entries_[count_] = entry;
                lengths_[count_] = static_cast<uint8_t>(length);
                if (static_cast<int>(length) > maxLength_) maxLength_ = static_cast<int>(length);
                groups_[t] = static_cast<uint16_t>(groups_[t] | (1u << count_));
                groupOf_[count_] = static_cast<uint8_t>(t);
                for (size_t i = 0; i < length; ++i) {
                    unsigned char folded = FoldAscii(static_cast<unsigned char>(entry->name[i]));
                    folded_[count_][kKeywordPad + i] = static_cast<char>(folded);
                    caseBits_[count_][kKeywordPad + i] =
                        static_cast<char>(folded >= 'a' && folded <= 'z' ? 0x20 : 0);
                }
                ++count_;
            }
        }
        // Kind 0 stands for every byte that no keyword holds and kind 1 for the NUL that ends a
        // text (after which a keyword may match that the token only begins: "upnp:a" is
        // "upnp:actor"); each folded byte that a keyword holds gets a kind of its own, shared by
        // its upper-case form.
        kindOf_[0] = 1;
        int kinds = 2;
        for (int e = 0; e < count_; ++e) {
            for (int i = 0; i < lengths_[e]; ++i) {
                unsigned char c = FoldAscii(static_cast<unsigned char>(entries_[e]->name[i]));
                if (kindOf_[c] != 0) continue;
                if (kinds == kMaxByteKinds) return false;
                kindOf_[c] = static_cast<uint8_t>(kinds);
                if (c >= 'a' && c <= 'z') kindOf_[c - 'a' + 'A'] = static_cast<uint8_t>(kinds);
                ++kinds;
            }
        }
        for (int i = 0; i <= maxLength_; ++i) {
            uint16_t ended = 0;  // Entries whose keyword is no longer than i: any byte keeps them.
            for (int e = 0; e < count_; ++e) {
                if (lengths_[e] <= i) ended = static_cast<uint16_t>(ended | (1u << e));
            }
            longer_[i] = static_cast<uint16_t>(AllEntries() & ~ended);
            if (i == maxLength_) break;
            for (int k = 0; k < kinds; ++k) accept_[i][k] = ended;
            for (int e = 0; e < count_; ++e) {
                if (lengths_[e] <= i) continue;
                unsigned char c = FoldAscii(static_cast<unsigned char>(entries_[e]->name[i]));
                accept_[i][kindOf_[c]] = static_cast<uint16_t>(accept_[i][kindOf_[c]] | (1u << e));
            }
        }
        // The whole-token shortcut: entries by length and last byte. An entry is left out when a
        // keyword of an earlier table begins it, since that one would win ("or" over a binary
        // "order"), and the empty keyword is never a whole token.
        for (int e = 0; e < count_; ++e) {
            bool shadowed = lengths_[e] == 0;
            for (int f = 0; f < count_; ++f) {
                if (groupOf_[f] < groupOf_[e] && lengths_[f] <= lengths_[e] &&
                    memcmp(Folded(f), Folded(e), lengths_[f]) == 0) {
                    shadowed = true;
                }
            }
            if (shadowed) continue;
            unsigned char last = static_cast<unsigned char>(Folded(e)[lengths_[e] - 1]);
            uint16_t &slot = wholeTokens_[lengths_[e]][kindOf_[last]];
            slot = static_cast<uint16_t>(slot | (1u << e));
        }
        return true;
    }

    // The entry whose keyword is the whole token at[0..length-1], when the byte after the token
    // is neither NUL nor a byte of any keyword: then no longer keyword can match, every match is
    // a prefix of the token, and the rule of Select (the first, unless a later one extends it)
    // ends at the whole token. *group receives its table. nullptr means: ask Candidates.
    // Most tokens are exactly a keyword followed by a blank; this compares each byte once
    // against one keyword instead of against all of them.
    __attribute__((always_inline)) const TokenEntry *WholeToken(const char *at, size_t length,
                                                                 int *group) const {
        if (length - 1 >= static_cast<size_t>(kMaxKeywordLength)) return nullptr;  // 0 wraps around.
        for (uint32_t entries = WholeTokenEntries(at, length); entries != 0; entries &= entries - 1) {
            int e = __builtin_ctz(entries);
            if (EqualsIgnoringLetterCase(at, Folded(e), caseBits_[e] + kKeywordPad, length)) {
                *group = groupOf_[e];
                return entries_[e];
            }
        }
        return nullptr;
    }

#if defined(__SSE2__)
    // WholeToken for a token of up to 16 bytes that the caller has in a register already:
    // 'window' holds it from byte 'offset' on. Each candidate keyword is loaded lined up with it
    // from the padded storage and compared in one step, whatever its length.
    __attribute__((always_inline)) const TokenEntry *WholeTokenInWindow(
        const char *at, size_t length, __m128i window, unsigned offset, int *group) const {
        const unsigned tokenBits = (1u << length) - 1;
        uint32_t entries = WholeTokenEntries(at, length);
        auto compare = [&](unsigned shift) __attribute__((always_inline)) -> const TokenEntry * {
            for (; entries != 0; entries &= entries - 1) {
                int e = __builtin_ctz(entries);
                __m128i keyword = _mm_loadu_si128(
                    reinterpret_cast<const __m128i *>(folded_[e] + kKeywordPad - shift));
                __m128i caseBits = _mm_loadu_si128(
                    reinterpret_cast<const __m128i *>(caseBits_[e] + kKeywordPad - shift));
                auto same = static_cast<unsigned>(
                    _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(window, caseBits), keyword)));
                if ((~(same >> shift) & tokenBits) == 0) {
                    *group = groupOf_[e];
                    return entries_[e];
                }
            }
            return nullptr;
        };
        // The token usually starts the window: that case with constant addresses.
        return offset == 0 ? compare(0) : compare(offset);
    }
#endif

    // The entries whose keyword the text at 'at' begins, or which the text up to its NUL begins.
    uint32_t Candidates(const char *at) const {
        // Locals and a row pointer keep the loop at about eight instructions a byte.
        uint32_t candidates = AllEntries();
        const uint16_t *row = accept_[0];
        const uint16_t *longer = longer_ + 1;
        const uint8_t *kindOf = kindOf_;
        for (const char *end = at + maxLength_; at != end; ++at, row += kMaxByteKinds, ++longer) {
            unsigned char c = static_cast<unsigned char>(*at);
            if (c == '\0') break;  // The text ended: every keyword it began still matches.
            candidates &= row[kindOf[c]];
            if ((candidates & *longer) == 0) break;  // Nothing left to compare.
        }
        return candidates;
    }

    // The entry of table 'group' that the lookup takes from 'candidates', or nullptr.
    const TokenEntry *Select(uint32_t candidates, int group) const {
        candidates &= groups_[group];
        if (candidates == 0) return nullptr;
        int best = __builtin_ctz(candidates);
        candidates &= candidates - 1;
        // Of several matches the first wins, unless a later one extends its keyword ("<=" over
        // "<"); only the operator tables have such pairs.
        while (candidates != 0) {
            int next = __builtin_ctz(candidates);
            candidates &= candidates - 1;
            if (lengths_[next] > lengths_[best] &&
                strncmp(entries_[next]->name, entries_[best]->name, lengths_[best]) == 0) {
                best = next;
            }
        }
        return entries_[best];
    }

private:
    uint32_t AllEntries() const { return (1u << count_) - 1; }

    const char *Folded(int e) const { return folded_[e] + kKeywordPad; }

    // The entries that WholeToken compares with the token at[0..length-1], 1 to kMaxKeywordLength
    // bytes long: those of its length and last byte, or none when the byte after it could
    // continue a keyword or is the NUL that ends a text. An index that Build gave up on has none
    // at all, so its lookups take the slow path, which walks the table.
    __attribute__((always_inline)) uint32_t WholeTokenEntries(const char *at, size_t length) const {
        if (kindOf_[static_cast<unsigned char>(at[length])] != 0) return 0;
        return wholeTokens_[length][kindOf_[static_cast<unsigned char>(at[length - 1])]];
    }

    int count_ = 0;
    int maxLength_ = 0;
    const TokenEntry *entries_[kMaxEntries] = {};
    uint8_t lengths_[kMaxEntries] = {};
    uint16_t groups_[3] = {};
    uint8_t groupOf_[kMaxEntries] = {};
    char folded_[kMaxEntries][kKeywordRow] = {};
    char caseBits_[kMaxEntries][kKeywordRow] = {};  // 0x20 at the letters of folded_.
    uint16_t wholeTokens_[kMaxKeywordLength + 1][kMaxByteKinds] = {};
    uint8_t kindOf_[256] = {};
    uint16_t accept_[kMaxKeywordLength][kMaxByteKinds] = {};
    uint16_t longer_[kMaxKeywordLength + 1] = {};
};

struct Vocabularies {
    const TokenEntry *tables[4] = {g_PropertyName, g_LogOpName, g_BinOpName, g_ExistOpName};
    KeywordIndex indexes[4];  // One per table.
    KeywordIndex operators;   // Logical, binary and exists together, in this order.
    bool built[4];
    bool operatorsBuilt;
    Vocabularies() {
        for (int v = 0; v < 4; ++v) built[v] = indexes[v].Build(&tables[v], 1);
        operatorsBuilt = operators.Build(&tables[1], 3);
    }
};

// Built when the library loads, before any call can reach it (the tables it reads are constant
// data, initialised before any constructor runs), so a lookup pays no first-use check.
extern const Vocabularies kVocabularies;

inline constexpr Vocabulary kOperatorOrder[] = {Vocabulary::kLogical, Vocabulary::kBinary,
                                                Vocabulary::kExists};

// The lookups of a token that is not exactly a keyword followed by a blank, kept out of line so
// that the usual case pays for no registers that only these need.
__attribute__((noinline)) const TokenEntry *MatchKeywordSlowly(Vocabulary vocabulary,
                                                               const char *at);
__attribute__((noinline)) const TokenEntry *MatchOperatorSlowly(const char *at, size_t tokenLength,
                                                                Vocabulary *which);

}  // namespace keywords

// Returns the entry of g_PropertyName, g_LogOpName, g_BinOpName or g_ExistOpName whose keyword
// begins the text at 'at', ASCII letters folded, compared up to the end of the keyword or a NUL
// in the text; of several the first in table order, unless a later one extends its keyword
// ("<=" over "<"). nullptr when none matches. 'tokenLength' is the length of the token that
// starts at 'at' (0 when unknown); it only serves a shortcut and never changes the result.
MSC_ALWAYS_INLINE inline const TokenEntry *MatchKeyword(
    Vocabulary vocabulary, const char *at, size_t tokenLength = 0) {
    const keywords::Vocabularies &vocabularies = keywords::kVocabularies;
    int v = static_cast<int>(vocabulary);
    int group = 0;
    if (const TokenEntry *entry = vocabularies.indexes[v].WholeToken(at, tokenLength, &group)) {
        return entry;
    }
    return keywords::MatchKeywordSlowly(vocabulary, at);
}

// The keyword at an operator position: a logical one if any matches, else a binary one, else an
// exists one, each chosen as MatchKeyword chooses; *which tells the table. nullptr when none.
MSC_ALWAYS_INLINE inline const TokenEntry *MatchOperator(
    const char *at, size_t tokenLength, Vocabulary *which) {
    const keywords::Vocabularies &vocabularies = keywords::kVocabularies;
    int group = 0;
    if (const TokenEntry *entry = vocabularies.operators.WholeToken(at, tokenLength, &group)) {
        *which = keywords::kOperatorOrder[group];
        return entry;
    }
    return keywords::MatchOperatorSlowly(at, tokenLength, which);
}

#if defined(__SSE2__)
// MatchKeyword and MatchOperator for a token of 'length' bytes that the caller holds in 'window'
// from byte 'offset' on (offset + length at most 16).
MSC_ALWAYS_INLINE inline const TokenEntry *MatchKeywordInWindow(
    Vocabulary vocabulary, const char *at, size_t length, __m128i window, unsigned offset) {
    const keywords::Vocabularies &vocabularies = keywords::kVocabularies;
    int v = static_cast<int>(vocabulary);
    int group = 0;
    if (const TokenEntry *entry =
            vocabularies.indexes[v].WholeTokenInWindow(at, length, window, offset, &group)) {
        return entry;
    }
    return keywords::MatchKeywordSlowly(vocabulary, at);
}

MSC_ALWAYS_INLINE inline const TokenEntry *MatchOperatorInWindow(
    const char *at, size_t length, __m128i window, unsigned offset, Vocabulary *which) {
    const keywords::Vocabularies &vocabularies = keywords::kVocabularies;
    int group = 0;
    if (const TokenEntry *entry =
            vocabularies.operators.WholeTokenInWindow(at, length, window, offset, &group)) {
        *which = keywords::kOperatorOrder[group];
        return entry;
    }
    return keywords::MatchOperatorSlowly(at, length, which);
}
#endif

}  // namespace msc

#endif  // MSC_KEYWORD_INDEX_H
