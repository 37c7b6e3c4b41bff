// The parsers and the parse tree through the C ABI, driven by the parse-*.tsv case files: whole
// trees, results, error records and messages; copying and freeing trees of every shape; and the
// token scanner against a byte-at-a-time statement of its rule.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "AllocationHooks.h"
#include "TreeText.h"

using namespace msc_test;

namespace {

// The node record is ABI: hosts built against an older header read the fields at these offsets.
static_assert(offsetof(ParseTreeNode, kind) == 0 && sizeof(ParseTreeNode) == 4 * sizeof(void *) &&
              offsetof(ParseTreeNode, left) == sizeof(void *) && offsetof(ParseTreeNode, text) == sizeof(void *) &&
              offsetof(ParseTreeNode, propertyId) == sizeof(void *) && offsetof(ParseTreeNode, right) == 2 * sizeof(void *) &&
              offsetof(ParseTreeNode, opId) == 3 * sizeof(void *) && offsetof(TokenEntry, name) == sizeof(void *),
              "node record and table entry layout");

const char *const kParseFiles[] = {"parse-classic.tsv", "parse-standard.tsv", "parse-client.tsv", "parse-lenient.tsv"};

const TokenEntry kColumns[] = {
    {PROP_DC_TITLE, "title"},   {PROP_DC_DATE, "date"},     {PROP_DC_CREATOR, "creator"}, {PROP_UPNP_CLASS, "class"},
    {PROP_UPNP_ACTOR, "actor"}, {PROP_UPNP_ARTIST, "artist"}, {PROP_UPNP_ALBUM, "album"},   {PROP_UPNP_GENRE, "genre"},
    {PROP_REFID, "ref_id"},     {PROP_ID, "id"},            {PROP_RES, "res"},            {PROP_UPNP_ORIGINAL_TRACK_NUMBER, "track"},
    {0, nullptr}};

// Stands where a call must store its tree: prints as GROUP(null) if the call never does.
ParseTreeNode gUnset{};

TEST(ParseTree, CopyAndFreeEveryShape) {
    for (const Case &row : ReadCases("parse-trees.tsv")) {
        SCOPED_TRACE(row.where());
        ParseTreeNode *original = TreeFromString(row["tree"]);
        ASSERT_EQ(TreeToString(original), row["tree"]);
        TreePtr copy(CloneParseTree(original));
        const std::set<const void *> blocks = TreeBlocks(original);
        for (const void *block : TreeBlocks(copy.get())) EXPECT_EQ(blocks.count(block), 0u) << "shared";
        EXPECT_EQ(TreeToString(original), row["tree"]) << "copying changed the original";
        OpenAllocationWindow();
        freeParseTree(original);
        CloseAllocationWindow();
        EXPECT_EQ(FreesInWindow(), static_cast<long>(blocks.size()));
        // The copy outlives its original (the sanitizer build checks the reads).
        EXPECT_EQ(TreeToString(copy.get()), row["copy"].empty() ? row["tree"] : row["copy"]);
    }
}

// A host may build a tree deeper than any parse gives: freeing one needs no stack per level.
TEST(ParseTree, FreeNeedsNoStackPerLevel) {
    constexpr long kLevels = 100000;
    ParseTreeNode *leftChain = Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a")), *groups = Val("b");
    for (long i = 0; i < kLevels; ++i) {
        leftChain = Op(i % 2 == 0 ? OP_AND : OP_OR, leftChain, Op(OP_EQ, Prop(PROP_DC_DATE), Val("c")));
        groups = Group(groups);
    }
    long frees = 0;
    EXPECT_TRUE(RunOnSmallStack(64 * 1024, [&] {
        OpenAllocationWindow();
        freeParseTree(leftChain);
        freeParseTree(groups);
        CloseAllocationWindow();
        frees = FreesInWindow();
    }));
    EXPECT_EQ(frees, 4 + kLevels * 5 + 2 + kLevels);
}

TEST(Parser, ParsesEveryCase) {
    for (const char *file : kParseFiles) {
        for (const Case &row : ReadCases(file)) {
            SCOPED_TRACE(row.where());
            // The lenient rows' texts and trees are patterns, so that hostile shapes fit in a row.
            const bool patterns = row.has("repairs");
            const std::string criteria = patterns ? Expand(row["criteria"]) : row["criteria"];
            const std::string expect = patterns ? Expand(row["expect"]) : row["expect"];
            const char *text = criteria == "{null}" ? nullptr : criteria.c_str();
            const int first = row["first"].empty() ? 0 : std::stoi(row["first"]);
            const int last = row["last"].empty() ? static_cast<int>(criteria.size()) - 1 : std::stoi(row["last"]);
            const EntryTable host(row["host"] == "null" ? "-" : row["host"]);
            const bool classic = row["options"].empty(), place = row["place"] != "none";
            const SearchParseConfig config = {classic ? 0 : static_cast<unsigned>(std::stoul(row["options"])), host.get()};
            ParseTreeNode *tree = place ? &gUnset : nullptr;
            SearchParseError error = {-7, -7};
            ParseTreeNode **out = place ? &tree : nullptr;
            SearchParseError *record = place && !classic ? &error : nullptr;
            int result = -1;
            std::string messages;
            SearchParseRepairs repairs = {77, -7};
            EXPECT_EQ(CaptureStdout([&] {
                          messages = CaptureStderr([&] {
                              if (classic) {
                                  result = Parse_searchExp(out, text, first, last);
                              } else if (row.has("repairs")) {
                                  result = Parse_searchExpRepaired(out, text, first, last, row["host"] == "null" ? nullptr : &config,
                                                                   record, place ? &repairs : nullptr);
                              } else if (row["host"].empty()) {
                                  result = Parse_searchExpEx(out, text, first, last, config.options, record);
                              } else {
                                  result = Parse_searchExpWith(out, text, first, last, row["host"] == "null" ? nullptr : &config, record);
                              }
                          });
                      }),
                      "");
            EXPECT_EQ(messages, row["stderr"]);
            std::string got = result == 0 ? TreeToString(tree) : result == 1 ? "FAIL" : "RESULT " + std::to_string(result);
            if (result != 0 && tree != nullptr) got += " with a tree", tree = nullptr;
            if (record != nullptr && result != 0) got += " " + std::to_string(error.code) + "@" + std::to_string(error.offset);
            if (record != nullptr && result == 0 && (error.code != SEARCH_PARSE_OK || error.offset != -1)) got += " with a record";
            EXPECT_EQ(got, expect);
            if (row.has("repairs") && place && (config.options & SEARCH_PARSE_STANDARD) != 0) {
                EXPECT_EQ(std::to_string(repairs.repairs) + "@" + std::to_string(repairs.offset), row["repairs"]);
                // Without the repairs: a text the strict grammar accepts gives the same tree, one it
                // refuses the error that the lenient parse gives when no repair saves it.
                const SearchParseConfig strict = {config.options & ~SEARCH_PARSE_LENIENT, config.hostProperties};
                ParseTreeNode *strictTree = nullptr;
                SearchParseError strictError = {-7, -7};
                const int strictResult = Parse_searchExpWith(&strictTree, text, first, last, row["host"] == "null" ? nullptr : &strict, &strictError);
                TreePtr strictOwned(strictTree);
                if (strictResult == 0) {
                    EXPECT_EQ(TreeToString(strictTree) + " 0@-1", got + " " + row["repairs"]) << "the strict grammar accepts it";
                } else if (result != 0) {
                    EXPECT_EQ("FAIL " + std::to_string(strictError.code) + "@" + std::to_string(strictError.offset), got) << "not the strict error";
                }
            }
            // A parsed tree's copy prints the same once the parsed tree is gone, and writes the SQL.
            TreePtr copy(CloneParseTree(tree));
            freeParseTree(tree);
            if (result == 0) {
                EXPECT_EQ(TreeToString(copy.get()), expect) << "the copy";
            }
            if (!row["sql"].empty()) {
                EXPECT_EQ(SetAlwayTrueForNonSupportedProperty(copy.get(), kColumns), 0);
                EXPECT_EQ(ToSql(copy.get(), kColumns), row["sql"]);
            }
        }
    }
}

// With options 0 the extended entry point is the classic parser, only quiet: the same result and
// tree for every prefix of every corpus text and case, and an error record that fits the result.
TEST(Parser, OptionsZeroIsTheClassicParserQuietly) {
    std::vector<std::string> texts;
    for (const auto &entry : std::filesystem::directory_iterator(MSC_TEST_CORPUS_DIR)) {
        for (auto &row : ReadCriteriaTable(entry.path().string())) texts.push_back(row.second);
    }
    for (const char *file : kParseFiles) {
        for (const Case &row : ReadCases(file)) texts.push_back(row["criteria"]);
    }
    std::vector<std::string> classic;
    CaptureStderr([&] {
        for (const std::string &text : texts) {
            for (int last = -1; last < static_cast<int>(text.size()); ++last) {
                ParseTreeNode *tree = nullptr;
                const int result = Parse_searchExp(&tree, text.c_str(), 0, last);
                classic.push_back(std::to_string(result) + " " + TreeToString(tree));
                freeParseTree(tree);
            }
        }
    });
    size_t index = 0;
    EXPECT_EQ(CaptureStderr([&] {
                  for (const std::string &text : texts) {
                      for (int last = -1; last < static_cast<int>(text.size()); ++last) {
                          ParseTreeNode *tree = &gUnset;
                          SearchParseError e = {-7, -7};
                          const int result = Parse_searchExpEx(&tree, text.c_str(), 0, last, 0, &e);
                          const bool fits = result == 0 ? e.code == SEARCH_PARSE_OK && e.offset == -1
                                                        : e.code != SEARCH_PARSE_OK && e.offset >= 0 && e.offset <= last + 1;
                          ASSERT_EQ(std::to_string(result) + " " + TreeToString(tree) + (fits ? "" : " wrong record"),
                                    classic[index++])
                              << text << " [0, " << last << "]";
                          freeParseTree(tree);
                      }
                  }
              }),
              "");
    EXPECT_GT(index, 5000u);
}

TEST(Parser, ExportedTablesAndMessages) {
    const std::map<std::string, const TokenEntry *> tables = {
        {"g_PropertyName", g_PropertyName}, {"g_LogOpName", g_LogOpName},     {"g_LogOpSQL", g_LogOpSQL},
        {"g_BinOpName", g_BinOpName},       {"g_BinOpSQL", g_BinOpSQL},       {"g_ExistOpName", g_ExistOpName},
        {"g_ExistOpSQL", g_ExistOpSQL}};
    for (const Case &row : ReadCases("parse-abi.tsv")) {
        std::string got = row["what"] == "message" ? SearchParseErrorMessage(std::stoi(row["key"])) : "";
        for (const TokenEntry *entry = row["what"] == "table" ? tables.at(row["key"]) : nullptr; entry != nullptr; ++entry) {
            got += (got.empty() ? "" : " ") + std::to_string(entry->id) + "=" + (entry->name != nullptr ? entry->name : "END");
            if (entry->id == 0 || got.size() > 400) break;
        }
        EXPECT_EQ(got, row["expect"]) << row.where();
    }
}

// One allocation per node and per value text; failing each in turn gives a clean failure.
TEST(Parser, FailsCleanlyWhenMemoryRunsOut) {
    const std::string text = R"((upnp:class = "c" or @id = "65536") and upnp:author exists true)";
    const int last = static_cast<int>(text.size()) - 1;
    const unsigned options = SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN;
    ParseTreeNode *tree = nullptr;
    OpenAllocationWindow();
    EXPECT_EQ(Parse_searchExpEx(&tree, text.c_str(), 0, last, options, nullptr), 0);
    const long allocations = CloseAllocationWindow();
    EXPECT_EQ(TreeToString(tree),
              R"(OP_AND(GROUP(OP_OR(OP_EQ(PROP_UPNP_CLASS, "c"), OP_EQ(PROP_ID, "1"))), OP_EXISTS(PROP127, "true")))");
    freeParseTree(tree);
    EXPECT_EQ(allocations, 12 /*nodes*/ + 3 /*texts*/);
    for (long n = 1; n <= allocations; ++n) {
        SearchParseError error = {0, 0};
        tree = &gUnset;
        OpenAllocationWindow(n);
        const int result = Parse_searchExpEx(&tree, text.c_str(), 0, last, options, &error);
        const long leaked = CloseAllocationWindow() - 1 - FreesInWindow();  // Every block it took is given back.
        EXPECT_EQ(std::to_string(result) + " " + TreeToString(tree) + " " + std::to_string(error.code) + " " + std::to_string(leaked),
                  "1 null " + std::to_string(SEARCH_PARSE_OUT_OF_MEMORY) + " 0") << n;
    }
}

// The repairs read a refused text a second time: an allocation failing in either reading gives
// a clean failure that says memory ran out, not the strict grammar's error.
TEST(Parser, RepairsFailCleanlyWhenMemoryRunsOut) {
    const std::string text = R"((upnp:class = 'c' or @id = ""65536"") and upnp:author exists "true)";
    const int last = static_cast<int>(text.size()) - 1;
    const SearchParseConfig config = {SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN | SEARCH_PARSE_LENIENT, nullptr};
    ParseTreeNode *tree = nullptr;
    SearchParseRepairs repairs = {0, 0};
    OpenAllocationWindow();
    EXPECT_EQ(Parse_searchExpRepaired(&tree, text.c_str(), 0, last, &config, nullptr, &repairs), 0);
    const long allocations = CloseAllocationWindow();
    EXPECT_EQ(TreeToString(tree) + " " + std::to_string(repairs.repairs) + "@" + std::to_string(repairs.offset),
              R"(OP_AND(GROUP(OP_OR(OP_EQ(PROP_UPNP_CLASS, "c"), OP_EQ(PROP_ID, "1"))), OP_EXISTS(PROP127, "true")) 14@14)");
    freeParseTree(tree);
    EXPECT_EQ(allocations, 1 /*the strict reading's group, which fails at the single quote*/ + 12 /*nodes*/ + 3 /*texts*/);
    for (long n = 1; n <= allocations; ++n) {
        SearchParseError error = {0, 0};
        tree = &gUnset;
        repairs = {77, 77};
        OpenAllocationWindow(n);
        const int result = Parse_searchExpRepaired(&tree, text.c_str(), 0, last, &config, &error, &repairs);
        const long leaked = CloseAllocationWindow() - 1 - FreesInWindow();
        EXPECT_EQ(std::to_string(result) + " " + TreeToString(tree) + " " + std::to_string(error.code) + " " +
                      std::to_string(leaked) + " " + std::to_string(repairs.repairs) + "@" + std::to_string(repairs.offset),
                  "1 null " + std::to_string(SEARCH_PARSE_OUT_OF_MEMORY) + " 0 0@-1") << n;
    }
}

