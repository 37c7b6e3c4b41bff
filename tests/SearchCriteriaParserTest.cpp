// The parser through Parse_searchExp: whole trees, results and the messages on standard error.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TreeText.h"

using msc_test::CaptureStderr;
using msc_test::ParseToString;
using msc_test::TreePtr;

namespace {

struct ParseCase {
    const char *criteria;
    const char *tree;  // TreeToString of the result, or FAIL.
    const char *stderrText;
};

const ParseCase kParseCases[] = {
    {R"(dc:title = "abc")", R"(OP_EQ(PROP_DC_TITLE, "abc"))", ""},
    {"", "null", ""},
    {" \t\r\n\v\f ", "null", ""},
    {"dc:title", "PROP_DC_TITLE", ""},
    {"dc:title or dc:date", "OP_OR(PROP_DC_TITLE, PROP_DC_DATE)", ""},
    {"dc:title and", "OP_AND(PROP_DC_TITLE, null)", ""},
    {"(dc:title)", "GROUP(PROP_DC_TITLE)", ""},
    {R"(DC:TITLE CONTAINS "abc")", R"(OP_CONTAINS(PROP_DC_TITLE, "abc"))", ""},
    {R"(dc:title doesNotContain "abc")", R"(OP_DOES_NOT_CONTAIN(PROP_DC_TITLE, "abc"))", ""},
    {"dc:title exists true", R"(OP_EXISTS(PROP_DC_TITLE, "true"))", ""},
    {R"(upnp:class derivedfrom "abc" and dc:title contains "def")",
     R"(OP_AND(OP_DERIVED_FROM(PROP_UPNP_CLASS, "abc"), OP_CONTAINS(PROP_DC_TITLE, "def")))", ""},
    {R"(dc:title = "abc" or dc:date = "def" and dc:creator = "ghi")",
     R"(OP_OR(OP_EQ(PROP_DC_TITLE, "abc"), OP_AND(OP_EQ(PROP_DC_DATE, "def"), OP_EQ(PROP_DC_CREATOR, "ghi"))))",
     ""},
    {R"(dc:title = "abc" contains "def")", R"(OP_CONTAINS(OP_EQ(PROP_DC_TITLE, "abc"), "def"))", ""},
    {R"((dc:title = "abc") or (dc:date = "def"))",
     R"(OP_OR(GROUP(OP_EQ(PROP_DC_TITLE, "abc")), GROUP(OP_EQ(PROP_DC_DATE, "def"))))", ""},
    {"()", "GROUP(null)", ""},
    {"( \t )", "GROUP(null)", ""},
    {R"((dc:title = "abc") or)", R"(OP_OR(GROUP(OP_EQ(PROP_DC_TITLE, "abc")), null))", ""},
    {R"((dc:title = "abc")and(dc:date = "def"))",
     R"(OP_AND(GROUP(OP_EQ(PROP_DC_TITLE, "abc")), GROUP(OP_EQ(PROP_DC_DATE, "def"))))", ""},
    {R"(dc:title = "abc" and(dc:date = "def"))", "FAIL", "can't find key!!\n"},
    //                       ^ "and(dc:date" is one token; the right operand starts at "="
    {R"(dc:titleabc = "def")", R"(OP_EQ(PROP_DC_TITLE, "def"))", ""},
    {R"(dc:title = "abc" order dc:date = "def")",
     R"(OP_OR(OP_EQ(PROP_DC_TITLE, "abc"), OP_EQ(PROP_DC_DATE, "def")))", ""},
    {"upnp:a", "PROP_UPNP_ACTOR", ""},
    {R"(dc:title <= "5")", R"(OP_LE(PROP_DC_TITLE, "5"))", ""},
    {R"(dc:title >= "5")", R"(OP_GE(PROP_DC_TITLE, "5"))", ""},
    {R"(dc:title < "5")", R"(OP_LT(PROP_DC_TITLE, "5"))", ""},
    {R"(dc:title > "5")", R"(OP_GT(PROP_DC_TITLE, "5"))", ""},
    {R"(dc:title != "5")", R"(OP_NE(PROP_DC_TITLE, "5"))", ""},
    {R"(dc:title is "5")", R"(OP_IS(PROP_DC_TITLE, "5"))", ""},
    {R"(upnp:originalTrackNumber = 3)", R"(OP_EQ(PROP_UPNP_ORIGINAL_TRACK_NUMBER, "3"))", ""},
    // Keywords in any case, cut short at the end of the text, or followed by bytes that could
    // go on with a keyword, which the lookup reads past the token.
    {R"(UPNP:CLASS DERIVEDFROM "a" AND Dc:Date DoesNotContain "b")",
     R"(OP_AND(OP_DERIVED_FROM(PROP_UPNP_CLASS, "a"), OP_DOES_NOT_CONTAIN(PROP_DC_DATE, "b")))", ""},
    {R"(dc:title <=x "a")", R"(OP_LE(PROP_DC_TITLE, "a"))", ""},
    {R"(dc:title isx "a" orx dc:date existsfalse "b")",
     R"(OP_OR(OP_IS(PROP_DC_TITLE, "a"), OP_EXISTS(PROP_DC_DATE, "b")))", ""},
    {"dc:date<=x or upnp:genre", "OP_OR(PROP_DC_DATE, PROP_UPNP_GENRE)", ""},
    {"(dc:title)ORdc:date", "OP_OR(GROUP(PROP_DC_TITLE), PROP_DC_DATE)", ""},
    {"(dc:title) AnD(dc:date)", "OP_AND(GROUP(PROP_DC_TITLE), GROUP(PROP_DC_DATE))", ""},
    {"(dc:title) o", "OP_OR(GROUP(PROP_DC_TITLE), null)", ""},
    {"(dc:title) ax", "FAIL", ""},
    {"dc:title = a an", R"(OP_AND(OP_EQ(PROP_DC_TITLE, "a"), null))", ""},
    // Value texts: quotes stripped only from a quoted pair, nothing decoded.
    {"dc:title = abc", R"(OP_EQ(PROP_DC_TITLE, "abc"))", ""},
    {R"(dc:title = "a b")", R"(OP_EQ(PROP_DC_TITLE, "a b"))", ""},
    {R"(dc:title = "")", R"(OP_EQ(PROP_DC_TITLE, ""))", ""},
    {R"(dc:title = "a\"b")", R"(OP_EQ(PROP_DC_TITLE, "a\"b"))", ""},
    {R"(dc:title = "abc)", R"(OP_EQ(PROP_DC_TITLE, ""abc"))", ""},
    {R"(dc:title = "abc"def)", R"(OP_EQ(PROP_DC_TITLE, ""abc"def"))", ""},
    {"dc:title = (abc)", R"x(OP_EQ(PROP_DC_TITLE, "(abc)"))x", ""},
    {R"(dc:title = "a\ b" and dc:date = x\ y)",
     R"(OP_AND(OP_EQ(PROP_DC_TITLE, "a\ b"), OP_EQ(PROP_DC_DATE, "x\ y")))", ""},
    // A lone quote as the last byte of a group is kept as the one-byte text.
    {R"((dc:title = "))", R"(GROUP(OP_EQ(PROP_DC_TITLE, """)))", ""},
    {R"((dc:title = "a)b"))", "FAIL", ""},
    //                  ^ the group ends here, and "b" is no logical keyword
    // Identifier rewrite: the last "$"-part shifted right by 16 bits.
    {R"(@id = "abc$8454145")", R"(OP_EQ(PROP_ID, "129"))", "id = 129\n"},
    {R"(@refID = "65536")", R"(OP_EQ(PROP_REFID, "1"))", "id = 1\n"},
    {R"(@id contains "131072")", R"(OP_CONTAINS(PROP_ID, "2"))", "id = 2\n"},
    {R"(@refID exists "abc$65536")", R"(OP_EXISTS(PROP_REFID, "abc$65536"))", ""},
    {R"(@id = "abc$65536" = "abc$65536")", R"(OP_EQ(OP_EQ(PROP_ID, "1"), "abc$65536"))", "id = 1\n"},
    {R"(@id = "-1")", R"(OP_EQ(PROP_ID, "-1"))", "id = -1\n"},
    {R"(@id = "-655360")", R"(OP_EQ(PROP_ID, "-10"))", "id = -10\n"},
    {R"(@id = "2147483647")", R"(OP_EQ(PROP_ID, "32767"))", "id = 32767\n"},
    {R"(@id = "2147483648")", R"(OP_EQ(PROP_ID, "-32768"))", "id = -32768\n"},
    {R"(@id = "A0$")", R"(OP_EQ(PROP_ID, "0"))", "id = 0\n"},
    // Failures that say why on standard error.
    {"*", "FAIL", "can't find key!!\n"},
    {R"("dc:title" = "abc")", "FAIL", "can't find key!!\n"},
    {R"(and dc:title = "abc")", "FAIL", "can't find key!!\n"},
    {"\x01" "dc:title", "FAIL", "can't find key!!\n"},
    {")", "FAIL", "can't find key!!\n"},
    // Failures without a message.
    {"dc:title =", "FAIL", ""},
    {"dc:title exists", "FAIL", ""},
    {R"(dc:title abc "def")", "FAIL", ""},
    {R"(dc:title = "abc" "def")", "FAIL", ""},
    {R"((dc:title = "abc")", "FAIL", ""},
    {"(", "FAIL", ""},
    {R"((dc:title = "abc") = "def")", "FAIL", ""},
    {R"((dc:title = "abc") xyz)", "FAIL", ""},
    {"dc:title = abc\xC3", "FAIL", ""},
    {"dc:title = \"abc\xC3\"", "OP_EQ(PROP_DC_TITLE, \"abc\xC3\")", ""},
    {R"((dc:title = "a") and dc:date = "b" or (dc:title)x)", "FAIL", ""},
};

// Each text through both entry points: the classic one with its messages, and the quiet one
// (options 0), which gives the same tree and result, writes nothing and fills the error record.
TEST(SearchCriteriaParser, ParsesWholeTexts) {
    for (const ParseCase &c : kParseCases) {
        std::string tree;
        std::string messages = CaptureStderr([&] { tree = ParseToString(c.criteria); });
        EXPECT_EQ(tree, c.tree) << c.criteria;
        EXPECT_EQ(messages, c.stderrText) << c.criteria;

        SearchParseError error = {-1, -2};
        messages = CaptureStderr([&] {
            ParseTreeNode *root = reinterpret_cast<ParseTreeNode *>(&error);  // Must be reset.
            int result = Parse_searchExpEx(&root, c.criteria, 0, static_cast<int>(strlen(c.criteria)) - 1, 0, &error);
            TreePtr owned(root);
            tree = result == 0 ? msc_test::TreeToString(root) : root == nullptr ? "FAIL" : "FAIL with a tree";
        });
        EXPECT_EQ(tree, c.tree) << c.criteria << " (quiet)";
        EXPECT_EQ(messages, "") << c.criteria;
        EXPECT_EQ(error.code == SEARCH_PARSE_OK, tree != "FAIL") << c.criteria;
        if (error.code == SEARCH_PARSE_OK) {
            EXPECT_EQ(error.offset, -1) << c.criteria;
        }
    }
}

// Arguments outside the contract are refused or ignored, never followed, by either entry point.
TEST(SearchCriteriaParser, NullArguments) {
    SearchParseError error = {0, 0};
    ParseTreeNode *tree = reinterpret_cast<ParseTreeNode *>(&tree);
    EXPECT_EQ(Parse_searchExp(&tree, nullptr, 0, 10), 1);
    EXPECT_EQ(tree, nullptr);
    tree = reinterpret_cast<ParseTreeNode *>(&tree);
    EXPECT_EQ(Parse_searchExpEx(&tree, nullptr, 0, 3, SEARCH_PARSE_STANDARD, &error), 1);
    EXPECT_EQ(tree, nullptr);
    EXPECT_EQ(error.code, SEARCH_PARSE_INVALID_ARGUMENT);
    EXPECT_EQ(error.offset, 0);
    // Without a place for the tree the parse still runs, and what it built is released.
    EXPECT_EQ(Parse_searchExp(nullptr, R"(dc:title = "a")", 0, 13), 0);
    EXPECT_EQ(CaptureStderr([] { EXPECT_EQ(Parse_searchExp(nullptr, "*", 0, 0), 1); }), "can't find key!!\n");
    for (unsigned options : {0u, unsigned{SEARCH_PARSE_STANDARD}}) {
        EXPECT_EQ(Parse_searchExpEx(nullptr, R"(dc:title = "a")", 0, 13, options, nullptr), 0);
        EXPECT_EQ(Parse_searchExpEx(nullptr, "dc:title =", 0, 9, options, nullptr), 1);
    }
}

struct RangeCase {
    const char *criteria;
    int first;
    int last;
    const char *classic;   // The tree, or FAIL; nullptr where this entry point is not checked.
    const char *standard;  // The tree, or FAIL <code>@<offset>; nullptr likewise.
};

// The text ends at its NUL, also where the range reaches further (a host passing a length one
// too large, or a buffer holding more than the criteria).
const char kWithNul[] = "dc:title = \"a\"\0or dc:date";

const RangeCase kRangeCases[] = {
    {R"(dc:title = "abc" and dc:date = "def")", 0, 15, R"(OP_EQ(PROP_DC_TITLE, "abc"))",
     R"(OP_EQ(PROP_DC_TITLE, "abc"))"},
    {R"(dc:title = "abc" and dc:date = "def")", 21, 35, R"(OP_EQ(PROP_DC_DATE, "def"))",
     R"(OP_EQ(PROP_DC_DATE, "def"))"},
    {R"(dc:title = "abc" and dc:date = "def")", 0, 14, nullptr, "FAIL 5@11"},
    {R"(dc:title = "abc")", 5, 2, "null", "null"},
    {R"(dc:title = "abc")", 8, 8, "null", nullptr},
    // The classic keyword lookup reads past the range: "dc:t" at its end still names dc:title.
    {"dc:title", 0, 3, "PROP_DC_TITLE", "FAIL 2@0"},
    // A token never reaches past the range: the value is cut at its last byte.
    {R"(dc:title = "abcdef")", 0, 14, R"(OP_EQ(PROP_DC_TITLE, ""abc"))", nullptr},
    {R"((dc:title) and x)", 0, 9, "GROUP(PROP_DC_TITLE)", nullptr},
    {R"((dc:title) and x)", 0, 8, "FAIL", nullptr},
    {R"(xx (dc:title = "abc")", 3, 19, nullptr, "FAIL 6@3"},
    //     ^ offsets count from the start of the text, not of the range
    {kWithNul, 0, static_cast<int>(sizeof kWithNul) - 2, nullptr, R"(OP_EQ(PROP_DC_TITLE, "a"))"},
    {"dc:title = \"a\"", -5, 14, nullptr, R"(OP_EQ(PROP_DC_TITLE, "a"))"},
};

TEST(SearchCriteriaParser, ParsesRanges) {
    for (const RangeCase &c : kRangeCases) {
        SCOPED_TRACE(std::string(c.criteria) + " [" + std::to_string(c.first) + ", " + std::to_string(c.last) + "]");
        ParseTreeNode *tree = reinterpret_cast<ParseTreeNode *>(&tree);  // Must be reset.
        if (c.classic != nullptr) {
            CaptureStderr([&] {
                int result = Parse_searchExp(&tree, c.criteria, c.first, c.last);
                TreePtr owned(tree);
                EXPECT_EQ(result == 0 ? msc_test::TreeToString(tree) : tree == nullptr ? "FAIL" : "FAIL with a tree",
                          c.classic);
            });
        }
        if (c.standard != nullptr) {
            SearchParseError error = {-7, -7};
            tree = reinterpret_cast<ParseTreeNode *>(&tree);
            int result = Parse_searchExpEx(&tree, c.criteria, c.first, c.last, SEARCH_PARSE_STANDARD, &error);
            TreePtr owned(tree);
            EXPECT_EQ(result == 0 ? msc_test::TreeToString(tree)
                                  : "FAIL " + std::to_string(error.code) + "@" + std::to_string(error.offset),
                      c.standard);
        }
    }
}

// Where the two grammars differ, each text through both: the classic tree or FAIL, and the
// standard tree or FAIL <code>@<offset>.
struct GrammarCase {
    const char *criteria;
    const char *classic;
    const char *standard;
};

const GrammarCase kGrammarCases[] = {
    // Keywords: prefixes in the classic grammar, whole tokens in the standard one.
    {R"(dc:titleabc = "a")", R"(OP_EQ(PROP_DC_TITLE, "a"))", "FAIL 2@0"},
    {"upnp:a", "PROP_UPNP_ACTOR", "FAIL 2@0"},
    {R"(dc:title = "a" order dc:date = "b")", R"(OP_OR(OP_EQ(PROP_DC_TITLE, "a"), OP_EQ(PROP_DC_DATE, "b")))",
     "FAIL 7@15"},
    // Precedence: right-grouped, or "and" before "or".
    {"dc:title = a and dc:date = b or dc:creator = c",
     R"(OP_AND(OP_EQ(PROP_DC_TITLE, "a"), OP_OR(OP_EQ(PROP_DC_DATE, "b"), OP_EQ(PROP_DC_CREATOR, "c"))))",
     R"(OP_OR(OP_AND(OP_EQ(PROP_DC_TITLE, "a"), OP_EQ(PROP_DC_DATE, "b")), OP_EQ(PROP_DC_CREATOR, "c")))"},
    // Blanks around relational operators: one token, or three.
    {R"(dc:title="x")", "PROP_DC_TITLE", R"(OP_EQ(PROP_DC_TITLE, "x"))"},
    // Escapes: kept, or decoded; an unterminated quote is kept, or fails.
    {R"(dc:title = "a\"b\\c")", R"(OP_EQ(PROP_DC_TITLE, "a\"b\\c"))", R"(OP_EQ(PROP_DC_TITLE, "a"b\c"))"},
    {R"(dc:title = "abc)", R"(OP_EQ(PROP_DC_TITLE, ""abc"))", "FAIL 5@11"},
    // Shapes the classic grammar takes and the standard one refuses, and the other way round.
    {"dc:title", "PROP_DC_TITLE", "FAIL 3@8"},
    {R"(dc:title = "a" and)", R"(OP_AND(OP_EQ(PROP_DC_TITLE, "a"), null))", "FAIL 1@18"},
    {R"(dc:title = "a" = "b")", R"(OP_EQ(OP_EQ(PROP_DC_TITLE, "a"), "b"))", "FAIL 7@15"},
    {"dc:title exists maybe", R"(OP_EXISTS(PROP_DC_TITLE, "maybe"))", "FAIL 4@16"},
    {"*", "FAIL", R"(OP_EQ("1", "1"))"},
    {R"(@id = "65536")", R"(OP_EQ(PROP_ID, "1"))", R"(OP_EQ(PROP_ID, "1"))"},
};

TEST(SearchCriteriaParser, GrammarsDifferWhereDocumented) {
    for (const GrammarCase &c : kGrammarCases) {
        std::string classic;
        CaptureStderr([&] { classic = ParseToString(c.criteria); });
        EXPECT_EQ(classic, c.classic) << c.criteria;
        ParseTreeNode *tree = nullptr;
        SearchParseError error = {-7, -7};
        int result = Parse_searchExpEx(&tree, c.criteria, 0, static_cast<int>(strlen(c.criteria)) - 1,
                                       SEARCH_PARSE_STANDARD, &error);
        TreePtr owned(tree);
        EXPECT_EQ(result == 0 ? msc_test::TreeToString(tree)
                              : "FAIL " + std::to_string(error.code) + "@" + std::to_string(error.offset),
                  c.standard)
            << c.criteria;
    }
}

TEST(SearchCriteriaParser, ErrorMessages) {
    const struct {
        int code;
        const char *message;
    } kMessages[] = {
        {SEARCH_PARSE_OK, "no error"},
        {SEARCH_PARSE_NO_PROPERTY, "expected a property"},
        {SEARCH_PARSE_UNKNOWN_PROPERTY, "unknown property"},
        {SEARCH_PARSE_UNKNOWN_OPERATOR, "expected an operator or a logical keyword"},
        {SEARCH_PARSE_MISSING_VALUE, "missing value after the operator"},
        {SEARCH_PARSE_UNTERMINATED_QUOTE, "quoted value without its closing quote"},
        {SEARCH_PARSE_UNBALANCED_PARENTHESES, "unbalanced parentheses"},
        {SEARCH_PARSE_TRAILING_TEXT, "unexpected text after the expression"},
        {SEARCH_PARSE_TOO_DEEP, "nested too deeply"},
        {SEARCH_PARSE_OUT_OF_MEMORY, "out of memory"},
        {SEARCH_PARSE_INVALID_ARGUMENT, "invalid argument or option"},
        {SEARCH_PARSE_INVALID_ARGUMENT + 1, "unknown error"},
        {-1, "unknown error"},
    };
    for (const auto &m : kMessages) EXPECT_STREQ(SearchParseErrorMessage(m.code), m.message) << m.code;
}

}  // namespace
