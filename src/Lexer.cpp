// The lexer's token scan and value leaves.
#include "Lexer.h"

#include <cstdio>
#include <cstring>

namespace msc {

Token Lexer::ClassicToken(Pos pos, Pos last) const {
    // The text ends with a NUL and a group's range with its closing parenthesis, which stop
    // every search: a stop past 'last' ends the token at 'last'.
    constexpr uint16_t kInsideQuotes = kQuote | kEscape | kRangeEnd;
    const Pos first = pos;
    if (MSC_LIKELY(text_[pos] == '"')) {
        // Most values: a quoted text without backslashes, followed by a blank.
        Pos close = FindStop<kInsideQuotes>(text_, pos + 1, last);
        if (close <= last && text_[close] == '"' && (close == last || Is(kTokenEnd, text_[close + 1]))) {
            return {first, close + 1};
        }
    }
    bool inQuotes = false;
    for (;;) {
        pos = inQuotes ? FindStop<kInsideQuotes>(text_, pos, last)
                       : FindStop<kInsideQuotes | kTokenEnd>(text_, pos, last);
        if (pos > last) break;
        char c = text_[pos];
        if (c == '"') {
            inQuotes = !inQuotes;
            ++pos;
        } else if (c == '\\') {
            pos += 2;
        } else if (!inQuotes && Is(kTokenEnd, c)) {
            return {first, pos};
        } else {
            ++pos;  // A closing parenthesis, or a NUL inside quotes: ordinary bytes here.
        }
        if (pos > last) break;
    }
    return {first, last + 1};
}

ParseTreeNode *Lexer::ValueLeaf(Token token, bool identifier, const char *literal) {
    const char *from = literal != nullptr ? literal : text_ + token.first;
    size_t length = literal != nullptr ? strlen(literal) : token.size();
    ParseTreeNode *leaf = NewValueLeaf(from, length, identifier ? kIdentifierRoom : 0);
    if (leaf == nullptr) return nullptr;
    char *text = leaf->text;
    if ((flags_ & kDecodeEscapes) && memchr(text, '\\', length) != nullptr) {
        // In place: only \" and \\ are escapes; a backslash before anything else stays.
        size_t out = 0;
        for (size_t in = 0; in < length; ++in) {
            if (text[in] == '\\' && (text[in + 1] == '"' || text[in + 1] == '\\')) ++in;
            text[out++] = text[in];
        }
        text[out] = '\0';
    }
    if (!identifier) return leaf;
    RewriteIdentifier(text);
    if (!(flags_ & kQuiet)) {
        // The line "id = %s\n", composed and written with one call: parsing the format would
        // cost more than writing the line. The text is the number, at most "-32768".
        char line[sizeof "id = " + kIdentifierRoom];
        size_t digits = strnlen(text, kIdentifierRoom - 1);
        memcpy(line, "id = ", 5);
        memcpy(line + 5, text, digits);
        line[5 + digits] = '\n';
        fwrite(line, 1, 6 + digits, stderr);
    }
    return leaf;
}

}  // namespace msc
