// The host side of a search: from criteria text through the library's calls to the SELECT
// statement that a HostDatabase runs.
#include "HostSearch.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace msc_host {

void TokenTable::Set(int id, const std::string &name) {
    for (auto &entry : names_) {
        if (entry.first == id) {
            entry.second = name;
            return;
        }
    }
    names_.emplace_back(id, name);
}

const std::string *TokenTable::Find(int id) const {
    for (const auto &entry : names_) {
        if (entry.first == id) return &entry.second;
    }
    return nullptr;
}

std::vector<int> TokenTable::Ids() const {
    std::vector<int> ids;
    for (const auto &entry : names_) ids.push_back(entry.first);
    return ids;
}

// Rebuilt on every call: the entries point into the strings, which move when the table is copied.
const TokenEntry *TokenTable::Entries() const {
    entries_.clear();
    for (const auto &entry : names_) entries_.push_back({entry.first, entry.second.c_str()});
    entries_.push_back({0, nullptr});
    return entries_.data();
}

namespace {

inline unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Equal but for the case of ASCII letters, whatever the locale: the keywords are ASCII.
bool EqualsFolded(const char *a, const std::string &b) {
    size_t i = 0;
    for (; a[i] != '\0' && i < b.size(); ++i) {
        if (FoldAscii(static_cast<unsigned char>(a[i])) != FoldAscii(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return a[i] == '\0' && i == b.size();
}

}  // namespace

int PropertyId(const std::string &name, const TokenTable *host) {
    for (const TokenEntry *entry = g_PropertyName; entry->id != 0; ++entry) {
        if (EqualsFolded(entry->name, name)) return entry->id;
    }
    if (host != nullptr) {
        for (int id : host->Ids()) {
            if (*host->Find(id) == name) return id;
        }
    }
    return 0;
}

std::string PropertyName(int propertyId, const TokenTable *host) {
    for (const TokenEntry *entry = g_PropertyName; entry->id != 0; ++entry) {
        if (entry->id == propertyId) return entry->name;
    }
    if (const std::string *name = host != nullptr ? host->Find(propertyId) : nullptr) return *name;
    // The standard grammar keeps properties outside the vocabulary as PROP_UNKNOWN leaves.
    return propertyId == PROP_UNKNOWN ? "(unknown property)" : "property " + std::to_string(propertyId);
}

namespace {

// The sample's own properties and their columns, in id order from PROP_HOST_FIRST.
const std::pair<const char *, const char *> kSampleHostColumns[] = {
    {R"(upnp:artist[@role="AlbumArtist"])", "album_artist"},
    {R"(upnp:artist[@role="Composer"])", "composer"},
    {"upnp:author", "author"},
    {"dc:publisher", "publisher"},
    {"res@duration", "duration"},
    {"upnp:playbackCount", "play_count"},
    {"upnp:lastPlaybackTime", "last_played"},
    // Clients name the time an object was added or changed in several ways; one column.
    {"last_updated", "last_updated"},
    {"pv:lastUpdated", "last_updated"},
    // The names real clients use beside ContentDirectory's, Windows Media Player's among them.
    {"upnp:albumArtist", "album_artist"},
    {"microsoft:artistAlbumArtist", "album_artist"},
    {"microsoft:artistPerformer", "artist"},
    {R"(upnp:artist[@role="Performer"])", "artist"},
    {"microsoft:artistConductor", "conductor"},
    {R"(upnp:artist[@role="Conductor"])", "conductor"},
    {"microsoft:authorComposer", "composer"},
    {R"(upnp:author[@role="Composer"])", "composer"},
    {"microsoft:authorWriter", "lyricist"},
    {R"(upnp:author[@role="Lyricist"])", "lyricist"},
    {R"(upnp:author[@role="Writer"])", "lyricist"},
    {"last_modified", "last_updated"},
    {"@parentID", "parent_id"},
    {"upnp:albumArtURI", "album_art"},
    {"res@protocolInfo", "protocol_info"},
    {"res@size", "size"},
    {"res@bitrate", "bitrate"},
    {"res@resolution", "resolution"},
};

}  // namespace

TokenTable SampleHostProperties() {
    TokenTable host;
    int id = PROP_HOST_FIRST;
    for (const auto &entry : kSampleHostColumns) host.Set(id++, entry.first);
    return host;
}

std::vector<int> SampleNumeric() {
    const TokenTable host = SampleHostProperties();
    return {PROP_UPNP_ORIGINAL_TRACK_NUMBER, PropertyId("upnp:playbackCount", &host)};
}

TokenTable SampleColumns() {
    TokenTable columns;
    columns.Set(PROP_DC_TITLE, "title");
    columns.Set(PROP_DC_DATE, "date");
    columns.Set(PROP_DC_CREATOR, "creator");
    columns.Set(PROP_UPNP_CLASS, "class");
    columns.Set(PROP_UPNP_ACTOR, "actor");
    columns.Set(PROP_UPNP_ARTIST, "artist");
    columns.Set(PROP_UPNP_ALBUM, "album");
    columns.Set(PROP_UPNP_GENRE, "genre");
    // Non-null exactly for objects that are no references: "@refID exists false" is written as
    // IS NOT NULL and must keep the items themselves, not the references to them.
    columns.Set(PROP_REFID, "own_id");
    columns.Set(PROP_ID, "num_id");
    columns.Set(PROP_UPNP_ORIGINAL_TRACK_NUMBER, "track");
    columns.Set(PROP_RES, "res");
    int id = PROP_HOST_FIRST;
    for (const auto &entry : kSampleHostColumns) columns.Set(id++, entry.second);
    return columns;
}

std::vector<int> SampleSupported(bool standard) {
    std::vector<int> ids = SampleColumns().Ids();
    if (!standard) ids.erase(std::remove(ids.begin(), ids.end(), static_cast<int>(PROP_RES)), ids.end());
    return ids;
}

unsigned GrammarOptions(const HostOptions &options) {
    if (!options.standard) return 0;
    return SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN | (options.lenient ? SEARCH_PARSE_LENIENT : 0u);
}

std::vector<int> SupportedOf(const HostOptions &options) {
    return options.supported ? *options.supported : SampleSupported(options.standard);
}

namespace {

std::string Trim(const std::string &text) {
    const char *blanks = " \t\r\n\v\f";
    size_t begin = text.find_first_not_of(blanks);
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(blanks);
    return text.substr(begin, end - begin + 1);
}

std::vector<std::string> SplitList(const std::string &text) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        items.push_back(Trim(text.substr(start, comma == std::string::npos ? std::string::npos
                                                                           : comma - start)));
        if (comma == std::string::npos) return items;
        start = comma + 1;
    }
}

}  // namespace

bool IsPlainName(const std::string &text) {
    if (text.empty()) return false;
    for (unsigned char c : text) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && c != '_' && c != '.') return false;
    }
    return true;
}

