// What the parsers share with the rest of the library; never installed.
#ifndef MSC_INTERNAL_H
#define MSC_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Hints.h"
#include "Memory.h"
#include "TreeNodes.h"
#include "mysearchcriteria.h"

namespace msc {

// The bytes at[0..sizeof(Word)-1] as a Word, wherever they stand.
template <typename Word>
MSC_ALWAYS_INLINE inline Word Load(const char *at) {
    Word word;
    memcpy(&word, at, sizeof word);
    return word;
}

// Folds ASCII letters only. Keywords are ASCII, and a server's locale must not change what a
// client's criteria means, so the folding ignores the locale (the C and UTF-8 locales agree).
inline unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// True when text[0..length-1] is 'word' with ASCII letters folded: the one comparison of keywords
// and of the container rule's "true".
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

// "true" or "false" for text[0..length-1] that reads so in any letter case, else nullptr: the
// one reading of an exists value. The two cases of a letter differ in bit 5 alone, so setting it
// in each byte of the text folds exactly the bytes that folding letters would make one of the
// words' lower-case letters.
inline const char *BooleanLiteral(const char *text, size_t length) {
    constexpr uint32_t kFold = 0x20202020;
    if (length == 4) return (Load<uint32_t>(text) | kFold) == Load<uint32_t>("true") ? "true" : nullptr;
    if (length == 5 && (Load<uint32_t>(text) | kFold) == Load<uint32_t>("fals") && (text[4] | 0x20) == 'e') {
        return "false";
    }
    return nullptr;
}

// The message of a code that indexes 'messages', or 'unknown' for any other code: the library's
// words for its error and problem codes.
template <size_t N>
const char *MessageOf(const char *const (&messages)[N], int code, const char *unknown) {
    return code >= 0 && static_cast<size_t>(code) < N ? messages[code] : unknown;
}

// A property leaf that a parse made, and the offset of its name in the text.
struct PropertyNote {
    int id;
    int offset;
};

// What a parse into an arena notes besides its tree, so that the one call need not walk the tree
// for it: the property leaves with the offsets of their names, in the order the parse makes them
// (text order in both grammars, which is GetPropertyList's walk order). A list that cannot grow
// marks the arena failed.
class ParseNotes {
public:
    explicit ParseNotes(Arena &arena) : arena_(arena) {}
    ParseNotes(const ParseNotes &) = delete;
    ParseNotes &operator=(const ParseNotes &) = delete;

    MSC_ALWAYS_INLINE void NoteProperty(int id, int offset) {
        if (MSC_UNLIKELY(noted_ == capacity_) && !Grow()) return;
        properties_[noted_++] = {id, offset};
    }
    const PropertyNote *properties() const { return properties_; }
    size_t noted() const { return noted_; }

    // A parse whose tree is thrown away leaves no notes behind for the parse that follows it (its
    // memory stays taken until the arena goes).
    void ForgetAll() { noted_ = 0; }

private:
    bool Grow();

    static constexpr size_t kInline = 32;  // Real criteria name a handful of properties.
    Arena &arena_;
    PropertyNote inline_[kInline];
    PropertyNote *properties_ = inline_;
    size_t noted_ = 0;
    size_t capacity_ = kInline;
};

// Why a parse stopped; the offset is the byte where it stopped.
struct ParseFailure {
    SearchParseErrorCode code;
    int offset;
};

// Room that an @id or @refID value text needs at least: its rewritten form is at most "-32768"
// and its NUL.
constexpr size_t kIdentifierRoom = 8;

// Rewrites an identifier value in place into the decimal number of its last "$"-separated part,
// read by the host's myatoll and shifted right by 16 bits with its sign ("A0$8454145" becomes
// "129"). 'text' has room for at least kIdentifierRoom bytes.
void RewriteIdentifier(char *text);

// Ends a parse: hands the tree to *tree on success (or frees it when the caller gave no slot),
// frees what a failed parse built (unless it is in 'arena'); returns the parse result, 0 or 1.
int HandOverTree(bool ok, ParseTreeNode *root, ParseTreeNode **tree, Arena *arena = nullptr);

// True for option bits that choose the standard grammar, with the options it knows. Unknown bits
// are refused rather than ignored, so that a host built against a later header learns that this
// library lacks what it asked for; KEEP_UNKNOWN and LENIENT need STANDARD.
constexpr bool IsStandardGrammar(unsigned options) {
    return (options & SEARCH_PARSE_STANDARD) != 0 &&
           (options & ~(SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN | SEARCH_PARSE_LENIENT)) == 0;
}

// The classic parse behind Parse_searchExp; 'quiet' leaves standard error alone, and *failure
// (when not null) tells why a failed parse stopped. The tree is built in 'arena', or on the heap
// when it is null; a parse into an arena fills 'notes' (not null then).
int ParseClassic(ParseTreeNode **tree, const char *criteria, int first, int last, bool quiet,
                 ParseFailure *failure, Arena *arena, ParseNotes *notes);

// The UPnP ContentDirectory grammar behind Parse_searchExpEx(SEARCH_PARSE_STANDARD); always
// quiet. 'options' may add SEARCH_PARSE_KEEP_UNKNOWN and SEARCH_PARSE_LENIENT; 'hostProperties'
// (or null) is a table that IsValidHostTable accepted. *repairs (when not null) receives what the
// lenient parse repaired.
int ParseStandard(ParseTreeNode **tree, const char *criteria, int first, int last, unsigned options,
                  const TokenEntry *hostProperties, ParseFailure *failure, Arena *arena, ParseNotes *notes,
                  SearchParseRepairs *repairs);

// Parse_searchExpRepaired, building the tree in 'arena' (null: the heap) with its 'notes'.
int ParseWithConfig(ParseTreeNode **tree, const char *criteria, int first, int last,
                    const SearchParseConfig *config, SearchParseError *error, Arena *arena, ParseNotes *notes,
                    SearchParseRepairs *repairs);

// True for a null table, or one whose entries up to {0, NULL} all have an id of at least
// PROP_HOST_FIRST and a name that is a property name of the standard grammar.
bool IsValidHostTable(const TokenEntry *hostProperties);

// The always-true rewrite makes a comparison on a property that the database cannot evaluate
// the comparison of two texts, kConstantText[1] = kConstantText[polarity]: "1" = "1" where it
// must be true, "1" = "0" where false. The container rule makes a @refID condition the false one.
inline constexpr const char *kConstantText[2] = {"0", "1"};
constexpr int kConstantOperator = OP_EQ;

// The polarity of such a comparison, from the logical operators written next to it in its and/or
// list: true beside an AND (it leaves that AND term unchanged), false beside ORs only, and beside
// none (alone in its list) what its enclosing term inherited, true for the whole text.
constexpr int PolarityOfTerm(bool andBeside, bool orBeside, bool inheritedTrue) {
    return andBeside ? 1 : orBeside ? 0 : inheritedTrue ? 1 : 0;
}

// SetAlwayTrueForNonSupportedProperty with new leaves from 'arena' (null: the heap).
int RewriteUnsupported(ParseTreeNode *tree, const TokenEntry *supportedTable, Arena *arena);

// CheckContainerIsSupportRefID on a tree and a container that are not null, without messages and
// with a new text from 'arena' (null: the heap); true when it made a condition false.
bool MakeRefIdConditionFalse(const char *containerId, ParseTreeNode *tree, Arena *arena);

// True when the container rule makes false a @refID condition whose value is the text of
// 'length' bytes at 'value'.
bool RefIdRuleApplies(const char *containerId, const char *value, size_t length);

}  // namespace msc

#endif  // MSC_INTERNAL_H
