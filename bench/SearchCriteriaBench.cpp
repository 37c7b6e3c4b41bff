// Benchmarks of the library as a media server uses it, over a corpus of real client criteria
// (bench/client-criteria.tsv) and over generated inputs from 100 B to 1 MiB.
//
// Every corpus benchmark is also printed as a ratio to Baseline/corpus, which does only the work
// that no implementation can avoid for the same criteria: measure and copy the input once, write
// the output text once, and one malloc/free pair per tree node and per value text. Two floors
// show how much of a goal the interface itself takes: HostFloor/corpus and ConvertFloor/corpus
// do what any implementation of these calls must do besides the baseline's work, and nothing
// that makes an answer.
//
//   bench [--corpus=FILE] [--scaling_csv=FILE] [--callgrind=OP [--callgrind_passes=N]]
//         [benchmark flags]
//
// --callgrind=OP runs one operation over the corpus --callgrind_passes times (200) inside
// CallgrindPass() and nothing else, for valgrind --tool=callgrind --toggle-collect=CallgrindPass.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "mysearchcriteria.h"

namespace {

// The host's tables: a column per property, and the properties its database can evaluate
// (actor and res are not, so the always-true rewrite has work to do on some criteria).
const TokenEntry kColumns[] = {
    {PROP_DC_TITLE, "title"},      {PROP_DC_DATE, "date"},       {PROP_DC_CREATOR, "creator"},
    {PROP_UPNP_CLASS, "class"},    {PROP_UPNP_ACTOR, "actor"},   {PROP_UPNP_ARTIST, "artist"},
    {PROP_UPNP_ALBUM, "album"},    {PROP_UPNP_GENRE, "genre"},   {PROP_REFID, "ref_id"},
    {PROP_ID, "object_id"},        {PROP_RES, "res"},            {PROP_UPNP_ORIGINAL_TRACK_NUMBER, "track"},
    {0, nullptr},
};
const TokenEntry kSupported[] = {
    {PROP_DC_TITLE, "title"},   {PROP_DC_DATE, "date"},     {PROP_DC_CREATOR, "creator"},
    {PROP_UPNP_CLASS, "class"}, {PROP_UPNP_ARTIST, "artist"}, {PROP_UPNP_ALBUM, "album"},
    {PROP_UPNP_GENRE, "genre"}, {PROP_REFID, "ref_id"},     {PROP_ID, "object_id"},
    {PROP_UPNP_ORIGINAL_TRACK_NUMBER, "track"},
    {0, nullptr},
};
// One of the containers whose searches drop references, so the container rewrite runs too.
const char kContainer[] = "A0$128$129";

struct Sample {
    std::string id;
    std::string text;
    std::vector<size_t> blockSizes;  // What the parse of 'text' must allocate, one entry a block.
    std::string sql;                 // The condition text that the parse tree converts to.
    ParseTreeNode *tree = nullptr;   // Parsed once, for the benchmarks that take a tree.
};

std::vector<Sample> corpus;
size_t corpusBytes = 0;
// Sized when the corpus loads for its longest criteria and SQL text.
std::vector<char> sqlOutBuffer;
std::vector<char> inputCopyBuffer;
char *sqlOut;
int sqlOutSize;
char *inputCopy;
std::vector<void *> blockSlots;

// Sums onNode over every node of a tree, each taken before the nodes below it, as the library's
// walkers go: left operands by recursion (a comparison's property leaf in place), right operands
// and group contents in a loop.
template <typename OnNode>
size_t SumOverNodes(const ParseTreeNode *node, const OnNode &onNode) {
    size_t sum = 0;
    while (node != nullptr) {
        sum += onNode(node);
        switch (node->kind) {
            case NODE_OPERATOR: {
                const ParseTreeNode *left = node->left;
                if (left != nullptr && left->kind == NODE_PROPERTY) {
                    sum += onNode(left);
                } else {
                    sum += SumOverNodes(left, onNode);
                }
                node = node->right;
                break;
            }
            case NODE_GROUP:
                node = node->inner;
                break;
            default:
                return sum;
        }
    }
    return sum;
}

void CollectBlocks(const ParseTreeNode *tree, std::vector<size_t> *sizes) {
    SumOverNodes(tree, [sizes](const ParseTreeNode *node) {
        sizes->push_back(sizeof(ParseTreeNode));
        if (node->kind == NODE_VALUE) sizes->push_back(strlen(node->text) + 1);
        return size_t{0};
    });
}

int LastIndex(const std::string &text) { return static_cast<int>(text.size()) - 1; }

bool LoadCorpus(const char *path) {
    std::ifstream in(path);
    if (!in) {
        fprintf(stderr, "bench: cannot read the corpus %s\n", path);
        return false;
    }
    std::string line;
    std::getline(in, line);  // Header: id, source, criteria.
    while (std::getline(in, line)) {
        size_t first = line.find('\t');
        size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
        if (second == std::string::npos) continue;
        Sample sample;
        sample.id = line.substr(0, first);
        sample.text = line.substr(second + 1);
        Parse_searchExp(&sample.tree, sample.text.c_str(), 0, LastIndex(sample.text));
        CollectBlocks(sample.tree, &sample.blockSizes);
        int length = ConvertSQLConditionEx(sample.tree, kColumns, nullptr, nullptr, 0);
        std::vector<char> sql(static_cast<size_t>(length) + 1);
        ConvertSQLCondition(sample.tree, kColumns, nullptr, sql.data(), length + 1);
        sample.sql.assign(sql.data(), static_cast<size_t>(length));
        // Room for the standard grammar's text too, which writes what the classic one refuses.
        size_t room = std::max(sql.size(), 8 * sample.text.size() + 64);
        if (room > sqlOutBuffer.size()) sqlOutBuffer.resize(room);
        if (sample.text.size() + 1 > inputCopyBuffer.size()) inputCopyBuffer.resize(sample.text.size() + 1);
        if (sample.blockSizes.size() > blockSlots.size()) blockSlots.resize(sample.blockSizes.size());
        corpusBytes += sample.text.size();
        corpus.push_back(std::move(sample));
    }
    if (corpus.empty()) fprintf(stderr, "bench: the corpus %s holds no criteria\n", path);
    sqlOut = sqlOutBuffer.data();
    sqlOutSize = static_cast<int>(sqlOutBuffer.size());
    inputCopy = inputCopyBuffer.data();
    return !corpus.empty();
}

// --- One pass of each operation over the whole corpus ---------------------------------------

// The baseline's work for one criteria; 'whileAllocated' runs between its allocations and its
// releases.
template <typename WhileAllocated>
inline void UnavoidableWork(const Sample &sample, WhileAllocated whileAllocated) {
    const char *text = sample.text.c_str();
    benchmark::DoNotOptimize(text);
    size_t length = strlen(text);
    memcpy(inputCopy, text, length + 1);
    void **blocks = blockSlots.data();
    size_t count = sample.blockSizes.size();
    for (size_t i = 0; i < count; ++i) {
        blocks[i] = malloc(sample.blockSizes[i]);
        benchmark::DoNotOptimize(blocks[i]);
    }
    whileAllocated();
    memcpy(sqlOut, sample.sql.data(), sample.sql.size() + 1);
    for (size_t i = 0; i < count; ++i) free(blocks[i]);
    benchmark::ClobberMemory();
}

void BaselinePass() {
    for (const Sample &sample : corpus) UnavoidableWork(sample, [] {});
}

// Visits every node of a tree and returns their number, plus the length of every value text
// when kMeasureValues.
template <bool kMeasureValues>
size_t VisitTree(const ParseTreeNode *tree) {
    return SumOverNodes(tree, [](const ParseTreeNode *node) {
        return kMeasureValues && node->kind == NODE_VALUE ? 1 + strlen(node->text) : size_t{1};
    });
}

// A floor under the host sequence that no implementation of these calls goes below: the
// baseline's work, plus the property list's array (one more malloc/free pair), plus one visit
// of the whole tree for each of the five calls that must see all of it, since the host may
// change the tree between calls (property list, always-true rewrite, container rewrite, convert,
// free), plus the strlen of each value text that convert needs, a node keeping no length. It
// leaves out all that makes the answers: tokens and keywords, rewrite decisions, column lookups,
// SQL pieces.
void HostFloorPass() {
    for (const Sample &sample : corpus) {
        UnavoidableWork(sample, [&sample] {
            const ParseTreeNode *tree = sample.tree;
            benchmark::DoNotOptimize(tree);
            void *properties = malloc(10 * sizeof(int));
            benchmark::DoNotOptimize(properties);
            benchmark::DoNotOptimize(VisitTree<false>(tree));
            free(properties);
            benchmark::DoNotOptimize(VisitTree<false>(tree));
            benchmark::DoNotOptimize(VisitTree<false>(tree));
            benchmark::DoNotOptimize(VisitTree<true>(tree));
            benchmark::DoNotOptimize(VisitTree<false>(tree));
        });
    }
}

// Convert's share of that floor: one visit of the tree with the strlen of each value text, and
// the copy of the output that MemcpyOutput/corpus makes.
void ConvertFloorPass() {
    for (const Sample &sample : corpus) {
        const ParseTreeNode *tree = sample.tree;
        benchmark::DoNotOptimize(tree);
        benchmark::DoNotOptimize(VisitTree<true>(tree));
        const char *sql = sample.sql.data();
        benchmark::DoNotOptimize(sql);
        memcpy(sqlOut, sql, sample.sql.size() + 1);
        benchmark::ClobberMemory();
    }
}

void ParseFreePass() {
    for (const Sample &sample : corpus) {
        const char *text = sample.text.c_str();
        ParseTreeNode *tree = nullptr;
        Parse_searchExp(&tree, text, 0, static_cast<int>(strlen(text)) - 1);
        freeParseTree(tree);
    }
}

void ConvertPass() {
    for (const Sample &sample : corpus) {
        ConvertSQLCondition(sample.tree, kColumns, nullptr, sqlOut, sqlOutSize);
        benchmark::ClobberMemory();
    }
}

// What Convert is held against: copying the very bytes it writes, their length known.
void MemcpyOutputPass() {
    for (const Sample &sample : corpus) {
        const char *sql = sample.sql.data();
        benchmark::DoNotOptimize(sql);
        memcpy(sqlOut, sql, sample.sql.size() + 1);
        benchmark::ClobberMemory();
    }
}

void ClonePass() {
    for (const Sample &sample : corpus) {
        ParseTreeNode *copy = CloneParseTree(sample.tree);
        freeParseTree(copy);
    }
}

void DumpPass() {
    for (const Sample &sample : corpus) TravelTree(sample.tree, 0);
}

// The host's whole sequence for one search.
void HostSequencePass() {
    for (const Sample &sample : corpus) {
        const char *text = sample.text.c_str();
        ParseTreeNode *tree = nullptr;
        if (Parse_searchExp(&tree, text, 0, static_cast<int>(strlen(text)) - 1) != 0) continue;
        benchmark::DoNotOptimize(GetUPnPClass(tree));
        int count = 0;
        int *properties = GetPropertyList(tree, &count);
        free(properties);
        SetAlwayTrueForNonSupportedProperty(tree, kSupported);
        if (tree != nullptr) CheckContainerIsSupportRefID(kContainer, tree);
        ConvertSQLCondition(tree, kColumns, nullptr, sqlOut, sqlOutSize);
        benchmark::ClobberMemory();
        freeParseTree(tree);
    }
}

// The options of the one call, set once as a host does, and prepared or not.
const SearchOptions kOneCallOptions = {{0, nullptr}, kColumns, kSupported, kContainer, nullptr,
                                       {SQL_DIALECT_SQLITE, 0}, nullptr, 0, {}, MSC_VERSION_NUMBER, 0, nullptr, nullptr, nullptr};
const SearchOptions &PreparedOptions() {
    static const SearchOptions options = [] {
        SearchOptions prepared = kOneCallOptions;
        PrepareSearchOptions(&prepared);
        return prepared;
    }();
    return options;
}

// The same sequence as one call: the tree in the call's arena, the answers in its record.
void OneCallOver(const SearchOptions &options) {
    SearchInfo info;
    for (const Sample &sample : corpus) {
        ConvertSearchCriteria(sample.text.c_str(), static_cast<int>(sample.text.size()), &options, sqlOut,
                              sqlOutSize, &info);
        benchmark::DoNotOptimize(info);
        benchmark::ClobberMemory();
    }
}
void OneCallPass() { OneCallOver(PreparedOptions()); }
void OneCallUnpreparedPass() { OneCallOver(kOneCallOptions); }
// The one call as a new host makes it: the standard grammar, unknown properties kept (their
// conditions become constants) and a refused text read once more with the repairs.
void OneCallStandardPass() {
    static const SearchOptions options = [] {
        SearchOptions standard = PreparedOptions();
        standard.parse.options = SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN | SEARCH_PARSE_LENIENT;
        return standard;
    }();
    OneCallOver(options);
}

// The sort text of a Search request beside each criteria: the two keys a music app sends, with
// the prepared options and the id column that ends every order.
void SortPass() {
    static const SearchOptions options = [] {
        SearchOptions sorting = PreparedOptions();
        sorting.idColumn = "object_id";
        return sorting;
    }();
    static const char kSort[] = "+upnp:originalTrackNumber,+dc:title";
    SearchInfo info;
    for (size_t i = 0; i < corpus.size(); ++i) {
        ConvertSortCriteria(kSort, sizeof kSort - 1, &options, sqlOut, sqlOutSize, &info);
        benchmark::DoNotOptimize(info);
        benchmark::ClobberMemory();
    }
}

// The dump writes to stdout; during its benchmark stdout is a stream over a memory buffer,
// rewound before every pass, so the numbers are the library's and not the terminal's.
class StdoutToMemory {
public:
    explicit StdoutToMemory(size_t size = size_t{1} << 20) : buffer_(size), saved_(stdout) {
        stream_ = fmemopen(buffer_.data(), buffer_.size(), "w");
        if (stream_ != nullptr) stdout = stream_;
    }
    ~StdoutToMemory() {
        stdout = saved_;
        if (stream_ != nullptr) fclose(stream_);
    }
    bool ok() const { return stream_ != nullptr; }
    void Rewind() { fseek(stream_, 0, SEEK_SET); }

private:
    std::vector<char> buffer_;
    FILE *saved_;
    FILE *stream_ = nullptr;
};

void RunCorpus(benchmark::State &state, void (*pass)()) {
    for (auto _ : state) pass();
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(corpus.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(corpusBytes));
}

void BM_Dump(benchmark::State &state) {
    StdoutToMemory memory;
    if (!memory.ok()) {
        state.SkipWithError("fmemopen failed");
        return;
    }
    for (auto _ : state) {
        memory.Rewind();
        DumpPass();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(corpus.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(corpusBytes));
}

// --- Scaling over input size --------------------------------------------------------------

// Builds a text of at least 'size' bytes (and no more than one unit over) from repeated units
// joined by " or ", closed by a last term.
std::string Repeat(const std::string &unit, const std::string &last, size_t size) {
    std::string text;
    while (text.size() + last.size() < size) text += unit;
    return text + last;
}

std::string Nested(int depth, const std::string &inner) {
    return std::string(static_cast<size_t>(depth), '(') + inner + std::string(static_cast<size_t>(depth), ')');
}

std::string Chain(int comparisons) {
    std::string text = "dc:title = \"a\"";
    for (int i = 1; i < comparisons; ++i) text += " = \"b\"";
    return text;
}

struct Shape {
    const char *name;
    std::string (*make)(size_t size);
};

const Shape kShapes[] = {
    {"or_list",
     [](size_t size) {
         return Repeat("dc:title contains \"love\" or upnp:artist = \"Sting\" or ",
                       "dc:date >= \"2001\"", size);
     }},
    {"and_or_list",
     [](size_t size) {
         return Repeat("upnp:class derivedfrom \"object.item.audioItem\" and dc:title contains \"a\" or ",
                       "upnp:genre = \"Pop\"", size);
     }},
    {"long_value",
     [](size_t size) {
         std::string head = "dc:title contains \"";
         std::string value;
         while (head.size() + value.size() + 1 < size) value += "la la ";
         return head + value + "\"";
     }},
    // Groups as deep as the parser allows, side by side: the group matching must stay linear.
    {"deep_groups",
     [](size_t size) {
         return Repeat(Nested(MSC_MAX_NESTING - 1, "dc:title = \"a\"") + " or ",
                       "(dc:title = \"z\")", size);
     }},
    // Comparison chains as long as the parser allows, side by side.
    {"long_chains",
     [](size_t size) { return Repeat(Chain(MSC_MAX_NESTING) + " or ", "dc:title = \"z\"", size); }},
};

const size_t kSizes[] = {100, 1024, 10 * 1024, 100 * 1024, 1024 * 1024};

struct ScaledInput {
    std::string text;
    std::vector<char> out;
    std::string sql;                 // What the text converts to.
    std::vector<size_t> blockSizes;  // What its parse allocates.
};

// The unavoidable work for one generated text, as Baseline/corpus does it for the corpus: at
// 1 MiB it shows what the allocator and the memory hierarchy cost per byte whatever the parser.
void BM_ScaleBaseline(benchmark::State &state, std::shared_ptr<ScaledInput> input) {
    std::vector<char> copy(input->text.size() + 1);
    std::vector<void *> blocks(input->blockSizes.size());
    for (auto _ : state) {
        const char *text = input->text.c_str();
        benchmark::DoNotOptimize(text);
        memcpy(copy.data(), text, strlen(text) + 1);
        for (size_t i = 0; i < blocks.size(); ++i) {
            blocks[i] = malloc(input->blockSizes[i]);
            benchmark::DoNotOptimize(blocks[i]);
        }
        memcpy(input->out.data(), input->sql.data(), input->sql.size() + 1);
        for (void *block : blocks) free(block);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input->text.size()));
    state.counters["input_bytes"] = static_cast<double>(input->text.size());
}

// Parse, convert and free one generated text.
void BM_Scale(benchmark::State &state, std::shared_ptr<ScaledInput> input) {
    const std::string &text = input->text;
    char *out = input->out.data();
    int outSize = static_cast<int>(input->out.size());
    for (auto _ : state) {
        ParseTreeNode *tree = nullptr;
        if (Parse_searchExp(&tree, text.c_str(), 0, LastIndex(text)) != 0) {
            state.SkipWithError("the generated text does not parse");
            return;
        }
        ConvertSQLCondition(tree, kColumns, nullptr, out, outSize);
        benchmark::ClobberMemory();
        freeParseTree(tree);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.counters["input_bytes"] = static_cast<double>(text.size());
}

// The same text through the one call: its arena grows by doubling heap blocks past the stack.
void BM_ScaleOneCall(benchmark::State &state, std::shared_ptr<ScaledInput> input) {
    const SearchOptions &options = PreparedOptions();
    const std::string &text = input->text;
    SearchInfo info;
    for (auto _ : state) {
        if (ConvertSearchCriteria(text.c_str(), static_cast<int>(text.size()), &options, input->out.data(),
                                  static_cast<int>(input->out.size()), &info) < 0) {
            state.SkipWithError("the generated text does not parse");
            return;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.counters["input_bytes"] = static_cast<double>(text.size());
}

// The depth series, up to the parser's bound: groups nested around a comparison (which takes
// the last level itself), and one comparison chain.
const int kGroupDepths[] = {1, 4, 16, 64, MSC_MAX_NESTING - 1};
const int kChainLengths[] = {1, 4, 16, 64, MSC_MAX_NESTING};

void RegisterScaling() {
    for (const Shape &shape : kShapes) {
        for (size_t size : kSizes) {
            auto input = std::make_shared<ScaledInput>();
            input->text = shape.make(size);
            ParseTreeNode *tree = nullptr;
            Parse_searchExp(&tree, input->text.c_str(), 0, LastIndex(input->text));
            int length = ConvertSQLConditionEx(tree, kColumns, nullptr, nullptr, 0);
            input->out.resize(static_cast<size_t>(length) + 1);
            ConvertSQLCondition(tree, kColumns, nullptr, input->out.data(), length + 1);
            input->sql.assign(input->out.data(), static_cast<size_t>(length));
            CollectBlocks(tree, &input->blockSizes);
            freeParseTree(tree);
            std::string size_name = std::string(shape.name) + "/" + std::to_string(size);
            benchmark::RegisterBenchmark(("Scale/" + size_name).c_str(), BM_Scale, input)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("ScaleBaseline/" + size_name).c_str(), BM_ScaleBaseline, input)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("ScaleOneCall/" + size_name).c_str(), BM_ScaleOneCall, input)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    for (int depth : kGroupDepths) {
        auto input = std::make_shared<ScaledInput>();
        input->text = Nested(depth, "dc:title = \"a\" and upnp:genre = \"b\"");
        input->out.resize(input->text.size() * 4 + 64);
        std::string name = "Depth/groups/" + std::to_string(depth);
        benchmark::RegisterBenchmark(name.c_str(), BM_Scale, input);
    }
    for (int depth : kChainLengths) {
        auto input = std::make_shared<ScaledInput>();
        input->text = Chain(depth);
        input->out.resize(input->text.size() * 4 + 64);
        std::string name = "Depth/chain/" + std::to_string(depth);
        benchmark::RegisterBenchmark(name.c_str(), BM_Scale, input);
    }
}

// --- Ratios, printed after the runs -------------------------------------------------------

// Passes every run to the console and keeps, per benchmark, the best CPU time per item (criteria
// or byte) over its repetitions: on a shared machine the fastest run is the least disturbed one.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, so that saved results stay plain text.
    RatioReporter()
        : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            double perItem = NanosPerItem(run);
            if (perItem <= 0) continue;
            std::string name = run.run_name.str();
            auto found = best_.find(name);
            if (found == best_.end() || perItem < found->second) best_[name] = perItem;
            auto bytes = run.counters.find("input_bytes");
            if (bytes != run.counters.end()) inputBytes_[name] = bytes->second.value;
        }
    }

    // Returns false when a goal was missed.
    bool PrintRatios(std::ostream &out) const {
        bool met = true;
        double baseline = Get("Baseline/corpus");
        out << "\nCorpus: " << corpus.size() << " criteria, " << corpusBytes / corpus.size()
            << " bytes on average. CPU ns per criteria, best of the repetitions:\n";
        const char *const kCorpusRuns[] = {"Baseline/corpus", "ParseFree/corpus",  "Convert/corpus",
                                           "MemcpyOutput/corpus", "Clone/corpus", "Dump/corpus",
                                           "HostSequence/corpus", "OneCall/corpus", "OneCallUnprepared/corpus",
                                           "HostFloor/corpus",
                                           "ConvertFloor/corpus"};
        for (const char *name : kCorpusRuns) {
            double ns = Get(name);
            if (ns <= 0) continue;
            Line(out, name, ns, baseline > 0 ? ns / baseline : NAN, "x baseline");
        }
        out << "\nGoals:\n";
        met &= Goal(out, "HostSequence / Baseline", Get("HostSequence/corpus"), baseline, 2.0);
        met &= Goal(out, "OneCall / Baseline", Get("OneCall/corpus"), baseline, 1.0);
        Floor(out, "OneCall / HostSequence", Get("OneCall/corpus"), Get("HostSequence/corpus"));
        met &= Goal(out, "Convert / MemcpyOutput", Get("Convert/corpus"), Get("MemcpyOutput/corpus"), 10.0);
        out << "  Floors under these goals, before any parsing, rewriting or SQL:\n";
        Floor(out, "HostFloor / Baseline", Get("HostFloor/corpus"), baseline);
        Floor(out, "ConvertFloor / MemcpyOutput", Get("ConvertFloor/corpus"), Get("MemcpyOutput/corpus"));
        out << "\nScaling, CPU ns per input byte at 1 KiB and at 1 MiB (parse, convert, free), and the\n"
               "same for the baseline's unavoidable work on the same inputs:\n";
        for (const Shape &shape : kShapes) {
            std::string tail = std::string(shape.name) + "/";
            double small = Get("Scale/" + tail + "1024"), large = Get("Scale/" + tail + "1048576");
            double baseSmall = Get("ScaleBaseline/" + tail + "1024");
            double baseLarge = Get("ScaleBaseline/" + tail + "1048576");
            char line[200];
            snprintf(line, sizeof line, "  %-12s %6.2f -> %6.2f ns/B   baseline %6.2f -> %6.2f ns/B\n",
                     shape.name, small, large, baseSmall, baseLarge);
            if (small > 0 && large > 0) out << line;
        }
        for (const Shape &shape : kShapes) {
            std::string tail = std::string(shape.name) + "/";
            met &= Goal(out, (std::string(shape.name) + " ns/byte 1 MiB / 1 KiB").c_str(),
                        Get("Scale/" + tail + "1048576"), Get("Scale/" + tail + "1024"), 1.5);
            met &= Goal(out, (std::string(shape.name) + " one call 1 MiB / 1 KiB").c_str(),
                        Get("ScaleOneCall/" + tail + "1048576"), Get("ScaleOneCall/" + tail + "1024"), 1.5);
        }
        return met;
    }

    void WriteScalingCsv(const std::string &path) const {
        std::ofstream csv(path);
        csv << "series,input_bytes,ns_per_byte\n";
        for (const auto &entry : best_) {
            const std::string &name = entry.first;
            if (name.rfind("Scale", 0) != 0 && name.rfind("Depth/", 0) != 0) continue;
            auto bytes = inputBytes_.find(name);
            if (bytes == inputBytes_.end()) continue;
            std::string series = name.substr(0, name.rfind('/'));
            csv << series << ',' << static_cast<long long>(bytes->second) << ',' << entry.second << '\n';
        }
    }

private:
    static double NanosPerItem(const Run &run) {
        auto items = run.counters.find("items_per_second");
        if (items == run.counters.end()) items = run.counters.find("bytes_per_second");
        if (items == run.counters.end() || items->second.value <= 0) return 0;
        return 1e9 / items->second.value;
    }

    double Get(const std::string &name) const {
        auto found = best_.find(name);
        return found == best_.end() ? 0 : found->second;
    }

    static void Line(std::ostream &out, const char *name, double ns, double ratio, const char *what) {
        char line[160];
        snprintf(line, sizeof line, "  %-22s %10.1f ns %8.2f %s\n", name, ns, ratio, what);
        out << line;
    }

    static bool Goal(std::ostream &out, const char *name, double value, double reference, double limit) {
        char line[200];
        if (value <= 0 || reference <= 0) {
            snprintf(line, sizeof line, "  %-38s     n/a  (not run)\n", name);
            out << line;
            return true;
        }
        double ratio = value / reference;
        snprintf(line, sizeof line, "  %-38s %7.2f  goal <= %.1f  %s\n", name, ratio, limit,
                 ratio <= limit ? "met" : "MISSED");
        out << line;
        return ratio <= limit;
    }

    static void Floor(std::ostream &out, const char *name, double value, double reference) {
        if (value <= 0 || reference <= 0) return;
        char line[200];
        snprintf(line, sizeof line, "    %-36s %7.2f\n", name, value / reference);
        out << line;
    }

    std::map<std::string, double> best_;
    std::map<std::string, double> inputBytes_;
};

// --- callgrind -----------------------------------------------------------------------------

int callgrindPasses = 200;

struct NamedPass {
    const char *name;
    void (*pass)();
};
const NamedPass kPasses[] = {
    {"baseline", BaselinePass}, {"parse", ParseFreePass}, {"convert", ConvertPass},
    {"memcpy", MemcpyOutputPass}, {"clone", ClonePass}, {"dump", DumpPass},
    {"host", HostSequencePass}, {"onecall", OneCallPass}, {"unprepared", OneCallUnpreparedPass},
    {"standard", OneCallStandardPass},
    {"sort", SortPass},
    {"floor", HostFloorPass},
    {"convertfloor", ConvertFloorPass},
};

// The only code callgrind counts (--toggle-collect=CallgrindPass).
__attribute__((noinline)) void CallgrindPass(void (*pass)()) {
    for (int i = 0; i < callgrindPasses; ++i) pass();
}

int RunForCallgrind(const std::string &name) {
    for (const NamedPass &named : kPasses) {
        if (name != named.name) continue;
        if (named.pass == DumpPass) {
            // Every pass appends to the same buffer, which holds them all: a full stream would
            // make the later output calls fail early and count less.
            StdoutToMemory memory(size_t{64} << 20);
            CallgrindPass(named.pass);
        } else {
            CallgrindPass(named.pass);
        }
        printf("callgrind %s: %d passes over %zu criteria = %zu criteria, %zu bytes\n", named.name,
               callgrindPasses, corpus.size(), static_cast<size_t>(callgrindPasses) * corpus.size(),
               static_cast<size_t>(callgrindPasses) * corpusBytes);
        return 0;
    }
    fprintf(stderr, "bench: --callgrind takes one of:");
    for (const NamedPass &named : kPasses) fprintf(stderr, " %s", named.name);
    fputc('\n', stderr);
    return 1;
}

bool TakeFlag(int *argc, char **argv, const char *flag, std::string *value) {
    size_t length = strlen(flag);
    for (int i = 1; i < *argc; ++i) {
        if (strncmp(argv[i], flag, length) == 0 && argv[i][length] == '=') {
            *value = argv[i] + length + 1;
            for (int j = i; j + 1 < *argc; ++j) argv[j] = argv[j + 1];
            --*argc;
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    std::string corpusPath = MSC_BENCH_CORPUS;
    std::string scalingCsv;
    std::string callgrind;
    TakeFlag(&argc, argv, "--corpus", &corpusPath);
    TakeFlag(&argc, argv, "--scaling_csv", &scalingCsv);
    TakeFlag(&argc, argv, "--callgrind", &callgrind);
    std::string passes;
    if (TakeFlag(&argc, argv, "--callgrind_passes", &passes)) callgrindPasses = std::max(1, atoi(passes.c_str()));

    // The parser's diagnostic lines ("id = 129", "can't find key!!") go to a buffered sink, so
    // that the numbers are the library's and not the terminal's. std::cerr keeps the real stderr.
    FILE *sink = fopen("/dev/null", "w");
    FILE *realStderr = stderr;
    if (sink != nullptr) stderr = sink;
    bool loaded = LoadCorpus(corpusPath.c_str());
    if (!loaded) {
        stderr = realStderr;
        fprintf(stderr, "bench: no corpus loaded from %s\n", corpusPath.c_str());
        return 1;
    }
    if (!callgrind.empty()) return RunForCallgrind(callgrind);

    benchmark::RegisterBenchmark("Baseline/corpus", RunCorpus, BaselinePass);
    benchmark::RegisterBenchmark("ParseFree/corpus", RunCorpus, ParseFreePass);
    benchmark::RegisterBenchmark("Convert/corpus", RunCorpus, ConvertPass);
    benchmark::RegisterBenchmark("MemcpyOutput/corpus", RunCorpus, MemcpyOutputPass);
    benchmark::RegisterBenchmark("Clone/corpus", RunCorpus, ClonePass);
    benchmark::RegisterBenchmark("Dump/corpus", BM_Dump);
    benchmark::RegisterBenchmark("HostSequence/corpus", RunCorpus, HostSequencePass);
    benchmark::RegisterBenchmark("OneCall/corpus", RunCorpus, OneCallPass);
    benchmark::RegisterBenchmark("OneCallUnprepared/corpus", RunCorpus, OneCallUnpreparedPass);
    benchmark::RegisterBenchmark("OneCallStandard/corpus", RunCorpus, OneCallStandardPass);
    benchmark::RegisterBenchmark("SortTwoKeys/corpus", RunCorpus, SortPass);
    benchmark::RegisterBenchmark("HostFloor/corpus", RunCorpus, HostFloorPass);
    benchmark::RegisterBenchmark("ConvertFloor/corpus", RunCorpus, ConvertFloorPass);
    RegisterScaling();

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    bool met = reporter.PrintRatios(std::cout);
    if (!scalingCsv.empty()) reporter.WriteScalingCsv(scalingCsv);
    benchmark::Shutdown();
    for (Sample &sample : corpus) freeParseTree(sample.tree);
    return met ? 0 : 2;
}
