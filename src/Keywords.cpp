// The keyword table: the rules of a lookup as plain walks of the tables, and the index built
// from what they give when the library loads.
#include "Keywords.h"

#include <cstring>

#include "Lexer.h"

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

// The classic prefix rule in one table: of the keywords that the text begins with, or that it
// ends inside at its NUL, the first in table order, unless a later one extends it.
const TokenEntry *FindKeywordByPrefix(const TokenEntry *table, const char *at) {
    const TokenEntry *best = nullptr;
    size_t bestLength = 0;
    for (const TokenEntry *entry = table; entry->id != 0; ++entry) {
        const char *name = entry->name;
        size_t i = 0;
        while (name[i] != '\0' && at[i] != '\0' &&
               FoldAscii(static_cast<unsigned char>(at[i])) == FoldAscii(static_cast<unsigned char>(name[i]))) {
            ++i;
        }
        if (name[i] != '\0' && at[i] != '\0') continue;
        size_t length = strlen(name);
        if (best == nullptr || (length > bestLength && strncmp(name, best->name, bestLength) == 0)) {
            best = entry;
            bestLength = length;
        }
    }
    return best;
}

// The first entry of a table whose keyword is at[0..length-1], ASCII letters without regard to
// case; nullptr when none is.
const TokenEntry *FindWhole(const TokenEntry *table, const char *at, size_t length) {
    for (const TokenEntry *entry = table; entry->id != 0; ++entry) {
        if (EqualsFolded(at, length, entry->name)) return entry;
    }
    return nullptr;
}

// The lookup in each table of the vocabulary in turn: the rules that the index keeps.
const TokenEntry *FindInTables(Vocabulary vocabulary, KeywordMatch match, const char *at, size_t length) {
    const Members &members = kMembers[static_cast<int>(vocabulary)];
    for (int m = 0; m < members.count; ++m) {
        const TokenEntry *table = kTableOf[static_cast<int>(members.tables[m])];
        const TokenEntry *found =
            match == KeywordMatch::kWhole ? FindWhole(table, at, length) : FindKeywordByPrefix(table, at);
        if (found != nullptr) return found;
    }
    return nullptr;
}

// What the tables give for a keyword's first 'length' bytes: a lookup of them whole, followed by
// 'parting' (a byte that no keyword holds), and followed by the NUL.
KeywordIndex::Ends EndsOf(Vocabulary vocabulary, const char *name, size_t length, char parting) {
    char text[KeywordIndex::kLongestKeyword + 2];
    memcpy(text, name, length);
    text[length] = parting;
    text[length + 1] = '\0';
    KeywordIndex::Ends ends;
    ends.whole = FindInTables(vocabulary, KeywordMatch::kWhole, text, length);
    ends.parted = FindInTables(vocabulary, KeywordMatch::kPrefix, text, length);
    text[length] = '\0';
    ends.nul = FindInTables(vocabulary, KeywordMatch::kPrefix, text, length);
    return ends;
}

}  // namespace

