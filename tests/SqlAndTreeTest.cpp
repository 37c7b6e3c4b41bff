// The SQL writer, the tree rewrites and the tree queries through the C ABI, driven by the tables
// tests/cases/sql-*.tsv: whole SQL texts, whole trees and whole dumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "AllocationHooks.h"
#include "TreeText.h"

using namespace msc_test;

namespace {

// The tree of a row: 'tree' in TreeToString's notation, else 'criteria' parsed in the classic
// grammar or, when 'grammar' says so, in the standard one.
TreePtr Input(const Case &row) {
    const std::string text = row["tree"];
    if (!text.empty()) {
        TreePtr tree(TreeFromString(text));
        EXPECT_EQ(TreeToString(tree.get()), text) << "the notation is not read back whole";
        return tree;
    }
    const std::string criteria = row["criteria"];
    if (row["grammar"] != "standard") return TreePtr(Parsed(criteria));
    ParseTreeNode *tree = nullptr;
    Parse_searchExpEx(&tree, criteria.c_str(), 0, static_cast<int>(criteria.size()) - 1, SEARCH_PARSE_STANDARD,
                      nullptr);
    return TreePtr(tree);
}

// A table of a row: "usual" for the columns most rows write, else as EntryTable reads it.
std::string TableText(const std::string &field) {
    return field == "usual" ? "1=title|4=class|6=artist|8=genre|9=ref_id|128=added" : field;
}
const EntryTable kUsual(TableText("usual"));

// Each row's whole text; then at every buffer size both entry points write the same NUL-terminated
// prefix of it and nothing past it, and the result is the whole length, so that a host can retry
// with that length plus one. Without a buffer or room in it, the call only measures.
TEST(SqlConditionWriter, WritesWholeConditionsAtEveryBufferSize) {
    for (const Case &row : ReadCases("sql-writer.tsv")) {
        SCOPED_TRACE(row.where());
        TreePtr tree = Input(row);
        const EntryTable columns(TableText(row["columns"]));
        const std::string prefixText = row["prefix"];
        const char *prefix = prefixText == "-" ? nullptr : prefixText.c_str();
        const bool classic = row["options"] == "-";
        SqlOptions options{};
        if (!classic) std::istringstream(row["options"]) >> options.dialect >> options.flags;
        std::string sql;
        EXPECT_EQ(CaptureStdout([&] { sql = ToSql(tree.get(), columns.get(), prefix, classic ? nullptr : &options); }),
                  row["stdout"]);
        EXPECT_EQ(sql, row["sql"]);
        auto convert = [&](char *out, int size) {
            return classic ? ConvertSQLConditionEx(tree.get(), columns.get(), prefix, out, size)
                           : ConvertSQLConditionWith(tree.get(), columns.get(), prefix, &options, out, size);
        };
        if (sql.compare(0, 7, "length ") == 0) {  // Refused: nothing to cut, and no NUL without room.
            char guard = '\x7f';
            EXPECT_EQ(convert(nullptr, 0), -1);
            EXPECT_EQ(convert(&guard, 0), -1);
            EXPECT_EQ(guard, '\x7f');
            continue;
        }
        const int length = static_cast<int>(sql.size());
        int measured = -1;
        // Measuring counts exactly what is written, nodes of an unknown kind included.
        EXPECT_EQ(CaptureStdout([&] { measured = convert(nullptr, 0); }), row["stdout"]);
        EXPECT_EQ(measured, length);
        std::string fault;  // The first call that goes wrong; found while standard output is captured.
        CaptureStdout([&] {
            for (int size = 1; size <= length + 2 && fault.empty(); ++size) {
                std::vector<char> ex(static_cast<size_t>(size) + 8, '\x7f'), old(ex);
                const int result = convert(ex.data(), size);
                if (classic) ConvertSQLCondition(tree.get(), columns.get(), prefix, old.data(), size);
                const std::string written(ex.data());
                if (result != length || written != sql.substr(0, static_cast<size_t>(size) - 1) ||
                    (classic && old != ex) ||
                    std::count(ex.begin() + static_cast<long>(written.size()) + 1, ex.end(), '\x7f') !=
                        static_cast<long>(ex.size() - written.size() - 1))
                    fault = "in " + std::to_string(size) + ": " + written;
            }
            for (int size : {0, 1, 100, -1, INT_MIN}) {
                char guard[4] = {'\x7f', '\x7f', '\x7f', '\x7f'};
                if (classic) ConvertSQLCondition(tree.get(), columns.get(), prefix, nullptr, size);
                if (classic && size < 1) ConvertSQLCondition(tree.get(), columns.get(), prefix, guard, size);
                if (convert(nullptr, size) != length || (size < 1 && convert(guard, size) != length) ||
                    std::string(guard, 4) != "\x7f\x7f\x7f\x7f")
                    fault += " without room in " + std::to_string(size);
            }
        });
        EXPECT_EQ(fault, "");
    }
}

// The writers copy values with loads from both ends (and blocks between) that also look for
// single quotes: every length around the load sizes and beyond, a quote at every position (alone,
// or one at each end), in both literal forms, against a byte-at-a-time statement of the rule,
// into buffers that fit exactly or are one byte short, so that a write past the text would show;
// the tree's writer and the one call's, which writes a comparison at once with prepared options.
TEST(SqlConditionWriter, QuotesAtEveryPositionOfValuesUpTo72Bytes) {
    SearchOptions prepared;
    InitSearchOptions(&prepared);
    prepared.columnTable = kUsual.get();
    PrepareSearchOptions(&prepared);
    for (size_t length = 0; length <= 72; ++length) {
        for (size_t quote = 0; quote <= length + 1; ++quote) {
            std::string value, doubled;
            for (size_t i = 0; i < length; ++i) value += static_cast<char>('a' + i % 26);
            if (quote < length) value[quote] = '\'';  // quote == length: none.
            if (quote == length + 1 && length >= 2) value.front() = value.back() = '\'';
            for (char c : value) doubled += c == '\'' ? std::string("''") : std::string(1, c);
            for (bool like : {false, true}) {
                TreePtr tree(Op(like ? OP_CONTAINS : OP_EQ, Prop(PROP_DC_TITLE), Val(value.c_str())));
                const std::string sql = like ? " title  LIKE  '%" + doubled + "%' " : " title  =  '" + doubled + "' ";
                for (size_t size : {sql.size() + 1, sql.size()}) {
                    std::vector<char> out(size + 8, '\x7f'), old(out);
                    EXPECT_EQ(ConvertSQLConditionEx(tree.get(), kUsual.get(), nullptr, out.data(), static_cast<int>(size)),
                              static_cast<int>(sql.size()));
                    ConvertSQLCondition(tree.get(), kUsual.get(), nullptr, old.data(), static_cast<int>(size));
                    EXPECT_EQ(std::string(out.data()), sql.substr(0, size - 1)) << value;
                    EXPECT_EQ(std::string(out.data() + size, 8), std::string(8, '\x7f')) << value;
                    EXPECT_EQ(old, out) << value;
                    const std::string criteria = std::string("dc:title ") + (like ? "contains" : "=") + " \"" + value + "\"";
                    std::vector<char> one(size + 8, '\x7f');
                    EXPECT_EQ(ConvertSearchCriteria(criteria.c_str(), -1, &prepared, one.data(), static_cast<int>(size), nullptr),
                              static_cast<int>(sql.size()));
                    EXPECT_EQ(std::string(one.data()), sql.substr(0, size - 1)) << value;
                    EXPECT_EQ(std::string(one.data() + size, 8), std::string(8, '\x7f')) << value;
                }
            }
        }
    }
}

// Left operands and groups nested on either side of the depth that the writer follows without a
// recursive call, alone and mixed, with an and-list after each level; and a left operand of an
// unknown kind as deep: nothing written for it, the rest in order.
TEST(SqlConditionWriter, NestedLeftOperandsAndGroups) {
    for (size_t depth = 1; depth <= 40; ++depth) {
        const std::string chain = "dc:title" + Repeat(R"( = "a")", depth), chainSql = " title " + Repeat(" =  'a' ", depth);
        const std::pair<std::string, std::string> cases[] = {
            {chain, chainSql},
            {Repeat("(", depth) + R"(dc:title = "a")" + Repeat(R"() or upnp:genre = "b")", depth),
             Repeat(" ( ", depth) + " title  =  'a' " + Repeat(" )  OR  genre  =  'b' ", depth)},
            {Repeat(R"((upnp:genre = "b" and )", depth) + chain + Repeat(")", depth),
             Repeat(" (  genre  =  'b'  AND ", depth) + chainSql + Repeat(" ) ", depth)}};
        for (const auto &c : cases) EXPECT_EQ(ToSql(Parse(c.first).get(), kUsual.get()), c.second) << c.first;
        ParseTreeNode *left = OfKind(7);
        for (size_t i = 0; i < depth; ++i) left = Op(OP_AND, left, Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x")));
        TreePtr tree(left);
        std::string sql;
        EXPECT_EQ(CaptureStdout([&] { sql = ToSql(tree.get(), kUsual.get()); }), "Something Error\n");
        EXPECT_EQ(sql, Repeat(" AND  title  =  'x' ", depth)) << depth;
    }
}

// The node at 'path' from the root: L, R and I step to the left operand, the right operand and a
// group's contents; nullptr for "-".
const ParseTreeNode *At(const ParseTreeNode *tree, const std::string &path) {
    if (path == "-") return nullptr;
    for (char step : path) tree = step == 'L' ? tree->left : step == 'R' ? tree->right : tree->inner;
    return tree;
}

TEST(SqlConditionWriter, ChecksTreesBeforeWriting) {
    for (const Case &row : ReadCases("sql-check.tsv")) {
        SCOPED_TRACE(row.where());
        TreePtr tree = Input(row);
        const EntryTable columns(TableText(row["columns"]));
        ParseTreeNode unset{};
        const ParseTreeNode *node = &unset;  // Must be overwritten, with nullptr too.
        const int code = CheckSQLCondition(tree.get(), columns.get(), &node);
        EXPECT_EQ(code, std::stoi(row["code"]));
        EXPECT_STREQ(SearchConditionMessage(code), row["message"].c_str());
        EXPECT_EQ(node, At(tree.get(), row["node"]));
        EXPECT_EQ(CheckSQLCondition(tree.get(), columns.get(), nullptr), code);
    }
    EXPECT_STREQ(SearchConditionMessage(SEARCH_CONDITION_UNKNOWN_KIND + 1), "unknown problem");
    EXPECT_STREQ(SearchConditionMessage(-1), "unknown problem");
}

TEST(MyStrCatf, KeepsTheFullLength) {
    char buf[8];
    memset(buf, 'x', sizeof buf);
    int len = 0;
    EXPECT_EQ(MyStrCatf(buf, &len, 4, " %s ", "abc"), 5);
    EXPECT_EQ(len, 5);
    EXPECT_EQ(std::string(buf, 5), std::string(" ab\0x", 5));
    len = 4;
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(MyStrCatf(buf, &len, 4, "%d", 12345), 5);
    EXPECT_EQ(len, 9);
    // Past the contract (*len beyond size): still nothing written and no negative bound.
    EXPECT_EQ(MyStrCatf(buf, &len, 4, "%s", "ab"), 2);
    EXPECT_EQ(len, 11);
    EXPECT_EQ(std::string(buf, 8), "xxxxxxxx");
    len = 2;
    EXPECT_EQ(MyStrCatf(buf, &len, 8, "%s-%d", "ab", 7), 4);
    EXPECT_EQ(len, 6);
    // Without a running length there is nowhere to count: refused.
    EXPECT_EQ(MyStrCatf(buf, nullptr, 8, "%s", "ab"), -1);
    EXPECT_EQ(std::string(buf, 7), std::string("xxab-7\0", 7));
}

// One rewrite per row, with an allocation failing when the row says so; the root is rewritten in
// place, so the host's pointer still holds the whole tree. A rewrite that succeeded finds nothing
// more to do when run again.
TEST(TreeRewrite, AlwaysTrueRewritesWholeTrees) {
    for (const Case &row : ReadCases("sql-always-true.tsv")) {
        SCOPED_TRACE(row.where());
        TreePtr tree = Input(row);
        const EntryTable supported(TableText(row["supported"]));
        const int property = row["property"].empty() ? 0 : IdNamed(row["property"], false);
        auto rewrite = [&] {
            return property != 0 ? SetAlwayTrueForProperty(tree.get(), property)
                                 : SetAlwayTrueForNonSupportedProperty(tree.get(), supported.get());
        };
        OpenAllocationWindow(row["failAt"].empty() ? 0 : std::stol(row["failAt"]));
        const int result = rewrite();
        CloseAllocationWindow();
        EXPECT_EQ(result, std::stoi(row["result"]));
        EXPECT_EQ(TreeToString(tree.get()), row["after"]);
        if (result != 0) continue;
        EXPECT_EQ(rewrite(), 0);
        EXPECT_EQ(TreeToString(tree.get()), row["after"]);
    }
}

// The nodes and value texts of the tree stay where they are, so a host's pointers into it stay good.
TEST(TreeRewrite, ContainerRewritesTrueRefIdCondition) {
    for (const Case &row : ReadCases("sql-container.tsv")) {
        SCOPED_TRACE(row.where());
        TreePtr tree = Input(row);
        const std::set<const void *> before = TreeBlocks(tree.get());
        const std::string container = row["container"];
        int result = -2;
        const std::string messages = CaptureStderr([&] {
            for (int call = 0; call < std::stoi(row["calls"]); ++call)
                result = CheckContainerIsSupportRefID(container == "-" ? nullptr : container.c_str(), tree.get());
        });
        EXPECT_EQ(result, std::stoi(row["result"]));
        EXPECT_EQ(messages, row["stderr"]);
        EXPECT_EQ(TreeToString(tree.get()), row["after"]);
        const std::set<const void *> after = TreeBlocks(tree.get());
        EXPECT_TRUE(std::includes(after.begin(), after.end(), before.begin(), before.end()));
    }
}

// The text is the value leaf's own, not a copy.
TEST(TreeQuery, GetUPnPClassReturnsTheTreesOwnText) {
    for (const Case &row : ReadCases("sql-class.tsv")) {
        SCOPED_TRACE(row.where());
        TreePtr tree = Input(row);
        const std::string before = TreeToString(tree.get());
        const char *found = nullptr;
        EXPECT_EQ(CaptureStdout([&] { found = GetUPnPClass(tree.get()); }), "");
        EXPECT_EQ(found != nullptr ? found : "null", row["class"]);
        EXPECT_TRUE(found == nullptr || TreeBlocks(tree.get()).count(found) == 1);
        EXPECT_EQ(TreeToString(tree.get()), before);
    }
}

// Rewriting the class conditions releases their values: GetUPnPClass finds none after it.
TEST(TreeQuery, GetUPnPClassAfterRewrites) {
    TreePtr tree(Parsed(R"(upnp:class = "a" or dc:title = "t" and upnp:class = "b")"));
    ASSERT_STREQ(GetUPnPClass(tree.get()), "a");
    ASSERT_EQ(SetAlwayTrueForProperty(tree.get(), PROP_UPNP_CLASS), 0);
    EXPECT_EQ(GetUPnPClass(tree.get()), nullptr);
}

// Whatever the count holds on entry the call starts from 0, since the count is also where the next
// entry goes; a null tree leaves it alone.
TEST(TreeQuery, GetPropertyListInWalkOrder) {
    for (const Case &row : ReadCases("sql-property-list.tsv")) {
        SCOPED_TRACE(row.where());
        TreePtr tree = Input(row);
        const std::string before = TreeToString(tree.get()), expected = row["ids"];
        const int listedCount = expected.empty() ? 0 : static_cast<int>(std::count(expected.begin(), expected.end(), ' ')) + 1;
        for (int onEntry : {0, 1, 9, 10, 1000000, -1, INT_MIN}) {
            int count = onEntry;
            OpenAllocationWindow(row["failAt"].empty() ? 0 : std::stol(row["failAt"]));
            int *ids = GetPropertyList(tree.get(), &count);
            const long allocations = CloseAllocationWindow();
            std::string listed;
            for (int i = 0; ids != nullptr && i < count; ++i) listed += (i == 0 ? "" : " ") + std::to_string(ids[i]);
            EXPECT_EQ(listed, expected) << onEntry;
            EXPECT_EQ(ids == nullptr, expected.empty()) << onEntry;
            EXPECT_EQ(count, tree == nullptr ? onEntry : listedCount) << onEntry;
            EXPECT_EQ(row["allocations"].empty() ? "" : std::to_string(allocations), row["allocations"]) << onEntry;
            EXPECT_EQ(row["frees"].empty() ? "" : std::to_string(FreesInWindow()), row["frees"]) << onEntry;
            free(ids);
        }
        EXPECT_EQ(TreeToString(tree.get()), before);
    }
}

TEST(TreeQuery, TravelTreePrintsWholeDumps) {
    for (const Case &row : ReadCases("sql-dump.tsv")) {
        SCOPED_TRACE(row.where());
        TreePtr tree = Input(row);
        const std::string before = TreeToString(tree.get());
        const EntryTable names(TableText(row["names"]));
        const int depth = std::stoi(row["depth"]);
        std::string dump;
        const std::string messages = CaptureStderr([&] {
            dump = CaptureStdout([&] {
                if (names.get() != nullptr) TravelTreeToStream(tree.get(), depth, stdout, names.get());
                else TravelTree(tree.get(), depth);
            });
        });
        EXPECT_EQ(dump, row["dump"]);
        EXPECT_EQ(messages, "");
        EXPECT_EQ(TreeToString(tree.get()), before);
    }
}

// Lines are composed in a buffer when they fit and printed by printf when they do not: deep
// indentation and long values around that buffer's size come out whole, and the result is the
// length of the value line, as printf's would be.
TEST(TreeQuery, TravelTreePrintsLongLinesWhole) {
    const std::pair<int, size_t> cases[] = {{15, 1},  {16, 1},  {17, 1},  {33, 1},  {100, 1},  {0, 0},  {0, 252},
                                            {0, 253}, {0, 254}, {0, 255}, {0, 300}, {0, 5000}, {60, 300}};
    for (const auto &c : cases) {
        std::string text(c.second, 'v');
        if (c.second > 2) text[c.second / 2] = '%';  // A percent sign is no format to the dump.
        TreePtr tree(Val(text.c_str()));
        int result = 0;
        const std::string dump = CaptureStdout([&] { result = TravelTree(tree.get(), c.first); });
        EXPECT_EQ(dump, Repeat("--->", static_cast<size_t>(c.first)) + "V:" + text + "\n") << c.first << " " << c.second;
        EXPECT_EQ(result, static_cast<int>(text.size()) + 3) << c.first << " " << c.second;
    }
}

}  // namespace
