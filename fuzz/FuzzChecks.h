// Checks shared by the fuzz targets. Each one aborts with a message when the library breaks a
// promise, so that libFuzzer keeps the input that showed it.
#ifndef MSC_FUZZ_FUZZ_CHECKS_H
#define MSC_FUZZ_FUZZ_CHECKS_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "mysearchcriteria.h"

namespace msc_fuzz {

[[noreturn]] inline void Fail(const char *what, const std::string &detail = std::string()) {
    fprintf(stderr, "fuzz check failed: %s\n%s\n", what, detail.c_str());
    abort();
}

#define MSC_FUZZ_CHECK(condition, detail) \
    do {                                  \
        if (!(condition)) ::msc_fuzz::Fail(#condition, (detail)); \
    } while (0)

// A column for every property, and for the host properties that ParseEntryFuzzer names, so that
// a tree from the parser never writes "(null)" (but for PROP_UNKNOWN).
inline const TokenEntry kColumns[] = {
    {PROP_DC_TITLE, "title"},   {PROP_DC_DATE, "date"},   {PROP_DC_CREATOR, "creator"},
    {PROP_UPNP_CLASS, "class"}, {PROP_UPNP_ACTOR, "actor"}, {PROP_UPNP_ARTIST, "artist"},
    {PROP_UPNP_ALBUM, "album"}, {PROP_UPNP_GENRE, "genre"}, {PROP_REFID, "ref_id"},
    {PROP_ID, "object_id"},     {PROP_RES, "res"},        {PROP_UPNP_ORIGINAL_TRACK_NUMBER, "track"},
    {PROP_HOST_FIRST, "host_a"}, {PROP_HOST_FIRST + 1, "host_b"}, {PROP_HOST_FIRST + 2, "host_c"},
    {0, nullptr}};

inline const char *const kPrefixes[] = {nullptr, "", "t.", "media."};

// A host's own property names, with the ids that kColumns gives columns (host_a to host_c).
inline const TokenEntry kHost[] = {{PROP_HOST_FIRST, "upnp:author"},
                                   {PROP_HOST_FIRST + 1, "upnp:artist[@role=\"AlbumArtist\"]"},
                                   {PROP_HOST_FIRST + 2, "res@duration"},
                                   {0, nullptr}};

// True when 'b' equals 'a' node for node and shares no value text with it, as a copy must.
inline bool IsIndependentCopy(const ParseTreeNode *a, const ParseTreeNode *b) {
    while (a != nullptr && b != nullptr) {
        if (a->kind != b->kind) return false;
        switch (a->kind) {
            case NODE_OPERATOR:
                if (a->opId != b->opId || !IsIndependentCopy(a->left, b->left)) return false;
                a = a->right;
                b = b->right;
                continue;
            case NODE_GROUP:
                a = a->inner;
                b = b->inner;
                continue;
            case NODE_PROPERTY:
                return a->propertyId == b->propertyId;
            case NODE_VALUE:
                return a->text != nullptr && b->text != nullptr && a->text != b->text &&
                       strcmp(a->text, b->text) == 0;
            default:
                return true;
        }
    }
    return a == nullptr && b == nullptr;
}

// Property ids of the leaves in walk order (left before right), as a host would expect them.
inline void CollectProperties(const ParseTreeNode *node, std::vector<int> *ids) {
    while (node != nullptr) {
        if (node->kind == NODE_OPERATOR) {
            CollectProperties(node->left, ids);
            node = node->right;
        } else if (node->kind == NODE_GROUP) {
            node = node->inner;
        } else {
            if (node->kind == NODE_PROPERTY) ids->push_back(node->propertyId);
            return;
        }
    }
}

// Every value leaf must own a text.
inline bool AllValuesHaveText(const ParseTreeNode *node) {
    while (node != nullptr) {
        if (node->kind == NODE_OPERATOR) {
            if (!AllValuesHaveText(node->left)) return false;
            node = node->right;
        } else if (node->kind == NODE_GROUP) {
            node = node->inner;
        } else {
            return node->kind != NODE_VALUE || node->text != nullptr;
        }
    }
    return true;
}

// The condition text must consist of single-quoted string literals (a quote inside doubled), the
// hex literals X'...' of MySQL and, outside them, only words the writer itself produces: a column
// with its prefix, an operator, AND, OR, NOT, IS, NULL, parentheses and the dialects' ILIKE,
// ESCAPE and _utf8mb4. Anything else outside a literal would be text that a client smuggled into
// the statement.
inline bool OnlyKnownSqlWords(const std::string &sql, const char *prefix, std::string *why) {
    std::set<std::string> words = {"AND", "OR", "NOT", "IS", "NULL", "LIKE", "=", "<>", "<", "<=", ">", ">=",
                                   "(",   ")",  "ILIKE", "ESCAPE", "_utf8mb4"};
    for (const TokenEntry *column = kColumns; column->id != 0; ++column) {
        words.insert(std::string(prefix != nullptr ? prefix : "") + column->name);
    }
    size_t i = 0;
    while (i < sql.size()) {
        if (sql[i] == ' ') {
            ++i;
        } else if (sql[i] == '\'') {
            ++i;
            for (;;) {
                if (i >= sql.size()) {
                    *why = "unterminated literal";
                    return false;
                }
                if (sql[i] == '\'') {
                    if (i + 1 < sql.size() && sql[i + 1] == '\'') {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            if (i < sql.size() && sql[i] != ' ') {
                *why = "literal not followed by a blank";
                return false;
            }
        } else {
            size_t end = sql.find(' ', i);
            if (end == std::string::npos) end = sql.size();
            std::string word = sql.substr(i, end - i);
            bool hex = word.size() >= 3 && word.compare(0, 2, "X'") == 0 && word.back() == '\'' &&
                       word.find_first_not_of("0123456789ABCDEF", 2) == word.size() - 1;
            if (words.count(word) == 0 && !hex) {
                *why = "unexpected word '" + word + "'";
                return false;
            }
            i = end;
        }
    }
    return true;
}

// Converts 'tree' into a buffer of exactly 'size' bytes followed by canary bytes, checks the
// canaries and the NUL, and returns the text written.
inline std::string ConvertWithCanary(const ParseTreeNode *tree, const char *prefix, int size,
                                     int *total, const SqlOptions *options = nullptr) {
    constexpr size_t kCanary = 32;
    std::vector<char> buffer(static_cast<size_t>(size) + kCanary, '\x5A');
    *total = options != nullptr ? ConvertSQLConditionWith(tree, kColumns, prefix, options, buffer.data(), size)
                                : ConvertSQLConditionEx(tree, kColumns, prefix, buffer.data(), size);
    for (size_t i = static_cast<size_t>(size); i < buffer.size(); ++i) {
        MSC_FUZZ_CHECK(buffer[i] == '\x5A', "bytes written past the buffer");
    }
    if (size == 0) return std::string();
    const void *nul = memchr(buffer.data(), '\0', static_cast<size_t>(size));
    MSC_FUZZ_CHECK(nul != nullptr, "text not NUL-terminated within the buffer");
    return std::string(buffer.data());
}

}  // namespace msc_fuzz

#endif  // MSC_FUZZ_FUZZ_CHECKS_H
