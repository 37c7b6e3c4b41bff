// Parse_searchExpEx: the standard grammar's trees, SQL and error records, options 0 against
// Parse_searchExp, and realistic client criteria run through the whole host sequence into SQLite.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "AllocationHooks.h"
#include "TreeText.h"

using namespace msc_test;

namespace {

constexpr unsigned kStd = SEARCH_PARSE_STANDARD;
constexpr unsigned kKeep = SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN;

// A host's own properties, as Parse_searchExpWith takes them.
const TokenEntry kHost[] = {{PROP_HOST_FIRST, "last_updated"},
                            {PROP_HOST_FIRST + 1, R"(upnp:artist[@role="AlbumArtist"])"},
                            {PROP_HOST_FIRST + 2, "res@duration"},
                            {PROP_HOST_FIRST + 3, R"(upnp:artist[@role = "A\"B]"])"},
                            {PROP_HOST_FIRST + 4, "dc:title"},  // Built in: never consulted.
                            {0, nullptr}};
const TokenEntry kNullConfig[] = {{0, nullptr}};  // Stands for a null config.
const TokenEntry kBadIds[] = {{PROP_HOST_FIRST, "x"}, {PROP_UNKNOWN, "y"}, {0, nullptr}};
const TokenEntry kZeroInside[] = {{PROP_HOST_FIRST, "x"}, {0, "y"}, {0, nullptr}};
const TokenEntry kBlankName[] = {{PROP_HOST_FIRST, "a b"}, {0, nullptr}};
const TokenEntry kTrailingText[] = {{PROP_HOST_FIRST, R"(a[@b="c"]d)"}, {0, nullptr}};
const TokenEntry kOpenFilter[] = {{PROP_HOST_FIRST, R"(a[@b="c")"}, {0, nullptr}};
const TokenEntry kNoName[] = {{PROP_HOST_FIRST, nullptr}, {0, nullptr}};
const TokenEntry kEmptyName[] = {{PROP_HOST_FIRST, ""}, {0, nullptr}};

// Parses the whole text, through Parse_searchExpWith when a host table is given (kNullConfig: a
// null config); *error receives the record (offset -1 on success).
TreePtr ParseEx(const std::string &criteria, unsigned options, SearchParseError *error, int *result,
                const TokenEntry *host = nullptr) {
    ParseTreeNode *tree = reinterpret_cast<ParseTreeNode *>(&tree);  // Must be reset.
    const int last = static_cast<int>(criteria.size()) - 1;
    if (host == nullptr) {
        *result = Parse_searchExpEx(&tree, criteria.c_str(), 0, last, options, error);
    } else {
        const SearchParseConfig config = {options, host};
        *result = Parse_searchExpWith(&tree, criteria.c_str(), 0, last,
                                      host == kNullConfig ? nullptr : &config, error);
    }
    return TreePtr(tree);
}

// "FAIL <code>@<offset>" for a failure (checking that no tree came back), else the tree.
std::string ParseExToString(const std::string &criteria, unsigned options, const TokenEntry *host = nullptr) {
    SearchParseError error = {-7, -7};
    int result = -1;
    TreePtr tree = ParseEx(criteria, options, &error, &result, host);
    if (result != 0) {
        if (result != 1 || tree != nullptr) return "BROKEN FAILURE";
        return "FAIL " + std::to_string(error.code) + "@" + std::to_string(error.offset);
    }
    if (error.code != SEARCH_PARSE_OK || error.offset != -1) return "BROKEN SUCCESS RECORD";
    return TreeToString(tree.get());
}

struct TreeCase {
    const char *criteria;
    unsigned options;
    const char *tree;
    const TokenEntry *host = nullptr;
};

