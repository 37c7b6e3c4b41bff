/*
 * libmysearchcriteria for C++ (C++17, header-only): ownership over the C interface of
 * mysearchcriteria.h, and nothing else. Every call below is one call of the C function named in
 * its comment, with the same results; the wrapper frees what the C interface hands out and turns
 * caller-sized buffers into std::string and std::vector.
 *
 *   static const SearchOptions options = msc::prepared({...});  // set and prepared once
 *   msc::SearchResult found = msc::search(criteria, options);   // the whole search, one call
 *   if (!found || found.info.condition != SEARCH_CONDITION_OK) return refuse(found.info);
 *
 *   auto parsed = msc::parse(R"(dc:title contains "love" and upnp:class derivedfrom "object.item")");
 *   if (!parsed) return report(parsed.error.code, parsed.error.offset);
 *   parsed.tree.set_always_true_for_non_supported_property(kSupported);
 *   if (msc::ConditionCheck check = parsed.tree.check(kColumns); !check) return refuse(check.message());
 *   std::string where = parsed.tree.to_sql(kColumns, "o.");
 *
 * Errors: memory exhaustion throws std::bad_alloc (except in properties(), which see);
 * everything else is reported as the C interface reports it. Thread safety is that of the C interface (a Tree may be read by several
 * threads at once, changed by one only), except dump(), which see.
 */
#ifndef MYSEARCHCRITERIA_HPP
#define MYSEARCHCRITERIA_HPP

#include <cstdio>
#include <cstdlib>
#include <climits>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "mysearchcriteria.h"

namespace msc {

/** Frees a parse tree with freeParseTree; the deleter of Tree. */
struct TreeDeleter {
    void operator()(ParseTreeNode *tree) const noexcept { freeParseTree(tree); }
};

/** What Tree::check gives: a SearchConditionCode and the node at fault (nullptr when none). */
struct ConditionCheck {
    int code = SEARCH_CONDITION_OK;
    const ParseTreeNode *node = nullptr;
    bool ok() const noexcept { return code == SEARCH_CONDITION_OK; }
    explicit operator bool() const noexcept { return ok(); }
    /** The library's words for the code, such as "empty parentheses". */
    const char *message() const noexcept { return SearchConditionMessage(code); }
};

/** An owning, move-only parse tree. An empty Tree (no root) is what the C interface calls a
 *  NULL tree, which the parse of a text of blanks gives; every member accepts it. */
class Tree {
public:
    Tree() noexcept = default;
    /** Takes ownership of 'root', a tree from the C interface or built with malloc'd nodes. */
    explicit Tree(ParseTreeNode *root) noexcept : root_(root) {}

    Tree(Tree &&) noexcept = default;
    Tree &operator=(Tree &&) noexcept = default;
    Tree(const Tree &) = delete;
    Tree &operator=(const Tree &) = delete;

    /** An independent copy (CloneParseTree). An empty tree, or one whose root is of an unknown
     *  kind, gives an empty copy; throws std::bad_alloc when memory runs out. */
    Tree clone() const {
        ParseTreeNode *copy = CloneParseTree(root_.get());
        if (copy == nullptr && root_ != nullptr && root_->kind <= NODE_VALUE) throw std::bad_alloc();
        return Tree(copy);
    }

    explicit operator bool() const noexcept { return root_ != nullptr; }
    ParseTreeNode *get() noexcept { return root_.get(); }
    const ParseTreeNode *get() const noexcept { return root_.get(); }
    /** Gives up ownership: the caller frees the root with freeParseTree. */
    ParseTreeNode *release() noexcept { return root_.release(); }
    void reset(ParseTreeNode *root = nullptr) noexcept { root_.reset(root); }

    /** The whole SQL condition text (ConvertSQLConditionWith), never cut: 'columns' maps property
     *  ids to column names and ends with {0, NULL}; 'prefix' (or NULL) goes before each column;
     *  'options' (or NULL for the classic text) names the dialect and flags. Throws
     *  std::length_error for a text longer than INT_MAX - 1 bytes, std::invalid_argument for an
     *  unknown dialect or flag. */
    std::string to_sql(const TokenEntry *columns, const char *prefix = nullptr,
                       const SqlOptions *options = nullptr) const {
        // Most conditions fit the first buffer: one walk. A longer one is measured by that walk
        // and written by a second one into a string of exactly its size.
        char first[512];
        int length = ConvertSQLConditionWith(root_.get(), columns, prefix, options, first, sizeof first);
        if (length < 0) throw std::invalid_argument("msc::Tree::to_sql: unknown dialect or flag");
        if (length < static_cast<int>(sizeof first)) return std::string(first, first + length);
        if (length == INT_MAX) throw std::length_error("msc::Tree::to_sql: condition too long");
        std::string text(static_cast<size_t>(length), '\0');
        // C++17 lets the NUL that the writer puts after the text land on text[length].
        ConvertSQLConditionWith(root_.get(), columns, prefix, options, text.data(), length + 1);
        return text;
    }

