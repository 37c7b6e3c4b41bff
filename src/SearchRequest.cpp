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
#include <initializer_list>

#include "Lexer.h"
#include "SearchOptions.h"

namespace msc {

// "words: detail at byte N", cut to the field. Written by hand rather than by snprintf: one
// criteria in six from real clients fails, and the text would cost more than the parse. Every
// piece but the detail has a length known without a scan.
size_t DescribeUPnPError(char *out, int upnpError, const char *detail) {
    const Words words = upnpError == kUPnPInvalidArgs         ? Words("Invalid Args")
                        : upnpError == kUPnPActionFailed      ? Words("Action Failed")
                        : upnpError == kUPnPBadSearchCriteria ? Words("Unsupported or invalid search criteria")
                                                              : Words("Unsupported or invalid sort criteria");
    size_t length = 0;
    AppendToDescription(out, &length, words.text, words.length);
    if (detail != nullptr) {
        AppendToDescription(out, &length, ": ", 2);
        AppendToDescription(out, &length, detail, strnlen(detail, MSC_SEARCH_INFO_DESCRIPTION_SIZE - 1 - length));
    }
    return length;
}

size_t OpenOffset(char *out, size_t length) {
    const Words at(" at byte ");
    AppendToDescription(out, &length, at.text, at.length);
    return length;
}

void ReportUPnPError(SearchInfo *info, int upnpError, const char *detail, int offset) {
    info->upnpError = upnpError;
    char *out = info->upnpErrorDescription;
    size_t length = DescribeUPnPError(out, upnpError, detail);
    if (detail != nullptr && offset >= 0) {
        EndWithOffset(out, OpenOffset(out, length), static_cast<unsigned>(offset));
    } else {
        out[length] = '\0';
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

// A constant piece, zero-padded to kPadding bytes: words joined when the library is compiled, so
// that they take one copy.
struct PaddedWords {
    char text[kPadding] = {};
    size_t length = 0;
    constexpr PaddedWords(std::initializer_list<Words> words) {
        for (const Words &word : words) {
            for (size_t i = 0; i < word.length; ++i, ++length) {
                if (length < kPadding) text[length] = word.text[i];
            }
        }
    }
};
constexpr Words kSeparator(", "), kIsNull(" IS NULL, "), kAscending(" ASC"), kDescending(" DESC");

// What a key writes besides its column: its null test, which ends with the opening of the folding
// of a text key, and its ordering, which begins with the closing and ends with the separator (the
// last one is taken back). A key is thus four copies: column, null test, column, ordering. 128
// bytes a row, so that a key finds its words by shifts rather than multiplications.
struct alignas(128) KeyWords {
    PaddedWords nullTest;
    PaddedWords order;
};
constexpr KeyWords KeyWordsOf(const Dialect &dialect, bool text, bool descending) {
    const Words direction = descending ? kDescending : kAscending;
    if (!text) return {PaddedWords({kIsNull}), PaddedWords({direction, kSeparator})};
    return {PaddedWords({kIsNull, dialect.foldedBefore}), PaddedWords({dialect.foldedAfter, direction, kSeparator})};
}
// A dialect's words by whether a key sorts as text and descends: one look-up a key.
struct DialectKeyWords {
    KeyWords of[2][2];
};
constexpr DialectKeyWords DialectKeyWordsOf(const Dialect &dialect) {
    return {{{KeyWordsOf(dialect, false, false), KeyWordsOf(dialect, false, true)},
             {KeyWordsOf(dialect, true, false), KeyWordsOf(dialect, true, true)}}};
}
constexpr DialectKeyWords kKeyWords[kDialectCount] = {DialectKeyWordsOf(kDialects[0]), DialectKeyWordsOf(kDialects[1]),
                                                      DialectKeyWordsOf(kDialects[2])};
static_assert(kDialectCount == 3, "a row of kKeyWords for each dialect");

// The most bytes of words that a key writes besides its column; SIZE_MAX when a piece is longer
// than its padding.
constexpr size_t MostKeyWords() {
    size_t most = 0;
    for (const DialectKeyWords &dialect : kKeyWords) {
        for (const auto &text : dialect.of) {
            for (const KeyWords &words : text) {
                if (words.nullTest.length > kPadding || words.order.length > kPadding) return SIZE_MAX;
                if (words.nullTest.length + words.order.length > most) most = words.nullTest.length + words.order.length;
            }
        }
    }
    return most;
}
constexpr size_t kMostKeyWords = MostKeyWords();
static_assert(kMostKeyWords != SIZE_MAX, "every piece of a key's words fits its padding");

// Appends to the buffer out[0..size-1] and counts the whole text as snprintf does: a text too long
// for the buffer is cut at its end. Without a buffer it only counts.
class TextOut {
public:
    TextOut(char *out, int size)
        : at_(out != nullptr && size > 0 ? out : nullptr), start_(at_), end_(at_ != nullptr ? at_ + size - 1 : nullptr) {}
    TextOut(const TextOut &) = delete;
    TextOut &operator=(const TextOut &) = delete;

    void Put(const char *text, size_t length) {
        size_t fits = length < Room() ? length : Room();
        if (fits != 0) memcpy(at_, text, fits);
        at_ += fits;
        lost_ += length - fits;
    }
    void Put(const char *text) { Put(text, strlen(text)); }

    // Writes the pieces that 'pieces' hands to the function it is given (a Piece, or padded words),
    // which are at most 'most' bytes in all: straight into the buffer when that many fit with
    // kPadding bytes to spare (the usual case), else cut where the buffer ends.
    template <typename Pieces>
    MSC_ALWAYS_INLINE void Write(size_t most, Pieces pieces) {
        if (Room() >= most + kPadding) {
            Direct direct{at_};
            pieces(direct);
            at_ = direct.at;
        } else {
            Cut cut{this};
            pieces(cut);
        }
    }

    // Takes back the last n bytes of the whole text (at most its length): counted ones first,
    // since a cut text holds the beginning of what remains.
    void TakeBack(size_t n) {
        size_t counted = n < lost_ ? n : lost_;
        lost_ -= counted;
        at_ -= n - counted;
    }

    size_t Length() const { return static_cast<size_t>(at_ - start_) + lost_; }
    // Ends the text with its NUL; the whole text's length.
    int Finish() {
        if (at_ != nullptr) *at_ = '\0';
        return TextLength(Length());
    }

private:
    size_t Room() const { return static_cast<size_t>(end_ - at_); }

    // Writes pieces with room to spare.
    struct Direct {
        char *at;
        MSC_ALWAYS_INLINE void operator()(const PaddedWords &words) {
            memcpy(at, words.text, kPadding);
            at += words.length;
        }
        MSC_ALWAYS_INLINE void operator()(Piece piece) {
            if (piece.padded) {
                memcpy(at, piece.text, kPadding);
            } else {
                CopyValueText(at, piece.text, piece.length);
            }
            at += piece.length;
        }
    };
    // Writes pieces where the buffer may end.
    struct Cut {
        TextOut *out;
        void operator()(const PaddedWords &words) { out->Put(words.text, words.length); }
        void operator()(Piece piece) { out->Put(piece.text, piece.length); }
    };

    char *at_;         // where the next byte goes, end_ once the text is cut; null without a buffer
    char *start_;
    char *end_;        // where the NUL goes when the buffer is full
    size_t lost_ = 0;  // bytes of the whole text that did not fit
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
// (its record of ColumnIndex::Name is 32 bytes); false for any other. No column is found for 0,
// which names no property.
bool SortColumn(const SearchOptions &options, const PreparedTables &prepared, int id, Piece *column) {
    static_assert(sizeof(ColumnIndex::Name) == kPadding, "a column name of the index is readable as padded");
    return FindColumn(options, prepared, id, &column->text, &column->length, &column->padded) &&
           id != PROP_UNKNOWN && (options.sortableTable == nullptr || HasEntry(options.sortableTable, id));
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

// One key followed by its separator: its null test (unless 'orderingOnly'), which puts missing
// values last in both directions as no database agrees on by default, then its ordering, a text
// folded as the dialect folds it. The id column that ends the list is an ordering only.
MSC_ALWAYS_INLINE inline void WriteKey(TextOut &out, Piece prefix, Piece column, const KeyWords &words,
                                       bool orderingOnly) {
    bool prefixed = prefix.length != 0;
    out.Write(2 * (prefix.length + column.length) + kMostKeyWords, [&](auto &put) MSC_ALWAYS_INLINE {
        if (!orderingOnly) {
            if (prefixed) put(prefix);
            put(column);
            put(words.nullTest);
        }
        if (prefixed) put(prefix);
        put(column);
        put(words.order);
    });
}

struct SortFailure {
    int code;   // a SearchParseErrorCode
    Pos offset;
};

// The blanks between keys: those of the standard grammar but NUL, which ends the text. Keys
// mostly follow signs and commas at once, and no byte above the space is a blank.
inline bool IsSortBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ' && (c == ' ' || (c >= '\t' && c <= '\r'));
}

// The first byte of sort[pos..last] that is no blank, or last + 1.
Pos SkipSortBlanks(const char *sort, Pos pos, Pos last) {
    while (pos <= last && IsSortBlank(sort[pos])) ++pos;
    return pos;
}

// A name that is no keyword, read up to the text's NUL, which the first such name finds for all
// the others (*nulLast: the byte before it; -1 until found): its property, and in *next the first
// byte after it and its blanks.
__attribute__((noinline)) int ReadSortKeyName(const char *sort, Pos pos, Pos last, const TokenEntry *hostProperties,
                                              Pos *next, Pos *nulLast) {
    if (*nulLast < 0) {
        const void *nul = memchr(sort + pos, '\0', static_cast<size_t>(last + 1 - pos));
        *nulLast = nul != nullptr ? static_cast<const char *>(nul) - sort - 1 : last;
    }
    Pos end = pos;
    int id = ReadPropertyName(sort, pos, *nulLast, hostProperties, &end);
    *next = SkipSortBlanks(sort, end, last);
    return id;
}

// The property of the key named at sort[pos..last] (a name start), and in *next the first byte
// after its name and the blanks that follow it. Clients name built-in properties, each followed
// by a comma or the end: such a name is found in the keyword index as the whole text up to the
// comma less its blanks, without a scan of its bytes (a text holding a NUL is no keyword), and
// the comma is *next. Any other name is read as the standard grammar reads it.
MSC_ALWAYS_INLINE inline int SortKeyProperty(const char *sort, Pos pos, Pos last, const TokenEntry *hostProperties,
                                             Pos *next, Pos *nulLast) {
    const void *comma = memchr(sort + pos, ',', static_cast<size_t>(last + 1 - pos));
    Pos separator = comma != nullptr ? static_cast<const char *>(comma) - sort : last + 1;
    Pos stop = separator;
    while (IsSortBlank(sort[stop - 1])) --stop;
    if (const TokenEntry *property =
            FindKeyword(Vocabulary::kProperty, KeywordMatch::kWhole, sort + pos, static_cast<size_t>(stop - pos))) {
        *next = separator;
        return property->id;
    }
    return ReadSortKeyName(sort, pos, last, hostProperties, next, nulLast);
}

// Writes the keys of sort[0..last] into 'out', each column after 'prefix'; false with *failure for
// a text that is no list of property names, or for a key that cannot be sorted by when such keys
// are not to be skipped. The text ends at its NUL.
bool WriteSortKeys(const char *sort, Pos last, const SearchOptions &options, Piece prefix, TextOut &out,
                   SearchInfo *info, SortFailure *failure) {
    const PreparedTables &prepared = PreparedFor(options);
    const DialectKeyWords &words = kKeyWords[options.sql.dialect];
    KeysWritten written;
    Pos nulLast = -1;
    auto atEnd = [sort, last](Pos pos) { return pos > last || sort[pos] == '\0'; };
    Pos pos = SkipSortBlanks(sort, 0, last);
    if (atEnd(pos)) return true;
    for (;;) {
        Pos key = pos;
        // A text given by its length may end at a comma: nothing past it is read.
        char sign = pos <= last ? sort[pos] : '\0';
        if (sign == '+' || sign == '-') pos = SkipSortBlanks(sort, pos + 1, last);
        if (MSC_UNLIKELY(pos > last || !Is(kNameStart, sort[pos]))) {
            *failure = {SEARCH_PARSE_NO_PROPERTY, pos};
            return false;
        }
        Pos next = pos;
        int id = SortKeyProperty(sort, pos, last, options.parse.hostProperties, &next, &nulLast);
        Piece column = {nullptr, 0, false};
        if (MSC_UNLIKELY(!SortColumn(options, prepared, id, &column))) {
            if ((options.policy & SEARCH_POLICY_SKIP_UNKNOWN_SORT) == 0) {
                *failure = {SEARCH_PARSE_UNKNOWN_PROPERTY, key};
                return false;
            }
            if (info->sortSkippedCount < MSC_SEARCH_INFO_PROPERTIES) {
                info->sortSkipped[info->sortSkippedCount] = static_cast<int>(key);
            }
            ++info->sortSkippedCount;
        } else if (written.Add(id)) {  // else a repeated property: its first occurrence counts
            WriteKey(out, prefix, column, words.of[SortsAsText(options, id)][sign == '-'], false);
        }
        if (atEnd(next)) return true;
        if (MSC_UNLIKELY(sort[next] != ',')) {
            *failure = {SEARCH_PARSE_TRAILING_TEXT, next};
            return false;
        }
        pos = SkipSortBlanks(sort, next + 1, last);
    }
}

// The name of a property as capabilities list it: a host's name with an attribute filter
// ("upnp:artist[@role=\"Composer\"]") as the property and the attribute ("upnp:artist@role").
struct CapabilityName {
    const char *text;
    size_t head;       // bytes of the property
    size_t attribute;  // bytes of the filter's attribute ("@role"), 0: none
    const char *attributeText;

    explicit CapabilityName(const char *name)
        : text(name), head(strcspn(name, "[")), attribute(0), attributeText(name + head) {
        if (name[head] == '[') {
            attributeText = name + head + 1;
            attribute = strcspn(attributeText, " \t=");
        }
    }
    bool operator==(const CapabilityName &other) const {
        return head == other.head && attribute == other.attribute && memcmp(text, other.text, head) == 0 &&
               memcmp(attributeText, other.attributeText, attribute) == 0;
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
        bool indexed;
        return id >= 1 && FindColumn(options, prepared, id, &column, &length, &indexed) && listed(id);
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
    const char *tablePrefix = options->tablePrefix;
    const msc::Piece prefix = {tablePrefix, tablePrefix != nullptr ? strlen(tablePrefix) : 0, false};
    msc::SortFailure failure = {SEARCH_PARSE_OK, -1};
    if (!msc::WriteSortKeys(sort, static_cast<msc::Pos>(whole) - 1, *options, prefix, text, info, &failure)) {
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
        msc::WriteKey(text, prefix, {id, strlen(id), false}, msc::kKeyWords[options->sql.dialect].of[false][false], true);
    }
    if (text.Length() != 0) text.TakeBack(msc::kSeparator.length);
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
