// Values from untrusted criteria must stay values in the SQL text. A property test writes
// conditions on random byte strings (quotes, backslashes, pattern characters, bytes 0x01-0xFF),
// runs them over a table that holds the exact value in one row and near misses in others, and
// checks that every statement runs, is one read-only SELECT that touches nothing but that table,
// and selects exactly the rows the condition means. It runs on SQLite, and in their dialects on
// the PostgreSQL and MariaDB servers of ctest's Databases.Start, MariaDB both with and without
// NO_BACKSLASH_ESCAPES.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <strings.h>

#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "HostDatabase.h"
#include "TreeText.h"

using namespace msc_test;

namespace {

// A host's own property has its column like the built-in ones.
const TokenEntry kColumns[] = {
    {PROP_DC_TITLE, "title"}, {PROP_UPNP_GENRE, "genre"}, {PROP_HOST_FIRST, "genre"}, {0, nullptr}};
const TokenEntry kHostProperties[] = {{PROP_HOST_FIRST, R"(upnp:artist[@role="AlbumArtist"])"}, {0, nullptr}};

// Random values that lean towards the bytes that matter to SQL: quotes, backslash, pattern
// characters, statement separators and comment starters, and any byte from 0x01 to 0xFF; with
// 'utf8' the bytes from 0x80 only as UTF-8 of a random character (PostgreSQL takes nothing else).
std::string RandomValue(std::mt19937 &random, bool utf8 = false) {
    static const char kSpecial[] = "'\"\\%_;-/* \t\n()!";
    std::uniform_int_distribution<int> length(0, 24);
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> special(0, sizeof kSpecial - 2);
    std::uniform_int_distribution<int> anyByte(1, 255);
    std::uniform_int_distribution<unsigned> character(0x80, 0x10FFFF);
    std::uniform_int_distribution<int> letter('a', 'z');
    std::string value;
    for (int i = length(random); i > 0; --i) {
        switch (kind(random)) {
            case 0: value += kSpecial[special(random)]; break;
            case 1:
                if (utf8) {
                    unsigned c = character(random);
                    if (c >= 0xD800 && c < 0xE000) c -= 0x800;  // No surrogates.
                    int n = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
                    value += static_cast<char>((0xF00 >> n) | (c >> (6 * (n - 1))));
                    for (int k = n - 2; k >= 0; --k) value += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
                } else {
                    value += static_cast<char>(anyByte(random));
                }
                break;
            default: value += static_cast<char>(letter(random)); break;
        }
    }
    return value;
}

struct Row {
    int id;
    std::string title;
    std::string genre;
};

// The table of the test on one database.
class Backend {
public:
    virtual ~Backend() = default;
    virtual void Fill(const std::vector<Row> &rows) = 0;
    // Runs SELECT id FROM t WHERE <condition>; "error: ..." when it fails or does more than read t.
    virtual std::string Select(const std::string &condition, std::set<int> *ids) = 0;
};

class SqliteBackend : public Backend {
public:
    SqliteBackend() {
        EXPECT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
        Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, title TEXT, genre TEXT);"
             "CREATE TABLE secret(x TEXT); INSERT INTO secret VALUES('kept');");
        sqlite3_set_authorizer(db_, &SqliteBackend::Authorize, this);
    }
    ~SqliteBackend() override { sqlite3_close(db_); }

    void Exec(const char *sql) { ASSERT_EQ(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), SQLITE_OK); }

    void Fill(const std::vector<Row> &rows) override {
        authorizing_ = false;
        Exec("DELETE FROM t;");
        sqlite3_stmt *insert = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db_, "INSERT INTO t VALUES(?, ?, ?)", -1, &insert, nullptr), SQLITE_OK);
        for (const Row &row : rows) {
            sqlite3_bind_int(insert, 1, row.id);
            sqlite3_bind_text(insert, 2, row.title.data(), static_cast<int>(row.title.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 3, row.genre.data(), static_cast<int>(row.genre.size()), SQLITE_TRANSIENT);
            ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        authorizing_ = true;
    }

    // Runs SELECT id FROM t WHERE <condition>; "error: ..." when it fails or is more than one
    // read-only statement over t.
    std::string Select(const std::string &condition, std::set<int> *ids) override {
        std::string query = "SELECT id FROM t WHERE" + condition;
        sqlite3_stmt *stmt = nullptr;
        const char *tail = nullptr;
        violations_.clear();
        if (sqlite3_prepare_v2(db_, query.c_str(), static_cast<int>(query.size()), &stmt, &tail) != SQLITE_OK) {
            return std::string("error: ") + sqlite3_errmsg(db_);
        }
        std::string outcome;
        if (tail != query.c_str() + query.size()) outcome = "error: text after the statement";
        if (!sqlite3_stmt_readonly(stmt)) outcome = "error: statement writes";
        int step;
        while ((step = sqlite3_step(stmt)) == SQLITE_ROW) ids->insert(sqlite3_column_int(stmt, 0));
        if (step != SQLITE_DONE) outcome = std::string("error: ") + sqlite3_errmsg(db_);
        sqlite3_finalize(stmt);
        if (!violations_.empty()) outcome = "error: " + violations_;
        return outcome;
    }

private:
    // Only reading t and calling LIKE (whose name SQLite passes second) is the intended condition; anything else is denied and noted.
    static int Authorize(void *self, int action, const char *a, const char *b, const char *, const char *) {
        auto *db = static_cast<SqliteBackend *>(self);
        if (!db->authorizing_) return SQLITE_OK;
        bool allowed = action == SQLITE_SELECT || (action == SQLITE_READ && a != nullptr && strcmp(a, "t") == 0) ||
                       (action == SQLITE_FUNCTION && b != nullptr && strcasecmp(b, "like") == 0);
        if (allowed) return SQLITE_OK;
        db->violations_ += "action " + std::to_string(action) + " on " + (a != nullptr ? a : "-") + "; ";
        return SQLITE_DENY;
    }

    sqlite3 *db_ = nullptr;
    bool authorizing_ = false;
    std::string violations_;
};

