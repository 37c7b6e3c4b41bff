#include "TreeText.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace msc_test {
namespace {

const char *OperatorName(int opId) {
    switch (opId) {
        case OP_AND: return "OP_AND";
        case OP_OR: return "OP_OR";
        case OP_EQ: return "OP_EQ";
        case OP_NE: return "OP_NE";
        case OP_LT: return "OP_LT";
        case OP_LE: return "OP_LE";
        case OP_GT: return "OP_GT";
        case OP_GE: return "OP_GE";
        case OP_CONTAINS: return "OP_CONTAINS";
        case OP_DOES_NOT_CONTAIN: return "OP_DOES_NOT_CONTAIN";
        case OP_DERIVED_FROM: return "OP_DERIVED_FROM";
        case OP_IS: return "OP_IS";
        case OP_EXISTS: return "OP_EXISTS";
        case OP_STARTS_WITH: return "OP_STARTS_WITH";
        default: return nullptr;
    }
}

const char *PropertyName(int propertyId) {
    static const char *const kNames[] = {
        nullptr,           "PROP_DC_TITLE",    "PROP_DC_DATE",    "PROP_DC_CREATOR",
        "PROP_UPNP_CLASS", "PROP_UPNP_ACTOR",  "PROP_UPNP_ARTIST", "PROP_UPNP_ALBUM",
        "PROP_UPNP_GENRE", "PROP_REFID",       "PROP_ID",         "PROP_RES",
        "PROP_UPNP_ORIGINAL_TRACK_NUMBER"};
    return propertyId >= 1 && propertyId <= 12 ? kNames[propertyId] : nullptr;
}

// Iterative along right operands, like the library, so that long lists print on any stack.
void Append(const ParseTreeNode *node, std::string *out) {
    int closers = 0;
    for (;;) {
        if (node == nullptr) {
            *out += "null";
            break;
        }
        if (node->kind == NODE_OPERATOR) {
            const char *name = OperatorName(node->opId);
            *out += name != nullptr ? name : "OP" + std::to_string(node->opId);
            *out += "(";
            Append(node->left, out);
            *out += ", ";
            ++closers;
            node = node->right;
            continue;
        }
        if (node->kind == NODE_GROUP) {
            *out += "GROUP(";
            Append(node->inner, out);
            *out += ")";
        } else if (node->kind == NODE_PROPERTY) {
            const char *name = PropertyName(node->propertyId);
            *out += name != nullptr ? name : "PROP" + std::to_string(node->propertyId);
        } else if (node->kind == NODE_VALUE) {
            *out += "\"";
            *out += node->text != nullptr ? node->text : "<no text>";
            *out += "\"";
        } else {
            *out += "KIND" + std::to_string(node->kind);
        }
        break;
    }
    out->append(static_cast<size_t>(closers), ')');
}

// TreeFromString from 'at' on.
ParseTreeNode *Build(const std::string &text, size_t &at) {
    if (text[at] == '"') {
        size_t end = at + 1;
        while (text[end] != '"' || (end + 1 < text.size() && text[end + 1] != ',' && text[end + 1] != ')')) ++end;
        ParseTreeNode *value = Val(text.substr(at + 1, end - at - 1).c_str());
        at = end + 1;
        return value;
    }
    const size_t end = std::min(text.find_first_of("(,)", at), text.size());
    const std::string name = text.substr(at, end - at);
    at = end;
    if (name == "null") return nullptr;
    if (name.compare(0, 4, "KIND") == 0) return OfKind(static_cast<unsigned>(std::stoul(name.substr(4))));
    if (at == text.size() || text[at] != '(') return Prop(IdNamed(name, false));
    ParseTreeNode *first = Build(text, ++at);
    ParseTreeNode *second = name == "GROUP" ? nullptr : Build(text, at += 2);  // After ", ".
    ++at;  // The closing ')'.
    return name == "GROUP" ? Group(first) : Op(IdNamed(name, true), first, second);
}

ParseTreeNode *NewRaw(unsigned kind) {
    auto *node = static_cast<ParseTreeNode *>(malloc(sizeof(ParseTreeNode)));
    memset(node, 0, sizeof *node);
    node->kind = kind;
    return node;
}

std::string CaptureFd(FILE *stream, const std::function<void()> &body) {
    fflush(stream);
    int fd = fileno(stream);
    int saved = dup(fd);
    FILE *sink = tmpfile();
    dup2(fileno(sink), fd);
    body();
    fflush(stream);
    dup2(saved, fd);
    close(saved);
    std::string text;
    rewind(sink);
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, sink)) > 0) text.append(chunk, got);
    fclose(sink);
    return text;
}

