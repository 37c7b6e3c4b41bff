// The rewrites through the C ABI: always-true rewriting of one property or of every unsupported
// one, and the reference-container rewrite; whole trees before and after. The SQL of any tree is
// the writer's business and has its own tests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "AllocationHooks.h"
#include "TreeText.h"

using namespace msc_test;

namespace {

const TokenEntry kTitleAndClass[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, "class"}, {0, nullptr}};
const TokenEntry kNothing[] = {{0, nullptr}};
// Every property but dc:creator, and an entry after the one that matters.
const TokenEntry kAllButCreator[] = {{1, ""},  {2, ""}, {4, ""},  {5, ""},  {6, ""},  {7, ""},
                                     {8, ""},  {9, ""}, {10, ""}, {11, ""}, {12, ""}, {0, nullptr}};

struct AlwaysTrueCase {
    ParseTreeNode *tree;
    int propertyId;                  // SetAlwayTrueForProperty when not 0,
    const TokenEntry *supported;     // else SetAlwayTrueForNonSupportedProperty with this table.
    int result;
    const char *after;
};

// A tree of the standard grammar.
ParseTreeNode *Standard(const char *criteria) {
    ParseTreeNode *tree = nullptr;
    Parse_searchExpEx(&tree, criteria, 0, static_cast<int>(strlen(criteria)) - 1, SEARCH_PARSE_STANDARD, nullptr);
    return tree;
}

int RunAlwaysTrue(const AlwaysTrueCase &c, ParseTreeNode *tree) {
    return c.propertyId != 0 ? SetAlwayTrueForProperty(tree, c.propertyId)
                             : SetAlwayTrueForNonSupportedProperty(tree, c.supported);
}

