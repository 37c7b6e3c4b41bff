// No criteria text may exhaust the host's stack: every operation runs on a thread with a 256 KiB
// stack, on and/or lists of 100,000 terms and on the deepest nesting the parser accepts, and its
// output is compared whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <vector>

#include "TreeText.h"

using namespace msc_test;

namespace {

constexpr size_t kSmallStack = 256 * 1024;

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, "class"},
                               {PROP_UPNP_GENRE, "genre"}, {PROP_REFID, "ref_id"},
                               {0, nullptr}};
// Supports every property but upnp:genre.
const TokenEntry kAllButGenre[] = {{PROP_DC_TITLE, ""}, {PROP_UPNP_CLASS, ""}, {PROP_REFID, ""}, {0, nullptr}};

// Index of the first byte where two texts differ, or npos: texts of megabytes are compared whole
// without printing them.
size_t FirstDifference(const std::string &a, const std::string &b) {
    size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        if (a[i] != b[i]) return i;
    }
    return a.size() == b.size() ? std::string::npos : common;
}

std::string WholeSql(const ParseTreeNode *tree, size_t room) {
    std::vector<char> out(room + 1, 'x');
    ConvertSQLCondition(tree, kColumns, nullptr, out.data(), static_cast<int>(out.size()));
    return std::string(out.data());
}

// Runs 'body' with standard output going to /dev/null.
void WithStdoutDiscarded(const std::function<void()> &body) {
    fflush(stdout);
    int saved = dup(fileno(stdout));
    int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, fileno(stdout));
    close(devNull);
    body();
    fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
}

// What every operation gives on one criteria text, each run on the small stack.
struct Outputs {
    int parse = -1;
    bool cloneEqual = false;
    const char *upnpClass = nullptr;
    std::string classText;
    std::vector<int> properties;
    std::string sql;                // as parsed
    int alwaysTrue = -2;            // SetAlwayTrueForProperty(upnp:genre) on the tree
    std::string sqlAlwaysTrue;
    int container = -2;             // then CheckContainerIsSupportRefID on the same tree
    std::string sqlContainer;
    int nonSupported = -2;          // SetAlwayTrueForNonSupportedProperty on the copy
    std::string sqlNonSupported;
    int dump = -1;                  // TravelTree's result, its output discarded
};

Outputs RunEveryOperation(const std::string &criteria, bool dump) {
    Outputs o;
    ParseTreeNode *tree = nullptr;
    ParseTreeNode *copy = nullptr;
    bool ran = RunOnSmallStack(kSmallStack, [&] {
        o.parse = Parse_searchExp(&tree, criteria.c_str(), 0, static_cast<int>(criteria.size()) - 1);
        copy = CloneParseTree(tree);
    });
    EXPECT_TRUE(ran) << "the thread did not start";
    if (o.parse != 0) return o;
    // The test's own printer recurses a little deeper than the library: it runs on the main stack.
    o.cloneEqual = copy != nullptr && TreeToString(copy) == TreeToString(tree);
    ran = RunOnSmallStack(kSmallStack, [&] {
        o.upnpClass = GetUPnPClass(tree);
        if (o.upnpClass != nullptr) o.classText = o.upnpClass;
        int count = 0;
        int *ids = GetPropertyList(tree, &count);
        if (ids != nullptr) o.properties.assign(ids, ids + count);
        free(ids);
        const size_t room = criteria.size() * 4 + 64;  // A parenthesis becomes 3 bytes, " ( ".
        o.sql = WholeSql(tree, room);
        o.alwaysTrue = SetAlwayTrueForProperty(tree, PROP_UPNP_GENRE);
        o.sqlAlwaysTrue = WholeSql(tree, room);
        o.container = CheckContainerIsSupportRefID("A0$128$129", tree);
        o.sqlContainer = WholeSql(tree, room);
        o.nonSupported = SetAlwayTrueForNonSupportedProperty(copy, kAllButGenre);
        o.sqlNonSupported = WholeSql(copy, room);
        if (dump) WithStdoutDiscarded([&] { o.dump = TravelTree(tree, 0); });
        freeParseTree(copy);
        freeParseTree(tree);
    });
    EXPECT_TRUE(ran) << "the thread did not start";
    return o;
}