const TreeCase kTreeCases[] = {
    // and binds tighter than or; both lists lean right, an and-list before an or on its left.
    {R"(dc:title = "a" and dc:date = "b" and dc:creator = "c")", kStd,
     R"(OP_AND(OP_EQ(PROP_DC_TITLE, "a"), OP_AND(OP_EQ(PROP_DC_DATE, "b"), OP_EQ(PROP_DC_CREATOR, "c"))))"},
    {R"(dc:title = "a" or dc:date = "b" and dc:creator = "c")", kStd,
     R"(OP_OR(OP_EQ(PROP_DC_TITLE, "a"), OP_AND(OP_EQ(PROP_DC_DATE, "b"), OP_EQ(PROP_DC_CREATOR, "c"))))"},
    {R"(dc:title = "a" and dc:date = "b" or dc:creator = "c")", kStd,
     R"(OP_OR(OP_AND(OP_EQ(PROP_DC_TITLE, "a"), OP_EQ(PROP_DC_DATE, "b")), OP_EQ(PROP_DC_CREATOR, "c")))"},
    {R"(dc:title = "a" and dc:date = "b" or dc:creator = "c" and upnp:genre = "d" or upnp:album = "e")", kStd,
     R"(OP_OR(OP_AND(OP_EQ(PROP_DC_TITLE, "a"), OP_EQ(PROP_DC_DATE, "b")), OP_OR(OP_AND(OP_EQ(PROP_DC_CREATOR, "c"), OP_EQ(PROP_UPNP_GENRE, "d")), OP_EQ(PROP_UPNP_ALBUM, "e"))))"},
    {R"((dc:title = "a" or dc:date = "b") and dc:creator = "c")", kStd,
     R"(OP_AND(GROUP(OP_OR(OP_EQ(PROP_DC_TITLE, "a"), OP_EQ(PROP_DC_DATE, "b"))), OP_EQ(PROP_DC_CREATOR, "c")))"},
    {R"(( ( dc:title = "a" ) ))", kStd, R"(GROUP(GROUP(OP_EQ(PROP_DC_TITLE, "a"))))"},
    {"(dc:title = \"a\")and(dc:date = \"b\")OR(upnp:genre = \"c\")", kStd,
     R"(OP_OR(OP_AND(GROUP(OP_EQ(PROP_DC_TITLE, "a")), GROUP(OP_EQ(PROP_DC_DATE, "b"))), GROUP(OP_EQ(PROP_UPNP_GENRE, "c"))))"},
    // Relational operators need no blanks; word keywords are whole tokens in any case.
    {R"(dc:title="Hospital Roll Call")", kStd, R"(OP_EQ(PROP_DC_TITLE, "Hospital Roll Call"))"},
    {R"(dc:date>="2001"and dc:date<"2002")", kStd,
     R"(OP_AND(OP_GE(PROP_DC_DATE, "2001"), OP_LT(PROP_DC_DATE, "2002")))"},
    {R"(dc:title!="a" or dc:title<="b" or dc:title>"c")", kStd,
     R"(OP_OR(OP_NE(PROP_DC_TITLE, "a"), OP_OR(OP_LE(PROP_DC_TITLE, "b"), OP_GT(PROP_DC_TITLE, "c"))))"},
    {R"(upnp:class derivedFrom "object.item" AnD DC:Title DOESNOTCONTAIN "x" oR upnp:genre IS "y")", kStd,
     R"(OP_OR(OP_AND(OP_DERIVED_FROM(PROP_UPNP_CLASS, "object.item"), OP_DOES_NOT_CONTAIN(PROP_DC_TITLE, "x")), OP_IS(PROP_UPNP_GENRE, "y")))"},
    {"dc:title\tcontains\n\"a\"\r\nand\v\fupnp:genre = \"b\"", kStd,
     R"(OP_AND(OP_CONTAINS(PROP_DC_TITLE, "a"), OP_EQ(PROP_UPNP_GENRE, "b")))"},
    // Values: \" and \\ decoded, any other backslash kept, bytes inside quotes copied.
    {R"(dc:title = "say \"hi\" \\ \n")", kStd, R"(OP_EQ(PROP_DC_TITLE, "say "hi" \ \n"))"},
    {R"(dc:title = "" and dc:date = "a)b(c")", kStd,
     R"(OP_AND(OP_EQ(PROP_DC_TITLE, ""), OP_EQ(PROP_DC_DATE, "a)b(c")))"},
    {"dc:title = \"caf\xC3\xA9 \x01\"", kStd, "OP_EQ(PROP_DC_TITLE, \"caf\xC3\xA9 \x01\")"},
    // Tolerated: an unquoted one-word value, a quoted or upper-case boolean.
    {"upnp:class = object.item.audioItem and dc:date >= 2001-10-01", kStd,
     R"(OP_AND(OP_EQ(PROP_UPNP_CLASS, "object.item.audioItem"), OP_GE(PROP_DC_DATE, "2001-10-01")))"},
    {"(upnp:class=object.item)", kStd, R"(GROUP(OP_EQ(PROP_UPNP_CLASS, "object.item")))"},
    {R"(@refID exists FALSE and res exists "True")", kStd,
     R"(OP_AND(OP_EXISTS(PROP_REFID, "false"), OP_EXISTS(PROP_RES, "true")))"},
    // "*" alone is the always-true comparison; blanks only give no tree.
    {" * ", kStd, R"(OP_EQ("1", "1"))"},
    {" \t\r\n ", kStd, "null"},
    // The identifier rewrite, silently; never for exists.
    {R"(@id = "abc$8454145" and @refID != "65536" and @id exists true)", kStd,
     R"(OP_AND(OP_EQ(PROP_ID, "129"), OP_AND(OP_NE(PROP_REFID, "1"), OP_EXISTS(PROP_ID, "true"))))"},
    {R"(@ID = "A0$-65537")", kStd, R"(OP_EQ(PROP_ID, "-2"))"},
    // Property names are whole tokens: longer names are other properties.
    {R"(upnp:albumArtist = "x" or upnp:album = "y" or res@size > "9")", kKeep,
     R"(OP_OR(OP_EQ(PROP127, "x"), OP_OR(OP_EQ(PROP_UPNP_ALBUM, "y"), OP_GT(PROP127, "9"))))"},
    {R"(@id = "65536" and res@duration exists true)", kKeep,
     R"(OP_AND(OP_EQ(PROP_ID, "1"), OP_EXISTS(PROP127, "true")))"},
    // A property name may carry an attribute filter; unlisted, it is unknown like any other.
    {R"(upnp:artist[@role="Composer"] = "x" or upnp:artist@role = "y")", kKeep,
     R"(OP_OR(OP_EQ(PROP127, "x"), OP_EQ(PROP127, "y")))"},
    // startsWith: a whole keyword in any case.
    {R"(upnp:album startsWith "Midnight" and dc:title STARTSWITH "a\"b")", kStd,
     R"(OP_AND(OP_STARTS_WITH(PROP_UPNP_ALBUM, "Midnight"), OP_STARTS_WITH(PROP_DC_TITLE, "a"b")))"},
    // Host properties: the names exactly as listed, but for blanks around the filter's "=" and
    // the escapes of its value; built-in names keep their ids.
    {R"(last_updated > "2024-09-12" and upnp:artist[@role="AlbumArtist"] startsWith "Various")", kStd,
     R"(OP_AND(OP_GT(PROP128, "2024-09-12"), OP_STARTS_WITH(PROP129, "Various")))", kHost},
    {"upnp:artist[@role\t=  \"AlbumArtist\"]=x or upnp:artist[@role=\"A\\\"B]\"] exists true", kStd,
     R"(OP_OR(OP_EQ(PROP129, "x"), OP_EXISTS(PROP131, "true")))", kHost},
    {R"(res@duration < "0:30:00" and RES@DURATION < "1" and Last_Updated = "a" and dc:title = "b")", kKeep,
     R"(OP_AND(OP_LT(PROP130, "0:30:00"), OP_AND(OP_LT(PROP127, "1"), OP_AND(OP_EQ(PROP127, "a"), OP_EQ(PROP_DC_TITLE, "b")))))",
     kHost},
    {R"(upnp:artist[@role="albumartist"] = "x" or upnp:artist[@role="AlbumArtist "] = "y")", kKeep,
     R"(OP_OR(OP_EQ(PROP127, "x"), OP_EQ(PROP127, "y")))", kHost},
};

