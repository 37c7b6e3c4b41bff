// The keyword table: the index over the exported name tables, and the classic prefix rule as a
// plain walk of a table, for the lookups that the index cannot settle.
#include "Keywords.h"

#include <cstring>

namespace msc {
namespace {

const TokenEntry *const kTables[kVocabularies] = {g_PropertyName, g_LogOpName, g_BinOpName,
                                                  g_ExistOpName};

unsigned char Fold(char c) { return FoldAscii(static_cast<unsigned char>(c)); }

}  // namespace

// Built when the library loads, before any call can reach it: the tables are constant data,
// initialised before any constructor runs.
KeywordIndex::KeywordIndex() {
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
            Bucket &bucket = buckets[v][BucketOf(length, length != 0 ? entry->name[length - 1] : '\0')];
            if (bucket.entry == nullptr) bucket = {entry, length};
        }
    }
}

const KeywordIndex kKeywordIndex;

const TokenEntry *FindFoldedFrom(const TokenEntry *entry, const char *at, size_t length) {
    for (; entry->id != 0; ++entry) {
        if (EqualsFolded(at, length, entry->name)) return entry;
    }
    return nullptr;
}

const TokenEntry *FindKeywordByPrefix(Vocabulary vocabulary, const char *at) {
    const TokenEntry *best = nullptr;
    size_t bestLength = 0;
    for (const TokenEntry *entry = kTables[static_cast<int>(vocabulary)]; entry->id != 0; ++entry) {
        size_t i = 0;
        while (entry->name[i] != '\0' && at[i] != '\0' && Fold(at[i]) == Fold(entry->name[i])) ++i;
        if (entry->name[i] != '\0' && at[i] != '\0') continue;
        size_t length = strlen(entry->name);
        if (best == nullptr ||
            (length > bestLength && strncmp(entry->name, best->name, bestLength) == 0)) {
            best = entry;
            bestLength = length;
        }
    }
    return best;
}

}  // namespace msc
