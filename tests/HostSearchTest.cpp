// The host sequence of the command-line tool through the library's C ABI: what a criteria
// becomes (class, properties, rewrites, the whole SQL condition), and what the host refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HostSearch.h"
#include "TreeText.h"

using namespace msc_host;

namespace {

// The whole outcome of the sequence on one line.
std::string Outcome(const HostSearch &search) {
    static const char *const kStatus[] = {"everything", "condition", "parse failed", "unusable"};
    std::string text = kStatus[search.status];
    if (search.status == HostSearch::kParseFailed) return text + ": " + DescribeParseError(search.error);
    if (search.status == HostSearch::kUnusable) text += ": " + search.problem;
    if (search.status == HostSearch::kEverything) return text;
    std::string properties;
    const TokenTable host = SampleHostProperties();
    for (int id : search.properties) properties += (properties.empty() ? "" : ",") + PropertyName(id, &host);
    std::string alwaysTrue;
    for (int id : search.alwaysTrue) alwaysTrue += (alwaysTrue.empty() ? "" : ",") + PropertyName(id, &host);
    text += "|class=" + (search.hasClass ? search.upnpClass : "(none)") + "|properties=" + properties +
            "|always-true=" + alwaysTrue + "|refID=" + (search.refIdMadeFalse ? "false" : "kept");
    if (search.status == HostSearch::kCondition) text += "|sql=" + search.condition;
    return text;
}

struct SequenceCase {
    const char *criteria;
    const char *container;
    const char *prefix;
    const char *supported;  // nullptr: every property with a column.
    const char *outcome;
    bool standard = false;  // The standard grammar, with the sample's own properties.
};

const SequenceCase kSequenceCases[] = {
    {R"(upnp:class derivedfrom "object.item.audioItem" and @refID exists false)", "0", "", nullptr,
     "condition|class=object.item.audioItem|properties=upnp:class,@refID|always-true=|refID=kept"
     "|sql= class  LIKE  '%object.item.audioItem%' ESCAPE '!'  AND  own_id  IS  NOT NULL "},
    {R"(upnp:class derivedfrom "object.item.audioItem" and @refID exists false)", "A0$128$129", "o.", nullptr,
     "condition|class=object.item.audioItem|properties=upnp:class,@refID|always-true=|refID=kept"
     "|sql= o.class  LIKE  '%object.item.audioItem%' ESCAPE '!'  AND  o.own_id  IS  NOT NULL "},
    // res has no column in the sample's table: its condition drops out of the and.
    {R"(upnp:class derivedfrom "object.item.videoItem" and res@duration < "0:30:00")", "0", "", nullptr,
     "condition|class=object.item.videoItem|properties=upnp:class,res|always-true=res|refID=kept"
     "|sql= class  LIKE  '%object.item.videoItem%' ESCAPE '!'  AND  '1'  =  '1' "},
    {R"(dc:title = "a" or upnp:genre = "b")", "0", "", "none",
     "condition|class=(none)|properties=dc:title,upnp:genre|always-true=dc:title,upnp:genre|refID=kept"
     "|sql= '1'  =  '0'  OR  '1'  =  '0' "},
    {R"(dc:title = "a" and upnp:genre = "b" and dc:title = "c")", "0", "", "dc:title",
     "condition|class=(none)|properties=dc:title,upnp:genre,dc:title|always-true=upnp:genre|refID=kept"
     "|sql= title  =  'a'  AND  '1'  =  '1'  AND  title  =  'c' "},
    {R"(upnp:class = "object.item.videoItem" and @refID exists true)", "A0$148$149", "", nullptr,
     "condition|class=object.item.videoItem|properties=upnp:class,@refID|always-true=|refID=false"
     "|sql= class  =  'object.item.videoItem'  AND  '1'  =  '0' "},
    {R"(upnp:class = "object.item.videoItem" and @refID exists false)", "A0$148$149", "", nullptr,
     "condition|class=object.item.videoItem|properties=upnp:class,@refID|always-true=|refID=kept"
     "|sql= class  =  'object.item.videoItem'  AND  own_id  IS  NOT NULL "},
    {R"(@id = "A0$128$129$66912385")", "0", "", nullptr,
     "condition|class=(none)|properties=@id|always-true=|refID=kept|sql= num_id  =  '1021' "},
    {R"(dc:title = "O'Brien" and upnp:class = "a" or upnp:class = "b")", "0", "", nullptr,
     "condition|class=a|properties=dc:title,upnp:class,upnp:class|always-true=|refID=kept"
     "|sql= title  =  'O''Brien'  AND  class  =  'a'  OR  class  =  'b' "},
    {"*", "0", "", nullptr, "everything"},
    {" \t* ", "0", "", nullptr, "everything"},
    {"   ", "0", "", nullptr, "everything"},
    {"", "0", "", nullptr, "everything"},
    {"**", "0", "", nullptr, "parse failed: expected a property at byte 0"},
    {R"(dc:title xx "a")", "0", "", nullptr, "parse failed: expected an operator or a logical keyword at byte 9"},
    {R"(dc:title = )", "0", "", nullptr, "parse failed: missing value after the operator at byte 11"},
    {R"((dc:title = "a")", "0", "", nullptr, "parse failed: unbalanced parentheses at byte 0"},
    // Parsed, but nothing a database could run.
    {R"(dc:title = "x" and)", "0", "", nullptr,
     "unusable: an operator without its operand: \"and\" has no right operand|class=(none)|properties=dc:title|always-true=|refID=kept"},
    {R"((dc:title = "x") or)", "0", "", nullptr,
     "unusable: an operator without its operand: \"or\" has no right operand|class=(none)|properties=dc:title|always-true=|refID=kept"},
    {"()", "0", "", nullptr, "unusable: empty parentheses|class=(none)|properties=|always-true=|refID=kept"},
    {R"(dc:title or dc:date = "x")", "0", "", nullptr,
     "unusable: a property without an operator and a value: dc:title|class=(none)|properties=dc:title,dc:date"
     "|always-true=|refID=kept"},
    // The sample has a res column: supported on request only, as it cannot answer res@duration.
    {R"(res = "x")", "0", "", "res", "condition|class=(none)|properties=res|always-true=|refID=kept|sql= res  =  'x' "},
    // A rewrite can make a dangling operator whole: the and with a bare property becomes "1" = "1".
    {R"(res and)", "0", "", nullptr,
     "condition|class=(none)|properties=res|always-true=res|refID=kept|sql= '1'  =  '1' "},
    // The sample's own properties in the standard grammar: columns of their own, and rewritten
    // like any other when the host does not support them; an unlisted name stays unknown.
    {R"(upnp:class derivedfrom "object.item.videoItem" and res@duration < "0:30:00")", "0", "", nullptr,
     "condition|class=object.item.videoItem|properties=upnp:class,res@duration|always-true=|refID=kept"
     "|sql= class  LIKE  '%object.item.videoItem%' ESCAPE '!'  AND  duration  <  '0:30:00' ",
     true},
    {R"(upnp:album startsWith "O'" or upnp:artist[@role = "AlbumArtist"] = "x" or upnp:artist[@role="Conductor"] = "y")",
     "0", "", "upnp:album",
     "condition|class=(none)|properties=upnp:album,upnp:artist[@role=\"AlbumArtist\"],(unknown property)"
     "|always-true=upnp:artist[@role=\"AlbumArtist\"],(unknown property)|refID=kept"
     "|sql= album  LIKE  'O''%' ESCAPE '!'  OR  '1'  =  '0'  OR  '1'  =  '0' ",
     true},
};

TEST(HostSequence, GivesTheWholeOutcome) {
    for (const SequenceCase &c : kSequenceCases) {
        HostOptions options;
        options.container = c.container;
        options.prefix = c.prefix;
        options.standard = c.standard;
        if (c.supported != nullptr) {
            std::string error;
            ASSERT_TRUE(ParsePropertyList(c.supported, &options.supported, &error)) << error;
        }
        HostSearch search = RunHostSequence(c.criteria, options);
        EXPECT_EQ(Outcome(search), c.outcome) << c.criteria;
        EXPECT_EQ(Outcome(RunOneCall(c.criteria, options)), c.outcome) << c.criteria;
        // The dump's size as the tool measures it before it dumps, and the limit that stops it.
        for (const msc::Tree *tree : {&search.parsed, &search.rewritten}) {
            if (!*tree) continue;
            size_t size = tree->dump(0, options.hostProperties.Entries()).size();
            EXPECT_EQ(DumpSize(tree->get(), size, &options.hostProperties), size) << c.criteria;
            EXPECT_EQ(DumpSize(tree->get(), size - 1, &options.hostProperties), size) << c.criteria;
        }
    }
}

// The trees the host keeps: the parsed one untouched by the rewrites that changed the other.
TEST(HostSequence, KeepsTheParsedTreeApartFromTheRewrittenOne) {
    HostOptions options;
    options.container = "A0$160$161";
    HostSearch search = RunHostSequence(R"(res exists true and @refID exists true)", options);
    ASSERT_EQ(search.status, HostSearch::kCondition);
    EXPECT_EQ(msc_test::TreeToString(search.parsed.get()),
              R"(OP_AND(OP_EXISTS(PROP_RES, "true"), OP_EXISTS(PROP_REFID, "true")))");
    EXPECT_EQ(msc_test::TreeToString(search.rewritten.get()),
              R"(OP_AND(OP_EQ("1", "1"), OP_EQ("1", "0")))");
}

// A condition longer than the first buffer is measured and written again, whole.
TEST(HostSequence, WritesLongConditionsWhole) {
    for (int terms : {1, 20, 21, 200}) {
        std::string criteria;
        std::string expected;
        for (int i = 0; i < terms; ++i) {
            criteria += std::string(i ? " or " : "") + "dc:title = \"abcdefghij\"";
            expected += std::string(i ? " OR " : "") + " title  =  'abcdefghij' ";
        }
        HostSearch search = RunHostSequence(criteria, HostOptions());
        EXPECT_EQ(search.condition, expected) << terms;
    }
}

struct ColumnMapCase {
    const char *text;
    const char *result;  // "id=name ..." or the error message.
};

const ColumnMapCase kColumnMapCases[] = {
    {"dc:title=t, UPNP:CLASS = c ,@refID=o.own", "1=t 4=c 9=o.own|"},
    {"dc:title=a,dc:title=b", "1=b|"},
    {"dc:title", "not a property=column pair with a property name: \"dc:title\""},
    {"foo bar=x", "not a property=column pair with a property name: \"foo bar=x\""},
    {"a[@b=\"c\"=x", "not a property=column pair with a property name: \"a[@b=\"c\"=x\""},
    // Names that are not built in are the host's own, with ids from PROP_HOST_FIRST on.
    {R"(foo=bar, upnp:artist[@role = "A=B"] = aa,Foo=f,foo=baz)",
     R"(128=baz 129=aa 130=f|128=foo 129=upnp:artist[@role = "A=B"] 130=Foo)"},
    {"dc:title=a b", "not a plain column name: \"a b\""},
    {"dc:title=x;DROP TABLE objects", "not a plain column name: \"x;DROP TABLE objects\""},
    {"dc:title=", "not a plain column name: \"\""},
    {"dc:title=t,", "not a property=column pair with a property name: \"\""},
    // A leading '+' changes and adds entries of the table instead of replacing it.
    {" +dc:title=name, res=url, upnp:author=writer",
     "1=name 2=date 3=creator 4=class 5=actor 6=artist 7=album 8=genre 9=own_id 10=num_id 12=track 11=url "
     "128=album_artist 129=composer 130=writer 131=publisher 132=duration 133=play_count 134=last_played "
     "135=last_updated 136=last_updated|128=upnp:artist[@role=\"AlbumArtist\"] 129=upnp:artist[@role=\"Composer\"] "
     "130=upnp:author 131=dc:publisher 132=res@duration 133=upnp:playbackCount 134=upnp:lastPlaybackTime "
     "135=last_updated 136=pv:lastUpdated"},
    {"+foo=bar",
     "1=title 2=date 3=creator 4=class 5=actor 6=artist 7=album 8=genre 9=own_id 10=num_id 12=track 11=res "
     "128=album_artist 129=composer 130=author 131=publisher 132=duration 133=play_count 134=last_played "
     "135=last_updated 136=last_updated 137=bar|128=upnp:artist[@role=\"AlbumArtist\"] 129=upnp:artist[@role=\"Composer\"] "
     "130=upnp:author 131=dc:publisher 132=res@duration 133=upnp:playbackCount 134=upnp:lastPlaybackTime "
     "135=last_updated 136=pv:lastUpdated 137=foo"},
};

TEST(HostOptions, ReadsColumnMaps) {
    for (const ColumnMapCase &c : kColumnMapCases) {
        TokenTable columns = SampleColumns();
        TokenTable host = SampleHostProperties();
        std::string error;
        std::string result;
        if (ParseColumnMap(c.text, &columns, &error, nullptr, &host)) {
            auto print = [&result](const TokenTable &table) {
                std::string text;
                for (const TokenEntry *e = table.Entries(); e->id != 0; ++e) {
                    text += (text.empty() ? "" : " ") + std::to_string(e->id) + "=" + e->name;
                }
                result += text;
            };
            print(columns);
            result += "|";
            print(host);
        } else {
            result = error;
        }
        EXPECT_EQ(result, c.result) << c.text;
    }
}

TEST(HostOptions, ReadsPropertyLists) {
    const std::pair<const char *, const char *> kCases[] = {
        {"none", ""},
        {"dc:title, @refID,upnp:originalTrackNumber", "1 9 12"},
        {"res", "11"},
        {"dc:title,bogus", "unknown property: \"bogus\""},
        {"upnp:author,pv:lastUpdated", "130 136"},
        {"PV:LASTUPDATED", "unknown property: \"PV:LASTUPDATED\""},
        {"", "unknown property: \"\""},
    };
    for (const auto &c : kCases) {
        std::vector<int> ids;
        std::string error;
        std::string result;
        const TokenTable host = SampleHostProperties();
        if (ParsePropertyList(c.first, &ids, &error, &host)) {
            for (int id : ids) result += (result.empty() ? "" : " ") + std::to_string(id);
        } else {
            result = error;
        }
        EXPECT_EQ(result, c.second) << c.first;
    }
}

TEST(HostSelect, BuildsTheStatement) {
    SelectQuery query;
    query.container = "A0$128";
    EXPECT_EQ(BuildSelect(query, " title  =  'a' "),
              "SELECT object_id, class, title, creator, date FROM objects WHERE ( title  =  'a' ) AND object_id IN "
              "(WITH RECURSIVE inside(id) AS (SELECT object_id FROM objects WHERE parent_id = ?1 UNION SELECT "
              "child.object_id FROM objects AS child JOIN inside ON child.parent_id = inside.id) SELECT id FROM "
              "inside) ORDER BY rowid");
    query.container = "0";
    EXPECT_EQ(BuildSelect(query, ""),
              "SELECT object_id, class, title, creator, date FROM objects WHERE object_id <> ?1 ORDER BY rowid");
    query.alias = "o";
    query.parentColumn.clear();
    query.order.clear();
    query.show = "*";
    EXPECT_EQ(BuildSelect(query, " o.title  =  'a' "), "SELECT * FROM objects AS o WHERE ( o.title  =  'a' )");
    EXPECT_EQ(BuildSelect(query, ""), "SELECT * FROM objects AS o");
}

}  // namespace
