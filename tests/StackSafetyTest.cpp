// No criteria text may exhaust the host's stack or otherwise upset it. Hostile texts of up to
// 2 MiB and the deepest nesting the parser accepts each run through the host's whole sequence on
// a thread with a 256 KiB stack, as a media server's worker thread might have: parse, class,
// property list, copy, conversion, the dump, an always-true rewrite, the container rewrite, and
// the non-supported rewrite of the copy. Every output is compared whole against a text generated
// from the shape.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <string>
#include <vector>

#include "TreeText.h"

using namespace msc_test;

namespace {

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer surrounds the locals of every frame with red zones and its malloc records a
// stack trace on the caller's stack, so the same nesting needs several times the stack of a
// plain build: the bounds are checked there with room for the instrumentation.
constexpr size_t kStackBytes = 1024 * 1024;
#else
constexpr size_t kStackBytes = 256 * 1024;
#endif
constexpr size_t kTextBytes = 2 * 1024 * 1024;

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"},   {PROP_DC_DATE, "date"},
                               {PROP_UPNP_CLASS, "class"}, {PROP_UPNP_GENRE, "genre"},
                               {PROP_REFID, "ref_id"},     {0, nullptr}};

std::string Arrows(int depth) { return Repeat("--->", depth > 0 ? static_cast<size_t>(depth) : 0); }

// A value as a standard SQL literal writes it.
std::string SqlQuoted(const std::string &text) {
    std::string out;
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out;
}

// The whole condition text, in a buffer sized by measuring first.
std::string Sql(const ParseTreeNode *tree) {
    int length = ConvertSQLConditionEx(tree, kColumns, nullptr, nullptr, 0);
    std::vector<char> out(static_cast<size_t>(length) + 1, 'x');
    ConvertSQLCondition(tree, kColumns, nullptr, out.data(), static_cast<int>(out.size()));
    return std::string(out.data());
}

// The dump of an and/or list grows with the square of its length, one level per operand (some
// 600 MB for 10,000 terms): such dumps go to /dev/null and only TravelTree's result is kept.
enum DumpMode { kNoDump, kDumpWhole, kDumpDiscarded };
constexpr int kAnyNonNegative = -1000;

int DumpDiscarded(const ParseTreeNode *tree) {
    fflush(stdout);
    int saved = dup(fileno(stdout));
    int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, fileno(stdout));
    close(devNull);
    int result = TravelTree(tree, 0);
    fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    return result;
}

struct Outcome {
    int result = -1;
    int why = SEARCH_PARSE_OK;  // The code Parse_searchExpEx gives.
    std::string messages;
    std::string tree;
    std::string upnpClass;
    std::vector<int> properties;
    std::string sql;
    int check = SEARCH_CONDITION_OK;  // CheckSQLCondition with kColumns
    std::string dump;
    int dumpResult = 0;         // TravelTree's result where the dump is discarded
    std::string rewrittenSql;   // after SetAlwayTrueForProperty(takenOut)
    int container = 1;          // CheckContainerIsSupportRefID on the rewritten tree
    std::string containerSql;   // empty: as rewrittenSql
};

