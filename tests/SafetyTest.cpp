// What a host meets at its worst: criteria that could exhaust a worker thread's small stack, failing
// allocations, many threads at once. The shapes, criteria and outputs are in tests/cases/safety-*.tsv.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "AllocationHooks.h"
#include "TreeText.h"
#include "mysearchcriteria.hpp"

using namespace msc_test;

namespace {

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"}, {PROP_DC_DATE, "date"}, {PROP_DC_CREATOR, "creator"},
                               {PROP_UPNP_CLASS, "class"}, {PROP_UPNP_ARTIST, "artist"}, {PROP_UPNP_ALBUM, "album"},
                               {PROP_UPNP_GENRE, "genre"}, {PROP_REFID, "ref_id"}, {PROP_ID, "object_id"}, {0, nullptr}};
const TokenEntry kSupported[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, "class"}, {PROP_REFID, "ref_id"},
                                 {PROP_ID, "object_id"}, {PROP_HOST_FIRST + 1, "producer"}, {0, nullptr}};

// No criteria text may exhaust a host's stack: hostile texts of up to 2 MiB and the deepest nesting
// the parser accepts run through a host's whole sequence on a thread with a 256 KiB stack, as a media
// server's worker thread might have.

#if defined(__SANITIZE_ADDRESS__)  // Its red zones and the stack traces of its malloc take stack.
constexpr size_t kStackBytes = 1024 * 1024;
#else
constexpr size_t kStackBytes = 256 * 1024;
#endif

// The whole condition text, in a buffer sized by measuring first.
std::string Sql(const ParseTreeNode *tree) {
    std::vector<char> out(static_cast<size_t>(ConvertSQLConditionEx(tree, kColumns, nullptr, nullptr, 0)) + 1);
    ConvertSQLCondition(tree, kColumns, nullptr, out.data(), static_cast<int>(out.size()));
    return out.data();
}