std::string Hex(const std::string &bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : bytes) hex += {kDigits[c >> 4], kDigits[c & 15]};
    return hex;
}

// A server: temporary tables of this session only, filled from hex digits (no quoting of the
// test's own), searched while the session is read only.
class ServerBackend : public Backend {
public:
    ServerBackend(const char *address, const char *session) {
        std::string error;
        db_ = msc_host::OpenDatabase(address, &error);
        if (db_ == nullptr) {
            ADD_FAILURE() << error << " (ctest starts the servers first: Databases.Start)";
            return;
        }
        postgres_ = db_->Kind() == msc_host::DatabaseKind::kPostgresql;
        const char *type = postgres_ ? "TEXT COLLATE \"C\"" : "VARBINARY(255)";
        if (session != nullptr) Exec(session);
        Writable(true);
        Exec(std::string("CREATE TEMPORARY TABLE t(id INTEGER PRIMARY KEY, title ") + type + ", genre " + type + ")");
        Exec(std::string("CREATE TEMPORARY TABLE secret(x ") + type + ")");
        Exec("INSERT INTO secret VALUES ('kept')");
        Writable(false);
    }
    bool Open() const { return db_ != nullptr; }

    void Fill(const std::vector<Row> &rows) override {
        auto text = [this](const std::string &bytes) {
            return postgres_ ? "convert_from(decode('" + Hex(bytes) + "', 'hex'), 'UTF8')" : "X'" + Hex(bytes) + "'";
        };
        std::string insert = "INSERT INTO t VALUES ";
        for (const Row &row : rows) {
            insert += (&row == &rows[0] ? "(" : ", (") + std::to_string(row.id) + ", " + text(row.title) + ", " +
                      text(row.genre) + ")";
        }
        Writable(true);
        Exec("DELETE FROM t");
        Exec(insert);
        Writable(false);
    }

    std::string Select(const std::string &condition, std::set<int> *ids) override {
        std::vector<std::string> rows;
        std::string error = Column("id", "t", condition, &rows);
        for (const std::string &id : rows) ids->insert(std::stoi(id));
        return error.empty() ? "" : "error: " + error;
    }

