// The lexer's token scan and value leaves.
#include "Lexer.h"

#include <cstdio>
#include <cstring>

namespace msc {

ParseTreeNode *Lexer::DecodedValueLeaf(Token token, bool identifier, const char *literal) {
    const char *from = literal != nullptr ? literal : text_ + token.first;
    size_t length = literal != nullptr ? strlen(literal) : token.size();
    ParseTreeNode *leaf = NewValueLeaf(from, length, identifier ? kIdentifierRoom : 0, arena_);
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
