// The parse tree through the C ABI: the exported tables, the node record's layout, and freeing and
// copying trees of every shape.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "AllocationHooks.h"
#include "TreeText.h"

using namespace msc_test;

namespace {

// The node record and the table entry are ABI: hosts compiled against an older header read the
// fields at these offsets.
static_assert(offsetof(ParseTreeNode, kind) == 0, "kind comes first");
static_assert(offsetof(ParseTreeNode, inner) == sizeof(void *), "one pointer-sized first slot");
static_assert(offsetof(ParseTreeNode, left) == offsetof(ParseTreeNode, inner), "slot is a union");
static_assert(offsetof(ParseTreeNode, propertyId) == offsetof(ParseTreeNode, inner), "slot is a union");
static_assert(offsetof(ParseTreeNode, text) == offsetof(ParseTreeNode, inner), "slot is a union");
static_assert(offsetof(ParseTreeNode, right) == 2 * sizeof(void *), "right after the slot");
static_assert(offsetof(ParseTreeNode, opId) == 3 * sizeof(void *), "opId last");
static_assert(sizeof(ParseTreeNode) == 4 * sizeof(void *), "no field after opId");
static_assert(sizeof(((ParseTreeNode *)nullptr)->kind) == 4, "kind is 32-bit");
static_assert(sizeof(((ParseTreeNode *)nullptr)->propertyId) == 4, "propertyId is 32-bit");
static_assert(sizeof(((ParseTreeNode *)nullptr)->opId) == 4, "opId is 32-bit");
static_assert(offsetof(TokenEntry, id) == 0 && sizeof(((TokenEntry *)nullptr)->id) == 4, "id");
static_assert(offsetof(TokenEntry, name) == sizeof(void *), "name after id");
static_assert(NODE_GROUP == 0 && NODE_OPERATOR == 1 && NODE_PROPERTY == 2 && NODE_VALUE == 3,
              "node kinds");

using Entries = std::vector<std::pair<int, std::string>>;

struct TableCase {
    const char *name;
    const TokenEntry *table;
    Entries entries;
};

TEST(ParseTree, TablesHoldExactlyTheirEntries) {
    const TableCase cases[] = {
        {"g_PropertyName",
         g_PropertyName,
         {{PROP_DC_TITLE, "dc:title"},
          {PROP_DC_DATE, "dc:date"},
          {PROP_DC_CREATOR, "dc:creator"},
          {PROP_UPNP_CLASS, "upnp:class"},
          {PROP_UPNP_ACTOR, "upnp:actor"},
          {PROP_UPNP_ARTIST, "upnp:artist"},
          {PROP_UPNP_ALBUM, "upnp:album"},
          {PROP_UPNP_GENRE, "upnp:genre"},
          {PROP_REFID, "@refID"},
          {PROP_ID, "@id"},
          {PROP_RES, "res"},
          {PROP_UPNP_ORIGINAL_TRACK_NUMBER, "upnp:originalTrackNumber"}}},
        {"g_LogOpName", g_LogOpName, {{OP_AND, "and"}, {OP_OR, "or"}}},
        {"g_LogOpSQL", g_LogOpSQL, {{OP_AND, "AND"}, {OP_OR, "OR"}}},
        {"g_BinOpName",
         g_BinOpName,
         {{OP_EQ, "="},
          {OP_NE, "!="},
          {OP_LT, "<"},
          {OP_LE, "<="},
          {OP_GT, ">"},
          {OP_GE, ">="},
          {OP_CONTAINS, "contains"},
          {OP_DOES_NOT_CONTAIN, "doesNotContain"},
          {OP_DERIVED_FROM, "derivedfrom"},
          {OP_IS, "is"}}},
        {"g_BinOpSQL",
         g_BinOpSQL,
         {{OP_EQ, "="},
          {OP_NE, "<>"},
          {OP_LT, "<"},
          {OP_LE, "<="},
          {OP_GT, ">"},
          {OP_GE, ">="},
          {OP_CONTAINS, "LIKE"},
          {OP_DOES_NOT_CONTAIN, "NOT LIKE"},
          {OP_DERIVED_FROM, "LIKE"},
          {OP_IS, "="}}},
        {"g_ExistOpName", g_ExistOpName, {{OP_EXISTS, "exists"}}},
        {"g_ExistOpSQL", g_ExistOpSQL, {{OP_EXISTS, "IS"}}},
    };
    // The identifiers themselves, so that a renumbered enum cannot hide behind the tables.
    const Entries ids = {{PROP_DC_TITLE, "1"},  {PROP_UPNP_ORIGINAL_TRACK_NUMBER, "12"},
                         {OP_AND, "10"},        {OP_OR, "11"},
                         {OP_EQ, "20"},         {OP_IS, "29"},
                         {OP_EXISTS, "30"}};
    for (const auto &id : ids) EXPECT_EQ(std::to_string(id.first), id.second);

    for (const TableCase &c : cases) {
        Entries actual;
        const TokenEntry *entry = c.table;
        for (; entry->id != 0 && actual.size() <= c.entries.size(); ++entry) {
            actual.emplace_back(entry->id, entry->name != nullptr ? entry->name : "<null>");
        }
        EXPECT_EQ(actual, c.entries) << c.name;
        EXPECT_EQ(entry->id, 0) << c.name;
        EXPECT_EQ(entry->name, nullptr) << c.name << ": the terminator has no name";
    }
}

// Every node and every value text of a tree, to show that two trees share no memory.
void CollectBlocks(const ParseTreeNode *node, std::set<const void *> *blocks) {
    while (node != nullptr) {
        blocks->insert(node);
        switch (node->kind) {
            case NODE_OPERATOR:
                CollectBlocks(node->left, blocks);
                node = node->right;
                break;
            case NODE_GROUP:
                node = node->inner;
                break;
            case NODE_VALUE:
                blocks->insert(node->text);
                return;
            default:
                return;
        }
    }
}

struct CloneCase {
    ParseTreeNode *tree;
    const char *copy;  // TreeToString of the copy
};

TEST(ParseTree, CloneIsEqualAndSharesNothing) {
    const CloneCase cases[] = {
        {nullptr, "null"},
        {Prop(PROP_UPNP_GENRE), "PROP_UPNP_GENRE"},
        {Prop(99), "PROP99"},
        {Val(""), R"("")"},
        {Val("a\"b\xC3\x01"), "\"a\"b\xC3\x01\""},
        {Group(nullptr), "GROUP(null)"},
        {Op(OP_AND, nullptr, nullptr), "OP_AND(null, null)"},
        {Op(77, Val("1"), Val("0")), R"(OP77("1", "0"))"},
        // Every kind of node in one tree, a rewritten comparison included.
        {Op(OP_OR,
            Group(Op(OP_AND, Op(OP_DERIVED_FROM, Prop(PROP_UPNP_CLASS), Val("object.item")),
                     Op(OP_EQ, Op(OP_EQ, Prop(PROP_ID), Val("1")), Val("abc$65536")))),
            Op(OP_AND, Op(OP_EQ, Val("1"), Val("0")), Op(OP_OR, Prop(PROP_DC_TITLE), Group(nullptr)))),
         R"(OP_OR(GROUP(OP_AND(OP_DERIVED_FROM(PROP_UPNP_CLASS, "object.item"), OP_EQ(OP_EQ(PROP_ID, "1"), "abc$65536"))), OP_AND(OP_EQ("1", "0"), OP_OR(PROP_DC_TITLE, GROUP(null)))))"},
        // A node of unknown kind has no copy: the root gives null, a child leaves a null in place.
        {OfKind(7), "null"},
        {OfKind(0xFFFFFFFFu), "null"},
        {Op(OP_AND, OfKind(4), Prop(PROP_DC_DATE)), "OP_AND(null, PROP_DC_DATE)"},
        {Op(OP_AND, Prop(PROP_DC_DATE), OfKind(4)), "OP_AND(PROP_DC_DATE, null)"},
        {Group(OfKind(9)), "GROUP(null)"},
    };
    for (const CloneCase &c : cases) {
        TreePtr original(c.tree);
        const std::string before = TreeToString(original.get());
        TreePtr copy(CloneParseTree(original.get()));
        EXPECT_EQ(TreeToString(copy.get()), c.copy) << before;

        std::set<const void *> originalBlocks, copyBlocks;
        CollectBlocks(original.get(), &originalBlocks);
        CollectBlocks(copy.get(), &copyBlocks);
        for (const void *block : copyBlocks) {
            EXPECT_EQ(originalBlocks.count(block), 0u) << before << ": the copy shares a block";
        }
        EXPECT_EQ(TreeToString(original.get()), before) << "copying changed the original";
        original.reset();  // The copy must outlive its original (the sanitizer build checks reads).
        EXPECT_EQ(TreeToString(copy.get()), c.copy) << before;
    }
}

TEST(ParseTree, CloneOfParsedTreePrintsTheSameSql) {
    const TokenEntry columns[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, "class"}, {0, nullptr}};
    TreePtr original = Parse(R"((upnp:class derivedfrom "object.item" and dc:title = "O'x") or dc:title)");
    ASSERT_NE(original, nullptr);
    const std::string sql = ToSql(original.get(), columns, "t.");
    TreePtr copy(CloneParseTree(original.get()));
    original.reset();
    EXPECT_EQ(ToSql(copy.get(), columns, "t."), sql);
    EXPECT_EQ(sql, " (  t.class  LIKE  '%object.item%'  AND  t.title  =  'O''x'  )  OR  t.title ");
}

struct FreeCase {
    ParseTreeNode *tree;
    long blocks;  // nodes and value texts that freeing releases
};

// freeParseTree releases every node and value text of every shape, and nothing else: counted
// through the interposed free.
TEST(ParseTree, FreeReleasesEveryNodeAndText) {
    const FreeCase cases[] = {
        {nullptr, 0},
        {Prop(PROP_DC_TITLE), 1},
        {Val("abc"), 2},
        {Group(nullptr), 1},
        {Group(Val("x")), 3},
        {Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a")), 4},
        {Op(OP_AND, nullptr, nullptr), 1},
        {Op(OP_AND, Prop(PROP_DC_TITLE), nullptr), 2},
        {Op(OP_AND, nullptr, Prop(PROP_DC_TITLE)), 2},
        {OfKind(7), 1},
        {Op(OP_OR, OfKind(5), Group(OfKind(6))), 4},
        {Op(OP_OR, Group(Op(OP_AND, Op(OP_EQ, Val("1"), Val("1")), Prop(3))),
            Op(OP_AND, Op(OP_CONTAINS, Op(OP_EQ, Prop(PROP_ID), Val("1")), Val("2")), Group(nullptr))),
         18},
    };
    for (const FreeCase &c : cases) {
        const std::string shape = TreeToString(c.tree);
        OpenAllocationWindow();
        freeParseTree(c.tree);
        CloseAllocationWindow();
        EXPECT_EQ(FreesInWindow(), c.blocks) << shape;
    }
}

// Memory running out at any allocation of a copy gives null and leaves nothing behind, so that
// no node without its operand and no value leaf without its text can reach the host.
TEST(ParseTree, CloneFailsWholeAtEveryAllocation) {
    TreePtr original = Parse(
        R"((upnp:class derivedfrom "object.item.audioItem" and (dc:title contains "love" or upnp:artist = "x")) or dc:date >= "2001" and dc:creator)");
    ASSERT_NE(original, nullptr);
    const std::string expected = TreeToString(original.get());
    OpenAllocationWindow();
    TreePtr whole(CloneParseTree(original.get()));
    const long allocations = CloseAllocationWindow();
    ASSERT_EQ(TreeToString(whole.get()), expected);
    ASSERT_EQ(allocations, 19 + 4);  // one per node, one per value text
    whole.reset();

    for (long n = 1; n <= allocations; ++n) {
        OpenAllocationWindow(n);
        ParseTreeNode *copy = CloneParseTree(original.get());
        const long calls = CloseAllocationWindow();
        EXPECT_EQ(copy, nullptr) << "allocation " << n << " failed";
        EXPECT_EQ(calls, n) << "the copy went on after a failed allocation";
        EXPECT_EQ(FreesInWindow(), n - 1) << "allocation " << n << ": partial copy leaked";
        freeParseTree(copy);
    }
    EXPECT_EQ(TreeToString(original.get()), expected);
}

}  // namespace
