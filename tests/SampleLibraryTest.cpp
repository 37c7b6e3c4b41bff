// Searches on the sample media library, end to end through the host sequence and the library's
// C ABI. Each expected row set comes from a plain SQL query written for the test over the same
// data on a separate, unmodified SQLite connection, or from titles listed by hand.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "HostDatabase.h"
#include "HostSearch.h"

using namespace msc_host;

namespace {

// The sample data on a connection with none of the host's functions: SQLite's own LIKE.
class PlainSample {
public:
    PlainSample() {
        sqlite3_open(":memory:", &db_);
        char *message = nullptr;
        if (sqlite3_exec(db_, SampleLibrarySql(), nullptr, nullptr, &message) != SQLITE_OK) {
            ADD_FAILURE() << "loading the sample: " << (message ? message : "");
            sqlite3_free(message);
        }
    }
    ~PlainSample() { sqlite3_close(db_); }

    // The first column of every row, sorted.
    std::vector<std::string> Column(const std::string &sql) {
        std::vector<std::string> values;
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db_) << " in " << sql;
            return values;
        }
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const unsigned char *text = sqlite3_column_text(statement, 0);
            values.emplace_back(text ? reinterpret_cast<const char *>(text) : "");
        }
        sqlite3_finalize(statement);
        std::sort(values.begin(), values.end());
        return values;
    }

private:
    sqlite3 *db_ = nullptr;
};

// The databases every search runs on: the host's SQLite sample, and the private servers that
// tests/support/databases.sh starts (ctest's Databases.Start) and loads with the same data.
struct Target {
    const char *name;
    const char *address;  // For OpenDatabase; empty: the SQLite sample.
};
void PrintTo(const Target &target, std::ostream *out) { *out << target.name; }
const Target kTargets[] = {{"sqlite", ""}, {"postgresql", MSC_TEST_POSTGRESQL}, {"mariadb", MSC_TEST_MARIADB}};

class SampleLibrary : public ::testing::TestWithParam<Target> {
protected:
    static void SetUpTestSuite() { plain_ = new PlainSample(); }
    static void TearDownTestSuite() { delete plain_; }
    void SetUp() override {
        std::string error;
        database_ = OpenDatabase(GetParam().address, &error);
        ASSERT_NE(database_, nullptr) << GetParam().name << ": " << error
                                      << " (ctest starts the servers first: Databases.Start)";
    }

    // The host's search, as the tool runs it, showing 'show'; each row's cells joined by "|";
    // sorted.
    std::vector<std::string> Search(const std::string &criteria, const std::string &container,
                                    const std::string &show = "object_id", bool standard = false) {
        HostOptions options;
        options.container = container;
        options.sql.dialect = DialectOf(database_->Kind());
        options.standard = standard;
        HostSearch search = RunHostSequence(criteria, options);
        EXPECT_TRUE(search.status == HostSearch::kCondition || search.status == HostSearch::kEverything)
            << criteria << ": " << search.problem << DescribeParseError(search.error);
        SelectQuery query;
        query.show = show;
        query.container = container;
        query.order.clear();
        ResultTable rows;
        std::string error;
        EXPECT_TRUE(database_->Select(query, search.condition, &rows, &error)) << criteria << ": " << error;
        std::vector<std::string> values;
        for (const auto &row : rows.rows) {
            std::string joined;
            for (size_t i = 0; i < row.size(); ++i) joined += (i ? "|" : "") + row[i];
            values.push_back(joined);
        }
        std::sort(values.begin(), values.end());
        return values;
    }

    static PlainSample *plain_;
    std::unique_ptr<HostDatabase> database_;
};

PlainSample *SampleLibrary::plain_ = nullptr;

INSTANTIATE_TEST_SUITE_P(Databases, SampleLibrary, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target> &target) { return std::string(target.param.name); });

struct ClientCase {
    const char *client;
    const char *criteria;
    const char *container;
    const char *expected;  // WHERE text of a plain query on objects; nullptr: no rows.
    bool standard = false;  // The standard grammar, with the sample's own properties.
};

