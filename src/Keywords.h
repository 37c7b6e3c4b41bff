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

// A token's bytes as the index hashes and compares them, read within the token only: of 8 bytes
// or more the first eight in 'head' and the last eight in 'tail' (the two may overlap); of fewer,
// the first and last four, two or one packed in 'head'. Two tokens of one length up to 16 are
// the same bytes when their words are equal. (One load that ends with a short token, its bytes
// before the token shifted off, would need eight readable bytes before the token's end and a
// test for them, and its shift by the length costs more than the branches it saves.)
struct TokenWords {
    static constexpr size_t kMostBytes = 16;  // of a token whose words hold every byte
    uint64_t head;
    uint64_t tail;

    MSC_ALWAYS_INLINE static TokenWords Of(const char *at, size_t length) {
        if (length >= 8) return {Load<uint64_t>(at), Load<uint64_t>(at + length - 8)};
        if (length >= 4) return {Load<uint32_t>(at) | uint64_t{Load<uint32_t>(at + length - 4)} << 32, 0};
        if (length >= 2) return {Load<uint16_t>(at) | uint64_t{Load<uint16_t>(at + length - 2)} << 16, 0};
        return {length == 1 ? static_cast<unsigned char>(at[0]) : 0u, 0};
    }
    bool operator==(const TokenWords &other) const { return head == other.head && tail == other.tail; }
    // The same bytes but for the bits of 'ignored'.
    bool SameBut(const TokenWords &other, const TokenWords &ignored) const {
        return ((head ^ other.head) & ~ignored.head) == 0 && ((tail ^ other.tail) & ~ignored.tail) == 0;
    }
};

// The index, by vocabulary and a hash of a token's first bytes: a token is compared with hardly
// more than the one keyword that it may be. What it cannot settle at once, an automaton
// of the vocabulary settles a byte at a time.
struct KeywordIndex {
    static constexpr size_t kBuckets = 64;

    // Any function that gives a letter's two cases one bucket will do, since the keyword is
    // compared: a multiplicative hash of the token's first bytes with bit 5 set (its length is
    // compared, not hashed). The multiplier was picked so that each keyword of a vocabulary has a
    // bucket of its own.
    // Its constants are data of the index, which a look-up reads as operands: as immediates they
    // would cost an instruction each, since no immediate but a move takes 64 bits.
    uint64_t fold = 0x2020202020202020, multiplier = 0xF2A74DE452E6B439;
    uint64_t Hash(const TokenWords &words) const { return (words.head | fold) * multiplier; }
    size_t BucketOf(const TokenWords &words) const { return static_cast<size_t>(Hash(words) >> 58); }
    static_assert(kBuckets == 64, "BucketOf takes six bits");

    KeywordIndex();

    // 'words' and 'length' (16 at most: the words hold every byte) are those of the keyword that
    // the bucket settles at once, as its table writes it, and 'entry' what a lookup of it gives,
    // whole or followed by a byte that no keyword holds; a lookup of the same bytes in other
    // letter cases gives the same, since every lookup folds them. 'cases': in the layout of the
    // words, the bit that parts a letter's two cases at each letter of the keyword. 'settled':
    // the bucket holds no keyword of the vocabulary but that one, so a whole token of another
    // length is none. A bucket without a keyword has kNoKeyword for its length, which no token
    // has, an empty one (whose words are those of none) included.
    static constexpr size_t kNoKeyword = SIZE_MAX;
    struct alignas(64) Bucket {  // a shift away from the next
        TokenWords words;
        const TokenEntry *entry;  // nullptr: no keyword is settled at once
        size_t length;
        TokenWords cases;
        bool settled;
    };
    Bucket buckets[kVocabularies][kBuckets] = {};