TEST(StandardGrammar, ParsesWholeTrees) {
    std::vector<std::string> trees;
    std::string errors;
    std::string output = CaptureStdout([&] {
        errors = CaptureStderr([&] {
            for (const TreeCase &c : kTreeCases) trees.push_back(ParseExToString(c.criteria, c.options, c.host));
        });
    });
    EXPECT_EQ(output, "");
    EXPECT_EQ(errors, "");
    ASSERT_EQ(trees.size(), std::size(kTreeCases));
    for (size_t i = 0; i < trees.size(); ++i) {
        EXPECT_EQ(trees[i], kTreeCases[i].tree) << kTreeCases[i].criteria;
    }
}

struct ErrorCase {
    const char *criteria;
    unsigned options;
    SearchParseErrorCode code;
    int offset;
    const TokenEntry *host = nullptr;
};

// Groups nested one level deeper than the parser takes: the first parenthesis past the bound.
const std::string kTooDeep =
    Repeat("(", MSC_MAX_NESTING + 1) + R"(dc:title = "a")" + Repeat(")", MSC_MAX_NESTING + 1);

const ErrorCase kErrorCases[] = {
    {kTooDeep.c_str(), kStd, SEARCH_PARSE_TOO_DEEP, MSC_MAX_NESTING},
    {R"(upnp:author = "x")", kStd, SEARCH_PARSE_UNKNOWN_PROPERTY, 0},
    //  ^ not in the vocabulary
    {R"(dc:title = "a" or dc:publisher = "b")", kStd, SEARCH_PARSE_UNKNOWN_PROPERTY, 18},
    //                    ^
    {R"(dc:titleabc = "a")", kStd, SEARCH_PARSE_UNKNOWN_PROPERTY, 0},
    {R"("dc:title" = "a")", kKeep, SEARCH_PARSE_NO_PROPERTY, 0},
    {R"(and dc:title = "a")", kStd, SEARCH_PARSE_NO_PROPERTY, 0},
    {R"(dc:title = "a" and)", kStd, SEARCH_PARSE_NO_PROPERTY, 18},
    //                    ^ the end
    {R"(dc:title = "a" and * )", kStd, SEARCH_PARSE_NO_PROPERTY, 19},
    //                     ^
    {"()", kStd, SEARCH_PARSE_NO_PROPERTY, 1},
    {"dc:title", kStd, SEARCH_PARSE_UNKNOWN_OPERATOR, 8},
    {R"(dc:title like "a")", kStd, SEARCH_PARSE_UNKNOWN_OPERATOR, 9},
    //           ^
    {R"(dc:title == "a")", kStd, SEARCH_PARSE_UNKNOWN_OPERATOR, 9},
    {R"(dc:title <> "a")", kStd, SEARCH_PARSE_UNKNOWN_OPERATOR, 9},
    {R"(dc:title containsx "a")", kStd, SEARCH_PARSE_UNKNOWN_OPERATOR, 9},
    {R"(dc:title and dc:date = "a")", kStd, SEARCH_PARSE_UNKNOWN_OPERATOR, 9},
    {"dc:title =", kStd, SEARCH_PARSE_MISSING_VALUE, 10},
    {R"(dc:title = and dc:date = "a")", kStd, SEARCH_PARSE_MISSING_VALUE, 11},
    //             ^ a keyword, not a value
    {R"(dc:title = ("a"))", kStd, SEARCH_PARSE_MISSING_VALUE, 11},
    {"dc:title exists maybe", kStd, SEARCH_PARSE_MISSING_VALUE, 16},
    //                ^ exists takes true or false
    {R"(dc:title = "abc)", kStd, SEARCH_PARSE_UNTERMINATED_QUOTE, 11},
    //             ^ never closed
    {R"(dc:title = "abc\")", kStd, SEARCH_PARSE_UNTERMINATED_QUOTE, 11},
    {R"((dc:title = "a")", kStd, SEARCH_PARSE_UNBALANCED_PARENTHESES, 0},
    {R"x(((dc:title = "a") and (dc:date = "b"))x", kStd, SEARCH_PARSE_UNBALANCED_PARENTHESES, 0},
    //   ^ the outer group is never closed
    {R"(dc:title = "a"))", kStd, SEARCH_PARSE_UNBALANCED_PARENTHESES, 14},
    {R"() or dc:title = "a")", kStd, SEARCH_PARSE_UNBALANCED_PARENTHESES, 0},
    {R"(dc:title = "a" dc:date = "b")", kStd, SEARCH_PARSE_TRAILING_TEXT, 15},
    //                 ^ no and/or
    {R"(dc:title = "a"and2 dc:date = "b")", kStd, SEARCH_PARSE_TRAILING_TEXT, 14},
    {R"((dc:title = "a" "b"))", kStd, SEARCH_PARSE_TRAILING_TEXT, 16},
    {R"(dc:title = "a"b)", kStd, SEARCH_PARSE_TRAILING_TEXT, 14},
    {"* and dc:title = \"a\"", kStd, SEARCH_PARSE_TRAILING_TEXT, 2},
    {"dc:title = abc\x01", kStd, SEARCH_PARSE_TRAILING_TEXT, 14},
    {R"(dc:title = "a")", 0x4, SEARCH_PARSE_INVALID_ARGUMENT, 0},
    {R"(dc:title = "a")", SEARCH_PARSE_KEEP_UNKNOWN, SEARCH_PARSE_INVALID_ARGUMENT, 0},
    // A filter that is not whole ends the name at its "[".
    {R"(upnp:artist[role="x"] = "y")", kKeep, SEARCH_PARSE_UNKNOWN_OPERATOR, 11, kHost},
    //             ^
    {R"(upnp:artist[@role="AlbumArtist" ] = "y")", kKeep, SEARCH_PARSE_UNKNOWN_OPERATOR, 11, kHost},
    {R"(upnp:artist[@role="AlbumArtist] = "y")", kKeep, SEARCH_PARSE_UNKNOWN_OPERATOR, 11, kHost},
    {R"(upnp:artist[@role="Composer"] = "x")", kStd, SEARCH_PARSE_UNKNOWN_PROPERTY, 0, kHost},
    {R"(dc:title = "a" or last_updated > "b")", kStd, SEARCH_PARSE_UNKNOWN_PROPERTY, 18},
    //                    ^ no host table
    {R"(dc:title startsWith)", kStd, SEARCH_PARSE_MISSING_VALUE, 19},
    {R"(dc:title startsWithx "a")", kStd, SEARCH_PARSE_UNKNOWN_OPERATOR, 9},
    {R"(dc:title startsWith "a")", 0, SEARCH_PARSE_UNKNOWN_OPERATOR, 9},
    //           ^ the classic grammar has no startsWith
    // Host tables that the parser could misread are refused whole, before the criteria.
    {R"(dc:title = "a")", kStd, SEARCH_PARSE_INVALID_ARGUMENT, 0, kBadIds},
    {R"(dc:title = "a")", kStd, SEARCH_PARSE_INVALID_ARGUMENT, 0, kZeroInside},
    {R"(dc:title = "a")", kStd, SEARCH_PARSE_INVALID_ARGUMENT, 0, kBlankName},
    {R"(dc:title = "a")", kStd, SEARCH_PARSE_INVALID_ARGUMENT, 0, kTrailingText},
    {R"(dc:title = "a")", kStd, SEARCH_PARSE_INVALID_ARGUMENT, 0, kOpenFilter},
    {R"(dc:title = "a")", kStd, SEARCH_PARSE_INVALID_ARGUMENT, 0, kNoName},
    {R"(dc:title = "a")", 0, SEARCH_PARSE_INVALID_ARGUMENT, 0, kEmptyName},
    {R"(dc:title = "a")", kStd, SEARCH_PARSE_INVALID_ARGUMENT, 0, kNullConfig},
    // The classic grammar (options 0) reports through the same record.
    {"   *", 0, SEARCH_PARSE_NO_PROPERTY, 3},
    //   ^
    {"dc:title abc", 0, SEARCH_PARSE_UNKNOWN_OPERATOR, 9},
    //         ^
    {"dc:title = abc\xC3", 0, SEARCH_PARSE_UNKNOWN_OPERATOR, 14},
    //               ^ an empty token
    {"dc:title =  ", 0, SEARCH_PARSE_MISSING_VALUE, 12},
    //              ^ the end of the range
    {"x or (dc:title", 0, SEARCH_PARSE_NO_PROPERTY, 0},
    {"dc:title or (dc:title", 0, SEARCH_PARSE_UNBALANCED_PARENTHESES, 12},
    //            ^
    {"(dc:title) x", 0, SEARCH_PARSE_TRAILING_TEXT, 11},
    //           ^
    {kTooDeep.c_str(), 0, SEARCH_PARSE_TOO_DEEP, MSC_MAX_NESTING},
};

