// mysearchcriteria: the command-line host of libmysearchcriteria. It links the shared library and
// runs the same calls a media server makes: parse a UPnP search criteria, rewrite what the
// database cannot answer, write the SQL condition, and run it on an SQLite media library.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "HostDatabase.h"
#include "HostSearch.h"
#include "MediaServer.h"
#include "mysearchcriteria.h"

// The library leaves the conversion of identifier numbers to its host; like a media server, the
// tool exports a plain decimal conversion. Out-of-range numbers saturate; the library reads the
// low 32 bits.
extern "C" __attribute__((visibility("default"))) long long myatoll(const char *text) {
    return strtoll(text, nullptr, 10);
}

namespace {

using namespace msc_host;

// The largest tree dump the tree job prints. A dump indents each further operand of an and/or
// list one level deeper, so it grows with the square of the list: 20,000 terms would be 6 GB.
const size_t kMaxDumpBytes = 16 << 20;

const char kUsage[] =
    "Usage: mysearchcriteria JOB [options] [CRITERIA]\n"
    "\n"
    "Turns a UPnP ContentDirectory search criteria into an SQL condition with libmysearchcriteria\n"
    "and runs it on a media library. The criteria * means everything and is never parsed.\n"
    "\n"
    "Without CRITERIA, reads one criteria per line from standard input and answers each line in\n"
    "turn: sql prints exactly one line per input line (an empty line for * or an empty input\n"
    "line), tree and search one block per non-empty line. A line that fails prints the line\n"
    "\"-- error: line N\" in its place (an SQL comment: pasted into a query it fails, never\n"
    "selects everything), and its message on standard error starts with \"line N:\".\n"
    "\n"
    "Jobs:\n"
    "  sql      print the SQL condition, one line per criteria (an empty line for everything)\n"
    "  tree     print the parse tree before and after the rewrites; refuses a tree whose dump\n"
    "           would pass 16 MiB (the dump of an and/or list grows with the square of its length)\n"
    "  search   run the whole host sequence (parse, class, property list, rewrites, SQL) and\n"
    "           print the rows it selects, their count and the time taken\n"
    "  sample   print the SQL script of the embedded sample library (--dialect: for which\n"
    "           database: sqlite, postgresql or mariadb; default sqlite)\n"
    "  caps     print what a server advertises for the options: the lines \"search: \" and\n"
    "           \"sort: \" with the GetSearchCapabilities and GetSortCapabilities texts\n"
    "  serve    a UPnP MediaServer:1 device over the library (the sample or --db) whose\n"
    "           Search runs as search does, sorted as --sort sorts; prints its description\n"
    "           URL, then serves until SIGINT or SIGTERM\n"
    "\n"
    "Options:\n"
    "  --prefix TEXT      text written before every column name, such as o. (search: the\n"
    "                     table gets the alias before the dot)\n"
    "  --columns MAP      REPLACES the column table: property=column pairs separated by commas,\n"
    "                     such as dc:title=title,upnp:class=class (default: the sample library's,\n"
    "                     where every property has a column). A name that is not built in, such\n"
    "                     as last_updated or upnp:artist[@role=\"AlbumArtist\"], is a property\n"
    "                     of the host's own, which criteria may name (not with --classic)\n"
    "  --columns +MAP     with a leading +, changes or adds the pairs in the table instead, such\n"
    "                     as +dc:title=name\n"
    "  --supported LIST   the properties the database can evaluate, separated by commas, or\n"
    "                     none; conditions on the others become always true (default: every\n"
    "                     property that has a column, except res with the classic grammar\n"
    "                     unless --columns replaced the table: that grammar reads res@duration\n"
    "                     as res, which the sample's one res column cannot answer)\n"
    "  --container ID     the container searched in, for the reference-container rewrite and\n"
    "                     to keep the rows inside it (default: 0, the root)\n"
    "  --classic          parse with the classic grammar instead: tokens between blanks, keywords\n"
    "                     by prefix, and no host properties\n"
    "  --standard         parse with the UPnP grammar (the default), keeping unknown properties\n"
    "                     and repairing what clients get wrong in one obvious way (a parenthesis\n"
    "                     or quote left open at the end, single or doubled quotes), said on\n"
    "                     standard error\n"
    "  --db TARGET        search an existing database, read only, instead of the sample: an\n"
    "                     SQLite file, postgresql://... (a libpq URI) or mariadb://... or\n"
    "                     mysql://... (user@host:port/database, or ?socket=PATH)\n"
    "  --dialect NAME     sql: the database the condition is written for; sample: the\n"
    "                     database its script is for (sqlite, postgresql or mariadb; default\n"
    "                     sqlite; search writes for the database it runs on)\n"
    "  --table NAME       the table searched (default: objects)\n"
    "  --show COLUMNS     the columns printed for each row (default: object_id, class, title,\n"
    "                     creator, date; with --db: *)\n"
    "  --id-column NAME   the column of object ids (default: object_id)\n"
    "  --parent-column NAME  the column of parent ids (default: parent_id); with --id-column it\n"
    "                     keeps the rows inside --container; an empty NAME searches the table\n"
    "  --order TEXT       ORDER BY of the search (default: rowid; with --db: none)\n"
    "                     (with --db the search covers the whole table unless --container,\n"
    "                     --id-column or --parent-column is given; --container then needs both\n"
    "                     column options, or an empty --parent-column)\n"
    "  --sort SORT        a UPnP SortCriteria such as +upnp:originalTrackNumber,-dc:date, in\n"
    "                     place of --order: keys that cannot be sorted by are skipped, with a\n"
    "                     line on standard error; --id-column ends the order\n"
    "  --strict           no repairs of the criteria, and sort keys that cannot be sorted by are\n"
    "                     errors (UPnP 709)\n"
    "  --address ADDR     serve: the IPv4 address served on (default: 127.0.0.1)\n"
    "  --port PORT        serve: the HTTP port (default: 0, any free port)\n"
    "  --no-announce      serve: no SSDP announcements (always so on a loopback address)\n"
    "  --name NAME        serve: the device's friendly name (default: mysearchcriteria)\n"
    "  -h, --help         print this help\n"
    "\n"
    "Properties: dc:title dc:date dc:creator upnp:class upnp:actor upnp:artist upnp:album\n"
    "upnp:genre @refID @id res upnp:originalTrackNumber; with --standard also the sample's own,\n"
    "such as @parentID, res@duration, upnp:albumArtURI and microsoft:authorComposer.\n"
    "\n"
    "Examples:\n"
    "  mysearchcriteria search 'upnp:class derivedfrom \"object.item.audioItem\" and dc:title contains \"love\"'\n"
    "  mysearchcriteria sql --prefix o. 'upnp:genre = \"Jazz\" and @refID exists false'\n"
    "  mysearchcriteria tree --container 'A0$128$129' '@refID exists true'\n"
    "  mysearchcriteria sample | sqlite3 library.db\n"
    "  mysearchcriteria sample --dialect postgresql | psql library\n"
    "  mysearchcriteria sql --dialect mariadb 'dc:title contains \"100%\"'\n"
    "\n"
    "Exit status: 0 when every criteria was handled, 1 otherwise.\n";

enum class Job { kSql, kTree, kSearch, kSample, kCaps, kServe };

struct Settings {
    Job job = Job::kSql;
    HostOptions host;
    SelectQuery select;
    std::string dbPath;
    ServeOptions serve;
    bool noAnnounce = false;
    DatabaseKind dialect = DatabaseKind::kSqlite;
    bool showGiven = false;
    bool orderGiven = false;
    bool sortGiven = false;
    std::string sort;
    bool supportedGiven = false;
    bool columnsReplaced = false;
    bool containerGiven = false;
    bool idColumnGiven = false;
    bool parentColumnGiven = false;
    bool haveCriteria = false;
    std::string criteria;
};

void Fail(const std::string &message) { fprintf(stderr, "mysearchcriteria: %s\n", message.c_str()); }

// --- Display of untrusted text -------------------------------------------------------------------

// Length of the UTF-8 sequence at text[i], or 0 when it is not a valid one.
size_t Utf8Length(const std::string &text, size_t i, unsigned *codePoint) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = byte(i);
    size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    unsigned value = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    static const unsigned kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *codePoint = value;
    return length;
}

