// The keyword table: the four exported name tables, indexed by vocabulary, length and last folded
// byte when the library loads, so that a token is compared with hardly more than the one keyword
// it may be. The table walk below states the prefix rule of the classic grammar; the index serves
// only tokens for which that rule gives the whole token.
#include "Keywords.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Internal.h"

namespace msc {
namespace {

const TokenEntry *const kTables[] = {g_PropertyName, g_LogOpName, g_BinOpName, g_ExistOpName};
constexpr int kVocabularies = 4;
constexpr size_t kBuckets = 64;

// Bits of Index::bytes: bit v for a byte that some keyword of vocabulary v begins with, and
// kContinues for a byte that stands in some keyword, or the NUL (after which every keyword that
// the text began matches).
constexpr uint8_t kContinues = 1 << kVocabularies;

unsigned char Fold(char c) { return FoldAscii(static_cast<unsigned char>(c)); }

size_t Bucket(size_t length, char lastByte) { return (length * 31 + Fold(lastByte)) % kBuckets; }

struct Index {
    // The first entry of each vocabulary whose keyword falls in the bucket; the entries after it
    // in its table follow in table order, so a lookup walks on from it.
    const TokenEntry *buckets[kVocabularies][kBuckets] = {};
    uint8_t bytes[256] = {};

    // Built when the library loads, before any call can reach it: the tables are constant data,
    // initialised before any constructor runs.
    Index() {
        bytes[0] = kContinues | ((1 << kVocabularies) - 1);
        for (int v = 0; v < kVocabularies; ++v) {
            for (const TokenEntry *entry = kTables[v]; entry->id != 0; ++entry) {
                size_t length = strlen(entry->name);
                for (size_t i = 0; i < length; ++i) {
                    unsigned char folded = Fold(entry->name[i]);
                    auto bits = static_cast<uint8_t>(kContinues | (i == 0 ? 1 << v : 0));
                    bytes[folded] |= bits;
                    if (folded >= 'a' && folded <= 'z') bytes[folded - 'a' + 'A'] |= bits;
                }
                const TokenEntry *&head = buckets[v][Bucket(length, length != 0 ? entry->name[length - 1] : '\0')];
                if (head == nullptr) head = entry;
            }
        }
    }
};

const Index kIndex;

// The first entry whose keyword is the whole token at[0..length-1], length at least 1.
const TokenEntry *FindWhole(Vocabulary vocabulary, const char *at, size_t length) {
    const TokenEntry *entry = kIndex.buckets[static_cast<int>(vocabulary)][Bucket(length, at[length - 1])];
    if (entry == nullptr) return nullptr;
    for (; entry->id != 0; ++entry) {
        if (EqualsFolded(at, length, entry->name)) return entry;
    }
    return nullptr;
}

// The prefix rule, by walking the table in its order.
const TokenEntry *FindPrefix(const TokenEntry *table, const char *at) {
    const TokenEntry *best = nullptr;
    size_t bestLength = 0;
    for (; table->id != 0; ++table) {
        size_t i = 0;
        while (table->name[i] != '\0' && at[i] != '\0' && Fold(at[i]) == Fold(table->name[i])) ++i;
        if (table->name[i] != '\0' && at[i] != '\0') continue;
        size_t length = strlen(table->name);
        if (best == nullptr ||
            (length > bestLength && strncmp(table->name, best->name, bestLength) == 0)) {
            best = table;
            bestLength = length;
        }
    }
    return best;
}

}  // namespace

bool EqualsFolded(const char *text, size_t length, const char *word) {
    for (size_t i = 0; i < length; ++i) {
        // Clients mostly write keywords as the tables do: the plain comparison settles most bytes.
        if (word[i] == '\0' || (text[i] != word[i] && Fold(text[i]) != Fold(word[i]))) return false;
    }
    return word[length] == '\0';
}

const TokenEntry *FindKeyword(Vocabulary vocabulary, KeywordMatch match, const char *at,
                              size_t length) {
    const TokenEntry *whole = length != 0 ? FindWhole(vocabulary, at, length) : nullptr;
    if (match == KeywordMatch::kWhole) return whole;
    // A whole keyword followed by a byte that no keyword holds is what the prefix rule takes:
    // every other match is a shorter keyword that it extends.
    const uint8_t *bytes = kIndex.bytes;
    if (whole != nullptr && !(bytes[static_cast<unsigned char>(at[length])] & kContinues)) return whole;
    if (!(bytes[static_cast<unsigned char>(at[0])] & (1 << static_cast<int>(vocabulary)))) return nullptr;
    return FindPrefix(kTables[static_cast<int>(vocabulary)], at);
}

}  // namespace msc
