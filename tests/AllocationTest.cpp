// Allocation failure and the allocation contract, through the interposed allocator.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AllocationHooks.h"
#include "TreeText.h"

using namespace msc_test;

namespace {

const char *const kCriteria =
    R"((upnp:class derivedfrom "object.item.audioItem" and (dc:title contains "love" or @id = "A0$1$65536")) or dc:date >= "2001")";

// A parse makes one allocation per node and one per value text, and nothing else.
TEST(Allocation, ParseAllocatesOncePerNodeAndText) {
    ParseTreeNode *tree = nullptr;
    long allocations = 0;
    CaptureStderr([&] {
        OpenAllocationWindow();
        Parse_searchExp(&tree, kCriteria, 0, static_cast<int>(strlen(kCriteria)) - 1);
        allocations = CloseAllocationWindow();
    });
    TreePtr owned(tree);
    ASSERT_EQ(TreeToString(tree),
              R"(OP_OR(GROUP(OP_AND(OP_DERIVED_FROM(PROP_UPNP_CLASS, "object.item.audioItem"), GROUP(OP_OR(OP_CONTAINS(PROP_DC_TITLE, "love"), OP_EQ(PROP_ID, "1"))))), OP_GE(PROP_DC_DATE, "2001")))");
    const long nodes = 2 /*groups*/ + 7 /*operators*/ + 4 /*properties*/ + 4 /*values*/;
    const long texts = 4;
    EXPECT_EQ(allocations, nodes + texts);
}

// Failing each allocation of a parse in turn: the result is 1, the tree null, nothing leaks
// (the sanitizer build checks that), and the next parse works again.
TEST(Allocation, ParseFailsCleanlyAtEveryAllocation) {
    for (long n = 1;; ++n) {
        ParseTreeNode *tree = reinterpret_cast<ParseTreeNode *>(&n);
        int result = -1;
        CaptureStderr([&] {
            OpenAllocationWindow(n);
            result = Parse_searchExp(&tree, kCriteria, 0, static_cast<int>(strlen(kCriteria)) - 1);
            CloseAllocationWindow();
        });
        if (result == 0) {
            freeParseTree(tree);
            EXPECT_GT(n, 8);
            break;
        }
        EXPECT_EQ(result, 1) << n;
        EXPECT_EQ(tree, nullptr) << n;
    }
}

// Nodes and value texts of a tree: what a parse must allocate, one block each.
long CountBlocks(const ParseTreeNode *node) {
    if (node == nullptr) return 0;
    switch (node->kind) {
        case NODE_OPERATOR: return 1 + CountBlocks(node->left) + CountBlocks(node->right);
        case NODE_GROUP: return 1 + CountBlocks(node->inner);
        case NODE_VALUE: return 2;
        default: return 1;
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
        EXPECT_EQ(allocations, CountBlocks(tree)) << criteria << " -> " << TreeToString(tree);
    }
}

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"}, {PROP_DC_DATE, "date"},
                               {PROP_UPNP_CLASS, "class"}, {PROP_REFID, "ref_id"},
                               {0, nullptr}};

// Convert writes into the caller's buffer and allocates nothing: whole texts, cut texts and
// measuring calls alike.
TEST(Allocation, ConvertAllocatesNothing) {
    const struct {
        const char *criteria;
        const char *prefix;
        int outSize;
        const char *sql;
    } kCases[] = {
        {R"(upnp:class derivedfrom "object.item.audioItem" and @refID exists false)", nullptr, 256,
         " class  LIKE  '%object.item.audioItem%'  AND  ref_id  IS  NOT NULL "},
        {R"((dc:title contains "Don't" or dc:date >= "2001"))", "t.", 256,
         " (  t.title  LIKE  '%Don''t%'  OR  t.date  >=  '2001'  ) "},
        {R"(dc:title = "a" = "b")", nullptr, 12, " title  =  "},
        {R"(upnp:genre = "x")", nullptr, 64, " (null)  =  'x' "},
    };
    for (const auto &c : kCases) {
        TreePtr tree = Parse(c.criteria);
        std::vector<char> out(static_cast<size_t>(c.outSize), 'x');
        OpenAllocationWindow();
        int written = ConvertSQLConditionEx(tree.get(), kColumns, c.prefix, out.data(), c.outSize);
        int measured = ConvertSQLConditionEx(tree.get(), kColumns, c.prefix, nullptr, 0);
        long allocations = CloseAllocationWindow();
        EXPECT_EQ(allocations, 0) << c.criteria;
        EXPECT_EQ(std::string(out.data()), c.sql) << c.criteria;
        // Both report the length of the whole text, also when the buffer cut it.
        const int whole = static_cast<int>(ToSql(tree.get(), kColumns, c.prefix).size());
        EXPECT_EQ(written, whole) << c.criteria;
        EXPECT_EQ(measured, whole) << c.criteria;
    }
}

