// The header-only C++ wrapper, used the way a C++ host uses it: each member must give exactly
// what its C function gives, own what the C function hands out, and never cut a text.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "AllocationHooks.h"
#include "TreeText.h"
#include "mysearchcriteria.hpp"

using namespace msc_test;

namespace {

static_assert(!std::is_copy_constructible_v<msc::Tree> && !std::is_copy_assignable_v<msc::Tree>,
              "a Tree is copied only through clone()");
static_assert(std::is_nothrow_move_constructible_v<msc::Tree> &&
                  std::is_nothrow_move_assignable_v<msc::Tree>,
              "a Tree moves without allocating");

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"},   {PROP_DC_DATE, "date"},
                               {PROP_UPNP_CLASS, "class"}, {PROP_UPNP_ARTIST, "artist"},
                               {PROP_REFID, "ref_id"},     {0, nullptr}};

struct WrapperParseCase {
    std::string criteria;
    unsigned options;
    const char *tree;  // TreeToString of the tree, or "FAIL"
    int code;
    int offset;
    const TokenEntry *host = nullptr;
};

const TokenEntry kHost[] = {{PROP_HOST_FIRST, "last_updated"}, {0, nullptr}};
const TokenEntry kBadHost[] = {{PROP_UNKNOWN, "last_updated"}, {0, nullptr}};

TEST(CxxWrapper, ParseGivesTheTreeOrTheErrorRecord) {
    const WrapperParseCase cases[] = {
        {R"(dc:title = "abc")", 0, R"(OP_EQ(PROP_DC_TITLE, "abc"))", SEARCH_PARSE_OK, -1},
        {"", 0, "null", SEARCH_PARSE_OK, -1},
        // A NUL inside the text is a blank: the whole view is parsed, not up to its first NUL.
        {std::string("dc:title\0= x", 12), 0, R"(OP_EQ(PROP_DC_TITLE, "x"))", SEARCH_PARSE_OK, -1},
        {"dc:title =", 0, "FAIL", SEARCH_PARSE_MISSING_VALUE, 10},
        //          ^ the value would start past the end
        {R"(dc:title = "a" and (dc:date = "b")", 0, "FAIL", SEARCH_PARSE_UNBALANCED_PARENTHESES, 19},
        //                     ^ never closed
        // The options reach the parser: a bit that no option uses is refused.
        {R"(dc:title = "abc")", 0x80, "FAIL", SEARCH_PARSE_INVALID_ARGUMENT, 0},
        {Repeat("(", 300) + "dc:title" + Repeat(")", 300), 0, "FAIL", SEARCH_PARSE_TOO_DEEP, 256},
        // The host's property names reach the parser.
        {R"(last_updated > "2024")", SEARCH_PARSE_STANDARD, R"(OP_GT(PROP128, "2024"))", SEARCH_PARSE_OK, -1, kHost},
        {R"(last_updated > "2024")", SEARCH_PARSE_STANDARD, "FAIL", SEARCH_PARSE_INVALID_ARGUMENT, 0, kBadHost},
    };
    for (const WrapperParseCase &c : cases) {
        std::string stderrText = CaptureStderr([&] {
            msc::ParseResult result = msc::parse(c.criteria, c.options, c.host);
            EXPECT_EQ(result.ok(), c.code == SEARCH_PARSE_OK) << c.criteria;
            EXPECT_EQ(static_cast<bool>(result), result.ok()) << c.criteria;
            EXPECT_EQ(result.ok() ? TreeToString(result.tree.get()) : std::string("FAIL"), c.tree)
                << c.criteria;
            if (!result.ok()) {
                EXPECT_FALSE(result.tree) << c.criteria;
            }
            EXPECT_EQ(result.error.code, c.code) << c.criteria;
            EXPECT_EQ(result.error.offset, c.offset) << c.criteria;
        });
        EXPECT_EQ(stderrText, "") << c.criteria;  // The wrapper parses quietly.
    }
}

// A string_view is not NUL-terminated, and the parser matches keywords up to a NUL: without a
// terminated copy, "upnp:a" cut from "upnp:album" would read on and find upnp:album.
TEST(CxxWrapper, ParseStopsAtTheEndOfTheView) {
    const std::string whole = R"(upnp:album = "x")";
    EXPECT_EQ(TreeToString(msc::parse(std::string_view(whole).substr(0, 6)).tree.get()),
              "PROP_UPNP_ACTOR");
    // Bytes that are not the caller's to read follow the view directly.
    std::array<char, 16> unterminated;
    memcpy(unterminated.data(), R"(dc:title = "abc")", unterminated.size());
    msc::ParseResult result = msc::parse(std::string_view(unterminated.data(), unterminated.size()));
    EXPECT_EQ(TreeToString(result.tree.get()), R"(OP_EQ(PROP_DC_TITLE, "abc"))");
}