Outcome RunHostSequence(const std::string &text, int takenOut, DumpMode dumpMode) {
    Outcome o;
    // Every property but 'takenOut' is supported.
    std::vector<TokenEntry> supported;
    for (int id = PROP_DC_TITLE; id <= PROP_UPNP_ORIGINAL_TRACK_NUMBER; ++id) {
        if (id != takenOut) supported.push_back({id, ""});
    }
    supported.push_back({0, nullptr});
    // The same sequence in one call, on the same small stack.
    const SearchOptions oneCall = {{0, nullptr}, kColumns, supported.data(), "A0$128$129", nullptr,
                                   {SQL_DIALECT_SQLITE, 0}, nullptr, 0};
    std::string oneCallSql;
    SearchInfo info;
    ParseTreeNode *tree = nullptr;
    ParseTreeNode *copy = nullptr;
    bool started = false;
    o.messages = CaptureStderr([&] {
        started = RunOnSmallStack(kStackBytes, [&] {
            const int last = static_cast<int>(text.size()) - 1;
            o.result = Parse_searchExp(&tree, text.c_str(), 0, last);
            ParseTreeNode *quiet = nullptr;
            SearchParseError error = {-1, -1};
            Parse_searchExpEx(&quiet, text.c_str(), 0, last, 0, &error);
            o.why = error.code;
            freeParseTree(quiet);
            int length = ConvertSearchCriteria(text.c_str(), last + 1, &oneCall, nullptr, 0, &info);
            if (o.result != 0) {
                EXPECT_EQ(length, -1);
                EXPECT_EQ(info.error.code, error.code);
                return;
            }
            oneCallSql.assign(static_cast<size_t>(length) + 1, '\0');
            ConvertSearchCriteria(text.c_str(), last + 1, &oneCall, &oneCallSql[0], length + 1, &info);
            oneCallSql.resize(static_cast<size_t>(length));
            const char *cls = GetUPnPClass(tree);
            o.upnpClass = cls != nullptr ? cls : "(none)";
            int count = 0;
            int *ids = GetPropertyList(tree, &count);
            if (ids != nullptr) o.properties.assign(ids, ids + count);
            free(ids);
            copy = CloneParseTree(tree);
            o.sql = Sql(tree);
            o.check = CheckSQLCondition(tree, kColumns, nullptr);
            if (dumpMode == kDumpWhole) o.dump = CaptureStdout([&] { TravelTree(tree, 0); });
            if (dumpMode == kDumpDiscarded) o.dumpResult = DumpDiscarded(tree);
        });
    });
    EXPECT_TRUE(started);
    if (o.result != 0) {
        o.tree = tree == nullptr ? "null" : "a tree after a failure";
        freeParseTree(tree);
        return o;
    }
    // The test's own printer recurses a little deeper than the library: it runs on the main stack.
    o.tree = TreeToString(tree);
    EXPECT_TRUE(TreeToString(copy) == o.tree) << "the copy differs";
    // The copy loses exactly what the tree loses.
    EXPECT_TRUE(RunOnSmallStack(kStackBytes, [&] {
        EXPECT_EQ(SetAlwayTrueForProperty(tree, takenOut), 0);
        o.rewrittenSql = Sql(tree);
        o.container = CheckContainerIsSupportRefID("A0$128$129", tree);
        o.containerSql = Sql(tree);
        EXPECT_TRUE(oneCallSql == o.containerSql) << "the one call differs: " << oneCallSql.substr(0, 200);
        EXPECT_EQ(SetAlwayTrueForNonSupportedProperty(copy, supported.data()), 0);
        EXPECT_TRUE(Sql(copy) == o.rewrittenSql) << "the non-supported rewrite differs";
        freeParseTree(copy);
        freeParseTree(tree);
    }));
    return o;
}

struct HostileCase {
    const char *name;
    std::string text;
    int takenOut;       // The property that the always-true rewrite takes out.
    Outcome expected;   // result 1: only messages count.
    DumpMode dump;
};

HostileCase Failing(const char *name, std::string text, const char *messages, int why) {
    HostileCase c{name, std::move(text), 0, {}, kNoDump};
    c.expected.result = 1;
    c.expected.messages = messages;
    c.expected.why = why;
    return c;
}

// An and/or list of n + 1 copies of 'operand' and the texts it must give.
struct ListShape {
    std::string operand;  // criteria text of one operand
    std::string keyword;  // " and ", ")or(" ...
    std::string tree;     // TreeToString of one operand
    std::string sql;      // its SQL
    std::string rewritten;
    std::string op;       // OP_AND or OP_OR
    std::string sqlOp;    // " AND " ...
    std::vector<int> operandProperties;
};

HostileCase List(const char *name, const ListShape &s, int takenOut, const char *upnpClass,
                 int check = SEARCH_CONDITION_OK) {
    size_t n = kTextBytes / (s.operand.size() + s.keyword.size());
    HostileCase c{name, Repeat(s.operand + s.keyword, n) + s.operand, takenOut, {}, kNoDump};
    Outcome &e = c.expected;
    e.result = 0;
    e.tree = Repeat(s.op + "(" + s.tree + ", ", n) + s.tree + std::string(n, ')');
    e.upnpClass = upnpClass;
    for (size_t i = 0; i <= n; ++i) {
        e.properties.insert(e.properties.end(), s.operandProperties.begin(), s.operandProperties.end());
    }
    e.sql = Repeat(s.sql + s.sqlOp, n) + s.sql;
    e.rewrittenSql = Repeat(s.rewritten + s.sqlOp, n) + s.rewritten;
    e.check = check;
    return c;
}

