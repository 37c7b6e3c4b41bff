// Concurrent use as a media server makes it: many worker threads each parsing, converting and
// dumping their own searches, and several threads reading one shared tree at once. Every result
// must equal the one the same call gives on a single thread; the ThreadSanitizer build runs
// these tests to show that the library shares no mutable state.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TreeText.h"
#include "mysearchcriteria.hpp"

using namespace msc_test;

namespace {

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"},  {PROP_DC_DATE, "date"},
                               {PROP_DC_CREATOR, "creator"}, {PROP_UPNP_CLASS, "class"},
                               {PROP_UPNP_ARTIST, "artist"}, {PROP_UPNP_ALBUM, "album"},
                               {PROP_UPNP_GENRE, "genre"},  {PROP_REFID, "ref_id"},
                               {PROP_ID, "object_id"},     {0, nullptr}};
const TokenEntry kSupported[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, "class"},
                                 {PROP_REFID, "ref_id"}, {0, nullptr}};

const char *const kCriteria[] = {
    R"(upnp:class derivedfrom "object.item.audioItem" and @refID exists false)",
    R"((upnp:class derivedfrom "object.item.audioItem" and (dc:title contains "love" or upnp:artist contains "love" or upnp:album contains "love")))",
    R"(upnp:class = "object.container.album.musicAlbum" and dc:date >= "2001-10-01" and dc:date <= "2001-10-31")",
    R"((upnp:class = "object.container.album.musicAlbum" and upnp:genre = "Rock") or upnp:genre = "Pop")",
    R"(@refID exists true)",
    R"(@id = "A0$128$129$65540" or dc:title = "O'Brien")",
    R"(dc:title = "a" = "b" contains "c" and (dc:creator exists TRUE))",
    R"(dc:title = "unterminated)",
    R"(* and dc:title = "x")",
};

// What one search gives: the whole output of each step but the dump, which goes to stdout.
struct SearchResult {
    std::string tree;
    std::string sql;
    std::string rewrittenSql;
    bool operator==(const SearchResult &o) const {
        return tree == o.tree && sql == o.sql && rewrittenSql == o.rewrittenSql;
    }
};

// Everything a worker does for one search.
SearchResult RunSearch(const char *criteria) {
    SearchResult r;
    ParseTreeNode *tree = nullptr;
    int result = Parse_searchExp(&tree, criteria, 0, static_cast<int>(strlen(criteria)) - 1);
    r.tree = result == 0 ? TreeToString(tree) : "FAIL";
    r.sql = ToSql(tree, kColumns, "t.");
    TravelTree(tree, 0);
    SetAlwayTrueForNonSupportedProperty(tree, kSupported);
    CheckContainerIsSupportRefID("A0$128$129", tree);
    r.rewrittenSql = ToSql(tree, kColumns);
    freeParseTree(tree);
    return r;
}

std::string Sorted(std::string text) {
    std::sort(text.begin(), text.end());
    return text;
}

TEST(Concurrency, ThreadsWorkOnTheirOwnTrees) {
    constexpr size_t kSearches = sizeof kCriteria / sizeof kCriteria[0];
    std::vector<SearchResult> expected(kSearches);
    std::vector<std::string> dumps(kSearches);     // Each search's standard output.
    std::vector<std::string> messages(kSearches);  // Each search's standard error.
    for (size_t i = 0; i < kSearches; ++i) {
        messages[i] = CaptureStderr(
            [&] { dumps[i] = CaptureStdout([&] { expected[i] = RunSearch(kCriteria[i]); }); });
    }
    ASSERT_EQ(expected[0].sql, " t.class  LIKE  '%object.item.audioItem%'  AND  t.ref_id  IS  NOT NULL ");

    constexpr int kThreads = 8;
    constexpr int kRounds = 40;
    std::atomic<int> mismatches{0};
    std::string stdoutText;
    std::string stderrText = CaptureStderr([&] {
        stdoutText = CaptureStdout([&] {
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&, t] {
                    for (int round = 0; round < kRounds; ++round) {
                        size_t i = static_cast<size_t>(t + round) % kSearches;
                        if (!(RunSearch(kCriteria[i]) == expected[i])) ++mismatches;
                    }
                });
            }
            for (std::thread &thread : threads) thread.join();
        });
    });
    EXPECT_EQ(mismatches.load(), 0);
    // Lines of different threads may interleave, but no byte may be lost or changed: the output
    // holds exactly the bytes of kThreads * kRounds single-threaded searches.
    std::string wantStdout;
    std::string wantStderr;
    for (int t = 0; t < kThreads; ++t) {
        for (int round = 0; round < kRounds; ++round) {
            size_t i = static_cast<size_t>(t + round) % kSearches;
            wantStdout += dumps[i];
            wantStderr += messages[i];
        }
    }
    ASSERT_NE(wantStderr.find("can't find key!!"), std::string::npos);
    ASSERT_NE(wantStderr.find("id = 1\n"), std::string::npos);
    EXPECT_EQ(Sorted(stdoutText), Sorted(wantStdout));
    EXPECT_EQ(Sorted(stderrText), Sorted(wantStderr));
}

