// Differential check of the parse entry points on any byte range of any text: the quiet
// Parse_searchExpEx with options 0 must give exactly the result and tree of Parse_searchExp,
// report a failure position inside the range, and both must leave no tree after a failure.
// Then the standard grammar with a host vocabulary cut from the text itself: Parse_searchExpWith
// must give the result and tree shape of the parse without it, a listed id only where that one
// kept PROP_UNKNOWN, and a dump and SQL text that name the host's properties. Last the repairs of
// SEARCH_PARSE_LENIENT: a text that the strict grammar accepts gives the same tree and no repairs;
// one it refuses either fails with the same error or parses with repairs inside the range.
//
// Input: 2 configuration bytes (first index, bytes left out at the end), then the text.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzChecks.h"

using namespace msc_fuzz;

namespace {

// Equal trees, except that a property leaf of 'plain' with PROP_UNKNOWN may have one of the first
// 'hostIds' host ids in 'hosted'.
bool SameTree(const ParseTreeNode *plain, const ParseTreeNode *hosted, int hostIds = 0) {
    while (plain != nullptr && hosted != nullptr) {
        if (plain->kind != hosted->kind) return false;
        if (plain->kind == NODE_OPERATOR) {
            if (plain->opId != hosted->opId || !SameTree(plain->left, hosted->left, hostIds)) return false;
            plain = plain->right;
            hosted = hosted->right;
        } else if (plain->kind == NODE_GROUP) {
            plain = plain->inner;
            hosted = hosted->inner;
        } else if (plain->kind == NODE_PROPERTY) {
            return plain->propertyId == hosted->propertyId ||
                   (plain->propertyId == PROP_UNKNOWN && hosted->propertyId >= PROP_HOST_FIRST &&
                    hosted->propertyId < PROP_HOST_FIRST + hostIds);
        } else {
            return hosted->kind == NODE_VALUE && strcmp(plain->text, hosted->text) == 0;
        }
    }
    return plain == nullptr && hosted == nullptr;
}

// Up to three names cut from the text: a run of name bytes with the bracketed text after it,
// each one kept when the library takes it as a property name.
std::vector<std::string> NamesFrom(const char *text) {
    std::vector<std::string> names;
    auto isNameByte = [](char c) { return isalnum(static_cast<unsigned char>(c)) || (c != '\0' && strchr("_@:.-", c)); };
    for (const char *at = text; *at != '\0' && names.size() < 3;) {
        const char *end = at;
        while (isNameByte(*end)) ++end;
        if (end == at) {
            ++at;
            continue;
        }
        if (*end == '[') {
            while (*end != '\0' && *end != ']') ++end;
            if (*end == ']') ++end;
        }
        std::string name(at, end);
        at = end;
        const TokenEntry one[] = {{PROP_HOST_FIRST, name.c_str()}, {0, nullptr}};
        const SearchParseConfig config = {SEARCH_PARSE_STANDARD, one};
        SearchParseError error = {-7, -7};
        ParseTreeNode *tree = nullptr;
        int result = Parse_searchExpWith(&tree, "", 0, -1, &config, &error);
        MSC_FUZZ_CHECK(tree == nullptr, "a tree from blanks");
        if (result == 0) names.push_back(name);
        else MSC_FUZZ_CHECK(error.code == SEARCH_PARSE_INVALID_ARGUMENT && error.offset == 0, name);
    }
    return names;
}

void CheckHostVocabulary(const char *text, int first, int last) {
    const std::vector<std::string> names = NamesFrom(text);
    std::vector<TokenEntry> table;
    for (size_t i = 0; i < names.size(); ++i) {
        table.push_back({PROP_HOST_FIRST + static_cast<int>(i), names[i].c_str()});
    }
    table.push_back({0, nullptr});
    const unsigned options = SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN;

    ParseTreeNode *plain = nullptr;
    SearchParseError plainError = {-7, -7};
    int plainResult = Parse_searchExpEx(&plain, text, first, last, options, &plainError);
    const SearchParseConfig config = {options, table.data()};
    ParseTreeNode *hosted = nullptr;
    SearchParseError hostedError = {-7, -7};
    int hostedResult = Parse_searchExpWith(&hosted, text, first, last, &config, &hostedError);

    MSC_FUZZ_CHECK(plainResult == hostedResult, "a host vocabulary changes the result");
    MSC_FUZZ_CHECK(plainError.code == hostedError.code && plainError.offset == hostedError.offset,
                   "a host vocabulary changes the error");
    MSC_FUZZ_CHECK(SameTree(plain, hosted, static_cast<int>(names.size())),
                   "a host vocabulary changes more than property ids");
    if (hosted != nullptr) {
        // Every listed property has a column and a name: no "(null)" but for PROP_UNKNOWN.
        int length = ConvertSQLConditionEx(hosted, kColumns, "t.", nullptr, 0);
        std::string sql(static_cast<size_t>(length) + 1, '\0');
        ConvertSQLConditionEx(hosted, kColumns, "t.", &sql[0], length + 1);
        sql.resize(static_cast<size_t>(length));
        std::string why;
        if (sql.find("(null)") == std::string::npos) {
            MSC_FUZZ_CHECK(OnlyKnownSqlWords(sql, "t.", &why), why + "\n" + sql);
        }
        FILE *sink = fopen("/dev/null", "w");
        if (sink == nullptr) abort();
        TravelTreeToStream(hosted, 0, sink, table.data());
        fclose(sink);
    }
    freeParseTree(plain);
    freeParseTree(hosted);
}

void CheckRepairs(const char *text, int first, int last) {
    const SearchParseConfig strict = {SEARCH_PARSE_STANDARD | SEARCH_PARSE_KEEP_UNKNOWN, nullptr};
    const SearchParseConfig lenient = {strict.options | SEARCH_PARSE_LENIENT, nullptr};
    ParseTreeNode *strictTree = nullptr, *lenientTree = nullptr;
    SearchParseError strictError = {-7, -7}, lenientError = {-7, -7};
    SearchParseRepairs repairs = {77, -7};
    int strictResult = Parse_searchExpWith(&strictTree, text, first, last, &strict, &strictError);
    int lenientResult = Parse_searchExpRepaired(&lenientTree, text, first, last, &lenient, &lenientError, &repairs);
    if (strictResult == 0) {
        MSC_FUZZ_CHECK(lenientResult == 0 && SameTree(strictTree, lenientTree), "a repair of an accepted text");
        MSC_FUZZ_CHECK(repairs.repairs == 0 && repairs.offset == -1, "repairs reported for an accepted text");
    } else if (lenientResult != 0) {
        MSC_FUZZ_CHECK(lenientError.code == strictError.code && lenientError.offset == strictError.offset,
                       "not the strict grammar's error");
        MSC_FUZZ_CHECK(repairs.repairs == 0 && repairs.offset == -1 && lenientTree == nullptr, "a refused text repaired");
    } else {
        MSC_FUZZ_CHECK(repairs.repairs != 0 && (repairs.repairs & ~0xFu) == 0, std::to_string(repairs.repairs));
        MSC_FUZZ_CHECK(lenientError.code == SEARCH_PARSE_OK && lenientError.offset == -1, "success with an error");
        MSC_FUZZ_CHECK(repairs.offset >= first && repairs.offset <= last + 1, std::to_string(repairs.offset));
    }
    freeParseTree(strictTree);
    freeParseTree(lenientTree);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2 || size > 2 + 4096) return 0;
    // An exact copy with its NUL, so that the sanitizer sees any read past the terminator.
    const int length = static_cast<int>(size - 2);
    std::unique_ptr<char[]> text(new char[size - 1]);
    memcpy(text.get(), data + 2, size - 2);
    text[size - 2] = '\0';
    const int first = data[0] <= length ? data[0] : length;
    const int last = length - 1 - (data[1] <= length ? data[1] : length);