// One comparison dc:title <op> "<value>" whose value token is 'token'.
HostileCase Comparison(const char *name, const std::string &op, const std::string &token,
                       const std::string &value, const char *opName, const std::string &sqlValue) {
    HostileCase c{name, "dc:title " + op + " " + token, PROP_DC_TITLE, {}, kDumpWhole};
    Outcome &e = c.expected;
    e.result = 0;
    e.tree = std::string(opName) + "(PROP_DC_TITLE, \"" + value + "\")";
    e.upnpClass = "(none)";
    e.properties = {PROP_DC_TITLE};
    e.sql = " title  " + std::string(op == "contains" ? "LIKE" : op) + "  " + sqlValue + " ";
    e.rewrittenSql = " '1'  =  '1' ";
    e.dump = "--->P:dc:title\nO:" + op + "\n--->V:" + value + "\n";
    return c;
}

// 'groups' nested groups around one comparison (or a bare property when 'bare').
HostileCase Nested(const char *name, int groups, bool bare) {
    std::string inner = bare ? "dc:title" : "dc:title = \"a\"";
    HostileCase c{name, std::string(groups, '(') + inner + std::string(groups, ')'), PROP_DC_TITLE,
                  {}, kDumpWhole};
    Outcome &e = c.expected;
    e.result = 0;
    std::string innerTree = bare ? "PROP_DC_TITLE" : R"(OP_EQ(PROP_DC_TITLE, "a"))";
    e.tree = Repeat("GROUP(", groups) + innerTree + std::string(groups, ')');
    e.upnpClass = "(none)";
    e.properties = {PROP_DC_TITLE};
    std::string innerSql = bare ? " title " : " title  =  'a' ";
    e.sql = Repeat(" ( ", groups) + innerSql + Repeat(" ) ", groups);
    e.rewrittenSql = Repeat(" ( ", groups) + (bare ? " '1' " : " '1'  =  '1' ") + Repeat(" ) ", groups);
    e.check = bare ? SEARCH_CONDITION_BARE_PROPERTY : SEARCH_CONDITION_OK;
    for (int d = 0; d < groups; ++d) e.dump += Arrows(d) + "->()\n";
    if (bare) {
        e.dump += Arrows(groups) + "P:dc:title\n";
    } else {
        e.dump += Arrows(groups + 1) + "P:dc:title\n" + Arrows(groups) + "O:=\n" +
                  Arrows(groups + 1) + "V:a\n";
    }
    e.dump += Repeat("<-()\n", groups);
    return c;
}

// dc:title followed by 'comparisons' times = "a".
HostileCase Chain(const char *name, int comparisons) {
    HostileCase c{name, "dc:title" + Repeat(" = \"a\"", comparisons), PROP_DC_DATE, {}, kDumpWhole};
    Outcome &e = c.expected;
    e.result = 0;
    e.tree = Repeat("OP_EQ(", comparisons) + "PROP_DC_TITLE" + Repeat(R"(, "a"))", comparisons);
    e.upnpClass = "(none)";
    e.properties = {PROP_DC_TITLE};
    e.sql = " title " + Repeat(" =  'a' ", comparisons);
    e.rewrittenSql = e.sql;  // No condition on dc:date.
    e.dump = Arrows(comparisons) + "P:dc:title\n";
    for (int d = comparisons - 1; d >= 0; --d) e.dump += Arrows(d) + "O:=\n" + Arrows(d + 1) + "V:a\n";
    return c;
}