// Readers of one shared tree: conversions into separate buffers, copies, property lists, the
// class value and dumps, all at once, must each see exactly the single-threaded results.
TEST(Concurrency, ThreadsReadOneSharedTree) {
    TreePtr shared = Parse(kCriteria[1]);
    ASSERT_NE(shared, nullptr);
    const ParseTreeNode *tree = shared.get();
    const std::string sql = ToSql(tree, kColumns, "t.");
    ASSERT_EQ(sql,
              " (  t.class  LIKE  '%object.item.audioItem%'  AND  (  t.title  LIKE  '%love%'  OR  "
              "t.artist  LIKE  '%love%'  OR  t.album  LIKE  '%love%'  )  ) ");
    const std::string dump = CaptureStdout([&] { TravelTree(tree, 0); });
    const char *const cls = GetUPnPClass(tree);
    ASSERT_STREQ(cls, "object.item.audioItem");
    const std::vector<int> properties = {PROP_UPNP_CLASS, PROP_DC_TITLE, PROP_UPNP_ARTIST, PROP_UPNP_ALBUM};

    constexpr int kThreads = 6;
    constexpr int kRounds = 200;
    std::atomic<int> mismatches{0};
    std::string stdoutText = CaptureStdout([&] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int round = 0; round < kRounds; ++round) {
                    bool same = true;
                    switch ((t + round) % 4) {
                        case 0:
                            same = ToSql(tree, kColumns, "t.") == sql;
                            break;
                        case 1: {
                            TreePtr copy(CloneParseTree(tree));
                            SetAlwayTrueForProperty(copy.get(), PROP_DC_TITLE);  // Changes only the copy.
                            same = ToSql(copy.get(), kColumns, "t.") != sql &&
                                   ToSql(tree, kColumns, "t.") == sql;
                            break;
                        }
                        case 2: {
                            int count = 0;
                            int *ids = GetPropertyList(tree, &count);
                            same = ids != nullptr && std::vector<int>(ids, ids + count) == properties;
                            free(ids);
                            same = same && GetUPnPClass(tree) == cls;
                            break;
                        }
                        default:
                            TravelTree(tree, 0);
                            break;
                    }
                    if (!same) ++mismatches;
                }
            });
        }
        for (std::thread &thread : threads) thread.join();
    });
    EXPECT_EQ(mismatches.load(), 0);
    int dumps = 0;
    for (int t = 0; t < kThreads; ++t) {
        for (int round = 0; round < kRounds; ++round) dumps += (t + round) % 4 == 3;
    }
    EXPECT_EQ(Sorted(stdoutText), Sorted(Repeat(dump, static_cast<size_t>(dumps))));
}

// The C++ wrapper's dumps on several threads at once each get their own tree's text and nothing of the others.
TEST(Concurrency, WrapperDumpsOnSeveralThreads) {
    const char *const criteria[] = {R"(dc:title = "a")", R"(upnp:class derivedfrom "b" or dc:date)",
                                    "(dc:creator exists true)", R"(@refID exists false and res)"};
    std::vector<std::string> expected;
    for (const char *c : criteria) {
        msc::Tree tree = msc::parse(c).tree;
        expected.push_back(CaptureStdout([&] { TravelTree(tree.get(), 0); }));
    }
    std::vector<int> mismatches(std::size(criteria), 0);
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    for (size_t t = 0; t < std::size(criteria); ++t) {
        threads.emplace_back([&, t] {
            msc::Tree tree = msc::parse(criteria[t]).tree;
            ++ready;
            while (ready.load() < static_cast<int>(std::size(criteria))) std::this_thread::yield();
            for (int i = 0; i < 20000; ++i) mismatches[t] += tree.dump() != expected[t];
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(std::size(criteria), 0));
}

}  // namespace
