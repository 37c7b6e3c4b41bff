// The host's typical sequence on realistic client criteria, end to end through the C ABI: parse,
// read the class and the property list, drop unsupported properties, apply the container rule,
// write the SQL condition and free the tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ClassicSearch.h"
#include "TreeText.h"

using namespace msc_test;

namespace {

// A media server's view: the columns it has and the properties it can evaluate (no actor, no
// res).
const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"},      {PROP_DC_DATE, "date"},
                               {PROP_DC_CREATOR, "creator"},  {PROP_UPNP_CLASS, "class"},
                               {PROP_UPNP_ARTIST, "artist"},  {PROP_UPNP_ALBUM, "album"},
                               {PROP_UPNP_GENRE, "genre"},    {PROP_REFID, "ref_id"},
                               {PROP_ID, "object_id"},        {PROP_UPNP_ORIGINAL_TRACK_NUMBER, "track_no"},
                               {0, nullptr}};
const TokenEntry kSupported[] = {{PROP_DC_TITLE, "title"},     {PROP_DC_DATE, "date"},
                                 {PROP_DC_CREATOR, "creator"}, {PROP_UPNP_CLASS, "class"},
                                 {PROP_UPNP_ARTIST, "artist"}, {PROP_UPNP_ALBUM, "album"},
                                 {PROP_UPNP_GENRE, "genre"},   {PROP_REFID, "ref_id"},
                                 {PROP_ID, "object_id"},       {PROP_UPNP_ORIGINAL_TRACK_NUMBER, "track_no"},
                                 {0, nullptr}};

const char *const kMusicContainer = "A0$1$2";
const char *const kRefContainer = "A0$128$129";

struct Outcome {
    int parse;
    const char *upnpClass;  // null when there is none
    std::vector<int> properties;
    int rewrite;    // SetAlwayTrueForNonSupportedProperty
    int container;  // CheckContainerIsSupportRefID
    const char *sql;
    const char *messages;  // standard error of the whole sequence
};

std::string Render(const Outcome &o) {
    std::ostringstream out;
    out << "parse " << o.parse << "\nclass " << (o.upnpClass != nullptr ? o.upnpClass : "(none)")
        << "\nproperties";
    for (int id : o.properties) out << ' ' << id;
    out << "\nrewrite " << o.rewrite << "\ncontainer " << o.container << "\nsql [" << o.sql
        << "]\nstderr [" << o.messages << "]\n";
    return out.str();
}

// Runs the sequence the way a media server does and records what each step gave.
std::string RunHostSequence(const std::string &criteria, const char *containerId) {
    std::string upnpClass, sql;
    bool hasClass = false;
    Outcome o = {};
    std::vector<int> properties;
    char out[1024];
    std::string messages = CaptureStderr([&] {
        ParseTreeNode *tree = nullptr;
        o.parse = Parse_searchExp(&tree, criteria.c_str(), 0, static_cast<int>(criteria.size()) - 1);
        if (o.parse != 0) return;
        if (const char *text = GetUPnPClass(tree)) {
            hasClass = true;
            upnpClass = text;  // Copied: the rewrites below may release the text.
        }
        int count = 0;
        int *ids = GetPropertyList(tree, &count);
        if (ids != nullptr) properties.assign(ids, ids + count);
        free(ids);
        o.rewrite = SetAlwayTrueForNonSupportedProperty(tree, kSupported);
        o.container = CheckContainerIsSupportRefID(containerId, tree);
        memset(out, 'x', sizeof out);
        ConvertSQLCondition(tree, kColumns, "o.", out, static_cast<int>(sizeof out));
        sql = out;
        freeParseTree(tree);
    });
    o.upnpClass = hasClass ? upnpClass.c_str() : nullptr;
    o.properties = properties;
    o.sql = sql.c_str();
    o.messages = messages.c_str();
    return Render(o);
}

struct CorpusCase {
    const char *id;
    const char *containerId;
    Outcome expected;
};