void *RunBody(void *arg) {
    (*static_cast<const std::function<void()> *>(arg))();
    return nullptr;
}

}  // namespace

EntryTable::EntryTable(const std::string &text) {
    if (text == "-") return;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('|', start), text.size()), equals = text.find('=', start);
        const char *name = equals < end ? names_.emplace_back(text.substr(equals + 1, end - equals - 1)).c_str() : nullptr;
        entries_.push_back({std::stoi(text.substr(start)), name});
        start = end + 1;
    }
    entries_.push_back({0, nullptr});
}

ParseTreeNode *TreeFromString(const std::string &text) {
    size_t at = 0;
    return Build(text, at);
}

int IdNamed(const std::string &name, bool op) {
    for (int id = -8; id <= 256; ++id) {
        const char *known = op ? OperatorName(id) : PropertyName(id);
        if (name == (known != nullptr ? std::string(known) : (op ? "OP" : "PROP") + std::to_string(id))) return id;
    }
    throw std::invalid_argument("no id is named " + name);
}

std::string TreeToString(const ParseTreeNode *tree) {
    std::string out;
    Append(tree, &out);
    return out;
}

TreePtr Parse(const std::string &criteria, int *result) {
    ParseTreeNode *tree = nullptr;
    int code = Parse_searchExp(&tree, criteria.c_str(), 0, static_cast<int>(criteria.size()) - 1);
    if (result != nullptr) *result = code;
    return TreePtr(tree);
}

ParseTreeNode *Parsed(const std::string &criteria) {
    ParseTreeNode *tree = nullptr;
    CaptureStderr([&] { tree = Parse(criteria).release(); });
    return tree;
}

bool HasValueWithoutText(const ParseTreeNode *node) {
    while (node != nullptr) {
        if (node->kind == NODE_OPERATOR) {
            if (HasValueWithoutText(node->left)) return true;
            node = node->right;
        } else if (node->kind == NODE_GROUP) {
            node = node->inner;
        } else {
            return node->kind == NODE_VALUE && node->text == nullptr;
        }
    }
    return false;
}

std::set<const void *> TreeBlocks(const ParseTreeNode *node) {
    std::set<const void *> blocks;
    std::vector<const ParseTreeNode *> pending = {node};  // Explicit stack: any depth.
    while (!pending.empty()) {
        node = pending.back();
        pending.pop_back();
        if (node == nullptr) continue;
        blocks.insert(node);
        if (node->kind == NODE_OPERATOR) {
            pending.push_back(node->left);
            pending.push_back(node->right);
        } else if (node->kind == NODE_GROUP) {
            pending.push_back(node->inner);
        } else if (node->kind == NODE_VALUE && node->text != nullptr) {
            blocks.insert(node->text);
        }
    }
    return blocks;
}

std::string Repeat(const std::string &unit, size_t times) {
    std::string out;
    out.reserve(unit.size() * times);
    for (size_t i = 0; i < times; ++i) out += unit;
    return out;
}

namespace {

std::string Replaced(std::string text, const std::string &name, const std::string &by) {
    for (size_t at = 0; (at = text.find(name, at)) != std::string::npos; at += by.size()) text.replace(at, name.size(), by);
    return text;
}

}  // namespace

std::string Expand(const std::string &pattern) {
    std::string all, unquoted, out;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    for (char c : all) unquoted += c == 0 || c == '"' || c == '\\' ? "" : std::string(1, c);
    for (size_t start = 0, end = 0; start <= pattern.size(); start = end + 1) {
        end = std::min(pattern.find('|', start), pattern.size());
        std::string piece = pattern.substr(start, end - start);
        const size_t star = piece.rfind('*');
        const bool repeated = star != std::string::npos && piece.find_first_not_of("0123456789", star + 1) == std::string::npos;
        const size_t times = repeated ? std::stoul(piece.substr(star + 1)) : 1;
        if (repeated) piece.resize(star);
        piece = Replaced(Replaced(Replaced(piece, "{B}", unquoted), "{Q}", Replaced(unquoted, "'", "''")), "{A}", all);
        const bool counted = piece.find("{i}") != std::string::npos || piece.find("{j}") != std::string::npos;
        for (size_t i = 0; i < times; ++i) {
            out += counted ? Replaced(Replaced(piece, "{i}", Repeat("--->", i)), "{j}", Repeat("--->", times - 1 - i)) : piece;
        }
    }
    return out;
}

