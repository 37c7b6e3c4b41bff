// Value tokens of every length up to 48 bytes, with quotes, backslashes and token-end bytes at
// every position, against a byte-at-a-time statement of the token rule: the scanner moves over
// ordinary bytes sixteen at a time, and each block boundary must give the same token.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TreeText.h"

using namespace msc_test;

namespace {

// The token rule, one byte at a time: a quote flips the in-quote state, a backslash takes the
// next byte, a byte below 33 as a signed char ends the token outside quotes; never past 'last'.
// Returns the index of the token's last byte (first - 1 when it is empty).
long ReferenceTokenEnd(const std::string &text, long first, long last) {
    bool inQuote = false;
    long pos = first;
    for (;;) {
        unsigned char c = static_cast<unsigned char>(text[static_cast<size_t>(pos)]);
        if (c == '"') {
            inQuote = !inQuote;
            ++pos;
        } else if (c == '\\') {
            pos += 2;
        } else if (!inQuote && static_cast<signed char>(c) < 33) {
            return pos - 1;
        } else {
            ++pos;
        }
        if (pos > last) return last;
    }
}

// What `dc:title = <value>` parses to when the value is the last thing in the text and holds no
// blank: the comparison with the token's text, quotes stripped from a quoted pair; a token that
// ends before the text does leaves a non-blank token-end byte, which fails the parse.
std::string ExpectedTree(const std::string &criteria, long valueStart) {
    long last = static_cast<long>(criteria.size()) - 1;
    long end = ReferenceTokenEnd(criteria, valueStart, last);
    if (end < valueStart || end != last) return "FAIL";
    std::string token = criteria.substr(static_cast<size_t>(valueStart));
    if (token.size() >= 2 && token.front() == '"' && token.back() == '"') {
        token = token.substr(1, token.size() - 2);
    }
    TreePtr tree(Op(OP_EQ, Prop(PROP_DC_TITLE), Val(token.c_str())));
    return TreeToString(tree.get());
}

TEST(TokenScan, SpecialBytesAtEveryPositionOfLongValues) {
    const std::string prefix = "dc:title = ";
    const char kSpecials[] = {'"', '\\', '\x01', '\xC3', '\x7F', '('};
    int checked = 0;
    for (size_t length = 1; length <= 48; ++length) {
        for (size_t i = 0; i < length; ++i) {
            for (char first : kSpecials) {
                // One special byte, then a second one right after it or further on (a backslash
                // takes the byte after it), each alone and with a quote pair around the value.
                for (size_t distance : {0u, 1u, 2u, 3u, 5u, 9u, 16u, 17u}) {
                    size_t j = i + distance;
                    if (j >= length) break;
                    for (char second : {'"', '\x01', '\\'}) {
                        std::string value(length, 'a');
                        value[i] = first;
                        if (j != i) value[j] = second;
                        for (bool quoted : {false, true}) {
                            std::string criteria = prefix + (quoted ? "\"" + value + "\"" : value);
                            std::string actual = ParseToString(criteria);
                            ASSERT_EQ(actual, ExpectedTree(criteria, static_cast<long>(prefix.size())))
                                << "length " << length << " at " << i << " and " << j;
                            ++checked;
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 20000);
}

// A value ending the range in the middle of a longer text: the token stops at 'last' even when
// the bytes after it would go on.
TEST(TokenScan, StopsAtTheRangeEnd) {
    const std::string criteria = R"(dc:title = "abcdefghijklmnopqrstuvwxyz0123456789" and dc:date = "x")";
    const long valueStart = 11;
    const long closingQuote = 48;  // From here on the text holds the whole value and more.
    for (long last = valueStart; last <= closingQuote; ++last) {
        ParseTreeNode *tree = nullptr;
        int result = Parse_searchExp(&tree, criteria.c_str(), 0, static_cast<int>(last));
        TreePtr owned(tree);
        std::string expected = ExpectedTree(criteria.substr(0, static_cast<size_t>(last) + 1), valueStart);
        EXPECT_EQ(result == 0 ? TreeToString(tree) : "FAIL", expected) << last;
    }
}

// Parentheses are found sixteen bytes at a time as well: values of every length put them at
// every offset of a block, in groups side by side, nested, and inside quotes (where they still
// count, so the group ends early and the parse fails).
TEST(TokenScan, ParenthesesAtEveryBlockOffset) {
    for (size_t k = 0; k <= 40; ++k) {
        const std::string a(k, 'a'), b(k % 17, 'b');
        const struct {
            std::string criteria;
            std::string tree;
        } kCases[] = {
            {"(dc:title = \"" + a + "\") or (dc:date = \"" + b + "\")",
             "OP_OR(GROUP(OP_EQ(PROP_DC_TITLE, \"" + a + "\")), GROUP(OP_EQ(PROP_DC_DATE, \"" + b + "\")))"},
            {"((dc:title = " + (k == 0 ? std::string("x") : a) + ") and (dc:date = \"" + b + "\"))",
             "GROUP(OP_AND(GROUP(OP_EQ(PROP_DC_TITLE, \"" + (k == 0 ? std::string("x") : a) +
                 "\")), GROUP(OP_EQ(PROP_DC_DATE, \"" + b + "\"))))"},
            {"(dc:title = \"" + a + ")" + b + "\")", "FAIL"},
            {"(dc:title = \"" + a + "(" + b + "\")", "FAIL"},
        };
        for (const auto &c : kCases) {
            EXPECT_EQ(ParseToString(c.criteria), c.tree) << c.criteria;
        }
    }
}

}  // namespace
