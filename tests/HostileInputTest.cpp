// Hostile criteria of 2 MiB, each run through the host's whole sequence on a thread with a
// 256 KiB stack, as a media server's worker thread might have: parse, class, property list,
// copy, conversion, an always-true rewrite, conversion again, and the dump where its output
// stays small (it grows with the square of an and/or list's length, one level per operand).
// Every output is compared whole against a text generated from the shape.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "TreeText.h"

using namespace msc_test;

namespace {

constexpr size_t kStackBytes = 256 * 1024;
constexpr size_t kTextBytes = 2 * 1024 * 1024;

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"}, {PROP_DC_DATE, "date"},
                               {PROP_UPNP_CLASS, "class"}, {PROP_UPNP_GENRE, "genre"},
                               {0, nullptr}};

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

struct Outcome {
    int result = -1;
    int why = SEARCH_PARSE_OK;  // The code Parse_searchExpEx gives.
    std::string messages;
    std::string tree;
    std::string upnpClass;
    std::vector<int> properties;
    std::string sql;
    std::string sqlOfCopy;
    std::string rewrittenSql;
    std::string dump;
};

Outcome RunHostSequence(const std::string &text, int takenOut, bool dump) {
    Outcome outcome;
    ParseTreeNode *tree = nullptr;
    bool started = false;
    outcome.messages = CaptureStderr([&] {
        started = RunOnSmallStack(kStackBytes, [&] {
            const int last = static_cast<int>(text.size()) - 1;
            outcome.result = Parse_searchExp(&tree, text.c_str(), 0, last);
            ParseTreeNode *quiet = nullptr;
            SearchParseError error = {-1, -1};
            Parse_searchExpEx(&quiet, text.c_str(), 0, last, 0, &error);
            outcome.why = error.code;
            freeParseTree(quiet);
            if (outcome.result != 0) return;
            const char *cls = GetUPnPClass(tree);
            outcome.upnpClass = cls != nullptr ? cls : "(none)";
            int count = 0;
            int *ids = GetPropertyList(tree, &count);
            if (ids != nullptr) outcome.properties.assign(ids, ids + count);
            free(ids);
            ParseTreeNode *copy = CloneParseTree(tree);
            outcome.sql = Sql(tree);
            outcome.sqlOfCopy = Sql(copy);
            freeParseTree(copy);
            if (dump) outcome.dump = CaptureStdout([&] { TravelTree(tree, 0); });
        });
    });
    EXPECT_TRUE(started);
    TreePtr owned(tree);
    if (outcome.result != 0) outcome.tree = tree == nullptr ? "null" : "a tree after a failure";
    if (outcome.result == 0) {
        outcome.tree = TreeToString(tree);
        RunOnSmallStack(kStackBytes, [&] {
            EXPECT_EQ(SetAlwayTrueForProperty(tree, takenOut), 0);
            outcome.rewrittenSql = Sql(tree);
        });
    }
    return outcome;
}

struct HostileCase {
    const char *name;
    std::string text;
    int takenOut;       // The property that the always-true rewrite takes out.
    Outcome expected;   // result 1: only messages count.
    bool dump;
};

