// The host's classic sequence on realistic client criteria, end to end through the C ABI, and the
// one call ConvertSearchCriteria, which must give what that sequence gives.
#include <gtest/gtest.h>

#include "ClassicSearch.h"
#include "TreeText.h"

using namespace msc_test;

namespace {

// A media server's columns, all of which it can evaluate (no actor, no res).
const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"},     {PROP_DC_DATE, "date"},     {PROP_DC_CREATOR, "creator"},
                               {PROP_UPNP_CLASS, "class"},   {PROP_UPNP_ARTIST, "artist"}, {PROP_UPNP_ALBUM, "album"},
                               {PROP_UPNP_GENRE, "genre"},   {PROP_REFID, "ref_id"},       {PROP_ID, "object_id"},
                               {PROP_UPNP_ORIGINAL_TRACK_NUMBER, "track_no"},              {0, nullptr}};

// The sequence of a media server on each client text; what each step gave, by its name.
TEST(HostSequence, ClientCorpus) {
    const auto entries = ReadCriteriaTable(MSC_TEST_CORPUS_DIR "/client-criteria.tsv");
    const std::map<std::string, std::string> corpus(entries.begin(), entries.end());
    const std::vector<Case> rows = ReadCases("api-host-sequence.tsv");
    EXPECT_EQ(rows.size(), corpus.size()) << "a row for each text of the corpus";
    for (const Case &row : rows) {
        SCOPED_TRACE(row.where());
        const std::string criteria = corpus.at(row["id"]), containerId = row["container"];
        std::map<std::string, std::string> got, want = row.fields;
        for (const char *input : {"id", "container"}) want.erase(input);
        EXPECT_EQ(CaptureStdout([&] { got["stderr"] = CaptureStderr([&] {
            ParseTreeNode *tree = nullptr;
            got["parse"] = std::to_string(Parse_searchExp(&tree, criteria.c_str(), 0, static_cast<int>(criteria.size()) - 1));
            if (got["parse"] != "0") return;
            const char *upnpClass = GetUPnPClass(tree);
            got["class"] = upnpClass != nullptr ? upnpClass : "none";  // Copied: the rewrites may free it.
            int count = 0;
            int *ids = GetPropertyList(tree, &count);
            for (int i = 0; i < count; ++i) got["properties"] += (i == 0 ? "" : " ") + std::to_string(ids[i]);
            free(ids);
            got["rewrite"] = std::to_string(SetAlwayTrueForNonSupportedProperty(tree, kColumns));
            got["refid"] = std::to_string(CheckContainerIsSupportRefID(containerId.c_str(), tree));
            std::string out(1024, 'x');
            ConvertSQLCondition(tree, kColumns, "o.", out.data(), static_cast<int>(out.size()));
            got["sql"] = out.c_str();
            freeParseTree(tree);
        }); }), "");
        EXPECT_EQ(got, want);
    }
}