    /** Whether to_sql writes a well-formed condition (CheckSQLCondition), with 'columns' the
     *  table to_sql will get (nullptr: columns not checked); an empty tree is
     *  SEARCH_CONDITION_EMPTY. The node points into this tree. */
    ConditionCheck check(const TokenEntry *columns = nullptr) const noexcept {
        ConditionCheck result;
        result.code = CheckSQLCondition(root_.get(), columns, &result.node);
        return result;
    }

    /** The property id of every property leaf, in text order (GetPropertyList). Empty also
     *  when GetPropertyList ran out of memory, which it reports as it reports a tree without
     *  properties; the vector's own allocation throws std::bad_alloc as usual. */
    std::vector<int> properties() const {
        int count = 0;
        std::unique_ptr<int, FreeDeleter> ids(GetPropertyList(root_.get(), &count));
        if (ids == nullptr) return {};
        return std::vector<int>(ids.get(), ids.get() + count);
    }

    /** The value of the first upnp:class condition (GetUPnPClass). It points into the tree:
     *  valid until the tree is freed or a rewrite replaces that condition. */
    std::optional<std::string_view> upnp_class() const noexcept {
        const char *text = GetUPnPClass(root_.get());
        if (text == nullptr) return std::nullopt;
        return std::string_view(text);
    }

    /** SetAlwayTrueForProperty: 0 when the walk finished, -1 when it stopped. */
    int set_always_true_for_property(int propertyId) noexcept {
        return SetAlwayTrueForProperty(root_.get(), propertyId);
    }

    /** SetAlwayTrueForNonSupportedProperty: 0 when the walk finished, -1 when it stopped. */
    int set_always_true_for_non_supported_property(const TokenEntry *supported) noexcept {
        return SetAlwayTrueForNonSupportedProperty(root_.get(), supported);
    }