// Terminal columns of a code point: East Asian wide characters take two.
int ColumnsOf(unsigned cp) {
    bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
    return wide ? 2 : 1;
}

// Text as it may go to a terminal: control bytes and bytes of no valid UTF-8 sequence become
// \xNN. *columns receives the width on screen. 'stopAt' ends the walk early (for a caret).
std::string Printable(const std::string &text, int *columns, size_t stopAt = std::string::npos) {
    std::string shown;
    int width = 0;
    for (size_t i = 0; i < text.size() && i < stopAt;) {
        unsigned cp = 0;
        size_t length = Utf8Length(text, i, &cp);
        if (length == 0 || cp < 0x20 || cp == 0x7F) {
            char escaped[5];
            snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[i]));
            shown += escaped;
            width += 4;
            i += 1;
        } else {
            shown.append(text, i, length);
            width += ColumnsOf(cp);
            i += length;
        }
    }
    if (columns != nullptr) *columns = width;
    return shown;
}

// Shows the criteria with a caret under the byte where the parse stopped. A long criteria is
// shown as a window of about kWindow bytes around that byte, so a client's megabyte of
// parentheses does not flood the log.
void PrintParseFailure(const std::string &where, const std::string &criteria, const SearchParseError &error) {
    const size_t kWindow = 120;
    Fail(where + "cannot parse the criteria: " + DescribeParseError(error));
    bool known = error.offset >= 0 && static_cast<size_t>(error.offset) <= criteria.size();
    size_t offset = known ? static_cast<size_t>(error.offset) : 0;
    size_t begin = 0;
    size_t end = criteria.size();
    if (criteria.size() > kWindow) {
        begin = offset > kWindow / 2 ? offset - kWindow / 2 : 0;
        // Start and end on character boundaries, not inside a UTF-8 sequence.
        while (begin > 0 && (static_cast<unsigned char>(criteria[begin]) & 0xC0) == 0x80) --begin;
        end = std::min(criteria.size(), begin + kWindow);
        while (end < criteria.size() && (static_cast<unsigned char>(criteria[end]) & 0xC0) == 0x80) ++end;
    }
    std::string before = begin > 0 ? "..." : "";
    std::string shown = Printable(criteria.substr(begin, end - begin), nullptr);
    fprintf(stderr, "  %s%s%s\n", before.c_str(), shown.c_str(), end < criteria.size() ? "..." : "");
    if (known) {
        int column = 0;
        Printable(criteria.substr(begin, offset - begin), &column);
        fprintf(stderr, "  %s^\n", std::string(before.size() + static_cast<size_t>(column), ' ').c_str());
    }
}

