// Search and Browse as the host layer answers them: one existence check, the library's condition,
// one count and one page, each a statement built by BuildSelect.
#include "HostRequest.h"

#include <chrono>
#include <cstdlib>

namespace msc_host {

namespace {

UpnpFault Fault(int code, const std::string &description) { return UpnpFault{code, description}; }

// Adds the time since 'start' to *total; returns the new start.
std::chrono::steady_clock::time_point Account(std::chrono::steady_clock::time_point start, long long *total) {
    auto now = std::chrono::steady_clock::now();
    *total += std::chrono::duration_cast<std::chrono::nanoseconds>(now - start).count();
    return now;
}

// Runs 'query'; a database error is UPnP's "action failed", with the database's words.
bool Run(HostDatabase *database, const SelectQuery &query, const std::string &condition, ResultTable *rows,
         UpnpFault *fault) {
    std::string error;
    if (database->Select(query, condition, rows, &error)) return true;
    *fault = Fault(kUpnpActionFailed, "the database rejected the request: " + error);
    return false;
}

// Whether the object 'id' exists: the check that tells "no such container" from "no matches".
bool Exists(HostDatabase *database, const SelectQuery &base, const std::string &id, bool *exists, UpnpFault *fault) {
    SelectQuery query = base;
    query.show = base.idColumn;
    query.scope = SelectQuery::kSelf;
    query.container = id;
    query.order.clear();
    query.limit = 1;
    ResultTable rows;
    if (!Run(database, query, "", &rows, fault)) return false;
    *exists = !rows.rows.empty();
    return true;
}

}  // namespace

bool SortOrder(const std::string &sort, const HostOptions &options, SelectQuery *query, UpnpFault *fault) {
    if (sort.empty()) {
        // Without an order of its own the id column keeps pages apart: OFFSET on an unordered
        // statement may repeat or skip rows.
        if (query->order.empty()) query->order = query->idColumn;
        return true;
    }
    HostSort sorted = RunSort(sort, options);
    if (!sorted.ok) {
        *fault = Fault(sorted.info.upnpError != 0 ? sorted.info.upnpError : kUpnpInvalidSort,
                       sorted.info.upnpErrorDescription);
        return false;
    }
    query->sortKeys = sorted.keys;
    return true;
}

bool AnswerObjectRequest(const ObjectRequest &request, const HostOptions &options, const SelectQuery &base,
                         HostDatabase *database, ObjectPage *page, UpnpFault *fault) {
    if (request.start < 0 || request.count < 0) {
        *fault = Fault(kUpnpInvalidArgs, "StartingIndex and RequestedCount must not be negative");
        return false;
    }
    auto start = std::chrono::steady_clock::now();
    bool exists = false;
    if (!Exists(database, base, request.objectId, &exists, fault)) return false;
    start = Account(start, &page->databaseNanoseconds);
    if (!exists) {
        *fault = request.kind == ObjectRequest::kSearch ? Fault(kUpnpNoSuchContainer, "no such container")
                                                        : Fault(kUpnpNoSuchObject, "no such object");
        return false;
    }

    SelectQuery query = base;
    query.container = request.objectId;
    std::string condition;
    if (request.kind == ObjectRequest::kSearch) {
        HostOptions searched = options;
        searched.container = request.objectId;
        HostSearch search = RunOneCall(request.criteria, searched);
        if (search.status == HostSearch::kParseFailed || search.status == HostSearch::kUnusable) {
            // The library's code and words where its one call refused the text; the host's where
            // the classic calls found no usable condition.
            std::string why = search.status == HostSearch::kParseFailed ? DescribeParseError(search.error) : search.problem;
            *fault = search.upnpError != 0 ? Fault(search.upnpError, search.upnpErrorDescription)
                                           : Fault(kUpnpInvalidCriteria, "Unsupported or invalid search criteria: " + why);
            return false;
        }
        condition = search.condition;
    } else {
        query.scope = request.kind == ObjectRequest::kChildren ? SelectQuery::kChildren : SelectQuery::kSelf;
    }
    if (!SortOrder(request.sort, options, &query, fault)) return false;
    start = Account(start, &page->libraryNanoseconds);

    SelectQuery counted = query;
    counted.show = "COUNT(*)";
    counted.order.clear();
    counted.sortKeys.clear();
    ResultTable count;
    if (!Run(database, counted, condition, &count, fault)) return false;
    page->total = count.rows.empty() || count.rows[0].empty() ? 0 : std::atoll(count.rows[0][0].c_str());

    query.offset = request.start;
    query.limit = request.count == 0 || request.count > kMaxPageObjects ? kMaxPageObjects : request.count;
    bool ran = Run(database, query, condition, &page->rows, fault);
    Account(start, &page->databaseNanoseconds);
    return ran;
}

}  // namespace msc_host
