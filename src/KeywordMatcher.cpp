// Keyword lookup in the four vocabulary tables, bit-parallel over the table's entries.
//
// An entry matches the text at a position when the text agrees with the entry's keyword, ASCII
// letters folded, up to the end of the keyword or a NUL in the text, whichever comes first: so
// "order" matches "or" and a text ending in "upnp:a" matches "upnp:actor". Walking the table and
// comparing each keyword in turn costs about five instructions per byte per entry, and eight
// property keywords share the prefix "upnp:". Instead each table gets, per keyword position i and
// per byte, the set of entries that the byte keeps alive there (a 16-bit mask, one bit an entry);
// the text is read once, each byte ANDs one mask into the candidates, and the walk stops as soon
// as no candidate has a keyword longer than i. The masks are built from the exported tables on
// first use, so the tables stay the only statement of the vocabulary.
#include <cstdint>
#include <cstring>

#include "Internal.h"

namespace msc {
namespace {

constexpr int kMaxEntries = 16;         // Bits in a mask.
constexpr int kMaxKeywordLength = 24;   // "upnp:originalTrackNumber".
constexpr int kMaxByteKinds = 48;       // Distinct folded bytes of one table's keywords, plus one.

class KeywordIndex {
public:
    // False when the table does not fit the index (too many entries, too long a keyword, too
    // many distinct bytes): Match then walks the table instead.
    bool Build(const TokenEntry *table) {
        table_ = table;
        count_ = 0;
        while (table[count_].id != 0) {
            if (count_ == kMaxEntries) return false;
            size_t length = strlen(table[count_].name);
            if (length > kMaxKeywordLength) return false;
            lengths_[count_] = static_cast<uint8_t>(length);
            if (static_cast<int>(length) > maxLength_) maxLength_ = static_cast<int>(length);
            ++count_;
        }
        // Kind 0 stands for every byte that no keyword holds; each folded byte that one does gets a
        // kind of its own, shared by its upper-case form.
        int kinds = 1;
        for (int e = 0; e < count_; ++e) {
            for (int i = 0; i < lengths_[e]; ++i) {
                unsigned char c = FoldAscii(static_cast<unsigned char>(table[e].name[i]));
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
                unsigned char c = FoldAscii(static_cast<unsigned char>(table[e].name[i]));
                accept_[i][kindOf_[c]] = static_cast<uint16_t>(accept_[i][kindOf_[c]] | (1u << e));
            }
        }
        return true;
    }

    const TokenEntry *Match(const char *at) const {
        uint32_t candidates = AllEntries();
        for (int i = 0; i < maxLength_; ++i) {
            unsigned char c = static_cast<unsigned char>(at[i]);
            if (c == '\0') break;  // The text ended: every keyword it began still matches.
            candidates &= accept_[i][kindOf_[c]];
            if ((candidates & longer_[i + 1]) == 0) break;  // Nothing left to compare.
        }
        if (candidates == 0) return nullptr;
        int best = __builtin_ctz(candidates);
        candidates &= candidates - 1;
        // Of several matches the first wins, unless a later one extends its keyword ("<=" over
        // "<"); only the operator tables have such pairs.
        while (candidates != 0) {
            int next = __builtin_ctz(candidates);
            candidates &= candidates - 1;
            if (lengths_[next] > lengths_[best] &&
                strncmp(table_[next].name, table_[best].name, lengths_[best]) == 0) {
                best = next;
            }
        }
        return &table_[best];
    }

private:
    uint32_t AllEntries() const { return (1u << count_) - 1; }

    const TokenEntry *table_ = nullptr;
    int count_ = 0;
    int maxLength_ = 0;
    uint8_t lengths_[kMaxEntries] = {};
    uint8_t kindOf_[256] = {};
    uint16_t accept_[kMaxKeywordLength][kMaxByteKinds] = {};
    uint16_t longer_[kMaxKeywordLength + 1] = {};
};

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

struct Vocabularies {
    KeywordIndex indexes[4];
    bool built[4];
    const TokenEntry *tables[4] = {g_PropertyName, g_LogOpName, g_BinOpName, g_ExistOpName};
    Vocabularies() {
        for (int v = 0; v < 4; ++v) built[v] = indexes[v].Build(tables[v]);
    }
};

}  // namespace

const TokenEntry *MatchKeyword(Vocabulary vocabulary, const char *at) {
    // Built once, on the first lookup of the process; the initialisation is thread-safe.
    static const Vocabularies vocabularies;
    int v = static_cast<int>(vocabulary);
    if (vocabularies.built[v]) return vocabularies.indexes[v].Match(at);
    return WalkTable(vocabularies.tables[v], at);
}

}  // namespace msc
