// Keyword lookup in the four vocabulary tables, bit-parallel over the table's entries.
//
// An entry matches the text at a position when the text agrees with the entry's keyword, ASCII
// letters folded, up to the end of the keyword or a NUL in the text, whichever comes first: so
// "order" matches "or" and a text ending in "upnp:a" matches "upnp:actor". Walking the table and
// comparing each keyword in turn costs about five instructions per byte per entry, and eight
// property keywords share the prefix "upnp:". Instead each table gets, per keyword position i and
// per byte, the set of entries that the byte keeps alive there (a 16-bit mask, one bit an entry);
// the text is read once, each byte ANDs one mask into the candidates, and the walk stops as soon
// as no candidate has a keyword longer than i. The masks are built from the exported tables when
// the library loads, so the tables stay the only statement of the vocabulary. The index and the
// inlined usual case live in KeywordIndex.h; this file holds the index data and the slow paths.
#include <cstdint>
#include <cstring>

#include "KeywordIndex.h"

namespace msc {
namespace keywords {
namespace {

// The same rule by walking the table, for a table that the index cannot hold.
const TokenEntry *WalkTable(const TokenEntry *table, const char *at) {
    const TokenEntry *best = nullptr;
    size_t bestLength = 0;
    for (; table->id != 0; ++table) {
        size_t i = 0;
        for (; table->name[i] != '\0' && at[i] != '\0'; ++i) {
            if (FoldAscii(static_cast<unsigned char>(at[i])) !=
                FoldAscii(static_cast<unsigned char>(table->name[i]))) {
                break;
            }
        }
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

const Vocabularies kVocabularies;

__attribute__((noinline)) const TokenEntry *MatchKeywordSlowly(Vocabulary vocabulary, const char *at) {
    const Vocabularies &vocabularies = kVocabularies;
    int v = static_cast<int>(vocabulary);
    if (!vocabularies.built[v]) return WalkTable(vocabularies.tables[v], at);
    const KeywordIndex &index = vocabularies.indexes[v];
    return index.Select(index.Candidates(at), 0);
}

__attribute__((noinline)) const TokenEntry *MatchOperatorSlowly(const char *at, size_t tokenLength,
                                                                Vocabulary *which) {
    const Vocabularies &vocabularies = kVocabularies;
    if (vocabularies.operatorsBuilt) {
        uint32_t candidates = vocabularies.operators.Candidates(at);
        for (int g = 0; g < 3; ++g) {
            if (const TokenEntry *entry = vocabularies.operators.Select(candidates, g)) {
                *which = kOperatorOrder[g];
                return entry;
            }
        }
        return nullptr;
    }
    for (Vocabulary vocabulary : kOperatorOrder) {
        if (const TokenEntry *entry = MatchKeyword(vocabulary, at, tokenLength)) {
            *which = vocabulary;
            return entry;
        }
    }
    return nullptr;
}

}  // namespace keywords
}  // namespace msc