// Criteria as clients send them. The expected queries say what the client asks for in plain
// SQL: derivedfrom as a class prefix, contains as instr() on lower-cased text, "no references"
// as ref_id IS NULL, the container as parent links.
const ClientCase kClientCases[] = {
    {"Windows Media Player", R"(upnp:class derivedfrom "object.item.audioItem" and @refID exists false)", "0",
     "class LIKE 'object.item.audioItem%' AND ref_id IS NULL"},
    {"Windows Media Player", R"(upnp:class = "object.container.album.musicAlbum" and @refID exists false)", "0",
     "class = 'object.container.album.musicAlbum'"},
    {"Windows Media Player", R"(upnp:class = "object.container.person.musicArtist" and @refID exists false)", "0",
     "class = 'object.container.person.musicArtist'"},
    {"Windows Media Player", R"(upnp:class = "object.container.genre.musicGenre" and @refID exists false)", "0",
     "class = 'object.container.genre.musicGenre'"},
    {"Windows Media Player", R"(upnp:class derivedfrom "object.container.playlistContainer" and @refID exists false)",
     "0", "class LIKE 'object.container.playlistContainer%'"},
    {"Windows Media Player", R"(upnp:class derivedfrom "object.item.audioItem" and @refID exists false)",
     "A0$128$129", "parent_id = 'A0$128$129'"},
    {"Windows Media Player",
     R"(upnp:class derivedfrom "object.item.audioItem" and @refID exists false and upnp:genre exists true)", "0",
     "class LIKE 'object.item.audioItem%' AND ref_id IS NULL AND genre IS NOT NULL"},
    {"Xbox", R"((upnp:class derivedfrom "object.item.audioItem"))", "0", "class LIKE 'object.item.audioItem%'"},
    {"Xbox", R"((upnp:class = "object.container.album.musicAlbum"))", "0",
     "class = 'object.container.album.musicAlbum'"},
    {"generic", R"(upnp:class derivedfrom "object.item.audioItem" and dc:title contains "love")", "0",
     "class LIKE 'object.item.audioItem%' AND instr(lower(title), 'love') > 0"},
    {"generic",
     R"((upnp:class derivedfrom "object.item.audioItem" and (dc:title contains "love" or upnp:artist contains "love" or upnp:album contains "love")))",
     "0",
     "class LIKE 'object.item.audioItem%' AND (instr(lower(title), 'love') > 0 OR "
     "instr(lower(artist), 'love') > 0 OR instr(lower(album), 'love') > 0)"},
    {"ContentDirectory example", R"(dc:title contains "Christmas")", "0", "instr(lower(title), 'christmas') > 0"},
    {"ContentDirectory example",
     R"(upnp:class = "object.container.album.musicAlbum" and dc:date >= "2001-10-01" and dc:date <= "2001-10-31")",
     "0", "class = 'object.container.album.musicAlbum' AND date BETWEEN '2001-10-01' AND '2001-10-31'"},
    {"ContentDirectory example", R"(dc:creator = "Sting")", "0", "creator = 'Sting'"},
    {"ContentDirectory example", R"(upnp:artist contains "Sting" or upnp:actor contains "Sting")", "0",
     "instr(lower(artist), 'sting') > 0 OR instr(lower(actor), 'sting') > 0"},
    {"ContentDirectory example",
     R"((upnp:class = "object.container.album.musicAlbum" and upnp:genre = "Rock") or upnp:genre = "Pop")", "0",
     "(class = 'object.container.album.musicAlbum' AND genre = 'Rock') OR genre = 'Pop'"},
    // The host cannot evaluate res@duration: the condition drops out and every video remains.
    {"ContentDirectory example", R"(upnp:class derivedfrom "object.item.videoItem" and res@duration < "0:30:00")",
     "0", "class LIKE 'object.item.videoItem%'"},
    // The same in a mixed list: the condition stands in an AND term of the SQL text, so it
    // drops out as true, whatever the shape of the tree.
    {"ContentDirectory example",
     R"(upnp:class derivedfrom "object.item.videoItem" and res@duration < "0:30:00" or dc:title contains "love")", "0",
     "class LIKE 'object.item.videoItem%' OR instr(lower(title), 'love') > 0"},
    {"generic",
     R"(upnp:genre = "Jazz" or upnp:class derivedfrom "object.item.videoItem" and res@size > "1" or dc:creator = "Sting")",
     "0", "genre = 'Jazz' OR class LIKE 'object.item.videoItem%' OR creator = 'Sting'"},
    {"generic", R"(res@size > "1" or upnp:genre = "Jazz" and upnp:class derivedfrom "object.item.audioItem")", "0",
     "genre = 'Jazz' AND class LIKE 'object.item.audioItem%'"},
    {"ContentDirectory example", "*", "0", "object_id <> '0'"},
    // The three views of the media themselves hold no references.
    {"ContentDirectory example", "@refID exists true", "A0$128$129", nullptr},
    {"ContentDirectory example", "@refID exists true", "A0$148$149", nullptr},
    {"ContentDirectory example", "@refID exists TRUE", "A0$160$161", nullptr},
    {"generic", R"(dc:title = "Let It Be" and upnp:artist = "The Beatles")", "0",
     "title = 'Let It Be' AND artist = 'The Beatles'"},
    {"generic", R"(upnp:class derivedfrom "object.item.audioItem" and upnp:originalTrackNumber > "3")", "0",
     "class LIKE 'object.item.audioItem%' AND track > 3"},
    {"generic", R"(@id = "A0$128$129$66912385")", "0", "object_id = 'A0$128$129$66912385'"},
    {"generic", R"(@refID = "A0$128$129$66912385")", "0", "object_id = 'A0$128$129$66912385'"},
    {"generic", R"(upnp:class derivedfrom "object.item.audioItem" and upnp:album = "Abbey Road")", "0",
     "class LIKE 'object.item.audioItem%' AND album = 'Abbey Road'"},
    {"Sonos", R"(upnp:class = "object.container.person.musicArtist" and dc:title contains "the")", "0",
     "class = 'object.container.person.musicArtist' AND instr(lower(title), 'the') > 0"},
    {"VLC", R"(dc:title contains "night" or upnp:artist contains "night")", "0",
     "instr(lower(title), 'night') > 0 OR instr(lower(artist), 'night') > 0"},
    {"Kodi", R"(upnp:class = "object.item.audioItem.musicTrack" and upnp:artist = "Miles Davis" and @refID exists false)",
     "0", "class = 'object.item.audioItem.musicTrack' AND artist = 'Miles Davis' AND ref_id IS NULL"},
    {"BubbleUPnP",
     R"(upnp:class derivedfrom "object.item.audioItem" and (upnp:artist = "Sting" or upnp:artist = "The Police"))", "0",
     "class LIKE 'object.item.audioItem%' AND artist IN ('Sting', 'The Police')"},
    {"BubbleUPnP", R"(upnp:class = "object.item.videoItem.musicVideoClip")", "0",
     "class = 'object.item.videoItem.musicVideoClip'"},
    {"foobar2000", R"(upnp:genre = "rock" and upnp:class = "object.container.album.musicAlbum")", "0",
     "lower(genre) = 'rock' AND class = 'object.container.album.musicAlbum'"},
    {"Plex", R"(dc:date < "1970-01-01" and upnp:class derivedfrom "object.item")", "0",
     "date < '1970-01-01' AND class LIKE 'object.item%'"},
    {"phone app", R"(upnp:class derivedfrom "object.item.audioItem" and dc:title doesNotContain "e")", "0",
     "class LIKE 'object.item.audioItem%' AND instr(lower(title), 'e') = 0"},
    {"phone app",
     R"(upnp:album exists true and upnp:class = "object.item.audioItem.musicTrack" and @refID exists false)", "0",
     "album IS NOT NULL AND class = 'object.item.audioItem.musicTrack' AND ref_id IS NULL"},
    {"phone app", R"(upnp:actor exists false and upnp:class derivedfrom "object.item.videoItem")", "0",
     "actor IS NULL AND class LIKE 'object.item.videoItem%'"},
    {"playlist browser", R"(upnp:class derivedfrom "object.item.audioItem")", "A0$128$133",
     "parent_id IN (SELECT object_id FROM objects WHERE parent_id = 'A0$128$133')"},
    {"album browser", R"(upnp:class = "object.container.album.musicAlbum" and dc:title = "Kind of Blue")",
     "A0$128$130", "parent_id = 'A0$128$130' AND title = 'Kind of Blue'"},
    {"photo browser", R"(upnp:class derivedfrom "object.item.imageItem" and dc:date < "2020-01-01")", "A0$160$162",
     "parent_id IN (SELECT object_id FROM objects WHERE parent_id = 'A0$160$162') AND date < '2020-01-01'"},
    {"generic", R"(dc:title = "Ágætis byrjun")", "0", "title = 'Ágætis byrjun'"},
    {"generic", R"(upnp:artist = "宇多田ヒカル" and upnp:class = "object.container.album.musicAlbum")", "0",
     "artist = '宇多田ヒカル' AND class = 'object.container.album.musicAlbum'"},
    {"generic", R"(dc:creator contains "Mum" and upnp:class derivedfrom "object.item.imageItem" and @refID exists false)",
     "0", "creator = 'Mum' AND class LIKE 'object.item.imageItem%' AND ref_id IS NULL"},
    {"generic", R"(upnp:originalTrackNumber = "1" and upnp:genre = "Jazz" and @refID exists false)", "0",
     "track = 1 AND genre = 'Jazz' AND ref_id IS NULL"},
    // The standard grammar with the sample's own properties: none of these conditions drops out.
    {"phone app", R"(upnp:class derivedfrom "object.item" and last_updated > "2024-09-12")", "0",
     "class LIKE 'object.item%' AND last_updated > '2024-09-12'", true},
    {"phone app", R"(pv:lastUpdated > 0 and upnp:class derivedfrom "object.item.videoItem")", "0",
     "last_updated IS NOT NULL AND class LIKE 'object.item.videoItem%'", true},
    {"phone app",
     R"(upnp:class derivedfrom "object.item.audioItem" and (upnp:playbackCount exists false or upnp:playbackCount = "0"))",
     "0", "class LIKE 'object.item.audioItem%' AND (play_count IS NULL OR play_count = 0)", true},
    {"phone app", R"(upnp:class derivedfrom "object.item.audioItem" and upnp:lastPlaybackTime > "2024-11-01")", "0",
     "class LIKE 'object.item.audioItem%' AND last_played > '2024-11-01'", true},
    {"MediaMonkey", R"(upnp:author contains "Harrison")", "0", "instr(author, 'Harrison') > 0", true},
    {"foobar2000", R"(dc:publisher contains "Apple")", "0", "instr(publisher, 'Apple') > 0", true},
    {"ContentDirectory example", R"(upnp:class derivedfrom "object.item.videoItem" and res@duration < "0:30:00")",
     "0", "class LIKE 'object.item.videoItem%' AND duration < '0:30:00'", true},
    {"Windows Media Player",
     R"(upnp:class derivedfrom "object.container.album" and upnp:artist[@role = "AlbumArtist"] contains "Various")", "0",
     "class LIKE 'object.container.album%' AND instr(album_artist, 'Various') > 0", true},
    {"Windows Media Player",
     R"(upnp:class derivedfrom "object.item.audioItem" and upnp:artist[@role="Composer"] contains "Evans")", "0",
     "class LIKE 'object.item.audioItem%' AND instr(composer, 'Evans') > 0", true},
    {"generic", R"(upnp:album startsWith "Let" and @refID exists false)", "0",
     "substr(album, 1, 3) = 'Let' AND ref_id IS NULL", true},
};