namespace {

// True when the library's standard grammar reads 'name' as one property name: it accepts a host
// table that lists it.
bool IsPropertyName(const std::string &name) {
    const TokenEntry table[] = {{PROP_HOST_FIRST, name.c_str()}, {0, nullptr}};
    const SearchParseConfig config = {SEARCH_PARSE_STANDARD, table};
    ParseTreeNode *tree = nullptr;
    SearchParseError error;
    Parse_searchExpWith(&tree, "", 0, -1, &config, &error);
    freeParseTree(tree);
    return error.code != SEARCH_PARSE_INVALID_ARGUMENT;
}

}  // namespace

bool ParseColumnMap(const std::string &text, TokenTable *columns, std::string *error, bool *replaced,
                    TokenTable *host) {
    std::string pairs = Trim(text);
    bool add = !pairs.empty() && pairs[0] == '+';
    TokenTable parsed = add ? *columns : TokenTable();
    TokenTable parsedHost = add && host != nullptr ? *host : TokenTable();
    for (const std::string &item : SplitList(add ? pairs.substr(1) : pairs)) {
        // A filter's value may hold '=': the pair's '=' is the last one.
        size_t equals = item.rfind('=');
        std::string property = Trim(item.substr(0, equals));
        int id = PropertyId(property, host != nullptr ? &parsedHost : nullptr);
        if (id == 0 && host != nullptr && equals != std::string::npos && IsPropertyName(property)) {
            std::vector<int> ids = parsedHost.Ids();
            id = ids.empty() ? PROP_HOST_FIRST : *std::max_element(ids.begin(), ids.end()) + 1;
            parsedHost.Set(id, property);
        }
        if (equals == std::string::npos || id == 0) {
            *error = std::string("not a property=column pair with a ") + (host != nullptr ? "property name" : "known property") +
                     ": \"" + item + "\"";
            return false;
        }
        std::string column = Trim(item.substr(equals + 1));
        // Column names go into the SQL text as they stand, so only plain names are taken.
        if (!IsPlainName(column)) {
            *error = "not a plain column name: \"" + column + "\"";
            return false;
        }
        parsed.Set(id, column);
    }
    *columns = parsed;
    if (host != nullptr) *host = parsedHost;
    if (replaced != nullptr) *replaced = !add;
    return true;
}