// A list of 'terms' terms joined by and/or: a class condition first, a true @refID condition
// last, and title and genre conditions in between; upnp:genre is taken out.
HostileCase MixedList(const char *name, int terms, bool useAnd) {
    HostileCase c{name, "", PROP_UPNP_GENRE, {}, terms <= 10000 ? kDumpDiscarded : kNoDump};
    Outcome &e = c.expected;
    e.result = 0;
    e.upnpClass = "x";
    e.container = 0;
    const std::string keyword = useAnd ? " and " : " or ";
    const std::string op = useAnd ? "OP_AND(" : "OP_OR(";
    const std::string join = useAnd ? " AND " : " OR ";
    const std::string dropped = useAnd ? " '1'  =  '1' " : " '1'  =  '0' ";
    for (int i = 0; i < terms; ++i) {
        std::string text, tree, sql, rewritten, contained;
        if (i == 0) {
            text = R"(upnp:class = "x")", tree = R"(OP_EQ(PROP_UPNP_CLASS, "x"))";
            sql = rewritten = contained = " class  =  'x' ";
            e.properties.push_back(PROP_UPNP_CLASS);
        } else if (i == terms - 1) {
            text = "@refID exists true", tree = R"(OP_EXISTS(PROP_REFID, "true"))";
            sql = rewritten = " ref_id  IS  NOT NULL ";
            contained = " '1'  =  '0' ";
            e.properties.push_back(PROP_REFID);
        } else if (i % 2 == 1) {
            text = R"(dc:title contains "v")", tree = R"(OP_CONTAINS(PROP_DC_TITLE, "v"))";
            sql = rewritten = contained = " title  LIKE  '%v%' ";
            e.properties.push_back(PROP_DC_TITLE);
        } else {
            text = R"(upnp:genre = "w")", tree = R"(OP_EQ(PROP_UPNP_GENRE, "w"))";
            sql = " genre  =  'w' ";
            rewritten = contained = dropped;
            e.properties.push_back(PROP_UPNP_GENRE);
        }
        const bool more = i < terms - 1;
        c.text += text + (more ? keyword : "");
        e.tree += more ? op + tree + ", " : tree;
        e.sql += sql + (more ? join : "");
        e.rewrittenSql += rewritten + (more ? join : "");
        e.containerSql += contained + (more ? join : "");
    }
    e.tree += std::string(static_cast<size_t>(terms - 1), ')');
    // The last line is the true @refID condition's value, "V:true\n".
    e.dumpResult = c.dump == kDumpDiscarded ? 7 : 0;
    return c;
}

// The deepest groups as left operands, ((... ) and genre) and genre, or as right operands,
// genre or (genre or (...)), around a true @refID condition.
HostileCase DeepOperands(const char *name, bool left) {
    HostileCase c{name, "@refID exists true", PROP_UPNP_GENRE, {}, kDumpDiscarded};
    Outcome &e = c.expected;
    e.result = 0;
    e.upnpClass = "(none)";
    e.container = 0;
    e.tree = R"(OP_EXISTS(PROP_REFID, "true"))";
    e.properties = {PROP_REFID};
    e.sql = e.rewrittenSql = " ref_id  IS  NOT NULL ";
    e.containerSql = " '1'  =  '0' ";
    for (int i = 1; i < MSC_MAX_NESTING; ++i) {
        if (left) {
            c.text = "(" + c.text + R"() and upnp:genre = "b")";
            e.tree = "OP_AND(GROUP(" + e.tree + R"(), OP_EQ(PROP_UPNP_GENRE, "b")))";
            e.properties.push_back(PROP_UPNP_GENRE);
            e.sql = " ( " + e.sql + " )  AND  genre  =  'b' ";
            e.rewrittenSql = " ( " + e.rewrittenSql + " )  AND  '1'  =  '1' ";
            e.containerSql = " ( " + e.containerSql + " )  AND  '1'  =  '1' ";
        } else {
            c.text = R"(upnp:genre = "b" or ()" + c.text + ")";
            e.tree = R"(OP_OR(OP_EQ(PROP_UPNP_GENRE, "b"), GROUP()" + e.tree + "))";
            e.properties.insert(e.properties.begin(), PROP_UPNP_GENRE);
            e.sql = " genre  =  'b'  OR  ( " + e.sql + " ) ";
            e.rewrittenSql = " '1'  =  '0'  OR  ( " + e.rewrittenSql + " ) ";
            e.containerSql = " '1'  =  '0'  OR  ( " + e.containerSql + " ) ";
        }
    }
    // The last line: the value of the last genre condition, or the close of the outer group,
    // written by fputs, which promises only a non-negative result.
    e.dumpResult = left ? 4 : kAnyNonNegative;
    return c;
}