TEST(CxxWrapper, TreeOwnsItsRootAndMoves) {
    msc::Tree tree = msc::parse(R"(dc:title = "a")").tree;
    const ParseTreeNode *root = tree.get();
    ASSERT_NE(root, nullptr);

    msc::Tree moved(std::move(tree));
    EXPECT_FALSE(tree);
    EXPECT_EQ(moved.get(), root);

    msc::Tree assigned = msc::parse("dc:date").tree;
    assigned = std::move(moved);  // Frees the dc:date tree (a leak shows under the sanitizer).
    EXPECT_EQ(assigned.get(), root);

    ParseTreeNode *released = assigned.release();
    EXPECT_FALSE(assigned);
    EXPECT_EQ(TreeToString(released), R"(OP_EQ(PROP_DC_TITLE, "a"))");
    msc::Tree adopted(released);
    EXPECT_EQ(adopted.get(), released);
}

TEST(CxxWrapper, CloneOutlivesOriginal) {
    const char *criteria = R"((dc:title contains "a" or upnp:artist exists true) and dc:date)";
    msc::Tree original = msc::parse(criteria).tree;
    const std::string text = TreeToString(original.get());
    msc::Tree copy = original.clone();
    original.reset();  // The copy must share no memory with the original.
    EXPECT_EQ(TreeToString(copy.get()), text);
    EXPECT_EQ(TreeToString(copy.get()),
              R"(OP_AND(GROUP(OP_OR(OP_CONTAINS(PROP_DC_TITLE, "a"), OP_EXISTS(PROP_UPNP_ARTIST, "true"))), PROP_DC_DATE))");

    EXPECT_FALSE(msc::Tree().clone());
    // A root of an unknown kind has no copy; that is no shortage of memory.
    EXPECT_FALSE(msc::Tree(OfKind(7)).clone());
}


struct WrapperSqlCase {
    std::string criteria;
    const char *prefix;
    std::string sql;
    const SqlOptions *options = nullptr;
};

const SqlOptions kPostgresqlLiteral = {SQL_DIALECT_POSTGRESQL, SQL_LITERAL_PATTERNS};
const SqlOptions kMysql = {SQL_DIALECT_MYSQL, 0};

TEST(CxxWrapper, ToSqlGivesTheWholeText) {
    // " title  =  '" is 12 bytes and "' " 2: values of 497, 498 and 499 bytes give texts of
    // 511, 512 and 513 bytes, around the size of the wrapper's first buffer.
    const std::string v497(497, 'v'), v498(498, 'v'), v499(499, 'v'), v5000(5000, 'w');
    std::string longList = R"(dc:title = "a")";
    std::string longListSql = " title  =  'a' ";
    for (int i = 0; i < 300; ++i) {
        longList += R"( or dc:date >= "2001")";
        longListSql += " OR  date  >=  '2001' ";
    }
    const WrapperSqlCase cases[] = {
        {R"(dc:title contains "abc" and upnp:class = "abc")", "t.",
         " t.title  LIKE  '%abc%'  AND  t.class  =  'abc' "},
        {"", nullptr, ""},
        {"dc:title = " + v497, nullptr, " title  =  '" + v497 + "' "},
        {"dc:title = " + v498, nullptr, " title  =  '" + v498 + "' "},
        {"dc:title = " + v499, nullptr, " title  =  '" + v499 + "' "},
        {"dc:title = " + v5000, "t.", " t.title  =  '" + v5000 + "' "},
        {longList, nullptr, longListSql},
        {R"(dc:title contains "a%")", nullptr, " title  ILIKE  '%a!%%' ESCAPE '!' ", &kPostgresqlLiteral},
        {"dc:title = " + v5000, nullptr, " title  =  _utf8mb4 X'" + Repeat("77", 5000) + "' ", &kMysql},
    };
    for (const WrapperSqlCase &c : cases) {
        msc::ParseResult parsed = msc::parse(c.criteria);
        ASSERT_TRUE(parsed) << c.criteria;
        std::string sql = parsed.tree.to_sql(kColumns, c.prefix, c.options);
        EXPECT_EQ(sql, c.sql) << c.criteria;
        EXPECT_EQ(sql.size(), strlen(sql.c_str())) << c.criteria;  // No NUL inside.
        // The one call writes the same text, whole, around its first buffer's size too.
        SearchOptions options = {{0, nullptr}, kColumns, nullptr, nullptr, c.prefix,
                                 c.options != nullptr ? *c.options : SqlOptions{SQL_DIALECT_SQLITE, 0}, nullptr, 0};
        msc::SearchResult found = msc::search(c.criteria, options);
        EXPECT_TRUE(found) << c.criteria;
        EXPECT_EQ(found.sql, c.sql) << c.criteria;
    }
    const SearchOptions noParse = {{0, nullptr}, kColumns, nullptr, nullptr, nullptr, {SQL_DIALECT_SQLITE, 0}, nullptr, 0};
    msc::SearchResult failed = msc::search("dc:title = ", noParse);
    EXPECT_FALSE(failed);
    EXPECT_EQ(failed.sql, "");
    EXPECT_STREQ(failed.message(), "missing value after the operator");
    const SqlOptions unknown = {SQL_DIALECT_MYSQL + 1, 0};
    EXPECT_THROW(msc::parse("dc:title = \"a\"").tree.to_sql(kColumns, nullptr, &unknown), std::invalid_argument);
}