TEST_P(SampleLibrary, ClientCriteriaSelectTheRowsTheClientExpects) {
    EXPECT_GE(sizeof kClientCases / sizeof kClientCases[0], 30u);
    for (const ClientCase &c : kClientCases) {
        std::vector<std::string> expected;
        if (c.expected != nullptr) {
            expected = plain_->Column(std::string("SELECT object_id FROM objects WHERE ") + c.expected);
            // A query that finds nothing would make the comparison prove nothing.
            EXPECT_FALSE(expected.empty()) << c.criteria;
        }
        EXPECT_EQ(Search(c.criteria, c.container, "object_id", c.standard), expected) << c.criteria << " in " << c.container;
    }
}

struct ValueCase {
    const char *criteria;
    std::vector<std::string> titles;  // "title|album" of every row, sorted; by hand.
};

// Values with single quotes, percent signs, underscores, backslashes and non-ASCII bytes select
// exactly the objects whose text holds them, and SQL in a value stays a value.
const ValueCase kValueCases[] = {
    {R"(dc:title contains "100%" and @refID exists false)",
     {"100% Dance Hits 2004|", "100% Pure Love|100% Dance Hits 2004", "Garden time-lapse 100%|"}},
    {R"(dc:title contains "%" and @refID exists false)",
     {"100% Dance Hits 2004|", "100% Pure Love|100% Dance Hits 2004", "50% Off|100% Dance Hits 2004",
      "Garden time-lapse 100%|"}},
    {R"(dc:title contains "_0" and @refID exists false)", {"Track_07|100% Dance Hits 2004"}},
    {R"(dc:title = "Track_07" and @refID exists false)", {"Track_07|100% Dance Hits 2004"}},
    {R"(dc:title doesNotContain "_" and upnp:class derivedfrom "object.item.imageItem" and @refID exists false)",
     {"Café in Montmartre|", "Christmas tree 2020|", "Eiffel Tower at night|", "Grandma's 80th birthday|",
      "Snow in Reykjavík|", "Sunset over the Algarve|"}},
    {R"(dc:title contains "s's" and @refID exists false)", {"Octopus's Garden|Abbey Road"}},
    {R"(dc:title = "Rock 'n' Roll Classics")", {"Rock 'n' Roll Classics|"}},
    {R"(upnp:actor contains "O'Hara")", {"The Nightmare Before Christmas|"}},
    {R"(dc:title = "Grandma's 80th birthday" and @refID exists false)", {"Grandma's 80th birthday|"}},
    {R"(dc:title = "x' OR '1'='1")", {}},
    {R"(dc:title contains "'; DROP TABLE objects; --")", {}},
    {R"(dc:title contains "') OR ('1'='1")", {}},
    {R"(dc:title contains "p\D" and @refID exists false)", {"Up\\Down (Club Mix)|100% Dance Hits 2004"}},
    {R"c(dc:title = "Up\Down (Club Mix)" and @refID exists false)c", {"Up\\Down (Club Mix)|100% Dance Hits 2004"}},
    {R"(dc:title contains "ð" and @refID exists false)",
     {"Hjartað hamast (bamm bamm bamm)|Ágætis byrjun", "Viðrar vel til loftárása|Ágætis byrjun"}},
    {R"(dc:title contains "ワナ" and @refID exists false)", {"甘いワナ ~Paint It, Black|First Love"}},
    {R"(dc:title contains "café" and @refID exists false)",
     {"Café del Mar|100% Dance Hits 2004", "Café in Montmartre|"}},
    {R"(dc:title = "Ágætis byrjun" and @refID exists false)", {"Ágætis byrjun|", "Ágætis byrjun|Ágætis byrjun"}},
    // Accents and trailing blanks count.
    {R"(dc:title = "Leon")", {}},
    {R"(dc:title = "Fever ")", {}},
    {R"(upnp:genre < "b" and @refID exists false)",
     {"Crouching Tiger, Hidden Dragon|", "Gladiator|", "Spirited Away|", "The Nightmare Before Christmas|",
      "Toy Story|"}},
};

TEST_P(SampleLibrary, SpecialValuesSelectExactlyTheirRows) {
    for (const ValueCase &c : kValueCases) {
        std::vector<std::string> titles = c.titles;
        std::sort(titles.begin(), titles.end());
        EXPECT_EQ(Search(c.criteria, "0", "title, album"), titles) << c.criteria;
    }
    // Nothing above changed the data.
    EXPECT_EQ(Search("*", "0", "count(*)"), std::vector<std::string>{"823"});
}

// The numeric id column agrees with the identifier rewrite: the number after the last "$",
// shifted right by 16 bits. Computed here from the text, apart from the SQL script.
TEST(SampleLibrarySql, NumericIdsFollowTheObjectIds) {
    PlainSample plain;
    std::vector<std::string> rows = plain.Column("SELECT object_id || ' ' || num_id FROM objects");
    ASSERT_GE(rows.size(), 500u);
    size_t items = 0;
    for (const std::string &row : rows) {
        std::string id = row.substr(0, row.find(' '));
        long long number = std::stoll(id.substr(id.rfind('$') + 1));
        EXPECT_EQ(row.substr(row.find(' ') + 1), std::to_string(number >> 16)) << row;
        if ((number >> 16) > 0) ++items;
    }
    // Only the root and the fixed views have numbers below 65536.
    EXPECT_EQ(items, rows.size() - 12);
}

// ---- Every SQL text the library writes for parsed criteria -------------------------------------

// Criteria pieces that clients, typos and attackers produce.
const char *const kProperties[] = {"dc:title", "upnp:class", "upnp:artist", "@refID", "@id", "res@size",
                                   "upnp:originalTrackNumber", "dc:date", "upnp:a", "DC:TITLE", "foo"};
const char *const kOperators[] = {"=", "!=", "<", "<=", ">", ">=", "contains", "doesNotContain",
                                  "derivedfrom", "is", "exists", "xx", "and", "or"};
const char *const kValues[] = {R"("abc")", R"("O'Brien")", R"("100%")", R"("a_b")", R"("\")", R"("a\"b")",
                               R"("é")", R"("ワナ")", R"("'; DROP TABLE objects; --")", R"("")",
                               R"("A0$128$129$66912385")", "true", "FALSE", "abc", R"("unterminated)",
                               R"c("(")c", R"c(")")c", R"("x' OR '1'='1")", "'single'", "\"\xff\xfe\""};

std::string RandomExpression(std::mt19937 &rng, int depth) {
    auto pick = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
    std::string term;
    switch (pick(depth > 3 ? 3 : 6)) {
        case 0:
        case 1:
        case 2:
            term = std::string(kProperties[pick(std::size(kProperties))]) + " " +
                   kOperators[pick(std::size(kOperators))] + " " + kValues[pick(std::size(kValues))];
            break;
        case 3:
            term = "(" + RandomExpression(rng, depth + 1) + ")";
            break;
        case 4:
            term = pick(2) ? kProperties[pick(std::size(kProperties))] : "()";
            break;
        default:
            term = std::string(kProperties[pick(std::size(kProperties))]) + " = " + kValues[pick(std::size(kValues))] +
                   " " + kOperators[pick(std::size(kOperators))] + " " + kValues[pick(std::size(kValues))];
    }
    switch (pick(depth > 3 ? 1 : 4)) {
        case 0:
            return term;
        case 1:
            return term + " and " + RandomExpression(rng, depth + 1);
        case 2:
            return term + " or " + RandomExpression(rng, depth + 1);
        default:
            return term + (pick(2) ? " and" : " or");
    }
}

TEST(SampleLibrarySql, EverySqlTextOfAParsedCriteriaIsAcceptedBySqlite) {
    std::string openError;
    std::unique_ptr<MediaDatabase> database = MediaDatabase::OpenSample(&openError);
    ASSERT_NE(database, nullptr) << openError;
    std::vector<std::string> criteria;
    for (const ClientCase &c : kClientCases) {
        if (!c.standard) criteria.push_back(c.criteria);
    }
    for (const ValueCase &c : kValueCases) criteria.push_back(c.criteria);
    std::mt19937 rng(20261206);
    for (int i = 0; i < 3000; ++i) criteria.push_back(RandomExpression(rng, 0));

    HostOptions options;
    options.supported = options.columns.Ids();
    const TokenEntry *columns = options.columns.Entries();
    int accepted = 0;
    int flagged = 0;
    for (const std::string &text : criteria) {
        ParseTreeNode *tree = nullptr;
        if (Parse_searchExp(&tree, text.c_str(), 0, static_cast<int>(text.size()) - 1) != 0) continue;
        msc::Tree owned(tree);
        if (tree == nullptr) continue;
        int length = ConvertSQLConditionWith(tree, columns, nullptr, &options.sql, nullptr, 0);
        std::string sql(static_cast<size_t>(length) + 1, '\0');
        ASSERT_EQ(ConvertSQLConditionWith(tree, columns, nullptr, &options.sql, &sql[0], length + 1), length);
        sql.resize(static_cast<size_t>(length));

        std::string statement = "SELECT object_id FROM objects WHERE " + sql;
        sqlite3_stmt *prepared = nullptr;
        const char *tail = nullptr;
        bool ok = sqlite3_prepare_v2(database->Handle(), statement.c_str(), -1, &prepared, &tail) == SQLITE_OK;
        sqlite3_finalize(prepared);

        // The host passes on exactly what SQLite takes as one statement; it refuses a dangling
        // and/or or empty parentheses, which the parser accepts and SQLite does not.
        HostSearch search = RunHostSequence(text, options);
        if (search.status == HostSearch::kCondition) {
            ++accepted;
            EXPECT_TRUE(ok) << text << "\n" << sql << "\n" << sqlite3_errmsg(database->Handle());
            EXPECT_EQ(tail != nullptr ? std::string(tail) : "", "") << text;
            EXPECT_EQ(search.condition, sql) << text;
            ResultTable rows;
            std::string error;
            SelectQuery query;
            EXPECT_TRUE(database->Select(query, search.condition, &rows, &error)) << text << ": " << error;
        } else {
            ++flagged;
            EXPECT_EQ(search.status, HostSearch::kUnusable) << text;
        }
    }
    // The generator must reach both sides, or this test proves little.
    EXPECT_GT(accepted, 400) << flagged;
    EXPECT_GT(flagged, 100) << accepted;
}

}  // namespace