std::vector<HostileCase> HostileCases() {
    std::vector<HostileCase> cases;
    cases.push_back(MixedList("100,000 and-terms", 100000, true));
    cases.push_back(MixedList("100,000 or-terms", 100000, false));
    cases.push_back(MixedList("10,000 and-terms", 10000, true));
    cases.push_back(MixedList("10,000 or-terms", 10000, false));
    cases.push_back(DeepOperands("deepest groups as left operands", true));
    cases.push_back(DeepOperands("deepest groups as right operands", false));
    const std::string left = cases[cases.size() - 2].text, right = cases.back().text;
    cases.push_back(Failing("one group too deep as a left operand", "(" + left + R"() and upnp:genre = "b")",
                            "", SEARCH_PARSE_TOO_DEEP));
    cases.push_back(Failing("one group too deep as a right operand", R"(upnp:genre = "b" or ()" + right + ")",
                            "", SEARCH_PARSE_TOO_DEEP));
    cases.push_back(List("long and list",
                         {R"(dc:title = "a")", " and ", R"(OP_EQ(PROP_DC_TITLE, "a"))",
                          " title  =  'a' ", " '1'  =  '1' ", "OP_AND", " AND ", {PROP_DC_TITLE}},
                         PROP_DC_TITLE, "(none)"));
    cases.push_back(List("long or list of groups",
                         {R"((upnp:class = "x"))", " or ", R"(GROUP(OP_EQ(PROP_UPNP_CLASS, "x")))",
                          " (  class  =  'x'  ) ", " (  '1'  =  '0'  ) ", "OP_OR", " OR ",
                          {PROP_UPNP_CLASS}},
                         PROP_UPNP_CLASS, "x"));
    cases.push_back(List("long list of empty groups without blanks",
                         {"()", "and", "GROUP(null)", " (  ) ", " (  ) ", "OP_AND", " AND ", {}},
                         PROP_DC_TITLE, "(none)", SEARCH_CONDITION_EMPTY_GROUP));
    cases.push_back(List("long or list of bare properties",
                         {"dc:title", " or ", "PROP_DC_TITLE", " title ", " title ", "OP_OR", " OR ",
                          {PROP_DC_TITLE}},
                         PROP_DC_DATE, "(none)", SEARCH_CONDITION_BARE_PROPERTY));

    cases.push_back(Nested("deepest groups around a comparison", MSC_MAX_NESTING - 1, false));
    cases.push_back(Nested("deepest groups around a property", MSC_MAX_NESTING, true));
    cases.push_back(Failing("one group too deep",
                            std::string(MSC_MAX_NESTING + 1, '(') + "dc:title" +
                                std::string(MSC_MAX_NESTING + 1, ')'),
                            "", SEARCH_PARSE_TOO_DEEP));
    cases.push_back(Failing("2 MiB of parentheses",
                            std::string(kTextBytes / 2, '(') + "dc:title" + std::string(kTextBytes / 2, ')'),
                            "", SEARCH_PARSE_TOO_DEEP));
    cases.push_back(Failing("2 MiB of opening parentheses", std::string(kTextBytes, '('), "",
                            SEARCH_PARSE_UNBALANCED_PARENTHESES));
    cases.push_back(Chain("longest comparison chain", MSC_MAX_NESTING));
    cases.push_back(Failing("one comparison too many",
                            "dc:title" + Repeat(" = \"a\"", MSC_MAX_NESTING + 1), "",
                            SEARCH_PARSE_TOO_DEEP));
    cases.push_back(Failing("2 MiB comparison chain", "dc:title" + Repeat(" = \"a\"", kTextBytes / 6), "",
                            SEARCH_PARSE_TOO_DEEP));
    cases.push_back(Failing("groups and a chain together too deep",
                            std::string(MSC_MAX_NESTING / 2, '(') + "dc:title" +
                                Repeat(" = \"a\"", MSC_MAX_NESTING / 2 + 1) +
                                std::string(MSC_MAX_NESTING / 2, ')'),
                            "", SEARCH_PARSE_TOO_DEEP));

    std::string longValue(kTextBytes, 'v');
    cases.push_back(Comparison("2 MiB value", "contains", "\"" + longValue + "\"", longValue,
                               "OP_CONTAINS", "'%" + longValue + "%'"));
    std::string bytes;
    while (bytes.size() < kTextBytes) {
        for (int b = 1; b < 256; ++b) {
            if (b != '"' && b != '\\') bytes += static_cast<char>(b);
        }
    }
    cases.push_back(Comparison("every byte value in a quoted value", "=", "\"" + bytes + "\"", bytes,
                               "OP_EQ", "'" + SqlQuoted(bytes) + "'"));
    std::string unterminated = "\"" + std::string(kTextBytes, 'u');
    cases.push_back(Comparison("unterminated quote", "=", unterminated, unterminated, "OP_EQ",
                               "'" + unterminated + "'"));
    std::string quotes(kTextBytes, '"');
    cases.push_back(Comparison("2 MiB of quotes", "=", quotes, quotes.substr(2), "OP_EQ",
                               "'" + quotes.substr(2) + "'"));
    std::string evenBackslashes(kTextBytes, '\\');
    cases.push_back(Comparison("even run of backslashes", "=", "\"" + evenBackslashes + "\"",
                               evenBackslashes, "OP_EQ", "'" + evenBackslashes + "'"));
    std::string oddBackslashes(kTextBytes + 1, '\\');
    //                   the last backslash takes the closing quote ^, so the token runs to the end
    cases.push_back(Comparison("odd run of backslashes", "=", "\"" + oddBackslashes + "\"",
                               oddBackslashes, "OP_EQ", "'" + oddBackslashes + "'"));

    std::string allBytes;
    while (allBytes.size() < kTextBytes) {
        for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);
    }
    // 0x00 is a blank, and 0x01 makes an empty property token.
    cases.push_back(Failing("every byte value, 2 MiB", allBytes, "can't find key!!\n",
                            SEARCH_PARSE_NO_PROPERTY));
    cases.push_back(Failing("2 MiB of backslashes", std::string(kTextBytes, '\\'), "can't find key!!\n",
                            SEARCH_PARSE_NO_PROPERTY));
    cases.push_back(Failing("unterminated quote as the property", "\"" + std::string(kTextBytes, 'q'),
                            "can't find key!!\n", SEARCH_PARSE_NO_PROPERTY));
    cases.push_back(Failing("2 MiB list ending in an empty token",
                            Repeat(R"(dc:title = "a" and )", kTextBytes / 19) + "dc:title = \x01",
                            "", SEARCH_PARSE_MISSING_VALUE));
    return cases;
}

