// The rest of a ContentDirectory Search request besides its criteria: the SortCriteria as the
// keys of ORDER BY, the capabilities a server advertises, and the UPnP errors of the calls.
//
//   sort = blanks [ key *( blanks "," blanks key ) ] blanks
//   key  = [ "+" | "-" ] blanks property
//
// No byte of the client's text is written: a key's name is looked up as the standard grammar
// looks up a property, and what is written comes from the host's tables and the dialect. The
// keys written are distinct properties of the tables, so the text is bounded by the tables
// whatever the client sends, and each key of the client's text costs one name scan and look-up.
#include <climits>
#include <cstdio>
#include <cstring>

#include "Lexer.h"
#include "SearchOptions.h"

namespace msc {

void ClearUPnPError(SearchInfo *info) {
    info->upnpError = 0;
    info->upnpErrorDescription[0] = '\0';
}

void ReportUPnPError(SearchInfo *info, int upnpError, const char *detail, int offset) {
    const char *words = upnpError == kUPnPInvalidArgs         ? "Invalid Args"
                        : upnpError == kUPnPActionFailed      ? "Action Failed"
                        : upnpError == kUPnPBadSearchCriteria ? "Unsupported or invalid search criteria"
                                                              : "Unsupported or invalid sort criteria";
    info->upnpError = upnpError;
    char *out = info->upnpErrorDescription;
    size_t size = sizeof info->upnpErrorDescription;
    if (detail == nullptr) {
        snprintf(out, size, "%s", words);
    } else if (offset < 0) {
        snprintf(out, size, "%s: %s", words, detail);
    } else {
        snprintf(out, size, "%s: %s at byte %d", words, detail, offset);
    }
}

namespace {

// Appends to out[0..size-1] and counts the whole text as snprintf does: a text too long for the
// buffer is cut at its end.
class TextOut {
public:
    TextOut(char *out, int size)
        : out_(out != nullptr && size > 0 ? out : nullptr), room_(out_ != nullptr ? static_cast<size_t>(size) - 1 : 0) {}

    void Put(const char *text, size_t length) {
        if (length_ < room_) memcpy(out_ + length_, text, length < room_ - length_ ? length : room_ - length_);
        length_ += length;
    }
    void Put(const char *text) { Put(text, strlen(text)); }
    size_t Length() const { return length_; }
    // Ends the text with its NUL; the whole text's length.
    int Finish() {
        if (out_ != nullptr) out_[length_ < room_ ? length_ : room_] = '\0';
        return TextLength(length_);
    }

private:
    char *out_;
    size_t room_;
    size_t length_ = 0;
};

// The properties whose values are no text and sort as themselves: dates, ids and the record's
// numbers (by default the track number).
bool SortsAsText(const SearchOptions &options, int id) {
    if (id == PROP_DC_DATE || id == PROP_REFID || id == PROP_ID) return false;
    if (options.numericProperties == nullptr) return id != PROP_UPNP_ORIGINAL_TRACK_NUMBER;
    for (const int *number = options.numericProperties; *number != 0; ++number) {
        if (*number == id) return false;
    }
    return true;
}

bool IsSortable(const SearchOptions &options, const PreparedTables &prepared, int id, const char **column,
                size_t *length) {
    return id != PROP_UNKNOWN && id != 0 && FindColumn(options, prepared, id, column, length) &&
           (options.sortableTable == nullptr || HasEntry(options.sortableTable, id));
}

// The distinct properties among the keys written so far: a bit each below kBitIds, a short list
// above, which only a host with that many properties of its own reaches.
class KeysWritten {
public:
    static constexpr int kBitIds = 1024;
    static constexpr int kListed = 64;