    // Of 64 slots of 64 bytes, the one that the top six bits of 'hash' pick, its number shifted
    // straight to its offset.
    template <typename Slot>
    MSC_ALWAYS_INLINE static const Slot &SlotOf(const Slot (&slots)[64], uint64_t hash) {
        static_assert(sizeof(Slot) == 64, "a slot's number is shifted to its offset");
        size_t offset = static_cast<size_t>(hash >> (58 - 6)) & 63 * sizeof(Slot);
        return *reinterpret_cast<const Slot *>(reinterpret_cast<const char *>(slots) + offset);
    }
    // buckets[vocabulary][BucketOf(words)].
    MSC_ALWAYS_INLINE const Bucket &BucketAt(Vocabulary vocabulary, const TokenWords &words) const {
        return SlotOf(buckets[static_cast<int>(vocabulary)], Hash(words));
    }
    // The keywords over 16 bytes that buckets leave out (upnp:originalTrackNumber), settled the
    // same way, but out of line: their bytes between the words are compared too.
    struct LongKeyword {
        const char *name;
        size_t length;
        const TokenEntry *entry;  // nullptr: none
    };
    static constexpr size_t kLongKeywords = 4;
    LongKeyword longs[kVocabularies][kLongKeywords] = {};
    // Bit n set: some keyword of 'longs' has n bytes (kLongestKeyword is below 64).
    uint64_t longLengths[kVocabularies] = {};
    // The bytes that stand in some keyword, letters in either case, and the NUL (after which
    // every keyword that the text began matches).
    bool continues[256] = {};

    // Each vocabulary's automaton has a state for each beginning of its keywords, letters
    // folded, and a transition for each byte that goes on to a longer one. The state where the
    // text parts from every keyword decides the lookup: 'ends' holds what the tables give for
    // the state's bytes as a whole token, followed by a byte that no keyword holds, and followed
    // by the NUL. classOf gives a byte's column of 'next', 0 for the bytes that no keyword holds;
    // a transition to 0, the start, which none leads back to, is none.
    static constexpr size_t kClasses = 32;
    // Room for the states of every vocabulary (the tables need some 260) and for a keyword's
    // bytes while its beginnings are looked up.
    static constexpr size_t kMostStates = 320;
    static constexpr size_t kLongestKeyword = 62;
    static_assert(kLongestKeyword < 64, "longLengths has a bit for each length");
    struct Automaton {
        size_t start;    // its row of 'next' and 'ends'
        size_t longest;  // the bytes of its longest keyword
    };
    struct Ends {
        const TokenEntry *whole;
        const TokenEntry *parted;
        const TokenEntry *nul;
    };
    // The keywords as their tables write them, by some of the first eight bytes of a text that
    // begins with one and a space, for a classic scan that reads a keyword before it knows where
    // its token ends (FindSpelledKeyword). Those bytes: of a property the first, sixth and
    // seventh, where "upnp:class" and "upnp:album" part; of any other keyword the first two (of
    // "=", the byte and the space). A slot holds a keyword of 16 bytes at most, of bytes that a
    // classic token holds as they are, that covers those bytes with the space after it, when no
    // other keyword of the vocabulary has the slot; any other token is looked up by its token.
    // The multiplier gives each operator and each property a slot.
    struct alignas(64) Spelled {  // a shift away from the next
        uint64_t head = 1;  // its first eight bytes at most, the others 0; with mask 0, none
        uint64_t mask = 0;  // the bits of those bytes
        uint64_t tail = 0;  // of a keyword over eight bytes, its last eight
        const TokenEntry *entry = nullptr;  // what a prefix lookup of it gives, followed by a space
        size_t length = 0;
    };
    static constexpr size_t kSpelledSlots = 64;
    uint64_t spelledKeys[kVocabularies] = {};  // the bits of the bytes that pick a slot
    uint64_t spelledMultiplier = 0x63CA828DD5F4B3B3;
    Spelled spelled[kVocabularies][kSpelledSlots];
    void IndexSpellings();

    // The hash that picks the slot of a text whose first eight bytes are 'head'.
    uint64_t SpelledHash(Vocabulary vocabulary, uint64_t head) const {
        return (head & spelledKeys[static_cast<int>(vocabulary)]) * spelledMultiplier;
    }
    MSC_ALWAYS_INLINE const Spelled &SpelledAt(Vocabulary vocabulary, uint64_t head) const {
        return SlotOf(spelled[static_cast<int>(vocabulary)], SpelledHash(vocabulary, head));
    }

