// Allocation failure and the allocation contract, through the interposed allocator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "AllocationHooks.h"
#include "TreeText.h"

using namespace msc_test;

namespace {

const char *const kCriteria =
    R"((upnp:class derivedfrom "object.item.audioItem" and (dc:title contains "love" or @id = "A0$1$65536")) or dc:date >= "2001")";

// A failed parse releases everything it took, whatever the stage it failed at: counted through the
// interposed allocator, so the plain build checks it too.
TEST(Allocation, FailedParseReleasesEverything) {
    const std::string manyGroups = std::string(40, '(') + "dc:title" + std::string(40, ')') + " x";
    const char *const texts[] = {
        R"(dc:title = "abc" "def")",
        R"((dc:title = "abc") = "def")",
        R"((dc:title = "a") and dc:date = "b" or (dc:title)x)",
        R"(dc:title = "a" and (dc:date = "b" or dc:creator = "c" and *))",
        R"(dc:title = "a" or ((dc:date = "b") and dc:creator =))",
        R"(@id = "A0$1$65536" and @refID = "131072" and (dc:title = "a")))",
        "(dc:title = \"a\") and dc:date = abc\xC3",
        manyGroups.c_str(),
    };
    for (const char *text : texts) {
        ParseTreeNode *tree = nullptr;
        int result = -1;
        CaptureStderr([&] {
            OpenAllocationWindow();
            result = Parse_searchExp(&tree, text, 0, static_cast<int>(strlen(text)) - 1);
            CloseAllocationWindow();
        });
        EXPECT_EQ(result, 1) << text;
        EXPECT_EQ(tree, nullptr) << text;
        EXPECT_GT(AllocationsInWindow(), 0) << text;
        EXPECT_EQ(FreesInWindow(), AllocationsInWindow()) << text;
    }
}

struct AllocationCountCase {
    const char *operation;
    std::function<void(ParseTreeNode *)> run;
    long allocations;
};

// Which operations take memory: only copies, the property list and rewrites, each as little as
// it needs; the writer and the lookups take none.
TEST(Allocation, OperationsAllocateOnlyWhatTheyReturn) {
    const TokenEntry columns[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, "class"}, {0, nullptr}};
    const AllocationCountCase cases[] = {
        {"ConvertSQLCondition",
         [&](ParseTreeNode *tree) {
             char out[256];
             ConvertSQLCondition(tree, columns, "t.", out, sizeof out);
         },
         0},
        {"ConvertSQLCondition, cut",
         [&](ParseTreeNode *tree) {
             char out[8];
             ConvertSQLCondition(tree, columns, nullptr, out, sizeof out);
         },
         0},
        {"GetUPnPClass", [](ParseTreeNode *tree) { GetUPnPClass(tree); }, 0},
        {"CheckContainerIsSupportRefID, other container",
         [](ParseTreeNode *tree) { CheckContainerIsSupportRefID("A0$1$2", tree); }, 0},
        {"CloneParseTree", [](ParseTreeNode *tree) { freeParseTree(CloneParseTree(tree)); }, 17 + 4},
        {"GetPropertyList",
         [](ParseTreeNode *tree) {
             int count = 0;
             free(GetPropertyList(tree, &count));
         },
         1},
        // Two left rewrites of three allocations each: a new leaf with its text, and the text "1".
        {"SetAlwayTrueForProperty", [](ParseTreeNode *tree) { SetAlwayTrueForProperty(tree, PROP_DC_TITLE); }, 3},
        {"SetAlwayTrueForNonSupportedProperty",
         [](ParseTreeNode *tree) { SetAlwayTrueForNonSupportedProperty(tree, nullptr); }, 4 * 3},
        {"freeParseTree", [](ParseTreeNode *) {}, 0},
    };
    for (const AllocationCountCase &c : cases) {
        ParseTreeNode *tree = nullptr;
        CaptureStderr([&] { Parse_searchExp(&tree, kCriteria, 0, static_cast<int>(strlen(kCriteria)) - 1); });
        ASSERT_NE(tree, nullptr);
        OpenAllocationWindow();
        c.run(tree);
        long allocations = CloseAllocationWindow();
        EXPECT_EQ(allocations, c.allocations) << c.operation;
        OpenAllocationWindow();
        freeParseTree(tree);
        EXPECT_EQ(CloseAllocationWindow(), 0) << "freeParseTree allocates";
    }
}

