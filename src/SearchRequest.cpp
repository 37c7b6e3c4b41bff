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

// A piece of text to write. A padded piece can be read 32 bytes from its start whatever its
// length, so that it is copied by two fixed 16-byte moves rather than by a length's branches.
struct Piece {
    const char *text;
    size_t length;
    bool padded;
};
constexpr size_t kPadding = 32;

// A constant piece, zero-padded to kPadding bytes.
struct PaddedWords {
    char text[kPadding] = {};
    size_t length = 0;
    constexpr explicit PaddedWords(Words words) : length(words.length) {
        for (size_t i = 0; i < words.length && i < kPadding; ++i) text[i] = words.text[i];
    }
    Piece piece() const { return {text, length, true}; }
};
constexpr PaddedWords kComma(", "), kIsNull(" IS NULL, "), kAscending(" ASC"), kDescending(" DESC");
// The dialects' words that fold a text key, padded.
constexpr PaddedWords kFolded[kDialectCount][2] = {
    {PaddedWords(kDialects[0].foldedBefore), PaddedWords(kDialects[0].foldedAfter)},
    {PaddedWords(kDialects[1].foldedBefore), PaddedWords(kDialects[1].foldedAfter)},
    {PaddedWords(kDialects[2].foldedBefore), PaddedWords(kDialects[2].foldedAfter)},
};
static_assert(kDialectCount == 3, "a row of kFolded for each dialect");

// Appends to out[0..size-1] and counts the whole text as snprintf does: a text too long for the
// buffer is cut at its end. Without a buffer it only counts.
class TextOut {
public:
    TextOut(char *out, int size)
        : out_(out != nullptr && size > 0 ? out : none_), room_(out_ != none_ ? static_cast<size_t>(size) - 1 : 0) {}
    TextOut(const TextOut &) = delete;
    TextOut &operator=(const TextOut &) = delete;

    void Put(const char *text, size_t length) {
        if (length_ < room_) memcpy(out_ + length_, text, length < room_ - length_ ? length : room_ - length_);
        length_ += length;
    }
    void Put(const char *text) { Put(text, strlen(text)); }

    // Writes the pieces that 'pieces' hands to the function it is given, which are at most
    // 'most' bytes in all: straight into the buffer when that many fit with kPadding bytes to
    // spare (the usual case), else cut where the buffer ends.
    template <typename Pieces>
    MSC_ALWAYS_INLINE void Write(size_t most, Pieces pieces) {
        if (length_ <= room_ && room_ - length_ >= most + kPadding) {
            char *at = out_ + length_;
            pieces([&at](Piece piece) {
                if (piece.padded) {
                    memcpy(at, piece.text, kPadding);
                } else {
                    CopyValueText(at, piece.text, piece.length);
                }
                at += piece.length;
            });
            length_ = static_cast<size_t>(at - out_);
        } else {
            pieces([this](Piece piece) { Put(piece.text, piece.length); });
        }
    }

