// The rest of a Search request through the C ABI: SortCriteria as ORDER BY keys, the capability
// texts, the policy for conditions the database cannot evaluate, the UPnP errors of failures, and
// records of different versions.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AllocationHooks.h"
#include "TreeText.h"
#include "mysearchcriteria.hpp"

using namespace msc_test;

namespace {

// A media server's columns: genre with an empty name (no column), no actor, res or @id; a host's
// own composer (128) and play count (129), and an album artist (130) without a column.
const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"},      {PROP_DC_DATE, "date"},   {PROP_DC_CREATOR, "creator"},
                               {PROP_UPNP_CLASS, "class"},    {PROP_UPNP_ARTIST, "artist"}, {PROP_UPNP_ALBUM, "album"},
                               {PROP_UPNP_GENRE, ""},         {PROP_REFID, "own_id"},   {PROP_UPNP_ORIGINAL_TRACK_NUMBER, "track"},
                               {PROP_HOST_FIRST, "composer"}, {PROP_HOST_FIRST + 1, "play_count"}, {0, nullptr}};
const TokenEntry kHost[] = {{PROP_HOST_FIRST, R"(upnp:artist[@role="Composer"])"},
                            {PROP_HOST_FIRST + 1, "upnp:playbackCount"},
                            {PROP_HOST_FIRST + 2, R"(upnp:artist[@role="AlbumArtist"])"},
                            {0, nullptr}};
// A host's property whose name leaves no room in the description for all of an offset's digits.
const TokenEntry kLongName[] = {{PROP_HOST_FIRST + 2, "x:averyLongPropertyNameaveryLongPropertyNameaveryLongPropertyNameaveryLongPropertyNamea"}, {0, nullptr}};
const TokenEntry kTitleAndDate[] = {{PROP_DC_TITLE, nullptr}, {PROP_DC_DATE, nullptr}, {0, nullptr}};
const int kPlayCount[] = {PROP_HOST_FIRST + 1, 0};

// The record a row names: "" the server above in the standard grammar, sorting by every column and
// ending with object_id; or one change of it.
SearchOptions RecordOf(const Case &row) {
    SearchOptions options = MSC_SEARCH_OPTIONS_INIT;
    options.parse = {SEARCH_PARSE_STANDARD, kHost};
    options.columnTable = kColumns;
    options.idColumn = "object_id";
    const std::string dialect = row["dialect"], record = row["record"], prefix = row["prefix"];
    options.sql.dialect = dialect == "postgresql" ? SQL_DIALECT_POSTGRESQL : dialect == "mysql" ? SQL_DIALECT_MYSQL : SQL_DIALECT_SQLITE;
    options.tablePrefix = prefix.empty() ? nullptr : row.fields.at("prefix").c_str();
    if (row["policy"] == "skip") options.policy = SEARCH_POLICY_SKIP_UNKNOWN_SORT;
    if (row["policy"] == "refuse") options.policy = SEARCH_POLICY_REFUSE_UNSUPPORTED;
    if (record == "classic") options.parse.options = 0;
    if (record == "sortable") options.sortableTable = kTitleAndDate;
    if (record == "numeric") options.numericProperties = kPlayCount;
    if (record == "no id") options.idColumn = nullptr;
    if (record == "supported") options.supportedTable = kTitleAndDate;
    if (record == "prepared") PrepareSearchOptions(&options);
    if (record == "long name") options.parse.hostProperties = kLongName;
    return options;
}

std::string Offsets(const int *offsets, int count) {
    std::string text;
    for (int i = 0; i < count && i < MSC_SEARCH_INFO_PROPERTIES; ++i) text += (i ? " " : "") + std::to_string(offsets[i]);
    return text;
}

// What a call reported besides its text: "", or the UPnP code, parse code and offset, and words.
std::string Failure(const SearchInfo &info) {
    if (info.upnpError == 0) return "";
    return std::to_string(info.upnpError) + " " + std::to_string(info.error.code) + "@" + std::to_string(info.error.offset) +
           " " + info.upnpErrorDescription;
}