TEST(StandardGrammar, ReportsWhereAndWhy) {
    for (const ErrorCase &c : kErrorCases) {
        std::string expected = "FAIL " + std::to_string(c.code) + "@" + std::to_string(c.offset);
        EXPECT_EQ(ParseExToString(c.criteria, c.options, c.host), expected) << c.criteria;
    }
}

const TokenEntry kColumns[] = {
    {PROP_DC_TITLE, "title"},   {PROP_DC_DATE, "date"},          {PROP_DC_CREATOR, "creator"},
    {PROP_UPNP_CLASS, "class"}, {PROP_UPNP_ACTOR, "actor"},      {PROP_UPNP_ARTIST, "artist"},
    {PROP_UPNP_ALBUM, "album"}, {PROP_UPNP_GENRE, "genre"},      {PROP_REFID, "ref_id"},
    {PROP_ID, "id"},            {PROP_RES, "res"},               {PROP_UPNP_ORIGINAL_TRACK_NUMBER, "track"},
    {0, nullptr}};

// Unknown properties taken out of play by the host's rewrite, then the whole SQL text.
struct SqlCase {
    const char *criteria;
    const char *sql;
};

const SqlCase kSqlCases[] = {
    {R"(upnp:author = "x" and dc:title = "y")", " '1'  =  '1'  AND  title  =  'y' "},
    {R"(dc:title = "y" or upnp:author = "x" and dc:date = "z")",
     " title  =  'y'  OR  '1'  =  '1'  AND  date  =  'z' "},
    {R"(dc:title = "y" or upnp:author = "x" or dc:date = "z")",
     " title  =  'y'  OR  '1'  =  '0'  OR  date  =  'z' "},
    {R"((res@size > "1" or dc:title contains "O'B") and @refID exists false)",
     " (  '1'  =  '0'  OR  title  LIKE  '%O''B%'  )  AND  ref_id  IS  NOT NULL "},
    {"*", " '1'  =  '1' "},
};

