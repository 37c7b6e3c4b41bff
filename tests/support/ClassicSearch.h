// What ConvertSearchCriteria must give, made with the classic calls in a host's order, and the
// comparison of two results; shared by the equality test and the fuzz target.
#ifndef MSC_TEST_CLASSIC_SEARCH_H
#define MSC_TEST_CLASSIC_SEARCH_H

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "mysearchcriteria.h"

namespace msc_test {

struct SearchOutcome {
    int result = 0;
    std::string sql;  // out as the call left it, up to its NUL
    SearchInfo info{};
};

inline int CountRefIds(const ParseTreeNode *tree) {
    int count = 0;
    int *ids = GetPropertyList(tree, &count);
    const int found = static_cast<int>(std::count(ids, ids + count, static_cast<int>(PROP_REFID)));
    free(ids);
    return found;
}

// The classic sequence: Parse_searchExpRepaired, GetUPnPClass, GetPropertyList, the always-true
// rewrite, the container rule, CheckSQLCondition, ConvertSQLConditionWith.
inline SearchOutcome ClassicSearch(const char *criteria, int length, const SearchOptions &options, int outSize) {
    SearchOutcome o{-1, "", {{SEARCH_PARSE_OK, -1}, SEARCH_CONDITION_EMPTY, -1, {}, 0, {}, 0, {}, 0, 0, {}, 0, {}, 0, -1}};
    SearchInfo &info = o.info;
    const SqlOptions &sql = options.sql;
    if (sql.dialect < SQL_DIALECT_SQLITE || sql.dialect > SQL_DIALECT_MYSQL || (sql.flags & ~SQL_LITERAL_PATTERNS) != 0) {
        info.error = {SEARCH_PARSE_INVALID_ARGUMENT, 0};
        return o;
    }
    if (length == -1) length = static_cast<int>(strlen(criteria));
    ParseTreeNode *tree = nullptr;
    SearchParseRepairs repairs;
    if (Parse_searchExpRepaired(&tree, criteria, 0, length - 1, &options.parse, &info.error, &repairs) != 0) return o;
    info.repairs = repairs.repairs;
    info.repairOffset = repairs.offset;
    if (const char *upnpClass = GetUPnPClass(tree)) {
        info.classLength = static_cast<int>(strlen(upnpClass));
        snprintf(info.upnpClass, sizeof info.upnpClass, "%s", upnpClass);
    }
    int *ids = GetPropertyList(tree, &info.propertyCount);
    const TokenEntry *supported = options.supportedTable != nullptr ? options.supportedTable : options.columnTable;
    std::vector<int> alwaysTrue;
    for (int i = 0; i < info.propertyCount; ++i) {
        if (i < MSC_SEARCH_INFO_PROPERTIES) info.properties[i] = ids[i];
        bool isSupported = false;
        for (const TokenEntry *e = supported; e != nullptr && e->id != 0; ++e) isSupported |= e->id == ids[i];
        if (!isSupported && std::find(alwaysTrue.begin(), alwaysTrue.end(), ids[i]) == alwaysTrue.end()) {
            if (alwaysTrue.size() < MSC_SEARCH_INFO_PROPERTIES) info.alwaysTrue[alwaysTrue.size()] = ids[i];
            alwaysTrue.push_back(ids[i]);
        }
    }
    info.alwaysTrueCount = static_cast<int>(alwaysTrue.size());
    free(ids);
    SetAlwayTrueForNonSupportedProperty(tree, supported);
    if (options.containerId != nullptr && tree != nullptr) {
        const int before = CountRefIds(tree);
        CheckContainerIsSupportRefID(options.containerId, tree);
        info.refIdMadeFalse = CountRefIds(tree) < before ? 1 : 0;
    }
    info.condition = CheckSQLCondition(tree, options.columnTable, nullptr);
    std::vector<char> out(static_cast<size_t>(outSize) + 1, '\0');
    o.result = ConvertSQLConditionWith(tree, options.columnTable, options.tablePrefix, &options.sql, out.data(), outSize);
    o.sql = out.data();
    freeParseTree(tree);
    return o;
}

// Prepares 'options' while it names the tables 'columns' and 'supported', then points it back at
// its own: a call must read the index only when they are the ones it was made for. Returns what
// PrepareSearchOptions returned.
inline int PrepareNaming(SearchOptions *options, const TokenEntry *columns, const TokenEntry *supported) {
    const SearchOptions own = *options;
    options->columnTable = columns;
    options->supportedTable = supported;
    const int result = PrepareSearchOptions(options);
    options->columnTable = own.columnTable;
    options->supportedTable = own.supportedTable;
    return result;
}

inline SearchOutcome OneCallSearch(const char *criteria, int length, const SearchOptions &options, int outSize) {
    // A record and buffer left dirty by an earlier call: the call must set every field it reports.
    SearchOutcome o;
    memset(&o.info, 0x5a, sizeof o.info);
    std::vector<char> out(static_cast<size_t>(outSize) + 1, '\0');
    std::fill(out.begin(), out.end() - 1, 'x');
    o.result = ConvertSearchCriteria(criteria, length, &options, out.data(), outSize, &o.info);
    o.sql = out.data();
    return o;
}

// The fields that differ, as text; empty when the outcomes are equal.
inline std::string Difference(const SearchOutcome &a, const SearchOutcome &b) {
    const SearchInfo &x = a.info, &y = b.info;
    auto list = [](int count, const int *ids) { return std::vector<int>(ids, ids + std::min(count, MSC_SEARCH_INFO_PROPERTIES)); };
    const std::pair<const char *, bool> fields[] = {
        {"result", a.result == b.result}, {"sql", a.sql == b.sql},
        {"error", x.error.code == y.error.code && x.error.offset == y.error.offset}, {"condition", x.condition == y.condition},
        {"class", x.classLength == y.classLength && strcmp(x.upnpClass, y.upnpClass) == 0},
        {"properties", x.propertyCount == y.propertyCount && list(x.propertyCount, x.properties) == list(y.propertyCount, y.properties)},
        {"alwaysTrue", x.alwaysTrueCount == y.alwaysTrueCount && list(x.alwaysTrueCount, x.alwaysTrue) == list(y.alwaysTrueCount, y.alwaysTrue)},
        {"refIdMadeFalse", x.refIdMadeFalse == y.refIdMadeFalse},
        {"repairs", x.repairs == y.repairs && x.repairOffset == y.repairOffset}};
    std::string d;
    for (const auto &[name, same] : fields) d += same ? "" : std::string(d.empty() ? "" : ", ") + name;
    return d;
}

}  // namespace msc_test

#endif  // MSC_TEST_CLASSIC_SEARCH_H