// Each sort text of api-sort.tsv gives its whole ORDER BY keys, or its failure, and the same
// text in every buffer, cut at the buffer's end.
TEST(SearchRequest, SortCriteria) {
    for (const Case &row : ReadCases("api-sort.tsv")) {
        SCOPED_TRACE(row.where());
        const SearchOptions options = RecordOf(row);
        const std::string sort = row["sort"];
        SearchInfo info;
        char out[1024];
        int length = ConvertSortCriteria(sort.c_str(), static_cast<int>(sort.size()), &options, out, sizeof out, &info);
        EXPECT_EQ(length < 0 ? "" : std::string(out), row["keys"]);
        EXPECT_EQ(Failure(info), row["failure"]);
        EXPECT_EQ(Offsets(info.sortSkipped, info.sortSkippedCount), row["skipped"]);
        const msc::SortResult wrapped = msc::sort(sort, options);
        EXPECT_EQ(wrapped.keys, row["keys"]);
        EXPECT_EQ(wrapped.ok(), row["failure"].empty());
        if (length < 0) {
            EXPECT_STREQ(out, "") << "a failure leaves the empty text";
            continue;
        }
        EXPECT_EQ(length, static_cast<int>(row["keys"].size()));
        for (int size = 0; size <= length + 1; ++size) {
            std::string small(static_cast<size_t>(size) + 1, '#');
            EXPECT_EQ(ConvertSortCriteria(sort.c_str(), -1, &options, &small[0], size, nullptr), length);
            if (size > 0) {
                EXPECT_EQ(small.c_str(), row["keys"].substr(0, static_cast<size_t>(size - 1)));
            }
            EXPECT_EQ(small.back(), '#') << "nothing written past the buffer";
        }
    }
}

// Long hostile sort texts: the keys written are the distinct properties, however many the text
// repeats, and a text that is no list fails at its first fault.
TEST(SearchRequest, HostileSortTexts) {
    const Case row;
    SearchOptions options = RecordOf(row);
    char out[256];
    SearchInfo info;
    const std::string repeated = Repeat("+dc:title , -upnp:artist[@role=\"Composer\"],", 30000) + "dc:date";
    EXPECT_EQ(ConvertSortCriteria(repeated.c_str(), -1, &options, out, sizeof out, &info), 126);
    EXPECT_STREQ(out, "title IS NULL, title COLLATE NOCASE ASC, composer IS NULL, composer COLLATE NOCASE DESC, "
                      "date IS NULL, date ASC, object_id ASC");
    options.policy = SEARCH_POLICY_SKIP_UNKNOWN_SORT;
    const std::string unknown = Repeat("+x:y,", 200000) + "-dc:title";
    EXPECT_EQ(ConvertSortCriteria(unknown.c_str(), -1, &options, out, sizeof out, &info), 55);
    EXPECT_EQ(info.sortSkippedCount, 200000);
    EXPECT_EQ(info.sortSkipped[31], 31 * 5);
    const std::string unclosed = "+dc:title,+upnp:artist[@role=\"" + std::string(1 << 20, 'a');
    EXPECT_EQ(ConvertSortCriteria(unclosed.c_str(), -1, &options, out, sizeof out, &info), -1);
    EXPECT_EQ(Failure(info), "709 7@22 Unsupported or invalid sort criteria: expected a comma at byte 22");
    const std::string nul("+dc:title\0,+dc:date", 19);
    const std::string prefix(300, 'p');  // keys longer than the wrapper's first buffer
    SearchOptions prefixed = options;
    prefixed.tablePrefix = prefix.c_str();
    const std::string longKeys = prefix + "title IS NULL, " + prefix + "title COLLATE NOCASE DESC, " + prefix + "object_id ASC";
    EXPECT_EQ(msc::sort("-dc:title", prefixed).keys, longKeys);
    std::vector<std::string> texts = {repeated, unknown, unclosed, nul};
    OpenAllocationWindow();
    for (const std::string &text : texts) ConvertSortCriteria(text.c_str(), static_cast<int>(text.size()), &options, out, sizeof out, &info);
    EXPECT_EQ(CloseAllocationWindow(), 0) << "the sort call takes no heap memory";
    EXPECT_EQ(ConvertSortCriteria(nul.c_str(), 19, &options, out, sizeof out, &info), 54) << "the text ends at its NUL";
    // A text that ends at a comma, with no byte after it: the sanitizer run catches a read past it.
    const std::unique_ptr<char[]> trailingComma(new char[9]);
    memcpy(trailingComma.get(), "dc:title,", 9);
    EXPECT_EQ(ConvertSortCriteria(trailingComma.get(), 9, &options, out, sizeof out, &info), -1);
    EXPECT_EQ(Failure(info), "709 1@9 Unsupported or invalid sort criteria: expected a property at byte 9");
}

