// Allocation counts and failures, through the interposed allocator, so that the plain build checks
// them too: every call of a host's sequence on the criteria of safety-allocation.tsv takes exactly
// the blocks the file names, and each of those may fail in turn.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "AllocationHooks.h"
#include "TreeText.h"

using namespace msc_test;

namespace {

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"},   {PROP_DC_DATE, "date"},
                               {PROP_UPNP_CLASS, "class"}, {PROP_UPNP_ARTIST, "artist"},
                               {PROP_UPNP_GENRE, "genre"}, {PROP_REFID, "ref_id"},
                               {PROP_ID, "object_id"},     {0, nullptr}};
const TokenEntry kSupported[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, "class"},
                                 {PROP_REFID, "ref_id"},   {PROP_ID, "object_id"},
                                 {0, nullptr}};

// Each call of the sequence: its name and what it gives when an allocation fails.
const char *const kCalls[][2] = {
    {"parse", "1 null"}, {"sql", ""}, {"class", ""}, {"list", "0: null"}, {"copy", "null"},
    {"always true", "-1"}, {"non-supported", "-1"}, {"none supported", "-1"},
    {"container", "0"},  // The condition stays as it was, and a usable one is reported.
    {"other container", ""}, {"one call", "-1 out of memory"}, {"one call in scratch", ""},
    {"standard call", "-1 out of memory"}, {"standard call in scratch", ""}};

// Runs one call on 'tree' in an allocation window whose failAt-th allocation fails; gives its
// whole result, and counts what it took, freed and handed to the caller.
std::string RunCall(size_t call, ParseTreeNode *&tree, const std::string &text, int takenOut, long failAt,
                    long *made, long *freed, long *handedOut) {
    const TokenEntry host[] = {{PROP_HOST_FIRST, "upnp:author"}, {0, nullptr}};
    SearchOptions options = {{0, nullptr}, kColumns, kSupported, "A0$128$129", "o.", {SQL_DIALECT_SQLITE, 0}, nullptr, 0};
    if (call >= 12) options.parse = {SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN, host};
    if (call >= 12) options.sql = {SQL_DIALECT_MYSQL, SQL_LITERAL_PATTERNS};
    std::vector<char> scratch(call == 11 || call == 13 ? MSC_SEARCH_SCRATCH_SIZE(text.size()) : 0);
    options.scratch = scratch.data();
    options.scratchSize = scratch.size();
    char out[256] = "", cut[8] = "";
    int result = 0, count = 0, *ids = nullptr;
    const char *cls = nullptr;
    ParseTreeNode *copy = nullptr;
    SearchInfo info;
    OpenAllocationWindow(failAt);
    switch (call) {
        case 0: result = Parse_searchExp(&tree, text.c_str(), 0, static_cast<int>(text.size()) - 1); break;
        case 1: ConvertSQLCondition(tree, kColumns, "t.", out, sizeof out);
                ConvertSQLCondition(tree, kColumns, nullptr, cut, sizeof cut); break;
        case 2: cls = GetUPnPClass(tree); break;
        case 3: ids = GetPropertyList(tree, &count); break;
        case 4: copy = CloneParseTree(tree); break;
        case 5: result = SetAlwayTrueForProperty(tree, takenOut); break;
        case 6: result = SetAlwayTrueForNonSupportedProperty(tree, kSupported); break;
        case 7: result = SetAlwayTrueForNonSupportedProperty(tree, nullptr); break;
        case 8: result = CheckContainerIsSupportRefID("A0$128$129", tree); break;
        case 9: result = CheckContainerIsSupportRefID("A0$1$2", tree); break;
        default: result = ConvertSearchCriteria(text.c_str(), -1, &options, out, sizeof out, &info); break;
    }
    *made = CloseAllocationWindow();
    *freed = FreesInWindow();
    *handedOut = ids != nullptr ? 1 : static_cast<long>(TreeBlocks(copy).size());
    std::string got = std::to_string(result) + (call >= 10 ? std::string(" ") + SearchParseErrorMessage(info.error.code) : "");
    if (call == 0) got += " " + TreeToString(tree);
    if (call == 1) got = std::string(out) + "|" + cut;
    if (call == 2) got = cls != nullptr ? cls : "(none)";
    if (call == 3) got = std::to_string(count) + ":" + (ids == nullptr ? " null" : "");
    for (int i = 0; ids != nullptr && i < count; ++i) got += " " + std::to_string(ids[i]);
    if (call == 4) got = TreeToString(copy);
    free(ids);
    freeParseTree(copy);
    return got;
}

TEST(Allocation, EveryAllocationOfTheHostSequenceMayFail) {
    for (const Case &row : ReadCases("safety-allocation.tsv")) {
        SCOPED_TRACE(row.where());
        std::string text = row["criteria"], counts;
        // A shape fills 64 KiB: the ones that take the most tree per byte.
        while (!row["fill"].empty() && text.size() + row["criteria"].size() + row["fill"].size() <= 65536) text += row["criteria"];
        text += row["fill"];
        for (size_t call = 0; call < std::size(kCalls); ++call) {
            if (std::string(kCalls[call][0]).find(row["calls"]) == std::string::npos) continue;
            long allocations = 0;
            for (long failAt = 0; failAt <= allocations; ++failAt) {
                SCOPED_TRACE(std::string(kCalls[call][0]) + ", failing allocation " + std::to_string(failAt));
                std::string result, before, after;
                long made = 0, freed = 0, handedOut = 0, blocksBefore = 0, blocksAfter = 0;
                CaptureStderr([&] {
                    ParseTreeNode *tree = call == 0 ? nullptr : Parsed(text);
                    before = TreeToString(tree);
                    blocksBefore = static_cast<long>(TreeBlocks(tree).size());
                    result = RunCall(call, tree, text, atoi(row["taken out"].c_str()), failAt, &made, &freed, &handedOut);
                    after = TreeToString(tree);
                    blocksAfter = static_cast<long>(TreeBlocks(tree).size());
                    // Whatever happened, the tree holds only whole value leaves and frees whole.
                    EXPECT_FALSE(HasValueWithoutText(tree));
                    OpenAllocationWindow();
                    freeParseTree(tree);
                    EXPECT_EQ(CloseAllocationWindow(), 0);
                    EXPECT_EQ(FreesInWindow(), blocksAfter);
                });
                // No block is lost: each one the call took is freed, in the tree or the caller's.
                EXPECT_EQ(made - (failAt > 0 ? 1 : 0), freed + blocksAfter - blocksBefore + handedOut);
                if (failAt == 0) {
                    allocations = made;
                    // The one call's result too: in scratch and without, it is the same.
                    if (made > 0 || call >= 10) counts += std::string(counts.empty() ? "" : ", ") + kCalls[call][0] + " " + std::to_string(made) + (call >= 10 ? ": " + result : "");
                    continue;
                }
                // A failing call stops there with its documented result.
                EXPECT_EQ(made, failAt);
                EXPECT_EQ(result, kCalls[call][1]);
                if (call == 8) {
                    EXPECT_EQ(after, before);
                }
            }
        }
        EXPECT_EQ(counts, row["allocations"]);
    }
}

}  // namespace
