// The dump through TravelTree: whole outputs, and the result of its last output call.
#include <gtest/gtest.h>

#include <string>

#include "TreeText.h"

using namespace msc_test;

namespace {

TEST(TreeDump, PrintsWholeTrees) {
    const struct {
        const char *criteria;
        int depth;
        const char *dump;
    } kCases[] = {
        {R"((upnp:class = "x" and @refID exists "true"))", 0,
         "->()\n--->--->--->P:upnp:class\n--->--->O:=\n--->--->--->V:x\n--->O:and\n"
         "--->--->--->P:@refID\n--->--->O:exists\n--->--->--->V:true\n<-()\n"},
        {R"(dc:title contains "" or upnp:genre)", 1,
         "--->--->--->P:dc:title\n--->--->O:contains\n--->--->--->V:\n--->O:or\n--->--->P:upnp:genre\n"},
        {"dc:title doesNotContain a", -1, "P:dc:title\nO:doesNotContain\nV:a\n"},
    };
    for (const auto &c : kCases) {
        TreePtr tree = Parse(c.criteria);
        std::string dump = CaptureStdout([&] { TravelTree(tree.get(), c.depth); });
        EXPECT_EQ(dump, c.dump) << c.criteria;
    }
}

// Lines are composed in a buffer when they fit and printed by printf when they do not; both
// give the same bytes, and the result is the line's length, as printf's would be.
TEST(TreeDump, LongValuesPrintWhole) {
    for (size_t length : {0u, 1u, 252u, 253u, 254u, 255u, 300u, 5000u}) {
        std::string text(length, 'v');
        if (length > 2) text[length / 2] = '%';  // A percent sign is no format to the dump.
        TreePtr tree(Val(text.c_str()));
        int result = 0;
        std::string dump = CaptureStdout([&] { result = TravelTree(tree.get(), 0); });
        EXPECT_EQ(dump, "V:" + text + "\n") << length;
        EXPECT_EQ(result, static_cast<int>(length) + 3) << length;
    }
}

}  // namespace