HostileCase Failing(const char *name, std::string text, const char *messages, int why) {
    HostileCase c{name, std::move(text), 0, {}, false};
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

HostileCase List(const char *name, const ListShape &s, int takenOut, const char *upnpClass) {
    size_t n = kTextBytes / (s.operand.size() + s.keyword.size());
    HostileCase c{name, Repeat(s.operand + s.keyword, n) + s.operand, takenOut, {}, false};
    Outcome &e = c.expected;
    e.result = 0;
    e.tree = Repeat(s.op + "(" + s.tree + ", ", n) + s.tree + std::string(n, ')');
    e.upnpClass = upnpClass;
    for (size_t i = 0; i <= n; ++i) {
        e.properties.insert(e.properties.end(), s.operandProperties.begin(), s.operandProperties.end());
    }
    e.sql = Repeat(s.sql + s.sqlOp, n) + s.sql;
    e.sqlOfCopy = e.sql;
    e.rewrittenSql = Repeat(s.rewritten + s.sqlOp, n) + s.rewritten;
    return c;
}

// One comparison dc:title <op> "<value>" whose value token is 'token'.
HostileCase Comparison(const char *name, const std::string &op, const std::string &token,
                       const std::string &value, const char *opName, const std::string &sqlValue) {
    HostileCase c{name, "dc:title " + op + " " + token, PROP_DC_TITLE, {}, true};
    Outcome &e = c.expected;
    e.result = 0;
    e.tree = std::string(opName) + "(PROP_DC_TITLE, \"" + value + "\")";
    e.upnpClass = "(none)";
    e.properties = {PROP_DC_TITLE};
    e.sql = " title  " + std::string(op == "contains" ? "LIKE" : op) + "  " + sqlValue + " ";
    e.sqlOfCopy = e.sql;
    e.rewrittenSql = " '1'  =  '1' ";
    e.dump = "--->P:dc:title\nO:" + op + "\n--->V:" + value + "\n";
    return c;
}

// 'groups' nested groups around one comparison (or a bare property when 'bare').
HostileCase Nested(const char *name, int groups, bool bare) {
    std::string inner = bare ? "dc:title" : "dc:title = \"a\"";
    HostileCase c{name, std::string(groups, '(') + inner + std::string(groups, ')'), PROP_DC_TITLE,
                  {}, true};
    Outcome &e = c.expected;
    e.result = 0;
    std::string innerTree = bare ? "PROP_DC_TITLE" : R"(OP_EQ(PROP_DC_TITLE, "a"))";
    e.tree = Repeat("GROUP(", groups) + innerTree + std::string(groups, ')');
    e.upnpClass = "(none)";
    e.properties = {PROP_DC_TITLE};
    std::string innerSql = bare ? " title " : " title  =  'a' ";
    e.sql = Repeat(" ( ", groups) + innerSql + Repeat(" ) ", groups);
    e.sqlOfCopy = e.sql;
    e.rewrittenSql = Repeat(" ( ", groups) + (bare ? " '1' " : " '1'  =  '1' ") + Repeat(" ) ", groups);
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
    HostileCase c{name, "dc:title" + Repeat(" = \"a\"", comparisons), PROP_DC_DATE, {}, true};
    Outcome &e = c.expected;
    e.result = 0;
    e.tree = Repeat("OP_EQ(", comparisons) + "PROP_DC_TITLE" + Repeat(R"(, "a"))", comparisons);
    e.upnpClass = "(none)";
    e.properties = {PROP_DC_TITLE};
    e.sql = " title " + Repeat(" =  'a' ", comparisons);
    e.sqlOfCopy = e.sql;
    e.rewrittenSql = e.sql;  // No condition on dc:date.
    e.dump = Arrows(comparisons) + "P:dc:title\n";
    for (int d = comparisons - 1; d >= 0; --d) e.dump += Arrows(d) + "O:=\n" + Arrows(d + 1) + "V:a\n";
    return c;
}

std::vector<HostileCase> HostileCases() {
    std::vector<HostileCase> cases;
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
                         PROP_DC_TITLE, "(none)"));
    cases.push_back(List("long or list of bare properties",
                         {"dc:title", " or ", "PROP_DC_TITLE", " title ", " title ", "OP_OR", " OR ",
                          {PROP_DC_TITLE}},
                         PROP_DC_DATE, "(none)"));

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

TEST(HostileInput, WholeSequenceOnSmallStack) {
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
        EXPECT_TRUE(got.tree == want.tree) << got.tree.substr(0, 200);
        EXPECT_EQ(got.upnpClass, want.upnpClass);
        EXPECT_TRUE(got.properties == want.properties) << got.properties.size();
        EXPECT_TRUE(got.sql == want.sql) << got.sql.substr(0, 200);
        EXPECT_TRUE(got.sqlOfCopy == want.sqlOfCopy) << got.sqlOfCopy.substr(0, 200);
        EXPECT_TRUE(got.rewrittenSql == want.rewrittenSql) << got.rewrittenSql.substr(0, 200);
        EXPECT_TRUE(got.dump == want.dump) << got.dump.substr(0, 300);
    }
}

}  // namespace