// ConvertSearchCriteria gives exactly what the classic calls give on the client corpora (the
// bench's real clients' criteria among them) and the texts of api-one-call.tsv, whole and up to a
// NUL, with each option set of api-one-call-options.tsv.
TEST(HostSequence, OneCallGivesTheSequenceAnswers) {
    const TokenEntry host[] = {{PROP_HOST_FIRST, "upnp:author"}, {PROP_HOST_FIRST + 1, "upnp:playbackCount"}, {0, nullptr}};
    const TokenEntry high[] = {{300, "upnp:author"}, {301, "upnp:playbackCount"}, {0, nullptr}};
    const std::map<std::string, const TokenEntry *> hosts = {{"", nullptr}, {"low", host}, {"high", high}};
    const TokenEntry hostColumns[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, "class"}, {PROP_REFID, "ref_id"},
                                      {PROP_HOST_FIRST, "author"}, {0, nullptr}};
    const TokenEntry none[] = {{0, nullptr}};
    // Names of 30 and 31 bytes: the longest that a prepared record copies, and one it looks up.
    const TokenEntry gapped[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, ""}, {PROP_UPNP_ARTIST, nullptr},
                                 {PROP_UPNP_ALBUM, "album_title_as_the_label_prints"}, {PROP_UPNP_GENRE, "genre_as_the_client_sends_it__"},
                                 {PROP_DC_TITLE, "second"}, {0, nullptr}};
    std::map<std::string, const TokenEntry *> tables = {{"server", kColumns}, {"host", hostColumns}, {"none", none},
                                                        {"gapped", gapped}, {"", nullptr}};
    std::vector<std::string> texts;
    for (const char *file : {"/client-criteria.tsv", "/client-criteria-more.tsv", "/../../bench/real-criteria.tsv"})
        for (auto &entry : ReadCriteriaTable(std::string(MSC_TEST_CORPUS_DIR) + file)) texts.push_back(entry.second);
    for (const Case &row : ReadCases("api-one-call.tsv")) texts.push_back(row["criteria"]);
    std::map<std::string, int> reached;
    for (const Case &row : ReadCases("api-one-call-options.tsv")) {
        const std::string container = row["container"], prefix = row["prefix"];
        SearchOptions options = {{static_cast<unsigned>(std::stoi(row["parse"])), hosts.at(row["host"])},
                                 tables.at(row["columns"]), tables.at(row["supported"]),
                                 container.empty() ? nullptr : container.c_str(), prefix.empty() ? nullptr : prefix.c_str(),
                                 {std::stoi(row["dialect"]), static_cast<unsigned>(std::stoi(row["flags"]))}, nullptr, 0, {}, MSC_VERSION_NUMBER, 0, nullptr, nullptr, nullptr};
        // Prepared for the record's tables, or for others before it was pointed at its own.
        const std::string prepared = row["prepared"];
        if (!prepared.empty()) {
            EXPECT_EQ(PrepareNaming(&options, prepared == "other columns" ? hostColumns : options.columnTable,
                                    prepared == "other supported" ? none : options.supportedTable),
                      0);
        }
        const int outSize = std::stoi(row["out"]);
        for (const std::string &text : texts) {
            for (int length : {static_cast<int>(text.size()), -1}) {
                SearchOutcome one = OneCallSearch(text.c_str(), length, options, outSize);
                EXPECT_EQ(Difference(ClassicSearch(text.c_str(), length, options, outSize), one), "") << row.where() << ": " << text;
                reached["a failure"] += one.result < 0;
                reached["a cut text"] += one.result >= outSize;
                reached["an always-true property"] += one.info.alwaysTrueCount > 0;
                reached["a @refID made false"] += one.info.refIdMadeFalse;
                reached["more properties than listed"] += one.info.propertyCount > MSC_SEARCH_INFO_PROPERTIES;
                reached["a property without a column"] += one.info.condition == SEARCH_CONDITION_NO_COLUMN;
                reached["a repair"] += one.info.repairs != 0;
            }
        }
    }
    for (const auto &[part, count] : reached) EXPECT_GT(count, 0) << "no text and option set reach " << part;

    // A NULL record or buffer only measures; NULL options or text fail as invalid.
    const SearchOptions options = {{0, nullptr}, kColumns, nullptr, nullptr, "o.", {SQL_DIALECT_SQLITE, 0}, nullptr, 0, {}, MSC_VERSION_NUMBER, 0, nullptr, nullptr, nullptr};
    SearchInfo info;
    EXPECT_EQ(ConvertSearchCriteria("dc:title = \"a\"", -1, &options, nullptr, 0, nullptr), 17);  // " o.title  =  'a' "
    EXPECT_EQ(ConvertSearchCriteria(nullptr, 0, &options, nullptr, 0, &info), -1);
    EXPECT_EQ(info.error.code, SEARCH_PARSE_INVALID_ARGUMENT);
    EXPECT_EQ(ConvertSearchCriteria("", 0, nullptr, nullptr, 0, &info), -1);
    EXPECT_EQ(info.error.code, SEARCH_PARSE_INVALID_ARGUMENT);
    EXPECT_EQ(PrepareSearchOptions(nullptr), -1);
}

}  // namespace