TEST(TreeRewrite, AlwaysTrueRewritesWholeTrees) {
    const AlwaysTrueCase cases[] = {
        {nullptr, PROP_DC_TITLE, nullptr, 0, "null"},
        {nullptr, 0, nullptr, 0, "null"},
        {Parsed(R"(upnp:genre = "a")"), PROP_DC_TITLE, nullptr, 0, R"(OP_EQ(PROP_UPNP_GENRE, "a"))"},
        {Parsed(R"(dc:title = "a")"), PROP_DC_TITLE, nullptr, 0, R"(OP_EQ("1", "1"))"},
        {Parsed(R"(dc:title = "a" and dc:date = "b")"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_AND(OP_EQ("1", "1"), OP_EQ(PROP_DC_DATE, "b")))"},
        {Parsed(R"(dc:date = "b" or dc:title = "a")"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_OR(OP_EQ(PROP_DC_DATE, "b"), OP_EQ("1", "0")))"},
        {Parsed(R"(dc:title = "a" or dc:title = "b")"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_OR(OP_EQ("1", "0"), OP_EQ("1", "0")))"},
        // The polarity comes from the nearest and/or above; groups and comparisons hand it on.
        {Parsed(R"(dc:date = "b" or (dc:title = "a"))"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_OR(OP_EQ(PROP_DC_DATE, "b"), GROUP(OP_EQ("1", "0"))))"},
        {Parsed(R"(dc:date = "b" and (dc:title = "a"))"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_AND(OP_EQ(PROP_DC_DATE, "b"), GROUP(OP_EQ("1", "1"))))"},
        {Parsed(R"((dc:title = "a"))"), PROP_DC_TITLE, nullptr, 0, R"(GROUP(OP_EQ("1", "1")))"},
        {Parsed(R"(dc:title = "a" or dc:date = "b" and dc:title = "c")"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_OR(OP_EQ("1", "0"), OP_AND(OP_EQ(PROP_DC_DATE, "b"), OP_EQ("1", "1"))))"},
        {Parsed(R"(dc:date = "x" and (dc:title = "a" or dc:date = "y"))"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_AND(OP_EQ(PROP_DC_DATE, "x"), GROUP(OP_OR(OP_EQ("1", "0"), OP_EQ(PROP_DC_DATE, "y")))))"},
        {Parsed(R"((dc:title = "a" or dc:date = "y") and dc:title = "b")"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_AND(GROUP(OP_OR(OP_EQ("1", "0"), OP_EQ(PROP_DC_DATE, "y"))), OP_EQ("1", "1")))"},
        // Mixed and/or lists are written flat and grouped AND over OR by the database: an operand
        // with an and on either side in the written text is true, one between ors only is false.
        {Parsed(R"(dc:title = "a" and dc:date = "b" or dc:creator = "c")"), PROP_DC_DATE, nullptr, 0,
         R"(OP_AND(OP_EQ(PROP_DC_TITLE, "a"), OP_OR(OP_EQ("1", "1"), OP_EQ(PROP_DC_CREATOR, "c"))))"},
        {Parsed(R"(dc:title = "a" and dc:date = "b" or dc:creator = "c")"), PROP_DC_CREATOR, nullptr, 0,
         R"(OP_AND(OP_EQ(PROP_DC_TITLE, "a"), OP_OR(OP_EQ(PROP_DC_DATE, "b"), OP_EQ("1", "0"))))"},
        {Parsed(R"(dc:title = "a" and dc:date = "b" and dc:creator = "c" or upnp:genre = "d")"), 0, kNothing, 0,
         R"(OP_AND(OP_EQ("1", "1"), OP_AND(OP_EQ("1", "1"), OP_OR(OP_EQ("1", "1"), OP_EQ("1", "0")))))"},
        {Parsed(R"(dc:title = "a" or dc:date = "b" and dc:creator = "c" or upnp:genre = "d")"), 0, kNothing, 0,
         R"(OP_OR(OP_EQ("1", "0"), OP_AND(OP_EQ("1", "1"), OP_OR(OP_EQ("1", "1"), OP_EQ("1", "0")))))"},
        {Parsed(R"(dc:title = "a" and dc:date = "b" or dc:creator = "c" and upnp:genre = "d")"), 0, kNothing, 0,
         R"(OP_AND(OP_EQ("1", "1"), OP_OR(OP_EQ("1", "1"), OP_AND(OP_EQ("1", "1"), OP_EQ("1", "1")))))"},
        {Parsed(R"(dc:title = "a" or dc:date = "b" or dc:creator = "c" and upnp:genre = "d")"), 0, kNothing, 0,
         R"(OP_OR(OP_EQ("1", "0"), OP_OR(OP_EQ("1", "0"), OP_AND(OP_EQ("1", "1"), OP_EQ("1", "1")))))"},
        {Parsed(R"(dc:title = "a" and dc:date = "b" and dc:creator = "c" and upnp:genre = "d")"), 0, kNothing, 0,
         R"(OP_AND(OP_EQ("1", "1"), OP_AND(OP_EQ("1", "1"), OP_AND(OP_EQ("1", "1"), OP_EQ("1", "1")))))"},
        {Parsed(R"(dc:title = "a" or dc:date = "b" or dc:creator = "c")"), 0, kNothing, 0,
         R"(OP_OR(OP_EQ("1", "0"), OP_OR(OP_EQ("1", "0"), OP_EQ("1", "0"))))"},
        // A group is one operand of its list and hands on the polarity of its place there; the
        // list inside is grouped on its own.
        {Parsed(R"(dc:date = "x" and (dc:title = "a") or dc:date = "y")"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_AND(OP_EQ(PROP_DC_DATE, "x"), OP_OR(GROUP(OP_EQ("1", "1")), OP_EQ(PROP_DC_DATE, "y"))))"},
        {Parsed(R"(dc:date = "x" or (dc:date = "y" and dc:title = "a" or dc:date = "z"))"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_OR(OP_EQ(PROP_DC_DATE, "x"), GROUP(OP_AND(OP_EQ(PROP_DC_DATE, "y"), OP_OR(OP_EQ("1", "1"), OP_EQ(PROP_DC_DATE, "z"))))))"},
        {Parsed(R"(dc:date = "x" and dc:title = "a" = "b" or dc:date = "y")"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_AND(OP_EQ(PROP_DC_DATE, "x"), OP_OR(OP_EQ(OP_EQ("1", "1"), "b"), OP_EQ(PROP_DC_DATE, "y"))))"},
        // A left-hung list is read in its written order as well.
        {Op(OP_AND, Op(OP_OR, Op(OP_EQ, Prop(PROP_DC_DATE), Val("x")), Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a"))),
            Op(OP_EQ, Prop(PROP_DC_DATE), Val("y"))),
         PROP_DC_TITLE, nullptr, 0,
         R"(OP_AND(OP_OR(OP_EQ(PROP_DC_DATE, "x"), OP_EQ("1", "1")), OP_EQ(PROP_DC_DATE, "y")))"},
        // An and/or node rewritten for a bare property operand keeps the polarity of the nearest
        // and/or above it, through groups.
        {Parsed(R"(dc:date = "x" and dc:date = "y" or dc:title)"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_AND(OP_EQ(PROP_DC_DATE, "x"), OP_EQ("1", "1")))"},
        {Parsed(R"(dc:date = "x" and (dc:date = "b" and dc:title) or dc:date = "y")"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_AND(OP_EQ(PROP_DC_DATE, "x"), OP_OR(GROUP(OP_EQ("1", "0")), OP_EQ(PROP_DC_DATE, "y"))))"},
        // The standard grammar builds lists by precedence, so the nearest and/or above already
        // is the SQL grouping.
        {Standard(R"(dc:title = "a" and dc:date = "b" or dc:creator = "c")"), 0, kNothing, 0,
         R"(OP_OR(OP_AND(OP_EQ("1", "1"), OP_EQ("1", "1")), OP_EQ("1", "0")))"},
        {Standard(R"(dc:title = "a" or dc:date = "b" and dc:creator = "c" or upnp:genre = "d")"), 0, kNothing, 0,
         R"(OP_OR(OP_EQ("1", "0"), OP_OR(OP_AND(OP_EQ("1", "1"), OP_EQ("1", "1")), OP_EQ("1", "0"))))"},
        {Standard(R"(dc:title = "a" and (dc:date = "b" or dc:creator = "c") and upnp:genre = "d")"), 0, kNothing, 0,
         R"(OP_AND(OP_EQ("1", "1"), OP_AND(GROUP(OP_OR(OP_EQ("1", "0"), OP_EQ("1", "0"))), OP_EQ("1", "1"))))"},
        // Any comparison operator becomes =.
        {Parsed(R"(dc:title contains "a")"), PROP_DC_TITLE, nullptr, 0, R"(OP_EQ("1", "1"))"},
        {Parsed("@refID exists true"), PROP_REFID, nullptr, 0, R"(OP_EQ("1", "1"))"},
        // Bare property leaves: at the root and inside a group they become the value "1"; as an
        // operand of and/or the logical node itself becomes the comparison.
        {Parsed("dc:title"), PROP_DC_TITLE, nullptr, 0, R"("1")"},
        {Parsed("(dc:title)"), PROP_DC_TITLE, nullptr, 0, R"(GROUP("1"))"},
        {Parsed(R"(dc:date = "b" or (dc:title))"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_OR(OP_EQ(PROP_DC_DATE, "b"), GROUP("1")))"},
        {Parsed(R"(dc:title and dc:date = "b")"), PROP_DC_TITLE, nullptr, 0, R"(OP_EQ("1", "1"))"},
        {Parsed(R"(dc:date = "b" and dc:title)"), PROP_DC_TITLE, nullptr, 0, R"(OP_EQ("1", "1"))"},
        {Parsed(R"(dc:date = "b" or dc:title)"), PROP_DC_TITLE, nullptr, 0, R"(OP_EQ("1", "1"))"},
        {Parsed(R"(dc:date = "x" or (dc:date = "b" and dc:title))"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_OR(OP_EQ(PROP_DC_DATE, "x"), GROUP(OP_EQ("1", "0"))))"},
        {Parsed(R"(dc:date = "x" and (dc:title or dc:date = "b"))"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_AND(OP_EQ(PROP_DC_DATE, "x"), GROUP(OP_EQ("1", "1"))))"},
        {Parsed("dc:title and"), PROP_DC_TITLE, nullptr, 0, R"(OP_EQ("1", "1"))"},
        {Op(OP_OR, Val("x"), Prop(PROP_DC_TITLE)), PROP_DC_TITLE, nullptr, 0, R"(OP_EQ("1", "1"))"},
        {Op(OP_AND, Op(OP_EQ, Prop(PROP_DC_DATE), Val("x")), Op(OP_OR, Prop(PROP_DC_DATE), Prop(PROP_DC_TITLE))),
         PROP_DC_TITLE, nullptr, 0, R"(OP_AND(OP_EQ(PROP_DC_DATE, "x"), OP_EQ("1", "1")))"},
        // The rewritten node's own polarity counts, not the one it hands to its operands.
        {Op(OP_OR, Op(OP_EQ, Prop(PROP_DC_DATE), Val("x")), Op(OP_AND, Prop(PROP_DC_DATE), Prop(PROP_DC_TITLE))),
         PROP_DC_TITLE, nullptr, 0, R"(OP_OR(OP_EQ(PROP_DC_DATE, "x"), OP_EQ("1", "0")))"},
        // Only the comparison on the property is rewritten in a chain.
        {Parsed(R"(dc:title = "a" = "b")"), PROP_DC_TITLE, nullptr, 0, R"(OP_EQ(OP_EQ("1", "1"), "b"))"},
        // A comparison hands on the polarity it received: under or the inner comparison is false.
        {Parsed(R"(dc:date = "x" or dc:title = "a" = "b")"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_OR(OP_EQ(PROP_DC_DATE, "x"), OP_EQ(OP_EQ("1", "0"), "b")))"},
        // Missing operands are passed over.
        {Parsed(R"(() and dc:title = "a")"), PROP_DC_TITLE, nullptr, 0,
         R"(OP_AND(GROUP(null), OP_EQ("1", "1")))"},
        {Op(OP_OR, nullptr, Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a"))), PROP_DC_TITLE, nullptr, 0,
         R"(OP_OR(null, OP_EQ("1", "0")))"},
        {Val("dc:title"), PROP_DC_TITLE, nullptr, 0, R"("dc:title")"},
        // A node of unknown kind stops the walk with -1; rewrites made before it stay.
        {OfKind(7), PROP_DC_TITLE, nullptr, -1, "KIND7"},
        {Op(OP_AND, Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a")),
            Op(OP_OR, OfKind(7), Op(OP_EQ, Prop(PROP_DC_TITLE), Val("b")))),
         PROP_DC_TITLE, nullptr, -1, R"(OP_AND(OP_EQ("1", "1"), OP_OR(KIND7, OP_EQ(PROP_DC_TITLE, "b"))))"},
        {Group(OfKind(5)), PROP_DC_TITLE, nullptr, -1, "GROUP(KIND5)"},
        {Op(OP_AND, Prop(PROP_DC_DATE), OfKind(6)), PROP_DC_TITLE, nullptr, -1, "OP_AND(PROP_DC_DATE, KIND6)"},
        // Comparisons of leaves as left operands of and/or: either side may match, a node of
        // unknown kind on the left stops the walk before the right is looked at.
        {Op(OP_OR, Op(OP_EQ, Val("v"), Prop(PROP_DC_TITLE)), Op(OP_EQ, Prop(PROP_DC_DATE), Val("x"))),
         PROP_DC_TITLE, nullptr, 0, R"(OP_OR(OP_EQ("1", "0"), OP_EQ(PROP_DC_DATE, "x")))"},
        {Op(OP_AND, Op(OP_LT, Prop(PROP_DC_DATE), nullptr), Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x"))),
         PROP_DC_TITLE, nullptr, 0, R"(OP_AND(OP_LT(PROP_DC_DATE, null), OP_EQ("1", "1")))"},
        {Op(OP_AND, Op(OP_EQ, Prop(PROP_DC_TITLE), OfKind(7)), Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x"))),
         PROP_DC_TITLE, nullptr, 0, R"(OP_AND(OP_EQ("1", "1"), OP_EQ("1", "1")))"},
        {Op(OP_AND, Op(OP_EQ, Prop(PROP_DC_DATE), OfKind(7)), Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x"))),
         PROP_DC_TITLE, nullptr, -1, R"(OP_AND(OP_EQ(PROP_DC_DATE, KIND7), OP_EQ(PROP_DC_TITLE, "x")))"},
        {Op(OP_OR, Op(OP_EQ, OfKind(6), Prop(PROP_DC_TITLE)), Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x"))),
         PROP_DC_TITLE, nullptr, -1, R"(OP_OR(OP_EQ(KIND6, PROP_DC_TITLE), OP_EQ(PROP_DC_TITLE, "x")))"},
        // Unsupported properties: a null or empty table supports nothing.
        {Parsed(R"(dc:title = "a" and dc:date = "b")"), 0, nullptr, 0,
         R"(OP_AND(OP_EQ("1", "1"), OP_EQ("1", "1")))"},
        {Parsed(R"(dc:title = "a" or dc:date = "b")"), 0, kNothing, 0,
         R"(OP_OR(OP_EQ("1", "0"), OP_EQ("1", "0")))"},
        {Parsed(R"(dc:title = "a" and dc:date = "b")"), 0, kTitleAndClass, 0,
         R"(OP_AND(OP_EQ(PROP_DC_TITLE, "a"), OP_EQ("1", "1")))"},
        {Parsed(R"(upnp:class derivedfrom "x" or (dc:creator = "a" and dc:title contains "b"))"), 0,
         kTitleAndClass, 0,
         R"(OP_OR(OP_DERIVED_FROM(PROP_UPNP_CLASS, "x"), GROUP(OP_AND(OP_EQ("1", "1"), OP_CONTAINS(PROP_DC_TITLE, "b")))))"},
        {Parsed(R"(dc:creator = "x" and upnp:genre = "y" or dc:creator)"), 0, kAllButCreator, 0,
         R"(OP_AND(OP_EQ("1", "1"), OP_EQ("1", "1")))"},
        {Op(OP_EQ, Prop(PROP_UNKNOWN), Val("x")), 0, kAllButCreator, 0, R"(OP_EQ("1", "1"))"},
        {Parsed("upnp:genre"), 0, kAllButCreator, 0, "PROP_UPNP_GENRE"},
    };
    for (const AlwaysTrueCase &c : cases) {
        ParseTreeNode *root = c.tree;
        TreePtr owned(root);
        const std::string before = TreeToString(root);
        EXPECT_EQ(RunAlwaysTrue(c, root), c.result) << before;
        // The root is rewritten in place: the host's pointer still holds the whole tree.
        EXPECT_EQ(TreeToString(root), c.after) << before;
    }
}

// A rewrite that finds nothing more to do leaves a rewritten tree as it is.
TEST(TreeRewrite, AlwaysTrueIsIdempotent) {
    const char *const texts[] = {
        R"(dc:title = "a" or dc:date = "b" and dc:title = "c")",
        R"((dc:title) and dc:date = "b" or (dc:title = "x" and dc:creator))",
    };
    for (const char *text : texts) {
        TreePtr tree(Parsed(text));
        ASSERT_EQ(SetAlwayTrueForNonSupportedProperty(tree.get(), kNothing), 0);
        const std::string once = TreeToString(tree.get());
        EXPECT_EQ(SetAlwayTrueForNonSupportedProperty(tree.get(), kNothing), 0);
        EXPECT_EQ(SetAlwayTrueForProperty(tree.get(), PROP_DC_TITLE), 0);
        EXPECT_EQ(TreeToString(tree.get()), once) << text;
        int count = -1;
        EXPECT_EQ(GetPropertyList(tree.get(), &count), nullptr) << once;
        EXPECT_EQ(count, 0) << once;
    }
}

struct FailureCase {
    const char *criteria;
    int propertyId;
    long failAt;
    const char *after;
};

// Memory running out at a given allocation of a rewrite: -1, and the partly rewritten node holds
// no value leaf without text.
TEST(TreeRewrite, AlwaysTrueReportsAllocationFailure) {
    const FailureCase cases[] = {
        // Left rewrite: the new right leaf's text, its node, then the left leaf's text "1".
        {R"(dc:title contains "a")", PROP_DC_TITLE, 1, "OP_CONTAINS(PROP_DC_TITLE, null)"},
        {R"(dc:title contains "a")", PROP_DC_TITLE, 2, "OP_CONTAINS(PROP_DC_TITLE, null)"},
        {R"(dc:title contains "a")", PROP_DC_TITLE, 3, R"(OP_CONTAINS(PROP_DC_TITLE, "1"))"},
        // Right rewrite: the new right leaf, then the new left leaf.
        {R"(dc:date = "b" and dc:title)", PROP_DC_TITLE, 1, R"(OP_AND(OP_EQ(PROP_DC_DATE, "b"), null))"},
        {R"(dc:date = "b" and dc:title)", PROP_DC_TITLE, 2, R"(OP_AND(OP_EQ(PROP_DC_DATE, "b"), null))"},
        {R"(dc:date = "b" and dc:title)", PROP_DC_TITLE, 3, R"(OP_AND(null, "1"))"},
        {R"(dc:date = "b" and dc:title)", PROP_DC_TITLE, 4, R"(OP_AND(null, "1"))"},
        // A bare leaf at the root or in a group stays a property leaf.
        {"dc:title", PROP_DC_TITLE, 1, "PROP_DC_TITLE"},
        {"(dc:title)", PROP_DC_TITLE, 1, "GROUP(PROP_DC_TITLE)"},
        // The walk stops at the failure; the second condition is not rewritten.
        {R"(dc:title = "a" or dc:title = "b")", PROP_DC_TITLE, 3,
         R"(OP_OR(OP_EQ(PROP_DC_TITLE, "0"), OP_EQ(PROP_DC_TITLE, "b")))"},
        {R"(dc:title = "a" or dc:title = "b")", PROP_DC_TITLE, 4,
         R"(OP_OR(OP_EQ("1", "0"), OP_EQ(PROP_DC_TITLE, null)))"},
    };
    for (const FailureCase &c : cases) {
        TreePtr tree(Parsed(c.criteria));
        OpenAllocationWindow(c.failAt);
        int result = SetAlwayTrueForProperty(tree.get(), c.propertyId);
        CloseAllocationWindow();
        EXPECT_EQ(result, -1) << c.criteria << " failing at " << c.failAt;
        EXPECT_EQ(TreeToString(tree.get()), c.after) << c.criteria << " failing at " << c.failAt;
    }
}

struct ContainerCase {
    const char *criteria;
    const char *containerId;
    int result;
    const char *after;
};

TEST(TreeRewrite, ContainerRewritesTrueRefIdCondition) {
    const ContainerCase cases[] = {
        {"@refID exists true", "A0$128$129", 0, R"(OP_EQ("1", "0"))"},
        {"@refID exists true", "A0$148$149", 0, R"(OP_EQ("1", "0"))"},
        {"@refID exists true", "A0$160$161", 0, R"(OP_EQ("1", "0"))"},
        // Whole, case-sensitive container names only.
        {"@refID exists true", "A0$128$1290", 0, R"(OP_EXISTS(PROP_REFID, "true"))"},
        {"@refID exists true", "a0$128$129", 0, R"(OP_EXISTS(PROP_REFID, "true"))"},
        {"@refID exists true", "A0$128$12", 0, R"(OP_EXISTS(PROP_REFID, "true"))"},
        {"@refID exists true", "0", 0, R"(OP_EXISTS(PROP_REFID, "true"))"},
        {"@refID exists true", "", 0, R"(OP_EXISTS(PROP_REFID, "true"))"},
        // The value must begin with "true" in any case.
        {"@refID exists TRUE", "A0$160$161", 0, R"(OP_EQ("1", "0"))"},
        {"@refID exists trueish", "A0$160$161", 0, R"(OP_EQ("1", "0"))"},
        {"@refID exists True1", "A0$128$129", 0, R"(OP_EQ("1", "0"))"},
        {"@refID exists false", "A0$148$149", 0, R"(OP_EXISTS(PROP_REFID, "false"))"},
        {"@refID exists tru", "A0$148$149", 0, R"(OP_EXISTS(PROP_REFID, "tru"))"},
        {R"(@refID exists "")", "A0$148$149", 0, R"(OP_EXISTS(PROP_REFID, ""))"},
        // Any operator qualifies; the parser has already turned an = value into a number.
        {"@refID = true", "A0$128$129", 0, R"(OP_EQ(PROP_REFID, "0"))"},
        {R"(upnp:class derivedfrom "abc" and @refID exists true)", "A0$128$129", 0,
         R"(OP_AND(OP_DERIVED_FROM(PROP_UPNP_CLASS, "abc"), OP_EQ("1", "0")))"},
        {R"((dc:title = "a" or @refID exists true) and dc:date = "b")", "A0$160$161", 0,
         R"(OP_AND(GROUP(OP_OR(OP_EQ(PROP_DC_TITLE, "a"), OP_EQ("1", "0"))), OP_EQ(PROP_DC_DATE, "b")))"},
        // Only the first condition on @refID is looked at.
        {"@refID exists false and @refID exists true", "A0$128$129", 0,
         R"(OP_AND(OP_EXISTS(PROP_REFID, "false"), OP_EXISTS(PROP_REFID, "true")))"},
        // No usable condition: 1, nothing changed.
        {R"(dc:title = "a")", "A0$128$129", 1, R"(OP_EQ(PROP_DC_TITLE, "a"))"},
        {R"(dc:title = "a")", "anything", 1, R"(OP_EQ(PROP_DC_TITLE, "a"))"},
        {"@refID", "A0$128$129", 1, "PROP_REFID"},
        {"(@refID)", "A0$128$129", 1, "GROUP(PROP_REFID)"},
        {R"(dc:title = "a" and @refID)", "A0$128$129", 1, R"(OP_AND(OP_EQ(PROP_DC_TITLE, "a"), PROP_REFID))"},
        {R"(@refID and dc:title = "a")", "A0$128$129", 1, R"(OP_AND(PROP_REFID, OP_EQ(PROP_DC_TITLE, "a")))"},
        // The bare leaf is found before the condition behind it, and makes the whole call a no-op.
        {R"(@refID or @refID exists true)", "A0$128$129", 1,
         R"(OP_OR(PROP_REFID, OP_EXISTS(PROP_REFID, "true")))"},
        {"()", "A0$128$129", 1, "GROUP(null)"},
        {"(@refID exists true) or @refID", "A0$128$129", 1,
         R"(OP_OR(GROUP(OP_EXISTS(PROP_REFID, "true")), PROP_REFID))"},
    };
    for (const ContainerCase &c : cases) {
        TreePtr tree(Parsed(c.criteria));
        int result = -2;
        std::string messages =
            CaptureStderr([&] { result = CheckContainerIsSupportRefID(c.containerId, tree.get()); });
        EXPECT_EQ(result, c.result) << c.criteria << " in " << c.containerId;
        EXPECT_EQ(messages, "") << c.criteria;
        EXPECT_EQ(TreeToString(tree.get()), c.after) << c.criteria << " in " << c.containerId;
    }
}

// The condition keeps its nodes and its value buffer: a text pointer taken before reads "0".
TEST(TreeRewrite, ContainerRewriteKeepsNodesAndValueBuffer) {
    TreePtr tree(Parsed(R"(upnp:class = "x" and @refID exists trueish)"));
    ParseTreeNode *condition = tree->right;
    ParseTreeNode *leftLeaf = condition->left;
    ParseTreeNode *valueLeaf = condition->right;
    const char *oldText = valueLeaf->text;
    ASSERT_STREQ(oldText, "trueish");

    EXPECT_EQ(CheckContainerIsSupportRefID("A0$148$149", tree.get()), 0);
    EXPECT_EQ(tree->right, condition);
    EXPECT_EQ(condition->left, leftLeaf);
    EXPECT_EQ(condition->right, valueLeaf);
    EXPECT_EQ(valueLeaf->text, oldText);
    EXPECT_EQ(std::string(oldText), "0");
    EXPECT_EQ(TreeToString(tree.get()), R"(OP_AND(OP_EQ(PROP_UPNP_CLASS, "x"), OP_EQ("1", "0")))");
}

// Each call rewrites the next true condition; when none is left the result is 1.
TEST(TreeRewrite, ContainerRewriteMovesToTheNextCondition) {
    TreePtr tree(Parsed("@refID exists true or (@refID exists TRUE)"));
    const char *const steps[] = {
        R"(OP_OR(OP_EQ("1", "0"), GROUP(OP_EXISTS(PROP_REFID, "TRUE"))))",
        R"(OP_OR(OP_EQ("1", "0"), GROUP(OP_EQ("1", "0"))))",
    };
    for (const char *step : steps) {
        EXPECT_EQ(CheckContainerIsSupportRefID("A0$128$129", tree.get()), 0);
        EXPECT_EQ(TreeToString(tree.get()), step);
    }
    EXPECT_EQ(CheckContainerIsSupportRefID("A0$128$129", tree.get()), 1);
    EXPECT_EQ(TreeToString(tree.get()), steps[1]);
}

struct ArgumentCase {
    const char *containerId;
    bool withTree;
    int result;
    const char *message;
};

TEST(TreeRewrite, ContainerReportsMissingArguments) {
    const ArgumentCase cases[] = {
        {nullptr, false, 1, "[SearchCriteriaParser.cpp][CheckContainerIsSupportRefID:1091]containerId is NULL\n"},
        {nullptr, true, 1, "[SearchCriteriaParser.cpp][CheckContainerIsSupportRefID:1091]containerId is NULL\n"},
        {"A0$128$129", false, 0, "[SearchCriteriaParser.cpp][CheckContainerIsSupportRefID:1095]pTree is NULL\n"},
        {"x", false, 0, "[SearchCriteriaParser.cpp][CheckContainerIsSupportRefID:1095]pTree is NULL\n"},
    };
    for (const ArgumentCase &c : cases) {
        TreePtr tree(Parsed("@refID exists true"));
        ParseTreeNode *given = c.withTree ? tree.get() : nullptr;
        int result = -2;
        std::string messages = CaptureStderr([&] { result = CheckContainerIsSupportRefID(c.containerId, given); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(messages, c.message);
        EXPECT_EQ(TreeToString(tree.get()), R"(OP_EXISTS(PROP_REFID, "true"))");
    }
}

}  // namespace