// Built when the library loads, before any call can reach it: the tables are constant data,
// initialised before any constructor runs.
KeywordIndex::KeywordIndex() {
    for (auto &vocabulary : buckets) {
        for (Bucket &bucket : vocabulary) bucket.length = kNoKeyword;
    }
    // Each folded byte of the keywords gets a column of the automata. An empty keyword, which
    // a whole empty token would be, leaves every lookup to the tables.
    continues[0] = true;
    size_t classes = 1;
    bool fits = true;
    for (const TokenEntry *table : kTableOf) {
        for (const TokenEntry *entry = table; entry->id != 0; ++entry) {
            fits = fits && entry->name[0] != '\0' && strlen(entry->name) <= kLongestKeyword;
            for (const char *byte = entry->name; *byte != '\0'; ++byte) {
                unsigned char folded = FoldAscii(static_cast<unsigned char>(*byte));
                unsigned char other = folded >= 'a' && folded <= 'z' ? folded - 'a' + 'A' : folded;
                continues[folded] = continues[other] = true;
                if (classOf[folded] != 0) continue;
                if (classes == kClasses) {
                    fits = false;
                    continue;
                }
                classOf[folded] = classOf[other] = static_cast<uint8_t>(classes++);
            }
        }
    }
    // Any byte that no keyword holds parts a text from every keyword alike.
    int parting = 1;
    while (parting < 256 && continues[parting]) ++parting;
    if (!fits || parting == 256) return;

    int keywords[kVocabularies][kBuckets] = {};
    size_t rows = 0;
    for (int v = 0; v < kVocabularies && fits; ++v) {
        auto vocabulary = static_cast<Vocabulary>(v);
        Automaton &own = automaton[v];
        own.start = rows;
        size_t states = 1;
        fits = rows < kMostStates;
        if (fits) ends[rows] = EndsOf(vocabulary, "", 0, static_cast<char>(parting));
        for (int m = 0; m < kMembers[v].count && fits; ++m) {
            for (const TokenEntry *entry = kTableOf[static_cast<int>(kMembers[v].tables[m])]; entry->id != 0 && fits;
                 ++entry) {
                const char *name = entry->name;
                size_t length = strlen(name);
                if (length > own.longest) own.longest = length;
                size_t state = 0;
                for (size_t i = 0; i < length && fits; ++i) {
                    uint8_t &to = next[own.start + state][classOf[static_cast<unsigned char>(name[i])]];
                    if (to == 0) {
                        fits = states <= UINT8_MAX && own.start + states < kMostStates;
                        if (!fits) break;
                        to = static_cast<uint8_t>(states++);
                        ends[own.start + to] = EndsOf(vocabulary, name, i + 1, static_cast<char>(parting));
                    }
                    state = to;
                }
                if (length == 0) continue;
                // Each bucket's fast path: its first keyword of 16 bytes at most (its words hold
                // them all) that a whole lookup and a lookup followed by a byte that no keyword
                // holds give alike (any such byte gives the same, since the prefix rule compares
                // it with no keyword's byte).
                TokenWords words = TokenWords::Of(name, length);
                size_t b = BucketOf(words);
                ++keywords[v][b];
                if (buckets[v][b].entry != nullptr && length <= TokenWords::kMostBytes) continue;
                Ends found = EndsOf(vocabulary, name, length, static_cast<char>(parting));
                if (found.parted == nullptr || found.parted != found.whole) continue;
                if (length <= TokenWords::kMostBytes) {
                    char cases[TokenWords::kMostBytes];
                    for (size_t i = 0; i < length; ++i) {
                        unsigned char folded = FoldAscii(static_cast<unsigned char>(name[i]));
                        cases[i] = folded >= 'a' && folded <= 'z' ? 'a' - 'A' : 0;
                    }
                    buckets[v][b] = {words, found.whole, length, TokenWords::Of(cases, length), false};
                } else {
                    for (LongKeyword &slot : longs[v]) {
                        if (slot.entry == nullptr) {
                            slot = {name, length, found.whole};
                            longLengths[v] |= uint64_t{1} << length;
                            break;
                        }
                    }
                }
            }
        }
        rows += states;
    }
    automata = fits;
    if (!continues[static_cast<unsigned char>(' ')]) IndexSpellings();
    // A bucket is settled when the vocabulary's tables put no keyword into it, or only the one
    // it names (counted for every vocabulary only where the automata hold them all).
    for (int v = 0; v < kVocabularies; ++v) {
        for (size_t b = 0; b < kBuckets; ++b) {
            buckets[v][b].settled =
                automata && (keywords[v][b] == 0 || (keywords[v][b] == 1 && buckets[v][b].entry != nullptr));
        }
    }
}

void KeywordIndex::IndexSpellings() {
    // The bytes that a classic token holds as they are: with none of the others, a keyword
    // followed by a space is a whole token.
    constexpr uint16_t kSpecial = kTokenEnd | kQuote | kEscape | kOpen | kClose;
    bool shared[kVocabularies][kSpelledSlots] = {};
    for (int v = 0; v < kVocabularies; ++v) {
        auto vocabulary = static_cast<Vocabulary>(v);
        // The bytes that pick a slot, up to the last of them.
        unsigned char key[8] = {0xFF, 0xFF};
        size_t keyEnd = 2;
        if (vocabulary == Vocabulary::kProperty) {
            key[1] = 0;
            key[5] = key[6] = 0xFF;
            keyEnd = 7;
        }
        memcpy(&spelledKeys[v], key, sizeof key);
        for (int m = 0; m < kMembers[v].count; ++m) {
            for (const TokenEntry *entry = kTableOf[static_cast<int>(kMembers[v].tables[m])]; entry->id != 0; ++entry) {
                const char *name = entry->name;
                size_t length = strlen(name);
                bool plain = length > 0 && length <= TokenWords::kMostBytes && length + 1 >= keyEnd;
                for (size_t i = 0; i < length && plain; ++i) plain = !Is(kSpecial, name[i]);
                if (!plain) continue;
                // The keyword, a space and NULs, as a text that a scan reads words of; the mask
                // keeps the keyword's bytes of its first word.
                char text[TokenWords::kMostBytes + 8] = {};
                char bytes[8] = {};
                memcpy(text, name, length);
                text[length] = ' ';
                memset(bytes, 0xFF, length < 8 ? length : 8);
                uint64_t mask = Load<uint64_t>(bytes);
                Spelled found = {Load<uint64_t>(text) & mask, mask, length > 8 ? Load<uint64_t>(text + length - 8) : 0,
                                 FindInTables(vocabulary, KeywordMatch::kPrefix, text, length), length};
                size_t s = static_cast<size_t>(SpelledHash(vocabulary, Load<uint64_t>(text)) >> 58);
                Spelled &slot = spelled[v][s];
                if (shared[v][s] || found.entry == nullptr) continue;
                if (slot.entry != nullptr) {
                    slot = Spelled{};
                    shared[v][s] = true;
                    continue;
                }
                slot = found;
            }
        }
    }
}