struct WrapperQueryCase {
    const char *criteria;
    std::vector<int> properties;
    const char *upnpClass;  // nullptr when there is none
};

TEST(CxxWrapper, PropertiesAndClass) {
    const WrapperQueryCase cases[] = {
        {"", {}, nullptr},
        {R"(dc:title = "a" and (upnp:class = "object.item" or dc:title = "c"))",
         {PROP_DC_TITLE, PROP_UPNP_CLASS, PROP_DC_TITLE}, "object.item"},
        {R"(upnp:class derivedfrom "object.container" or upnp:class = "object.item")",
         {PROP_UPNP_CLASS, PROP_UPNP_CLASS}, "object.container"},
        {"(upnp:class) and dc:date", {PROP_UPNP_CLASS, PROP_DC_DATE}, nullptr},
        {R"(upnp:class = "")", {PROP_UPNP_CLASS}, ""},
        {"dc:title or dc:date or dc:creator or upnp:class or upnp:actor or upnp:artist or "
         "upnp:album or upnp:genre or @refID or @id or res",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
         nullptr},
    };
    for (const WrapperQueryCase &c : cases) {
        msc::Tree tree = msc::parse(c.criteria).tree;
        EXPECT_EQ(tree.properties(), c.properties) << c.criteria;
        std::optional<std::string_view> upnpClass = tree.upnp_class();
        ASSERT_EQ(upnpClass.has_value(), c.upnpClass != nullptr) << c.criteria;
        if (!upnpClass) continue;
        EXPECT_EQ(*upnpClass, c.upnpClass) << c.criteria;
        // The view is the tree's own text, as GetUPnPClass gives it, not a copy.
        EXPECT_EQ(upnpClass->data(), GetUPnPClass(tree.get())) << c.criteria;
    }
}

struct RewriteCase {
    const char *criteria;
    std::function<int(msc::Tree &)> member;
    std::function<int(ParseTreeNode *)> function;
    bool changes;
};

