// The command-line tool's host side through the library's C ABI: what a criteria becomes (class,
// properties, rewrites, trees, the whole SQL condition), the options it reads, its SELECT text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HostSearch.h"
#include "TreeText.h"

using namespace msc_host;

namespace {

std::string Names(const std::vector<int> &ids) {
    static const TokenTable host = SampleHostProperties();
    std::string text;
    for (int id : ids) text += (text.empty() ? "" : ",") + PropertyName(id, &host);
    return text;
}

// The whole outcome of the sequence on one line.
std::string Outcome(const HostSearch &search) {
    static const char *const kStatus[] = {"everything", "condition", "parse failed", "unusable"};
    std::string text = kStatus[search.status];
    if (search.status == HostSearch::kParseFailed) return text + ": " + DescribeParseError(search.error);
    if (search.repairs.repairs != 0) text += "|repaired: " + DescribeRepairs(search.repairs);
    if (search.status == HostSearch::kEverything) return text;
    if (search.status == HostSearch::kUnusable) text += ": " + search.problem;
    text += "|class=" + (search.hasClass ? search.upnpClass : "(none)") + "|properties=" +
            Names(search.properties) + "|always-true=" + Names(search.alwaysTrue) +
            "|refID=" + (search.refIdMadeFalse ? "false" : "kept");
    return search.status == HostSearch::kCondition ? text + "|sql=" + search.condition : text;
}

TEST(HostSequence, GivesTheWholeOutcome) {
    for (const auto &row : msc_test::ReadCases("host-sequence.tsv")) {
        SCOPED_TRACE(row.where());
        HostOptions options;
        options.container = row["container"];
        options.prefix = row["prefix"];
        options.standard = row["grammar"] != "classic";
        options.lenient = row["grammar"] != "strict";
        std::string error;
        if (!row["supported"].empty()) {
            std::vector<int> supported;
            ASSERT_TRUE(ParsePropertyList(row["supported"], &supported, &error)) << error;
            options.supported = supported;
        }
        HostSearch search = RunHostSequence(row["criteria"], options);
        EXPECT_EQ(Outcome(search), row["outcome"]);
        EXPECT_EQ(Outcome(RunOneCall(row["criteria"], options)), row["outcome"]);
        EXPECT_EQ(msc_test::TreeToString(search.parsed.get()), row["parsed"]);
        EXPECT_EQ(msc_test::TreeToString(search.rewritten.get()), row["rewritten"]);
        // The dump's size as the tool measures it before it dumps, and the limit that stops it.
        for (const msc::Tree *tree : {&search.parsed, &search.rewritten}) {
            if (!*tree) continue;
            size_t size = tree->dump(0, options.hostProperties.Entries()).size();
            EXPECT_EQ(DumpSize(tree->get(), size, &options.hostProperties), size);
            EXPECT_EQ(DumpSize(tree->get(), size - 1, &options.hostProperties), size);
        }
    }
}

// A condition longer than the first buffer is measured and written again, whole.
TEST(HostSequence, WritesLongConditionsWhole) {
    for (int terms : {1, 20, 21, 200}) {
        std::string criteria = "dc:title = \"abcdefghij\"";
        std::string expected = " title  =  'abcdefghij' ";
        for (int i = 1; i < terms; ++i) {
            criteria += " or dc:title = \"abcdefghij\"";
            expected += " OR  title  =  'abcdefghij' ";
        }
        EXPECT_EQ(RunHostSequence(criteria, HostOptions()).condition, expected) << terms;
    }
}

std::string Print(const TokenTable &table) {
    std::string text;
    for (const TokenEntry *e = table.Entries(); e->id != 0; ++e) {
        text += (text.empty() ? "" : " ") + std::to_string(e->id) + "=" + e->name;
    }
    return text;
}

TEST(HostOptions, ReadsColumnMapsAndPropertyLists) {
    for (const auto &row : msc_test::ReadCases("host-options.tsv")) {
        TokenTable columns = SampleColumns();
        TokenTable host = SampleHostProperties();
        std::vector<int> ids;
        std::string result;
        if (row["kind"] == "columns" && ParseColumnMap(row["text"], &columns, &result, nullptr, &host)) {
            result = Print(columns) + "|" + Print(host);
        } else if (row["kind"] == "supported" && ParsePropertyList(row["text"], &ids, &result, &host)) {
            for (int id : ids) result += (result.empty() ? "" : " ") + std::to_string(id);
        }
        EXPECT_EQ(result, row["result"]) << row.where();
    }
}

TEST(HostSelect, BuildsTheStatement) {
    for (const auto &row : msc_test::ReadCases("host-select.tsv")) {
        SelectQuery query;
        query.container = row["container"];
        query.alias = row["alias"];
        query.parentColumn = row["parent"];
        query.order = row["order"];
        query.show = row["show"];
        query.scope = row["scope"] == "children" ? SelectQuery::kChildren
                      : row["scope"] == "self"   ? SelectQuery::kSelf
                                                 : SelectQuery::kDescendants;
        if (!row["page"].empty()) {
            query.limit = std::stoll(row["page"]);
            query.offset = std::stoll(row["page"].substr(row["page"].find(',') + 1));
        }
        EXPECT_EQ(BuildSelect(query, row["condition"]), row["select"]) << row.where();
    }
}

}  // namespace