void ExpectSameText(const std::string &actual, const std::string &expected, const char *what) {
    size_t at = FirstDifference(actual, expected);
    EXPECT_EQ(at, std::string::npos)
        << what << " differs at byte " << at << " of " << expected.size() << ": ["
        << actual.substr(at == std::string::npos ? 0 : at, 40) << "] instead of ["
        << expected.substr(at == std::string::npos ? 0 : at, 40) << "]";
}

// A list of 'terms' terms joined by 'keyword': a class condition first, a true @refID condition
// last, and title and genre conditions in between.
struct ListExpectation {
    std::string criteria;
    std::string sql, sqlAlwaysTrue, sqlContainer, sqlNonSupported;
    std::vector<int> properties;
};

ListExpectation MakeList(int terms, bool useAnd) {
    const std::string keyword = useAnd ? " and " : " or ";
    const std::string join = useAnd ? " AND " : " OR ";
    const std::string dropped = useAnd ? " '1'  =  '1' " : " '1'  =  '0' ";
    ListExpectation e;
    for (int i = 0; i < terms; ++i) {
        std::string text, sql, rewritten, contained, unsupported;
        int property;
        if (i == 0) {
            text = R"(upnp:class = "x")";
            sql = rewritten = contained = unsupported = " class  =  'x' ";
            property = PROP_UPNP_CLASS;
        } else if (i == terms - 1) {
            text = "@refID exists true";
            sql = rewritten = unsupported = " ref_id  IS  NOT NULL ";
            contained = " '1'  =  '0' ";
            property = PROP_REFID;
        } else if (i % 2 == 1) {
            text = R"(dc:title contains "v")";
            sql = rewritten = contained = unsupported = " title  LIKE  '%v%' ";
            property = PROP_DC_TITLE;
        } else {
            text = R"(upnp:genre = "w")";
            sql = " genre  =  'w' ";
            rewritten = contained = unsupported = dropped;
            property = PROP_UPNP_GENRE;
        }
        if (i > 0) {
            e.criteria += keyword;
            for (std::string *s : {&e.sql, &e.sqlAlwaysTrue, &e.sqlContainer, &e.sqlNonSupported}) *s += join;
        }
        e.criteria += text;
        e.sql += sql;
        e.sqlAlwaysTrue += rewritten;
        e.sqlContainer += contained;
        e.sqlNonSupported += unsupported;
        e.properties.push_back(property);
    }
    return e;
}

struct ListCase {
    int terms;
    bool useAnd;
    bool dump;
};

TEST(StackSafety, LongListsOnASmallStack) {
    // The dump indents each further operand of a list one level deeper, so its output grows with
    // the square of the list's length (some 600 MB for 10,000 terms): it gets the shorter lists.
    const ListCase cases[] = {
        {100000, true, false},
        {100000, false, false},
        {10000, true, true},
        {10000, false, true},
    };
    for (const ListCase &c : cases) {
        const ListExpectation e = MakeList(c.terms, c.useAnd);
        const Outputs o = RunEveryOperation(e.criteria, c.dump);
        SCOPED_TRACE(std::to_string(c.terms) + (c.useAnd ? " and-terms" : " or-terms"));
        ASSERT_EQ(o.parse, 0);
        EXPECT_TRUE(o.cloneEqual);
        EXPECT_EQ(o.classText, "x");
        EXPECT_TRUE(o.properties == e.properties) << o.properties.size() << " properties";
        ExpectSameText(o.sql, e.sql, "SQL");
        EXPECT_EQ(o.alwaysTrue, 0);
        ExpectSameText(o.sqlAlwaysTrue, e.sqlAlwaysTrue, "SQL after SetAlwayTrueForProperty");
        EXPECT_EQ(o.container, 0);
        ExpectSameText(o.sqlContainer, e.sqlContainer, "SQL after CheckContainerIsSupportRefID");
        EXPECT_EQ(o.nonSupported, 0);
        ExpectSameText(o.sqlNonSupported, e.sqlNonSupported, "SQL after SetAlwayTrueForNonSupportedProperty");
        // The last output call writes the last value line, "V:0\n" once the container rule ran.
        if (c.dump) {
            EXPECT_EQ(o.dump, 4);
        }
    }
}