TEST(StandardGrammar, WritesWholeSqlAfterRewrite) {
    for (const SqlCase &c : kSqlCases) {
        SearchParseError error;
        int result = -1;
        TreePtr tree = ParseEx(c.criteria, kKeep, &error, &result);
        ASSERT_EQ(result, 0) << c.criteria;
        EXPECT_EQ(SetAlwayTrueForNonSupportedProperty(tree.get(), kColumns), 0);
        EXPECT_EQ(ToSql(tree.get(), kColumns), c.sql) << c.criteria;
    }
}

// ---------------------------------------------------------------------------------------------
// The corpus: every text under tests/corpus, one per file or one per line of a .tsv.

std::vector<std::string> ReadCriteriaFile(const std::filesystem::path &path) {
    if (!std::filesystem::is_regular_file(path)) return {};
    if (path.extension() == ".tsv") {
        std::vector<std::string> texts;
        for (auto &row : ReadCriteriaTable(path.string())) texts.push_back(std::move(row.second));
        return texts;
    }
    std::ifstream in(path, std::ios::binary);
    return {std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>())};
}

std::vector<std::string> ClientCriteria() {
    std::vector<std::string> texts;
    for (const char *name : {"client-criteria.tsv", "client-criteria-more.tsv"}) {
        for (std::string &text : ReadCriteriaFile(std::string(MSC_TEST_CORPUS_DIR) + "/" + name)) {
            texts.push_back(std::move(text));
        }
    }
    return texts;
}