const char *const kClientCriteria[] = {
    R"(upnp:class derivedfrom "object.item.audioItem" and @refID exists false)",
    R"((upnp:class = "object.container.album.musicAlbum"))",
    R"(upnp:class = "object.container.album.musicAlbum" and dc:date >= "2001-10-01" and dc:date <= "2001-10-31")",
    R"((upnp:class derivedfrom "object.item.audioItem" and (dc:title contains "blue" or upnp:artist contains "blue")))",
    R"(@id = "A0$128$129$65540")",
    R"(dc:title = "a" = "b" = "c")",
    R"(() or (dc:title) and upnp:genre)",
    "",
};

TEST(Allocation, ParseOfClientCriteriaAllocatesOncePerNodeAndText) {
    for (const char *criteria : kClientCriteria) {
        ParseTreeNode *tree = nullptr;
        long allocations = -1;
        CaptureStderr([&] {
            OpenAllocationWindow();
            Parse_searchExp(&tree, criteria, 0, static_cast<int>(strlen(criteria)) - 1);
            allocations = CloseAllocationWindow();
        });
        TreePtr owned(tree);
        // One block per node and per value text.
        EXPECT_EQ(allocations, static_cast<long>(TreeBlocks(tree).size())) << criteria << " -> " << TreeToString(tree);
    }
}

// The host's whole sequence on realistic criteria, with the Nth allocation failing for every N
// in turn: parse, class, property list, copy, both always-true rewrites, the container rewrite,
// conversion and dump of the tree and the copy, free. Each step that meets the failure must give
// its documented result, leave no value leaf without text, and let the host go on or free the
// tree; the sanitizer build shows that nothing leaks.
const TokenEntry kSweepColumns[] = {{PROP_DC_TITLE, "title"},   {PROP_DC_DATE, "date"},
                                    {PROP_UPNP_CLASS, "class"}, {PROP_UPNP_ARTIST, "artist"},
                                    {PROP_UPNP_GENRE, "genre"}, {PROP_REFID, "ref_id"},
                                    {PROP_ID, "object_id"},     {0, nullptr}};
const TokenEntry kSupported[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, "class"},
                                 {PROP_REFID, "ref_id"},   {PROP_ID, "object_id"},
                                 {0, nullptr}};

const char *const kSweepCriteria[] = {
    R"((upnp:class derivedfrom "object.item.audioItem" and (dc:title contains "love" or upnp:artist contains "love")) and @refID exists true and @id = "A0$1$65536" or dc:date >= "2001")",
    R"((upnp:class = "object.container.album.musicAlbum" and upnp:genre = "Rock") or upnp:genre = "Pop")",
    R"(upnp:genre and dc:title = "O'Brien" or (upnp:artist))",
};

enum Step { kParse, kPropertyList, kCopy, kAlwaysTrue, kNonSupported, kContainer, kDump, kNone };

// Runs library calls in allocation windows so that only their allocations count: the failAt-th
// allocation of the whole sequence fails, and failedStep tells which step met it.
class Sweep {
public:
    explicit Sweep(long failAt) : failAt_(failAt) {}

    template <typename Call>
    void Run(Step step, Call call) {
        long local = failAt_ > used_ ? failAt_ - used_ : 0;
        OpenAllocationWindow(local);
        call();
        long calls = CloseAllocationWindow();
        if (local > 0 && local <= calls) {
            failedStep = step;
            // A parse or copy that meets the failure stops there and gives back all it took,
            // counted here so that the plain build checks it too.
            if (step == kParse || step == kCopy) {
                EXPECT_EQ(calls, local) << "went on after the failed allocation";
                EXPECT_EQ(FreesInWindow(), local - 1) << "kept blocks after the failure";
            }
        }
        used_ += calls;
    }

    long used() const { return used_; }
    Step failedStep = kNone;

private:
    long failAt_;
    long used_ = 0;
};