const char *const kAudio = "object.item.audioItem";
const char *const kAlbum = "object.container.album.musicAlbum";

const CorpusCase kCorpusCases[] = {
    {"s01", kMusicContainer,
     {0, kAudio, {4, 9}, 0, 0, " o.class  LIKE  '%object.item.audioItem%'  AND  o.ref_id  IS  NOT NULL ", ""}},
    {"s02", kMusicContainer,
     {0, "object.item.videoItem", {4, 9}, 0, 0,
      " o.class  LIKE  '%object.item.videoItem%'  AND  o.ref_id  IS  NOT NULL ", ""}},
    {"s03", kRefContainer,
     {0, "object.item.imageItem", {4, 9}, 0, 0,
      " o.class  LIKE  '%object.item.imageItem%'  AND  o.ref_id  IS  NOT NULL ", ""}},
    {"s04", kMusicContainer,
     {0, kAlbum, {4, 9}, 0, 0, " o.class  =  'object.container.album.musicAlbum'  AND  o.ref_id  IS  NOT NULL ", ""}},
    {"s05", kMusicContainer,
     {0, "object.container.person.musicArtist", {4, 9}, 0, 0,
      " o.class  =  'object.container.person.musicArtist'  AND  o.ref_id  IS  NOT NULL ", ""}},
    {"s06", kMusicContainer,
     {0, "object.container.genre.musicGenre", {4, 9}, 0, 0,
      " o.class  =  'object.container.genre.musicGenre'  AND  o.ref_id  IS  NOT NULL ", ""}},
    {"s07", kMusicContainer,
     {0, "object.container.playlistContainer", {4, 9}, 0, 0,
      " o.class  LIKE  '%object.container.playlistContainer%'  AND  o.ref_id  IS  NOT NULL ", ""}},
    {"s08", kMusicContainer, {0, kAudio, {4}, 0, 1, " (  o.class  LIKE  '%object.item.audioItem%'  ) ", ""}},
    {"s09", kMusicContainer,
     {0, "object.item.videoItem", {4}, 0, 1, " (  o.class  LIKE  '%object.item.videoItem%'  ) ", ""}},
    {"s10", kMusicContainer,
     {0, kAlbum, {4}, 0, 1, " (  o.class  =  'object.container.album.musicAlbum'  ) ", ""}},
    {"s11", kMusicContainer,
     {0, kAudio, {4, 1}, 0, 1, " o.class  LIKE  '%object.item.audioItem%'  AND  o.title  LIKE  '%love%' ", ""}},
    {"s12", kMusicContainer,
     {0, kAudio, {4, 1, 6, 7}, 0, 1,
      " (  o.class  LIKE  '%object.item.audioItem%'  AND  (  o.title  LIKE  '%love%'  OR  o.artist  LIKE  "
      "'%love%'  OR  o.album  LIKE  '%love%'  )  ) ",
      ""}},
    {"s13", kMusicContainer, {0, nullptr, {1}, 0, 1, " o.title  LIKE  '%Christmas%' ", ""}},
    {"s14", kMusicContainer,
     {0, kAlbum, {4, 2, 2}, 0, 1,
      " o.class  =  'object.container.album.musicAlbum'  AND  o.date  >=  '2001-10-01'  AND  o.date  <=  "
      "'2001-10-31' ",
      ""}},
    {"s15", kMusicContainer, {0, nullptr, {3}, 0, 1, " o.creator  =  'Sting' ", ""}},
    // The server has no actor column: that condition drops out of its or.
    {"s16", kMusicContainer, {0, nullptr, {6, 5}, 0, 1, " o.artist  LIKE  '%Sting%'  OR  '1'  =  '0' ", ""}},
    {"s17", kMusicContainer,
     {0, kAlbum, {4, 8, 8}, 0, 1,
      " (  o.class  =  'object.container.album.musicAlbum'  AND  o.genre  =  'Rock'  )  OR  o.genre  =  'Pop' ",
      ""}},
    // In one of the reference containers a search for references finds nothing.
    {"s18", kRefContainer, {0, nullptr, {9}, 0, 0, " '1'  =  '0' ", ""}},
    // "res@duration" names res, which the server cannot evaluate: that condition drops out of its and.
    {"s19", kMusicContainer,
     {0, "object.item.videoItem", {4, 11}, 0, 1, " o.class  LIKE  '%object.item.videoItem%'  AND  '1'  =  '1' ",
      ""}},
    {"s20", kMusicContainer, {1, nullptr, {}, 0, 0, "", "can't find key!!\n"}},
    {"s21", kMusicContainer,
     {0, kAudio, {8, 4}, 0, 1, " o.genre  =  'Jazz'  AND  o.class  LIKE  '%object.item.audioItem%' ", ""}},
    {"s22", kMusicContainer,
     {0, nullptr, {1, 6}, 0, 1, " o.title  =  'Let It Be'  AND  o.artist  =  'The Beatles' ", ""}},
    {"s23", kMusicContainer,
     {0, kAudio, {4, 12}, 0, 1, " o.class  LIKE  '%object.item.audioItem%'  AND  o.track_no  >  '3' ", ""}},
    // The identifier's last part, 65540, names object 1 of its container.
    {"s24", kMusicContainer, {0, nullptr, {10}, 0, 1, " o.object_id  =  '1' ", "id = 1\n"}},
    {"s25", kMusicContainer,
     {0, kAudio, {4, 7}, 0, 1, " o.class  LIKE  '%object.item.audioItem%'  AND  o.album  =  'Abbey Road' ", ""}},
};

