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

// The exported tables are read by hosts directly: each is pinned whole, identifiers as numbers so
// that a renumbered enum shows too, up to a terminator without a name.
TEST(ParseTree, TablesHoldExactlyTheirEntries) {
    const std::pair<const TokenEntry *, const char *> cases[] = {
        {g_PropertyName, "1=dc:title 2=dc:date 3=dc:creator 4=upnp:class 5=upnp:actor 6=upnp:artist "
                         "7=upnp:album 8=upnp:genre 9=@refID 10=@id 11=res 12=upnp:originalTrackNumber 0=END"},
        {g_LogOpName, "10=and 11=or 0=END"},
        {g_LogOpSQL, "10=AND 11=OR 0=END"},
        {g_BinOpName, "20== 21=!= 22=< 23=<= 24=> 25=>= 26=contains 27=doesNotContain 28=derivedfrom 29=is 0=END"},
        {g_BinOpSQL, "20== 21=<> 22=< 23=<= 24=> 25=>= 26=LIKE 27=NOT LIKE 28=LIKE 29== 0=END"},
        {g_ExistOpName, "30=exists 0=END"},
        {g_ExistOpSQL, "30=IS 0=END"},
    };
    for (const auto &c : cases) {
        std::string listed;
        for (const TokenEntry *entry = c.first;; ++entry) {
            listed += (listed.empty() ? "" : " ") + std::to_string(entry->id) + "=" +
                      (entry->name != nullptr ? entry->name : "END");
            if (entry->id == 0 || listed.size() > 400) break;
        }
        EXPECT_EQ(listed, c.second);
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
        // Comparisons of leaves as left operands, with unknown and missing leaves on either side.
        {Op(OP_OR, Op(OP_EQ, OfKind(5), Prop(PROP_DC_TITLE)), Op(OP_EQ, Prop(PROP_DC_TITLE), nullptr)),
         "OP_OR(OP_EQ(null, PROP_DC_TITLE), OP_EQ(PROP_DC_TITLE, null))"},
        {Op(OP_AND, Op(OP_LT, Prop(PROP_DC_DATE), OfKind(6)), Val("x")), R"(OP_AND(OP_LT(PROP_DC_DATE, null), "x"))"},
        {Op(OP_AND, Op(OP_NE, nullptr, Val("v")), Op(OP_OR, Op(OP_EQ, Val("a"), Val("b")), nullptr)),
         R"(OP_AND(OP_NE(null, "v"), OP_OR(OP_EQ("a", "b"), null)))"},
    };
    for (const CloneCase &c : cases) {
        TreePtr original(c.tree);
        const std::string before = TreeToString(original.get());
        TreePtr copy(CloneParseTree(original.get()));
        EXPECT_EQ(TreeToString(copy.get()), c.copy) << before;

        const std::set<const void *> originalBlocks = TreeBlocks(original.get());
        for (const void *block : TreeBlocks(copy.get())) {
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
        // Comparisons of a property and a value, alone, under and/or and without a right operand.
        {Op(OP_AND, Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a")),
            Op(OP_OR, Op(OP_EQ, Prop(PROP_DC_DATE), Val("b")), Op(OP_EQ, Prop(PROP_DC_CREATOR), Val("c")))),
         14},
        {Op(OP_AND, Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a")), nullptr), 5},
        {Op(OP_EQ, Prop(PROP_DC_TITLE), Op(OP_EQ, Prop(PROP_DC_DATE), Val("x"))), 6},
        {Op(OP_OR, Op(OP_EQ, Prop(PROP_DC_TITLE), Group(Val("a"))), Op(OP_EQ, Prop(PROP_DC_TITLE), nullptr)), 8},
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

// A host may build a tree deeper than any parse gives: freeing one needs no stack per level.
// 100,000 levels of left operands and of groups, freed on a 64 KiB stack.
TEST(ParseTree, FreeNeedsNoStackPerLevel) {
    constexpr long kLevels = 100000;
    ParseTreeNode *leftChain = Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a"));
    ParseTreeNode *groups = Val("b");
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

}  // namespace