const KeywordIndex kKeywordIndex;

namespace {

// The vocabulary's automaton over the text at 'at': for a whole match its token at[0..length-1],
// for a prefix match up to the byte where the text parts from every keyword, never past its NUL.
MSC_ALWAYS_INLINE inline const TokenEntry *Walk(const KeywordIndex &index, Vocabulary vocabulary, KeywordMatch match,
                                                const char *at, size_t length) {
    const KeywordIndex::Automaton &automaton = index.automaton[static_cast<int>(vocabulary)];
    const uint8_t(*rows)[KeywordIndex::kClasses] = index.next + automaton.start;
    const uint8_t *row = rows[0];
    // The state's index from its row, once the text parts from every keyword.
    auto ends = [&] { return index.ends[static_cast<size_t>(row - index.next[0]) / KeywordIndex::kClasses]; };
    if (match == KeywordMatch::kWhole) {
        if (length > automaton.longest) return nullptr;
        for (const char *end = at + length; at != end; ++at) {
            size_t to = row[index.classOf[static_cast<unsigned char>(*at)]];
            if (to == 0) return nullptr;
            row = rows[to];
        }
        return ends().whole;
    }
    for (;; ++at) {
        auto c = static_cast<unsigned char>(*at);
        size_t to = row[index.classOf[c]];
        if (to == 0) return c == '\0' ? ends().nul : ends().parted;
        row = rows[to];
    }
}

// A token over 16 bytes of a long keyword's length: the keywords that the buckets leave out,
// compared whole, then the walk. Out of line, so that the walk of any other token saves no
// register for memcmp.
MSC_NOINLINE const TokenEntry *FindLongKeyword(const KeywordIndex &index, Vocabulary vocabulary, KeywordMatch match,
                                               const char *at, size_t length) {
    for (const KeywordIndex::LongKeyword &keyword : index.longs[static_cast<int>(vocabulary)]) {
        if (keyword.entry == nullptr) break;  // They fill the slots in order.
        if (keyword.length == length && memcmp(at, keyword.name, length) == 0 && TakesWholeKeyword(match, at, length)) {
            return keyword.entry;
        }
    }
    return Walk(index, vocabulary, match, at, length);
}

}  // namespace

const TokenEntry *FindKeywordSlowly(Vocabulary vocabulary, KeywordMatch match, const char *at,
                                    size_t length) {
    const KeywordIndex &index = kKeywordIndex;
    if (!index.automata) return FindInTables(vocabulary, match, at, length);
    if (length > TokenWords::kMostBytes) {
        // Only a token of a long keyword's length may be one ("microsoft:artistAlbumArtist" is none).
        if (length < 64 && (index.longLengths[static_cast<int>(vocabulary)] >> length & 1) != 0) {
            return FindLongKeyword(index, vocabulary, match, at, length);
        }
        return Walk(index, vocabulary, match, at, length);
    }
    // The bucket's keyword in other letter cases ("derivedFrom", "AND").
    TokenWords words = TokenWords::Of(at, length);
    const KeywordIndex::Bucket &bucket = index.BucketAt(vocabulary, words);
    if (bucket.length == length && words.SameBut(bucket.words, bucket.cases) && TakesWholeKeyword(match, at, length)) {
        return bucket.entry;
    }
    return Walk(index, vocabulary, match, at, length);
}

}  // namespace msc
