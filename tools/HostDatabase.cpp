#include "HostDatabase.h"

#include <libpq-fe.h>
#include <mysql.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

extern const char *const kSampleLibrarySql;

namespace msc_host {

bool ParseDatabaseKind(const std::string &name, DatabaseKind *kind) {
    if (name == "sqlite") *kind = DatabaseKind::kSqlite;
    else if (name == "postgresql" || name == "postgres") *kind = DatabaseKind::kPostgresql;
    else if (name == "mariadb" || name == "mysql") *kind = DatabaseKind::kMariadb;
    else return false;
    return true;
}

const char *DatabaseKindName(DatabaseKind kind) {
    switch (kind) {
        case DatabaseKind::kSqlite: return "sqlite";
        case DatabaseKind::kPostgresql: return "postgresql";
        case DatabaseKind::kMariadb: return "mariadb";
    }
    return "";
}

int DialectOf(DatabaseKind kind) {
    switch (kind) {
        case DatabaseKind::kSqlite: return SQL_DIALECT_SQLITE;
        case DatabaseKind::kPostgresql: return SQL_DIALECT_POSTGRESQL;
        case DatabaseKind::kMariadb: return SQL_DIALECT_MYSQL;
    }
    return SQL_DIALECT_SQLITE;
}

namespace {

bool StartsWith(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

// Hex digits of every byte: a literal form that no byte of the value can end.
std::string Hex(const std::string &text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : text) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

// A string literal of the sample script. PostgreSQL (standard_conforming_strings, on since 9.1)
// only needs quotes doubled; on MariaDB a value with a backslash, an escape unless the sql_mode
// has NO_BACKSLASH_ESCAPES, is written as hex bytes of utf8mb4, which read the same in any mode.
std::string Literal(DatabaseKind kind, const std::string &text) {
    if (kind == DatabaseKind::kMariadb && text.find('\\') != std::string::npos) {
        return "_utf8mb4 X'" + Hex(text) + "'";
    }
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

// --- SQLite --------------------------------------------------------------------------------------

// The text of a column of the current row; NULL reads as the empty text.
std::string Text(sqlite3_stmt *statement, int column) {
    const auto *value = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return value != nullptr ? std::string(value, static_cast<size_t>(sqlite3_column_bytes(statement, column)))
                            : std::string();
}

class SqliteDatabase : public HostDatabase {
public:
    ~SqliteDatabase() override { sqlite3_close(db_); }
    DatabaseKind Kind() const override { return DatabaseKind::kSqlite; }

    // An existing file, read only; empty 'path': the embedded sample library, loaded into a
    // private in-memory database.
    static std::unique_ptr<SqliteDatabase> Open(const std::string &path, std::string *error) {
        bool sample = path.empty();
        sqlite3 *db = nullptr;
        int opened = sqlite3_open_v2(sample ? ":memory:" : path.c_str(), &db,
                                     sample ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY,
                                     nullptr);
        std::unique_ptr<SqliteDatabase> database(new SqliteDatabase(db));  // Closes a handle that failed too.
        if (opened != SQLITE_OK) {
            *error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
            return nullptr;
        }
        if (sample && !database->Execute(kSampleLibrarySql, error)) {
            *error = "loading the sample library: " + *error;
            return nullptr;
        }
        return database;
    }

    bool Select(const SelectQuery &query, const std::string &condition, ResultTable *result,
                std::string *error) override {
        Statement statement = Prepare(BuildSelect(query, condition), error);
        if (statement == nullptr) return false;
        if (sqlite3_bind_parameter_count(statement.get()) > 0) {
            sqlite3_bind_text(statement.get(), 1, query.container.c_str(), static_cast<int>(query.container.size()),
                              SQLITE_TRANSIENT);
        }
        *result = ResultTable();
        int columns = sqlite3_column_count(statement.get());
        for (int i = 0; i < columns; ++i) result->columns.emplace_back(sqlite3_column_name(statement.get(), i));
        return EachRow(statement.get(), error, [&] {
            std::vector<std::string> row;
            for (int i = 0; i < columns; ++i) row.push_back(Text(statement.get(), i));
            result->rows.push_back(std::move(row));
        });
    }
    bool Execute(const std::string &sql, std::string *error) override {
        char *message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
        *error = message != nullptr ? message : "failed";
        sqlite3_free(message);
        return false;
    }

    using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)>;
    // The one statement of 'sql', prepared; null with SQLite's message in *error. A text of more
    // than one is refused: a condition that closed the statement and began another would be an
    // injection.
    Statement Prepare(const std::string &sql, std::string *error) {
        sqlite3_stmt *statement = nullptr;
        const char *tail = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()) + 1, &statement, &tail) != SQLITE_OK) {
            *error = sqlite3_errmsg(db_);
            return Statement(nullptr, sqlite3_finalize);
        }
        Statement owned(statement, sqlite3_finalize);
        while (tail != nullptr && (*tail == ' ' || *tail == '\n' || *tail == '\t')) ++tail;
        if (tail != nullptr && *tail != '\0') {
            *error = "the condition holds more than one statement";
            owned.reset();
        }
        return owned;
    }
    // Calls 'row' on each row of 'statement' in turn; false with SQLite's message in *error.
    template <typename Row>
    bool EachRow(sqlite3_stmt *statement, std::string *error, Row row) {
        int step;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) row();
        if (step == SQLITE_DONE) return true;
        *error = sqlite3_errmsg(db_);
        return false;
    }

