// Allocation failure and the allocation contract, through the interposed allocator.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

}  // namespace
