// Values from untrusted criteria must stay values in the SQL text. A property test writes
// conditions on random byte strings (quotes, backslashes, pattern characters, bytes 0x01-0xFF),
// runs them in SQLite over a table that holds the exact value in one row and near misses in
// others, and checks that every statement prepares, is one read-only SELECT that touches
// nothing but that table, and selects exactly the rows the condition means.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <strings.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "TreeText.h"

using namespace msc_test;

namespace {

// A host's own property has its column like the built-in ones.
const TokenEntry kColumns[] = {
    {PROP_DC_TITLE, "title"}, {PROP_UPNP_GENRE, "genre"}, {PROP_HOST_FIRST, "genre"}, {0, nullptr}};
const TokenEntry kHostProperties[] = {{PROP_HOST_FIRST, R"(upnp:artist[@role="AlbumArtist"])"}, {0, nullptr}};

// Random values that lean towards the bytes that matter to SQL: quotes, backslash, pattern
// characters, statement separators and comment starters, and any byte from 0x01 to 0xFF.
std::string RandomValue(std::mt19937 &random) {
    static const char kSpecial[] = "'\"\\%_;-/* \t\n()";
    std::uniform_int_distribution<int> length(0, 24);
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> special(0, sizeof kSpecial - 2);
    std::uniform_int_distribution<int> anyByte(1, 255);
    std::uniform_int_distribution<int> letter('a', 'z');
    std::string value;
    for (int i = length(random); i > 0; --i) {
        switch (kind(random)) {
            case 0: value += kSpecial[special(random)]; break;
            case 1: value += static_cast<char>(anyByte(random)); break;
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

class Database {
public:
    Database() {
        EXPECT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
        Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, title TEXT, genre TEXT);"
             "CREATE TABLE secret(x TEXT); INSERT INTO secret VALUES('kept');");
        sqlite3_set_authorizer(db_, &Database::Authorize, this);
    }
    ~Database() { sqlite3_close(db_); }

    void Exec(const char *sql) { ASSERT_EQ(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), SQLITE_OK); }

    void Fill(const std::vector<Row> &rows) {
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
    std::string Select(const std::string &condition, std::set<int> *ids) {
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
        auto *db = static_cast<Database *>(self);
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

// Rows that hold the value itself and its near misses: cut short, extended, other case,
// quotes and backslashes doubled or dropped, as a faulty escaping would turn it.
std::vector<Row> RowsAround(const std::string &value, const std::string &genre, std::mt19937 &random) {
    std::vector<std::string> titles = {value, value + "x", "x" + value, "", "'", "\\", "%"};
    if (!value.empty()) titles.push_back(value.substr(0, value.size() - 1));
    std::string upper = value, doubled, dropped;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    });
    for (char c : value) {
        doubled += c;
        if (c == '\'' || c == '\\') doubled += c;
        if (c != '\'' && c != '\\') dropped += c;
    }
    titles.insert(titles.end(), {upper, doubled, dropped, RandomValue(random)});
    std::vector<Row> rows;
    for (size_t i = 0; i < titles.size(); ++i) {
        rows.push_back({static_cast<int>(i) + 1, titles[i], i % 2 == 0 ? genre : RandomValue(random)});
    }
    return rows;
}

struct Condition {
    const char *name;
    int opId;
};

TEST(SqlInjection, RandomValuesStayValues) {
    std::mt19937 random(20261206);
    Database db;
    int parsedWhole = 0;
    int parsedHost = 0;
    constexpr int kRounds = 1500;
    for (int round = 0; round < kRounds; ++round) {
        const std::string value = RandomValue(random);
        const std::string genre = RandomValue(random);
        const std::vector<Row> rows = RowsAround(value, genre, random);
        db.Fill(rows);
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
                std::string sql = ToSql(tree.get(), kColumns, prefix);
                std::set<int> got;
                ASSERT_EQ(db.Select(sql, &got), "") << sql;
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
}

}  // namespace
