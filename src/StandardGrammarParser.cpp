// The standard-grammar parser behind Parse_searchExpEx(SEARCH_PARSE_STANDARD): the UPnP
// ContentDirectory search grammar, with "and" binding tighter than "or", parentheses kept as
// groups, whole-token keywords, decoded quoted values and an error record that says where and
// why a parse stopped. It writes nothing to standard output or standard error.
//
//   criteria   = blanks [ "*" | orList ] blanks
//   orList     = andList *( "or" andList )
//   andList    = primary *( "and" primary )
//   primary    = "(" orList ")" | comparison
//   comparison = property relOp value | property wordOp value | property "exists" bool
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
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Internal.h"

namespace msc {
namespace {

using Pos = int64_t;  // Wider than the caller's int indexes, so that last + 1 never overflows.

// Byte classes, locale-free.
//   blank:     tab, line feed, vertical tab, form feed, carriage return, space (the grammar's
//              wChar). The text ends at its NUL, so NUL needs no class.
//   name:      the bytes of a property name or keyword: A-Z a-z 0-9 _ @ : . -
//   nameStart: the bytes a property name may begin with: A-Z a-z _ @
//   relOp:     = ! < >, the bytes of the relational operators; a run of them is one token.
//   word:      the bytes of an unquoted value such as object.item.audioItem or 2001-10-01: every
//              byte from 0x21 to 0x7E but " ' ( ) \ = < > !, and every byte from 0x80 up (UTF-8).
constexpr uint8_t kBlank = 1 << 0;
constexpr uint8_t kName = 1 << 1;
constexpr uint8_t kNameStart = 1 << 2;
constexpr uint8_t kRelOp = 1 << 3;
constexpr uint8_t kWord = 1 << 4;

constexpr bool IsLetter(unsigned c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

constexpr uint8_t ClassOf(unsigned c) {
    bool blank = (c >= 0x09 && c <= 0x0D) || c == 0x20;
    bool nameStart = IsLetter(c) || c == '_' || c == '@';
    bool name = nameStart || (c >= '0' && c <= '9') || c == ':' || c == '.' || c == '-';
    bool relOp = c == '=' || c == '!' || c == '<' || c == '>';
    bool word = (c >= 0x21 && c <= 0x7E && !relOp && c != '"' && c != '\'' && c != '(' &&
                 c != ')' && c != '\\') ||
                c >= 0x80;
    return static_cast<uint8_t>((blank ? kBlank : 0) | (name ? kName : 0) |
                                (nameStart ? kNameStart : 0) | (relOp ? kRelOp : 0) |
                                (word ? kWord : 0));
}

struct ByteClassTable {
    uint8_t classes[256];
    constexpr ByteClassTable() : classes() {
        for (unsigned c = 0; c < 256; ++c) classes[c] = ClassOf(c);
    }
};
constexpr ByteClassTable kByteClass;

inline bool Is(uint8_t byteClass, char c) {
    return (kByteClass.classes[static_cast<unsigned char>(c)] & byteClass) != 0;
}

// A token: the bytes text[first..end-1].
struct Token {
    Pos first;
    Pos end;
    bool empty() const { return end == first; }
};

enum class Logical { kNone, kAnd, kOr };

class StandardParser {
public:
    StandardParser(const char *text, Pos last, unsigned options)
        : text_(text), last_(last), keepUnknown_((options & SEARCH_PARSE_KEEP_UNKNOWN) != 0) {}

    bool ParseCriteria(Pos pos, ParseTreeNode **root);

    ParseFailure failure() const { return failure_; }

private:
    bool AtEnd(Pos pos) const { return pos > last_; }

    Pos SkipBlanks(Pos pos) const {
        while (pos <= last_ && Is(kBlank, text_[pos])) ++pos;
        return pos;
    }

    // The run of bytes of 'byteClass' that starts at 'pos', possibly empty.
    Token Run(uint8_t byteClass, Pos pos) const {
        Pos end = pos;
        while (end <= last_ && Is(byteClass, text_[end])) ++end;
        return {pos, end};
    }

    // True when the token is exactly 'word', compared without regard to ASCII case.
    bool TokenIs(Token token, const char *word) const {
        size_t length = strlen(word);
        if (static_cast<size_t>(token.end - token.first) != length) return false;
        for (size_t i = 0; i < length; ++i) {
            if (FoldAscii(static_cast<unsigned char>(text_[token.first + static_cast<Pos>(i)])) !=
                FoldAscii(static_cast<unsigned char>(word[i]))) {
                return false;
            }
        }
        return true;
    }

    // The entry of 'table' whose keyword is the whole token, or nullptr.
    const TokenEntry *Lookup(const TokenEntry *table, Token token) const {
        for (; table->id != 0; ++table) {
            if (TokenIs(token, table->name)) return table;
        }
        return nullptr;
    }

    Logical LogicalAt(Pos pos) const {
        Token word = Run(kName, pos);
        if (TokenIs(word, "and")) return Logical::kAnd;
        if (TokenIs(word, "or")) return Logical::kOr;
        return Logical::kNone;
    }

    bool ParseOrList(Pos *pos, ParseTreeNode **slot, int nesting);
    bool ParsePrimary(Pos *pos, ParseTreeNode **slot, int nesting);
    bool ParseComparison(Pos *pos, ParseTreeNode **slot);
    bool ParseOperator(Pos *pos, int *opId);
    bool ParseValue(Pos *pos, int opId, bool identifier, ParseTreeNode **value);
    bool Finish(Pos pos);

    bool Fail(SearchParseErrorCode code, Pos pos) {
        if (failure_.code == SEARCH_PARSE_OK) {
            failure_ = {code, pos > INT32_MAX ? INT32_MAX : static_cast<int>(pos)};
        }
        return false;
    }

    const char *text_;
    Pos last_;
    bool keepUnknown_;
    ParseFailure failure_ = {SEARCH_PARSE_OK, -1};
};

// Makes a logical node with the tree in *slot as its left operand, puts it into *slot, and
// returns the slot of its right operand; nullptr when memory runs out (*slot unchanged).
ParseTreeNode **HangOnLogical(ParseTreeNode **slot, int opId) {
    ParseTreeNode *node = NewNode(NODE_OPERATOR);
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
        ParseTreeNode *one = NewValueLeaf("1", 1);
        ParseTreeNode *otherOne = one != nullptr ? NewValueLeaf("1", 1) : nullptr;
        ParseTreeNode *always = otherOne != nullptr ? NewNode(NODE_OPERATOR) : nullptr;
        if (always == nullptr) {
            freeParseTree(one);
            freeParseTree(otherOne);
            return Fail(SEARCH_PARSE_OUT_OF_MEMORY, star);
        }
        always->opId = OP_EQ;
        always->left = one;
        always->right = otherOne;
        *root = always;
        return true;
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
    ParseTreeNode **orSlot = slot;  // Where the current and-list stands.
    for (;;) {
        ParseTreeNode **andSlot = orSlot;  // Where the next operand of the and-list goes.
        Logical next;
        for (;;) {
            if (!ParsePrimary(pos, andSlot, nesting)) return false;
            Pos at = SkipBlanks(*pos);
            next = AtEnd(at) ? Logical::kNone : LogicalAt(at);
            if (next != Logical::kAnd) break;
            andSlot = HangOnLogical(andSlot, OP_AND);
            if (andSlot == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, at);
            *pos = at + 3;
        }
        if (next != Logical::kOr) return true;
        Pos at = SkipBlanks(*pos);
        orSlot = HangOnLogical(orSlot, OP_OR);
        if (orSlot == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, at);
        *pos = at + 2;
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
        return ParseComparison(pos, slot);
    }

    if (nesting + 1 > MSC_MAX_NESTING) return Fail(SEARCH_PARSE_TOO_DEEP, at);
    ParseTreeNode *group = NewNode(NODE_GROUP);
    if (group == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, at);
    *slot = group;
    Pos inner = at + 1;
    if (!ParseOrList(&inner, &group->inner, nesting + 1)) return false;
    Pos close = SkipBlanks(inner);
    // An unclosed group is reported at its opening parenthesis, the byte a reader must fix.
    if (AtEnd(close)) return Fail(SEARCH_PARSE_UNBALANCED_PARENTHESES, at);
    if (text_[close] != ')') return Fail(SEARCH_PARSE_TRAILING_TEXT, close);
    *pos = close + 1;
    return true;
}

// property operator value, at *pos (a non-blank byte).
bool StandardParser::ParseComparison(Pos *pos, ParseTreeNode **slot) {
    Pos at = *pos;
    Token name = Run(kName, at);
    if (!Is(kNameStart, text_[at]) || TokenIs(name, "and") || TokenIs(name, "or")) {
        return Fail(SEARCH_PARSE_NO_PROPERTY, at);
    }
    int propertyId = PROP_UNKNOWN;
    if (const TokenEntry *property = Lookup(g_PropertyName, name)) {
        propertyId = property->id;
    } else if (!keepUnknown_) {
        return Fail(SEARCH_PARSE_UNKNOWN_PROPERTY, at);
    }

    *pos = name.end;
    int opId = 0;
    if (!ParseOperator(pos, &opId)) return false;
    bool identifier = opId != OP_EXISTS && (propertyId == PROP_REFID || propertyId == PROP_ID);
    ParseTreeNode *value = nullptr;
    if (!ParseValue(pos, opId, identifier, &value)) return false;

    ParseTreeNode *property = NewNode(NODE_PROPERTY);
    ParseTreeNode *comparison = property != nullptr ? NewNode(NODE_OPERATOR) : nullptr;
    if (comparison == nullptr) {
        freeParseTree(property);
        freeParseTree(value);
        return Fail(SEARCH_PARSE_OUT_OF_MEMORY, at);
    }
    property->propertyId = propertyId;
    comparison->opId = opId;
    comparison->left = property;
    comparison->right = value;
    *slot = comparison;
    return true;
}

// The operator after a property: a whole run of relational bytes ("=", "!=", "<", "<=", ">",
// ">="; "==" and "<>" are no operators), or a whole word ("contains", "doesNotContain",
// "derivedFrom", "is", "exists"), without regard to case.
bool StandardParser::ParseOperator(Pos *pos, int *opId) {
    Pos at = SkipBlanks(*pos);
    if (AtEnd(at)) return Fail(SEARCH_PARSE_UNKNOWN_OPERATOR, at);
    Token token = Run(Is(kRelOp, text_[at]) ? kRelOp : kName, at);
    const TokenEntry *op = token.empty() ? nullptr : Lookup(g_BinOpName, token);
    if (op == nullptr && !token.empty()) op = Lookup(g_ExistOpName, token);
    if (op == nullptr) return Fail(SEARCH_PARSE_UNKNOWN_OPERATOR, at);
    *opId = op->id;
    *pos = token.end;
    return true;
}

// The value after an operator: a quoted text with \" and \\ decoded, or one unquoted word.
// After "exists" it must read true or false (quoted or not, in any case) and is stored as
// "true" or "false".
bool StandardParser::ParseValue(Pos *pos, int opId, bool identifier, ParseTreeNode **value) {
    Pos at = SkipBlanks(*pos);
    if (AtEnd(at)) return Fail(SEARCH_PARSE_MISSING_VALUE, at);

    // Find the end and the decoded length first, then copy once: one allocation per value.
    Pos from = at;
    Pos end;
    size_t length = 0;
    bool quoted = text_[at] == '"';
    if (quoted) {
        Pos scan = at + 1;
        for (;;) {
            if (AtEnd(scan)) return Fail(SEARCH_PARSE_UNTERMINATED_QUOTE, at);
            char c = text_[scan];
            if (c == '"') break;
            // Only \" and \\ are escapes; a backslash before any other byte stands for itself.
            if (c == '\\' && scan + 1 <= last_ && (text_[scan + 1] == '"' || text_[scan + 1] == '\\')) {
                ++scan;
            }
            ++scan;
            ++length;
        }
        from = at + 1;
        end = scan;  // The closing quote.
        *pos = scan + 1;
    } else {
        Token word = Run(kWord, at);
        // A bare "and" or "or" here means the value was left out, not that it reads "and".
        if (word.empty() || TokenIs(word, "and") || TokenIs(word, "or")) {
            return Fail(SEARCH_PARSE_MISSING_VALUE, at);
        }
        end = word.end;
        length = static_cast<size_t>(word.end - word.first);
        *pos = word.end;
    }

    const char *boolean = nullptr;
    if (opId == OP_EXISTS) {
        Token text = {from, end};
        if (length == 4 && TokenIs(text, "true")) boolean = "true";
        else if (length == 5 && TokenIs(text, "false")) boolean = "false";
        else return Fail(SEARCH_PARSE_MISSING_VALUE, at);
        length = strlen(boolean);
    }

    size_t room = length + 1;
    if (identifier && room < kIdentifierRoom) room = kIdentifierRoom;
    auto *text = static_cast<char *>(malloc(room));
    if (text == nullptr) return Fail(SEARCH_PARSE_OUT_OF_MEMORY, at);
    if (boolean != nullptr) {
        memcpy(text, boolean, length + 1);
    } else {
        size_t out = 0;
        for (Pos scan = from; scan < end; ++scan) {
            char c = text_[scan];
            if (quoted && c == '\\' && scan + 1 < end && (text_[scan + 1] == '"' || text_[scan + 1] == '\\')) {
                c = text_[++scan];
            }
            text[out++] = c;
        }
        text[out] = '\0';
    }
    if (identifier) RewriteIdentifier(text);

    ParseTreeNode *leaf = NewNode(NODE_VALUE);
    if (leaf == nullptr) {
        free(text);
        return Fail(SEARCH_PARSE_OUT_OF_MEMORY, at);
    }
    leaf->text = text;
    *value = leaf;
    return true;
}

}  // namespace

int ParseStandard(ParseTreeNode **tree, const char *criteria, int first, int last, unsigned options,
                  ParseFailure *failure) {
    Pos from = first < 0 ? 0 : first;
    Pos to = last;
    // The criteria is a C string: it ends at its NUL even where the range reaches further, and
    // the parser never reads past that NUL.
    if (from <= to) {
        const void *nul = memchr(criteria + from, '\0', static_cast<size_t>(to - from + 1));
        if (nul != nullptr) to = static_cast<const char *>(nul) - criteria - 1;
    }
    StandardParser parser(criteria, to, options);
    ParseTreeNode *root = nullptr;
    bool ok = parser.ParseCriteria(from, &root);
    if (failure != nullptr) *failure = parser.failure();
    return HandOverTree(ok, root, tree);
}

}  // namespace msc
