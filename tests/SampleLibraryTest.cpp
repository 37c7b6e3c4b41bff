// Searches on the sample media library, end to end through the host sequence and the library's
// C ABI, on SQLite and on the PostgreSQL and MariaDB servers that tests/support/databases.sh starts
// (ctest's Databases.Start) with the same data. Expected rows come from host-searches.tsv: by
// hand, or from a plain query written for the test, run on a separate, unmodified SQLite sample.
#include <gtest/gtest.h>

#include <set>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "HostDatabase.h"
#include "HostSearch.h"
#include "TreeText.h"

using namespace msc_host;

namespace {

// The rows of a search, sorted, one a line, each row's cells joined by "|".
std::string Rows(HostDatabase &database, const SelectQuery &query, const std::string &condition) {
    ResultTable table;
    std::string error;
    EXPECT_TRUE(database.Select(query, condition, &table, &error)) << condition << ": " << error;
    std::multiset<std::string> rows;
    for (const auto &row : table.rows) {
        std::string joined;
        for (size_t i = 0; i < row.size(); ++i) joined += (i ? "|" : "") + row[i];
        rows.insert(joined + "\n");
    }
    std::string text;
    for (const std::string &row : rows) text += row;
    return text;
}

// The sample on "sqlite" (in memory), "postgresql" or "mariadb" (ctest's servers).
std::unique_ptr<HostDatabase> Open(const std::string &scheme) {
    std::string error;
    std::unique_ptr<HostDatabase> database = OpenDatabase(msc_test::DatabaseAddress(scheme), &error);
    EXPECT_NE(database, nullptr) << error << " (ctest starts the servers first: Databases.Start)";
    return database;
}

// Each database by its scheme.
class SampleLibrary : public ::testing::TestWithParam<const char *> {};
INSTANTIATE_TEST_SUITE_P(Databases, SampleLibrary, ::testing::Values("sqlite", "postgresql", "mariadb"),
                         [](const ::testing::TestParamInfo<const char *> &scheme) { return std::string(scheme.param); });

TEST_P(SampleLibrary, SelectsWhatEachCriteriaMeans) {
    std::unique_ptr<HostDatabase> database = Open(GetParam());
    std::unique_ptr<HostDatabase> plain = Open("sqlite");
    ASSERT_TRUE(database && plain);
    for (const msc_test::Case &row : msc_test::ReadCases("host-searches.tsv")) {
        SCOPED_TRACE(row.where());
        HostOptions options;
        options.container = row["container"];
        options.sql.dialect = DialectOf(database->Kind());
        options.standard = row["grammar"] == "standard";
        HostSearch search = RunHostSequence(row["criteria"], options);
        EXPECT_TRUE(search.status == HostSearch::kCondition || search.status == HostSearch::kEverything)
            << search.problem << DescribeParseError(search.error);
        SelectQuery query;  // Without the root, which no criteria selects.
        query.show = "object_id";
        query.order.clear();
        std::string expected = row["rows"];
        if (!row["where"].empty()) {
            expected = Rows(*plain, query, row["where"]);
            EXPECT_FALSE(expected.empty()) << "a query that finds nothing proves nothing";
        } else {
            query.show = "title, album";
        }
        query.container = row["container"];
        EXPECT_EQ(Rows(*database, query, search.condition), expected);
    }
}

// Each sort text of host-sorts.tsv orders the rows alike on every database: the same ids in the
// same order, ties broken by the id column.
TEST_P(SampleLibrary, SortsAlike) {
    std::unique_ptr<HostDatabase> database = Open(GetParam());
    ASSERT_TRUE(database);
    for (const msc_test::Case &row : msc_test::ReadCases("host-sorts.tsv")) {
        SCOPED_TRACE(row.where());
        HostOptions options;
        options.container = row["container"];
        options.sql.dialect = DialectOf(database->Kind());
        options.standard = true;
        HostSearch search = RunOneCall(row["criteria"], options);
        HostSort sort = RunSort(row["sort"], options);
        ASSERT_EQ(search.status, HostSearch::kCondition);
        ASSERT_TRUE(sort.ok) << sort.info.upnpErrorDescription;
        SelectQuery query;
        query.show = "object_id";
        query.container = row["container"];
        query.sortKeys = sort.keys;
        ResultTable table;
        std::string error, ids;
        ASSERT_TRUE(database->Select(query, search.condition, &table, &error)) << error;
        for (const auto &cells : table.rows) ids += (ids.empty() ? "" : " ") + cells.at(0);
        EXPECT_EQ(ids, row["ids"]);
    }
}

// num_id is the number after the last "$" of object_id shifted right by 16 bits, as the
// identifier rewrite expects; only the root and the fixed views have numbers below 65536.
TEST(SampleLibrarySql, NumericIdsFollowTheObjectIds) {
    SelectQuery query;
    query.show = "count(*), sum(num_id = 0), sum(num_id IS NOT (CAST(substr(object_id, "
                 "length(rtrim(object_id, '0123456789')) + 1) AS INTEGER) >> 16))";
    query.idColumn = query.order = "";
    EXPECT_EQ(Rows(*Open("sqlite"), query, ""), "824|12|0\n");
}

// Criteria pieces that clients, typos and attackers produce.
const char *const kProperties[] = {"dc:title", "upnp:class", "upnp:artist", "@refID", "@id", "res@size",
                                   "upnp:originalTrackNumber", "dc:date", "upnp:a", "DC:TITLE", "foo"};
const char *const kOperators[] = {"=", "!=", "<", "<=", ">", ">=", "contains", "doesNotContain",
                                  "derivedfrom", "is", "exists", "xx", "and", "or"};
const char *const kValues[] = {R"("abc")", R"("O'Brien")", R"("100%")", R"("a_b")", R"("\")", R"("a\"b")",
                               R"("é")", R"("ワナ")", R"("'; DROP TABLE objects; --")", R"("")",
                               R"("A0$128$129$66912385")", "true", "FALSE", "abc", R"("unterminated)",
                               R"c("(")c", R"c(")")c", R"("x' OR '1'='1")", "'single'", "\"\xff\xfe\""};

