// The standard-grammar parser behind Parse_searchExpEx(SEARCH_PARSE_STANDARD): the UPnP
// ContentDirectory search grammar, with "and" binding tighter than "or", parentheses kept as
// groups, whole-token keywords, decoded quoted values and an error record that says where and
// why a parse stopped; with SEARCH_PARSE_LENIENT, the repairs of a text it refuses (ParseStandard,
// RepairedValue). It writes nothing to standard output or standard error.
//
//   criteria   = blanks [ "*" | orList ] blanks
//   orList     = andList *( "or" andList )
//   andList    = primary *( "and" primary )
//   primary    = "(" orList ")" | comparison
//   comparison = property relOp value | property wordOp value | property "exists" bool
//   property   = name [ "[" "@" name blanks "=" blanks quoted "]" ]
//
// Properties. A built-in name (g_PropertyName, any letter case) gives its id; else a name that
// the host listed (Parse_searchExpWith), byte for byte but for the blanks around the filter's
// "=" and the escapes of its value, gives the host's id; else PROP_UNKNOWN or a failure.
//
// Tree shape. Both lists are built right-leaning, as the classic parser builds its and/or
// chains: `a and b and c` is AND(a, AND(b, c)) and `a or b and c` is OR(a, AND(b, c)); an
// and-list that is not the last operand of an or-list is the left operand of its OR node, one
// level down: `a and b or c` is OR(AND(a, b), c). Every walker of the library loops along right
// operands and recurses into left ones, so a list of any length costs each walker one frame per
// level of and-list, and only parentheses add levels. Written flat as SQL, where AND also binds
// tighter than OR, these trees keep their meaning without added parentheses.
//
// Depth: the parser recurses once per group (two frames: the group's or-list and its primary),
// and groups nest at most MSC_MAX_NESTING deep, which bounds the recursion of every walker too.
// Lists cost no recursion: each operand hangs on the right of the node before it in a loop.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Lexer.h"

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

// The closing quote of the quoted text that opens at 'open', or last + 1 when there is none:
// only \" and \\ are escapes, a backslash before any other byte stands for itself.
Pos FindClosingQuote(const char *text, Pos open, Pos last) {
    Pos scan = open + 1;
    for (; scan <= last && text[scan] != '"'; ++scan) {
        if (text[scan] == '\\' && scan + 1 <= last && (text[scan + 1] == '"' || text[scan + 1] == '\\')) ++scan;
    }
    return scan;
}