    // The first column of every row of SELECT show FROM table WHERE condition; "" or the error.
    std::string Column(const char *show, const char *table, const std::string &condition,
                       std::vector<std::string> *values) {
        msc_host::SelectQuery query;
        query.show = show;
        query.table = table;
        query.idColumn.clear();
        query.order.clear();
        msc_host::ResultTable result;
        std::string error;
        if (!db_->Select(query, condition, &result, &error)) return error;
        for (const auto &row : result.rows) values->push_back(row.at(0));
        return "";
    }

private:
    void Exec(const std::string &sql) {
        std::string error;
        EXPECT_TRUE(db_->Execute(sql, &error)) << sql << ": " << error;
    }
    void Writable(bool on) {
        if (postgres_) Exec(std::string("SET default_transaction_read_only = ") + (on ? "off" : "on"));
        else Exec(std::string("SET SESSION TRANSACTION ") + (on ? "READ WRITE" : "READ ONLY"));
    }

    std::unique_ptr<msc_host::HostDatabase> db_;
    bool postgres_ = false;
};

// Rows that hold the value itself and its near misses: cut short, extended, other case,
// quotes and backslashes doubled or dropped, as a faulty escaping would turn it.
std::vector<Row> RowsAround(const std::string &value, const std::string &genre, std::mt19937 &random, bool utf8) {
    std::vector<std::string> titles = {value, value + "x", "x" + value, "", "'", "\\", "%"};
    size_t cut = value.size() - 1;  // Without the last character (byte, unless 'utf8').
    while (utf8 && cut > 0 && cut < value.size() && (value[cut] & 0xC0) == 0x80) --cut;
    if (!value.empty()) titles.push_back(value.substr(0, cut));
    std::string upper = value, doubled, dropped;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    });
    for (char c : value) {
        doubled += c;
        if (c == '\'' || c == '\\') doubled += c;
        if (c != '\'' && c != '\\') dropped += c;
    }
    titles.insert(titles.end(), {upper, doubled, dropped, RandomValue(random, utf8)});
    std::vector<Row> rows;
    for (size_t i = 0; i < titles.size(); ++i) {
        rows.push_back({static_cast<int>(i) + 1, titles[i], i % 2 == 0 ? genre : RandomValue(random, utf8)});
    }
    return rows;
}

// Where the test runs, and in which dialect.
struct Target {
    const char *name;
    const char *address;  // nullptr: SQLite in memory.
    const char *session;  // A statement that sets the session up, or nullptr.
    int dialect;
};
void PrintTo(const Target &target, std::ostream *out) { *out << target.name; }
const Target kTargets[] = {
    {"sqlite", nullptr, nullptr, SQL_DIALECT_SQLITE},
    {"postgresql", MSC_TEST_POSTGRESQL, nullptr, SQL_DIALECT_POSTGRESQL},
    {"mariadb", MSC_TEST_MARIADB, nullptr, SQL_DIALECT_MYSQL},
    {"mariadb_no_backslash_escapes", MSC_TEST_MARIADB,
     "SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')", SQL_DIALECT_MYSQL},
};

class SqlInjection : public ::testing::TestWithParam<Target> {};
INSTANTIATE_TEST_SUITE_P(Databases, SqlInjection, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target> &target) { return std::string(target.param.name); });

