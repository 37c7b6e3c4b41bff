// Test helpers that turn trees into one-line texts and build trees by hand.
#ifndef MSC_TESTS_TREE_TEXT_H
#define MSC_TESTS_TREE_TEXT_H

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "mysearchcriteria.h"

namespace msc_test {

struct TreeDeleter {
    void operator()(ParseTreeNode *tree) const noexcept { freeParseTree(tree); }
};
using TreePtr = std::unique_ptr<ParseTreeNode, TreeDeleter>;

// A tree in the notation OP_AND(OP_EQ(PROP_DC_TITLE, "abc"), GROUP(null)): operators and
// properties by their identifier names, values quoted, an absent tree as null, a node of an
// unknown kind as KIND<n>, unknown identifiers as OP<n> and PROP<n>.
std::string TreeToString(const ParseTreeNode *tree);

// The tree that TreeToString prints as 'text', built by hand as below: trees that no parse makes.
// A value's text ends at the quote before ',' or ')' or the end.
ParseTreeNode *TreeFromString(const std::string &text);

// The operator (op) or property id that TreeToString names 'name' (OP_EQ, OP41, PROP_DC_TITLE,
// PROP-3); throws when none from -8 to 256 is.
int IdNamed(const std::string &name, bool op);

// A column or name table from "id=name|id|..." ("id" alone: an entry with a null name), ended by
// {0, NULL}; no table at all for "-". The entries point into it: not to be copied.
class EntryTable {
public:
    explicit EntryTable(const std::string &text);
    EntryTable(const EntryTable &) = delete;
    EntryTable &operator=(const EntryTable &) = delete;
    const TokenEntry *get() const { return entries_.empty() ? nullptr : entries_.data(); }

private:
    std::deque<std::string> names_;  // Keeps its strings in place as it grows.
    std::vector<TokenEntry> entries_;
};

// Parses the whole text; the result code goes to *result when given.
TreePtr Parse(const std::string &criteria, int *result = nullptr);

// Parses a text whose messages on standard error do not matter; the caller owns the tree.
ParseTreeNode *Parsed(const std::string &criteria);

// Whole-text parse, printed: "FAIL" for a failure, "null" for an empty tree.
std::string ParseToString(const std::string &criteria);

// The SQL text of a tree, written into a buffer large enough for it.
// The text of ConvertSQLCondition, or with 'options' of ConvertSQLConditionWith, prefixed by
// "length N: " when its result is not the text's length.
std::string ToSql(const ParseTreeNode *tree, const TokenEntry *columns, const char *prefix = nullptr,
                  const SqlOptions *options = nullptr);

// True when some value leaf of the tree has no text: the state that no failed call may leave.
bool HasValueWithoutText(const ParseTreeNode *tree);

// Every node and every value text of a tree: the blocks that freeing it releases.
std::set<const void *> TreeBlocks(const ParseTreeNode *tree);

// 'unit' written 'times' times.
std::string Repeat(const std::string &unit, size_t times);

// A pattern of a case file written out: pieces split at '|'; a piece ending in *N stands N times,
// {i} in it as i arrows '--->' and {j} as N-1-i the i-th time (0-based); {B} is every byte but NUL,
// quote and backslash, {Q} that with each ' doubled, {A} all 256 bytes.
std::string Expand(const std::string &pattern);

// One row of a case file: its fields by the names of the file's header line.
struct Case {
    std::string file;
    int line = 0;
    std::map<std::string, std::string> fields;
    bool has(const std::string &name) const { return fields.count(name) != 0; }
    // The field's text; empty when the row lacks it.
    std::string operator[](const std::string &name) const;
    // "file:line" for failure messages.
    std::string where() const { return file + ":" + std::to_string(line); }
};

// The rows of tests/cases/NAME: tab-separated fields under a header line of field names; blank
// lines and lines starting with '#' are skipped. In a field, {xHH} stands for the byte HH (a tab,
// a line break, a NUL or a byte that is not UTF-8); nothing else is special, so backslashes and
// quotes are the criteria's own. Throws when the file cannot be read or holds no rows.
std::vector<Case> ReadCases(const std::string &name);

// The rows of a tab-separated corpus file (id, source, criteria) after its header line, as pairs
// of id and criteria; empty when the file cannot be read.
std::vector<std::pair<std::string, std::string>> ReadCriteriaTable(const std::string &path);

// The address of ctest's private server for 'scheme' ("postgresql", "mariadb"), which
// Databases.Start writes to MSC_TEST_DATABASES_DIR/addresses once the server runs; "" for
// "sqlite" (the sample in memory) and before the servers started.
std::string DatabaseAddress(const std::string &scheme);

// Hand-built nodes, each malloc'd as the library does.
ParseTreeNode *Op(int opId, ParseTreeNode *left, ParseTreeNode *right);
ParseTreeNode *Prop(int propertyId);
ParseTreeNode *Val(const char *text);
ParseTreeNode *Group(ParseTreeNode *inner);
ParseTreeNode *OfKind(unsigned kind);

// Runs 'body' on a thread whose stack is 'stackBytes'; false if the thread could not start.
bool RunOnSmallStack(size_t stackBytes, const std::function<void()> &body);

// Captures what 'body' writes to standard output or standard error through the C library.
std::string CaptureStdout(const std::function<void()> &body);
std::string CaptureStderr(const std::function<void()> &body);

}  // namespace msc_test

#endif  // MSC_TESTS_TREE_TEXT_H