bool ParsePropertyList(const std::string &text, std::vector<int> *ids, std::string *error, const TokenTable *host) {
    ids->clear();
    if (Trim(text) == "none") return true;
    for (const std::string &item : SplitList(text)) {
        int id = PropertyId(item, host);
        if (id == 0) {
            *error = "unknown property: \"" + item + "\"";
            return false;
        }
        ids->push_back(id);
    }
    return true;
}

bool IsEverything(const std::string &criteria) { return Trim(criteria) == "*"; }

std::string DescribeParseError(const SearchParseError &error) {
    std::string text = SearchParseErrorMessage(error.code);
    if (error.offset >= 0) text += " at byte " + std::to_string(error.offset);
    return text;
}

std::string DescribeRepairs(const SearchParseRepairs &repairs) {
    static const std::pair<unsigned, const char *> kWords[] = {
        {SEARCH_REPAIR_SINGLE_QUOTES, "read a value in single quotes"},
        {SEARCH_REPAIR_DOUBLED_QUOTES, "read a value in doubled quotes"},
        {SEARCH_REPAIR_CLOSE_QUOTE, "closed the quote left open at the end"},
        {SEARCH_REPAIR_CLOSE_PARENTHESES, "closed the parentheses left open at the end"},
    };
    std::string text;
    for (const auto &[bit, words] : kWords) {
        if ((repairs.repairs & bit) != 0) text += (text.empty() ? "" : ", ") + std::string(words);
    }
    if (text.empty()) return text;
    return text + " (first repair at byte " + std::to_string(repairs.offset) + ")";
}

namespace {

// The criteria keyword of an operator id, quoted, or its number.
std::string OperatorName(int opId) {
    for (const TokenEntry *table : {g_LogOpName, g_BinOpName, g_ExistOpName}) {
        for (const TokenEntry *e = table; e->id != 0; ++e) {
            if (e->id == opId) return std::string("\"") + e->name + "\"";
        }
    }
    return std::to_string(opId);
}

// The library's words for a tree that is no condition, and the node they are about.
std::string DescribeConditionProblem(int code, const ParseTreeNode *node, const TokenTable &host) {
    std::string text = SearchConditionMessage(code);
    if (node == nullptr) return text;
    switch (code) {
        case SEARCH_CONDITION_MISSING_OPERAND:
            return text + ": " + OperatorName(node->opId) + " has no " +
                   (node->left == nullptr ? "left" : "right") + " operand";
        case SEARCH_CONDITION_BARE_PROPERTY:
        case SEARCH_CONDITION_NO_COLUMN:
            return text + ": " + PropertyName(node->propertyId, &host);
        case SEARCH_CONDITION_UNKNOWN_OPERATOR:
            return text + ": " + std::to_string(node->opId);
        case SEARCH_CONDITION_UNKNOWN_KIND:
            return text + ": " + std::to_string(node->kind);
        default:
            return text;
    }
}

}  // namespace

