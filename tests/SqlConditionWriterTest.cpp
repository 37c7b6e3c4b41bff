// The SQL writer through ConvertSQLCondition and MyStrCatf: whole texts with their exact blanks.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "TreeText.h"

using namespace msc_test;

namespace {

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"},
                               {PROP_UPNP_CLASS, "class"},
                               {PROP_UPNP_ARTIST, "artist"},
                               {PROP_UPNP_GENRE, "genre"},
                               {PROP_REFID, "ref_id"},
                               {PROP_HOST_FIRST, "added"},
                               {0, nullptr}};

struct SqlCase {
    const char *criteria;
    const char *prefix;
    const char *sql;
    const SqlOptions *options = nullptr;  // nullptr: the classic calls
};

const SqlOptions kSqlite = {SQL_DIALECT_SQLITE, 0};
const SqlOptions kSqliteLiteral = {SQL_DIALECT_SQLITE, SQL_LITERAL_PATTERNS};
const SqlOptions kPostgresql = {SQL_DIALECT_POSTGRESQL, 0};
const SqlOptions kPostgresqlLiteral = {SQL_DIALECT_POSTGRESQL, SQL_LITERAL_PATTERNS};
const SqlOptions kMysql = {SQL_DIALECT_MYSQL, 0};
const SqlOptions kMysqlLiteral = {SQL_DIALECT_MYSQL, SQL_LITERAL_PATTERNS};
const SqlOptions kUnknownDialect = {3, 0};
const SqlOptions kNegativeDialect = {-1, 0};
const SqlOptions kUnknownFlag = {SQL_DIALECT_POSTGRESQL, 0x2u};

