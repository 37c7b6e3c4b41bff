// The standard grammar's parser (StandardParser.h): its token reading, the property names with
// their filters and the host's names, the repairs, and the parse into a tree.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "StandardParser.h"
#include "TreeBuilder.h"

namespace msc {
namespace {

// A property name in text[..last]: 'head' the name up to an attribute filter ("upnp:artist",
// "res@duration"), and for a filter [@role="AlbumArtist"] its attribute ("@role") and the bytes
// between its quotes, escapes undecoded; 'end' is the byte after the name.
struct PropertyName {
    Token head;
    Token attribute;
    Token value;
    Pos end;
};

}  // namespace

Pos FindClosingQuoteFrom(const char *text, Pos stop, Pos last, bool *escaped) {
    for (;;) {
        if (stop > last || text[stop] == '\0') return last + 1;
        if (text[stop] == '"') return stop;
        Pos next = stop + 1;
        if (text[stop] == '\\') {
            if (escaped != nullptr) *escaped = true;
            if (next <= last && (text[next] == '"' || text[next] == '\\')) ++next;
        }
        stop = FindStop<kQuote | kEscape | kRangeEnd>(text, next, last);
    }
}

namespace {

// True when the quote at text[end - 1] closes a value in a client's own way: the text ends
// there, or a blank or a closing parenthesis follows.
bool EndsValue(const char *text, Pos end, Pos last) {
    return end > last || Is(kSpace, text[end]) || text[end] == ')';
}

// The closing quote of a value in single quotes that opens at 'open', or last + 1 when there is
// none: the first single quote that ends a value, so that an apostrophe inside stays a byte of
// the value ('Don't Stop' is the text Don't Stop).
Pos FindClosingSingleQuote(const char *text, Pos open, Pos last) {
    Pos scan = open + 1;
    while (scan <= last && !(text[scan] == '\'' && EndsValue(text, scan + 1, last))) ++scan;
    return scan;
}

// The value that two or three quotes wrap at 'open' (""Amplifier"", """Dark moon"""), into
// *value, and the byte after its closing quotes, into *end: the same number of quotes must close
// it and end the value, and the bytes between are not empty and hold no quote but escaped ones.
// False for anything else, "" followed by a blank among them (an empty value, then more text).
bool FindWrappedValue(const char *text, Pos open, Pos last, Token *value, Pos *end) {
    Pos inside = open;
    while (inside <= last && text[inside] == '"') ++inside;
    Pos quotes = inside - open;
    if ((quotes != 2 && quotes != 3) || EndsValue(text, inside, last)) return false;
    Pos close = FindClosingQuote(text, inside - 1, last);
    Pos after = close + quotes;
    if (after - 1 > last || !EndsValue(text, after, last)) return false;
    for (Pos at = close; at < after; ++at) {
        if (text[at] != '"') return false;
    }
    *value = {inside, close};
    *end = after;
    return true;
}

// The name at 'pos' (whose byte the caller checked to be a name start), with its filter when a
// whole one follows: a '[' that begins no well-formed filter ends the name before it. Inlined, so
// that a parse that meets a name outside the built-in ones neither calls it nor copies its record.
MSC_ALWAYS_INLINE inline PropertyName ScanPropertyName(const char *text, Pos pos, Pos last) {
    auto blanks = [text, last](Pos from) {
        Pos end = from;
        while (end <= last && Is(kSpace, text[end])) ++end;
        return end;
    };
    PropertyName name = {{pos, NameEnd(text, pos, last)}, {0, 0}, {0, 0}, 0};
    name.end = name.head.end;
    Pos at = name.head.end;
    if (at > last || text[at] != '[' || at + 1 > last || text[at + 1] != '@') return name;
    Token attribute = {at + 1, NameEnd(text, at + 1, last)};
    if (attribute.size() < 2) return name;
    at = blanks(attribute.end);
    if (at > last || text[at] != '=') return name;
    at = blanks(at + 1);
    if (at > last || text[at] != '"') return name;
    Pos close = FindClosingQuote(text, at, last);
    if (close + 1 > last || text[close + 1] != ']') return name;
    name.attribute = attribute;
    name.value = {at + 1, close};
    name.end = close + 2;
    return name;
}

// The next byte of a quoted value's bytes text[*pos..end-1] with its escape decoded.
char NextDecoded(const char *text, Pos *pos, Pos end) {
    if (text[*pos] == '\\' && *pos + 1 < end && (text[*pos + 1] == '"' || text[*pos + 1] == '\\')) ++*pos;
    return text[(*pos)++];
}

bool SameToken(const char *a, Token ta, const char *b, Token tb) {
    return ta.size() == tb.size() && memcmp(a + ta.first, b + tb.first, ta.size()) == 0;
}

// Equal names: the same head and attribute bytes and the same decoded value.
bool SameName(const char *a, const PropertyName &na, const char *b, const PropertyName &nb) {
    if (!SameToken(a, na.head, b, nb.head) || !SameToken(a, na.attribute, b, nb.attribute)) return false;
    Pos pa = na.value.first, pb = nb.value.first;
    while (pa < na.value.end && pb < nb.value.end) {
        if (NextDecoded(a, &pa, na.value.end) != NextDecoded(b, &pb, nb.value.end)) return false;
    }
    return pa == na.value.end && pb == nb.value.end;
}

// The scan of a whole host name; false when it is none.
bool ScanHostName(const char *name, PropertyName *scanned) {
    if (name == nullptr || !Is(kNameStart, name[0])) return false;
    Pos last = static_cast<Pos>(strlen(name)) - 1;
    *scanned = ScanPropertyName(name, 0, last);
    return scanned->end == last + 1;
}

// The id of the first host entry with the name 'name' of 'text', or PROP_UNKNOWN. The table is
// short and this runs only for names outside the built-in vocabulary: each entry is scanned here.
int HostPropertyId(const TokenEntry *hostProperties, const char *text, const PropertyName &name) {
    if (hostProperties == nullptr) return PROP_UNKNOWN;
    for (const TokenEntry *entry = hostProperties; entry->id != 0; ++entry) {
        PropertyName host;
        if (ScanHostName(entry->name, &host) && SameName(entry->name, host, text, name)) return entry->id;
    }
    return PROP_UNKNOWN;
}

}  // namespace

// What may follow a complete criteria: blanks only. A closing parenthesis there has no opening
// one; anything else is text that the grammar cannot join to the expression before it.
bool StandardLexer::Finish(Pos pos) {
    pos = SkipBlanks(pos);
    if (AtEnd(pos)) return true;
    return Fail(text_[pos] == ')' ? SEARCH_PARSE_UNBALANCED_PARENTHESES : SEARCH_PARSE_TRAILING_TEXT,
                pos);
}

// The values that ParseValue leaves to this: a repaired one, one after "exists", an unquoted word.
bool StandardLexer::OtherValue(Pos at, int opId, int nesting, Token *text, Pos *pos, const char **literal) {
    if (AtEnd(at)) return Fail(SEARCH_PARSE_MISSING_VALUE, at);
    if ((flags_ & kRepair) && RepairedValue(at, nesting, text, pos)) {
        // A client's way of quoting, read as the quoted value it stands for.
        valueEscaped_ = true;
    } else if (text_[at] == '"') {
        if (!QuotedValue(at, text, pos)) return false;
    } else {
        *text = Run(kWord, at);
        // A bare "and" or "or" here means the value was left out, not that it reads "and"; after
        // "exists", where most unquoted values stand, the test for true or false says so too.
        if (opId != OP_EXISTS &&
            (text->empty() || Keyword<KeywordMatch::kWhole>(Vocabulary::kLogical, *text) != nullptr)) {
            return Fail(SEARCH_PARSE_MISSING_VALUE, at);
        }
        *pos = text->end;
    }

    if (opId == OP_EXISTS) {
        *literal = BooleanLiteral(text_ + text->first, text->size());
        if (*literal == nullptr) return Fail(SEARCH_PARSE_MISSING_VALUE, at);
    }
    return true;
}

// The repairs of a value at 'at', 'nesting' groups deep: its text into *text and the byte after
// it into *end; false where the text is read as the strict grammar reads it. Each repair is made
// only where the strict grammar fails at that very byte, so that a text it accepts never meets one:
//   'Dark moon'        single quotes; the strict grammar has no value that begins with one.
//   ""Amplifier""      two or three quotes; strictly the empty value "" and then text that no
//                      "and" or "or" joins to it (hence not ""and).
//   "2024-09-12        a quote that the text's end leaves open, closed at the very end.
bool StandardLexer::RepairedValue(Pos at, int nesting, Token *text, Pos *end) {
    char quote = text_[at];
    if (quote == '\'') {
        Pos close = FindClosingSingleQuote(text_, at, last_);
        if (!AtEnd(close)) {
            Repair(SEARCH_REPAIR_SINGLE_QUOTES, at);
            *text = {at + 1, close};
            *end = close + 1;
            return true;
        }
    } else if (quote == '"') {
        Pos after = at + 2;
        Pos word = after > last_ ? after : NameEnd(text_, after, last_);
        if (FindWrappedValue(text_, at, last_, text, end) &&
            Keyword<KeywordMatch::kWhole>(Vocabulary::kLogical, {after, word}) == nullptr) {
            Repair(SEARCH_REPAIR_DOUBLED_QUOTES, at);
            return true;
        }
        if (!AtEnd(FindClosingQuote(text_, at, last_))) return false;
    } else {
        return false;
    }
    // Open to the end. Its one meaning is the rest of the text, unless that is empty (a text cut
    // short), ends in a backslash (the closing quote may have been escaped), holds a quote of its
    // kind (several values run together), or, inside a group, holds a closing parenthesis (it may
    // have closed the group, and the quote belonged before it).
    Token rest = {at + 1, last_ + 1};
    const char *bytes = text_ + rest.first;
    if (rest.empty() || text_[last_] == '\\' || memchr(bytes, quote, rest.size()) != nullptr ||
        (nesting > 0 && memchr(bytes, ')', rest.size()) != nullptr)) {
        return false;
    }
    if (quote == '\'') Repair(SEARCH_REPAIR_SINGLE_QUOTES, at);
    Repair(SEARCH_REPAIR_CLOSE_QUOTE, rest.end);
    *text = rest;
    *end = rest.end;
    return true;
}

int ReadPropertyName(const char *text, Pos at, Pos last, const TokenEntry *hostProperties, Pos *end,
                     Pos notBuiltIn) {
    PropertyName scanned = ScanPropertyName(text, at, last);
    *end = scanned.end;
    size_t length = static_cast<size_t>(scanned.end - at);
    // No logical keyword is a property name: the property look-up, which settles nearly every
    // name at once, goes first.
    if (scanned.end != notBuiltIn) {
        if (const TokenEntry *property = FindKeyword(Vocabulary::kProperty, KeywordMatch::kWhole, text + at, length)) {
            return property->id;
        }
    }
    // Nearly every other name is longer than any logical keyword.
    if (MayBeWholeKeyword(Vocabulary::kLogical, length) &&
        FindKeyword(Vocabulary::kLogical, KeywordMatch::kWhole, text + at, length) != nullptr) {
        return 0;
    }
    return HostPropertyId(hostProperties, text, scanned);
}

bool IsValidHostTable(const TokenEntry *hostProperties) {
    if (hostProperties == nullptr) return true;
    for (const TokenEntry *entry = hostProperties; entry->id != 0 || entry->name != nullptr; ++entry) {
        PropertyName scanned;
        if (entry->id < PROP_HOST_FIRST || !ScanHostName(entry->name, &scanned)) return false;
    }
    return true;
}

int ParseStandard(ParseTreeNode **tree, const char *criteria, int first, int last, unsigned options,
                  const TokenEntry *hostProperties, ParseFailure *failure, Arena *arena, ParseNotes *notes,
                  SearchParseRepairs *repairs) {
    Pos from = first < 0 ? 0 : first;
    Pos to = StandardRangeEnd(criteria, from, last);
    // The tree in the arena or on the heap: the builder knows which, as the classic parse's does.
    auto parse = [&](auto builder) {
        using Parser = StandardParser<decltype(builder)>;
        Parser parser(criteria, to, options, /*repair=*/false, hostProperties, arena, builder);
        ParseTreeNode *root = nullptr;
        bool ok = parser.ParseCriteria(from, &root);
        ParseFailure strict = parser.failure();
        SearchParseRepairs made = {0, -1};
        // A text that fails is read once more with the repairs. So a text that the strict grammar
        // accepts keeps its tree and costs nothing more, and one that no repair saves keeps the
        // strict grammar's error; hostile texts cost two linear reads at most.
        if (!ok && (options & SEARCH_PARSE_LENIENT) != 0 && strict.code != SEARCH_PARSE_OUT_OF_MEMORY) {
            FreeTree(root, arena);
            root = nullptr;
            if (notes != nullptr) notes->ForgetAll();
            Parser lenient(criteria, to, options, /*repair=*/true, hostProperties, arena, builder);
            ok = lenient.ParseCriteria(from, &root);
            if (ok) made = lenient.repairs();
            // Memory that runs out is no verdict on the text: the host learns that, not a syntax error.
            if (lenient.failure().code == SEARCH_PARSE_OUT_OF_MEMORY) strict = lenient.failure();
        }
        if (failure != nullptr) *failure = ok ? ParseFailure{SEARCH_PARSE_OK, -1} : strict;
        if (repairs != nullptr) *repairs = made;
        return HandOverTree(ok, root, tree, arena);
    };
    return arena != nullptr ? parse(TreeBuilder<true>(arena, notes)) : parse(TreeBuilder<false>(nullptr, nullptr));
}

}  // namespace msc