void PrintTable(const ResultTable &table) {
    std::vector<std::vector<std::string>> shown;
    std::vector<std::vector<int>> widths;
    std::vector<int> columnWidth(table.columns.size(), 0);
    auto add = [&](const std::vector<std::string> &row) {
        shown.emplace_back();
        widths.emplace_back();
        for (size_t i = 0; i < row.size(); ++i) {
            int width = 0;
            shown.back().push_back(Printable(row[i], &width));
            widths.back().push_back(width);
            if (width > columnWidth[i]) columnWidth[i] = width;
        }
    };
    add(table.columns);
    for (const auto &row : table.rows) add(row);
    for (size_t r = 0; r < shown.size(); ++r) {
        std::string line;
        for (size_t i = 0; i < shown[r].size(); ++i) {
            bool lastColumn = i + 1 == shown[r].size();
            line += shown[r][i];
            if (!lastColumn) line += std::string(static_cast<size_t>(columnWidth[i] - widths[r][i] + 2), ' ');
        }
        // An empty last cell leaves no padding behind.
        line.erase(line.find_last_not_of(' ') + 1);
        puts(line.c_str());
        if (r == 0) {
            std::string rule;
            for (size_t i = 0; i < columnWidth.size(); ++i) {
                if (i > 0) rule += "  ";
                rule += std::string(static_cast<size_t>(columnWidth[i]), '-');
            }
            puts(rule.c_str());
        }
    }
}

std::string PropertyNames(const std::vector<int> &ids, const TokenTable &host) {
    std::string text;
    for (int id : ids) text += (text.empty() ? "" : ", ") + PropertyName(id, &host);
    return text.empty() ? "(none)" : text;
}

// --- Jobs ----------------------------------------------------------------------------------------

// SQLite's words when a condition nests deeper than its expression limit (1000 by default): an
// and/or list of about 1,000 terms, which it reads as one operator inside the next.
bool IsExpressionDepthError(const std::string &error) {
    return error.find("Expression tree is too large") != std::string::npos;
}