TEST_P(SqlInjection, RandomValuesStayValues) {
    const Target &target = GetParam();
    std::unique_ptr<Backend> backend;
    if (target.address == nullptr) {
        backend = std::make_unique<SqliteBackend>();
    } else {
        auto server = std::make_unique<ServerBackend>(target.address, target.session);
        ASSERT_TRUE(server->Open());
        if (target.dialect == SQL_DIALECT_MYSQL) {
            // The mode is the one the target names: MariaDB's default lacks NO_BACKSLASH_ESCAPES.
            std::vector<std::string> mode;
            ASSERT_EQ(server->Column("@@sql_mode", "DUAL", "", &mode), "");
            EXPECT_EQ(mode.at(0).find("NO_BACKSLASH_ESCAPES") != std::string::npos, target.session != nullptr) << mode[0];
        }
        backend = std::move(server);
    }
    const bool utf8 = target.dialect == SQL_DIALECT_POSTGRESQL;
    std::mt19937 random(20261206);
    int parsedWhole = 0;
    int parsedHost = 0;
    constexpr int kRounds = 1500;
    for (int round = 0; round < kRounds; ++round) {
        const std::string value = RandomValue(random, utf8);
        const std::string genre = RandomValue(random, utf8);
        const std::vector<Row> rows = RowsAround(value, genre, random, utf8);
        backend->Fill(rows);
        // Every other round with literal patterns; on SQLite without them the classic text.
        const SqlOptions options = {target.dialect, round % 2 != 0 ? SQL_LITERAL_PATTERNS : 0u};
        SCOPED_TRACE(::testing::PrintToString(value));

        // The rows each condition means, computed from the stored bytes.
        std::set<int> equal, unequal, both, either, sameGenre;
        for (const Row &row : rows) {
            (row.title == value ? equal : unequal).insert(row.id);
            if (row.genre == genre) sameGenre.insert(row.id);
            if (row.title == value && row.genre == genre) both.insert(row.id);
            if (row.title == value || row.genre == genre) either.insert(row.id);
        }
        struct Check {
            TreePtr tree;
            std::set<int> want;
            bool exact;  // false: only "row 1 selected" (contains) or "not selected" is known
        };
        std::vector<Check> checks;
        checks.push_back({TreePtr(Op(OP_EQ, Prop(PROP_DC_TITLE), Val(value.c_str()))), equal, true});
        checks.push_back({TreePtr(Op(OP_NE, Prop(PROP_DC_TITLE), Val(value.c_str()))), unequal, true});
        checks.push_back({TreePtr(Op(OP_AND, Op(OP_EQ, Prop(PROP_DC_TITLE), Val(value.c_str())),
                                     Op(OP_EQ, Prop(PROP_UPNP_GENRE), Val(genre.c_str())))),
                          both, true});
        checks.push_back({TreePtr(Op(OP_OR, Group(Op(OP_EQ, Prop(PROP_DC_TITLE), Val(value.c_str()))),
                                     Op(OP_IS, Prop(PROP_UPNP_GENRE), Val(genre.c_str())))),
                          either, true});
        checks.push_back({TreePtr(Op(OP_CONTAINS, Prop(PROP_DC_TITLE), Val(value.c_str()))), {1}, false});
        checks.push_back({TreePtr(Op(OP_DOES_NOT_CONTAIN, Prop(PROP_DC_TITLE), Val(value.c_str()))), {}, false});
        checks.push_back({TreePtr(Op(OP_STARTS_WITH, Prop(PROP_DC_TITLE), Val(value.c_str()))), {1}, false});
        // The same value through the parser, when the criteria text carries it whole.
        std::string criteria = "dc:title = \"" + value + "\"";
        TreePtr parsed = Parse(criteria);
        if (parsed != nullptr && TreeToString(parsed.get()) == "OP_EQ(PROP_DC_TITLE, \"" + value + "\")" &&
            strlen(parsed->right->text) == value.size()) {
            ++parsedWhole;
            checks.push_back({std::move(parsed), equal, true});
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
            checks.push_back({std::move(hostTree), sameGenre, true});
        }

        for (const Check &check : checks) {
            const TreePtr &tree = check.tree;
            for (const char *prefix : {static_cast<const char *>(nullptr), "t."}) {
                std::string sql = ToSql(tree.get(), kColumns, prefix, &options);
                std::set<int> got;
                ASSERT_EQ(backend->Select(sql, &got), "") << sql;
                if (check.exact) {
                    EXPECT_EQ(got, check.want) << sql;
                } else if (tree->opId == OP_CONTAINS || tree->opId == OP_STARTS_WITH) {
                    EXPECT_EQ(got.count(1), 1u) << sql;
                } else {
                    EXPECT_EQ(got.count(1), 0u) << sql;
                }
            }
        }
    }
    // Most random values survive a criteria text unchanged; the rest went through hand-built trees.
    EXPECT_GT(parsedWhole, kRounds / 3);
    EXPECT_GT(parsedHost, kRounds / 3);
    // Nothing else was changed.
    std::vector<std::string> secret;
    if (auto *server = dynamic_cast<ServerBackend *>(backend.get())) {
        EXPECT_EQ(server->Column("x", "secret", "", &secret), "");
        EXPECT_EQ(secret, std::vector<std::string>{"kept"});
    }
}

}  // namespace
