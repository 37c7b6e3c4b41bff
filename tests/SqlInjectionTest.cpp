// Values from untrusted criteria stay values in the SQL text: conditions on random byte strings
// run over a table that holds the exact value in one row and near misses in others, as one
// read-only SELECT each, select exactly the rows they mean and leave another table as it was; on
// SQLite and on the servers of ctest's Databases.Start, MariaDB with and without NO_BACKSLASH_ESCAPES.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "HostDatabase.h"
#include "TreeText.h"

using namespace msc_test;
using msc_host::DatabaseKind;

namespace {

// A host's own property has its column like the built-in ones.
const TokenEntry kColumns[] = {
    {PROP_DC_TITLE, "title"}, {PROP_UPNP_GENRE, "genre"}, {PROP_HOST_FIRST, "genre"}, {0, nullptr}};
const TokenEntry kHostProperties[] = {{PROP_HOST_FIRST, R"(upnp:artist[@role="AlbumArtist"])"}, {0, nullptr}};

// Random values that lean towards the bytes that matter to SQL: quotes, backslash, pattern
// characters, statement separators and comment starters, and any byte from 0x01 to 0xFF; with
// 'utf8' the bytes from 0x80 only as UTF-8 of a random character (PostgreSQL takes nothing else).
std::string RandomValue(std::mt19937 &random, bool utf8) {
    static const char kSpecial[] = "'\"\\%_;-/* \t\n()!";
    std::string value;
    for (int i = static_cast<int>(random() % 25); i > 0; --i) {
        unsigned kind = random() % 4;
        if (kind == 0) {
            value += kSpecial[random() % (sizeof kSpecial - 1)];
        } else if (kind == 1 && utf8) {
            unsigned c = 0x80 + static_cast<unsigned>(random() % 0x10FF80);
            if (c >= 0xD800 && c < 0xE000) c -= 0x800;  // No surrogates.
            int n = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
            value += static_cast<char>((0xF00 >> n) | (c >> (6 * (n - 1))));
            for (int k = n - 2; k >= 0; --k) value += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
        } else {
            value += static_cast<char>(kind == 1 ? 1 + random() % 255 : 'a' + random() % 26);
        }
    }
    return value;
}

// Titles that hold the value itself and its near misses: cut short, extended, other case,
// quotes and backslashes doubled or dropped, as a faulty escaping would turn it.
std::vector<std::string> TitlesAround(const std::string &value, std::mt19937 &random, bool utf8) {
    std::vector<std::string> titles = {value, value + "x", "x" + value, "", "'", "\\", "%"};
    size_t cut = value.size() - 1;  // Without the last character (byte, unless 'utf8').
    while (utf8 && cut > 0 && cut < value.size() && (value[cut] & 0xC0) == 0x80) --cut;
    if (!value.empty()) titles.push_back(value.substr(0, cut));
    std::string upper, doubled, dropped;
    for (char c : value) {
        upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        doubled += c;
        if (c == '\'' || c == '\\') doubled += c;
        if (c != '\'' && c != '\\') dropped += c;
    }
    titles.insert(titles.end(), {upper, doubled, dropped, RandomValue(random, utf8)});
    return titles;
}

// Per kind of database (SQLite, PostgreSQL, MariaDB): the test's column type, how a session
// turns writable and back read only, and what goes around hex digits to make a text literal of
// exactly those bytes (no quoting of the test's own).
const char *const kKindSql[][5] = {
    {"TEXT", "PRAGMA query_only = 0", "PRAGMA query_only = 1", "CAST(X'", "' AS TEXT)"},
    {"TEXT COLLATE \"C\"", "SET default_transaction_read_only = off", "SET default_transaction_read_only = on",
     "convert_from(decode('", "', 'hex'), 'UTF8')"},
    {"VARBINARY(255)", "SET SESSION TRANSACTION READ WRITE", "SET SESSION TRANSACTION READ ONLY", "X'", "'"}};

std::string Literal(DatabaseKind kind, const std::string &bytes) {
    std::string hex = kKindSql[static_cast<int>(kind)][3];
    for (unsigned char c : bytes) hex += {"0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
    return hex + kKindSql[static_cast<int>(kind)][4];
}

// Runs the statements with the session writable; the searches between run read only.
void RunWritable(msc_host::HostDatabase &db, std::vector<std::string> statements) {
    statements.insert(statements.begin(), kKindSql[static_cast<int>(db.Kind())][1]);
    statements.push_back(kKindSql[static_cast<int>(db.Kind())][2]);
    std::string error;
    for (const std::string &sql : statements) EXPECT_TRUE(db.Execute(sql, &error)) << sql << ": " << error;
}

// The first column of every row of SELECT show FROM table WHERE (condition).
std::vector<std::string> Column(msc_host::HostDatabase &db, const char *show, const char *table,
                                const std::string &condition) {
    msc_host::SelectQuery query;
    query.show = show;
    query.table = table;
    query.idColumn = query.order = "";
    msc_host::ResultTable result;
    std::string error;
    EXPECT_TRUE(db.Select(query, condition, &result, &error)) << condition << ": " << error;
    std::vector<std::string> values;
    for (const auto &row : result.rows) values.push_back(row.at(0));
    return values;
}

// Where the test runs: a database by its scheme for msc_test::DatabaseAddress ("sqlite": in
// memory), and a statement that sets the session up, or nullptr.
struct Target { const char *name, *scheme, *session; };
void PrintTo(const Target &target, std::ostream *out) { *out << target.name; }
const Target kTargets[] = {
    {"sqlite", "sqlite", nullptr}, {"postgresql", "postgresql", nullptr}, {"mariadb", "mariadb", nullptr},
    {"mariadb_no_backslash_escapes", "mariadb", "SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')"},
};

class SqlInjection : public ::testing::TestWithParam<Target> {};
INSTANTIATE_TEST_SUITE_P(Databases, SqlInjection, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target> &target) { return std::string(target.param.name); });

TEST_P(SqlInjection, RandomValuesStayValues) {
    const Target &target = GetParam();
    std::string error;
    std::unique_ptr<msc_host::HostDatabase> db = msc_host::OpenDatabase(msc_test::DatabaseAddress(target.scheme), &error);
    ASSERT_NE(db, nullptr) << error << " (ctest starts the servers first: Databases.Start)";
    const DatabaseKind kind = db->Kind();
    const std::string type = kKindSql[static_cast<int>(kind)][0];
    std::vector<std::string> setup = {"CREATE TEMPORARY TABLE t(id INTEGER PRIMARY KEY, title " + type + ", genre " +
                                          type + ")",
                                      "CREATE TEMPORARY TABLE secret(x " + type + ")", "INSERT INTO secret VALUES ('kept')"};
    if (target.session != nullptr) setup.push_back(target.session);
    RunWritable(*db, setup);
    if (kind == DatabaseKind::kMariadb) {
        // The mode is the one the target names: MariaDB's default lacks NO_BACKSLASH_ESCAPES.
        std::vector<std::string> mode = Column(*db, "@@sql_mode", "DUAL", "");
        EXPECT_EQ(mode.at(0).find("NO_BACKSLASH_ESCAPES") != std::string::npos, target.session != nullptr) << mode[0];
    }
    const bool utf8 = kind == DatabaseKind::kPostgresql;
    std::mt19937 random(20261206);
    int parsedWhole = 0, parsedHost = 0;
    constexpr int kRounds = 1500;
    for (int round = 0; round < kRounds && !HasFailure(); ++round) {
        const std::string value = RandomValue(random, utf8);
        const std::string genre = RandomValue(random, utf8);
        // Row i + 1 holds titles[i], and every other row the genre.
        const std::vector<std::string> titles = TitlesAround(value, random, utf8);
        std::vector<std::string> genres;
        std::string insert = "INSERT INTO t VALUES ";
        for (size_t i = 0; i < titles.size(); ++i) {
            genres.push_back(i % 2 == 0 ? genre : RandomValue(random, utf8));
            insert += (i ? ", (" : "(") + std::to_string(i + 1) + ", " + Literal(kind, titles[i]) + ", " +
                      Literal(kind, genres[i]) + ")";
        }
        RunWritable(*db, {"DELETE FROM t", insert});
        // Every other round with literal patterns; on SQLite without them the classic text.
        const SqlOptions options = {msc_host::DialectOf(kind), round % 2 != 0 ? SQL_LITERAL_PATTERNS : 0u};
        SCOPED_TRACE(::testing::PrintToString(value));

        // The rows each condition means, computed from the stored bytes.
        std::set<int> equal, unequal, both, either, genreRows;
        for (int id = 1; id <= static_cast<int>(titles.size()); ++id) {
            bool title = titles[id - 1] == value, sameGenre = genres[id - 1] == genre;
            (title ? equal : unequal).insert(id);
            if (sameGenre) genreRows.insert(id);
            if (title && sameGenre) both.insert(id);
            if (title || sameGenre) either.insert(id);
        }
        // Each tree with its rows; for contains and startsWith only "row 1 among them" is known,
        // for doesNotContain only "row 1 not among them".
        const char *v = value.c_str();
        std::vector<std::pair<TreePtr, std::set<int>>> checks;
        checks.push_back({TreePtr(Op(OP_EQ, Prop(PROP_DC_TITLE), Val(v))), equal});
        checks.push_back({TreePtr(Op(OP_NE, Prop(PROP_DC_TITLE), Val(v))), unequal});
        checks.push_back({TreePtr(Op(OP_AND, Op(OP_EQ, Prop(PROP_DC_TITLE), Val(v)),
                                     Op(OP_EQ, Prop(PROP_UPNP_GENRE), Val(genre.c_str())))), both});
        checks.push_back({TreePtr(Op(OP_OR, Group(Op(OP_EQ, Prop(PROP_DC_TITLE), Val(v))),
                                     Op(OP_IS, Prop(PROP_UPNP_GENRE), Val(genre.c_str())))), either});
        checks.push_back({TreePtr(Op(OP_CONTAINS, Prop(PROP_DC_TITLE), Val(v))), std::set<int>{1}});
        checks.push_back({TreePtr(Op(OP_DOES_NOT_CONTAIN, Prop(PROP_DC_TITLE), Val(v))), std::set<int>{}});
        checks.push_back({TreePtr(Op(OP_STARTS_WITH, Prop(PROP_DC_TITLE), Val(v))), std::set<int>{1}});
        // The same value through the parser, when the criteria text carries it whole.
        TreePtr parsed = Parse("dc:title = \"" + value + "\"");
        if (parsed != nullptr && TreeToString(parsed.get()) == "OP_EQ(PROP_DC_TITLE, \"" + value + "\")" &&
            strlen(parsed->right->text) == value.size()) {
            ++parsedWhole;
            checks.push_back({std::move(parsed), equal});
        }
        // A host property through the standard grammar, with the genre as its value.
        std::string hostCriteria = R"(upnp:artist[@role = "AlbumArtist"] = ")" + genre + "\"";
        const SearchParseConfig config = {SEARCH_PARSE_STANDARD, kHostProperties};
        ParseTreeNode *host = nullptr;
        Parse_searchExpWith(&host, hostCriteria.c_str(), 0, static_cast<int>(hostCriteria.size()) - 1, &config, nullptr);
        TreePtr hostTree(host);
        if (hostTree != nullptr && TreeToString(host) == "OP_EQ(PROP128, \"" + genre + "\")" &&
            strlen(host->right->text) == genre.size()) {
            ++parsedHost;
            checks.push_back({std::move(hostTree), genreRows});
        }

        for (const auto &check : checks) {
            for (const char *prefix : {static_cast<const char *>(nullptr), "t."}) {
                std::string sql = ToSql(check.first.get(), kColumns, prefix, &options);
                std::set<int> got;
                for (const std::string &id : Column(*db, "id", "t", sql)) got.insert(std::stoi(id));
                int op = check.first->opId;
                if (op == OP_CONTAINS || op == OP_STARTS_WITH || op == OP_DOES_NOT_CONTAIN) {
                    EXPECT_EQ(got.count(1), check.second.size()) << sql;
                } else {
                    EXPECT_EQ(got, check.second) << sql;
                }
            }
        }
    }
    // Most random values survive a criteria text unchanged; the rest went through hand-built trees.
    EXPECT_GT(parsedWhole, kRounds / 3);
    EXPECT_GT(parsedHost, kRounds / 3);
    EXPECT_EQ(Column(*db, "x", "secret", ""), std::vector<std::string>{"kept"}) << "nothing else was changed";
}

}  // namespace