    // Adds 'id'; false when it was added before, or when the list above kBitIds is full (a key
    // then goes unwritten as a repeated one would).
    bool Add(int id) {
        if (id >= 0 && id < kBitIds) {
            uint64_t bit = uint64_t{1} << (id & 63);
            if (bits_[id >> 6] & bit) return false;
            bits_[id >> 6] |= bit;
            return true;
        }
        for (int i = 0; i < listed_; ++i) {
            if (list_[i] == id) return false;
        }
        if (listed_ == kListed) return false;
        list_[listed_++] = id;
        return true;
    }

private:
    uint64_t bits_[kBitIds / 64] = {};
    int list_[kListed];
    int listed_ = 0;
};

struct SortFailure {
    int code;   // a SearchParseErrorCode
    Pos offset;
};

// Writes the keys of sort[0..last] into 'out'; false with *failure for a text that is no list of
// property names, or for a key that cannot be sorted by when such keys are not to be skipped.
bool WriteSortKeys(const char *sort, Pos last, const SearchOptions &options, TextOut &out, SearchInfo *info,
                   SortFailure *failure) {
    const PreparedTables &prepared = PreparedFor(options);
    const Dialect &dialect = kDialects[options.sql.dialect];
    const char *prefix = options.tablePrefix != nullptr ? options.tablePrefix : "";
    size_t prefixLength = strlen(prefix);
    bool skip = (options.policy & SEARCH_POLICY_SKIP_UNKNOWN_SORT) != 0;
    KeysWritten written;
    auto skipBlanks = [sort, last](Pos pos) {
        while (pos <= last && Is(kBlank, sort[pos])) ++pos;
        return pos;
    };
    Pos pos = skipBlanks(0);
    if (pos > last) return true;
    for (;;) {
        Pos key = pos;
        bool descending = sort[pos] == '-';
        if (sort[pos] == '+' || descending) pos = skipBlanks(pos + 1);
        if (pos > last || !Is(kNameStart, sort[pos])) {
            *failure = {SEARCH_PARSE_NO_PROPERTY, pos};
            return false;
        }
        Pos end = pos;
        int id = ReadPropertyName(sort, pos, last, options.parse.hostProperties, &end);
        const char *column = nullptr;
        size_t length = 0;
        bool sortable = IsSortable(options, prepared, id, &column, &length);
        if (sortable && !written.Add(id)) {
            // A repeated property: its first occurrence counts.
        } else if (!sortable) {
            if (!skip) {
                *failure = {SEARCH_PARSE_UNKNOWN_PROPERTY, key};
                return false;
            }
            if (info->sortSkippedCount < MSC_SEARCH_INFO_PROPERTIES) {
                info->sortSkipped[info->sortSkippedCount] = static_cast<int>(key);
            }
            ++info->sortSkippedCount;
        } else {
            if (out.Length() != 0) out.Put(", ", 2);
            bool text = SortsAsText(options, id);
            // Missing values last in both directions, as no database agrees on by default.
            out.Put(prefix, prefixLength);
            out.Put(column, length);
            out.Put(" IS NULL, ", 10);
            if (text) out.Put(dialect.foldedBefore);
            out.Put(prefix, prefixLength);
            out.Put(column, length);
            if (text) out.Put(dialect.foldedAfter);
            out.Put(descending ? " DESC" : " ASC", descending ? 5 : 4);
        }
        pos = skipBlanks(end);
        if (pos > last) return true;
        if (sort[pos] != ',') {
            *failure = {SEARCH_PARSE_TRAILING_TEXT, pos};
            return false;
        }
        pos = skipBlanks(pos + 1);
    }
}

// The name of a property as capabilities list it: a host's name with an attribute filter
// ("upnp:artist[@role=\"Composer\"]") as the property and the attribute ("upnp:artist@role").
struct CapabilityName {
    const char *text;
    size_t head;       // bytes of the property
    size_t attribute;  // bytes of the filter's attribute ("@role"), 0: none
    const char *attributeText;

    explicit CapabilityName(const char *name) : text(name), head(strcspn(name, "[")), attribute(0), attributeText(nullptr) {
        if (name[head] == '[') {
            attributeText = name + head + 1;
            attribute = strcspn(attributeText, " \t=");
        }
    }
    bool operator==(const CapabilityName &other) const {
        return head == other.head && attribute == other.attribute && memcmp(text, other.text, head) == 0 &&
               (attribute == 0 || memcmp(attributeText, other.attributeText, attribute) == 0);
    }
    void WriteTo(TextOut &out) const {
        out.Put(text, head);
        out.Put(attributeText, attribute);
    }
};

// Writes the comma-separated names of the properties that 'listed' accepts: the built-in ones in
// the order of g_PropertyName, then the host's own (when 'hostNames'), each name once.
template <typename Listed>
int WriteCapabilities(const SearchOptions &options, bool hostNames, char *out, int outSize, Listed listed) {
    const PreparedTables &prepared = PreparedFor(options);
    TextOut text(out, outSize);
    auto accepted = [&](int id) {
        const char *column;
        size_t length;
        return id >= 1 && FindColumn(options, prepared, id, &column, &length) && listed(id);
    };
    for (const TokenEntry *entry = g_PropertyName; entry->id != 0; ++entry) {
        if (!accepted(entry->id)) continue;
        if (text.Length() != 0) text.Put(",", 1);
        text.Put(entry->name);
    }
    const TokenEntry *host = hostNames ? options.parse.hostProperties : nullptr;
    for (const TokenEntry *entry = host; entry != nullptr && entry->id != 0; ++entry) {
        if (!accepted(entry->id)) continue;
        CapabilityName name(entry->name);
        bool before = false;
        for (const TokenEntry *built = g_PropertyName; built->id != 0 && !before; ++built) {
            before = accepted(built->id) && name == CapabilityName(built->name);
        }
        for (const TokenEntry *earlier = host; earlier != entry && !before; ++earlier) {
            before = accepted(earlier->id) && name == CapabilityName(earlier->name);
        }
        if (before) continue;
        if (text.Length() != 0) text.Put(",", 1);
        name.WriteTo(text);
    }
    return text.Finish();
}

}  // namespace
}  // namespace msc