struct NestingExpectation {
    std::string criteria;
    std::string sql, sqlAlwaysTrue, sqlContainer;
    size_t properties;
};

// The deepest texts the parser accepts, with groups as left and as right operands. Groups around
// one leaf and comparison chains run in HostileInputTest, where their dumps are compared whole.
std::vector<NestingExpectation> DeepestTexts() {
    const int levels = MSC_MAX_NESTING;
    std::vector<NestingExpectation> texts;
    // Groups as left operands: ((... ) and genre) and genre.
    NestingExpectation left = {"@refID exists true", " ref_id  IS  NOT NULL ", " ref_id  IS  NOT NULL ",
                               " '1'  =  '0' ", 1};
    for (int i = 1; i < levels; ++i) {
        left.criteria = "(" + left.criteria + R"() and upnp:genre = "b")";
        left.sql = " ( " + left.sql + " )  AND  genre  =  'b' ";
        left.sqlAlwaysTrue = " ( " + left.sqlAlwaysTrue + " )  AND  '1'  =  '1' ";
        left.sqlContainer = " ( " + left.sqlContainer + " )  AND  '1'  =  '1' ";
        ++left.properties;
    }
    texts.push_back(left);
    // Groups as right operands: genre or (genre or (...)).
    NestingExpectation right = {"@refID exists true", " ref_id  IS  NOT NULL ", " ref_id  IS  NOT NULL ",
                                " '1'  =  '0' ", 1};
    for (int i = 1; i < levels; ++i) {
        right.criteria = R"(upnp:genre = "b" or ()" + right.criteria + ")";
        right.sql = " genre  =  'b'  OR  ( " + right.sql + " ) ";
        right.sqlAlwaysTrue = " '1'  =  '0'  OR  ( " + right.sqlAlwaysTrue + " ) ";
        right.sqlContainer = " '1'  =  '0'  OR  ( " + right.sqlContainer + " ) ";
        ++right.properties;
    }
    texts.push_back(right);
    return texts;
}

TEST(StackSafety, DeepestNestingOnASmallStack) {
    for (const NestingExpectation &e : DeepestTexts()) {
        SCOPED_TRACE(e.criteria.substr(0, 60));
        const Outputs o = RunEveryOperation(e.criteria, true);
        ASSERT_EQ(o.parse, 0);
        EXPECT_TRUE(o.cloneEqual);
        EXPECT_EQ(o.upnpClass, nullptr);
        EXPECT_EQ(o.properties.size(), e.properties);
        ExpectSameText(o.sql, e.sql, "SQL");
        EXPECT_EQ(o.alwaysTrue, 0);
        ExpectSameText(o.sqlAlwaysTrue, e.sqlAlwaysTrue, "SQL after SetAlwayTrueForProperty");
        ExpectSameText(o.sqlContainer, e.sqlContainer, "SQL after CheckContainerIsSupportRefID");
        EXPECT_EQ(o.nonSupported, 0);
        ExpectSameText(o.sqlNonSupported, e.sqlAlwaysTrue, "SQL after SetAlwayTrueForNonSupportedProperty");
        EXPECT_GE(o.dump, 0);
        // One more level is refused, whatever the kind of nesting.
        ParseTreeNode *tree = nullptr;
        std::string deeper = "(" + e.criteria + ")";
        EXPECT_EQ(Parse_searchExp(&tree, deeper.c_str(), 0, static_cast<int>(deeper.size()) - 1), 1);
        EXPECT_EQ(tree, nullptr);
    }
}

}  // namespace