    ParseTreeNode *classic = nullptr;
    int classicResult = Parse_searchExp(&classic, text.get(), first, last);
    ParseTreeNode *quiet = nullptr;
    SearchParseError error = {-7, -7};
    int quietResult = Parse_searchExpEx(&quiet, text.get(), first, last, 0, &error);

    MSC_FUZZ_CHECK(classicResult == quietResult, "results differ");
    MSC_FUZZ_CHECK(SameTree(classic, quiet), "trees differ");
    if (classicResult == 0) {
        MSC_FUZZ_CHECK(error.code == SEARCH_PARSE_OK && error.offset == -1, "success with an error");
    } else {
        MSC_FUZZ_CHECK(classicResult == 1, std::to_string(classicResult));
        MSC_FUZZ_CHECK(classic == nullptr && quiet == nullptr, "a failed parse left a tree");
        MSC_FUZZ_CHECK(error.code > SEARCH_PARSE_OK && error.code <= SEARCH_PARSE_INVALID_ARGUMENT,
                       std::to_string(error.code));
        MSC_FUZZ_CHECK(error.offset >= first && error.offset <= last + 1,
                       std::to_string(error.offset) + " outside " + std::to_string(first) + ".." +
                           std::to_string(last));
    }
    freeParseTree(classic);
    freeParseTree(quiet);
    CheckHostVocabulary(text.get(), first, last);
    CheckRepairs(text.get(), first, last);
    return 0;
}