// The host's sequence on the small stack, and the one call beside it: each output as its column
// names it. The dump of a long and/or list grows with the square of its length (some 600 MB for
// 10,000 terms), so such dumps go to /dev/null and only their result counts.
TEST(StackSafety, WholeSequenceOnHostileInput) {
    for (const Case &row : ReadCases("safety-hostile.tsv")) {
        SCOPED_TRACE(row.where() + ": " + row["name"]);
        const std::string text = Expand(row["text"]), dump = row["dump"];
        const int takenOut = atoi(row["taken out"].c_str());
        std::vector<TokenEntry> supported;  // All but 'takenOut', whose place -1 takes.
        for (int id = PROP_DC_TITLE; id <= PROP_UPNP_ORIGINAL_TRACK_NUMBER; ++id) supported.push_back({id == takenOut ? -1 : id, ""});
        supported.push_back({0, nullptr});
        const SearchOptions options = {{0, nullptr}, kColumns, supported.data(), "A0$128$129", nullptr, {SQL_DIALECT_SQLITE, 0}, nullptr, 0, {}, MSC_VERSION_NUMBER, 0, nullptr, nullptr, nullptr};
        std::map<std::string, std::string> got;
        got["messages"] = CaptureStderr([&] {
            EXPECT_TRUE(RunOnSmallStack(kStackBytes, [&] {
                const int length = static_cast<int>(text.size());
                ParseTreeNode *tree = nullptr;
                got["result"] = std::to_string(Parse_searchExp(&tree, text.c_str(), 0, length - 1));
                SearchInfo info;
                const int sqlLength = ConvertSearchCriteria(text.c_str(), length, &options, nullptr, 0, &info);
                got["why"] = SearchParseErrorMessage(info.error.code);
                got["tree"] = "null";
                if (tree == nullptr) return;
                std::vector<char> oneCall(static_cast<size_t>(sqlLength) + 1);
                ConvertSearchCriteria(text.c_str(), length, &options, oneCall.data(), sqlLength + 1, &info);
                const char *cls = GetUPnPClass(tree);
                got["class"] = cls != nullptr ? cls : "(none)";
                int count = 0, *ids = GetPropertyList(tree, &count);
                for (int i = 0; i < count; ++i) got["properties"] += (i > 0 ? " " : "") + std::to_string(ids[i]);
                free(ids);
                ParseTreeNode *copy = CloneParseTree(tree);
                // The test's own printer recurses deeper than the library: it gets a stack of its own.
                RunOnSmallStack(64 << 20, [&] {
                    got["tree"] = TreeToString(tree);
                    EXPECT_TRUE(TreeToString(copy) == got["tree"]) << "the copy differs";
                });
                got["sql"] = Sql(tree);
                got["check"] = SearchConditionMessage(CheckSQLCondition(tree, kColumns, nullptr));
                if (dump.rfind("result ", 0) == 0) {  // fputs promises only a non-negative result
                    FILE *devNull = fopen("/dev/null", "w");
                    const int result = TravelTreeToStream(tree, 0, devNull, nullptr);
                    fclose(devNull);
                    got["dump"] = dump == "result >=0" && result >= 0 ? dump : "result " + std::to_string(result);
                } else if (!dump.empty()) {
                    got["dump"] = CaptureStdout([&] { TravelTree(tree, 0); });
                }
                EXPECT_EQ(SetAlwayTrueForProperty(tree, takenOut), 0);
                got["rewritten"] = Sql(tree);
                got["container"] = std::to_string(CheckContainerIsSupportRefID("A0$128$129", tree));
                got["container sql"] = Sql(tree);
                EXPECT_TRUE(oneCall.data() == got["container sql"]) << "the one call differs";
                // The copy loses exactly what the tree lost.
                EXPECT_EQ(SetAlwayTrueForNonSupportedProperty(copy, supported.data()), 0);
                EXPECT_TRUE(Sql(copy) == got["rewritten"]) << "the non-supported rewrite differs";
                freeParseTree(copy);
                freeParseTree(tree);
            }));
        });
        for (const auto &[column, pattern] : row.fields) {
            if (column == "name" || column == "text" || column == "taken out") continue;
            const std::string want = Expand(pattern);
            // Texts of megabytes: compared whole, printed only in part.
            EXPECT_TRUE(got[column] == want) << column << ": " << got[column].substr(0, 300) << "\nwanted: " << want.substr(0, 300);
        }
    }
}

// Allocations, counted by the interposed allocator so that the plain build checks them too: each call
// of a host's sequence takes exactly the blocks the case file names, and each of those may fail.
const TokenEntry kHost[] = {{PROP_HOST_FIRST, "upnp:author"}, {PROP_HOST_FIRST + 1, "upnp:producer"}, {0, nullptr}};

// Each call of the sequence: its name and what it gives when an allocation fails.
const char *const kCalls[][2] = {
    {"parse", "1 null"}, {"sql", ""}, {"class", ""}, {"list", "0 null"}, {"copy", "null"},
    {"always true", "-1"}, {"non-supported", "-1"}, {"none supported", "-1"},
    {"container", "0"},  // The condition stays as it was, and a usable one is reported.
    {"other container", ""}, {"one call", "-1 out of memory"}, {"one call in scratch", ""},
    {"standard call", "-1 out of memory"}, {"standard call in scratch", ""}};

