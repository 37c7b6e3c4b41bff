// Time of the host's parse, conversion and free on hostile shapes, from 64 KiB to 2 MiB each, in
// the classic grammar and in the standard one with its repairs (SEARCH_PARSE_LENIENT, which reads
// a text it refuses a second time): the throughput stays flat and the fitted complexity is O(N)
// when the work is linear in the length of the criteria. Run: build/bench/msc_hostile_benchmark
#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "mysearchcriteria.h"

namespace {

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, "class"}, {0, nullptr}};

std::string Fill(const std::string &head, const std::string &unit, const std::string &tail, size_t bytes) {
    std::string text = head;
    while (text.size() + unit.size() + tail.size() <= bytes) text += unit;
    return text + tail;
}

// The shapes, each made 'bytes' long.
std::string Shape(int shape, size_t bytes) {
    switch (shape) {
        case 0: return Fill("", R"(dc:title = "a" and )", R"(dc:title = "a")", bytes);
        case 1: return Fill("", R"((upnp:class = "x") or )", R"((upnp:class = "x"))", bytes);
        case 2: return Fill("", "()and", "()", bytes);
        case 3: return std::string(bytes / 2, '(') + "dc:title" + std::string(bytes / 2, ')');
        case 4: return Fill("dc:title", R"( = "a")", "", bytes);
        case 5: return "dc:title contains \"" + std::string(bytes, 'v') + "\"";
        case 6: {
            std::string text = "dc:title = \"";
            while (text.size() < bytes) {
                for (int b = 1; b < 256; ++b) {
                    if (b != '"' && b != '\\') text += static_cast<char>(b);
                }
            }
            return text + "\"";
        }
        case 7: return "dc:title = \"" + std::string(bytes, 'u');
        case 8: return "dc:title = \"" + std::string(bytes, '\\') + "\"";
        case 9: return std::string(bytes, '"');
        // What the repairs read: groups and a quote left open after a long list, values in
        // doubled and single quotes, and a list whose end no repair saves.
        case 10: return Fill(std::string(200, '('), R"(dc:title = 'a' and )", R"(dc:title = "a)", bytes);
        case 11: return Fill("", R"(dc:title = ""a"" or )", R"(dc:title = ""a"")", bytes);
        default: return Fill("", R"(dc:title = "a" and )", R"(dc:title = "a\)", bytes);
    }
}

const char *const kShapeNames[] = {"and_list",     "or_list_of_groups", "empty_groups",
                                   "parentheses",  "comparison_chain",  "long_value",
                                   "every_byte",   "unterminated_quote", "backslashes",
                                   "quotes",       "open_groups_and_quote", "doubled_quotes",
                                   "unsaved_list_end"};
constexpr int kShapes = sizeof kShapeNames / sizeof kShapeNames[0];

// Parse with 'options', convert into a buffer of the whole text's size, free: what a host does
// per search.
void HostSequence(benchmark::State &state, int shape, unsigned options) {
    const std::string text = Shape(shape, static_cast<size_t>(state.range(0)));
    std::vector<char> out(4 * text.size() + 64);
    for (auto _ : state) {
        ParseTreeNode *tree = nullptr;
        int result = Parse_searchExpEx(&tree, text.c_str(), 0, static_cast<int>(text.size()) - 1, options, nullptr);
        benchmark::DoNotOptimize(result);
        ConvertSQLCondition(tree, kColumns, "t.", out.data(), static_cast<int>(out.size()));
        benchmark::DoNotOptimize(out.data());
        freeParseTree(tree);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.SetComplexityN(static_cast<int64_t>(text.size()));
}

}  // namespace

// One family per shape and grammar, so that each gets its own complexity fit.
int main(int argc, char **argv) {
    const std::pair<const char *, unsigned> grammars[] = {
        {"BM_HostSequence/", 0}, {"BM_LenientSequence/", SEARCH_PARSE_STANDARD | SEARCH_PARSE_LENIENT}};
    for (const auto &[family, options] : grammars) {
        for (int shape = 0; shape < kShapes; ++shape) {
            benchmark::RegisterBenchmark((std::string(family) + kShapeNames[shape]).c_str(), HostSequence, shape,
                                         options)
                ->RangeMultiplier(2)
                ->Range(64 << 10, 2 << 20)
                ->Unit(benchmark::kMillisecond)
                ->Complexity(benchmark::oN);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
