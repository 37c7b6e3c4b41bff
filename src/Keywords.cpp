// The keyword table: the index over the exported name tables, and the classic prefix rule as a
// plain walk of a table, for the lookups that the index cannot settle.
#include "Keywords.h"

#include <cstring>

namespace msc {
namespace {

const TokenEntry *const kTableOf[kTables] = {g_PropertyName, g_LogOpName, g_BinOpName, g_ExistOpName,
                                             kStandardOpName};

// The tables that each vocabulary reads, in the order they are tried.
struct Members {
    int count;
    Vocabulary tables[3];
};
constexpr Members kMembers[kVocabularies] = {
    {1, {Vocabulary::kProperty}},
    {1, {Vocabulary::kLogical}},
    {1, {Vocabulary::kBinary}},
    {1, {Vocabulary::kExists}},
    {1, {Vocabulary::kStandardOperator}},
    {3, {Vocabulary::kLogical, Vocabulary::kBinary, Vocabulary::kExists}},
    {3, {Vocabulary::kBinary, Vocabulary::kExists, Vocabulary::kStandardOperator}},
};

const TokenEntry *FindKeywordByPrefix(const KeywordIndex &index, int table, const char *at) {
    const TokenEntry *best = nullptr;
    size_t bestLength = 0;
    size_t i = 0;  // the bytes of the text that the entry before matched
    const uint8_t *shared = index.shared[table];
    for (const TokenEntry *entry = kTableOf[table]; entry->id != 0; ++entry, ++shared) {
        const char *name = entry->name;
        // Where the keyword parts from the one before, it parts from a text that matched that one
        // further; and the byte of a text where that one failed, short of the parting, fails
        // this one too: keywords with a common beginning are mostly settled without a compare.
        if (i > *shared) {
            i = *shared;
            if (name[i] != '\0' && *shared != KeywordIndex::kLongShared) continue;
        } else if (i < *shared && at[i] != '\0') {
            continue;
        }
        // Texts mostly write keywords as the tables do: the plain comparison settles most bytes
        // (a text byte equal to the keyword's is no NUL).
        while (name[i] != '\0' &&
               (at[i] == name[i] || (at[i] != '\0' && FoldAscii(static_cast<unsigned char>(at[i])) ==
                                                          FoldAscii(static_cast<unsigned char>(name[i]))))) {
            ++i;
        }
        if (name[i] != '\0' && at[i] != '\0') continue;
        size_t length = name[i] == '\0' ? i : strlen(name);
        if (best == nullptr ||
            (length > bestLength && strncmp(entry->name, best->name, bestLength) == 0)) {
            best = entry;
            bestLength = length;
        }
    }
    return best;
}

// The first entry of a table from 'entry' on whose keyword is at[0..length-1], ASCII letters
// without regard to case; nullptr at the terminator.
const TokenEntry *FindFoldedFrom(const TokenEntry *entry, const char *at, size_t length) {
    for (; entry->id != 0; ++entry) {
        if (EqualsFolded(at, length, entry->name)) return entry;
    }
    return nullptr;
}

// The lookup in one table, with no use of the buckets' names.
const TokenEntry *FindInTable(const KeywordIndex &index, int table, KeywordMatch match, const char *at,
                              size_t length) {
    const TokenEntry *whole = nullptr;
    if (length != 0) {
        size_t bucket = KeywordIndex::BucketOf(TokenWords::Of(at, length), length);
        const TokenEntry *first = index.buckets[table][bucket].first;
        if (first != nullptr) whole = FindFoldedFrom(first, at, length);
    }
    if (match == KeywordMatch::kWhole) return whole;
    // A whole keyword followed by a byte that no keyword holds is what the prefix rule takes:
    // every other match is a shorter keyword that it extends.
    if (whole != nullptr && !(index.bytes[static_cast<unsigned char>(at[length])] & KeywordIndex::kContinues)) {
        return whole;
    }
    if (!(index.bytes[static_cast<unsigned char>(at[0])] & (1 << table))) return nullptr;
    return FindKeywordByPrefix(index, table, at);
}

// The lookup in each table of the vocabulary in turn.
const TokenEntry *FindInTables(const KeywordIndex &index, Vocabulary vocabulary, KeywordMatch match,
                               const char *at, size_t length) {
    const Members &members = kMembers[static_cast<int>(vocabulary)];
    const TokenEntry *found = nullptr;
    for (int m = 0; m < members.count && found == nullptr; ++m) {
        found = FindInTable(index, static_cast<int>(members.tables[m]), match, at, length);
    }
    return found;
}

}  // namespace

// Built when the library loads, before any call can reach it: the tables are constant data,
// initialised before any constructor runs.
KeywordIndex::KeywordIndex() {
    bytes[0] = kContinues | ((1 << kTables) - 1);
    for (int v = 0; v < kTables; ++v) {
        for (const TokenEntry *entry = kTableOf[v]; entry->id != 0; ++entry) {
            if (entry != kTableOf[v]) {
                const char *before = entry[-1].name;
                uint8_t &common = shared[v][entry - kTableOf[v]];
                while (before[common] != '\0' && common < kLongShared &&
                       FoldAscii(static_cast<unsigned char>(before[common])) ==
                           FoldAscii(static_cast<unsigned char>(entry->name[common]))) {
                    ++common;
                }
            }
            size_t length = strlen(entry->name);
            for (size_t i = 0; i < length; ++i) {
                unsigned char folded = FoldAscii(static_cast<unsigned char>(entry->name[i]));
                auto bits = static_cast<uint8_t>(kContinues | (i == 0 ? 1 << v : 0));
                bytes[folded] |= bits;
                if (folded >= 'a' && folded <= 'z') bytes[folded - 'a' + 'A'] |= bits;
            }
            if (length == 0) continue;
            Bucket &bucket = buckets[v][BucketOf(TokenWords::Of(entry->name, length), length)];
            if (bucket.first == nullptr) bucket.first = entry;
        }
    }
    // Each bucket's fast path: its first keyword, with the entry that the table lookups give for
    // it followed by a byte that no keyword holds (any such byte gives the same, since the prefix
    // rule compares it with no keyword's byte), where a whole-token lookup gives that entry too.
    int after = 1;
    while (after < 256 && (bytes[after] & kContinues)) ++after;
    if (after == 256) return;
    for (int v = 0; v < kVocabularies; ++v) {
        auto vocabulary = static_cast<Vocabulary>(v);
        for (int m = 0; m < kMembers[v].count; ++m) {
            const TokenEntry *table = kTableOf[static_cast<int>(kMembers[v].tables[m])];
            for (const TokenEntry *entry = table; entry->id != 0; ++entry) {
                char text[64];
                size_t length = strlen(entry->name);
                if (length == 0 || length + 2 > sizeof text) continue;
                Bucket &bucket = buckets[v][BucketOf(TokenWords::Of(entry->name, length), length)];
                if (bucket.name != nullptr) continue;
                memcpy(text, entry->name, length);
                text[length] = static_cast<char>(after);
                text[length + 1] = '\0';
                const TokenEntry *found = FindInTables(*this, vocabulary, KeywordMatch::kPrefix, text, length);
                const TokenEntry *whole = FindInTables(*this, vocabulary, KeywordMatch::kWhole, text, length);
                if (found != nullptr && found == whole) {
                    bucket = {TokenWords::Of(entry->name, length), entry->name, length, found, bucket.first, false};
                }
            }
        }
        // A bucket is settled when the vocabulary's tables put no keyword into it, or only the
        // one it names.
        int keywords[kBuckets] = {};
        for (int m = 0; m < kMembers[v].count; ++m) {
            for (const TokenEntry *entry = kTableOf[static_cast<int>(kMembers[v].tables[m])]; entry->id != 0; ++entry) {
                size_t length = strlen(entry->name);
                if (length != 0) ++keywords[BucketOf(TokenWords::Of(entry->name, length), length)];
            }
        }
        for (size_t b = 0; b < kBuckets; ++b) {
            buckets[v][b].settled = keywords[b] == 0 || (keywords[b] == 1 && buckets[v][b].name != nullptr);
        }
    }
}

const KeywordIndex kKeywordIndex;

const TokenEntry *FindKeywordSlowly(Vocabulary vocabulary, KeywordMatch match, const char *at,
                                    size_t length) {
    return FindInTables(kKeywordIndex, vocabulary, match, at, length);
}

}  // namespace msc
