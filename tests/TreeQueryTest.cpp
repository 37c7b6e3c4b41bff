// The read-only queries through the C ABI: the class value, the property list and the tree dump,
// each compared whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AllocationHooks.h"
#include "TreeText.h"

using namespace msc_test;

namespace {

struct ClassCase {
    ParseTreeNode *tree;
    const ParseTreeNode *valueLeaf;  // whose own text pointer is the result, or null
};

TEST(TreeQuery, GetUPnPClassReturnsTheTreesOwnText) {
    ParseTreeNode *y = Val("y");
    ParseTreeNode *first = Val("first");
    ParseTreeNode *inGroup = Val("in group");
    ParseTreeNode *later = Val("later");
    ParseTreeNode *afterMissing = Val("after missing");
    ParseTreeNode *afterKind = Val("after kind");
    ParseTreeNode *deeper = Val("deeper");
    ParseTreeNode *exists = Val("true");
    ParseTreeNode *afterUnknown = Val("after");
    ParseTreeNode *parsed = Parsed(R"(dc:title = "a" and (upnp:class derivedfrom "object.item" or upnp:class = "b"))");
    const ParseTreeNode *parsedLeaf = parsed->right->inner->left->right;
    const ClassCase cases[] = {
        {nullptr, nullptr},
        {Prop(PROP_UPNP_CLASS), nullptr},
        {Val("upnp:class"), nullptr},
        {Group(nullptr), nullptr},
        {Op(OP_AND, Group(nullptr), nullptr), nullptr},
        {Group(Prop(PROP_UPNP_CLASS)), nullptr},
        {Op(OP_EQ, Val("v"), Prop(PROP_UPNP_CLASS)), nullptr},
        {Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x")), nullptr},
        {Op(OP_AND, Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x")), Op(OP_EQ, Prop(PROP_UPNP_CLASS), y)), y},
        {Op(OP_OR, Op(OP_EQ, Prop(PROP_UPNP_CLASS), first), Op(OP_EQ, Prop(PROP_UPNP_CLASS), Val("second"))),
         first},
        {Op(OP_AND, Group(Op(OP_EQ, Prop(PROP_UPNP_CLASS), inGroup)), Op(OP_EQ, Prop(PROP_UPNP_CLASS), Val("right"))),
         inGroup},
        {Op(OP_NE, Prop(PROP_UPNP_CLASS), exists), exists},
        {parsed, parsedLeaf},
        // Only the first condition counts, even when its value is no value leaf.
        {Op(OP_AND, Op(OP_EQ, Prop(PROP_UPNP_CLASS), Group(Val("a"))), Op(OP_EQ, Prop(PROP_UPNP_CLASS), Val("b"))),
         nullptr},
        {Op(OP_AND, Prop(PROP_UPNP_CLASS), Op(OP_EQ, Prop(PROP_UPNP_CLASS), Val("b"))), nullptr},
        {Op(OP_EQ, Prop(PROP_UPNP_CLASS), nullptr), nullptr},
        // An operator's own operands come first: the bare leaf on the right ends the search before
        // the condition inside the left operand is reached.
        {Parsed(R"((upnp:class = "in group") or upnp:class)"), nullptr},
        // A node of unknown kind is passed over.
        {Op(OP_AND, OfKind(7), Op(OP_EQ, Prop(PROP_UPNP_CLASS), afterUnknown)), afterUnknown},
        // A rewritten condition is no longer found; a later one is.
        {Op(OP_AND, Op(OP_EQ, Val("1"), Val("1")), Op(OP_EQ, Prop(PROP_UPNP_CLASS), later)), later},
        // A comparison as the left operand of and/or: its right operand counts as much as its
        // left, missing and unknown operands pass, and one that holds more is searched whole.
        {Op(OP_AND, Op(OP_EQ, Val("v"), Prop(PROP_UPNP_CLASS)), Op(OP_EQ, Prop(PROP_UPNP_CLASS), Val("b"))),
         nullptr},
        {Op(OP_OR, Op(OP_EQ, Prop(PROP_DC_TITLE), nullptr), Op(OP_EQ, Prop(PROP_UPNP_CLASS), afterMissing)),
         afterMissing},
        {Op(OP_OR, Op(OP_EQ, OfKind(6), Val("x")), Op(OP_EQ, Prop(PROP_UPNP_CLASS), afterKind)), afterKind},
        {Op(OP_AND, Op(OP_EQ, nullptr, Op(OP_EQ, Prop(PROP_UPNP_CLASS), deeper)),
            Op(OP_EQ, Prop(PROP_UPNP_CLASS), Val("b"))),
         deeper},
    };
    for (const ClassCase &c : cases) {
        TreePtr tree(c.tree);
        const std::string before = TreeToString(tree.get());
        const char *expected = c.valueLeaf != nullptr ? c.valueLeaf->text : nullptr;
        std::string messages =
            CaptureStdout([&] { EXPECT_EQ(GetUPnPClass(tree.get()), expected) << before; });
        EXPECT_EQ(messages, "");
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

struct ListCase {
    ParseTreeNode *tree;
    std::vector<int> ids;  // empty: a null result
};

TEST(TreeQuery, GetPropertyListInWalkOrder) {
    const ListCase cases[] = {
        {Val("x"), {}},
        {Group(nullptr), {}},
        {Op(OP_EQ, Val("1"), Val("1")), {}},
        {Prop(PROP_DC_TITLE), {PROP_DC_TITLE}},
        {Op(OP_AND, Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a")),
            Op(OP_OR, Op(OP_EQ, Prop(PROP_UPNP_CLASS), Val("b")), Op(OP_EQ, Prop(PROP_DC_TITLE), Val("c")))),
         {1, 4, 1}},
        {Parsed(R"((upnp:class derivedfrom "x" and (dc:title contains "a" or upnp:artist)) or @refID exists false)"),
         {4, 1, 6, 9}},
        {Parsed(R"(dc:date = "a" = "b" and (()) or (upnp:genre))"), {2, 8}},
        // Property leaves wherever they stand, and identifiers that no table names.
        {Op(OP_EQ, Val("v"), Prop(PROP_DC_CREATOR)), {PROP_DC_CREATOR}},
        {Op(OP_AND, Prop(99), Group(Prop(-5))), {99, -5}},
        {Op(OP_AND, nullptr, Prop(PROP_RES)), {PROP_RES}},
        // A node of unknown kind ends the whole walk.
        {Op(OP_OR, OfKind(7), Prop(PROP_DC_TITLE)), {}},
        {Op(OP_AND, Op(OP_EQ, Prop(PROP_DC_CREATOR), Val("a")), Op(OP_OR, OfKind(7), Prop(PROP_DC_TITLE))),
         {PROP_DC_CREATOR}},
        {Op(OP_AND, Group(Op(OP_OR, Prop(3), Group(OfKind(4)))), Prop(5)), {3}},
        // Comparisons as left operands of and/or, with leaves on either side or missing.
        {Op(OP_AND, Op(OP_EQ, Val("v"), Prop(3)), Op(OP_EQ, Prop(1), Val("x"))), {3, 1}},
        {Op(OP_AND, Op(OP_EQ, Prop(2), Prop(3)), Prop(4)), {2, 3, 4}},
        {Op(OP_OR, Op(OP_EQ, nullptr, Prop(3)), Op(OP_AND, Op(OP_EQ, Prop(5), nullptr), Prop(4))), {3, 5, 4}},
        {Op(OP_AND, Op(OP_EQ, Prop(2), OfKind(7)), Prop(4)), {2}},
        {Op(OP_AND, Op(OP_EQ, OfKind(7), Prop(3)), Prop(4)), {}},
    };
    for (const ListCase &c : cases) {
        TreePtr tree(c.tree);
        const std::string before = TreeToString(tree.get());
        int count = 0;
        int *ids = GetPropertyList(tree.get(), &count);
        std::vector<int> listed;
        if (ids != nullptr) listed.assign(ids, ids + count);
        free(ids);
        EXPECT_EQ(listed, c.ids) << before;
        EXPECT_EQ(ids == nullptr, c.ids.empty()) << before;
        EXPECT_EQ(count, static_cast<int>(c.ids.size())) << before;
        EXPECT_EQ(TreeToString(tree.get()), before);
    }
}

// A null tree leaves the count alone; any other call starts from 0 whatever the caller left in
// the count, since the count is also where the next entry is stored.
TEST(TreeQuery, GetPropertyListCountOnEntry) {
    int count = 0;
    EXPECT_EQ(GetPropertyList(nullptr, &count), nullptr);
    EXPECT_EQ(count, 0);

    TreePtr tree(Parsed(R"(dc:title = "a" and upnp:genre = "b")"));
    for (int onEntry : {0, 1, 9, 10, 1000000, -1, -2147483647 - 1}) {
        count = onEntry;
        int *ids = GetPropertyList(tree.get(), &count);
        ASSERT_NE(ids, nullptr) << onEntry;
        EXPECT_EQ(std::vector<int>(ids, ids + count), (std::vector<int>{PROP_DC_TITLE, PROP_UPNP_GENRE}))
            << onEntry;
        free(ids);
    }
    TreePtr empty(Group(nullptr));
    count = 5;
    EXPECT_EQ(GetPropertyList(empty.get(), &count), nullptr);
    EXPECT_EQ(count, 0);
}

std::string BarePropertyList(int leaves) {
    std::string text;
    for (int i = 0; i < leaves; ++i) text += i == 0 ? "dc:title" : " and upnp:genre";
    return text;
}

struct GrowthCase {
    int leaves;
    long allocations;
};

// The array grows by exactly 10 entries at a time: one allocation per started block of ten.
TEST(TreeQuery, GetPropertyListGrowsByTen) {
    const GrowthCase cases[] = {{1, 1}, {9, 1}, {10, 1}, {11, 2}, {20, 2}, {21, 3}, {95, 10}};
    for (const GrowthCase &c : cases) {
        TreePtr tree = Parse(BarePropertyList(c.leaves));
        int count = 0;
        OpenAllocationWindow();
        int *ids = GetPropertyList(tree.get(), &count);
        long allocations = CloseAllocationWindow();
        EXPECT_EQ(allocations, c.allocations) << c.leaves << " leaves";
        ASSERT_NE(ids, nullptr);
        std::vector<int> expected(static_cast<size_t>(c.leaves), PROP_UPNP_GENRE);
        expected[0] = PROP_DC_TITLE;
        EXPECT_EQ(std::vector<int>(ids, ids + count), expected);
        free(ids);
    }
}

// When the array cannot grow, what was gathered is freed and the result is null with count 0.
TEST(TreeQuery, GetPropertyListWithoutMemory) {
    TreePtr tree = Parse(BarePropertyList(25));
    for (long failAt = 1; failAt <= 3; ++failAt) {
        int count = 0;
        OpenAllocationWindow(failAt);
        int *ids = GetPropertyList(tree.get(), &count);
        long calls = CloseAllocationWindow();
        EXPECT_EQ(ids, nullptr) << failAt;
        EXPECT_EQ(count, 0) << failAt;
        EXPECT_EQ(calls, failAt) << "the walk went on after the failure";
        EXPECT_EQ(FreesInWindow(), failAt == 1 ? 0 : 1) << failAt;
        free(ids);
    }
}

struct DumpCase {
    ParseTreeNode *tree;
    int depth;
    const char *dump;
    const TokenEntry *host = nullptr;  // Given: the dump of TravelTreeToStream with these names.
};

const TokenEntry kHostNames[] = {
    {PROP_HOST_FIRST, "last_updated"}, {PROP_HOST_FIRST + 1, "upnp:artist[@role=\"AlbumArtist\"]"}, {0, nullptr}};

TEST(TreeQuery, TravelTreePrintsWholeDumps) {
    const DumpCase cases[] = {
        // A group around an and of a comparison and an exists condition.
        {Group(Op(OP_AND, Op(OP_EQ, Prop(PROP_UPNP_CLASS), Val("x")), Op(OP_EXISTS, Prop(PROP_REFID), Val("true")))),
         0,
         "->()\n"
         "--->--->--->P:upnp:class\n"
         "--->--->O:=\n"
         "--->--->--->V:x\n"
         "--->O:and\n"
         "--->--->--->P:@refID\n"
         "--->--->O:exists\n"
         "--->--->--->V:true\n"
         "<-()\n"},
        {Op(OP_EQ, Prop(PROP_DC_TITLE), nullptr), 0, "--->P:dc:title\nO:=\n--->NULL\n"},
        {nullptr, 0, "NULL\n"},
        {nullptr, 2, "--->--->NULL\n"},
        {Group(nullptr), 0, "->()\n--->NULL\n<-()\n"},
        {Group(nullptr), 3, "--->--->--->->()\n--->--->--->--->NULL\n<-()\n"},
        {Val("abc"), 1, "--->V:abc\n"},
        {Val(""), 0, "V:\n"},
        {Op(OP_AND, nullptr, nullptr), 0, "--->NULL\nO:and\n--->NULL\n"},
        // A negative depth writes no indentation for the node, and its children stand one deeper.
        {Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x")), -1, "P:dc:title\nO:=\nV:x\n"},
        {Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x")), -2147483647 - 1, "P:dc:title\nO:=\nV:x\n"},
        {Group(Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x"))), -1, "->()\n--->P:dc:title\nO:=\n--->V:x\n<-()\n"},
        // Names that the tables lack.
        {Op(15, Prop(PROP_DC_TITLE), Val("x")), 0, "--->P:dc:title\nO:(null)\n--->V:x\n"},
        {Op(31, Prop(PROP_DC_TITLE), Val("x")), 1, "--->--->P:dc:title\n--->O:(null)\n--->--->V:x\n"},
        {Prop(13), 0, "P:(null)\n"},
        {Op(41, Prop(PROP_DC_TITLE), Val("x")), 0, "--->P:dc:title\nO:(null)\n--->V:x\n"},
        {Op(OP_STARTS_WITH, Prop(PROP_UPNP_ALBUM), Val("Mid")), 0, "--->P:upnp:album\nO:startsWith\n--->V:Mid\n"},
        // A host's property: its name from the host's table, which only TravelTreeToStream has.
        {Prop(PROP_HOST_FIRST), 0, "P:(null)\n"},
        {Op(OP_OR, Prop(PROP_HOST_FIRST + 1), Op(OP_EQ, Prop(PROP_HOST_FIRST), Prop(PROP_DC_TITLE))), 0,
         "--->P:upnp:artist[@role=\"AlbumArtist\"]\nO:or\n--->--->P:last_updated\n--->O:=\n--->--->P:dc:title\n",
         kHostNames},
        {Prop(PROP_HOST_FIRST + 2), 1, "--->P:(null)\n", kHostNames},
        {Prop(0), 2, "--->--->P:(null)\n"},
        {Prop(PROP_UPNP_ORIGINAL_TRACK_NUMBER), 0, "P:upnp:originalTrackNumber\n"},
        // Operators of 9 or less have no line at all, indentation included.
        {Op(9, Prop(PROP_DC_TITLE), Val("x")), 1, "--->--->P:dc:title\n--->--->V:x\n"},
        {Op(-7, Op(0, Val("a"), Val("b")), nullptr), 0, "--->--->V:a\n--->--->V:b\n--->NULL\n"},
        // A node of unknown kind gets its line and the dump goes on.
        {Op(OP_OR, OfKind(7), Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x"))), 0,
         "--->Something Error\nO:or\n--->--->P:dc:title\n--->O:=\n--->--->V:x\n"},
        {OfKind(4), 2, "--->--->Something Error\n"},
        {Group(OfKind(9)), 0, "->()\n--->Something Error\n<-()\n"},
        // Each group opens at its depth and closes at the start of the line.
        {Group(Group(Group(Prop(PROP_DC_TITLE)))), 0,
         "->()\n--->->()\n--->--->->()\n--->--->--->P:dc:title\n<-()\n<-()\n<-()\n"},
        // A parsed list: each further operand one level deeper, in the order of the text.
        {Parsed(R"(dc:title doesNotContain "a" and upnp:class derivedfrom "b" or (@id exists true))"), 0,
         "--->--->P:dc:title\n"
         "--->O:doesNotContain\n"
         "--->--->V:a\n"
         "O:and\n"
         "--->--->--->P:upnp:class\n"
         "--->--->O:derivedfrom\n"
         "--->--->--->V:b\n"
         "--->O:or\n"
         "--->--->->()\n"
         "--->--->--->--->P:@id\n"
         "--->--->--->O:exists\n"
         "--->--->--->--->V:true\n"
         "<-()\n"},
        {Parsed(R"(upnp:genre != "x" = "y")"), 0,
         "--->--->P:upnp:genre\n--->O:!=\n--->--->V:x\nO:=\n--->V:y\n"},
    };
    for (const DumpCase &c : cases) {
        TreePtr tree(c.tree);
        const std::string shape = TreeToString(tree.get());
        std::string dump;
        std::string messages = CaptureStderr([&] {
            dump = CaptureStdout([&] {
                if (c.host != nullptr) TravelTreeToStream(tree.get(), c.depth, stdout, c.host);
                else TravelTree(tree.get(), c.depth);
            });
        });
        EXPECT_EQ(dump, c.dump) << shape << " at depth " << c.depth;
        EXPECT_EQ(messages, "") << shape;
        EXPECT_EQ(TreeToString(tree.get()), shape);
    }
}

// Lines are composed in a buffer when they fit and printed by printf when they do not: deep
// indentation and long values around that buffer's size come out whole, and the result is the
// length of the value line, as printf's would be.
TEST(TreeQuery, TravelTreePrintsLongLinesWhole) {
    const struct {
        int depth;
        size_t length;
    } cases[] = {{15, 1}, {16, 1}, {17, 1}, {33, 1}, {100, 1}, {0, 0}, {0, 252}, {0, 253},
                 {0, 254}, {0, 255}, {0, 300}, {0, 5000}, {60, 300}};
    for (const auto &c : cases) {
        std::string text(c.length, 'v');
        if (c.length > 2) text[c.length / 2] = '%';  // A percent sign is no format to the dump.
        TreePtr tree(Val(text.c_str()));
        int result = 0;
        std::string dump = CaptureStdout([&] { result = TravelTree(tree.get(), c.depth); });
        const std::string line = "V:" + text + "\n";  // The indentation is written apart.
        EXPECT_EQ(dump, Repeat("--->", static_cast<size_t>(c.depth)) + line) << c.depth << " " << c.length;
        EXPECT_EQ(result, static_cast<int>(line.size())) << c.depth << " " << c.length;
    }
}

}  // namespace
