// The media server's side of a search, as the command-line host runs it: the column table, the
// sequence of library calls from criteria text to SQL condition, and the SELECT statement that
// the condition goes into (HostDatabase.h runs it). Kept apart from main() so that the tests run
// the very same host.
#ifndef MSC_TOOLS_HOST_SEARCH_H
#define MSC_TOOLS_HOST_SEARCH_H

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mysearchcriteria.h"
#include "mysearchcriteria.hpp"

namespace msc_host {

// A table of TokenEntry that owns its texts, in the form the library reads: searched from the
// first entry, ended by the entry whose id is 0.
class TokenTable {
public:
    void Set(int id, const std::string &name);  // Replaces the entry of 'id', if there is one.
    const std::string *Find(int id) const;      // nullptr when 'id' has no entry.
    std::vector<int> Ids() const;
    // Valid until the table changes or is destroyed.
    const TokenEntry *Entries() const;

private:
    std::vector<std::pair<int, std::string>> names_;
    mutable std::vector<TokenEntry> entries_;
};

// The property id of a criteria keyword such as "dc:title" (letter case ignored), else of a
// name in 'host' (exactly as written there), else 0.
int PropertyId(const std::string &name, const TokenTable *host = nullptr);
// The criteria keyword of a property id, else its name in 'host', else a description.
std::string PropertyName(int propertyId, const TokenTable *host = nullptr);

// The sample library's own properties, from PROP_HOST_FIRST up: album artist, composer, author,
// publisher, duration, play count, last playback and last update time, conductor, lyricist, the
// parent container, the album art and the resource's protocol, size, bit rate and resolution,
// each under the names that ContentDirectory and real clients give it (microsoft:authorComposer
// is the composer too).
TokenTable SampleHostProperties();
// The columns of the sample library: every property has one, res the resource URL.
TokenTable SampleColumns();
// The properties whose sample columns hold numbers: the track number and the play count.
std::vector<int> SampleNumeric();
// The properties the sample library evaluates by default with the grammar: all of them in the
// standard one; all but res in the classic one, which reads res@duration, res@size and
// res@protocolInfo all as res by its prefix match, so that the one res column cannot answer a
// condition on them, and the search treats such a condition as true unless asked otherwise.
std::vector<int> SampleSupported(bool standard);

// "dc:title=title,upnp:class=class" replaces the whole column table; with a leading '+'
// ("+res=url") the pairs change or add entries of *columns instead. With 'host', a property
// name that is not built in (such as upnp:artist[@role="AlbumArtist"]) becomes a host property:
// its entry of *host, or a new one with the next id from PROP_HOST_FIRST up (a replacing map
// starts *host afresh). False with a message in *error for a name that is no property name (or
// not built in, without 'host') or a column name that is not a plain SQL name; *replaced (when
// given) says which of the two the text asked for.
bool ParseColumnMap(const std::string &text, TokenTable *columns, std::string *error,
                    bool *replaced = nullptr, TokenTable *host = nullptr);
// "dc:title,upnp:class" or "none": the properties the database can evaluate, built in or in 'host'.
bool ParsePropertyList(const std::string &text, std::vector<int> *ids, std::string *error,
                       const TokenTable *host = nullptr);

// A plain SQL name, optionally qualified: letters, digits, underscores, dots; not empty.
bool IsPlainName(const std::string &text);

struct HostOptions {
    TokenTable hostProperties = SampleHostProperties();  // Known to the standard grammar.
    TokenTable columns = SampleColumns();
    // The others' conditions become constants; unset: SampleSupported for the grammar.
    std::optional<std::vector<int>> supported;
    std::string container = "0";  // The container searched in: the root by default.
    std::string prefix;           // Written before every column name; empty for none.
    // The UPnP grammar, which answers what clients send (dc:title="x" needs no blanks there);
    // false: the classic one.
    bool standard = true;
    bool lenient = true;          // With the UPnP grammar: repair clients' mistakes (SEARCH_PARSE_LENIENT).
    // The SQL dialect of the database searched; % and _ in contains values match themselves.
    SqlOptions sql = {SQL_DIALECT_SQLITE, SQL_LITERAL_PATTERNS};
    std::vector<int> numeric = SampleNumeric();  // Sorted as numbers, not as text.
    bool strictSort = false;      // Sort keys that cannot be sorted by fail rather than being skipped.
    std::string idColumn = "object_id";  // Ends every sort order; empty for none.
};

// The SEARCH_PARSE_ options of the grammar that 'options' names.
unsigned GrammarOptions(const HostOptions &options);
// The properties the database evaluates: options.supported, or the sample's for the grammar.
std::vector<int> SupportedOf(const HostOptions &options);

// The library's options record for a host's options, and the table it points at.
class SearchRecord {
public:
    explicit SearchRecord(const HostOptions &options);
    SearchRecord(const SearchRecord &) = delete;
    SearchRecord &operator=(const SearchRecord &) = delete;
    const SearchOptions &Options() const { return options_; }

private:
    TokenTable supported_;
    std::vector<int> numeric_;  // Ended by 0.
    SearchOptions options_;
};

// What the library made of a SortCriteria: the keys of ORDER BY, or why there are none.
struct HostSort {
    bool ok = true;
    std::string keys;                  // Empty: no order.
    std::vector<std::string> skipped;  // The keys left out, as the client wrote them.
    SearchInfo info{};                 // The error and its UPnP code when not ok.
};
HostSort RunSort(const std::string &sort, const HostOptions &options);

// The GetSearchCapabilities and GetSortCapabilities texts of the options.
std::string SearchCapabilities(const HostOptions &options);
std::string SortCapabilities(const HostOptions &options);

// What the host sequence made of one criteria text.
struct HostSearch {
    enum Status {
        kEverything,   // "*", or a text of blanks only: no condition at all.
        kCondition,    // 'condition' holds the SQL condition.
        kParseFailed,  // 'error' says where and why.
        kUnusable      // No usable condition, or a NUL byte in the text: 'problem' says why.
    };
    Status status = kEverything;
    SearchParseError error = {SEARCH_PARSE_OK, -1};
    SearchParseRepairs repairs = {0, -1};  // What the lenient grammar repaired.
    int upnpError = 0;              // RunOneCall: the library's UPnP code for a refused text.
    std::string upnpErrorDescription;  // And its words, for a SOAP fault.
    std::string problem;
    msc::Tree parsed;               // The tree as the parser made it.
    msc::Tree rewritten;            // The tree after the rewrites.
    bool hasClass = false;          // GetUPnPClass found a class value.
    std::string upnpClass;
    std::vector<int> properties;    // GetPropertyList of the parsed tree.
    std::vector<int> alwaysTrue;    // Properties whose conditions became constants.
    bool refIdMadeFalse = false;    // The reference-container rewrite changed the tree.
    std::string condition;          // The SQL condition, with its exact blanks.
};

// Parse, read the class and the property list, rewrite, convert: the whole sequence of a host.
// A text that holds a NUL byte is refused unparsed.
HostSearch RunHostSequence(const std::string &criteria, const HostOptions &options);

// The same answers, but for the trees, which it leaves empty: through ConvertSearchCriteria,
// with the classic calls only for what its record leaves out.
HostSearch RunOneCall(const std::string &criteria, const HostOptions &options);

// The criteria "*" (blanks around it allowed), which UPnP defines as "everything".
bool IsEverything(const std::string &criteria);

// A one-line text for a parse failure: "unknown operator at byte 9". The one place that turns
// a parse error code into words.
std::string DescribeParseError(const SearchParseError &error);

// A one-line text for what a parse repaired, empty for nothing: "closed the parentheses left open
// at the end (first repair at byte 41)". The one place that turns repair bits into words.
std::string DescribeRepairs(const SearchParseRepairs &repairs);

// The bytes TravelTreeToStream prints for 'tree' at depth 0 with the names of 'host', counted
// as it writes them to a stream that keeps none; limit + 1 for a count past 'limit'. The dump of
// an and/or list grows with the square of its length, so a host checks this before it dumps a
// client's tree.
size_t DumpSize(const ParseTreeNode *tree, size_t limit, const TokenTable *host = nullptr);

struct ResultTable {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;  // NULL reads as the empty text.
};

// What a search selects, besides the condition.
struct SelectQuery {
    std::string show = "object_id, class, title, creator, date";
    std::string table = "objects";
    std::string alias;                    // Table alias, when the condition uses a prefix.
    std::string idColumn = "object_id";   // With parentColumn, keeps the rows inside the
    std::string parentColumn = "parent_id";  // container; either empty: no such check.
    std::string container = "0";          // The container searched in; "0" is the root.
    std::string order = "rowid";          // ORDER BY text after the alias; empty for none.
    std::string sortKeys;                 // ORDER BY keys written whole (RunSort); replace 'order'.
    std::string parameter = "?1";         // How the statement names the container's value.
    // Which rows of the container: its descendants (a search), its children or itself (a browse).
    enum Scope { kDescendants, kChildren, kSelf } scope = kDescendants;
    long long limit = -1;                 // At most this many rows; -1: no limit.
    long long offset = 0;                 // Rows skipped first (with a limit only).
};

// The SELECT statement of a search; 'parameter' is the container, whose descendants, children
// or self it selects.
std::string BuildSelect(const SelectQuery &query, const std::string &condition);

}  // namespace msc_host

#endif  // MSC_TOOLS_HOST_SEARCH_H
