// What the calls read from a host's SearchOptions record besides its tables: which fields the
// record has, the index that PrepareSearchOptions made, and the UPnP error report. Never installed.
#ifndef MSC_SEARCH_OPTIONS_H
#define MSC_SEARCH_OPTIONS_H

#include <cstdint>
#include <new>

#include "ConditionWriter.h"

namespace msc {

// A record of version 1.1 or a later 1.x says so; anything else (0 from a host built before
// versions, or garbage in what was the index's last word) is a record of 1.0, which ends at the
// index, and whose SearchInfo ends at refIdMadeFalse.
constexpr uint32_t kFirstVersionedRecord = 10100;
constexpr uint32_t kNextMajorVersion = 20000;
inline bool HasFieldsOf11(const SearchOptions &options) {
    return options.version >= kFirstVersionedRecord && options.version < kNextMajorVersion;
}

// What PrepareSearchOptions keeps in a record's index: the look-ups of its tables for the built-in
// properties, and which tables they were made from.
struct PreparedTables {
    uint64_t mark;                      // kPreparedMark once filled
    const TokenEntry *columnTable;
    const TokenEntry *supportedTable;
    uint32_t known;                     // bit n: 'supported' tells whether property n is supported
    uint32_t supported;
    ColumnIndex columns;
};
static_assert(sizeof(PreparedTables) <= sizeof(SearchOptionsIndex), "the record's index has room for it");
static_assert(alignof(PreparedTables) <= alignof(SearchOptionsIndex), "and its alignment");

constexpr uint64_t kPreparedMark = 0x4d53432d50524550;  // any other value: not prepared
inline constexpr PreparedTables kUnprepared{};

// What the database evaluates: the supported table, or the ids of the column table.
inline const TokenEntry *SupportedTableOf(const SearchOptions &options) {
    return options.supportedTable != nullptr ? options.supportedTable : options.columnTable;
}

// The record's index while it was made for the tables the record names; else one that knows nothing.
inline const PreparedTables &PreparedFor(const SearchOptions &options) {
    const auto *prepared = std::launder(reinterpret_cast<const PreparedTables *>(&options.index));
    bool current = prepared->mark == kPreparedMark && prepared->columnTable == options.columnTable &&
                   prepared->supportedTable == options.supportedTable;
    return current ? *prepared : kUnprepared;
}

// The column of a property into *name and *length, from the index when it has it (*indexed, a
// name in its room of ColumnIndex::Name); false when the property has no column (NamesNoColumn).
inline bool FindColumn(const SearchOptions &options, const PreparedTables &prepared, int propertyId, const char **name,
                       size_t *length, bool *indexed) {
    const ColumnIndex::Name *column = prepared.columns.Find(propertyId);
    *indexed = column != nullptr;
    if (column != nullptr) {
        *name = column->text;
        *length = column->length;
        return true;
    }
    *name = ColumnNameOf(options.columnTable, propertyId);
    *length = strlen(*name);
    return !NamesNoColumn(*name, *length);
}

// UPnP error codes of the ContentDirectory and the UPnP device architecture.
enum UPnPError {
    kUPnPInvalidArgs = 402,
    kUPnPActionFailed = 501,
    kUPnPBadSearchCriteria = 708,
    kUPnPBadSortCriteria = 709,
};

// Sets the UPnP error fields of a 1.1 record: the code, its words, and 'detail' (or null) with the
// offset (or -1) at which it failed. 'detail' comes from the library's own texts and tables only.
void ReportUPnPError(SearchInfo *info, int upnpError, const char *detail, int offset);

// The steps of ReportUPnPError's description, for a caller that composes all but the offset's
// digits in advance, each cut to the field: the words of 'upnpError' and 'detail' (or null) into
// out (returns their length); what goes before the offset's digits after out[0..length-1]
// (returns the length then); and the digits with the NUL (EndWithOffset).
size_t DescribeUPnPError(char *out, int upnpError, const char *detail);
size_t OpenOffset(char *out, size_t length);

// Appends text[0..n-1] to the description out[0..*length-1], cut to the field.
MSC_ALWAYS_INLINE inline void AppendToDescription(char *out, size_t *length, const char *text, size_t n) {
    constexpr size_t kRoom = MSC_SEARCH_INFO_DESCRIPTION_SIZE - 1;
    if (n > kRoom - *length) n = kRoom - *length;
    CopyValueText(out + *length, text, n);
    *length += n;
}

// The digits of 0 to 99, two by two: an offset is written a pair of digits per division.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Inline: a failed call's report ends with it.
MSC_ALWAYS_INLINE inline void EndWithOffset(char *out, size_t length, unsigned offset) {
    char digits[16];
    char *first = digits + sizeof digits;
    for (; offset >= 100; offset /= 100) {
        first -= 2;
        memcpy(first, kDigitPairs + 2 * (offset % 100), 2);
    }
    if (offset >= 10) {
        first -= 2;
        memcpy(first, kDigitPairs + 2 * offset, 2);
    } else {
        *--first = static_cast<char>('0' + offset);
    }
    AppendToDescription(out, &length, first, static_cast<size_t>(digits + sizeof digits - first));
    out[length] = '\0';
}

// Clears the UPnP error fields of a 1.1 record.
inline void ClearUPnPError(SearchInfo *info) {
    info->upnpError = 0;
    info->upnpErrorDescription[0] = '\0';
}

}  // namespace msc

#endif  // MSC_SEARCH_OPTIONS_H