HostSearch RunHostSequence(const std::string &criteria, const HostOptions &options) {
    HostSearch search;
    // The classic grammar reads a NUL as a blank and goes on, so a log or a check that reads the
    // text as a C string would see less than the library parses: "dc:title = \"x\"<NUL> or
    // dc:title contains \"\"" would select everything while the log shows one title.
    size_t nul = criteria.find('\0');
    if (nul != std::string::npos) {
        search.status = HostSearch::kUnusable;
        search.problem = "a NUL byte at byte " + std::to_string(nul) + " (a criteria is text, and text holds no NUL)";
        return search;
    }
    if (IsEverything(criteria)) return search;  // "*" never reaches the parser.
    if (criteria.size() >= static_cast<size_t>(INT_MAX)) {
        search.status = HostSearch::kUnusable;
        search.problem = "criteria too long";
        return search;
    }

    // One quiet parse: options 0 gives the classic grammar's trees, and the error says where.
    msc::ParseResult parsed =
        msc::parse(criteria, GrammarOptions(options), options.standard ? options.hostProperties.Entries() : nullptr);
    search.error = parsed.error;
    search.repairs = parsed.repairs;
    if (!parsed) {
        search.status = HostSearch::kParseFailed;
        return search;
    }
    msc::Tree &tree = parsed.tree;
    if (!tree) return search;  // Blanks only: no condition.

    search.parsed = tree.clone();
    if (std::optional<std::string_view> upnpClass = tree.upnp_class()) {
        search.hasClass = true;
        search.upnpClass = std::string(*upnpClass);
    }
    search.properties = tree.properties();

    TokenTable supported;
    for (int id : SupportedOf(options)) supported.Set(id, PropertyName(id, &options.hostProperties));
    for (int id : search.properties) {
        if (supported.Find(id) == nullptr &&
            std::find(search.alwaysTrue.begin(), search.alwaysTrue.end(), id) == search.alwaysTrue.end()) {
            search.alwaysTrue.push_back(id);
        }
    }
    if (tree.set_always_true_for_non_supported_property(supported.Entries()) != 0) {
        search.status = HostSearch::kUnusable;
        search.problem = "the rewrite of unsupported properties failed";
        return search;
    }
    auto refIdCount = [](const msc::Tree &t) {
        std::vector<int> ids = t.properties();
        return std::count(ids.begin(), ids.end(), static_cast<int>(PROP_REFID));
    };
    long refIdsBefore = refIdCount(tree);
    tree.check_container_is_support_refid(options.container.c_str());
    search.refIdMadeFalse = refIdCount(tree) < refIdsBefore;

    search.rewritten = std::move(tree);
    // The parser accepts a logical keyword at the end of the text, empty parentheses and a
    // property without operator and value; none of them is a condition a database should run.
    msc::ConditionCheck check = search.rewritten.check(options.columns.Entries());
    if (!check) {
        search.status = HostSearch::kUnusable;
        search.problem = DescribeConditionProblem(check.code, check.node, options.hostProperties);
        return search;
    }
    const char *prefix = options.prefix.empty() ? nullptr : options.prefix.c_str();
    try {
        search.condition = search.rewritten.to_sql(options.columns.Entries(), prefix, &options.sql);
    } catch (const std::length_error &) {
        // Longer than an int-sized buffer holds: the library would cut it.
        search.status = HostSearch::kUnusable;
        search.problem = "the condition is too long";
        return search;
    }
    search.status = HostSearch::kCondition;
    return search;
}