TEST(HostSequence, ClientCorpus) {
    std::map<std::string, std::string> corpus;
    for (auto &row : ReadCriteriaTable(MSC_TEST_CORPUS_DIR "/client-criteria.tsv")) corpus.insert(std::move(row));
    ASSERT_EQ(corpus.size(), sizeof kCorpusCases / sizeof kCorpusCases[0]) << "corpus and cases differ";
    for (const CorpusCase &c : kCorpusCases) {
        auto found = corpus.find(c.id);
        ASSERT_NE(found, corpus.end()) << c.id;
        std::string actual;
        std::string printed = CaptureStdout([&] { actual = RunHostSequence(found->second, c.containerId); });
        EXPECT_EQ(actual, Render(c.expected)) << c.id << ": " << found->second;
        EXPECT_EQ(printed, "") << c.id;
    }
}

// ConvertSearchCriteria gives exactly what the classic calls give, on the client corpus and
// texts that reach its bounds, for options that use each of its choices.
TEST(HostSequence, OneCallGivesTheSequenceAnswers) {
    const TokenEntry host[] = {{PROP_HOST_FIRST, "upnp:author"}, {PROP_HOST_FIRST + 1, "upnp:playbackCount"}, {0, nullptr}};
    const TokenEntry hostColumns[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, "class"}, {PROP_REFID, "ref_id"},
                                      {PROP_HOST_FIRST, "author"}, {0, nullptr}};
    const TokenEntry none[] = {{0, nullptr}};
    const TokenEntry gapped[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, ""}, {PROP_UPNP_ARTIST, nullptr}, {0, nullptr}};
    struct OptionsCase {
        SearchOptions options;
        int outSize;
    };
    const OptionsCase optionCases[] = {
        {{{0, nullptr}, kColumns, kSupported, kRefContainer, "o.", {SQL_DIALECT_SQLITE, 0}, nullptr, 0}, 4096},
        {{{0, nullptr}, kColumns, nullptr, nullptr, nullptr, {SQL_DIALECT_MYSQL, SQL_LITERAL_PATTERNS}, nullptr, 0}, 24},
        {{{SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN, host}, hostColumns, nullptr, kRefContainer, nullptr,
          {SQL_DIALECT_POSTGRESQL, 0}, nullptr, 0}, 4096},
        {{{SEARCH_PARSE_STANDARD, nullptr}, kColumns, none, kMusicContainer, "t.", {SQL_DIALECT_SQLITE, SQL_LITERAL_PATTERNS},
          nullptr, 0}, 0},
        {{{0, nullptr}, kColumns, kSupported, kRefContainer, nullptr, {3, 0}, nullptr, 0}, 4096},
        {{{0, nullptr}, gapped, kSupported, kRefContainer, nullptr, {SQL_DIALECT_SQLITE, 0}, nullptr, 0}, 4096},
        {{{SEARCH_PARSE_STANDARD, nullptr}, nullptr, kSupported, nullptr, nullptr, {SQL_DIALECT_SQLITE, 0}, nullptr, 0}, 4096},
    };
    std::vector<std::string> texts;
    for (const char *file : {"/client-criteria.tsv", "/client-criteria-more.tsv"}) {
        for (auto &row : ReadCriteriaTable(std::string(MSC_TEST_CORPUS_DIR) + file)) texts.push_back(row.second);
    }
    std::string many;
    for (int i = 0; i < 40; ++i) many += (i == 0 ? "" : " or ") + std::string(i % 3 ? "upnp:author = \"a\"" : "res = \"r\"");
    texts.insert(texts.end(), {
        "", "  ", "*", many, "@refID exists true and dc:title = \"x\"", "upnp:class = \"" + std::string(200, 'c') + "\"",
        "(upnp:playbackCount > 3 or res contains \"x\") and upnp:class derivedfrom \"object.item\"",
        "dc:title = \"a\" and", "(dc:title)", "dc:title = \"a\" x", std::string(300, '(') + "dc:title = \"a\"",
    });
    int compared = 0, failed = 0, cut = 0, madeTrue = 0, refIdFalse = 0, overBound = 0, noColumn = 0;
    for (const OptionsCase &c : optionCases) {
        for (const std::string &text : texts) {
            for (int length : {static_cast<int>(text.size()), -1}) {
                SearchOutcome classic = ClassicSearch(text.c_str(), length, c.options, c.outSize);
                SearchOutcome one = OneCallSearch(text.c_str(), length, c.options, c.outSize);
                EXPECT_EQ(Difference(classic, one), "") << text << " with outSize " << c.outSize;
                ++compared;
                failed += one.result < 0;
                cut += one.result >= c.outSize;
                madeTrue += one.info.alwaysTrueCount > 0;
                refIdFalse += one.info.refIdMadeFalse;
                overBound += one.info.propertyCount > MSC_SEARCH_INFO_PROPERTIES;
                noColumn += one.info.condition == SEARCH_CONDITION_NO_COLUMN;
            }
        }
    }
    // The table reaches every part of the record.
    EXPECT_GT(failed, 0);
    EXPECT_GT(cut, 0);
    EXPECT_GT(madeTrue, 0);
    EXPECT_GT(refIdFalse, 0);
    EXPECT_GT(overBound, 0);
    EXPECT_GT(noColumn, 0);
    EXPECT_EQ(compared, 7 * 2 * static_cast<int>(texts.size()));

    // A NULL record or buffer only measures; NULL options or text fail as invalid.
    SearchInfo info;
    EXPECT_EQ(ConvertSearchCriteria("dc:title = \"a\"", -1, &optionCases[0].options, nullptr, 0, nullptr),
              static_cast<int>(strlen(" o.title  =  'a' ")));
    EXPECT_EQ(ConvertSearchCriteria(nullptr, 0, &optionCases[0].options, nullptr, 0, &info), -1);
    EXPECT_EQ(info.error.code, SEARCH_PARSE_INVALID_ARGUMENT);
    EXPECT_EQ(ConvertSearchCriteria("", 0, nullptr, nullptr, 0, &info), -1);
    EXPECT_EQ(info.error.code, SEARCH_PARSE_INVALID_ARGUMENT);
}

}  // namespace
