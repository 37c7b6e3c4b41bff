// Feeds every walker trees that the parser never makes but a host or a rewrite can: value leaves
// as left operands, property leaves on the right, missing operands, empty groups, nodes of an
// unknown kind, operator ids outside the tables. Nothing may crash, leak or write past a buffer,
// and a copy must convert exactly like its original. MyStrCatf is called on its own as well.
//
// Input: 5 configuration bytes ([0] table prefix, [1] short buffer size, [2] dump depth and
// MyStrCatf's starting length, [3] property taken out and MyStrCatf's text, [4] a supported
// property), then a program for a small stack machine, one byte per instruction (the low 3 bits choose
// the instruction, the rest its argument):
//   0 push a property leaf (id = argument - 2)   1 push a value leaf of the next argument bytes
//   2 push null                                  3 pop right and left, push an operator
//   4 wrap the top in a group                    5 push a node of kind 4 + argument
//   6, 7 pop right and left, push and/or
// Then the trees left on the stack are walked one after another.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzChecks.h"

using namespace msc_fuzz;

namespace {

ParseTreeNode *NewNode(uint32_t kind) {
    auto *node = static_cast<ParseTreeNode *>(calloc(1, sizeof(ParseTreeNode)));
    if (node == nullptr) abort();
    node->kind = kind;
    return node;
}

const int kOperatorIds[] = {OP_AND, OP_OR,  OP_EQ,  OP_NE, OP_LT,   OP_LE, OP_GT, OP_GE,
                            OP_CONTAINS, OP_DOES_NOT_CONTAIN, OP_DERIVED_FROM, OP_IS, OP_EXISTS,
                            OP_STARTS_WITH, 0, 9, 12, 19, 31, 41, -1, INT32_MIN, INT32_MAX};

ParseTreeNode *Pop(std::vector<ParseTreeNode *> *stack) {
    if (stack->empty()) return nullptr;
    ParseTreeNode *top = stack->back();
    stack->pop_back();
    return top;
}

bool HasUnknownKind(const ParseTreeNode *node) {
    while (node != nullptr) {
        if (node->kind == NODE_OPERATOR) {
            if (HasUnknownKind(node->left)) return true;
            node = node->right;
        } else if (node->kind == NODE_GROUP) {
            node = node->inner;
        } else {
            return node->kind > NODE_VALUE;
        }
    }
    return false;
}

// Texts that the walkers treat specially, and a quote for the writer to double.
const char *const kTexts[] = {"true", "FALSE", "TrUe", "x'y", "%_", "", "abc", "1"};

void WalkEverything(ParseTreeNode *tree, const std::vector<uint8_t> &config) {
    const char *prefix = kPrefixes[config[0] & 3];

    if (const char *cls = GetUPnPClass(tree)) (void)strlen(cls);
    int count = 0;
    int *ids = GetPropertyList(tree, &count);
    MSC_FUZZ_CHECK(ids != nullptr || count == 0, "a count without an array");
    free(ids);

    ParseTreeNode *copy = CloneParseTree(tree);
    if (tree != nullptr && tree->kind <= NODE_VALUE) {
        int total = 0;
        int measured = ConvertSQLConditionEx(tree, kColumns, prefix, nullptr, 0);
        std::string sql = ConvertWithCanary(tree, prefix, measured + 1, &total);
        MSC_FUZZ_CHECK(total == measured && sql.size() == static_cast<size_t>(total), sql);
        // A copy drops nodes of an unknown kind, so only trees without them convert alike.
        if (!HasUnknownKind(tree)) {
            int copyTotal = 0;
            std::string copySql = ConvertWithCanary(copy, prefix, measured + 1, &copyTotal);
            MSC_FUZZ_CHECK(copySql == sql, "copy converts differently:\n" + copySql + "\n" + sql);
        }
        std::string cut = ConvertWithCanary(tree, prefix, config[1], &total);
        size_t fits = config[1] == 0 ? 0 : config[1] - 1u;
        MSC_FUZZ_CHECK(cut == sql.substr(0, fits), "short buffer is no prefix");
    }
    TravelTree(tree, static_cast<int8_t>(config[2]));
    const ParseTreeNode *fault = tree;
    int problem = CheckSQLCondition(tree, kColumns, &fault);
    MSC_FUZZ_CHECK((fault == nullptr) == (problem == SEARCH_CONDITION_OK || problem == SEARCH_CONDITION_EMPTY),
                   "the node at fault and the code disagree");
    MSC_FUZZ_CHECK(problem != SEARCH_CONDITION_OK || !HasUnknownKind(tree), "a node of unknown kind passed the check");
    MSC_FUZZ_CHECK(strcmp(SearchConditionMessage(problem), "unknown problem") != 0, "a code without words");

    SetAlwayTrueForProperty(copy, config[3] & 15);
    const TokenEntry supported[] = {{config[4] & 15, "a"}, {PROP_DC_TITLE, "b"}, {0, nullptr}};
    SetAlwayTrueForNonSupportedProperty(tree, supported);
    CheckContainerIsSupportRefID("A0$128$129", tree);
    CheckContainerIsSupportRefID("A0$160$161", copy);
    MSC_FUZZ_CHECK(AllValuesHaveText(tree) && AllValuesHaveText(copy), "value leaf without text");
    TravelTree(copy, 0);
    char small[16];
    ConvertSQLCondition(copy, kColumns, prefix, small, sizeof small);
    MSC_FUZZ_CHECK(memchr(small, '\0', sizeof small) != nullptr, "short text not terminated");
    freeParseTree(copy);
}

// The bounded append on its own, also outside its contract (a length before or past the end):
// it may write only between *len and the end of the buffer, and must count the whole text.
void AppendWithinBounds(const std::vector<uint8_t> &config, const char *text) {
    constexpr size_t kRoom = 256 + 32;
    char buffer[kRoom];
    memset(buffer, 0x5A, sizeof buffer);
    const int size = config[1];
    const int start = static_cast<int8_t>(config[2]);
    int len = start;
    int written = MyStrCatf(buffer, &len, size, " '%s' ", text);
    MSC_FUZZ_CHECK(written == static_cast<int>(strlen(text)) + 4, std::to_string(written));
    if (start >= 0 && start <= size) MSC_FUZZ_CHECK(len == start + written, std::to_string(len));
    for (int i = 0; i < static_cast<int>(kRoom); ++i) {
        bool writable = start >= 0 && i >= start && i < size;
        if (!writable) MSC_FUZZ_CHECK(buffer[i] == 0x5A, "MyStrCatf wrote outside its room");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    constexpr size_t kConfig = 5;
    if (size < kConfig || size > 2048) return 0;
    std::vector<uint8_t> config(data, data + kConfig);
    std::vector<ParseTreeNode *> stack;
    for (size_t i = kConfig; i < size; ++i) {
        unsigned instruction = data[i] & 7u;
        unsigned argument = data[i] >> 3;
        switch (instruction) {
            case 0: {
                ParseTreeNode *leaf = NewNode(NODE_PROPERTY);
                leaf->propertyId = static_cast<int>(argument) - 2;
                stack.push_back(leaf);
                break;
            }
            case 1: {
                ParseTreeNode *leaf = NewNode(NODE_VALUE);
                if (argument < 8) {
                    leaf->text = strdup(kTexts[argument]);
                } else {
                    size_t length = argument - 8;
                    if (length > size - i - 1) length = size - i - 1;
                    leaf->text = static_cast<char *>(malloc(length + 1));
                    if (leaf->text == nullptr) abort();
                    memcpy(leaf->text, data + i + 1, length);
                    leaf->text[length] = '\0';
                    i += length;
                }
                stack.push_back(leaf);
                break;
            }
            case 2:
                stack.push_back(nullptr);
                break;
            case 3:
            case 6:
            case 7: {
                ParseTreeNode *node = NewNode(NODE_OPERATOR);
                node->right = Pop(&stack);
                node->left = Pop(&stack);
                node->opId = instruction == 3 ? kOperatorIds[argument % (sizeof kOperatorIds / sizeof(int))]
                             : instruction == 6 ? OP_AND
                                                : OP_OR;
                stack.push_back(node);
                break;
            }
            case 4: {
                ParseTreeNode *group = NewNode(NODE_GROUP);
                group->inner = Pop(&stack);
                stack.push_back(group);
                break;
            }
            default:
                stack.push_back(NewNode(4 + argument));
                break;
        }
    }
    AppendWithinBounds(config, kTexts[config[3] & 7]);
    if (stack.empty()) stack.push_back(nullptr);
    for (ParseTreeNode *tree : stack) {
        WalkEverything(tree, config);
        freeParseTree(tree);
    }
    return 0;
}
