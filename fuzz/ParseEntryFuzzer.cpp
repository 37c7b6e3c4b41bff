// Differential check of the two parse entry points on any byte range of any text: the quiet
// Parse_searchExpEx with options 0 must give exactly the result and tree of Parse_searchExp,
// report a failure position inside the range, and both must leave no tree after a failure.
//
// Input: 2 configuration bytes (first index, bytes left out at the end), then the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzChecks.h"

using namespace msc_fuzz;

namespace {

bool SameTree(const ParseTreeNode *a, const ParseTreeNode *b) {
    while (a != nullptr && b != nullptr) {
        if (a->kind != b->kind) return false;
        if (a->kind == NODE_OPERATOR) {
            if (a->opId != b->opId || !SameTree(a->left, b->left)) return false;
            a = a->right;
            b = b->right;
        } else if (a->kind == NODE_GROUP) {
            a = a->inner;
            b = b->inner;
        } else if (a->kind == NODE_PROPERTY) {
            return a->propertyId == b->propertyId;
        } else {
            return a->kind == NODE_VALUE && strcmp(a->text, b->text) == 0;
        }
    }
    return a == nullptr && b == nullptr;
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
    return 0;
}