// One line per step with its whole result; 'skipContainer' leaves the container rewrite out, which
// is what a failed container rewrite must amount to.
std::vector<std::string> RunHostSequence(const char *criteria, long failAt, bool skipContainer,
                                         Step *failedStep, long *allocations) {
    std::vector<std::string> log;
    Sweep sweep(failAt);
    ParseTreeNode *tree = nullptr;
    int result = -1;
    sweep.Run(kParse, [&] {
        result = Parse_searchExp(&tree, criteria, 0, static_cast<int>(strlen(criteria)) - 1);
    });
    log.push_back("parse " + std::to_string(result) + " " + TreeToString(tree));
    *failedStep = sweep.failedStep;
    *allocations = sweep.used();
    if (result != 0) return log;

    const char *cls = GetUPnPClass(tree);
    log.push_back(std::string("class ") + (cls != nullptr ? cls : "(none)"));
    int count = 0;
    int *ids = nullptr;
    sweep.Run(kPropertyList, [&] { ids = GetPropertyList(tree, &count); });
    std::string list = "properties " + std::to_string(count) + ":";
    for (int i = 0; ids != nullptr && i < count; ++i) list += " " + std::to_string(ids[i]);
    log.push_back(list + (ids == nullptr ? " null" : ""));
    free(ids);

    ParseTreeNode *copy = nullptr;
    sweep.Run(kCopy, [&] { copy = CloneParseTree(tree); });
    log.push_back("copy " + TreeToString(copy));

    int rewrite = 0;
    sweep.Run(kAlwaysTrue, [&] { rewrite = SetAlwayTrueForProperty(tree, PROP_UPNP_ARTIST); });
    log.push_back("always true " + std::to_string(rewrite));
    if (rewrite == 0) {
        sweep.Run(kNonSupported, [&] { rewrite = SetAlwayTrueForNonSupportedProperty(tree, kSupported); });
        log.push_back("non-supported " + std::to_string(rewrite));
    }
    if (rewrite == 0 && !skipContainer) {
        int container = -1;
        sweep.Run(kContainer, [&] { container = CheckContainerIsSupportRefID("A0$128$129", tree); });
        log.push_back("container " + std::to_string(container));
    }
    // A host drops a tree whose rewrite failed; it must still hold only complete value leaves,
    // convert and dump without fault, and free.
    log.push_back(!HasValueWithoutText(tree) ? "texts complete" : "value leaf without text");
    log.push_back("tree " + TreeToString(tree));
    log.push_back("sql" + ToSql(tree, kSweepColumns, "t."));
    log.push_back("copy sql" + ToSql(copy, kSweepColumns, "t."));
    log.push_back("dump tree\n" + CaptureStdout([&] { sweep.Run(kDump, [&] { TravelTree(tree, 0); }); }));
    log.push_back("dump copy\n" + CaptureStdout([&] { sweep.Run(kDump, [&] { TravelTree(copy, 1); }); }));
    freeParseTree(copy);
    freeParseTree(tree);
    *failedStep = sweep.failedStep;
    *allocations = sweep.used();
    return log;
}

std::vector<std::string> Replaced(std::vector<std::string> log, size_t line, const std::string &text) {
    log.at(line) = text;
    return log;
}

TEST(Allocation, EveryAllocationOfTheHostSequenceMayFail) {
    for (const char *criteria : kSweepCriteria) {
        SCOPED_TRACE(criteria);
        Step none = kNone;
        long total = 0;
        std::vector<std::string> normal;
        CaptureStderr([&] { normal = RunHostSequence(criteria, 0, false, &none, &total); });
        std::vector<std::string> withoutContainer;
        long totalWithoutContainer = 0;
        CaptureStderr([&] {
            withoutContainer = RunHostSequence(criteria, 0, true, &none, &totalWithoutContainer);
        });
        ASSERT_GE(normal.size(), 12u);
        ASSERT_EQ(normal[normal.size() - 6], "texts complete");

        int failures[kNone] = {};
        for (long n = 1; n <= total; ++n) {
            SCOPED_TRACE("allocation " + std::to_string(n));
            Step failed = kNone;
            long used = 0;
            std::vector<std::string> got;
            CaptureStderr([&] { got = RunHostSequence(criteria, n, false, &failed, &used); });
            ASSERT_NE(failed, kNone);
            ++failures[failed];
            switch (failed) {
                case kParse:
                    EXPECT_EQ(got, std::vector<std::string>{"parse 1 null"});
                    break;
                case kPropertyList:
                    EXPECT_EQ(got, Replaced(normal, 2, "properties 0: null"));
                    break;
                case kCopy: {
                    // The copy is absent as a whole; everything else is as usual.
                    std::vector<std::string> want = Replaced(normal, 3, "copy null");
                    want[want.size() - 3] = "copy sql";
                    want.back() = "dump copy\n--->NULL\n";
                    EXPECT_EQ(got, want);
                    break;
                }
                case kAlwaysTrue:
                case kNonSupported: {
                    size_t line = failed == kAlwaysTrue ? 4 : 5;
                    EXPECT_EQ(got.at(line), (failed == kAlwaysTrue ? "always true -1" : "non-supported -1"));
                    EXPECT_EQ(got.at(line + 1), "texts complete");
                    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + static_cast<long>(line)),
                              std::vector<std::string>(normal.begin(), normal.begin() + static_cast<long>(line)));
                    break;
                }
                case kContainer:
                    // The condition stays as it was, and the call still reports a usable one.
                    EXPECT_EQ(got[6], "container 0");
                    EXPECT_EQ(Replaced(got, 6, "-"),
                              [&] {
                                  std::vector<std::string> want = withoutContainer;
                                  want.insert(want.begin() + 6, "-");
                                  return want;
                              }());
                    break;
                default:
                    // Only the C library's output buffering allocates during a dump.
                    EXPECT_EQ(got, normal);
                    break;
            }
        }
        // The sweep met the parse and every rewrite that allocates.
        EXPECT_GT(failures[kParse], 0);
        EXPECT_GT(failures[kPropertyList], 0);
        EXPECT_GT(failures[kCopy], 0);
        EXPECT_GT(failures[kAlwaysTrue] + failures[kNonSupported], 0);
        EXPECT_EQ(failures[kContainer], total - totalWithoutContainer);
    }
}

