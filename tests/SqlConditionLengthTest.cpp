// ConvertSQLConditionEx: the classic conversion that also returns the length of the whole text,
// so that a host can see a cut text and retry with a buffer of that length plus one.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "TreeText.h"

using namespace msc_test;

namespace {

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"},   {PROP_DC_DATE, "date"},
                               {PROP_UPNP_CLASS, "class"}, {PROP_UPNP_GENRE, "genre"},
                               {PROP_REFID, "ref_id"},     {0, nullptr}};

struct LengthCase {
    std::string criteria;
    const char *prefix;
    std::string sql;  // The whole text, as a large enough buffer receives it.
};

std::vector<LengthCase> LengthCases() {
    // A list long enough that most buffer sizes cut it, with quotes doubled along the way.
    std::string list = R"(dc:title = "x")", listSql = " media.title  =  'x' ";
    for (int i = 0; i < 40; ++i) {
        list += R"( and upnp:genre contains "r'n'b")";
        listSql += " AND  media.genre  LIKE  '%r''n''b%' ";
    }
    return {
        {R"(dc:title contains "abc" and upnp:genre = "abc")", nullptr,
         " title  LIKE  '%abc%'  AND  genre  =  'abc' "},
        {R"((upnp:genre exists true and dc:title != "O'x") or @refID exists false)", "t.",
         " (  t.genre  IS  NOT NULL  AND  t.title  <>  'O''x'  )  OR  t.ref_id  IS  NOT NULL "},
        {"()", nullptr, " (  ) "},
        {"dc:title", "", " title "},
        {"", nullptr, ""},
        {list, "media.", listSql},
    };
}

// For every buffer size the result is the whole length, and the buffer holds exactly what the
// classic conversion puts there, guard bytes behind it included.
TEST(ConvertSQLConditionEx, ReturnsTheWholeLengthForEveryBufferSize) {
    for (const LengthCase &c : LengthCases()) {
        TreePtr tree = Parse(c.criteria);
        ASSERT_EQ(ToSql(tree.get(), kColumns, c.prefix), c.sql) << c.criteria;
        const int whole = static_cast<int>(c.sql.size());
        for (int size = 1; size <= whole + 2; ++size) {
            std::vector<char> ex(static_cast<size_t>(size) + 8, '\x7f');
            std::vector<char> classic(ex);
            EXPECT_EQ(ConvertSQLConditionEx(tree.get(), kColumns, c.prefix, ex.data(), size), whole)
                << c.criteria << " in " << size;
            ConvertSQLCondition(tree.get(), kColumns, c.prefix, classic.data(), size);
            ASSERT_EQ(ex, classic) << c.criteria << " in " << size;
            EXPECT_EQ(std::string(ex.data()), c.sql.substr(0, static_cast<size_t>(size) - 1))
                << c.criteria << " in " << size;
        }
    }
}

// Without a buffer, or with no room in it, the call only measures and writes nothing.
TEST(ConvertSQLConditionEx, MeasuresWithoutABuffer) {
    for (const LengthCase &c : LengthCases()) {
        TreePtr tree = Parse(c.criteria);
        const int whole = static_cast<int>(c.sql.size());
        for (int size : {0, 1, 100, -1, INT_MIN}) {
            EXPECT_EQ(ConvertSQLConditionEx(tree.get(), kColumns, c.prefix, nullptr, size), whole)
                << c.criteria << " in " << size;
        }
        char guard[4] = {'\x7f', '\x7f', '\x7f', '\x7f'};
        for (int size : {0, -1, INT_MIN}) {
            EXPECT_EQ(ConvertSQLConditionEx(tree.get(), kColumns, c.prefix, guard, size), whole)
                << c.criteria << " in " << size;
            EXPECT_EQ(std::string(guard, 4), "\x7f\x7f\x7f\x7f") << c.criteria << " in " << size;
        }
    }
}

// The host's retry loop: measure, grow to the result plus one, convert again.
TEST(ConvertSQLConditionEx, RetryWithTheReturnedLengthGivesTheWholeText) {
    for (const LengthCase &c : LengthCases()) {
        TreePtr tree = Parse(c.criteria);
        std::vector<char> out(8);
        int length = ConvertSQLConditionEx(tree.get(), kColumns, c.prefix, out.data(),
                                           static_cast<int>(out.size()));
        if (length >= static_cast<int>(out.size())) {
            out.resize(static_cast<size_t>(length) + 1);
            EXPECT_EQ(ConvertSQLConditionEx(tree.get(), kColumns, c.prefix, out.data(), length + 1),
                      length);
        }
        EXPECT_EQ(std::string(out.data()), c.sql) << c.criteria;
    }
}

// Nodes of an unknown kind write nothing and count nothing, also in a measuring call.
TEST(ConvertSQLConditionEx, CountsOnlyWhatItWrites) {
    TreePtr tree(Op(OP_AND, OfKind(7), Op(OP_EQ, Prop(PROP_DC_TITLE), Val("x"))));
    int length = -1;
    EXPECT_EQ(CaptureStdout([&] {
                  length = ConvertSQLConditionEx(tree.get(), kColumns, nullptr, nullptr, 0);
              }),
              "Something Error\n");
    EXPECT_EQ(length, static_cast<int>(strlen(" AND  title  =  'x' ")));
}

}  // namespace
