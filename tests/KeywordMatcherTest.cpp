// Keyword lookup against a plain walk of the exported tables: every keyword, in every letter
// case, cut short at the end of the text, extended, and with each byte replaced, must give the
// tree that the table walk predicts.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "TreeText.h"

using namespace msc_test;

namespace {

// The lookup rule stated directly: the first entry whose keyword the text begins, or which the
// text (up to its NUL) begins, bytes folded with tolower in the C locale; a later match whose
// keyword extends the chosen one replaces it.
const TokenEntry *WalkTable(const TokenEntry *table, const char *at) {
    const TokenEntry *best = nullptr;
    for (; table->id != 0; ++table) {
        size_t i = 0;
        while (table->name[i] != '\0' && at[i] != '\0' &&
               tolower(static_cast<unsigned char>(at[i])) ==
                   tolower(static_cast<unsigned char>(table->name[i]))) {
            ++i;
        }
        if (table->name[i] != '\0' && at[i] != '\0') continue;
        if (best == nullptr || (strlen(table->name) > strlen(best->name) &&
                                strncmp(table->name, best->name, strlen(best->name)) == 0)) {
            best = table;
        }
    }
    return best;
}

// Texts derived from every keyword of a table: as it stands, upper-cased, with alternating case,
// each proper prefix, with a tail, and with each byte replaced by a letter or a digit.
std::vector<std::string> Variants(const TokenEntry *table) {
    std::vector<std::string> texts;
    for (; table->id != 0; ++table) {
        std::string keyword = table->name;
        texts.push_back(keyword);
        std::string upper = keyword, mixed = keyword;
        for (size_t i = 0; i < keyword.size(); ++i) {
            upper[i] = static_cast<char>(toupper(static_cast<unsigned char>(keyword[i])));
            if (i % 2 == 1) mixed[i] = upper[i];
        }
        texts.push_back(upper);
        texts.push_back(mixed);
        for (size_t length = 1; length < keyword.size(); ++length) texts.push_back(keyword.substr(0, length));
        texts.push_back(keyword + "xyz");
        texts.push_back(keyword + "=");
        for (size_t i = 0; i < keyword.size(); ++i) {
            for (char replacement : {'x', 'Z', '7', ':', '\xC1', '\\'}) {
                std::string changed = keyword;
                changed[i] = replacement;
                texts.push_back(changed);
            }
            // The byte with its 0x20 bit flipped: the other case of a letter, and for any other
            // byte one that must not match ('@' and '`', '=' and 0x1D).
            std::string flipped = keyword;
            flipped[i] = static_cast<char>(keyword[i] ^ 0x20);
            texts.push_back(flipped);
        }
    }
    return texts;
}

std::string Expected(ParseTreeNode *tree) {
    TreePtr owned(tree);
    return TreeToString(tree);
}

// A property token alone: its leaf, or a failure. Behind a group and "or" the same token ends
// a longer text, which the lookup reads in other pieces.
TEST(KeywordMatcher, PropertyTokensMatchTheTableWalk) {
    int checked = 0;
    for (const std::string &text : Variants(g_PropertyName)) {
        const TokenEntry *entry = WalkTable(g_PropertyName, text.c_str());
        for (bool behindGroup : {false, true}) {
            std::string criteria = behindGroup ? "(dc:title) or " + text : text;
            std::string expected = "FAIL";
            if (entry != nullptr) {
                expected = behindGroup
                               ? Expected(Op(OP_OR, Group(Prop(PROP_DC_TITLE)), Prop(entry->id)))
                               : Expected(Prop(entry->id));
            }
            std::string actual;
            CaptureStderr([&] { actual = ParseToString(criteria); });
            EXPECT_EQ(actual, expected) << criteria;
            ++checked;
        }
    }
    EXPECT_GT(checked, 600);
}

// A property token followed by a blank, the usual case, which the lookup decides by comparing
// the whole token with the one keyword of its length and last byte.
TEST(KeywordMatcher, PropertyTokensBeforeABlankMatchTheTableWalk) {
    int checked = 0;
    for (const std::string &property : Variants(g_PropertyName)) {
        // Bytes that end the token or change where it ends are left to the test above.
        bool plain = true;
        for (char c : property) plain &= c > ' ' && static_cast<unsigned char>(c) < 0x80 && c != '\\' && c != '"';
        if (!plain) continue;
        std::string criteria = property + " exists true";
        const TokenEntry *entry = WalkTable(g_PropertyName, criteria.c_str());
        std::string expected =
            entry != nullptr ? Expected(Op(OP_EXISTS, Prop(entry->id), Val("true"))) : "FAIL";
        std::string actual;
        CaptureStderr([&] { actual = ParseToString(criteria); });
        EXPECT_EQ(actual, expected) << criteria;
        ++checked;
    }
    EXPECT_GT(checked, 300);
}

// An operator token between a property and a second token, tried as the parser does: logical
// first (the rest becomes the right operand), then binary, then exists (the rest is the value).
TEST(KeywordMatcher, OperatorTokensMatchTheTableWalk) {
    std::vector<std::string> texts = Variants(g_BinOpName);
    for (const std::string &text : Variants(g_LogOpName)) texts.push_back(text);
    for (const std::string &text : Variants(g_ExistOpName)) texts.push_back(text);
    int checked = 0;
    for (const std::string &op : texts) {
        // A backslash, a control byte or a byte from 0x80 up changes where the token ends, which
        // this test does not model; the property test covers them.
        bool plain = true;
        for (char c : op) plain &= c > ' ' && static_cast<unsigned char>(c) < 0x80 && c != '\\';
        if (!plain) continue;
        // Blanks after the text put the token at other distances from the range's end.
        for (bool atEnd : {false, true}) {
            for (const char *blanks : {"", "   ", "        "}) {
                std::string criteria = "dc:title " + op + (atEnd ? "" : " dc:date") + blanks;
                // The lookup reads on past the token, up to the text's NUL.
                const char *at = criteria.c_str() + strlen("dc:title ");
                std::string expected = "FAIL";
                if (const TokenEntry *logical = WalkTable(g_LogOpName, at)) {
                    expected = Expected(Op(logical->id, Prop(PROP_DC_TITLE),
                                           atEnd ? nullptr : Prop(PROP_DC_DATE)));
                } else {
                    const TokenEntry *binary = WalkTable(g_BinOpName, at);
                    if (binary == nullptr) binary = WalkTable(g_ExistOpName, at);
                    if (binary != nullptr && !atEnd) {
                        expected = Expected(Op(binary->id, Prop(PROP_DC_TITLE), Val("dc:date")));
                    }
                }
                std::string actual;
                CaptureStderr([&] { actual = ParseToString(criteria); });
                EXPECT_EQ(actual, expected) << criteria;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 1200);
}

// After a group the logical keyword is matched in place, and only its own bytes are consumed.
TEST(KeywordMatcher, LogicalKeywordAfterGroupConsumesOnlyItsBytes) {
    const struct {
        const char *criteria;
        const char *tree;
    } kCases[] = {
        {"(dc:title)ORdc:date", "OP_OR(GROUP(PROP_DC_TITLE), PROP_DC_DATE)"},
        {"(dc:title) AnD(dc:date)", "OP_AND(GROUP(PROP_DC_TITLE), GROUP(PROP_DC_DATE))"},
        {"(dc:title) o", "OP_OR(GROUP(PROP_DC_TITLE), null)"},
        {"(dc:title) an", "OP_AND(GROUP(PROP_DC_TITLE), null)"},
        {"(dc:title) ax", "FAIL"},
    };
    for (const auto &c : kCases) {
        std::string actual;
        CaptureStderr([&] { actual = ParseToString(c.criteria); });
        EXPECT_EQ(actual, c.tree) << c.criteria;
    }
}

}  // namespace
