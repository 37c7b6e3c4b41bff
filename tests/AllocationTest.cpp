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

}  // namespace