TEST(Allocation, EveryAllocationOfTheHostSequenceMayFail) {
    for (const Case &row : ReadCases("safety-allocation.tsv")) {
        SCOPED_TRACE(row.where());
        std::string text = row["criteria"], counts;
        // A shape fills 64 KiB: the ones that take the most tree per byte.
        while (!row["fill"].empty() && text.size() + row["criteria"].size() + row["fill"].size() <= 65536) text += row["criteria"];
        text += row["fill"];
        for (size_t call = 0; call < std::size(kCalls); ++call) {
            if (std::string(kCalls[call][0]).find(row["calls"]) == std::string::npos) continue;
            std::vector<char> scratch(call == 11 || call == 13 ? MSC_SEARCH_SCRATCH_SIZE(text.size()) : 0);
            SearchOptions options = {{0, nullptr}, kColumns, kSupported, "A0$128$129", "o.", {SQL_DIALECT_SQLITE, 0},
                                     scratch.data(), scratch.size(), {}, MSC_VERSION_NUMBER, 0, nullptr, nullptr, nullptr};
            if (call >= 12) options.parse = {SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN, kHost};
            if (call >= 12) options.sql = {SQL_DIALECT_MYSQL, SQL_LITERAL_PATTERNS};
            long allocations = 0;
            for (long failAt = 0; failAt <= allocations; ++failAt) {
                SCOPED_TRACE(std::string(kCalls[call][0]) + ", failing allocation " + std::to_string(failAt));
                char out[256];
                int result = 0, count = 0, *ids = nullptr;
                long made = 0;
                ParseTreeNode *tree = call == 0 ? nullptr : Parsed(text), *copy = nullptr;
                SearchInfo info;
                const std::string before = TreeToString(tree);
                const long blocksBefore = static_cast<long>(TreeBlocks(tree).size());
                CaptureStderr([&] {
                    OpenAllocationWindow(failAt);
                    switch (call) {
                        case 0: result = Parse_searchExp(&tree, text.c_str(), 0, static_cast<int>(text.size()) - 1); break;
                        case 1: ConvertSQLCondition(tree, kColumns, "t.", out, sizeof out);
                                ConvertSQLCondition(tree, kColumns, nullptr, out, 8); break;
                        case 2: GetUPnPClass(tree); break;
                        case 3: ids = GetPropertyList(tree, &count); break;
                        case 4: copy = CloneParseTree(tree); break;
                        case 5: result = SetAlwayTrueForProperty(tree, atoi(row["taken out"].c_str())); break;
                        case 6: result = SetAlwayTrueForNonSupportedProperty(tree, kSupported); break;
                        case 7: result = SetAlwayTrueForNonSupportedProperty(tree, nullptr); break;
                        case 8: result = CheckContainerIsSupportRefID("A0$128$129", tree); break;
                        case 9: result = CheckContainerIsSupportRefID("A0$1$2", tree); break;
                        default: result = ConvertSearchCriteria(text.c_str(), -1, &options, out, sizeof out, &info);
                    }
                    made = CloseAllocationWindow();
                });
                const long freed = FreesInWindow(), handedOut = ids != nullptr ? 1 : static_cast<long>(TreeBlocks(copy).size());
                std::string got = std::to_string(result) + (call == 0 ? " " + TreeToString(tree) : "");
                if (call == 3) got = std::to_string(count) + (ids == nullptr ? " null" : "");
                if (call == 4) got = TreeToString(copy);
                if (call >= 10) got += std::string(" ") + SearchParseErrorMessage(info.error.code);
                free(ids);
                freeParseTree(copy);
                const long blocksAfter = static_cast<long>(TreeBlocks(tree).size());
                // Whatever happened, the tree holds only whole value leaves and frees whole.
                EXPECT_FALSE(HasValueWithoutText(tree));
                EXPECT_TRUE(call != 8 || failAt == 0 || TreeToString(tree) == before) << "the failed container rule changed the tree";
                OpenAllocationWindow();
                freeParseTree(tree);
                EXPECT_EQ(CloseAllocationWindow(), 0);
                EXPECT_EQ(FreesInWindow(), blocksAfter);
                // No block is lost: each one the call took is freed, in the tree or the caller's.
                EXPECT_EQ(made - (failAt > 0 ? 1 : 0), freed + blocksAfter - blocksBefore + handedOut);
                if (failAt == 0) {
                    allocations = made;
                    // The one call's result too, the same in scratch and without.
                    if (made > 0 || call >= 10) counts += std::string(counts.empty() ? "" : ", ") + kCalls[call][0] + " " + std::to_string(made) + (call >= 10 ? ": " + got : "");
                    continue;
                }
                // A failing call stops there with its documented result.
                EXPECT_EQ(made, failAt);
                EXPECT_EQ(got, kCalls[call][1]);
                // A failed one call reports only why: the rest of its record is as for an empty text.
                if (call >= 10) {
                    EXPECT_EQ(std::to_string(info.propertyCount) + " " + std::to_string(info.alwaysTrueCount) + " " +
                                  std::to_string(info.classLength) + " " + std::to_string(info.refIdMadeFalse) + " [" +
                                  info.upnpClass + "] [" + out + "]",
                              "0 0 -1 0 [] []");
                }
            }
        }
        EXPECT_EQ(counts, row["allocations"]);
    }
}