// True when the quote at text[end - 1] closes a value in a client's own way: the text ends
// there, or a blank or a closing parenthesis follows.
bool EndsValue(const char *text, Pos end, Pos last) {
    return end > last || Is(kBlank, text[end]) || text[end] == ')';
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
// whole one follows: a '[' that begins no well-formed filter ends the name before it.
PropertyName ScanPropertyName(const char *text, Pos pos, Pos last) {
    auto run = [text, last](uint16_t byteClass, Pos from) {
        Pos end = from;
        while (end <= last && Is(byteClass, text[end])) ++end;
        return end;
    };
    PropertyName name = {{pos, run(kName, pos)}, {0, 0}, {0, 0}, 0};
    name.end = name.head.end;
    Pos at = name.head.end;
    if (at > last || text[at] != '[' || at + 1 > last || text[at + 1] != '@') return name;
    Token attribute = {at + 1, run(kName, at + 1)};
    if (attribute.size() < 2) return name;
    at = run(kBlank, attribute.end);
    if (at > last || text[at] != '=') return name;
    at = run(kBlank, at + 1);
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

class StandardParser : public Lexer {
public:
    StandardParser(const char *text, Pos last, unsigned options, bool repair, const TokenEntry *hostProperties,
                   Arena *arena)
        : Lexer(text, kDecodeEscapes | kTightOperators | kAndBeforeOr | kQuiet |
                          ((options & SEARCH_PARSE_KEEP_UNKNOWN) != 0 ? unsigned{kKeepUnknown} : 0u) |
                          (repair ? unsigned{kRepair} : 0u),
                arena),
          last_(last),
          hostProperties_(hostProperties) {}

    bool ParseCriteria(Pos pos, ParseTreeNode **root);

    // What a parse with kRepair repaired.
    SearchParseRepairs repairs() const { return repairs_; }

private:
    bool AtEnd(Pos pos) const { return pos > last_; }
    Pos SkipBlanks(Pos pos) const { return Lexer::SkipBlanks(pos, last_); }
    Token Run(uint16_t byteClass, Pos pos) const { return Lexer::Run(byteClass, pos, last_); }

    // The logical keyword that is the whole name at 'pos' (its end to *end), or nullptr.
    const TokenEntry *LogicalAt(Pos pos, Pos *end) const {
        Token name = Run(kName, pos);
        *end = name.end;
        return Keyword<KeywordMatch::kWhole>(Vocabulary::kLogical, name);
    }

    bool ParseOrList(Pos *pos, ParseTreeNode **slot, int nesting);
    bool ParsePrimary(Pos *pos, ParseTreeNode **slot, int nesting);
    bool ParseComparison(Pos *pos, ParseTreeNode **slot, int nesting);
    bool ParseOperator(Pos *pos, int *opId);
    bool ParseValue(Pos *pos, int opId, bool identifier, int nesting, ParseTreeNode **value);
    bool RepairedValue(Pos at, int nesting, Token *text, Pos *end);
    bool Finish(Pos pos);

    // Notes a repair of the kind 'bit' at 'pos'. The parse reads the text in order and adds what
    // the end lacks last, so the first repair noted is the first in the text.
    void Repair(unsigned bit, Pos pos) {
        if (repairs_.repairs == 0) repairs_.offset = pos > INT32_MAX ? INT32_MAX : static_cast<int>(pos);
        repairs_.repairs |= bit;
    }

    Pos last_;
    const TokenEntry *hostProperties_;
    SearchParseRepairs repairs_ = {0, -1};
};

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

// Makes a logical node with the tree in *slot as its left operand, puts it into *slot, and
// returns the slot of its right operand; nullptr when memory runs out (*slot unchanged).
ParseTreeNode **HangOnLogical(ParseTreeNode **slot, int opId, Arena *arena) {
    ParseTreeNode *node = NewNode(NODE_OPERATOR, arena);
    if (node == nullptr) return nullptr;
    node->opId = opId;
    node->left = *slot;
    *slot = node;
    return &node->right;
}

bool StandardParser::ParseCriteria(Pos pos, ParseTreeNode **root) {
    *root = nullptr;
    pos = SkipBlanks(pos);
    if (AtEnd(pos)) return true;  // Blanks only: no tree, as in the classic grammar.

    if (text_[pos] == '*') {
        // "*" is the whole criteria or nothing: it matches every object, as "1" = "1" does.
        Pos star = pos;
        if (!Finish(pos + 1)) return false;
        ParseTreeNode *one = NewValueLeaf("1", 1, 0, arena_);
        *root = NewComparison(OP_EQ, one, one != nullptr ? NewValueLeaf("1", 1, 0, arena_) : nullptr);
        return *root != nullptr || Fail(SEARCH_PARSE_OUT_OF_MEMORY, star);
    }

    if (!ParseOrList(&pos, root, 0)) return false;
    return Finish(pos);
}

// What may follow a complete criteria: blanks only. A closing parenthesis there has no opening
// one; anything else is text that the grammar cannot join to the expression before it.
bool StandardParser::Finish(Pos pos) {
    pos = SkipBlanks(pos);
    if (AtEnd(pos)) return true;
    return Fail(text_[pos] == ')' ? SEARCH_PARSE_UNBALANCED_PARENTHESES : SEARCH_PARSE_TRAILING_TEXT,
                pos);
}

// Parses operands joined by "and" and "or" into *slot, and stops before the first thing that
// is neither (the end, a closing parenthesis, or text the caller rejects). On failure what was
// built hangs under *slot, for the caller's root to free.
bool StandardParser::ParseOrList(Pos *pos, ParseTreeNode **slot, int nesting) {
    ParseTreeNode **orSlot = slot;   // Where the current and-list stands.
    ParseTreeNode **andSlot = slot;  // Where the next operand of the and-list goes.
    for (;;) {
        if (!ParsePrimary(pos, andSlot, nesting)) return false;
        Pos at = SkipBlanks(*pos);
        Pos end = at;
        const TokenEntry *keyword = AtEnd(at) ? nullptr : LogicalAt(at, &end);
        if (keyword == nullptr) return true;
        int logical = keyword->id;
        // Under kAndBeforeOr an "or" takes the whole and-list before it as its left operand.
        bool outer = (flags_ & kAndBeforeOr) && logical == OP_OR;
        ParseTreeNode **right = HangOnLogical(outer ? orSlot : andSlot, logical, arena_);
        if (right == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, at);
        andSlot = right;
        if (outer || !(flags_ & kAndBeforeOr)) orSlot = right;
        *pos = end;
    }
}

bool StandardParser::ParsePrimary(Pos *pos, ParseTreeNode **slot, int nesting) {
    Pos at = SkipBlanks(*pos);
    if (AtEnd(at)) return Fail(SEARCH_PARSE_NO_PROPERTY, at);

    if (text_[at] == ')') {
        // Outside every group it closes nothing; inside one, an operand is missing before it.
        return Fail(nesting == 0 ? SEARCH_PARSE_UNBALANCED_PARENTHESES : SEARCH_PARSE_NO_PROPERTY,
                    at);
    }
    if (text_[at] != '(') {
        *pos = at;
        return ParseComparison(pos, slot, nesting);
    }

    if (nesting + 1 > MSC_MAX_NESTING) return Fail(SEARCH_PARSE_TOO_DEEP, at);
    ParseTreeNode *group = NewNode(NODE_GROUP, arena_);
    if (group == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, at);
    *slot = group;
    Pos inner = at + 1;
    if (!ParseOrList(&inner, &group->inner, nesting + 1)) return false;
    Pos close = SkipBlanks(inner);
    if (AtEnd(close)) {
        // A client that leaves parentheses open at the end meant to close them there. Strictly an
        // unclosed group is reported at its opening parenthesis, the byte a reader must fix.
        if (!(flags_ & kRepair)) return Fail(SEARCH_PARSE_UNBALANCED_PARENTHESES, at);
        Repair(SEARCH_REPAIR_CLOSE_PARENTHESES, close);
        *pos = close;
        return true;
    }
    if (text_[close] != ')') return Fail(SEARCH_PARSE_TRAILING_TEXT, close);
    *pos = close + 1;
    return true;
}

// property operator value, at *pos (a non-blank byte), 'nesting' groups deep.
bool StandardParser::ParseComparison(Pos *pos, ParseTreeNode **slot, int nesting) {
    Pos at = *pos;
    if (!Is(kNameStart, text_[at])) return Fail(SEARCH_PARSE_NO_PROPERTY, at);
    Pos end = at;
    int propertyId = ReadPropertyName(text_, at, last_, hostProperties_, &end);
    if (propertyId == 0) return Fail(SEARCH_PARSE_NO_PROPERTY, at);
    if (propertyId == PROP_UNKNOWN && !(flags_ & kKeepUnknown)) return Fail(SEARCH_PARSE_UNKNOWN_PROPERTY, at);

    *pos = end;
    int opId = 0;
    if (!ParseOperator(pos, &opId)) return false;
    bool identifier = opId != OP_EXISTS && (propertyId == PROP_REFID || propertyId == PROP_ID);
    ParseTreeNode *value = nullptr;
    if (!ParseValue(pos, opId, identifier, nesting, &value)) return false;

    ParseTreeNode *property = NewPropertyLeaf(propertyId, static_cast<int>(at), arena_);
    *slot = NewComparison(opId, property, value);
    if (*slot == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, at);
    if (arena_ != nullptr) arena_->NoteComparison(*slot);
    return true;
}

// The operator after a property: under kTightOperators a whole run of relational bytes ("=",
// "!=", "<", "<=", ">", ">="; "==" and "<>" are no operators), else a whole word ("contains",
// "doesNotContain", "derivedFrom", "is", "exists"), without regard to case.
bool StandardParser::ParseOperator(Pos *pos, int *opId) {
    Pos at = SkipBlanks(*pos);
    if (AtEnd(at)) return Fail(SEARCH_PARSE_UNKNOWN_OPERATOR, at);
    bool relational = (flags_ & kTightOperators) && Is(kRelOp, text_[at]);
    Token token = Run(relational ? kRelOp : kName, at);
    const TokenEntry *op = Keyword<KeywordMatch::kWhole>(Vocabulary::kBinary, token);
    if (op == nullptr) op = Keyword<KeywordMatch::kWhole>(Vocabulary::kExists, token);
    // The grammar's own operators, which no exported table lists (the classic grammar never
    // reads them): a walk of their short table, after the indexed vocabularies.
    if (op == nullptr && !token.empty()) op = FindFoldedFrom(kStandardOpName, text_ + token.first, token.size());
    if (op == nullptr) return Fail(SEARCH_PARSE_UNKNOWN_OPERATOR, at);
    *opId = op->id;
    *pos = token.end;
    return true;
}

// The value after an operator: a quoted text with \" and \\ decoded, or one unquoted word.
// After "exists" it must read true or false (quoted or not, in any case) and is stored as
// "true" or "false".
bool StandardParser::ParseValue(Pos *pos, int opId, bool identifier, int nesting, ParseTreeNode **value) {
    Pos at = SkipBlanks(*pos);
    if (AtEnd(at)) return Fail(SEARCH_PARSE_MISSING_VALUE, at);

    Token text;
    if ((flags_ & kRepair) && RepairedValue(at, nesting, &text, pos)) {
        // A client's way of quoting, read as the quoted value it stands for.
    } else if (text_[at] == '"') {
        Pos scan = FindClosingQuote(text_, at, last_);
        if (AtEnd(scan)) return Fail(SEARCH_PARSE_UNTERMINATED_QUOTE, at);
        text = {at + 1, scan};
        *pos = scan + 1;
    } else {
        text = Run(kWord, at);
        // A bare "and" or "or" here means the value was left out, not that it reads "and".
        if (text.empty() || Keyword<KeywordMatch::kWhole>(Vocabulary::kLogical, text) != nullptr) {
            return Fail(SEARCH_PARSE_MISSING_VALUE, at);
        }
        *pos = text.end;
    }

    const char *boolean = nullptr;
    if (opId == OP_EXISTS) {
        if (EqualsFolded(text_ + text.first, text.size(), "true")) boolean = "true";
        else if (EqualsFolded(text_ + text.first, text.size(), "false")) boolean = "false";
        else return Fail(SEARCH_PARSE_MISSING_VALUE, at);
    }
    *value = ValueLeaf(text, identifier, boolean);
    return *value != nullptr || Fail(SEARCH_PARSE_OUT_OF_MEMORY, at);
}

// The repairs of a value at 'at', 'nesting' groups deep: its text into *text and the byte after
// it into *end; false where the text is read as the strict grammar reads it. Each repair is made
// only where the strict grammar fails at that very byte, so that a text it accepts never meets one:
//   'Dark moon'        single quotes; the strict grammar has no value that begins with one.
//   ""Amplifier""      two or three quotes; strictly the empty value "" and then text that no
//                      "and" or "or" joins to it (hence not ""and).
//   "2024-09-12        a quote that the text's end leaves open, closed at the very end.
bool StandardParser::RepairedValue(Pos at, int nesting, Token *text, Pos *end) {
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
        Pos word = Run(kName, after).end;
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

}  // namespace

int ReadPropertyName(const char *text, Pos at, Pos last, const TokenEntry *hostProperties, Pos *end) {
    PropertyName scanned = ScanPropertyName(text, at, last);
    *end = scanned.end;
    size_t length = static_cast<size_t>(scanned.end - at);
    // No logical keyword is a property name: the property look-up, which settles nearly every
    // name at once, goes first.
    if (const TokenEntry *property = FindKeyword(Vocabulary::kProperty, KeywordMatch::kWhole, text + at, length)) {
        return property->id;
    }
    if (FindKeyword(Vocabulary::kLogical, KeywordMatch::kWhole, text + at, length) != nullptr) return 0;
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
                  const TokenEntry *hostProperties, ParseFailure *failure, Arena *arena,
                  SearchParseRepairs *repairs) {
    Pos from = first < 0 ? 0 : first;
    Pos to = last;
    // The criteria is a C string: it ends at its NUL even where the range reaches further, and
    // the parser never reads past that NUL.
    if (from <= to) {
        const void *nul = memchr(criteria + from, '\0', static_cast<size_t>(to - from + 1));
        if (nul != nullptr) to = static_cast<const char *>(nul) - criteria - 1;
    }
    Arena::NotesMark notes = arena != nullptr ? arena->MarkNotes() : Arena::NotesMark{};
    StandardParser parser(criteria, to, options, /*repair=*/false, hostProperties, arena);
    ParseTreeNode *root = nullptr;
    bool ok = parser.ParseCriteria(from, &root);
    ParseFailure strict = parser.failure();
    SearchParseRepairs made = {0, -1};
    // A text that fails is read once more with the repairs. So a text that the strict grammar
    // accepts keeps its tree and costs nothing more, and one that no repair saves keeps the strict
    // grammar's error; hostile texts cost two linear reads at most.
    if (!ok && (options & SEARCH_PARSE_LENIENT) != 0 && strict.code != SEARCH_PARSE_OUT_OF_MEMORY) {
        FreeTree(root, arena);
        root = nullptr;
        if (arena != nullptr) arena->ForgetNotesSince(notes);
        StandardParser lenient(criteria, to, options, /*repair=*/true, hostProperties, arena);
        ok = lenient.ParseCriteria(from, &root);
        if (ok) made = lenient.repairs();
        // Memory that runs out is no verdict on the text: the host learns that, not a syntax error.
        if (lenient.failure().code == SEARCH_PARSE_OUT_OF_MEMORY) strict = lenient.failure();
    }
    if (failure != nullptr) *failure = ok ? ParseFailure{SEARCH_PARSE_OK, -1} : strict;
    if (repairs != nullptr) *repairs = made;
    return HandOverTree(ok, root, tree, arena);
}

}  // namespace msc
