// Runs the host's whole sequence on untrusted criteria: parse a byte range, then, on success,
// class, property list, copy, both always-true rewrites, the container rewrite, SQL conversion
// into a full and a short buffer, dump, free, all on a small stack. Checks what each step
// promises on the way.
//
// Input: 7 configuration bytes, then the criteria text.
//   [0] low nibble: bytes left out at the start of the range; high nibble: at its end
//   [1] bits 0-1: table prefix; bits 2-4: container id
//   [2] low nibble: property that SetAlwayTrueForProperty takes out (0-15; 0, 13-15 name none);
//       bits 4-5: SQL dialect (3: unknown), bit 6: SQL_LITERAL_PATTERNS, bit 7: an unknown flag
//   [3-4] bit i-1 set: property i is in the host's supported table
//   [5-6] size of the short SQL buffer
#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzChecks.h"

using namespace msc_fuzz;

namespace {

const char *const kContainers[] = {"A0$128$129", "A0$148$149", "A0$160$161", "A0$128$1290",
                                   "a0$128$129", "0",          "",           nullptr};

bool Contains(const std::vector<int> &ids, int id) {
    for (int each : ids) {
        if (each == id) return true;
    }
    return false;
}

std::vector<int> PropertyList(const ParseTreeNode *tree) {
    int count = 0;
    int *array = GetPropertyList(tree, &count);
    std::vector<int> ids;
    if (array != nullptr) ids.assign(array, array + count);
    MSC_FUZZ_CHECK(array != nullptr || count == 0, "a count without an array");
    free(array);
    return ids;
}

// The whole condition text, after checking that the reported length is right and that the
// text holds nothing but the writer's own words and literals.
std::string FullSql(const ParseTreeNode *tree, const char *prefix) {
    int measured = ConvertSQLConditionEx(tree, kColumns, prefix, nullptr, 0);
    MSC_FUZZ_CHECK(measured >= 0, "negative length");
    int total = 0;
    std::string sql = ConvertWithCanary(tree, prefix, measured + 1, &total);
    MSC_FUZZ_CHECK(total == measured, "measuring and writing disagree");
    MSC_FUZZ_CHECK(sql.size() == static_cast<size_t>(total), sql);
    std::string why;
    MSC_FUZZ_CHECK(OnlyKnownSqlWords(sql, prefix, &why), why + "\n" + sql);
    return sql;
}

// The same for ConvertSQLConditionWith in the dialect and flags of 'bits'; an unknown one writes
// the empty text and returns -1, the SQLite dialect without flags the classic text.
void DialectSql(const ParseTreeNode *tree, const char *prefix, uint8_t bits) {
    const SqlOptions options = {(bits >> 4) & 3, ((bits >> 6) & 1 ? SQL_LITERAL_PATTERNS : 0u) | ((bits >> 7) ? 0x2u : 0u)};
    int measured = ConvertSQLConditionWith(tree, kColumns, prefix, &options, nullptr, 0);
    int total = 0;
    std::string sql = ConvertWithCanary(tree, prefix, measured < 0 ? 1 : measured + 1, &total, &options);
    MSC_FUZZ_CHECK(total == measured, "measuring and writing disagree");
    if (options.dialect == 3 || (options.flags & 0x2u) != 0) {
        MSC_FUZZ_CHECK(total == -1 && sql.empty(), "unknown options accepted");
        return;
    }
    MSC_FUZZ_CHECK(sql.size() == static_cast<size_t>(total), sql);
    std::string why;
    MSC_FUZZ_CHECK(OnlyKnownSqlWords(sql, prefix, &why), why + "\n" + sql);
    if (options.dialect == SQL_DIALECT_SQLITE && options.flags == 0) {
        MSC_FUZZ_CHECK(sql == FullSql(tree, prefix), "the SQLite dialect differs from the classic text");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The dump goes to standard output; keep it off the fuzzer's console.
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
    return 0;
}

namespace {

void RunHostSequence(const uint8_t *data, size_t size) {
    constexpr size_t kConfig = 7;
    const uint8_t *config = data;
    // An exact copy with its NUL, so that the sanitizer sees any read past the terminator.
    const size_t length = size - kConfig;
    std::unique_ptr<char[]> text(new char[length + 1]);
    memcpy(text.get(), data + kConfig, length);
    text[length] = '\0';
    const int first = config[0] & 0x0F;
    const int last = static_cast<int>(length) - 1 - (config[0] >> 4);
    if (first > static_cast<int>(length) || last < -1) return;
    const char *prefix = kPrefixes[config[1] & 3];
    const char *container = kContainers[(config[1] >> 2) & 7];
    const int takenOut = config[2] & 0x0F;
    const unsigned supportedMask = static_cast<unsigned>(config[3] | (config[4] << 8));
    const int shortSize = config[5] | (config[6] << 8);

    ParseTreeNode *tree = reinterpret_cast<ParseTreeNode *>(&text);  // Must be overwritten.
    int result = Parse_searchExp(&tree, text.get(), first, last);
    MSC_FUZZ_CHECK(result == 0 || result == 1, std::to_string(result));
    if (result != 0) {
        MSC_FUZZ_CHECK(tree == nullptr, "a failed parse left a tree");
        return;
    }
    MSC_FUZZ_CHECK(AllValuesHaveText(tree), "value leaf without text");

    // Queries.
    if (const char *cls = GetUPnPClass(tree)) (void)strlen(cls);
    std::vector<int> expected;
    CollectProperties(tree, &expected);
    MSC_FUZZ_CHECK(PropertyList(tree) == expected, "property list differs from the tree");

    // A copy is equal, independent, and converts to the same text.
    ParseTreeNode *copy = CloneParseTree(tree);
    MSC_FUZZ_CHECK((copy == nullptr) == (tree == nullptr), "copy lost");
    MSC_FUZZ_CHECK(IsIndependentCopy(tree, copy), "copy differs");
    MSC_FUZZ_CHECK(FullSql(copy, prefix) == FullSql(tree, prefix), "copy converts differently");
    DialectSql(tree, prefix, config[2]);

    // Rewrites: afterwards no condition on a taken-out or unsupported property is left.
    MSC_FUZZ_CHECK(SetAlwayTrueForProperty(tree, takenOut) == 0, "rewrite failed");
    MSC_FUZZ_CHECK(!Contains(PropertyList(tree), takenOut), "taken-out property left");
    std::vector<TokenEntry> supported;
    for (int id = 1; id <= 12; ++id) {
        if (supportedMask & (1u << (id - 1))) supported.push_back({id, g_PropertyName[id - 1].name});
    }
    supported.push_back({0, nullptr});
    MSC_FUZZ_CHECK(SetAlwayTrueForNonSupportedProperty(tree, supported.data()) == 0, "rewrite failed");
    for (int id : PropertyList(tree)) {
        MSC_FUZZ_CHECK(id >= 1 && id <= 12 && (supportedMask & (1u << (id - 1))),
                       "unsupported property left: " + std::to_string(id));
    }
    int refResult = CheckContainerIsSupportRefID(container, tree);
    MSC_FUZZ_CHECK(refResult == 0 || refResult == 1, std::to_string(refResult));
    MSC_FUZZ_CHECK(AllValuesHaveText(tree), "value leaf without text after the rewrites");

    // The rewritten tree and a fresh copy of it convert alike; a short buffer holds a prefix.
    ParseTreeNode *rewrittenCopy = CloneParseTree(tree);
    MSC_FUZZ_CHECK(IsIndependentCopy(tree, rewrittenCopy), "copy of the rewritten tree differs");
    std::string sql = FullSql(tree, prefix);
    MSC_FUZZ_CHECK(FullSql(rewrittenCopy, prefix) == sql, "copy converts differently");
    int total = 0;
    std::string cut = ConvertWithCanary(tree, prefix, shortSize, &total);
    MSC_FUZZ_CHECK(static_cast<size_t>(total) == sql.size(), "short buffer changes the length");
    size_t fits = shortSize == 0 ? 0 : static_cast<size_t>(shortSize - 1);
    MSC_FUZZ_CHECK(cut == sql.substr(0, fits), "short buffer is no prefix:\n" + cut + "\n" + sql);
    if (shortSize > 0) {
        // The plain entry point writes the same bytes.
        std::vector<char> plain(static_cast<size_t>(shortSize), '\x5A');
        ConvertSQLCondition(tree, kColumns, prefix, plain.data(), shortSize);
        MSC_FUZZ_CHECK(cut == plain.data(), "ConvertSQLCondition and its Ex form differ");
    }

    TravelTree(tree, 0);
    TravelTree(rewrittenCopy, -1);
    freeParseTree(rewrittenCopy);
    freeParseTree(copy);
    freeParseTree(tree);
}

struct Input {
    const uint8_t *data;
    size_t size;
};

void *RunOnThread(void *input) {
    RunHostSequence(static_cast<Input *>(input)->data, static_cast<Input *>(input)->size);
    return nullptr;
}

}  // namespace

// The sequence runs on a thread with a 256 KiB stack, as small as a server's worker thread may
// have, so that a shape that recursed too deeply would show as a stack overflow.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 7 || size > 7 + 4096) return 0;  // Longer texts only repeat shorter ones.
    Input input = {data, size};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    if (pthread_create(&thread, &attr, RunOnThread, &input) != 0) abort();
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    return 0;
}