// With options 0 the extended entry point is the classic parser, only quiet: same result and
// same tree for every text of the corpus and every prefix of it.
TEST(StandardGrammar, OptionsZeroIsTheClassicParser) {
    std::vector<std::string> corpus;
    for (const auto &entry : std::filesystem::directory_iterator(MSC_TEST_CORPUS_DIR)) {
        for (std::string &text : ReadCriteriaFile(entry.path())) corpus.push_back(std::move(text));
    }
    for (const TreeCase &c : kTreeCases) corpus.push_back(c.criteria);
    for (const ErrorCase &c : kErrorCases) corpus.push_back(c.criteria);
    ASSERT_GT(corpus.size(), 80u);

    // Every prefix of every text: first all classic parses (their messages discarded), then all
    // quiet ones, which must write nothing.
    struct Outcome {
        int result;
        std::string tree;
        SearchParseError error;
    };
    std::vector<Outcome> classic, quiet;
    auto parseAll = [&](bool extended, std::vector<Outcome> *outcomes) {
        for (const std::string &text : corpus) {
            for (int last = -1; last < static_cast<int>(text.size()); ++last) {
                ParseTreeNode *tree = nullptr;
                SearchParseError error = {-7, -7};
                int result = extended ? Parse_searchExpEx(&tree, text.c_str(), 0, last, 0, &error)
                                      : Parse_searchExp(&tree, text.c_str(), 0, last);
                outcomes->push_back({result, TreeToString(tree), error});
                freeParseTree(tree);
            }
        }
    };
    CaptureStderr([&] { parseAll(false, &classic); });
    EXPECT_EQ(CaptureStderr([&] { parseAll(true, &quiet); }), "");

    ASSERT_EQ(quiet.size(), classic.size());
    EXPECT_GT(quiet.size(), 3000u);
    size_t index = 0;
    for (const std::string &text : corpus) {
        for (int last = -1; last < static_cast<int>(text.size()); ++last, ++index) {
            const Outcome &c = classic[index];
            const Outcome &q = quiet[index];
            ASSERT_EQ(q.result, c.result) << text << " [0, " << last << "]";
            ASSERT_EQ(q.tree, c.tree) << text << " [0, " << last << "]";
            if (q.result == 0) {
                ASSERT_EQ(q.error.code, SEARCH_PARSE_OK) << text;
                ASSERT_EQ(q.error.offset, -1) << text;
            } else {
                ASSERT_NE(q.error.code, SEARCH_PARSE_OK) << text;
                ASSERT_GE(q.error.offset, 0) << text;
                ASSERT_LE(q.error.offset, last + 1) << text;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Client criteria keep every condition. The oracle reads the text with regular expressions,
// independently of the parser, into the sequence of parentheses, logical keywords and
// conditions; an in-order walk of the tree must give back the same sequence.

std::string Lower(std::string text) {
    for (char &c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

int IdOf(const TokenEntry *table, const std::string &name) {
    for (; table->id != 0; ++table) {
        if (Lower(table->name) == Lower(name)) return table->id;
    }
    return 0;
}

std::string Condition(int propertyId, int opId, const std::string &value) {
    return "[" + std::to_string(propertyId) + " " + std::to_string(opId) + " " + value + "]";
}

std::vector<std::string> OracleTokens(const std::string &text) {
    static const std::regex kToken(
        R"re(\s*(?:([()*])|(and|or)(?![\w@:.-])|([A-Za-z_@][\w@:.-]*)\s*(!=|<=|>=|=|<|>|[A-Za-z]+)\s*("(?:[^"\\]|\\.)*"|[^\s()"]+)))re",
        std::regex::icase);
    std::vector<std::string> tokens;
    auto at = text.cbegin();
    std::smatch m;
    while (at != text.cend() &&
           std::regex_search(at, text.cend(), m, kToken, std::regex_constants::match_continuous)) {
        at = m[0].second;
        if (m[1].matched) tokens.push_back(m[1].str());
        if (m[2].matched) tokens.push_back(Lower(m[2].str()));
        if (!m[3].matched) continue;
        int propertyId = IdOf(g_PropertyName, m[3].str());
        int opId = IdOf(g_BinOpName, m[4].str());
        if (opId == 0) opId = IdOf(g_ExistOpName, m[4].str());
        std::string value = m[5].str();
        if (value[0] == '"') {
            value = std::regex_replace(value.substr(1, value.size() - 2), std::regex(R"(\\(["\\]))"), "$1");
        }
        if (opId == OP_EXISTS) value = Lower(value);
        if ((propertyId == PROP_ID || propertyId == PROP_REFID) && opId != OP_EXISTS) {
            long long number = strtoll(value.c_str() + value.rfind('$') + 1, nullptr, 10);
            value = std::to_string(static_cast<int64_t>(static_cast<int32_t>(number)) >> 16);
        }
        tokens.push_back(Condition(propertyId != 0 ? propertyId : PROP_UNKNOWN, opId, value));
    }
    while (at != text.cend() && isspace(static_cast<unsigned char>(*at))) ++at;
    if (at != text.cend()) tokens.push_back("UNREAD: " + std::string(at, text.cend()));
    return tokens;
}

void TreeTokens(const ParseTreeNode *node, std::vector<std::string> *tokens) {
    if (node == nullptr) {
        tokens->push_back("NULL");
    } else if (node->kind == NODE_GROUP) {
        tokens->push_back("(");
        TreeTokens(node->inner, tokens);
        tokens->push_back(")");
    } else if (node->kind == NODE_OPERATOR && (node->opId == OP_AND || node->opId == OP_OR)) {
        TreeTokens(node->left, tokens);
        tokens->push_back(node->opId == OP_AND ? "and" : "or");
        TreeTokens(node->right, tokens);
    } else if (node->kind == NODE_OPERATOR && node->left != nullptr && node->right != nullptr &&
               node->left->kind == NODE_PROPERTY && node->right->kind == NODE_VALUE) {
        tokens->push_back(Condition(node->left->propertyId, node->opId, node->right->text));
    } else if (TreeToString(node) == R"(OP_EQ("1", "1"))") {
        tokens->push_back("*");
    } else {
        tokens->push_back("UNEXPECTED " + TreeToString(node));
    }
}

// SQLite must accept the SQL of every client criteria in a query over the host's columns.
class SqlDatabase {
public:
    SqlDatabase() {
        sqlite3_open(":memory:", &db_);
        Exec("CREATE TABLE objects (title, date, creator, class, actor, artist, album, genre, "
             "ref_id, id, res, track)");
    }
    ~SqlDatabase() { sqlite3_close(db_); }
    std::string Exec(const std::string &sql) {
        char *message = nullptr;
        int code = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
        std::string text = code == SQLITE_OK ? "" : message != nullptr ? message : "error";
        sqlite3_free(message);
        return text;
    }
    // Prepares and runs SELECT over the condition; "" when SQLite takes it, else its message.
    std::string Run(const std::string &condition, std::vector<int> *rows = nullptr) {
        std::string sql = "SELECT rowid FROM objects WHERE " + condition;
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            return sqlite3_errmsg(db_);
        }
        int code;
        while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
            if (rows != nullptr) rows->push_back(sqlite3_column_int(statement, 0));
        }
        sqlite3_finalize(statement);
        return code == SQLITE_DONE ? "" : sqlite3_errmsg(db_);
    }

private:
    sqlite3 *db_ = nullptr;
};

TEST(StandardGrammar, ClientCriteriaKeepEveryConditionAndRunInSqlite) {
    std::vector<std::string> criteria = ClientCriteria();
    ASSERT_GT(criteria.size(), 40u);
    SqlDatabase db;
    for (const std::string &text : criteria) {
        SearchParseError error;
        int result = -1;
        TreePtr tree = ParseEx(text, kKeep, &error, &result);
        ASSERT_EQ(result, 0) << text << " stopped at " << error.offset << " with " << error.code;
        std::vector<std::string> fromTree;
        TreeTokens(tree.get(), &fromTree);
        EXPECT_EQ(fromTree, OracleTokens(text)) << text;

        ASSERT_EQ(SetAlwayTrueForNonSupportedProperty(tree.get(), kColumns), 0);
        std::string sql = ToSql(tree.get(), kColumns);
        EXPECT_EQ(db.Run(sql), "") << text << "\n" << sql;
        EXPECT_EQ(db.Run(ToSql(tree.get(), kColumns, "objects.")), "") << text;
    }
}

// Written flat, AND binding tighter than OR in SQL as in the grammar, the SQL selects exactly
// the rows for which the criteria holds. Every and/or pattern of four conditions runs over the
// sixteen rows that make each condition true or false; the expected rows come from the
// criteria read as or-ed runs of and-ed conditions.
TEST(StandardGrammar, FlatSqlKeepsPrecedence) {
    SqlDatabase db;
    const char *const kConditions[] = {R"(dc:title = "a")", R"(dc:date = "a")",
                                       R"(dc:creator = "a")", R"(upnp:genre = "a")"};
    for (int row = 0; row < 16; ++row) {
        std::string values;
        for (int bit = 0; bit < 4; ++bit) values += (row >> bit & 1) ? ", 'a'" : ", 'b'";
        ASSERT_EQ(db.Exec("INSERT INTO objects (rowid, title, date, creator, genre) VALUES (" +
                          std::to_string(row) + values + ")"),
                  "");
    }
    for (int pattern = 0; pattern < 8; ++pattern) {
        std::string text = kConditions[0];
        for (int i = 1; i < 4; ++i) text += std::string((pattern >> (i - 1) & 1) ? " or " : " and ") + kConditions[i];
        std::vector<int> expected;
        for (int row = 0; row < 16; ++row) {
            bool any = false, run = (row & 1) != 0;
            for (int i = 1; i < 4; ++i) {
                bool holds = (row >> i & 1) != 0;
                if (pattern >> (i - 1) & 1) {
                    any = any || run;
                    run = holds;
                } else {
                    run = run && holds;
                }
            }
            if (any || run) expected.push_back(row);
        }
        SearchParseError error;
        int result = -1;
        TreePtr tree = ParseEx(text, kStd, &error, &result);
        ASSERT_EQ(result, 0) << text;
        std::vector<int> selected;
        EXPECT_EQ(db.Run(ToSql(tree.get(), kColumns), &selected), "");
        EXPECT_EQ(selected, expected) << text;
    }
}

// One allocation per node and per value text; failing each in turn gives a clean failure.
TEST(StandardGrammar, FailsCleanlyWhenMemoryRunsOut) {
    const char *text = R"((upnp:class = "c" or @id = "65536") and upnp:author exists true)";
    const int last = static_cast<int>(strlen(text)) - 1;
    ParseTreeNode *tree = nullptr;
    OpenAllocationWindow();
    EXPECT_EQ(Parse_searchExpEx(&tree, text, 0, last, kKeep, nullptr), 0);
    long allocations = CloseAllocationWindow();
    EXPECT_EQ(TreeToString(tree),
              R"(OP_AND(GROUP(OP_OR(OP_EQ(PROP_UPNP_CLASS, "c"), OP_EQ(PROP_ID, "1"))), OP_EXISTS(PROP127, "true")))");
    freeParseTree(tree);
    EXPECT_EQ(allocations, 12 /*nodes*/ + 3 /*texts*/);

    for (long n = 1; n <= allocations; ++n) {
        SearchParseError error = {0, 0};
        tree = reinterpret_cast<ParseTreeNode *>(&n);
        OpenAllocationWindow(n);
        int result = Parse_searchExpEx(&tree, text, 0, last, kKeep, &error);
        CloseAllocationWindow();
        EXPECT_EQ(result, 1) << n;
        EXPECT_EQ(tree, nullptr) << n;
        EXPECT_EQ(error.code, SEARCH_PARSE_OUT_OF_MEMORY) << n;
    }
}

}  // namespace
