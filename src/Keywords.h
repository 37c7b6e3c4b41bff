// The one keyword table of both grammars: the exported name tables, indexed when the library loads.
#ifndef MSC_KEYWORDS_H
#define MSC_KEYWORDS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Internal.h"

namespace msc {

// What a lookup may find: one of the keyword tables (the exported ones and the standard grammar's
// own operators); kOperator, what the classic grammar reads where an operator may stand: a logical
// keyword, else a binary one, else exists; or kComparison, the standard grammar's operators after a
// property: a binary one, else exists, else one of its own.
enum class Vocabulary {
    kProperty = 0,
    kLogical = 1,
    kBinary = 2,
    kExists = 3,
    kStandardOperator = 4,
    kOperator = 5,
    kComparison = 6,
};
constexpr int kTables = 5;  // The vocabularies with a table of their own come first.
constexpr int kVocabularies = 7;

// How a keyword matches the text at a token.
enum class KeywordMatch {
    // The token is the whole keyword, ASCII letters folded ("dc:title" but not "dc:titles").
    kWhole,
    // The text begins with the keyword, or ends at its NUL inside it, read past the token and the
    // range alike ("order" is "or", a text ending in "upnp:a" is "upnp:actor"); of several
    // matches the first in table order, unless a later one extends it ("<=" over "<").
    kPrefix,
};

template <typename Word>
inline uint64_t Differ(const char *a, const char *b) {
    Word x, y;
    memcpy(&x, a, sizeof x);
    memcpy(&y, b, sizeof y);
    return static_cast<uint64_t>(x ^ y);
}

// True when a[0..n-1] and b[0..n-1] are the same bytes: a word from each end (the widest of
// 8, 4, 2 and 1 bytes that n holds; the two may overlap) and whole words between them, reading
// nothing outside the n bytes.
MSC_ALWAYS_INLINE inline bool SameBytes(const char *a, const char *b, size_t n) {
    if (n >= 8) {
        uint64_t differ = Differ<uint64_t>(a, b) | Differ<uint64_t>(a + n - 8, b + n - 8);
        for (size_t i = 8; i + 8 < n; i += 8) differ |= Differ<uint64_t>(a + i, b + i);
        return differ == 0;
    }
    if (n >= 4) return (Differ<uint32_t>(a, b) | Differ<uint32_t>(a + n - 4, b + n - 4)) == 0;
    if (n >= 2) return (Differ<uint16_t>(a, b) | Differ<uint16_t>(a + n - 2, b + n - 2)) == 0;
    return n == 0 || a[0] == b[0];
}

// The index, by vocabulary, length, first and last folded byte: a token is compared with
// hardly more than the one keyword that it may be.
struct KeywordIndex {
    static constexpr size_t kBuckets = 64;
    // kContinues marks the bytes that stand in some keyword, and the NUL (after which every
    // keyword that the text began matches); bit v the bytes that a keyword of table v begins.
    static constexpr uint8_t kContinues = 1 << kTables;

    // Any function that gives a letter's two cases one bucket will do, since the keyword is
    // compared; this one gives each keyword of a vocabulary a bucket of its own.
    static size_t BucketOf(size_t length, char firstByte, char lastByte) {
        return (length * 5 + (static_cast<unsigned char>(firstByte) | 0x20) +
                (static_cast<unsigned char>(lastByte) | 0x20)) % kBuckets;
    }

    KeywordIndex();

    // 'name' (of 'length' bytes) is the keyword that the bucket settles at once, as its table
    // writes it, and 'entry' what a lookup of it gives, whole or followed by a byte that no
    // keyword holds; a lookup of the same bytes in other letter cases gives the same, since every
    // lookup folds them. 'first' is the first entry of a table in the bucket: the entries after it
    // follow in table order, so that a folded lookup walks on from it. 'settled': the bucket holds
    // no keyword of the vocabulary but 'name', so a whole token that is not 'name' is none.
    struct Bucket {
        const char *name;
        size_t length;
        const TokenEntry *entry;
        const TokenEntry *first;
        bool settled;
    };
    Bucket buckets[kVocabularies][kBuckets] = {};
    uint8_t bytes[256] = {};
    // Of each keyword of a table, how many leading bytes it has in common with the one before it,
    // letters folded (0 for the first): what the prefix rule's walk need not compare again.
    // kLongShared: that many or more.
    static constexpr size_t kMostKeywords = 64;
    static constexpr uint8_t kLongShared = UINT8_MAX;
    uint8_t shared[kTables][kMostKeywords] = {};
};

extern const KeywordIndex kKeywordIndex;

// The lookups that the index cannot settle at once: folded keywords, several keywords in a
// bucket, and the classic prefix rule by walking the tables.
const TokenEntry *FindKeywordSlowly(Vocabulary vocabulary, KeywordMatch match, const char *at,
                                    size_t length);

// The entry of 'vocabulary' that matches the text at 'at' whose token is at[0..length-1]
// (length 0: no token known, which only a prefix match can use); nullptr when none does.
MSC_ALWAYS_INLINE inline const TokenEntry *FindKeyword(Vocabulary vocabulary, KeywordMatch match,
                                                       const char *at, size_t length) {
    const KeywordIndex &index = kKeywordIndex;
    if (length != 0) {
        // Clients mostly write a keyword as its table does, followed by a blank: a whole keyword
        // followed by a byte that no keyword holds is all that the prefix rule takes too.
        size_t slot = KeywordIndex::BucketOf(length, at[0], at[length - 1]);
        const KeywordIndex::Bucket &bucket = index.buckets[static_cast<int>(vocabulary)][slot];
        if (bucket.length == length && (SameBytes(at, bucket.name, length) || EqualsFolded(at, length, bucket.name)) &&
            (match == KeywordMatch::kWhole ||
             !(index.bytes[static_cast<unsigned char>(at[length])] & KeywordIndex::kContinues))) {
            return bucket.entry;
        }
        if (match == KeywordMatch::kWhole && bucket.settled) return nullptr;
    }
    return FindKeywordSlowly(vocabulary, match, at, length);
}

}  // namespace msc

#endif  // MSC_KEYWORDS_H
