// The databases the command-line host searches: SQLite (the embedded sample or a file),
// PostgreSQL through libpq and MariaDB/MySQL through libmariadb, behind one small interface.
#ifndef MSC_TOOLS_HOST_DATABASE_H
#define MSC_TOOLS_HOST_DATABASE_H

#include <memory>
#include <string>

#include "HostSearch.h"

namespace msc_host {

enum class DatabaseKind { kSqlite, kPostgresql, kMariadb };

// "sqlite", "postgresql" (or "postgres"), "mariadb" (or "mysql"); false for any other name.
bool ParseDatabaseKind(const std::string &name, DatabaseKind *kind);
const char *DatabaseKindName(DatabaseKind kind);
// The library's SQL dialect for the database (a SqlDialect).
int DialectOf(DatabaseKind kind);

class HostDatabase {
public:
    virtual ~HostDatabase() = default;
    virtual DatabaseKind Kind() const = 0;
    // Runs the search; the container goes to the server as a value, never as SQL. False with
    // the server's message in *error.
    virtual bool Select(const SelectQuery &query, const std::string &condition, ResultTable *result,
                        std::string *error) = 0;
    // Runs one statement of the host's own (session settings, a test's tables); false with the
    // server's message in *error.
    virtual bool Execute(const std::string &sql, std::string *error) = 0;
};

// "postgresql://..." or "postgres://..." (a libpq connection URI), "mariadb://..." or
// "mysql://..." (user[:password]@host[:port]/database, or ?socket=PATH for a Unix socket),
// anything else is an SQLite file opened read only. PostgreSQL and MariaDB sessions are read
// only too. Empty 'target': the embedded sample in a private SQLite database.
std::unique_ptr<HostDatabase> OpenDatabase(const std::string &target, std::string *error);

// The sample library as an SQL script for 'kind': for SQLite the embedded script itself, for the
// others the table it builds, written out as that database's CREATE TABLE and INSERTs.
bool SampleScript(DatabaseKind kind, std::string *script, std::string *error);

}  // namespace msc_host

#endif  // MSC_TOOLS_HOST_DATABASE_H