// Invalid arguments are UPnP error 402, whatever the text.
TEST(SearchRequest, InvalidArguments) {
    const Case row;
    const SearchOptions options = RecordOf(row);
    SearchOptions badDialect = options;
    badDialect.sql.dialect = 7;
    const TokenEntry badHost[] = {{3, "dc:title"}, {0, nullptr}};
    SearchOptions badTable = options;
    badTable.parse.hostProperties = badHost;
    SearchInfo info;
    char out[16] = "x";
    const std::string invalid = "402 10@0 Invalid Args: invalid argument or option";
    const SearchOptions *const records[] = {nullptr, &badDialect};
    for (const SearchOptions *record : records) {
        EXPECT_EQ(ConvertSortCriteria("+dc:title", -1, record, out, sizeof out, &info), -1);
        EXPECT_EQ(Failure(info), invalid);
        EXPECT_STREQ(out, "");
    }
    // A host entry that names no property is never matched; the search call refuses its table.
    EXPECT_EQ(ConvertSortCriteria("+dc:title", -1, &badTable, nullptr, 0, &info), 54);
    EXPECT_EQ(ConvertSearchCriteria("dc:title = \"a\"", -1, &badTable, out, sizeof out, &info), -1);
    EXPECT_EQ(Failure(info), invalid);
    EXPECT_EQ(ConvertSortCriteria(nullptr, 0, &options, out, sizeof out, &info), -1);
    EXPECT_EQ(ConvertSortCriteria("+dc:title", -2, &options, out, sizeof out, &info), -1);
    EXPECT_EQ(Failure(info), invalid);
    EXPECT_EQ(ConvertSearchCriteria("dc:title = \"a\"", -1, &badDialect, out, sizeof out, &info), -1);
    EXPECT_EQ(Failure(info), "402 10@0 Invalid Args: invalid argument or option");
    EXPECT_EQ(WriteSearchCapabilities(nullptr, out, sizeof out), -1);
    EXPECT_EQ(WriteSortCapabilities(nullptr, out, sizeof out), -1);
}

// The capability texts of each record of api-capabilities.tsv.
TEST(SearchRequest, Capabilities) {
    for (const Case &row : ReadCases("api-capabilities.tsv")) {
        SCOPED_TRACE(row.where());
        const SearchOptions options = RecordOf(row);
        char out[1024];
        int length = WriteSearchCapabilities(&options, out, sizeof out);
        EXPECT_EQ(std::string(out), row["search"]);
        EXPECT_EQ(length, static_cast<int>(row["search"].size()));
        length = WriteSortCapabilities(&options, out, sizeof out);
        EXPECT_EQ(std::string(out), row["sort"]);
        EXPECT_EQ(length, static_cast<int>(row["sort"].size()));
        EXPECT_EQ(WriteSortCapabilities(&options, out, 5), length);
        EXPECT_EQ(std::string(out), row["sort"].substr(0, 4));
        EXPECT_EQ(msc::search_capabilities(options), row["search"]);
        EXPECT_EQ(msc::sort_capabilities(options), row["sort"]);
    }
}

// ConvertSearchCriteria's UPnP errors and its policy for properties the database cannot
// evaluate, in both ways through the call (classic texts are written while parsed).
TEST(SearchRequest, SearchPolicyAndErrors) {
    for (const Case &row : ReadCases("api-search-policy.tsv")) {
        SCOPED_TRACE(row.where());
        const SearchOptions options = RecordOf(row);
        const std::string blanks = row["blanks"];
        const std::string criteria = std::string(blanks.empty() ? 0 : std::stoul(blanks), ' ') + row["criteria"];
        SearchInfo info;
        char out[512];
        int length = ConvertSearchCriteria(criteria.c_str(), -1, &options, out, sizeof out, &info);
        EXPECT_EQ(length < 0 ? "" : std::string(out), row["sql"]);
        EXPECT_EQ(Failure(info), row["failure"]);
    }
}

// A record of 1.0 (version 0) has neither the policy nor the UPnP fields: the call neither reads
// the one nor writes the others, which a host built before them does not have.
TEST(SearchRequest, UnversionedRecordsAreReadAsOld) {
    SearchOptions options = MSC_SEARCH_OPTIONS_INIT;
    options.columnTable = kColumns;
    options.supportedTable = kTitleAndDate;
    options.policy = SEARCH_POLICY_REFUSE_UNSUPPORTED;
    options.version = 0;
    SearchInfo info;
    memset(&info, 0x5A, sizeof info);
    char out[128];
    EXPECT_EQ(ConvertSearchCriteria("**", -1, &options, out, sizeof out, &info), -1);
    EXPECT_EQ(ConvertSearchCriteria("upnp:genre = \"a\"", -1, &options, out, sizeof out, &info), 13);
    EXPECT_STREQ(out, " '1'  =  '1' ");
    const unsigned char *tail = reinterpret_cast<const unsigned char *>(&info.upnpError);
    for (size_t i = 0; i < sizeof info - offsetof(SearchInfo, upnpError); ++i) ASSERT_EQ(tail[i], 0x5A) << i;
    SearchOptions initialised;
    memset(&initialised, 0x5A, sizeof initialised);
    EXPECT_EQ(InitSearchOptions(&initialised), 0);
    const SearchOptions expected = MSC_SEARCH_OPTIONS_INIT;
    EXPECT_EQ(memcmp(&initialised, &expected, sizeof expected), 0);
    EXPECT_EQ(InitSearchOptions(nullptr), -1);
    EXPECT_EQ(msc::prepared(SearchOptions{}).version, static_cast<uint32_t>(MSC_VERSION_NUMBER))
        << "C++ code has the header's record";
    EXPECT_EQ(SearchLibraryVersion(), static_cast<unsigned>(MSC_VERSION_NUMBER));
}

}  // namespace