// Worker threads of a media server each run their own searches and read one shared tree and one
// shared options record, prepared once, all at once, and get what one thread gets; the
// ThreadSanitizer build shows that the library shares no mutable state. A search gives its whole
// outputs; the wrapper's dump must hold only its own tree's text.
std::string RunSearch(const std::string &criteria, const ParseTreeNode *shared) {
    static const SearchOptions options =
        msc::prepared({{0, nullptr}, kColumns, kSupported, "A0$128$129", "t.", {SQL_DIALECT_SQLITE, 0}, nullptr, 0, {}, MSC_VERSION_NUMBER, 0, nullptr, nullptr, nullptr});
    char where[512];
    SearchInfo info;
    std::string out = std::to_string(ConvertSearchCriteria(criteria.c_str(), -1, &options, where, sizeof where, &info));
    out += std::string(" ") + where + "\n";
    ParseTreeNode *tree = nullptr;
    out += std::to_string(Parse_searchExp(&tree, criteria.c_str(), 0, static_cast<int>(criteria.size()) - 1));
    out += TreeToString(tree) + "\n" + ToSql(tree, kColumns, "t.") + "\n" + msc::parse(criteria).tree.dump();
    TravelTree(tree, 0);
    SetAlwayTrueForNonSupportedProperty(tree, kSupported);
    CheckContainerIsSupportRefID("A0$128$129", tree);
    out += ToSql(tree, kColumns) + "\n";
    freeParseTree(tree);
    TreePtr copy(CloneParseTree(shared));
    SetAlwayTrueForProperty(copy.get(), PROP_DC_TITLE);  // Changes only the copy.
    int count = 0, *ids = GetPropertyList(shared, &count);
    for (int i = 0; i < count; ++i) out += std::to_string(ids[i]) + " ";
    free(ids);
    TravelTree(shared, 1);
    return out + GetUPnPClass(shared) + ToSql(shared, kColumns, "t.") + ToSql(copy.get(), kColumns, "t.");
}

TEST(Concurrency, ThreadsGiveWhatOneThreadGives) {
    std::vector<std::string> criteria;
    for (const Case &row : ReadCases("safety-allocation.tsv")) {
        if (row["fill"].empty()) criteria.push_back(row["criteria"]);  // Not the 64 KiB shapes.
    }
    TreePtr shared(Parsed(criteria.back()));
    ASSERT_EQ(ToSql(shared.get(), kColumns, "t."), " t.class  LIKE  '%object.item.audioItem%'  AND  t.album  =  'Abbey Road' ");
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
                    for (size_t i = t; i < t + kRounds; ++i) mismatches += RunSearch(criteria[i % searches], shared.get()) != expected[i % searches];
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
        for (size_t i = t; i < t + kRounds; ++i) wantStdout += dumps[i % searches], wantStderr += messages[i % searches];
    }
    ASSERT_TRUE(wantStderr.find("can't find key!!") != std::string::npos && wantStderr.find("id = 1\n") != std::string::npos);
    for (std::string *text : {&stdoutText, &stderrText, &wantStdout, &wantStderr}) std::sort(text->begin(), text->end());
    EXPECT_EQ(stdoutText, wantStdout);
    EXPECT_EQ(stderrText, wantStderr);
}

}  // namespace