std::string ParseToString(const std::string &criteria) {
    int result = -1;
    TreePtr tree = Parse(criteria, &result);
    if (result != 0) return tree == nullptr ? "FAIL" : "FAIL with a tree";
    return TreeToString(tree.get());
}

std::string ToSql(const ParseTreeNode *tree, const TokenEntry *columns, const char *prefix,
                  const SqlOptions *options) {
    std::vector<char> out(1 << 16, 'x');
    if (options == nullptr) {
        ConvertSQLCondition(tree, columns, prefix, out.data(), static_cast<int>(out.size()));
        return std::string(out.data());
    }
    int length = ConvertSQLConditionWith(tree, columns, prefix, options, out.data(), static_cast<int>(out.size()));
    std::string text(out.data());
    return length == static_cast<int>(text.size()) ? text : "length " + std::to_string(length) + ": " + text;
}

std::string Case::operator[](const std::string &name) const {
    auto field = fields.find(name);
    return field == fields.end() ? std::string() : field->second;
}

namespace {

std::string DecodeField(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "{x") == 0 && i + 4 < text.size() && text[i + 4] == '}' &&
            isxdigit(static_cast<unsigned char>(text[i + 2])) && isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 4;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> SplitTabs(const std::string &line) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        parts.push_back(line.substr(start, tab - start));
    parts.push_back(line.substr(start));
    return parts;
}

}  // namespace

std::vector<Case> ReadCases(const std::string &name) {
    std::string path = std::string(MSC_TEST_CASES_DIR "/") + name;
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path);
    std::vector<std::string> header;
    std::vector<Case> cases;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> parts = SplitTabs(line);
        if (header.empty()) {
            header = parts;
            continue;
        }
        Case row{name, number, {}};
        for (size_t i = 0; i < parts.size() && i < header.size(); ++i) row.fields[header[i]] = DecodeField(parts[i]);
        cases.push_back(std::move(row));
    }
    if (cases.empty()) throw std::runtime_error("no cases in " + path);
    return cases;
}

std::vector<std::pair<std::string, std::string>> ReadCriteriaTable(const std::string &path) {
    std::vector<std::pair<std::string, std::string>> rows;
    std::ifstream file(path, std::ios::binary);
    std::string line;
    std::getline(file, line);  // The column names.
    while (std::getline(file, line)) {
        size_t firstTab = line.find('\t');
        size_t secondTab = firstTab == std::string::npos ? firstTab : line.find('\t', firstTab + 1);
        if (secondTab != std::string::npos) rows.emplace_back(line.substr(0, firstTab), line.substr(secondTab + 1));
    }
    return rows;
}

ParseTreeNode *Op(int opId, ParseTreeNode *left, ParseTreeNode *right) {
    ParseTreeNode *node = NewRaw(NODE_OPERATOR);
    node->opId = opId;
    node->left = left;
    node->right = right;
    return node;
}

ParseTreeNode *Prop(int propertyId) {
    ParseTreeNode *node = NewRaw(NODE_PROPERTY);
    node->propertyId = propertyId;
    return node;
}

ParseTreeNode *Val(const char *text) {
    ParseTreeNode *node = NewRaw(NODE_VALUE);
    node->text = strdup(text);
    return node;
}

ParseTreeNode *Group(ParseTreeNode *inner) {
    ParseTreeNode *node = NewRaw(NODE_GROUP);
    node->inner = inner;
    return node;
}

ParseTreeNode *OfKind(unsigned kind) { return NewRaw(kind); }

bool RunOnSmallStack(size_t stackBytes, const std::function<void()> &body) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackBytes);
    pthread_t thread;
    bool started =
        pthread_create(&thread, &attr, RunBody, const_cast<std::function<void()> *>(&body)) == 0;
    pthread_attr_destroy(&attr);
    if (started) pthread_join(thread, nullptr);
    return started;
}

std::string CaptureStdout(const std::function<void()> &body) { return CaptureFd(stdout, body); }
std::string CaptureStderr(const std::function<void()> &body) { return CaptureFd(stderr, body); }

std::string DatabaseAddress(const std::string &scheme) {
    std::ifstream addresses(std::string(MSC_TEST_DATABASES_DIR) + "/addresses");
    for (std::string line; std::getline(addresses, line);) {
        if (line.compare(0, scheme.size() + 3, scheme + "://") == 0) return line;
    }
    return "";
}

}  // namespace msc_test
