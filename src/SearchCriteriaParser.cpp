// The search criteria parser's entry points: the classic grammar into a tree, the extended
// entries that choose a grammar, and the parse error messages.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ClassicParser.h"
#include "TreeBuilder.h"

namespace msc {
namespace {

template <bool kInArena>
int ParseClassicIn(ParseTreeNode **tree, const char *criteria, int first, int last, bool quiet,
                   ParseFailure *failure, Arena *arena, ParseNotes *notes) {
    Pos from = first < 0 ? 0 : first;
    ClassicParser<TreeBuilder<kInArena>> parser(criteria, quiet, arena, TreeBuilder<kInArena>(arena, notes));
    ParseTreeNode *root = nullptr;
    bool ok = parser.ParseExpression(from, last, &root, 0);
    if (failure != nullptr) *failure = parser.failure();
    if (ok && tree != nullptr) {
        *tree = root;  // The usual end, without a call.
        return 0;
    }
    return HandOverTree(ok, root, tree, arena);
}

}  // namespace

int ParseClassic(ParseTreeNode **tree, const char *criteria, int first, int last, bool quiet,
                 ParseFailure *failure, Arena *arena, ParseNotes *notes) {
    if (arena != nullptr) return ParseClassicIn<true>(tree, criteria, first, last, quiet, failure, arena, notes);
    return ParseClassicIn<false>(tree, criteria, first, last, quiet, failure, nullptr, nullptr);
}

namespace {

// Both extended entry points; they call this rather than each other, so that no call goes
// through the library's symbol table.
MSC_ALWAYS_INLINE inline int ParseExtended(ParseTreeNode **tree, const char *criteria, int first, int last, unsigned options,
                                            const TokenEntry *hostProperties, SearchParseError *error,
                                            Arena *arena = nullptr, ParseNotes *notes = nullptr,
                                            SearchParseRepairs *repairs = nullptr) {
    if (tree != nullptr) *tree = nullptr;
    if (repairs != nullptr) *repairs = {0, -1};
    ParseFailure failure = {SEARCH_PARSE_INVALID_ARGUMENT, first};
    int result = 1;
    if (criteria != nullptr && options == 0) {
        result = ParseClassic(tree, criteria, first, last, /*quiet=*/true, &failure, arena, notes);
    } else if (criteria != nullptr && IsStandardGrammar(options)) {
        result = ParseStandard(tree, criteria, first, last, options, hostProperties, &failure, arena, notes, repairs);
    }
    if (error != nullptr) *error = {failure.code, result == 0 ? -1 : failure.offset};
    return result;
}

}  // namespace

int ParseWithConfig(ParseTreeNode **tree, const char *criteria, int first, int last,
                    const SearchParseConfig *config, SearchParseError *error, Arena *arena, ParseNotes *notes,
                    SearchParseRepairs *repairs) {
    // A host table that the parser could misread is refused whole, before any criteria is read.
    if (config == nullptr || !IsValidHostTable(config->hostProperties)) {
        if (tree != nullptr) *tree = nullptr;
        if (error != nullptr) *error = {SEARCH_PARSE_INVALID_ARGUMENT, first};
        if (repairs != nullptr) *repairs = {0, -1};
        return 1;
    }
    return ParseExtended(tree, criteria, first, last, config->options, config->hostProperties, error, arena, notes,
                         repairs);
}

}  // namespace msc

extern "C" {

int Parse_searchExp(ParseTreeNode **tree, const char *criteria, int first, int last) {
    if (tree != nullptr) *tree = nullptr;
    if (criteria == nullptr) return 1;
    return msc::ParseClassic(tree, criteria, first, last, /*quiet=*/false, nullptr, nullptr, nullptr);
}

int Parse_searchExpEx(ParseTreeNode **tree, const char *criteria, int first, int last,
                      unsigned options, SearchParseError *error) {
    return msc::ParseExtended(tree, criteria, first, last, options, nullptr, error);
}

int Parse_searchExpWith(ParseTreeNode **tree, const char *criteria, int first, int last,
                        const SearchParseConfig *config, SearchParseError *error) {
    return msc::ParseWithConfig(tree, criteria, first, last, config, error, nullptr, nullptr, nullptr);
}

int Parse_searchExpRepaired(ParseTreeNode **tree, const char *criteria, int first, int last,
                            const SearchParseConfig *config, SearchParseError *error, SearchParseRepairs *repairs) {
    return msc::ParseWithConfig(tree, criteria, first, last, config, error, nullptr, nullptr, repairs);
}

const char *SearchParseErrorMessage(int code) {
    static const char *const kMessages[] = {
        "no error",                                   // SEARCH_PARSE_OK
        "expected a property",                        // SEARCH_PARSE_NO_PROPERTY
        "unknown property",                           // SEARCH_PARSE_UNKNOWN_PROPERTY
        "expected an operator or a logical keyword",  // SEARCH_PARSE_UNKNOWN_OPERATOR
        "missing value after the operator",           // SEARCH_PARSE_MISSING_VALUE
        "quoted value without its closing quote",     // SEARCH_PARSE_UNTERMINATED_QUOTE
        "unbalanced parentheses",                     // SEARCH_PARSE_UNBALANCED_PARENTHESES
        "unexpected text after the expression",       // SEARCH_PARSE_TRAILING_TEXT
        "nested too deeply",                          // SEARCH_PARSE_TOO_DEEP
        "out of memory",                              // SEARCH_PARSE_OUT_OF_MEMORY
        "invalid argument or option",                 // SEARCH_PARSE_INVALID_ARGUMENT
    };
    static_assert(sizeof kMessages / sizeof kMessages[0] == SEARCH_PARSE_INVALID_ARGUMENT + 1, "a message for every code");
    return msc::MessageOf(kMessages, code, "unknown error");
}

}  // extern "C"