extern "C" {

int ConvertSortCriteria(const char *sort, int length, const SearchOptions *options, char *out, int outSize,
                        SearchInfo *info) {
    SearchInfo ownInfo;
    if (info == nullptr) info = &ownInfo;
    info->error = {SEARCH_PARSE_OK, -1};
    info->sortSkippedCount = 0;
    msc::ClearUPnPError(info);
    msc::TextOut text(out, outSize);
    if (sort == nullptr || options == nullptr || length < -1 || !msc::IsValidSqlOptions(options->sql) ||
        !msc::IsValidHostTable(options->parse.hostProperties)) {
        info->error = {SEARCH_PARSE_INVALID_ARGUMENT, 0};
        msc::ReportUPnPError(info, msc::kUPnPInvalidArgs, "invalid argument or option", -1);
        text.Finish();
        return -1;
    }
    // The text ends at its NUL, also inside the range.
    size_t whole = length == -1 ? strlen(sort) : static_cast<size_t>(length);
    const void *nul = length == -1 ? nullptr : memchr(sort, '\0', whole);
    if (nul != nullptr) whole = static_cast<size_t>(static_cast<const char *>(nul) - sort);
    msc::SortFailure failure = {SEARCH_PARSE_OK, -1};
    if (!msc::WriteSortKeys(sort, static_cast<msc::Pos>(whole) - 1, *options, text, info, &failure)) {
        int offset = failure.offset > INT_MAX ? INT_MAX : static_cast<int>(failure.offset);
        info->error = {failure.code, offset};
        const char *detail = failure.code == SEARCH_PARSE_UNKNOWN_PROPERTY ? "unknown or unsortable property"
                             : failure.code == SEARCH_PARSE_NO_PROPERTY    ? "expected a property"
                                                                           : "expected a comma";
        msc::ReportUPnPError(info, msc::kUPnPBadSortCriteria, detail, offset);
        info->sortSkippedCount = 0;
        msc::TextOut(out, outSize).Finish();
        return -1;
    }
    const char *id = options->idColumn;
    if (id != nullptr && *id != '\0') {
        if (text.Length() != 0) text.Put(", ", 2);
        if (options->tablePrefix != nullptr) text.Put(options->tablePrefix);
        text.Put(id);
        text.Put(" ASC", 4);
    }
    return text.Finish();
}

int WriteSearchCapabilities(const SearchOptions *options, char *out, int outSize) {
    if (options == nullptr) {
        msc::TextOut(out, outSize).Finish();
        return -1;
    }
    const TokenEntry *supported = msc::SupportedTableOf(*options);
    // Only the standard grammar reads the host's names.
    bool hostNames = (options->parse.options & SEARCH_PARSE_STANDARD) != 0 &&
                     msc::IsValidHostTable(options->parse.hostProperties);
    return msc::WriteCapabilities(*options, hostNames, out, outSize,
                                  [supported](int id) { return msc::HasEntry(supported, id); });
}

int WriteSortCapabilities(const SearchOptions *options, char *out, int outSize) {
    if (options == nullptr) {
        msc::TextOut(out, outSize).Finish();
        return -1;
    }
    const TokenEntry *sortable = options->sortableTable;
    return msc::WriteCapabilities(*options, msc::IsValidHostTable(options->parse.hostProperties), out, outSize,
                                  [sortable](int id) { return sortable == nullptr || msc::HasEntry(sortable, id); });
}

}  // extern "C"