std::string RandomExpression(std::mt19937 &rng, int depth) {
    auto pick = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
    auto property = [&] { return std::string(kProperties[pick(std::size(kProperties))]); };
    auto op = [&] { return std::string(" ") + kOperators[pick(std::size(kOperators))] + " "; };
    auto value = [&] { return std::string(kValues[pick(std::size(kValues))]); };
    std::string term;
    size_t shape = pick(depth > 3 ? 3 : 6);
    if (shape < 3) term = property() + op() + value();
    else if (shape == 3) term = "(" + RandomExpression(rng, depth + 1) + ")";
    else if (shape == 4) term = pick(2) ? property() : "()";
    else term = property() + " = " + value() + op() + value();
    size_t tail = pick(depth > 3 ? 1 : 4);  // Alone, and or or another expression, or dangling.
    if (tail == 0) return term;
    if (tail == 3) return term + (pick(2) ? " and" : " or");
    return term + (tail == 1 ? " and " : " or ") + RandomExpression(rng, depth + 1);
}

// The host passes on exactly the SQL text of the parsed tree, and SQLite runs it; it refuses a
// dangling and/or or empty parentheses, which the parser accepts and SQLite does not.
TEST(SampleLibrarySql, EverySqlTextOfAParsedCriteriaRunsOrIsRefused) {
    std::unique_ptr<HostDatabase> sample = Open("sqlite");
    ASSERT_NE(sample, nullptr);
    std::vector<std::string> criteria;
    for (const msc_test::Case &row : msc_test::ReadCases("host-searches.tsv")) {
        if (row["grammar"] != "standard") criteria.push_back(row["criteria"]);
    }
    std::mt19937 rng(20261206);
    for (int i = 0; i < 3000; ++i) criteria.push_back(RandomExpression(rng, 0));
    HostOptions options;
    options.supported = options.columns.Ids();
    options.standard = false;  // The criteria above are the classic grammar's.
    int accepted = 0;
    int flagged = 0;
    for (const std::string &text : criteria) {
        HostSearch search = RunHostSequence(text, options);
        if (search.status == HostSearch::kUnusable) ++flagged;
        if (search.status != HostSearch::kCondition) continue;
        ++accepted;
        const ParseTreeNode *tree = search.parsed.get();
        const TokenEntry *columns = options.columns.Entries();
        int length = ConvertSQLConditionWith(tree, columns, nullptr, &options.sql, nullptr, 0);
        std::string sql(static_cast<size_t>(length) + 1, '\0');
        ASSERT_EQ(ConvertSQLConditionWith(tree, columns, nullptr, &options.sql, &sql[0], length + 1), length) << text;
        sql.resize(static_cast<size_t>(length));
        EXPECT_EQ(search.condition, sql) << text;
        Rows(*sample, SelectQuery(), search.condition);
    }
    // The generator must reach both sides, or this test proves little.
    EXPECT_GT(accepted, 400) << flagged;
    EXPECT_GT(flagged, 100) << accepted;
}

}  // namespace