SearchRecord::SearchRecord(const HostOptions &options) : numeric_(options.numeric) {
    for (int id : SupportedOf(options)) supported_.Set(id, PropertyName(id, &options.hostProperties));
    numeric_.push_back(0);
    InitSearchOptions(&options_);
    // The sort keys are named as the standard grammar names properties, whichever grammar parses.
    options_.parse = {GrammarOptions(options), options.hostProperties.Entries()};
    options_.columnTable = options.columns.Entries();
    options_.supportedTable = supported_.Entries();
    options_.containerId = options.container.c_str();
    options_.tablePrefix = options.prefix.empty() ? nullptr : options.prefix.c_str();
    options_.sql = options.sql;
    options_.policy = options.strictSort ? 0u : SEARCH_POLICY_SKIP_UNKNOWN_SORT;
    options_.idColumn = options.idColumn.empty() ? nullptr : options.idColumn.c_str();
    options_.numericProperties = numeric_.data();
    PrepareSearchOptions(&options_);
}

HostSort RunSort(const std::string &sort, const HostOptions &options) {
    SearchRecord record(options);
    HostSort result;
    if (sort.size() >= static_cast<size_t>(INT_MAX)) {
        result.ok = false;
        result.info.error = {SEARCH_PARSE_INVALID_ARGUMENT, 0};
        return result;
    }
    msc::SortResult sorted = msc::sort(sort, record.Options());
    result.keys = std::move(sorted.keys);
    result.info = sorted.info;
    result.ok = sorted.ok();
    int listed = std::min(result.info.sortSkippedCount, MSC_SEARCH_INFO_PROPERTIES);
    for (int i = 0; i < listed; ++i) {
        size_t from = static_cast<size_t>(result.info.sortSkipped[i]);
        size_t to = std::min(sort.find(',', from), sort.size());
        while (to > from && isspace(static_cast<unsigned char>(sort[to - 1]))) --to;
        result.skipped.push_back(sort.substr(from, to - from));
    }
    return result;
}

std::string SearchCapabilities(const HostOptions &options) {
    SearchRecord record(options);
    return msc::search_capabilities(record.Options());
}

std::string SortCapabilities(const HostOptions &options) {
    SearchRecord record(options);
    return msc::sort_capabilities(record.Options());
}

HostSearch RunOneCall(const std::string &criteria, const HostOptions &options) {
    if (IsEverything(criteria) || criteria.size() >= static_cast<size_t>(INT_MAX) ||
        criteria.find('\0') != std::string::npos) {
        return RunHostSequence(criteria, options);
    }
    SearchRecord record(options);
    msc::SearchResult found;
    try {
        found = msc::search(criteria, record.Options());
    } catch (const std::length_error &) {
        return RunHostSequence(criteria, options);  // says why in its own words
    }
    const SearchInfo &info = found.info;
    HostSearch search;
    search.error = info.error;
    search.repairs = {info.repairs, info.repairOffset};
    search.upnpError = info.upnpError;
    search.upnpErrorDescription = info.upnpErrorDescription;
    if (!found) {
        search.status = HostSearch::kParseFailed;
        return search;
    }
    if (info.condition == SEARCH_CONDITION_EMPTY) return search;  // Blanks only: no condition.
    // What the record leaves out (the node at fault, lists or a class past its bounds) comes from
    // the classic calls.
    if (info.condition != SEARCH_CONDITION_OK || info.propertyCount > MSC_SEARCH_INFO_PROPERTIES ||
        info.alwaysTrueCount > MSC_SEARCH_INFO_PROPERTIES ||
        info.classLength >= static_cast<int>(sizeof info.upnpClass)) {
        return RunHostSequence(criteria, options);
    }
    search.hasClass = info.classLength >= 0;
    if (search.hasClass) search.upnpClass.assign(info.upnpClass, static_cast<size_t>(info.classLength));
    search.properties.assign(info.properties, info.properties + info.propertyCount);
    search.alwaysTrue.assign(info.alwaysTrue, info.alwaysTrue + info.alwaysTrueCount);
    search.refIdMadeFalse = info.refIdMadeFalse != 0;
    search.condition = std::move(found.sql);
    search.status = HostSearch::kCondition;
    return search;
}