    // False when the tables outgrow the automata: every slow lookup then walks the tables.
    bool automata = false;
    uint8_t classOf[256] = {};
    Automaton automaton[kVocabularies] = {};
    uint8_t next[kMostStates][kClasses] = {};
    Ends ends[kMostStates] = {};
};

extern const KeywordIndex kKeywordIndex;

// True when a keyword that the token at[0..length-1] is gives the lookup by 'match' its entry:
// for a prefix match, when the text goes on with a byte that no keyword holds.
MSC_ALWAYS_INLINE inline bool TakesWholeKeyword(KeywordMatch match, const char *at, size_t length) {
    return match == KeywordMatch::kWhole || !kKeywordIndex.continues[static_cast<unsigned char>(at[length])];
}

// The lookups that the buckets cannot settle at once: folded keywords, several keywords in a
// bucket, and the classic prefix rule beyond a whole keyword.
const TokenEntry *FindKeywordSlowly(Vocabulary vocabulary, KeywordMatch match, const char *at,
                                    size_t length);

// False when no keyword of 'vocabulary' is a whole token of 'length' bytes: it is longer than
// all of them. A test before a lookup that seldom finds one.
MSC_ALWAYS_INLINE inline bool MayBeWholeKeyword(Vocabulary vocabulary, size_t length) {
    const KeywordIndex &index = kKeywordIndex;
    return !index.automata || length <= index.automaton[static_cast<int>(vocabulary)].longest;
}

// The entry of 'vocabulary' that matches the text at 'at' whose token is at[0..length-1]
// (length 0: no token known, which only a prefix match can use); nullptr when none does.
MSC_ALWAYS_INLINE inline const TokenEntry *FindKeyword(Vocabulary vocabulary, KeywordMatch match,
                                                       const char *at, size_t length) {
    const KeywordIndex &index = kKeywordIndex;
    // An empty token matches no bucket, since none has its length: a prefix look-up, whose
    // token may be empty, leaves it to the slow path without a test of its own. The callers of
    // a whole one know their tokens non-empty, and the test folds away there.
    if (match == KeywordMatch::kPrefix || length != 0) {
        // Clients mostly write a keyword as its table does, followed by a blank: a whole keyword
        // followed by a byte that no keyword holds is all that the prefix rule takes too. Other
        // letter cases of the bucket's keyword, and other tokens of its length, are rare enough
        // for the slow path.
        TokenWords words = TokenWords::Of(at, length);
        const KeywordIndex::Bucket &bucket = index.BucketAt(vocabulary, words);
        if (bucket.length == length) {
            if (words == bucket.words && TakesWholeKeyword(match, at, length)) {
                // A bucket with a length has its entry: the caller's test for none goes.
                if (MSC_LIKELY(bucket.entry != nullptr)) return bucket.entry;
                __builtin_unreachable();
            }
        } else if (match == KeywordMatch::kWhole && bucket.settled) {
            return nullptr;
        }
    }
    return FindKeywordSlowly(vocabulary, match, at, length);
}

// The keyword of 'vocabulary' that the text at 'at' begins with as its table writes it, shorter
// than 'room' (at[0..room] may be read, and room is 7 at least), and its length into *length;
// nullptr when its slot holds none. A lookup of its token gives the entry when a space follows
// it, which the caller tests.
MSC_ALWAYS_INLINE inline const TokenEntry *FindSpelledKeyword(Vocabulary vocabulary, const char *at, size_t room,
                                                              size_t *length) {
    uint64_t head = Load<uint64_t>(at);
    const KeywordIndex::Spelled &slot = kKeywordIndex.SpelledAt(vocabulary, head);
    if ((head & slot.mask) != slot.head || slot.length >= room) return nullptr;
    if (slot.length > 8 && Load<uint64_t>(at + slot.length - 8) != slot.tail) return nullptr;
    *length = slot.length;
    // A slot whose bytes the text has holds a keyword: the caller's test for none goes.
    if (MSC_LIKELY(slot.entry != nullptr)) return slot.entry;
    __builtin_unreachable();
}

}  // namespace msc

#endif  // MSC_KEYWORDS_H