// Each rewrite member is its C function on the same tree, in place and with the same result,
// also when run again on the rewritten tree.
TEST(CxxWrapper, RewritesAreTheCFunctionsInPlace) {
    static const TokenEntry kSupported[] = {{PROP_DC_TITLE, nullptr}, {0, nullptr}};
    const RewriteCase cases[] = {
        {R"(dc:date = "b" or dc:title = "a")",
         [](msc::Tree &t) { return t.set_always_true_for_property(PROP_DC_TITLE); },
         [](ParseTreeNode *t) { return SetAlwayTrueForProperty(t, PROP_DC_TITLE); }, true},
        {R"(dc:title = "a" and upnp:genre = "b")",
         [](msc::Tree &t) { return t.set_always_true_for_non_supported_property(kSupported); },
         [](ParseTreeNode *t) { return SetAlwayTrueForNonSupportedProperty(t, kSupported); }, true},
        {R"(upnp:class derivedfrom "object.item" and @refID exists true)",
         [](msc::Tree &t) { return t.check_container_is_support_refid("A0$128$129"); },
         [](ParseTreeNode *t) { return CheckContainerIsSupportRefID("A0$128$129", t); }, true},
        {"@refID exists true", [](msc::Tree &t) { return t.check_container_is_support_refid("A0$1$2"); },
         [](ParseTreeNode *t) { return CheckContainerIsSupportRefID("A0$1$2", t); }, false},
    };
    for (const RewriteCase &c : cases) {
        msc::Tree tree = msc::parse(c.criteria).tree;
        const ParseTreeNode *root = tree.get();
        TreePtr plain(Parsed(c.criteria));
        const std::string before = TreeToString(plain.get());
        for (int round = 0; round < 2; ++round) {
            EXPECT_EQ(c.member(tree), c.function(plain.get())) << c.criteria << " " << round;
            EXPECT_EQ(tree.get(), root) << c.criteria;
            EXPECT_EQ(TreeToString(tree.get()), TreeToString(plain.get())) << c.criteria;
        }
        EXPECT_EQ(TreeToString(tree.get()) != before, c.changes) << c.criteria;
    }
    msc::Tree broken(Op(OP_AND, OfKind(7), Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a"))));
    EXPECT_EQ(broken.set_always_true_for_property(PROP_DC_TITLE), -1);
    EXPECT_EQ(broken.set_always_true_for_non_supported_property(nullptr), -1);
}

// check() is CheckSQLCondition on the tree: its code, its node, its words.
TEST(CxxWrapper, CheckIsTheCFunction) {
    static const TokenEntry kTitleOnly[] = {{PROP_DC_TITLE, "title"}, {0, nullptr}};
    for (const char *criteria : {R"(dc:title = "a")", R"(dc:title = "a" and ())", R"(upnp:genre = "b")", " "}) {
        msc::Tree tree = msc::parse(criteria).tree;
        for (const TokenEntry *columns : {kTitleOnly, static_cast<const TokenEntry *>(nullptr)}) {
            const ParseTreeNode *node = nullptr;
            int code = CheckSQLCondition(tree.get(), columns, &node);
            msc::ConditionCheck check = tree.check(columns);
            EXPECT_EQ(check.code, code) << criteria;
            EXPECT_EQ(check.node, node) << criteria;
            EXPECT_EQ(static_cast<bool>(check), code == SEARCH_CONDITION_OK) << criteria;
            EXPECT_STREQ(check.message(), SearchConditionMessage(code)) << criteria;
        }
    }
}

// The dump is what TravelTree prints, taken from a memory stream: nothing reaches the real stdout
// and what was pending there stays out of it; a list of 200 terms grows the stream many times.
TEST(CxxWrapper, DumpGivesWhatTravelTreePrints) {
    std::string longList = R"(dc:title = "a")";
    for (int i = 1; i < 200; ++i) longList += R"( or dc:title = "a")";
    std::vector<msc::Tree> trees;
    trees.emplace_back();
    trees.emplace_back(Group(Op(OP_AND, Op(OP_EQ, Prop(PROP_UPNP_CLASS), Val("x")), Val("true"))));
    trees.emplace_back(Op(OP_OR, OfKind(7), Prop(15)));
    trees.push_back(msc::parse(longList).tree);
    for (const msc::Tree &tree : trees) {
        for (int depth : {0, 2}) {
            const std::string expected = CaptureStdout([&] { TravelTree(tree.get(), depth); });
            std::string dumped;
            std::string printed = CaptureStdout([&] {
                printf("before ");
                dumped = tree.dump(depth);
                printf("after\n");
            });
            EXPECT_EQ(dumped, expected);
            EXPECT_GT(dumped.size(), 4u);
            EXPECT_EQ(printed, "before after\n");
        }
    }
}

// Every allocation of each call fails in turn: the call throws std::bad_alloc (never a failed
// parse, an empty copy or a partial text) and leaves stdout as it was, until a run needs no
// failure and gives the whole result.
TEST(CxxWrapper, ThrowsWhenMemoryRunsOut) {
    const std::string criteria = R"(upnp:class derivedfrom "object.item" and (dc:title contains "x"))";
    msc::Tree tree = msc::parse(criteria).tree;
    const std::function<std::string()> calls[] = {
        [&] { return TreeToString(msc::parse(criteria).tree.get()); },
        [&] { return TreeToString(tree.clone().get()); },
        [&] { return tree.dump(); },
    };
    for (const auto &call : calls) {
        const std::string whole = call();
        for (long failAt = 1;; ++failAt) {
            bool threw = false;
            std::string result;
            long made = 0;
            std::string printed = CaptureStdout([&] {
                OpenAllocationWindow(failAt);
                try {
                    result = call();
                } catch (const std::bad_alloc &) {
                    threw = true;
                }
                made = CloseAllocationWindow();
                printf("after\n");
            });
            EXPECT_EQ(printed, "after\n") << whole << " " << failAt;
            if (made < failAt) {
                EXPECT_FALSE(threw) << whole;
                EXPECT_EQ(result, whole);
                EXPECT_GT(failAt, 1) << whole;
                break;
            }
            EXPECT_TRUE(threw) << whole << " " << failAt;
        }
    }
}

}  // namespace