// Runs one criteria; 'where' ("line 4: " or "") starts every message it writes.
bool RunOne(const Settings &settings, HostDatabase *database, const std::string &criteria,
            const std::string &where = "") {
    auto start = std::chrono::steady_clock::now();
    // Only the tree job shows trees; the others need just the answers.
    HostSearch search = settings.job == Job::kTree ? RunHostSequence(criteria, settings.host)
                                                   : RunOneCall(criteria, settings.host);
    if (search.status == HostSearch::kParseFailed) {
        PrintParseFailure(where, criteria, search.error);
        return false;
    }
    if (search.repairs.repairs != 0) Fail(where + "repaired the criteria: " + DescribeRepairs(search.repairs));

    if (settings.job == Job::kTree) {
        if (search.status == HostSearch::kEverything) {
            puts(IsEverything(criteria) ? "everything: * is not parsed" : "everything: no tree");
            return true;
        }
        const TokenTable &host = settings.host.hostProperties;
        if (DumpSize(search.parsed.get(), kMaxDumpBytes, &host) > kMaxDumpBytes ||
            DumpSize(search.rewritten.get(), kMaxDumpBytes, &host) > kMaxDumpBytes) {
            Fail(where + "not dumped: the tree's dump would pass 16 MiB");
            return false;
        }
        puts("parsed:");
        TravelTreeToStream(search.parsed.get(), 0, stdout, host.Entries());
        puts("rewritten:");
        TravelTreeToStream(search.rewritten.get(), 0, stdout, host.Entries());
        fflush(stdout);
    }
    if (search.status == HostSearch::kUnusable) {
        Fail(where + "cannot search with the criteria: " + search.problem);
        return false;
    }
    if (settings.job == Job::kSql) {
        puts(search.condition.c_str());
        return true;
    }
    if (settings.job == Job::kTree) return true;

    ResultTable rows;
    std::string error;
    if (!database->Select(settings.select, search.condition, &rows, &error)) {
        Fail(where + "the database rejected the search: " + error);
        if (IsExpressionDepthError(error)) {
            Fail(where + "the condition nests deeper than SQLite's expression limit, as an and/or list "
                         "of about 1,000 terms does; refuse such criteria or split the list into "
                         "several queries");
        }
        return false;
    }
    double milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    printf("criteria:    %s\n", Printable(criteria, nullptr).c_str());
    if (search.status == HostSearch::kEverything) {
        puts("condition:   (none: everything)");
    } else {
        printf("class:       %s\n", search.hasClass ? Printable(search.upnpClass, nullptr).c_str() : "(none)");
        printf("properties:  %s\n", PropertyNames(search.properties, settings.host.hostProperties).c_str());
        if (!search.alwaysTrue.empty()) printf("always true: %s\n", PropertyNames(search.alwaysTrue, settings.host.hostProperties).c_str());
        if (search.refIdMadeFalse) {
            printf("refID:       false in container %s\n", Printable(settings.host.container, nullptr).c_str());
        }
        printf("condition:  %s\n", Printable(search.condition, nullptr).c_str());
    }
    PrintTable(rows);
    printf("%zu row%s in %.3f ms\n", rows.rows.size(), rows.rows.size() == 1 ? "" : "s", milliseconds);
    return true;
}

// Reads the value of the option at argv[*i]; false when it is missing.
bool TakeValue(int argc, char **argv, int *i, std::string *value) {
    if (*i + 1 >= argc) {
        Fail(std::string("option ") + argv[*i] + " needs a value");
        return false;
    }
    *value = argv[++*i];
    return true;
}

// The order of --sort in place of --order; false when the sort text is refused.
bool ApplySort(Settings *settings) {
    HostSort sort = RunSort(settings->sort, settings->host);
    if (!sort.ok) {
        Fail("cannot sort: " + std::string(sort.info.upnpErrorDescription) + " (UPnP error " +
             std::to_string(sort.info.upnpError) + ")");
        return false;
    }
    if (!sort.skipped.empty()) {
        std::string names;
        int columns = 0;
        for (const std::string &key : sort.skipped) names += (names.empty() ? "" : ", ") + Printable(key, &columns);
        Fail("sort keys skipped, they cannot be sorted by: " + names);
    }
    settings->select.sortKeys = sort.keys;
    return true;
}