const SqlCase kSqlCases[] = {
    {R"(dc:title contains "abc" and upnp:genre = "abc")", nullptr,
     " title  LIKE  '%abc%'  AND  genre  =  'abc' "},
    {R"(dc:title contains "abc" and upnp:genre = "abc")", "t.",
     " t.title  LIKE  '%abc%'  AND  t.genre  =  'abc' "},
    {R"(dc:title contains "abc" and upnp:genre = "abc")", "", " title  LIKE  '%abc%'  AND  genre  =  'abc' "},
    {R"(upnp:class derivedfrom "abc" and @refID exists false)", nullptr,
     " class  LIKE  '%abc%'  AND  ref_id  IS  NOT NULL "},
    {R"((upnp:genre exists true and dc:title != "x") or upnp:genre exists FALSE)", nullptr,
     " (  genre  IS  NOT NULL  AND  title  <>  'x'  )  OR  genre  IS  NULL "},
    {"@refID exists FALSE", "t.", " t.ref_id  IS  NOT NULL "},
    {"@refID exists true", nullptr, " ref_id  IS  NOT NULL "},
    {"upnp:artist exists True", nullptr, " artist  IS  NOT NULL "},
    {"upnp:artist exists false", nullptr, " artist  IS  NULL "},
    {"upnp:artist exists maybe", nullptr, " artist  IS  'maybe' "},
    // Only the whole words true and false, in any letter case, are the exists forms.
    {"upnp:artist exists tRUE", nullptr, " artist  IS  NOT NULL "},
    {"upnp:artist exists fAlSe", nullptr, " artist  IS  NULL "},
    {"upnp:artist exists fals", nullptr, " artist  IS  'fals' "},
    {"upnp:artist exists falsey", nullptr, " artist  IS  'falsey' "},
    {"upnp:artist exists truE0", nullptr, " artist  IS  'truE0' "},
    {"upnp:artist exists tr", nullptr, " artist  IS  'tr' "},
    {"@refID exists falsE", nullptr, " ref_id  IS  NOT NULL "},
    {"@refID exists fals", nullptr, " ref_id  IS  'fals' "},
    {"@refID exists FALSEE", nullptr, " ref_id  IS  'FALSEE' "},
    {R"(dc:title = "a" = "b")", nullptr, " title  =  'a'  =  'b' "},
    {R"(dc:title = "a" and dc:title = "b" or dc:title = "c")", nullptr,
     " title  =  'a'  AND  title  =  'b'  OR  title  =  'c' "},
    {R"(upnp:actor = "x")", nullptr, " (null)  =  'x' "},
    {R"(upnp:actor = "x")", "t.", " t.(null)  =  'x' "},
    {R"(dc:title = "x" and)", nullptr, " title  =  'x'  AND "},
    {R"(dc:title contains "abc%d")", nullptr, " title  LIKE  '%abc%d%' "},
    {R"(dc:title doesNotContain "a_b")", nullptr, " title  NOT LIKE  '%a_b%' "},
    {R"(dc:title is "a")", nullptr, " title  =  'a' "},
    {"dc:title", nullptr, " title "},
    {"()", nullptr, " (  ) "},
    // Single quotes are doubled, so a value cannot end its literal; nothing else changes.
    {R"(dc:title = "O'Brien")", nullptr, " title  =  'O''Brien' "},
    {R"(dc:title contains "'; DROP TABLE t; --")", nullptr, " title  LIKE  '%''; DROP TABLE t; --%' "},
    {R"(dc:title = "''\")", nullptr, R"( title  =  '''''\' )"},
    // Dialects. SQLite without flags is the classic text; with literal patterns, and always on
    // PostgreSQL and MySQL (whose LIKE takes a backslash as escape), patterns name '!' as escape.
    {R"(dc:title contains "1!0%_x'\y" and upnp:genre = "O'Bé")", nullptr,
     R"( title  LIKE  '%1!0%_x''\y%'  AND  genre  =  'O''Bé' )", &kSqlite},
    {R"(dc:title contains "1!0%_x'\y" and upnp:genre = "O'Bé")", "t.",
     R"( t.title  LIKE  '%1!!0!%!_x''\y%' ESCAPE '!'  AND  t.genre  =  'O''Bé' )", &kSqliteLiteral},
    {R"(dc:title contains "1!0%_x'\y" and upnp:genre = "O'Bé")", nullptr,
     R"( title  ILIKE  '%1!!0%_x''\y%' ESCAPE '!'  AND  genre  =  'O''Bé' )", &kPostgresql},
    {R"(dc:title contains "1!0%_x'\y" and upnp:genre = "O'Bé")", nullptr,
     R"( title  ILIKE  '%1!!0!%!_x''\y%' ESCAPE '!'  AND  genre  =  'O''Bé' )", &kPostgresqlLiteral},
    {R"(dc:title contains "1!0%_x'\y" and upnp:genre = "O'Bé")", nullptr,
     R"( title  LIKE  _utf8mb4 X'2531212130255F78275C7925' ESCAPE '!'  AND  genre  =  _utf8mb4 X'4F2742C3A9' )",
     &kMysql},
    {R"(dc:title contains "1!0%_x'\y" and upnp:genre = "O'Bé")", nullptr,
     R"( title  LIKE  _utf8mb4 X'25312121302125215F78275C7925' ESCAPE '!'  AND  genre  =  _utf8mb4 X'4F2742C3A9' )",
     &kMysqlLiteral},
    {R"(dc:title doesNotContain "a_b" or upnp:class derivedfrom "c!" and dc:title < "d")", nullptr,
     " title  NOT ILIKE  '%a!_b%' ESCAPE '!'  OR  class  ILIKE  '%c!!%' ESCAPE '!'  AND  title  <  'd' ",
     &kPostgresqlLiteral},
    {R"(dc:title doesNotContain "a_b" or upnp:class derivedfrom "c!" and dc:title < "d")", nullptr,
     " title  NOT LIKE  _utf8mb4 X'2561215F6225' ESCAPE '!'  OR  class  LIKE  _utf8mb4 X'2563212125' ESCAPE '!' "
     " AND  title  <  _utf8mb4 X'64' ",
     &kMysqlLiteral},
    {R"(upnp:genre exists true and @refID exists false and upnp:genre exists maybe and dc:title = "")", nullptr,
     " genre  IS  NOT NULL  AND  ref_id  IS  NOT NULL  AND  genre  IS  _utf8mb4 X'6D61796265'  AND  title  = "
     " _utf8mb4 X'' ",
     &kMysql},
    // Bytes that are no UTF-8 (a stray byte, an overlong form, a surrogate, past U+10FFFF) make a
    // binary string, which MySQL takes as it stands; four-byte UTF-8 keeps the introducer.
    {"dc:title = \"\xff\" or dc:title = \"\xc0\xaf\" or dc:title = \"\xed\xa0\x80\" or dc:title = \"\xf4\x90\x80\x80\" "
     "or dc:title = \"\xf0\x9f\x8e\xb5\"",
     nullptr,
     " title  =  X'FF'  OR  title  =  X'C0AF'  OR  title  =  X'EDA080'  OR  title  =  X'F4908080'  OR "
     " title  =  _utf8mb4 X'F09F8EB5' ",
     &kMysql},
    {R"(dc:title = "a")", nullptr, "length -1: ", &kUnknownDialect},
    {R"(dc:title = "a")", nullptr, "length -1: ", &kNegativeDialect},
    {R"(dc:title = "a")", nullptr, "length -1: ", &kUnknownFlag},
};

TEST(SqlConditionWriter, WritesWholeConditions) {
    for (const SqlCase &c : kSqlCases) {
        TreePtr tree = Parse(c.criteria);
        ASSERT_NE(tree, nullptr) << c.criteria;
        EXPECT_EQ(ToSql(tree.get(), kColumns, c.prefix, c.options), c.sql) << c.criteria;
    }
}

struct TreeSqlCase {
    ParseTreeNode *tree;
    const char *sql;
    const char *stdoutText;
};

TEST(SqlConditionWriter, WritesHandBuiltTrees) {
    const TreeSqlCase cases[] = {
        {Val("abc"), " 'abc' ", ""},
        {Val("TRUE"), " 'TRUE' ", ""},
        {Op(OP_CONTAINS, Prop(PROP_DC_TITLE), Group(Val("abc"))), " title  LIKE  (  'abc'  ) ", ""},
        {Op(OP_EXISTS, Op(OP_EQ, Prop(PROP_REFID), Val("x")), Val("false")),
         " ref_id  =  'x'  IS  NULL ", ""},
        {Op(OP_AND, Op(OP_EQ, Val("1"), Val("1")), Op(OP_DOES_NOT_CONTAIN, Prop(PROP_DC_TITLE), Val("abc"))),
         " '1'  =  '1'  AND  title  NOT LIKE  '%abc%' ", ""},
        {Op(0, Prop(PROP_DC_TITLE), Val("x")), " title  'x' ", ""},
        {Op(12, Prop(PROP_DC_TITLE), Val("x")), " title  (null)  'x' ", ""},
        {Op(31, Prop(PROP_DC_TITLE), Val("x")), " title  (null)  'x' ", ""},
        {Op(41, Prop(PROP_DC_TITLE), Val("x")), " title  (null)  'x' ", ""},
        // startsWith: a prefix pattern, quotes doubled; a host's id names its column like any other.
        {Op(OP_STARTS_WITH, Prop(PROP_HOST_FIRST), Val("O'B")), " added  LIKE  'O''B%' ", ""},
        {Op(OP_OR, Op(OP_STARTS_WITH, Prop(PROP_DC_TITLE), Val("a value longer than 16")),
            Op(OP_STARTS_WITH, Prop(PROP_HOST_FIRST + 1), Val(""))),
         " title  LIKE  'a value longer than 16%'  OR  (null)  LIKE  '%' ", ""},
        {Op(OP_AND, OfKind(7), Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x"))), " AND  title  =  'x' ",
         "Something Error\n"},
        {Group(OfKind(9)), " (  ) ", "Something Error\n"},
    };
    for (const TreeSqlCase &c : cases) {
        TreePtr tree(c.tree);
        std::string sql;
        int length = -1;
        EXPECT_EQ(CaptureStdout([&] { sql = ToSql(tree.get(), kColumns); }), c.stdoutText);
        EXPECT_EQ(sql, c.sql) << TreeToString(tree.get());
        // Measuring counts exactly what is written, nodes of an unknown kind included.
        EXPECT_EQ(CaptureStdout([&] { length = ConvertSQLConditionEx(tree.get(), kColumns, nullptr, nullptr, 0); }),
                  c.stdoutText);
        EXPECT_EQ(length, static_cast<int>(sql.size())) << TreeToString(tree.get());
    }
}

// The node at 'path' from the root: L, R and I step to the left operand, the right operand and
// a group's contents; nullptr for the path "-".
const ParseTreeNode *At(const ParseTreeNode *tree, const char *path) {
    if (strcmp(path, "-") == 0) return nullptr;
    for (; *path != '\0'; ++path) tree = *path == 'L' ? tree->left : *path == 'R' ? tree->right : tree->inner;
    return tree;
}

struct CheckCase {
    ParseTreeNode *tree;
    const TokenEntry *columns;
    int code;
    const char *node;  // Path to the node at fault, as At reads it.
};

// Whether a tree writes a well-formed condition, and if not the first node at fault in text order.
TEST(SqlConditionWriter, ChecksTreesBeforeWriting) {
    const TokenEntry kUnnamedTitle[] = {{PROP_DC_TITLE, ""}, {PROP_DC_TITLE, "title"}, {0, nullptr}};
    const CheckCase cases[] = {
        {nullptr, kColumns, SEARCH_CONDITION_EMPTY, "-"},
        {Parsed(R"(dc:title = "a" and upnp:genre exists true or (@refID exists false))"), kColumns,
         SEARCH_CONDITION_OK, "-"},
        {Parsed(R"(dc:title = "a" = "b")"), kColumns, SEARCH_CONDITION_OK, "-"},
        // The classic grammar keeps the quote of a value that other bytes follow: a literal text.
        {Parsed(R"(dc:title = "a"))"), kColumns, SEARCH_CONDITION_OK, "-"},
        {Parsed(R"(dc:title = "a" and)"), kColumns, SEARCH_CONDITION_MISSING_OPERAND, ""},
        {Parsed("()"), kColumns, SEARCH_CONDITION_EMPTY_GROUP, ""},
        {Parsed(R"(dc:title="x")"), kColumns, SEARCH_CONDITION_BARE_PROPERTY, ""},
        {Parsed(R"(dc:title = "a" or (dc:title))"), kColumns, SEARCH_CONDITION_BARE_PROPERTY, "RI"},
        // The first problem in text order.
        {Parsed("() and dc:title"), kColumns, SEARCH_CONDITION_EMPTY_GROUP, "L"},
        {Parsed("dc:title and ()"), kColumns, SEARCH_CONDITION_BARE_PROPERTY, "L"},
        {Parsed(R"(dc:title = "a" and () or dc:title)"), kColumns, SEARCH_CONDITION_EMPTY_GROUP, "RL"},
        // Columns: a missing entry or one without a name; none checked without a table.
        {Parsed(R"(dc:title = "a" or (dc:date = "b"))"), kColumns, SEARCH_CONDITION_NO_COLUMN, "RIL"},
        {Parsed(R"(dc:title = "a" or (dc:date = "b"))"), nullptr, SEARCH_CONDITION_OK, "-"},
        {Parsed(R"(dc:title = "a")"), kUnnamedTitle, SEARCH_CONDITION_NO_COLUMN, "L"},
        {Op(OP_EQ, Val("a"), Prop(PROP_UPNP_ACTOR)), kColumns, SEARCH_CONDITION_NO_COLUMN, "R"},
        // Hand-built trees and what the rewrites leave.
        {Val("1"), kColumns, SEARCH_CONDITION_OK, "-"},
        {Group(Val("1")), kColumns, SEARCH_CONDITION_OK, "-"},
        {Op(OP_EQ, Val("a"), Prop(PROP_DC_TITLE)), kColumns, SEARCH_CONDITION_OK, "-"},
        {Op(OP_LT, Prop(PROP_DC_TITLE), nullptr), kColumns, SEARCH_CONDITION_MISSING_OPERAND, ""},
        {Op(OP_OR, Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a")), Op(OP_AND, nullptr, Val("1"))), kColumns,
         SEARCH_CONDITION_MISSING_OPERAND, "R"},
        {Op(0, Prop(PROP_DC_TITLE), Val("x")), kColumns, SEARCH_CONDITION_UNKNOWN_OPERATOR, ""},
        {Op(12, Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a")), Val("x")), kColumns, SEARCH_CONDITION_UNKNOWN_OPERATOR, ""},
        {Op(31, nullptr, Val("x")), kColumns, SEARCH_CONDITION_MISSING_OPERAND, ""},
        {Op(OP_AND, Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a")), Op(OP_OR, Val("1"), OfKind(7))), kColumns,
         SEARCH_CONDITION_UNKNOWN_KIND, "RR"},
        {Group(OfKind(9)), kColumns, SEARCH_CONDITION_UNKNOWN_KIND, "I"},
    };
    for (const CheckCase &c : cases) {
        TreePtr tree(c.tree);
        const ParseTreeNode *node = c.tree;  // Must be overwritten, with nullptr too.
        EXPECT_EQ(CheckSQLCondition(tree.get(), c.columns, &node), c.code) << TreeToString(tree.get());
        EXPECT_EQ(node, At(tree.get(), c.node)) << TreeToString(tree.get());
        EXPECT_EQ(CheckSQLCondition(tree.get(), c.columns, nullptr), c.code) << TreeToString(tree.get());
    }
    const char *const messages[] = {"a well-formed condition", "no condition", "empty parentheses",
                                    "an operator without its operand", "a property without an operator and a value",
                                    "a property without a column", "an operator of unknown id",
                                    "a node of unknown kind", "unknown problem"};
    for (int code = 0; code <= SEARCH_CONDITION_UNKNOWN_KIND + 1; ++code) {
        EXPECT_STREQ(SearchConditionMessage(code), messages[code]);
    }
    EXPECT_STREQ(SearchConditionMessage(-1), "unknown problem");
}

TEST(SqlConditionWriter, RefIdWithoutColumnWritesNull) {
    const TokenEntry noRefId[] = {{PROP_DC_TITLE, "title"}, {0, nullptr}};
    TreePtr tree = Parse("@refID exists false");
    EXPECT_EQ(ToSql(tree.get(), noRefId), " (null)  IS  NOT NULL ");
}

TEST(SqlConditionWriter, NullArguments) {
    ConvertSQLCondition(nullptr, kColumns, nullptr, nullptr, 10);  // Must not crash.
    char out[4] = {'x', 'x', 'x', 'x'};
    ConvertSQLCondition(nullptr, kColumns, nullptr, out, sizeof out);
    EXPECT_EQ(std::string(out), "");
    out[0] = 'x';
    ConvertSQLCondition(nullptr, kColumns, nullptr, out, 0);
    EXPECT_EQ(out[0], 'x');
}

// Left operands and groups nested on either side of the depth that the writer follows without
// a recursive call, alone and mixed, with an and-list after each level: whole texts.
TEST(SqlConditionWriter, NestedLeftOperandsAndGroups) {
    for (size_t depth = 1; depth <= 40; ++depth) {
        const std::string chain = "dc:title" + Repeat(R"( = "a")", depth);
        const std::string chainSql = " title " + Repeat(" =  'a' ", depth);
        const std::string groups = Repeat("(", depth) + R"(dc:title = "a")" + Repeat(R"() or upnp:genre = "b")", depth);
        const std::string groupsSql = Repeat(" ( ", depth) + " title  =  'a' " + Repeat(" )  OR  genre  =  'b' ", depth);
        const std::string mixed = Repeat(R"((upnp:genre = "b" and )", depth) + chain + Repeat(")", depth);
        const std::string mixedSql = Repeat(" (  genre  =  'b'  AND ", depth) + chainSql + Repeat(" ) ", depth);
        const std::pair<std::string, std::string> cases[] = {
            {chain, chainSql}, {groups, groupsSql}, {mixed, mixedSql}};
        for (const auto &c : cases) {
            TreePtr tree = Parse(c.first);
            ASSERT_NE(tree, nullptr) << c.first;
            EXPECT_EQ(ToSql(tree.get(), kColumns), c.second) << c.first;
        }
        // A left operand of an unknown kind, as deep: nothing written for it, the rest in order.
        ParseTreeNode *left = OfKind(7);
        for (size_t i = 0; i < depth; ++i) left = Op(OP_AND, left, Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x")));
        TreePtr tree(left);
        std::string sql;
        EXPECT_EQ(CaptureStdout([&] { sql = ToSql(tree.get(), kColumns); }), "Something Error\n");
        EXPECT_EQ(sql, Repeat(" AND  title  =  'x' ", depth)) << depth;
    }
}

// For every buffer size both entry points write the same NUL-terminated prefix of the whole
// text and nothing past the buffer, and ConvertSQLConditionEx returns the whole length, so that a
// host can retry with that length plus one. Without a buffer or room in it, it only measures.
TEST(SqlConditionWriter, CutsAtEveryBufferSizeAndMeasures) {
    // A list long enough that most buffer sizes cut it, with quotes doubled along the way.
    std::string list = R"(dc:title = "x")", listSql = " media.title  =  'x' ";
    for (int i = 0; i < 40; ++i) {
        list += R"( and upnp:genre contains "r'n'b")";
        listSql += " AND  media.genre  LIKE  '%r''n''b%' ";
    }
    // Hex runs longer than the writer's chunk of them, in a dialect.
    const std::string hexList = R"(dc:title = "x" and upnp:genre contains ")" + Repeat("r_b!", 10) + "\"",
                      hexListSql = " title  =  _utf8mb4 X'78'  AND  genre  LIKE  _utf8mb4 X'25" +
                                   Repeat("72215F622121", 10) + "25' ESCAPE '!' ";
    const SqlCase cases[] = {
        {R"(dc:title contains "abc" and upnp:genre = "abc")", nullptr,
         " title  LIKE  '%abc%'  AND  genre  =  'abc' "},
        {R"((upnp:genre exists true and dc:title != "O'x") or @refID exists false)", "t.",
         " (  t.genre  IS  NOT NULL  AND  t.title  <>  'O''x'  )  OR  t.ref_id  IS  NOT NULL "},
        {"()", nullptr, " (  ) "},
        {"dc:title", "", " title "},
        {R"(dc:title = "x" and)", nullptr, " title  =  'x'  AND "},
        {R"(dc:title contains "a title longer than sixteen")", nullptr,
         " title  LIKE  '%a title longer than sixteen%' "},
        {"", nullptr, ""},
        {list.c_str(), "media.", listSql.c_str()},
        {hexList.c_str(), nullptr, hexListSql.c_str(), &kMysqlLiteral},
    };
    for (const SqlCase &c : cases) {
        TreePtr tree = Parse(c.criteria);
        const std::string whole = c.sql;
        ASSERT_EQ(ToSql(tree.get(), kColumns, c.prefix, c.options), whole) << c.criteria;
        auto convert = [&](char *out, int size) {
            return c.options != nullptr ? ConvertSQLConditionWith(tree.get(), kColumns, c.prefix, c.options, out, size)
                                        : ConvertSQLConditionEx(tree.get(), kColumns, c.prefix, out, size);
        };
        const int length = static_cast<int>(whole.size());
        for (int size = 1; size <= length + 2; ++size) {
            std::vector<char> ex(static_cast<size_t>(size) + 8, '\x7f');
            std::vector<char> classic(ex);
            EXPECT_EQ(convert(ex.data(), size), length) << c.criteria << " in " << size;
            if (c.options == nullptr) {
                ConvertSQLCondition(tree.get(), kColumns, c.prefix, classic.data(), size);
                ASSERT_EQ(ex, classic) << c.criteria << " in " << size;
            }
            EXPECT_EQ(std::string(ex.data()), whole.substr(0, static_cast<size_t>(size) - 1)) << size;
            // Nothing after the NUL is touched, inside the buffer or beyond it.
            for (size_t i = strlen(ex.data()) + 1; i < ex.size(); ++i) ASSERT_EQ(ex[i], '\x7f') << size;
        }
        for (int size : {0, 1, 100, -1, INT_MIN}) {
            EXPECT_EQ(convert(nullptr, size), length) << c.criteria << " in " << size;
        }
        for (int size : {0, -1, INT_MIN}) {
            char guard[4] = {'\x7f', '\x7f', '\x7f', '\x7f'};
            EXPECT_EQ(convert(guard, size), length) << size;
            EXPECT_EQ(std::string(guard, 4), "\x7f\x7f\x7f\x7f") << c.criteria << " in " << size;
        }
    }
}

// The writer copies short values with word loads from both ends that also look for single
// quotes: every length around the word sizes and beyond, with a quote at every position (alone,
// or with a second one), in both literal forms, against a byte-at-a-time statement of the rule,
// into buffers that fit exactly, so that a write past the text would show.
std::string DoubleQuotes(const std::string &value) {
    std::string out;
    for (char c : value) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

TEST(SqlConditionWriter, QuotesAtEveryPositionOfValuesUpTo72Bytes) {
    int checked = 0;
    for (size_t length = 0; length <= 72; ++length) {
        for (size_t quote = 0; quote <= length + 1; ++quote) {
            std::string value;
            for (size_t i = 0; i < length; ++i) value += static_cast<char>('a' + i % 26);
            // quote == length: no quote; quote == length + 1: quotes at both ends.
            if (quote < length) value[quote] = '\'';
            if (quote == length + 1 && length >= 2) value.front() = value.back() = '\'';
            for (int opId : {OP_EQ, OP_CONTAINS}) {
                TreePtr tree(Op(opId, Prop(PROP_DC_TITLE), Val(value.c_str())));
                const char *open = opId == OP_EQ ? " '" : " '%";
                const char *close = opId == OP_EQ ? "' " : "%' ";
                std::string expected = std::string(" title  ") + (opId == OP_EQ ? "=" : "LIKE") + " " +
                                       open + DoubleQuotes(value) + close;
                std::vector<char> out(expected.size() + 1 + 8, '\x7f');
                int size = static_cast<int>(expected.size() + 1);
                EXPECT_EQ(ConvertSQLConditionEx(tree.get(), kColumns, nullptr, out.data(), size),
                          static_cast<int>(expected.size()));
                EXPECT_EQ(std::string(out.data()), expected) << value;
                EXPECT_EQ(std::string(out.data() + size, 8), std::string(8, '\x7f')) << value;
                // One byte short: the text is cut before the last blank.
                std::fill(out.begin(), out.end(), '\x7f');
                ConvertSQLCondition(tree.get(), kColumns, nullptr, out.data(), size - 1);
                EXPECT_EQ(std::string(out.data()), expected.substr(0, expected.size() - 1)) << value;
                EXPECT_EQ(out[static_cast<size_t>(size - 1)], '\x7f') << value;
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 2 * (73 * 74 / 2 + 73));
}

// The column of a property is reused while the same property follows: the first entry with the
// id wins each time, also for properties repeated at once and after others, ids of any value (0,
// which ends a table, first of all) and a table that names one id twice.
TEST(SqlConditionWriter, ColumnOfRepeatedProperties) {
    const TokenEntry twice[] = {{PROP_DC_TITLE, "t1"}, {40, "forty"}, {PROP_DC_TITLE, "t2"},
                                {-3, "minus"}, {PROP_UPNP_GENRE, nullptr}, {0, nullptr}};
    TreePtr tree(Op(OP_OR, Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a")),
                    Op(OP_OR, Op(OP_EQ, Prop(40), Val("b")),
                       Op(OP_OR, Op(OP_EQ, Prop(-3), Val("c")),
                          Op(OP_OR, Op(OP_EQ, Prop(PROP_UPNP_GENRE), Val("d")),
                             Op(OP_OR, Op(OP_EQ, Prop(40), Val("e")),
                                Op(OP_AND, Prop(PROP_DC_TITLE), Prop(PROP_UPNP_GENRE))))))));
    EXPECT_EQ(ToSql(tree.get(), twice, "x."),
              " x.t1  =  'a'  OR  x.forty  =  'b'  OR  x.minus  =  'c'  OR  x.(null)  =  'd'  OR "
              " x.forty  =  'e'  OR  x.t1  AND  x.(null) ");
    TreePtr runs(Op(OP_OR, Op(OP_EQ, Prop(0), Val("a")),
                    Op(OP_OR, Op(OP_EQ, Prop(40), Val("b")),
                       Op(OP_OR, Op(OP_EQ, Prop(40), Val("c")),
                          Op(OP_OR, Op(OP_EQ, Prop(0), Val("d")), Op(OP_AND, Prop(-3), Prop(-3)))))));
    const TokenEntry namedEnd[] = {{40, "forty"}, {-3, "minus"}, {0, "end"}};
    EXPECT_EQ(ToSql(runs.get(), namedEnd),
              " (null)  =  'a'  OR  forty  =  'b'  OR  forty  =  'c'  OR  (null)  =  'd'  OR "
              " minus  AND  minus ");
}

TEST(MyStrCatf, KeepsTheFullLength) {
    char buf[8];
    memset(buf, 'x', sizeof buf);
    int len = 0;
    EXPECT_EQ(MyStrCatf(buf, &len, 4, " %s ", "abc"), 5);
    EXPECT_EQ(len, 5);
    EXPECT_EQ(std::string(buf), " ab");
    EXPECT_EQ(buf[4], 'x');

    len = 4;
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(MyStrCatf(buf, &len, 4, "%d", 12345), 5);
    EXPECT_EQ(len, 9);
    EXPECT_EQ(buf[0], 'x');

    // Past the contract (*len beyond size): still nothing written and no negative bound.
    EXPECT_EQ(MyStrCatf(buf, &len, 4, "%s", "ab"), 2);
    EXPECT_EQ(len, 11);
    EXPECT_EQ(buf[0], 'x');

    len = 2;
    EXPECT_EQ(MyStrCatf(buf, &len, 8, "%s-%d", "ab", 7), 4);
    EXPECT_EQ(len, 6);
    EXPECT_EQ(std::string(buf, 7), std::string("xxab-7\0", 7));

    // Without a running length there is nowhere to count: refused.
    EXPECT_EQ(MyStrCatf(buf, nullptr, 8, "%s", "ab"), -1);
    EXPECT_EQ(std::string(buf, 7), std::string("xxab-7\0", 7));
}

}  // namespace