private:
    explicit SqliteDatabase(sqlite3 *db) : db_(db) {}
    sqlite3 *db_;
};

// Whether BuildSelect names the container at all.
bool Scoped(const SelectQuery &query) { return !query.idColumn.empty() && !query.parentColumn.empty(); }

// --- PostgreSQL ----------------------------------------------------------------------------------

class PostgresqlDatabase : public HostDatabase {
public:
    explicit PostgresqlDatabase(PGconn *connection) : connection_(connection) {}
    ~PostgresqlDatabase() override { PQfinish(connection_); }
    DatabaseKind Kind() const override { return DatabaseKind::kPostgresql; }

    static std::unique_ptr<HostDatabase> Open(const std::string &uri, std::string *error) {
        PGconn *connection = PQconnectdb(uri.c_str());
        std::unique_ptr<PostgresqlDatabase> database(new PostgresqlDatabase(connection));
        if (connection == nullptr || PQstatus(connection) != CONNECTION_OK) {
            *error = connection != nullptr ? PQerrorMessage(connection) : "out of memory";
            while (!error->empty() && error->back() == '\n') error->pop_back();
            return nullptr;
        }
        ResultTable ignored;
        if (!database->Run("SET default_transaction_read_only = on", nullptr, &ignored, error)) return nullptr;
        return database;
    }

    bool Select(const SelectQuery &query, const std::string &condition, ResultTable *result,
                std::string *error) override {
        SelectQuery numbered = query;
        numbered.parameter = "$1";
        const char *container = query.container.c_str();
        return Run(BuildSelect(numbered, condition), Scoped(query) ? &container : nullptr, result, error);
    }
    bool Execute(const std::string &sql, std::string *error) override {
        ResultTable ignored;
        return Run(sql, nullptr, &ignored, error);
    }

private:
    // One statement; the extended protocol refuses a text of several.
    bool Run(const std::string &sql, const char *const *parameter, ResultTable *result, std::string *error) {
        std::unique_ptr<PGresult, void (*)(PGresult *)> answer(
            PQexecParams(connection_, sql.c_str(), parameter != nullptr ? 1 : 0, nullptr, parameter, nullptr,
                         nullptr, 0),
            PQclear);
        ExecStatusType status = answer ? PQresultStatus(answer.get()) : PGRES_FATAL_ERROR;
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
            *error = PQerrorMessage(connection_);
            while (!error->empty() && (error->back() == '\n' || error->back() == ' ')) error->pop_back();
            return false;
        }
        *result = ResultTable();
        int columns = PQnfields(answer.get());
        for (int i = 0; i < columns; ++i) result->columns.emplace_back(PQfname(answer.get(), i));
        for (int r = 0; r < PQntuples(answer.get()); ++r) {
            std::vector<std::string> row;
            for (int i = 0; i < columns; ++i) {
                row.emplace_back(PQgetvalue(answer.get(), r, i), static_cast<size_t>(PQgetlength(answer.get(), r, i)));
            }
            result->rows.push_back(std::move(row));
        }
        return true;
    }

    PGconn *connection_;
};

// --- MariaDB / MySQL -----------------------------------------------------------------------------