    /** CheckContainerIsSupportRefID: 1 when the tree holds no usable @refID condition, else 0.
     *  An empty tree gives 0 and the C interface's message on standard error, as in C. */
    int check_container_is_support_refid(const char *containerId) noexcept {
        return CheckContainerIsSupportRefID(containerId, root_.get());
    }

#if defined(__GLIBC__)
    /** The text that TravelTree prints for this tree at 'depth', written by TravelTreeToStream
     *  (host properties named from 'hostProperties', or NULL) to a memory stream; throws
     *  std::bad_alloc when memory runs out. */
    std::string dump(int depth = 0, const TokenEntry *hostProperties = nullptr) const {
        char *data = nullptr;
        size_t size = 0;
        FILE *memory = open_memstream(&data, &size);
        if (memory == nullptr) throw std::bad_alloc();
        TravelTreeToStream(root_.get(), depth, memory, hostProperties);
        bool failed = fflush(memory) != 0 || ferror(memory) != 0;
        fclose(memory);  // Sets data and size for the last time.
        std::unique_ptr<char, FreeDeleter> owned(data);
        if (failed || data == nullptr) throw std::bad_alloc();
        return std::string(data, size);
    }
#endif

private:
    struct FreeDeleter {
        void operator()(void *p) const noexcept { free(p); }
    };
    std::unique_ptr<ParseTreeNode, TreeDeleter> root_;
};

/** What parse() gives: the tree on success, else an empty tree and why the parse stopped. */
struct ParseResult {
    Tree tree;
    SearchParseError error = {SEARCH_PARSE_OK, -1};
    SearchParseRepairs repairs = {0, -1}; /* what SEARCH_PARSE_LENIENT repaired */
    bool ok() const noexcept { return error.code == SEARCH_PARSE_OK; }
    explicit operator bool() const noexcept { return ok(); }
    /** The library's words for the error code, such as "unknown property". */
    const char *message() const noexcept { return SearchParseErrorMessage(error.code); }
};

/** Parses the whole of 'criteria' with Parse_searchExpRepaired, 'options' (0 for the classic
 *  grammar, SEARCH_PARSE_STANDARD...) and the host's property names (or NULL). Writes nothing to stdout or stderr. The text is copied
 *  first, since the C parser reads up to a terminating NUL. A text of more than INT_MAX bytes
 *  fails with SEARCH_PARSE_INVALID_ARGUMENT at offset 0. */
inline ParseResult parse(std::string_view criteria, unsigned options = 0,
                         const TokenEntry *hostProperties = nullptr) {
    ParseResult result;
    if (criteria.size() > static_cast<size_t>(INT_MAX)) {
        result.error = {SEARCH_PARSE_INVALID_ARGUMENT, 0};
        return result;
    }
    const std::string text(criteria);
    ParseTreeNode *root = nullptr;
    const SearchParseConfig config = {options, hostProperties};
    Parse_searchExpRepaired(&root, text.c_str(), 0, static_cast<int>(text.size()) - 1, &config,
                            &result.error, &result.repairs);
    result.tree.reset(root);
    if (result.error.code == SEARCH_PARSE_OUT_OF_MEMORY) throw std::bad_alloc();
    return result;
}

/** What search() gives: the SQL condition and what ConvertSearchCriteria reports with it. */
struct SearchResult {
    std::string sql;  /* the whole condition; empty when the criteria did not parse */
    SearchInfo info{};
    /** The criteria parsed; info.condition still says whether sql is a condition to run. */
    bool ok() const noexcept { return info.error.code == SEARCH_PARSE_OK; }
    explicit operator bool() const noexcept { return ok(); }
    const char *message() const noexcept { return SearchParseErrorMessage(info.error.code); }
};

/** A copy of 'options' with its tables looked up once (PrepareSearchOptions), for the searches
 *  that follow: set once, prepare once. A record without a version gets this header's, which
 *  its layout is: code that includes this header has every field of it. */
inline SearchOptions prepared(SearchOptions options) noexcept {
    if (options.version == 0) options.version = MSC_VERSION_NUMBER;
    PrepareSearchOptions(&options);
    return options;
}

/** The host's whole search in one call (ConvertSearchCriteria) on the whole of 'criteria', copied
 *  first since the C call reads up to a terminating NUL. Throws std::bad_alloc when memory runs
 *  out, std::length_error for a text or condition beyond INT_MAX bytes. */
inline SearchResult search(std::string_view criteria, const SearchOptions &options) {
    if (criteria.size() >= static_cast<size_t>(INT_MAX)) throw std::length_error("msc::search: criteria too long");
    const std::string text(criteria);
    SearchResult result;
    char first[512];
    int length = ConvertSearchCriteria(text.c_str(), static_cast<int>(text.size()), &options, first,
                                       sizeof first, &result.info);
    if (length < 0) {
        if (result.info.error.code == SEARCH_PARSE_OUT_OF_MEMORY) throw std::bad_alloc();
        return result;
    }
    if (length < static_cast<int>(sizeof first)) {
        result.sql.assign(first, static_cast<size_t>(length));
        return result;
    }
    if (length == INT_MAX) throw std::length_error("msc::search: condition too long");
    result.sql.assign(static_cast<size_t>(length), '\0');
    // The same text parsed once already: only memory can fail the second call.
    if (ConvertSearchCriteria(text.c_str(), static_cast<int>(text.size()), &options, result.sql.data(), length + 1,
                              &result.info) < 0) {
        throw std::bad_alloc();
    }
    return result;
}

/** What sort() gives: the keys that follow ORDER BY, and what ConvertSortCriteria reports. */
struct SortResult {
    std::string keys;  /* empty for no order, or when the sort text was refused */
    SearchInfo info{};
    /** The sort text was answered; info.sortSkippedCount says whether keys were left out. */
    bool ok() const noexcept { return info.error.code == SEARCH_PARSE_OK; }
    explicit operator bool() const noexcept { return ok(); }
};

namespace detail {
/** A text the library writes like snprintf, measured first when it passes the first buffer. */
template <typename Write>
std::string written(Write write) {
    char first[512];
    int length = write(first, static_cast<int>(sizeof first));
    if (length < 0) return std::string();
    if (length < static_cast<int>(sizeof first)) return std::string(first, static_cast<size_t>(length));
    if (length == INT_MAX) throw std::length_error("msc: text too long");
    std::string text(static_cast<size_t>(length), '\0');
    write(text.data(), length + 1);
    return text;
}
}  // namespace detail

/** The ORDER BY keys of a SortCriteria (ConvertSortCriteria) on the whole of 'sort'; throws
 *  std::length_error for a text of INT_MAX bytes or more. */
inline SortResult sort(std::string_view sort, const SearchOptions &options) {
    if (sort.size() >= static_cast<size_t>(INT_MAX)) throw std::length_error("msc::sort: sort text too long");
    SortResult result;
    result.keys = detail::written([&](char *out, int size) {
        return ConvertSortCriteria(sort.data(), static_cast<int>(sort.size()), &options, out, size, &result.info);
    });
    return result;
}

/** The GetSearchCapabilities text of 'options' (WriteSearchCapabilities). */
inline std::string search_capabilities(const SearchOptions &options) {
    return detail::written([&](char *out, int size) { return WriteSearchCapabilities(&options, out, size); });
}

/** The GetSortCapabilities text of 'options' (WriteSortCapabilities). */
inline std::string sort_capabilities(const SearchOptions &options) {
    return detail::written([&](char *out, int size) { return WriteSortCapabilities(&options, out, size); });
}

}  // namespace msc

#endif  // MYSEARCHCRITERIA_HPP
