// ConvertSortCriteria on any text: no crash, and what it writes is made of the host's names and
// the dialect's words only. Every item between ", " of a written text must be one that the
// record can make (a key's null test or its ordering, or the id column), each property's at
// most once; a failure writes the empty text and says 709 or 402.
//
// Input: 2 configuration bytes, then the sort text.
//   byte 0: dialect (bits 0-1, 3 invalid), prefix (bits 2-3), skip unknown keys (bit 4), the
//           record prepared (bit 5), no id column (bit 6), length -1 instead of the size (bit 7)
//   byte 1: output buffer size (0 to 255, 255 meaning 64 KiB)
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "FuzzChecks.h"

using namespace msc_fuzz;

namespace {

// Every item that a key of 'options' may write: its null test and its orderings.
std::set<std::string> ItemsOf(const SearchOptions &options) {
    static const char *const kFolded[][2] = {{"", " COLLATE NOCASE"}, {"lower(", " COLLATE \"C\")"},
                                             {"CAST(LOWER(", ") AS BINARY)"}};
    const std::string prefix = options.tablePrefix != nullptr ? options.tablePrefix : "";
    std::set<std::string> items;
    for (const TokenEntry *entry = kColumns; entry->id != 0; ++entry) {
        const std::string column = prefix + entry->name;
        items.insert(column + " IS NULL");
        for (const char *direction : {" ASC", " DESC"}) {
            items.insert(column + direction);
            const char *const *folded = kFolded[options.sql.dialect];
            items.insert(folded[0] + column + folded[1] + direction);
        }
    }
    if (options.idColumn != nullptr) items.insert(prefix + options.idColumn + " ASC");
    return items;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2 || size > 2 + 65536) return 0;
    const uint8_t config = data[0], out = data[1];
    const std::string text(reinterpret_cast<const char *>(data) + 2, size - 2);

    SearchOptions options = MSC_SEARCH_OPTIONS_INIT;
    options.parse = {SEARCH_PARSE_STANDARD, kHost};
    options.columnTable = kColumns;
    options.sql.dialect = config & 3;
    options.tablePrefix = kPrefixes[(config >> 2) & 3];
    options.policy = (config & 0x10) ? SEARCH_POLICY_SKIP_UNKNOWN_SORT : 0u;
    options.idColumn = (config & 0x40) ? nullptr : "object_id";
    if (config & 0x20) PrepareSearchOptions(&options);
    const int outSize = out == 255 ? 65536 : out;
    std::vector<char> buffer(static_cast<size_t>(outSize) + 1, '#');
    SearchInfo info;
    int length = ConvertSortCriteria(text.c_str(), (config & 0x80) ? -1 : static_cast<int>(text.size()), &options,
                                     buffer.data(), outSize, &info);
    MSC_FUZZ_CHECK(buffer[static_cast<size_t>(outSize)] == '#', "written past the buffer");
    if (length < 0) {
        MSC_FUZZ_CHECK(info.upnpError == (options.sql.dialect == 3 ? 402 : 709), info.upnpErrorDescription);
        MSC_FUZZ_CHECK(outSize == 0 || buffer[0] == '\0', "a failure leaves the empty text");
        return 0;
    }
    MSC_FUZZ_CHECK(options.sql.dialect != 3, "an invalid dialect was accepted");
    // The whole text, to read its items.
    std::string whole(static_cast<size_t>(length) + 1, '\0');
    ConvertSortCriteria(text.c_str(), (config & 0x80) ? -1 : static_cast<int>(text.size()), &options, &whole[0],
                        length + 1, nullptr);
    whole.resize(static_cast<size_t>(length));
    if (outSize > 0) {
        const size_t held = std::min<size_t>(whole.size(), static_cast<size_t>(outSize) - 1);
        MSC_FUZZ_CHECK(whole.compare(0, held, buffer.data(), held) == 0 && buffer[held] == '\0',
                       "the buffer holds the text's beginning");
    }
    const std::set<std::string> items = ItemsOf(options);
    std::set<std::string> nullTests;
    for (size_t at = 0; at < whole.size();) {
        size_t end = whole.find(", ", at);
        if (end == std::string::npos) end = whole.size();
        const std::string item = whole.substr(at, end - at);
        MSC_FUZZ_CHECK(items.count(item) == 1, "an item the record cannot make: " + item);
        if (item.size() > 8 && item.compare(item.size() - 8, 8, " IS NULL") == 0) {
            MSC_FUZZ_CHECK(nullTests.insert(item).second, "a property sorted twice: " + item);
        }
        at = end + 2;
    }
    return 0;
}