// Percent escapes of a URL part, decoded.
std::string Unescape(const std::string &text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            plain += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

class MariadbDatabase : public HostDatabase {
public:
    explicit MariadbDatabase(MYSQL *connection) : connection_(connection) {}
    ~MariadbDatabase() override { mysql_close(connection_); }
    DatabaseKind Kind() const override { return DatabaseKind::kMariadb; }

    // mariadb://[user[:password]@][host][:port][/database][?socket=PATH]
    static std::unique_ptr<HostDatabase> Open(const std::string &url, std::string *error) {
        std::string rest = url.substr(url.find("://") + 3);
        std::string socket;
        size_t query = rest.find('?');
        if (query != std::string::npos) {
            std::string options = rest.substr(query + 1);
            rest.erase(query);
            if (!StartsWith(options, "socket=") || options.find('&') != std::string::npos) {
                *error = "the only option of a mariadb:// address is socket=PATH";
                return nullptr;
            }
            socket = Unescape(options.substr(7));
        }
        std::string user, password, host, database;
        unsigned port = 0;
        size_t at = rest.rfind('@');
        if (at != std::string::npos) {
            user = rest.substr(0, at);
            rest.erase(0, at + 1);
            size_t colon = user.find(':');
            if (colon != std::string::npos) {
                password = Unescape(user.substr(colon + 1));
                user.erase(colon);
            }
            user = Unescape(user);
        }
        size_t slash = rest.find('/');
        if (slash != std::string::npos) {
            database = Unescape(rest.substr(slash + 1));
            rest.erase(slash);
        }
        size_t colon = rest.rfind(':');
        if (colon != std::string::npos) {
            port = static_cast<unsigned>(strtoul(rest.c_str() + colon + 1, nullptr, 10));
            rest.erase(colon);
        }
        host = Unescape(rest);

        MYSQL *connection = mysql_init(nullptr);
        if (connection == nullptr) {
            *error = "out of memory";
            return nullptr;
        }
        std::unique_ptr<MariadbDatabase> opened(new MariadbDatabase(connection));
        mysql_options(connection, MYSQL_SET_CHARSET_NAME, "utf8mb4");
        auto orNull = [](const std::string &text) { return text.empty() ? nullptr : text.c_str(); };
        // No CLIENT_MULTI_STATEMENTS: a text of several statements is refused.
        if (mysql_real_connect(connection, orNull(host), orNull(user), orNull(password), orNull(database), port,
                               orNull(socket), 0) == nullptr) {
            *error = mysql_error(connection);
            return nullptr;
        }
        ResultTable ignored;
        if (!opened->Run("SET SESSION TRANSACTION READ ONLY", &ignored, error)) return nullptr;
        return opened;
    }

    bool Select(const SelectQuery &query, const std::string &condition, ResultTable *result,
                std::string *error) override {
        SelectQuery literal = query;
        literal.parameter = "_utf8mb4 X'" + Hex(query.container) + "'";
        return Run(BuildSelect(literal, condition), result, error);
    }
    bool Execute(const std::string &sql, std::string *error) override {
        ResultTable ignored;
        return Run(sql, &ignored, error);
    }

private:
    bool Run(const std::string &sql, ResultTable *result, std::string *error) {
        if (mysql_real_query(connection_, sql.data(), sql.size()) != 0) {
            *error = mysql_error(connection_);
            return false;
        }
        *result = ResultTable();
        std::unique_ptr<MYSQL_RES, void (*)(MYSQL_RES *)> answer(mysql_store_result(connection_), mysql_free_result);
        if (answer == nullptr) {
            if (mysql_field_count(connection_) == 0) return true;
            *error = mysql_error(connection_);
            return false;
        }
        unsigned columns = mysql_num_fields(answer.get());
        MYSQL_FIELD *fields = mysql_fetch_fields(answer.get());
        for (unsigned i = 0; i < columns; ++i) result->columns.emplace_back(fields[i].name);
        while (MYSQL_ROW values = mysql_fetch_row(answer.get())) {
            unsigned long *lengths = mysql_fetch_lengths(answer.get());
            std::vector<std::string> row;
            for (unsigned i = 0; i < columns; ++i) {
                row.emplace_back(values[i] != nullptr ? std::string(values[i], lengths[i]) : std::string());
            }
            result->rows.push_back(std::move(row));
        }
        return true;
    }

    MYSQL *connection_;
};

}  // namespace

std::unique_ptr<HostDatabase> OpenDatabase(const std::string &target, std::string *error) {
    if (StartsWith(target, "postgresql://") || StartsWith(target, "postgres://")) {
        return PostgresqlDatabase::Open(target, error);
    }
    if (StartsWith(target, "mariadb://") || StartsWith(target, "mysql://")) return MariadbDatabase::Open(target, error);
    return SqliteDatabase::Open(target, error);
}

