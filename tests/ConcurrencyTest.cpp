// Concurrent use as a media server makes it: worker threads each run their own searches and read one
// shared tree, all at once. Every result must equal what the same calls give on one thread; the
// ThreadSanitizer build runs these tests to show that the library shares no mutable state.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "TreeText.h"
#include "mysearchcriteria.hpp"

using namespace msc_test;

namespace {

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"},     {PROP_DC_DATE, "date"},
                               {PROP_DC_CREATOR, "creator"}, {PROP_UPNP_CLASS, "class"},
                               {PROP_UPNP_ARTIST, "artist"}, {PROP_UPNP_ALBUM, "album"},
                               {PROP_UPNP_GENRE, "genre"},   {PROP_REFID, "ref_id"},
                               {PROP_ID, "object_id"},       {0, nullptr}};
const TokenEntry kSupported[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, "class"}, {PROP_REFID, "ref_id"}, {0, nullptr}};

// One search on its own tree, and a read of the shared one: their whole outputs but the dumps on
// stdout, and the wrapper's dump, which must hold only its own tree's text.
std::string RunSearch(const std::string &criteria, const ParseTreeNode *shared) {
    ParseTreeNode *tree = nullptr;
    std::string out = std::to_string(Parse_searchExp(&tree, criteria.c_str(), 0, static_cast<int>(criteria.size()) - 1));
    out += TreeToString(tree) + "\n" + ToSql(tree, kColumns, "t.") + "\n" + msc::parse(criteria).tree.dump();
    TravelTree(tree, 0);
    SetAlwayTrueForNonSupportedProperty(tree, kSupported);
    CheckContainerIsSupportRefID("A0$128$129", tree);
    out += ToSql(tree, kColumns) + "\n";
    freeParseTree(tree);
    TreePtr copy(CloneParseTree(shared));
    SetAlwayTrueForProperty(copy.get(), PROP_DC_TITLE);  // Changes only the copy.
    int count = 0;
    int *ids = GetPropertyList(shared, &count);
    for (int i = 0; i < count; ++i) out += std::to_string(ids[i]) + " ";
    free(ids);
    TravelTree(shared, 1);
    return out + GetUPnPClass(shared) + ToSql(shared, kColumns, "t.") + ToSql(copy.get(), kColumns, "t.");
}

std::string Sorted(std::string text) {
    std::sort(text.begin(), text.end());
    return text;
}

TEST(Concurrency, ThreadsGiveWhatOneThreadGives) {
    std::vector<std::string> criteria;
    for (const Case &row : ReadCases("safety-allocation.tsv")) {
        if (row["fill"].empty()) criteria.push_back(row["criteria"]);
    }
    TreePtr shared(Parsed(criteria.back()));
    ASSERT_STREQ(GetUPnPClass(shared.get()), "object.item.audioItem");
    const size_t searches = criteria.size();
    std::vector<std::string> expected(searches), dumps(searches), messages(searches);
    for (size_t i = 0; i < searches; ++i) {
        messages[i] = CaptureStderr([&] { dumps[i] = CaptureStdout([&] { expected[i] = RunSearch(criteria[i], shared.get()); }); });
    }
    constexpr size_t kThreads = 8, kRounds = 60;
    std::atomic<int> mismatches{0};
    std::string stdoutText, stderrText = CaptureStderr([&] {
        stdoutText = CaptureStdout([&] {
            std::vector<std::thread> threads;
            for (size_t t = 0; t < kThreads; ++t) {
                threads.emplace_back([&, t] {
                    for (size_t round = 0; round < kRounds; ++round) {
                        const size_t i = (t + round) % searches;
                        if (RunSearch(criteria[i], shared.get()) != expected[i]) ++mismatches;
                    }
                });
            }
            for (std::thread &thread : threads) thread.join();
        });
    });
    EXPECT_EQ(mismatches.load(), 0);
    // Lines of different threads may interleave, but no byte may be lost or changed: the output
    // holds exactly the bytes of the same searches on one thread.
    std::string wantStdout, wantStderr;
    for (size_t t = 0; t < kThreads; ++t) {
        for (size_t round = 0; round < kRounds; ++round) {
            wantStdout += dumps[(t + round) % searches];
            wantStderr += messages[(t + round) % searches];
        }
    }
    ASSERT_NE(wantStderr.find("can't find key!!"), std::string::npos);
    ASSERT_NE(wantStderr.find("id = 1\n"), std::string::npos);
    EXPECT_EQ(Sorted(stdoutText), Sorted(wantStdout));
    EXPECT_EQ(Sorted(stderrText), Sorted(wantStderr));
}

}  // namespace
