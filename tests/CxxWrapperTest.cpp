// The header-only C++ wrapper, used as a C++ host uses it: each member gives what its C function
// gives, owns what the C function hands out and never cuts a text.
#include <gtest/gtest.h>

#include "AllocationHooks.h"
#include "TreeText.h"
#include "mysearchcriteria.hpp"

using namespace msc_test;

namespace {

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"},      {PROP_DC_DATE, "date"}, {PROP_UPNP_CLASS, "class"},
                               {PROP_UPNP_ARTIST, "artist"}, {PROP_REFID, "ref_id"}, {0, nullptr}};

int Number(const std::string &text) { return static_cast<int>(strtol(text.c_str(), nullptr, 0)); }

std::string CheckText(const msc::ConditionCheck &check) {
    return check.message() + (check.node != nullptr ? " at " + TreeToString(check.node) : "");
}

// Each text is parsed from a view that more text follows (the parser reads keywords up to a NUL);
// the members then run on a copy that outlives the parse's tree. The dump is what TravelTreeToStream
// prints, from a memory stream: stdout and what is pending there stay untouched.
TEST(CxxWrapper, MembersGiveWhatTheCFunctionsGive) {
    for (const Case &row : ReadCases("api-wrapper.tsv")) {
        SCOPED_TRACE(row.where());
        const std::string criteria = row["criteria"], padded = criteria + "lbum = \"x\"", prefixText = row["prefix"];
        const TokenEntry host[] = {{Number(row["host"]), "last_updated"}, {0, nullptr}};
        const SearchParseConfig config = {static_cast<unsigned>(Number(row["parse"])), row["host"].empty() ? nullptr : host};
        const char *prefix = prefixText.empty() ? nullptr : prefixText.c_str();
        SqlOptions sql = {SQL_DIALECT_SQLITE, 0};
        sscanf(row["dialect"].c_str(), "%d %u", &sql.dialect, &sql.flags);
        std::map<std::string, std::string> got, want = row.fields;
        std::string messages = CaptureStderr([&] {
            msc::ParseResult parsed = msc::parse(std::string_view(padded).substr(0, criteria.size()), config.options, config.hostProperties);
            msc::Tree tree = parsed.tree.clone();
            parsed.tree.reset();
            got["tree"] = TreeToString(tree.get()) + (parsed ? "" : " error " + std::to_string(parsed.error.code) + " at " +
                                                                  std::to_string(parsed.error.offset) + ": " + parsed.message());
            if (parsed.repairs.repairs != 0 || parsed.repairs.offset != -1) {
                got["tree"] += " repairs " + std::to_string(parsed.repairs.repairs) + " at " + std::to_string(parsed.repairs.offset);
            }
            got["properties"] = got["rewritten"] = "";
            for (int id : tree.properties()) got["properties"] += (got["properties"].empty() ? "" : " ") + std::to_string(id);
            std::optional<std::string_view> upnpClass = tree.upnp_class();
            got["class"] = upnpClass ? "\"" + std::string(*upnpClass) + "\"" : "none";
            EXPECT_EQ(upnpClass ? upnpClass->data() : nullptr, GetUPnPClass(tree.get()));  // The tree's text, no copy.
            got["check"] = CheckText(tree.check(kColumns)) + " / " + CheckText(tree.check());
            got["sql"] = parsed ? tree.to_sql(kColumns, prefix, row["dialect"].empty() ? nullptr : &sql)
                                : std::string("error: ") + parsed.message();
            want["dump"] = CaptureStdout([&] { TravelTreeToStream(tree.get(), 2, stdout, config.hostProperties); });
            EXPECT_EQ(CaptureStdout([&] { printf("<"), got["dump"] = tree.dump(2, config.hostProperties), printf(">"); }), "<>");
            msc::SearchResult found = msc::search(criteria, msc::prepared({config, kColumns, nullptr, nullptr, prefix, sql, nullptr, 0, {}, MSC_VERSION_NUMBER, 0, nullptr, nullptr, nullptr}));
            got["search"] = found ? found.sql : found.sql + "error: " + found.message();
            // Each rewrite runs twice, the second time on the rewritten tree.
            const std::string rewrite = row["rewrite"], argument = row["argument"];
            const TokenEntry supported[] = {{Number(argument), nullptr}, {0, nullptr}};
            for (int round = 0; round < 2 && !rewrite.empty(); ++round) {
                got["rewritten"] += std::to_string(rewrite == "property"      ? tree.set_always_true_for_property(Number(argument))
                                                   : rewrite == "unsupported" ? tree.set_always_true_for_non_supported_property(supported)
                                                                              : tree.check_container_is_support_refid(argument.c_str())) + " ";
            }
            if (!rewrite.empty()) got["rewritten"] += TreeToString(tree.get());
        });
        EXPECT_EQ(messages, row["stderr"]);  // The wrapper is quiet; a classic call may not be.
        for (const char *input : {"criteria", "parse", "host", "prefix", "dialect", "rewrite", "argument", "stderr"}) want.erase(input);
        if (want["search"].empty()) want["search"] = want["sql"];
        EXPECT_EQ(got, want);
    }
}