// The token rule, one byte at a time: a quote flips the in-quote state, a backslash takes the next
// byte, a byte below 33 as a signed char ends the token outside quotes; never past 'last'. Returns
// the index of the token's last byte (first - 1 when it is empty).
long ReferenceTokenEnd(const std::string &text, long first, long last) {
    bool inQuote = false;
    for (long pos = first;;) {
        const char c = text[static_cast<size_t>(pos)];
        if (!inQuote && static_cast<signed char>(c) < 33) return pos - 1;
        if (c == '"') inQuote = !inQuote;
        pos += c == '\\' ? 2 : 1;
        if (pos > last) return last;
    }
}

// What `dc:title = <value>` parses to when the value ends the text and holds no blank: the token's
// text, quotes stripped from a quoted pair; a token that ends before the text fails the parse.
std::string ExpectedTree(const std::string &criteria, long valueStart) {
    const long last = static_cast<long>(criteria.size()) - 1, end = ReferenceTokenEnd(criteria, valueStart, last);
    if (end < valueStart || end != last) return "FAIL";
    std::string token = criteria.substr(static_cast<size_t>(valueStart));
    if (token.size() >= 2 && token.front() == '"' && token.back() == '"') token = token.substr(1, token.size() - 2);
    TreePtr tree(Op(OP_EQ, Prop(PROP_DC_TITLE), Val(token.c_str())));
    return TreeToString(tree.get());
}