namespace {

// The sample's columns in table order: text ones by whether they ignore letter case and whether
// they are keys (an index needs a bounded type on MariaDB), the others by their type.
struct SampleColumn {
    const char *name;
    bool nocase = false;
    bool key = false;
    const char *type = nullptr;  // null: a text column
    const char *constraint = "";
    bool computed = false;
};
const SampleColumn kSampleColumns[] = {
    {"object_id", false, true, nullptr, " PRIMARY KEY NOT NULL"},
    {"num_id", false, false, "BIGINT", " NOT NULL"},
    {"parent_id", false, true, nullptr, " NOT NULL"},
    {"ref_id", false, true},
    {"own_id", false, false, nullptr, "", true},
    {"class", true, true, nullptr, " NOT NULL"},
    {"title", true, false, nullptr, " NOT NULL"},
    {"creator", true},
    {"date"},
    {"artist", true},
    {"actor", true},
    {"album", true},
    {"genre", true},
    {"res"},
    {"track", false, false, "INTEGER"},
    {"album_artist", true},
    {"composer", true},
    {"author", true},
    {"publisher", true},
    {"duration"},
    {"play_count", false, false, "INTEGER"},
    {"last_played"},
    {"last_updated"},
    {"conductor", true},
    {"lyricist", true},
    {"album_art"},
    {"protocol_info"},
    {"size", false, false, "BIGINT"},
    {"bitrate", false, false, "INTEGER"},
    {"resolution"},
};

}  // namespace

bool SampleScript(DatabaseKind kind, std::string *script, std::string *error) {
    if (kind == DatabaseKind::kSqlite) {
        *script = kSampleLibrarySql;
        return true;
    }
    std::unique_ptr<SqliteDatabase> sample = SqliteDatabase::Open("", error);
    if (sample == nullptr) return false;
    bool postgres = kind == DatabaseKind::kPostgresql;
    // The sample's columns, compared as SQLite compares them (docs/SQL.md): the NOCASE ones ignore
    // the case of ASCII letters only, and none ignores accents or trailing blanks; both order by
    // bytes. PostgreSQL: citext under the "C" collation, which folds ASCII only. MariaDB: the
    // UCA 14 collation that is accent-sensitive, case-insensitive and NO PAD, and its binary one.
    auto column = [postgres](bool nocase, bool key) -> std::string {
        if (postgres) return nocase ? "CITEXT COLLATE \"C\"" : "TEXT COLLATE \"C\"";
        return std::string(key ? "VARCHAR(255)" : "TEXT") +
               (nocase ? " COLLATE utf8mb4_uca1400_nopad_as_ci" : " COLLATE utf8mb4_nopad_bin");
    };
    // own_id follows ref_id as in the SQLite table; it is computed, never inserted.
    std::string own = "(CASE WHEN ref_id IS NULL THEN num_id END)";
    std::string table, columns;
    for (const SampleColumn &c : kSampleColumns) {
        std::string type = c.computed ? (postgres ? "BIGINT GENERATED ALWAYS AS " + own + " STORED"
                                                  : "BIGINT AS " + own + " VIRTUAL")
                           : c.type != nullptr ? c.type
                                               : column(c.nocase, c.key);
        std::string name = c.name;
        name.resize(std::max<size_t>(name.size(), 9), ' ');
        table += "  " + name + " " + type + c.constraint + ",\n";
        if (!c.computed) columns += std::string(columns.empty() ? "" : ", ") + c.name;
    }
    table.erase(table.size() - 2, 1);  // The last column's comma.
    *script = std::string("-- The sample media library of the mysearchcriteria host, for ") +
              (postgres ? "PostgreSQL" : "MariaDB 10.10 or later") + ".\n" +
              (postgres ? "BEGIN;\nCREATE EXTENSION IF NOT EXISTS citext;\n" : "SET NAMES utf8mb4;\nSTART TRANSACTION;\n") +
              "CREATE TABLE objects (\n" + table + (postgres ? ");\n" : ") DEFAULT CHARSET=utf8mb4;\n");
    SqliteDatabase::Statement statement = sample->Prepare("SELECT " + columns + " FROM objects ORDER BY rowid", error);
    if (statement == nullptr) return false;
    int rows = 0;
    bool read = sample->EachRow(statement.get(), error, [&] {
        *script += rows % 100 == 0 ? std::string(rows ? ";\n" : "") + "INSERT INTO objects (" + columns + ") VALUES\n  ("
                                   : ",\n  (";
        for (int i = 0; i < sqlite3_column_count(statement.get()); ++i) {
            if (i > 0) *script += ", ";
            int type = sqlite3_column_type(statement.get(), i);
            if (type == SQLITE_NULL) *script += "NULL";
            else if (type == SQLITE_INTEGER) *script += Text(statement.get(), i);
            else *script += Literal(kind, Text(statement.get(), i));
        }
        *script += ")";
        ++rows;
    });
    if (!read) return false;
    *script += ";\n"
               "CREATE INDEX objects_parent ON objects(parent_id);\n"
               "CREATE INDEX objects_num ON objects(num_id);\n"
               "CREATE INDEX objects_class ON objects(class);\n"
               "COMMIT;\n";
    return true;
}

}  // namespace msc_host
