// The one keyword table of both grammars, built from the texts of the exported name tables.
#ifndef MSC_KEYWORDS_H
#define MSC_KEYWORDS_H

#include <cstddef>

#include "mysearchcriteria.h"

namespace msc {

// The exported tables the parsers read their vocabulary from.
enum class Vocabulary { kProperty = 0, kLogical = 1, kBinary = 2, kExists = 3 };

// How a keyword matches the text at a token.
enum class KeywordMatch {
    // The token is the whole keyword, ASCII letters folded ("dc:title" but not "dc:titles").
    kWhole,
    // The text begins with the keyword, or ends at its NUL inside it, read past the token and the
    // range alike ("order" is "or", a text ending in "upnp:a" is "upnp:actor"); of several
    // matches the first in table order, unless a later one extends it ("<=" over "<").
    kPrefix,
};

// The entry of 'vocabulary' that matches the text at 'at' whose token is at[0..length-1]
// (length 0: no token known, which only a prefix match can use); nullptr when none does.
const TokenEntry *FindKeyword(Vocabulary vocabulary, KeywordMatch match, const char *at,
                              size_t length);

// True when text[0..length-1] is 'word' with ASCII letters folded.
bool EqualsFolded(const char *text, size_t length, const char *word);

}  // namespace msc

#endif  // MSC_KEYWORDS_H