namespace {

// A lower bound of the dump's size without the dump: TravelTree prints one line per node,
// indented per level, so each leaf's line holds at least one byte per level of its depth. A
// list of n terms nests n levels deep, and the library's walk over it costs time with n * n even
// once the stream takes no more bytes, so this bound refuses such a tree first. An explicit
// stack: the client's text decides the depth. Stops once past 'limit'.
size_t LeafDepths(const ParseTreeNode *tree, size_t limit) {
    std::vector<std::pair<const ParseTreeNode *, size_t>> stack = {{tree, 0}};
    size_t sum = 0;
    while (!stack.empty() && sum <= limit) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        if (node == nullptr) continue;
        if (node->kind == NODE_GROUP) {
            stack.push_back({node->inner, depth + 1});
        } else if (node->kind == NODE_OPERATOR) {
            stack.push_back({node->left, depth + 1});
            stack.push_back({node->right, depth + 1});
        } else {
            sum += depth;
        }
    }
    return sum;
}

// A stream's sink that counts the bytes written and fails the write that would pass 'limit',
// after which the count stays limit + 1.
struct ByteCount {
    size_t limit;
    size_t total = 0;
};

ssize_t CountBytes(void *cookie, const char *, size_t size) {
    auto *count = static_cast<ByteCount *>(cookie);
    if (count->total > count->limit || size > count->limit - count->total) {
        count->total = count->limit + 1;
        return -1;
    }
    count->total += size;
    return static_cast<ssize_t>(size);
}

}  // namespace

size_t DumpSize(const ParseTreeNode *tree, size_t limit, const TokenTable *host) {
    if (LeafDepths(tree, limit) > limit) return limit + 1;
    ByteCount count{limit};
    FILE *stream = fopencookie(&count, "w", {nullptr, CountBytes, nullptr, nullptr});
    if (stream == nullptr) throw std::bad_alloc();
    TravelTreeToStream(tree, 0, stream, host != nullptr ? host->Entries() : nullptr);
    fclose(stream);  // Writes what the stream still holds.
    return count.total;
}

std::string BuildSelect(const SelectQuery &query, const std::string &condition) {
    std::string qualifier = query.alias.empty() ? "" : query.alias + ".";
    std::string sql = "SELECT " + query.show + " FROM " + query.table;
    if (!query.alias.empty()) sql += " AS " + query.alias;
    bool scoped = !query.idColumn.empty() && !query.parentColumn.empty();
    if (!condition.empty() || scoped) sql += " WHERE";
    if (!condition.empty()) sql += " (" + condition + ")";
    if (!condition.empty() && scoped) sql += " AND";
    if (scoped && query.scope != SelectQuery::kDescendants) {
        sql += " " + qualifier + (query.scope == SelectQuery::kSelf ? query.idColumn : query.parentColumn) + " = " +
               query.parameter;
    } else if (scoped && query.container == "0") {
        // The root holds every other object: no need to walk the links.
        sql += " " + qualifier + query.idColumn + " <> " + query.parameter;
    } else if (scoped) {
        // A search covers the container's descendants, found through the parent links. UNION,
        // not UNION ALL, so that a file whose links form a cycle still ends the recursion.
        const std::string &id = query.idColumn;
        const std::string &parent = query.parentColumn;
        sql += " " + qualifier + id + " IN (WITH RECURSIVE inside(id) AS (SELECT " + id + " FROM " +
               query.table + " WHERE " + parent + " = " + query.parameter + " UNION SELECT child." + id + " FROM " +
               query.table + " AS child JOIN inside ON child." + parent + " = inside.id) SELECT id FROM inside)";
    }
    if (!query.sortKeys.empty()) {
        sql += " ORDER BY " + query.sortKeys;
    } else if (!query.order.empty()) {
        sql += " ORDER BY " + qualifier + query.order;
    }
    // The one form the three databases share; a page starts at 'offset' only with a limit.
    if (query.limit >= 0) sql += " LIMIT " + std::to_string(query.limit) + " OFFSET " + std::to_string(query.offset);
    return sql;
}

}  // namespace msc_host