// The lookups read the tree; only the container rewrite that turns a condition into "1" = "0"
// takes memory, for the text "1".
TEST(Allocation, LookupsAllocateNothing) {
    const struct {
        const char *criteria;
        const char *container;
        const char *upnpClass;  // nullptr: none
        int containerResult;
        long allocations;
        const char *treeAfter;
    } kCases[] = {
        {R"(upnp:class derivedfrom "object.item.audioItem" and @refID exists false)", "A0$128$129",
         "object.item.audioItem", 0, 0,
         R"(OP_AND(OP_DERIVED_FROM(PROP_UPNP_CLASS, "object.item.audioItem"), OP_EXISTS(PROP_REFID, "false")))"},
        {R"(dc:title = "x" or upnp:class = "y")", "A0$128$129", "y", 1, 0,
         R"(OP_OR(OP_EQ(PROP_DC_TITLE, "x"), OP_EQ(PROP_UPNP_CLASS, "y")))"},
        {R"(@refID exists true)", "0", nullptr, 0, 0, R"(OP_EXISTS(PROP_REFID, "true"))"},
        {R"(@refID exists true)", "A0$148$149", nullptr, 0, 1, R"(OP_EQ("1", "0"))"},
    };
    for (const auto &c : kCases) {
        TreePtr tree = Parse(c.criteria);
        OpenAllocationWindow();
        const char *upnpClass = GetUPnPClass(tree.get());
        int containerResult = CheckContainerIsSupportRefID(c.container, tree.get());
        long allocations = CloseAllocationWindow();
        EXPECT_EQ(allocations, c.allocations) << c.criteria;
        EXPECT_STREQ(upnpClass, c.upnpClass) << c.criteria;
        EXPECT_EQ(containerResult, c.containerResult) << c.criteria;
        EXPECT_EQ(TreeToString(tree.get()), c.treeAfter) << c.criteria;
    }
}

// An or-list of 'terms' comparisons, cycling through the first four properties.
std::string OrList(int terms, std::vector<int> *ids) {
    static const char *const kNames[] = {"dc:title", "dc:date", "dc:creator", "upnp:class"};
    std::string criteria;
    for (int i = 0; i < terms; ++i) {
        if (i > 0) criteria += " or ";
        criteria += std::string(kNames[i % 4]) + " = \"v\"";
        ids->push_back(i % 4 + 1);
    }
    return criteria;
}

// The property list takes one block, with room for whole blocks of 10 entries, however many
// leaves the tree has.
TEST(Allocation, PropertyListAllocatesOnlyItsArray) {
    for (int terms : {0, 1, 9, 10, 11, 20, 21, 1000}) {
        std::vector<int> ids;
        TreePtr tree = Parse(OrList(terms, &ids));
        int count = 0;
        OpenAllocationWindow();
        int *list = GetPropertyList(tree.get(), &count);
        long allocations = CloseAllocationWindow();
        std::unique_ptr<int, decltype(&free)> owned(list, free);
        EXPECT_EQ(allocations, terms == 0 ? 0 : 1) << terms;
        ASSERT_EQ(count, terms);
        EXPECT_EQ(std::vector<int>(list, list + count), ids) << terms;
        if (terms > 0) {
            size_t room = static_cast<size_t>((terms + 9) / 10 * 10) * sizeof(int);
            EXPECT_GE(malloc_usable_size(list), room) << terms;
        }
    }
}

TEST(Allocation, PropertyListFailsCleanly) {
    std::vector<int> ids;
    TreePtr tree = Parse(OrList(25, &ids));
    int count = 0;
    OpenAllocationWindow(1);
    int *list = GetPropertyList(tree.get(), &count);
    long allocations = CloseAllocationWindow();
    EXPECT_EQ(allocations, 1);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0);
}

}  // namespace
