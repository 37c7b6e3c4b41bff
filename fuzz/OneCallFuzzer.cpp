// Differential check of ConvertSearchCriteria: for any text and any options, the result, the
// SQL bytes and every field of the record equal what the classic calls give in a host's order.
//
// Input: 4 configuration bytes, then the text.
//   byte 0: grammar (bits 0-1: classic, standard, standard keeping unknown properties, an
//           invalid option), host vocabulary (bit 2), length -1 instead of the size (bit 3),
//           a length that leaves the last byte out (bit 4), a scratch area (bit 5), the record
//           prepared (bit 6) while it named the gapped columns and no supported property (bit 7)
//   byte 1: supported table (bits 0-1: NULL, the columns less res, none), container (bits 2-3:
//           NULL, a reference-free one, another), prefix (bits 4-5)
//   byte 2: dialect (bits 0-1, 3 invalid), literal patterns (bit 2), an invalid flag (bit 3),
//           column table (bits 4-5: the full one, NULL, one with gaps, empty and null names),
//           the grammar's repairs (bit 6: SEARCH_PARSE_LENIENT, invalid with the classic grammar)
//   byte 3: output buffer size (0 to 255, 255 meaning 64 KiB)
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ClassicSearch.h"
#include "FuzzChecks.h"

using namespace msc_fuzz;

namespace {

const TokenEntry kSupported[] = {{PROP_DC_TITLE, "t"}, {PROP_DC_DATE, "d"}, {PROP_UPNP_CLASS, "c"},
                                 {PROP_UPNP_ARTIST, "a"}, {PROP_REFID, "r"}, {PROP_ID, "i"},
                                 {PROP_HOST_FIRST, "h"}, {0, nullptr}};
const TokenEntry kNone[] = {{0, nullptr}};
const TokenEntry kGappedColumns[] = {{PROP_DC_TITLE, "title"},  {PROP_UPNP_CLASS, ""},   {PROP_UPNP_ARTIST, nullptr},
                                     {PROP_DC_TITLE, ""},       {PROP_REFID, "ref_id"},  {PROP_UNKNOWN, "unknown"},
                                     {PROP_UPNP_ALBUM, "album_title_as_the_label_prints"},
                                     {PROP_HOST_FIRST, "host_a"}, {0, nullptr}};
const char *const kContainers[] = {nullptr, "A0$148$149", "A0$1$2", "A0$160$161"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4 || size > 4 + 65536) return 0;
    const uint8_t grammar = data[0], tables = data[1], sql = data[2], out = data[3];
    const std::string text(reinterpret_cast<const char *>(data) + 4, size - 4);

    static const unsigned kGrammars[] = {0, SEARCH_PARSE_STANDARD, SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN, 0x80};
    const TokenEntry *const supported[] = {nullptr, kSupported, kNone, kColumns};
    // A record of this version, as InitSearchOptions makes it: only such a record has the repairs
    // fields that the classic calls' outcome is compared with.
    SearchOptions options;
    InitSearchOptions(&options);
    options.parse = {kGrammars[grammar & 3] | ((sql & 0x40) ? SEARCH_PARSE_LENIENT : 0u), (grammar & 4) ? kHost : nullptr};
    const TokenEntry *const columns[] = {kColumns, nullptr, kGappedColumns, kColumns};
    options.columnTable = columns[(sql >> 4) & 3];
    options.supportedTable = supported[tables & 3];
    options.containerId = kContainers[(tables >> 2) & 3];
    options.tablePrefix = kPrefixes[(tables >> 4) & 3];
    options.sql = {sql & 3, ((sql & 4) ? SQL_LITERAL_PATTERNS : 0u) | ((sql & 8) ? 0x8u : 0u)};
    std::vector<char> scratch((grammar & 0x20) ? MSC_SEARCH_SCRATCH_SIZE(text.size()) : 0);
    options.scratch = scratch.empty() ? nullptr : scratch.data();
    options.scratchSize = scratch.size();
    const int outSize = out == 255 ? 65536 : out;
    if (grammar & 0x40) {
        const bool other = (grammar & 0x80) != 0;
        msc_test::PrepareNaming(&options, other ? kGappedColumns : options.columnTable,
                                other ? kNone : options.supportedTable);
    }

    int length = static_cast<int>(text.size());
    if (grammar & 8) length = -1;
    else if ((grammar & 0x10) && length > 0) --length;

    msc_test::SearchOutcome classic = msc_test::ClassicSearch(text.c_str(), length, options, outSize);
    msc_test::SearchOutcome one = msc_test::OneCallSearch(text.c_str(), length, options, outSize);
    std::string difference = msc_test::Difference(classic, one);
    MSC_FUZZ_CHECK(difference.empty(), difference + "\nclassic: " + classic.sql + "\none call: " + one.sql);
    return 0;
}