// The scanner moves over ordinary bytes sixteen at a time: values of every length up to 48 bytes
// with special bytes at every position, a second one right after or further on, each alone and
// quoted, must give the token that the byte-at-a-time rule gives.
TEST(TokenScan, SpecialBytesAtEveryPositionOfLongValues) {
    const std::string prefix = "dc:title = ";
    int checked = 0;
    for (size_t length = 1; length <= 48; ++length) {
        for (size_t i = 0; i < length; ++i) {
            for (size_t j : {i, i + 1, i + 2, i + 3, i + 5, i + 9, i + 16, i + 17}) {
                for (int k = 0; j < length && k < 6 * 3 * 2; ++k) {
                    std::string value(length, 'a');
                    value[i] = "\"\\\x01\xC3\x7F("[k / 6];
                    if (j != i) value[j] = "\"\x01\\"[k / 2 % 3];
                    const std::string criteria = prefix + (k % 2 != 0 ? "\"" + value + "\"" : value);
                    ASSERT_EQ(ParseToString(criteria), ExpectedTree(criteria, static_cast<long>(prefix.size())))
                        << "length " << length << " at " << i << " and " << j << " case " << k;
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(checked, 20000);
}

// A value ending the range in the middle of a longer text: the token stops at 'last' even when
// the bytes after it would go on.
TEST(TokenScan, StopsAtTheRangeEnd) {
    const std::string criteria = R"(dc:title = "abcdefghijklmnopqrstuvwxyz0123456789" and dc:date = "x")";
    for (long last = 11; last <= 48; ++last) {  // From the value's first byte to its closing quote.
        ParseTreeNode *tree = nullptr;
        const int result = Parse_searchExp(&tree, criteria.c_str(), 0, static_cast<int>(last));
        TreePtr owned(tree);
        EXPECT_EQ(result == 0 ? TreeToString(tree) : "FAIL", ExpectedTree(criteria.substr(0, last + 1), 11)) << last;
    }
}

// Parentheses are found sixteen bytes at a time as well: values of every length put them at every
// offset of a block, in groups side by side, nested, and inside quotes (where they still count, so
// the group ends early and the parse fails).
TEST(TokenScan, ParenthesesAtEveryBlockOffset) {
    for (size_t k = 0; k <= 40; ++k) {
        const std::string a(k, 'a'), b(k % 17, 'b'), x = k == 0 ? "x" : a;
        const std::string title = "(dc:title = \"" + a, date = "(dc:date = \"" + b + "\")";
        const std::string eqDate = "GROUP(OP_EQ(PROP_DC_DATE, \"" + b + "\"))";
        EXPECT_EQ(ParseToString(title + "\") or " + date), "OP_OR(GROUP(OP_EQ(PROP_DC_TITLE, \"" + a + "\")), " + eqDate + ")");
        EXPECT_EQ(ParseToString("((dc:title = " + x + ") and " + date + ")"),
                  "GROUP(OP_AND(GROUP(OP_EQ(PROP_DC_TITLE, \"" + x + "\")), " + eqDate + "))");
        EXPECT_EQ(ParseToString(title + ")" + b + "\")"), "FAIL") << k;
        EXPECT_EQ(ParseToString(title + "(" + b + "\")"), "FAIL") << k;
    }
}

}  // namespace