// 0: go on; 1: failed; 2: help printed.
int ParseArguments(int argc, char **argv, Settings *settings) {
    if (argc < 2) {
        fputs(kUsage, stderr);
        return 1;
    }
    std::string job = argv[1];
    if (job == "-h" || job == "--help") return 2;
    if (job == "sql") settings->job = Job::kSql;
    else if (job == "tree") settings->job = Job::kTree;
    else if (job == "search") settings->job = Job::kSearch;
    else if (job == "sample") settings->job = Job::kSample;
    else if (job == "caps") settings->job = Job::kCaps;
    else if (job == "serve") settings->job = Job::kServe;
    else {
        Fail("unknown job \"" + job + "\"; try --help");
        return 1;
    }
    std::string error;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        if (arg == "-h" || arg == "--help") return 2;
        if (arg == "--standard" || arg == "--classic") {
            settings->host.standard = arg == "--standard";
        } else if (arg == "--strict") {
            settings->host.lenient = false;
            settings->host.strictSort = true;
        } else if (arg == "--sort") {
            if (!TakeValue(argc, argv, &i, &settings->sort)) return 1;
            settings->sortGiven = true;
        } else if (arg == "--prefix") {
            if (!TakeValue(argc, argv, &i, &value)) return 1;
            if (!value.empty() && !IsPlainName(value)) {
                Fail("not a plain prefix: \"" + value + "\"");
                return 1;
            }
            settings->host.prefix = value;
        } else if (arg == "--columns") {
            if (!TakeValue(argc, argv, &i, &value)) return 1;
            bool replaced = false;
            if (!ParseColumnMap(value, &settings->host.columns, &error, &replaced, &settings->host.hostProperties)) {
                Fail("--columns: " + error);
                return 1;
            }
            settings->columnsReplaced = settings->columnsReplaced || replaced;
        } else if (arg == "--supported") {
            if (!TakeValue(argc, argv, &i, &value)) return 1;
            std::vector<int> supported;
            if (!ParsePropertyList(value, &supported, &error, &settings->host.hostProperties)) {
                Fail("--supported: " + error);
                return 1;
            }
            settings->host.supported = supported;
            settings->supportedGiven = true;
        } else if (arg == "--container") {
            if (!TakeValue(argc, argv, &i, &value)) return 1;
            settings->host.container = value;
            settings->select.container = value;
            settings->containerGiven = true;
        } else if (arg == "--db") {
            if (!TakeValue(argc, argv, &i, &settings->dbPath)) return 1;
        } else if (arg == "--dialect") {
            if (!TakeValue(argc, argv, &i, &value)) return 1;
            if (!ParseDatabaseKind(value, &settings->dialect)) {
                Fail("unknown dialect \"" + value + "\"; try sqlite, postgresql or mariadb");
                return 1;
            }
        } else if (arg == "--table" || arg == "--id-column" || arg == "--parent-column") {
            if (!TakeValue(argc, argv, &i, &value)) return 1;
            if ((arg == "--table" || !value.empty()) && !IsPlainName(value)) {
                Fail("not a plain name for " + arg + ": \"" + value + "\"");
                return 1;
            }
            if (arg == "--id-column") settings->idColumnGiven = true;
            if (arg == "--parent-column") settings->parentColumnGiven = true;
            (arg == "--table"       ? settings->select.table
             : arg == "--id-column" ? settings->select.idColumn
                                    : settings->select.parentColumn) = value;
        } else if (arg == "--show" || arg == "--order") {
            if (!TakeValue(argc, argv, &i, &value)) return 1;
            // Names, commas, blanks and * only: these go into the statement as they stand.
            for (unsigned char c : value) {
                if (!IsPlainName(std::string(1, static_cast<char>(c))) && c != ',' && c != ' ' && c != '*') {
                    Fail("not a plain list of columns for " + arg + ": \"" + value + "\"");
                    return 1;
                }
            }
            (arg == "--show" ? settings->select.show : settings->select.order) = value;
            (arg == "--show" ? settings->showGiven : settings->orderGiven) = true;
        } else if (arg == "--address" || arg == "--name") {
            if (!TakeValue(argc, argv, &i, &value)) return 1;
            // The name goes into the device's description, where XML allows no control bytes.
            if (std::any_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
                Fail("a control byte in " + arg);
                return 1;
            }
            (arg == "--address" ? settings->serve.address : settings->serve.name) = value;
        } else if (arg == "--port") {
            if (!TakeValue(argc, argv, &i, &value)) return 1;
            if (value.empty() || value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos ||
                std::stoul(value) > 65535) {
                Fail("not a port number: \"" + value + "\"");
                return 1;
            }
            settings->serve.port = static_cast<unsigned short>(std::stoul(value));
        } else if (arg == "--no-announce") {
            settings->noAnnounce = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            Fail("unknown option \"" + arg + "\"; try --help");
            return 1;
        } else if (settings->haveCriteria) {
            Fail("more than one criteria; quote the criteria as one argument");
            return 1;
        } else {
            settings->criteria = arg;
            settings->haveCriteria = true;
        }
    }
    // A table given whole supports all its properties; the sample's res column does not.
    if (!settings->supportedGiven && settings->columnsReplaced) {
        settings->host.supported = settings->host.columns.Ids();
    }
    if (!settings->dbPath.empty()) {
        if (!settings->showGiven) settings->select.show = "*";
        if (!settings->orderGiven) settings->select.order.clear();
        // Another schema may have no parent links: search the whole table unless asked.
        // The server browses by the links, so it always keeps them.
        bool scoped = settings->containerGiven || settings->idColumnGiven || settings->parentColumnGiven ||
                      settings->job == Job::kServe;
        if (!scoped) settings->select.parentColumn.clear();
        // Another schema's names are not the sample's: a scoped search needs both columns named.
        bool unscoped = settings->parentColumnGiven && settings->select.parentColumn.empty();
        if (settings->job == Job::kSearch && scoped && !unscoped &&
            (!settings->idColumnGiven || !settings->parentColumnGiven)) {
            std::string missing = !settings->idColumnGiven && !settings->parentColumnGiven
                                      ? "--id-column and --parent-column"
                                  : !settings->idColumnGiven ? "--id-column" : "--parent-column";
            Fail("--db: searching inside a container needs " + missing +
                 " (the table's columns of object and parent ids), or --parent-column '' to search the whole table");
            return 1;
        }
    }
    settings->host.idColumn = settings->select.idColumn;
    const std::string &prefix = settings->host.prefix;
    if (settings->job == Job::kSearch && !prefix.empty()) {
        // The prefix names the table: "o." searches "objects AS o".
        if (prefix.back() != '.' || prefix.size() < 2 || prefix.find('.') != prefix.size() - 1) {
            Fail("search needs a prefix of the form NAME.");
            return 1;
        }
        settings->select.alias = prefix.substr(0, prefix.size() - 1);
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    Settings settings;
    int parsed = ParseArguments(argc, argv, &settings);
    if (parsed == 2) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (parsed != 0) return 1;
    if (settings.job == Job::kCaps) {
        printf("search: %s\nsort: %s\n", SearchCapabilities(settings.host).c_str(),
               SortCapabilities(settings.host).c_str());
        return 0;
    }
    if (settings.job == Job::kServe) {
#ifdef MSC_HAVE_SERVER
        // A server on a LAN address announces itself.
        settings.serve.database = settings.dbPath;
        settings.serve.announce = !settings.noAnnounce && !IsLoopbackAddress(settings.serve.address);
        if (!settings.dbPath.empty()) {
            std::string error;
            std::unique_ptr<HostDatabase> database = OpenDatabase(settings.dbPath, &error);
            if (database == nullptr) {
                Fail("cannot open the database: " + error);
                return 1;
            }
            settings.host.sql.dialect = DialectOf(database->Kind());
        }
        return ServeMediaServer(settings.serve, settings.host, settings.select);
#else
        Fail("serve: this build has no media server (install libgupnp-1.6-dev and libpugixml-dev, then rebuild)");
        return 1;
#endif
    }
    if (settings.job == Job::kSample) {
        std::string script, error;
        if (!SampleScript(settings.dialect, &script, &error)) {
            Fail("cannot write the sample: " + error);
            return 1;
        }
        fputs(script.c_str(), stdout);
        return 0;
    }

    std::unique_ptr<HostDatabase> database;
    if (settings.job == Job::kSearch) {
        std::string error;
        database = OpenDatabase(settings.dbPath, &error);
        if (database == nullptr) {
            Fail("cannot open the database: " + error);
            return 1;
        }
    }

    // The condition is written for the database it runs on; % and _ in values match themselves.
    settings.host.sql.dialect = DialectOf(database != nullptr ? database->Kind() : settings.dialect);
    if (settings.sortGiven && settings.job == Job::kSearch && !ApplySort(&settings)) return 1;
    if (settings.haveCriteria) return RunOne(settings, database.get(), settings.criteria) ? 0 : 1;
    // Batch: output line (sql) or block (tree, search) N answers input line N, failures included.
    bool allHandled = true;
    bool first = true;
    std::string line;
    for (long number = 1; std::getline(std::cin, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() && settings.job != Job::kSql) continue;
        if (settings.job == Job::kSearch && !first) puts("");
        first = false;
        fflush(stdout);
        std::string label = "line " + std::to_string(number);
        if (!RunOne(settings, database.get(), line, label + ": ")) {
            allHandled = false;
            printf("-- error: %s\n", label.c_str());
        }
        fflush(stdout);
    }
    return allHandled ? 0 : 1;
}
