// No criteria text may exhaust a host's stack: hostile texts of up to 2 MiB and the deepest nesting
// the parser accepts run through a host's whole sequence on a thread with a 256 KiB stack, as a media
// server's worker thread might have. safety-hostile.tsv holds each shape and its whole outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "TreeText.h"

using namespace msc_test;

namespace {

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer's red zones and the stack traces its malloc records need several times the stack.
constexpr size_t kStackBytes = 1024 * 1024;
#else
constexpr size_t kStackBytes = 256 * 1024;
#endif

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"},   {PROP_DC_DATE, "date"},
                               {PROP_UPNP_CLASS, "class"}, {PROP_UPNP_GENRE, "genre"},
                               {PROP_REFID, "ref_id"},     {0, nullptr}};

std::string Replaced(std::string text, const std::string &name, const std::string &by) {
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + by.size())) {
        text.replace(at, name.size(), by);
    }
    return text;
}

// A pattern of the case file, written out (its header says how).
std::string Expand(const std::string &pattern) {
    std::string all, unquoted, out;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
        if (b != 0 && b != '"' && b != '\\') unquoted += static_cast<char>(b);
    }
    for (size_t start = 0, end = 0; start <= pattern.size(); start = end + 1) {
        end = std::min(pattern.find('|', start), pattern.size());
        std::string piece = pattern.substr(start, end - start);
        size_t star = piece.rfind('*'), times = 1;
        if (star != std::string::npos && star + 1 < piece.size() &&
            piece.find_first_not_of("0123456789", star + 1) == std::string::npos) {
            times = std::stoul(piece.substr(star + 1));
            piece.resize(star);
        }
        piece = Replaced(Replaced(piece, "{B}", unquoted), "{Q}", Replaced(unquoted, "'", "''"));
        piece = Replaced(piece, "{A}", all);
        const bool counted = piece.find("{i}") != std::string::npos || piece.find("{j}") != std::string::npos;
        for (size_t i = 0; i < times; ++i) {
            out += !counted ? piece : Replaced(Replaced(piece, "{i}", Repeat("--->", i)), "{j}", Repeat("--->", times - 1 - i));
        }
    }
    return out;
}

// The whole condition text, in a buffer sized by measuring first.
std::string Sql(const ParseTreeNode *tree) {
    std::vector<char> out(static_cast<size_t>(ConvertSQLConditionEx(tree, kColumns, nullptr, nullptr, 0)) + 1);
    ConvertSQLCondition(tree, kColumns, nullptr, out.data(), static_cast<int>(out.size()));
    return out.data();
}

// The host's sequence on the small stack, and the one call beside it: each output as its column
// names it. The dump of a long and/or list grows with the square of its length (some 600 MB for
// 10,000 terms), so such dumps go to /dev/null and only their result counts.
std::map<std::string, std::string> RunHostSequence(const Case &row, const std::string &text) {
    std::map<std::string, std::string> got;
    const int takenOut = atoi(row["taken out"].c_str());
    const std::string dump = row["dump"];
    std::vector<TokenEntry> supported;  // All but 'takenOut'.
    for (int id = PROP_DC_TITLE; id <= PROP_UPNP_ORIGINAL_TRACK_NUMBER; ++id) {
        if (id != takenOut) supported.push_back({id, ""});
    }
    supported.push_back({0, nullptr});
    const SearchOptions options = {{0, nullptr}, kColumns, supported.data(), "A0$128$129", nullptr,
                                   {SQL_DIALECT_SQLITE, 0}, nullptr, 0};
    ParseTreeNode *tree = nullptr, *copy = nullptr;
    std::string oneCallSql;
    got["messages"] = CaptureStderr([&] {
        EXPECT_TRUE(RunOnSmallStack(kStackBytes, [&] {
            const int length = static_cast<int>(text.size());
            got["result"] = std::to_string(Parse_searchExp(&tree, text.c_str(), 0, length - 1));
            ParseTreeNode *quiet = nullptr;
            SearchParseError error = {-1, -1};
            Parse_searchExpEx(&quiet, text.c_str(), 0, length - 1, 0, &error);
            freeParseTree(quiet);
            got["why"] = SearchParseErrorMessage(error.code);
            SearchInfo info;
            const int sqlLength = ConvertSearchCriteria(text.c_str(), length, &options, nullptr, 0, &info);
            EXPECT_EQ(info.error.code, error.code);
            if (tree == nullptr) {
                EXPECT_EQ(sqlLength, -1);
                return;
            }
            oneCallSql.assign(static_cast<size_t>(sqlLength) + 1, '\0');
            ConvertSearchCriteria(text.c_str(), length, &options, &oneCallSql[0], sqlLength + 1, &info);
            oneCallSql.resize(static_cast<size_t>(sqlLength));
            const char *cls = GetUPnPClass(tree);
            got["class"] = cls != nullptr ? cls : "(none)";
            int count = 0;
            int *ids = GetPropertyList(tree, &count);
            for (int i = 0; i < count; ++i) got["properties"] += (i > 0 ? " " : "") + std::to_string(ids[i]);
            free(ids);
            copy = CloneParseTree(tree);
            got["sql"] = Sql(tree);
            got["check"] = SearchConditionMessage(CheckSQLCondition(tree, kColumns, nullptr));
            if (dump.rfind("result ", 0) == 0) {
                FILE *devNull = fopen("/dev/null", "w");
                const int result = TravelTreeToStream(tree, 0, devNull, nullptr);
                fclose(devNull);
                // fputs promises only a non-negative result.
                got["dump"] = dump == "result >=0" && result >= 0 ? dump : "result " + std::to_string(result);
            } else if (!dump.empty()) {
                got["dump"] = CaptureStdout([&] { TravelTree(tree, 0); });
            }
        }));
    });
    if (tree == nullptr) {
        got["tree"] = "null";
        return got;
    }
    // The test's own printer recurses a little deeper than the library: it runs on the main stack.
    got["tree"] = TreeToString(tree);
    EXPECT_TRUE(TreeToString(copy) == got["tree"]) << "the copy differs";
    EXPECT_TRUE(RunOnSmallStack(kStackBytes, [&] {
        EXPECT_EQ(SetAlwayTrueForProperty(tree, takenOut), 0);
        got["rewritten"] = Sql(tree);
        got["container"] = std::to_string(CheckContainerIsSupportRefID("A0$128$129", tree));
        got["container sql"] = Sql(tree);
        EXPECT_TRUE(oneCallSql == got["container sql"]) << "the one call differs: " << oneCallSql.substr(0, 200);
        // The copy loses exactly what the tree lost.
        EXPECT_EQ(SetAlwayTrueForNonSupportedProperty(copy, supported.data()), 0);
        EXPECT_TRUE(Sql(copy) == got["rewritten"]) << "the non-supported rewrite differs";
        freeParseTree(copy);
        freeParseTree(tree);
    }));
    return got;
}

TEST(StackSafety, WholeSequenceOnHostileInput) {
    for (const Case &row : ReadCases("safety-hostile.tsv")) {
        SCOPED_TRACE(row.where() + ": " + row["name"]);
        std::map<std::string, std::string> got = RunHostSequence(row, Expand(row["text"]));
        for (const auto &[column, pattern] : row.fields) {
            if (column == "name" || column == "text" || column == "taken out") continue;
            const std::string want = Expand(pattern);
            // Texts of megabytes: compared whole, printed only in part.
            EXPECT_TRUE(got[column] == want) << column << ": " << got[column].substr(0, 300)
                                             << "\nwanted: " << want.substr(0, 300);
        }
    }
}

}  // namespace