TEST(StackSafety, WholeSequenceOnHostileInput) {
    for (const HostileCase &c : HostileCases()) {
        SCOPED_TRACE(c.name);
        Outcome got = RunHostSequence(c.text, c.takenOut, c.dump);
        const Outcome &want = c.expected;
        ASSERT_EQ(got.result, want.result);
        EXPECT_EQ(got.messages, want.messages);
        EXPECT_EQ(got.why, want.why);
        if (want.result != 0) {
            EXPECT_EQ(got.tree, "null");
            continue;
        }
        // Texts of megabytes: compared whole, printed only in part.
        EXPECT_TRUE(got.tree == want.tree) << got.tree.substr(0, 200);
        EXPECT_EQ(got.upnpClass, want.upnpClass);
        EXPECT_TRUE(got.properties == want.properties) << got.properties.size();
        EXPECT_TRUE(got.sql == want.sql) << got.sql.substr(0, 200);
        EXPECT_EQ(got.check, want.check);
        EXPECT_TRUE(got.dump == want.dump) << got.dump.substr(0, 300);
        if (want.dumpResult == kAnyNonNegative) {
            EXPECT_GE(got.dumpResult, 0);
        } else {
            EXPECT_EQ(got.dumpResult, want.dumpResult);
        }
        EXPECT_TRUE(got.rewrittenSql == want.rewrittenSql) << got.rewrittenSql.substr(0, 200);
        EXPECT_EQ(got.container, want.container);
        const std::string &containerSql = want.containerSql.empty() ? want.rewrittenSql : want.containerSql;
        EXPECT_TRUE(got.containerSql == containerSql) << got.containerSql.substr(0, 200);
    }
}

}  // namespace