    size_t Length() const { return length_; }
    // Ends the text with its NUL; the whole text's length.
    int Finish() {
        if (out_ != none_) out_[length_ < room_ ? length_ : room_] = '\0';
        return TextLength(length_);
    }

private:
    char none_[1];
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

// The column of a property that clients may sort by, padded when the prepared index holds it
// (its room of 30 bytes is followed by two more of the same record); false for any other.
bool SortColumn(const SearchOptions &options, const PreparedTables &prepared, int id, Piece *column) {
    if (id == PROP_UNKNOWN || id == 0) return false;
    const ColumnIndex &index = prepared.columns;
    static_assert(sizeof(ColumnIndex::Name) == kPadding, "a column name of the index is readable as padded");
    bool found = FindColumn(options, prepared, id, &column->text, &column->length);
    column->padded = static_cast<unsigned>(id) < ColumnIndex::kProperties && (index.indexed >> id) & 1;
    return found && (options.sortableTable == nullptr || HasEntry(options.sortableTable, id));
}

// The distinct properties among the keys written so far: a bit each below kBitIds, a short list
// above, which only a host with that many properties of its own reaches.
class KeysWritten {
public:
    static constexpr int kBitIds = 256;
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

// The most bytes of words that a key writes besides its column: ", ", " IS NULL, ", the longest
// folding and " DESC".
constexpr size_t kMostKeyWords = 2 + 10 + 24 + 5;
constexpr bool FoldingFits() {
    for (const auto &folded : kFolded) {
        if (folded[0].length + folded[1].length > 24) return false;
    }
    return kComma.length == 2 && kIsNull.length == 10 && kDescending.length == 5 && kAscending.length < 5;
}
static_assert(FoldingFits(), "kMostKeyWords bounds the words of every key");

// One key: its null test, which puts missing values last in both directions as no database agrees
// on by default, then its ordering, a text folded as the dialect folds it.
void WriteKey(TextOut &out, Piece prefix, Piece column, bool text, bool descending, int dialect) {
    bool first = out.Length() == 0;
    bool prefixed = prefix.length != 0;
    out.Write(2 * (prefix.length + column.length) + kMostKeyWords, [&](auto put) {
        if (!first) put(kComma.piece());
        if (prefixed) put(prefix);
        put(column);
        put(kIsNull.piece());
        if (text) put(kFolded[dialect][0].piece());
        if (prefixed) put(prefix);
        put(column);
        if (text) put(kFolded[dialect][1].piece());
        put(descending ? kDescending.piece() : kAscending.piece());
    });
}

struct SortFailure {
    int code;   // a SearchParseErrorCode
    Pos offset;
};

// The blanks between keys: those of the standard grammar but NUL, which ends the text.
inline bool IsSortBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The property of the key named at sort[pos..last] (a name start), and in *end the byte after its
// name. Clients name built-in properties, each followed by a comma or the end: such a name is
// found in the keyword index as the whole text up to the comma, without a scan of its bytes (a
// text holding a NUL is no keyword). Any other name is read up to the text's NUL, which the first
// such name finds for all the others (*nulLast: the byte before it; -1 until found).
int SortKeyProperty(const char *sort, Pos pos, Pos last, const TokenEntry *hostProperties, Pos *end, Pos *nulLast) {
    const void *comma = memchr(sort + pos, ',', static_cast<size_t>(last + 1 - pos));
    Pos stop = comma != nullptr ? static_cast<const char *>(comma) - sort : last + 1;
    while (IsSortBlank(sort[stop - 1])) --stop;
    if (const TokenEntry *property =
            FindKeyword(Vocabulary::kProperty, KeywordMatch::kWhole, sort + pos, static_cast<size_t>(stop - pos))) {
        *end = stop;
        return property->id;
    }
    if (*nulLast < 0) {
        const void *nul = memchr(sort + pos, '\0', static_cast<size_t>(last + 1 - pos));
        *nulLast = nul != nullptr ? static_cast<const char *>(nul) - sort - 1 : last;
    }
    return ReadPropertyName(sort, pos, *nulLast, hostProperties, end);
}

// Writes the keys of sort[0..last] into 'out'; false with *failure for a text that is no list of
// property names, or for a key that cannot be sorted by when such keys are not to be skipped.
// The text ends at its NUL.
bool WriteSortKeys(const char *sort, Pos last, const SearchOptions &options, TextOut &out, SearchInfo *info,
                   SortFailure *failure) {
    const PreparedTables &prepared = PreparedFor(options);
    Piece prefix = {"", 0, false};
    if (options.tablePrefix != nullptr) prefix = {options.tablePrefix, strlen(options.tablePrefix), false};
    bool skip = (options.policy & SEARCH_POLICY_SKIP_UNKNOWN_SORT) != 0;
    KeysWritten written;
    Pos nulLast = -1;
    auto skipBlanks = [sort, last](Pos pos) {
        while (pos <= last && IsSortBlank(sort[pos])) ++pos;
        return pos;
    };
    auto atEnd = [sort, last](Pos pos) { return pos > last || sort[pos] == '\0'; };
    Pos pos = skipBlanks(0);
    if (atEnd(pos)) return true;
    for (;;) {
        Pos key = pos;
        bool descending = sort[pos] == '-';
        if (sort[pos] == '+' || descending) pos = skipBlanks(pos + 1);
        if (atEnd(pos) || !Is(kNameStart, sort[pos])) {
            *failure = {SEARCH_PARSE_NO_PROPERTY, pos};
            return false;
        }
        Pos end = pos;
        int id = SortKeyProperty(sort, pos, last, options.parse.hostProperties, &end, &nulLast);
        Piece column = {nullptr, 0, false};
        bool sortable = SortColumn(options, prepared, id, &column);
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
            WriteKey(out, prefix, column, SortsAsText(options, id), descending, options.sql.dialect);
        }
        pos = skipBlanks(end);
        if (atEnd(pos)) return true;
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
    if (sort == nullptr || options == nullptr || length < -1 || !msc::IsValidSqlOptions(options->sql)) {
        info->error = {SEARCH_PARSE_INVALID_ARGUMENT, 0};
        msc::ReportUPnPError(info, msc::kUPnPInvalidArgs, "invalid argument or option", -1);
        text.Finish();
        return -1;
    }
    size_t whole = length == -1 ? strlen(sort) : static_cast<size_t>(length);
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
        const msc::Piece prefix = {options->tablePrefix != nullptr ? options->tablePrefix : "",
                                   options->tablePrefix != nullptr ? strlen(options->tablePrefix) : 0, false};
        const msc::Piece column = {id, strlen(id), false};
        bool first = text.Length() == 0;
        text.Write(2 + prefix.length + column.length + 4, [&](auto put) {
            if (!first) put(msc::kComma.piece());
            put(prefix);
            put(column);
            put(msc::kAscending.piece());
        });
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
