// A ContentDirectory request as the host layer answers it: Search and Browse over the media
// database, with a page of rows, the total count, the sort order and the UPnP error of a request
// that fails. The server's actions are thin wrappers of these calls, and the command line's
// search runs the same sequence, so that both answer a criteria alike.
#ifndef MSC_TOOLS_HOST_REQUEST_H
#define MSC_TOOLS_HOST_REQUEST_H

#include <string>

#include "HostDatabase.h"
#include "HostSearch.h"

namespace msc_host {

// The UPnP error codes a request fails with, as a SOAP fault carries them.
enum UpnpErrorCode {
    kUpnpInvalidArgs = 402,
    kUpnpActionFailed = 501,
    kUpnpNoSuchObject = 701,
    kUpnpInvalidCriteria = 708,
    kUpnpInvalidSort = 709,
    kUpnpNoSuchContainer = 710,
};

struct UpnpFault {
    int code = 0;             // 0: no fault.
    std::string description;  // For the fault's errorDescription.
};

// The most objects one answer carries, also for a RequestedCount of 0 ("all"): a client pages on
// through TotalMatches, and an answer never grows with the library.
constexpr long long kMaxPageObjects = 5000;

struct ObjectRequest {
    enum Kind { kSearch, kChildren, kMetadata } kind = kSearch;
    std::string objectId = "0";  // The container searched or browsed, or the object itself.
    std::string criteria = "*";  // Search only.
    std::string sort;            // SortCriteria; empty: the database's default order.
    long long start = 0;         // StartingIndex.
    long long count = 0;         // RequestedCount; 0: as many as kMaxPageObjects.
};

struct ObjectPage {
    ResultTable rows;       // The columns of 'base.show', one row per object of the page.
    long long total = 0;    // TotalMatches: every object the request selects.
    // Where the answer's time went, in nanoseconds: the library's calls (with the host code
    // around them that builds their options) and the database's statements.
    long long libraryNanoseconds = 0;
    long long databaseNanoseconds = 0;
};

// Answers 'request' on 'database' with 'options' (read only: the caller gives each thread its own
// copy, since a TokenTable is not safe to share) and 'base' (table, columns shown and ids). False
// with *fault set for an unknown container or object, a criteria or sort the library refuses, or
// a database error.
bool AnswerObjectRequest(const ObjectRequest &request, const HostOptions &options, const SelectQuery &base,
                         HostDatabase *database, ObjectPage *page, UpnpFault *fault);

// Orders 'query' by a client's sort text through the library's sort call (RunSort); an empty
// text keeps the query's own order, or its id column. False with *fault (709, or 402) for a sort
// text the library refuses.
bool SortOrder(const std::string &sort, const HostOptions &options, SelectQuery *query, UpnpFault *fault);

}  // namespace msc_host

#endif  // MSC_TOOLS_HOST_REQUEST_H
