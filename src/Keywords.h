// The one keyword table of both grammars: the exported name tables, indexed when the library loads.
#ifndef MSC_KEYWORDS_H
#define MSC_KEYWORDS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Internal.h"

namespace msc {

// The exported tables the parsers read their vocabulary from.
enum class Vocabulary { kProperty = 0, kLogical = 1, kBinary = 2, kExists = 3 };
constexpr int kVocabularies = 4;

// How a keyword matches the text at a token.
enum class KeywordMatch {
    // The token is the whole keyword, ASCII letters folded ("dc:title" but not "dc:titles").
    kWhole,
    // The text begins with the keyword, or ends at its NUL inside it, read past the token and the
    // range alike ("order" is "or", a text ending in "upnp:a" is "upnp:actor"); of several
    // matches the first in table order, unless a later one extends it ("<=" over "<").
    kPrefix,
};

// True when text[0..length-1] is 'word' with ASCII letters folded.
inline bool EqualsFolded(const char *text, size_t length, const char *word) {
    for (size_t i = 0; i < length; ++i) {
        // Clients mostly write keywords as the tables do: the plain comparison settles most bytes.
        if (word[i] == '\0' || (text[i] != word[i] && FoldAscii(static_cast<unsigned char>(text[i])) !=
                                                          FoldAscii(static_cast<unsigned char>(word[i])))) {
            return false;
        }
    }
    return word[length] == '\0';
}

// True when a[0..n-1] and b[0..n-1] are the same bytes: eight at a time, then four, two and one
// as the bits of n say, reading nothing outside the n bytes.
template <typename Word>
inline uint64_t Differ(const char *a, const char *b) {
    Word x, y;
    memcpy(&x, a, sizeof x);
    memcpy(&y, b, sizeof y);
    return static_cast<uint64_t>(x ^ y);
}

MSC_ALWAYS_INLINE inline bool SameBytes(const char *a, const char *b, size_t n) {
    uint64_t differ = 0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) differ |= Differ<uint64_t>(a + i, b + i);
    if (n & 4) differ |= Differ<uint32_t>(a + i, b + i), i += 4;
    if (n & 2) differ |= Differ<uint16_t>(a + i, b + i), i += 2;
    if (n & 1) differ |= Differ<uint8_t>(a + i, b + i);
    return differ == 0;
}

// The index, by vocabulary, length and last folded byte: a token is compared with hardly more
// than the one keyword that it may be.
struct KeywordIndex {
    static constexpr size_t kBuckets = 64;
    // kContinues marks the bytes that stand in some keyword, and the NUL (after which every
    // keyword that the text began matches); bit v the bytes that a keyword of vocabulary v begins.
    static constexpr uint8_t kContinues = 1 << kVocabularies;

    // Any function that gives a letter's two cases one bucket will do: the keyword is compared.
    static size_t BucketOf(size_t length, char lastByte) {
        return (length * 31 + (static_cast<unsigned char>(lastByte) | 0x20)) % kBuckets;
    }

    KeywordIndex();

    // The first entry of each vocabulary whose keyword falls in the bucket, with the keyword's
    // length; the entries after it follow in table order, so that a lookup walks on from it.
    struct Bucket {
        const TokenEntry *entry;
        size_t length;
    };
    Bucket buckets[kVocabularies][kBuckets] = {};
    uint8_t bytes[256] = {};
};

extern const KeywordIndex kKeywordIndex;

// The first entry from 'entry' on in its table whose keyword is at[0..length-1], letters folded.
const TokenEntry *FindFoldedFrom(const TokenEntry *entry, const char *at, size_t length);

// The prefix rule by walking the table: the lookups that the index cannot settle.
const TokenEntry *FindKeywordByPrefix(Vocabulary vocabulary, const char *at);

// The entry of 'vocabulary' that matches the text at 'at' whose token is at[0..length-1]
// (length 0: no token known, which only a prefix match can use); nullptr when none does.
MSC_ALWAYS_INLINE inline const TokenEntry *FindKeyword(Vocabulary vocabulary, KeywordMatch match, const char *at,
                                     size_t length) {
    const KeywordIndex &index = kKeywordIndex;
    const TokenEntry *whole = nullptr;
    if (length != 0) {
        const KeywordIndex::Bucket &bucket =
            index.buckets[static_cast<int>(vocabulary)][KeywordIndex::BucketOf(length, at[length - 1])];
        whole = bucket.entry;
        // Clients mostly write keywords as the tables do: the bytes as they stand decide first.
        if (whole != nullptr && !(bucket.length == length && SameBytes(at, whole->name, length))) {
            whole = FindFoldedFrom(whole, at, length);
        }
    }
    if (match == KeywordMatch::kWhole) return whole;
    // A whole keyword followed by a byte that no keyword holds is what the prefix rule takes:
    // every other match is a shorter keyword that it extends.
    if (whole != nullptr && !(index.bytes[static_cast<unsigned char>(at[length])] & KeywordIndex::kContinues)) {
        return whole;
    }
    if (!(index.bytes[static_cast<unsigned char>(at[0])] & (1 << static_cast<int>(vocabulary)))) return nullptr;
    return FindKeywordByPrefix(vocabulary, at);
}

}  // namespace msc

#endif  // MSC_KEYWORDS_H