// Trees that no parse gives, and a list of 300 terms whose dump grows the memory stream many times.
TEST(CxxWrapper, HandBuiltTreesAndLongLists) {
    const msc::Tree list = msc::parse("dc:title = \"a\"" + Repeat(" or dc:date >= \"2001\"", 300)).tree;
    EXPECT_EQ(list.dump(), CaptureStdout([&] { TravelTree(list.get(), 0); }));
    const SqlOptions unknown = {SQL_DIALECT_MYSQL + 1, 0};
    EXPECT_THROW(list.to_sql(kColumns, nullptr, &unknown), std::invalid_argument);
    EXPECT_FALSE(msc::Tree().clone());
    EXPECT_FALSE(msc::Tree(OfKind(7)).clone());  // No copy of an unknown kind, and no bad_alloc.
    msc::Tree broken(Op(OP_AND, OfKind(7), Op(OP_EQ, Prop(PROP_DC_TITLE), Val("a"))));
    EXPECT_EQ(broken.set_always_true_for_property(PROP_DC_TITLE), -1);
    EXPECT_EQ(broken.set_always_true_for_non_supported_property(nullptr), -1);
}

// Every allocation of each call fails in turn: the call throws std::bad_alloc (never a failed
// parse, an empty copy or a partial text) and leaves stdout as it was, until a run needs no
// failure and gives the whole result.
TEST(CxxWrapper, ThrowsWhenMemoryRunsOut) {
    const std::string criteria = R"(upnp:class derivedfrom "object.item" and (dc:title contains "x"))";
    // Past the one call's room on the stack: a logical keyword at the end makes the one call
    // build a tree, and the value's copy takes heap memory. An unsupported genre writes a short
    // condition, a title a long one, which search() asks for a second time.
    const std::string genre = "upnp:genre = \"" + std::string(9000, 'g') + "\" and";
    const std::string title = "dc:title = \"" + std::string(9000, 't') + "\" and";
    const SearchOptions options = {{0, nullptr}, kColumns, nullptr, nullptr, nullptr, {SQL_DIALECT_SQLITE, 0}, nullptr, 0, {}, MSC_VERSION_NUMBER, 0, nullptr, nullptr, nullptr};
    msc::Tree tree = msc::parse(criteria).tree;
    const std::function<std::string()> calls[] = {
        [&] { return TreeToString(msc::parse(criteria).tree.get()); },
        [&] { return TreeToString(tree.clone().get()); },
        [&] { return tree.dump(); },
        [&] { return msc::search(genre, options).sql; },
        [&] { return msc::search(title, options).sql; },
    };
    for (const auto &call : calls) {
        const std::string whole = call();
        bool failed = true;
        for (long failAt = 1; failed; ++failAt) {
            bool threw = false;
            std::string result;
            EXPECT_EQ(CaptureStdout([&] {
                OpenAllocationWindow(failAt);
                try {
                    result = call();
                } catch (const std::bad_alloc &) {
                    threw = true;
                }
                failed = CloseAllocationWindow() >= failAt;
                printf(">");
            }), ">") << whole << " " << failAt;
            EXPECT_EQ(threw, failed) << whole << " " << failAt;
            EXPECT_EQ(result, failed ? "" : whole) << failAt;
            EXPECT_TRUE(failed || failAt > 1) << whole;  // The call allocates at all.
        }
    }
}

}  // namespace