// The one call builds its tree on the stack for client criteria, in the caller's scratch for a
// 64 KiB text of the shapes that take the most tree per byte, and on the heap without scratch,
// giving back all it took; a heap that fails gives -1 and SEARCH_PARSE_OUT_OF_MEMORY.
TEST(Allocation, OneCallTakesNoHeapMemory) {
    const TokenEntry host[] = {{PROP_HOST_FIRST, "upnp:author"}, {0, nullptr}};
    SearchOptions classic = {{0, nullptr}, kSweepColumns, kSupported, "A0$128$129", "o.", {SQL_DIALECT_SQLITE, 0}, nullptr, 0};
    SearchOptions standard = classic;
    standard.parse = {SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN, host};
    standard.sql = {SQL_DIALECT_MYSQL, SQL_LITERAL_PATTERNS};
    char out[1024];
    SearchInfo info;
    for (const auto &row : ReadCriteriaTable(MSC_TEST_CORPUS_DIR "/client-criteria.tsv")) {
        for (const SearchOptions *options : {&classic, &standard}) {
            OpenAllocationWindow();
            ConvertSearchCriteria(row.second.c_str(), -1, options, out, sizeof out, &info);
            EXPECT_EQ(CloseAllocationWindow(), 0) << row.second;
        }
    }
    auto repeat = [](const std::string &unit, const std::string &end) {
        std::string text;
        while (text.size() + unit.size() + end.size() <= 65536) text += unit;
        return text + end;
    };
    const std::pair<std::string, const SearchOptions *> shapes[] = {
        {repeat("()or", "()"), &classic},
        {repeat("@id = 1 or ", "@id = 1"), &classic},
        {repeat("x=\"\"or ", "x=1"), &standard},
        {repeat("x=1 or res=1 and ", "x=1"), &standard},
    };
    std::vector<char> scratch(MSC_SEARCH_SCRATCH_SIZE(65536));
    // The most memory per byte: a parenthesis each, all matched before the nesting bound stops it.
    SearchOptions opening = classic;
    opening.scratch = scratch.data();
    opening.scratchSize = scratch.size();
    const std::string opens(65536, '(');
    OpenAllocationWindow();
    EXPECT_EQ(ConvertSearchCriteria(opens.c_str(), -1, &opening, nullptr, 0, &info), -1);
    EXPECT_EQ(CloseAllocationWindow(), 0);
    EXPECT_EQ(info.error.code, SEARCH_PARSE_UNBALANCED_PARENTHESES);
    for (const auto &[text, options] : shapes) {
        SearchOptions withScratch = *options;
        withScratch.scratch = scratch.data();
        withScratch.scratchSize = scratch.size();
        OpenAllocationWindow();
        int result = ConvertSearchCriteria(text.c_str(), -1, &withScratch, nullptr, 0, &info);
        EXPECT_EQ(CloseAllocationWindow(), 0) << text.substr(0, 20);
        EXPECT_GT(result, 0) << text.substr(0, 20);
        OpenAllocationWindow();
        EXPECT_EQ(ConvertSearchCriteria(text.c_str(), -1, options, nullptr, 0, nullptr), result);
        long allocations = CloseAllocationWindow();
        EXPECT_GT(allocations, 0);
        EXPECT_EQ(FreesInWindow(), allocations);
        for (long failAt = 1; failAt <= allocations; ++failAt) {
            OpenAllocationWindow(failAt);
            EXPECT_EQ(ConvertSearchCriteria(text.c_str(), -1, options, nullptr, 0, &info), -1);
            CloseAllocationWindow();
            EXPECT_EQ(info.error.code, SEARCH_PARSE_OUT_OF_MEMORY);
            EXPECT_EQ(FreesInWindow(), failAt - 1);
        }
    }
}

}  // namespace
