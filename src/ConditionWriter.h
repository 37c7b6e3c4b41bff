// The SQL condition writer: a visitor on the tree walk that appends each piece to the caller's
// buffer at a running length. Every piece carries a blank on each side, so " title  =  'abc' "
// has two blanks between pieces and one at each end. Never installed.
#ifndef MSC_CONDITION_WRITER_H
#define MSC_CONDITION_WRITER_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

#if MSC_VECTOR && defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Internal.h"
#include "TreeWalk.h"

namespace msc {

// A name missing from its table prints as the C library prints a null text.
inline constexpr char kNullName[] = "(null)";

// How a value is written: as the right operand of contains, doesNotContain or derivedfrom a
// pattern that finds it anywhere, of exists a null test, anywhere else a plain literal. A prefix
// pattern finds it at the start ('value%'); every pattern goes through the same dialect rules.
// "@refID exists false" selects the objects that are no references, whose ref id column is set:
// its false is IS NOT NULL rather than the general IS NULL.
enum ValueForm { kPlainValue, kPatternValue, kPrefixPatternValue, kExistsValue, kRefIdExistsValue };

inline bool IsPattern(ValueForm form) { return form == kPatternValue || form == kPrefixPatternValue; }

// A constant text and its length, known when the library is compiled.
struct Words {
    const char *text;
    size_t length;
    template <size_t N>
    constexpr Words(const char (&literal)[N]) : text(literal), length(N - 1) {}  // NOLINT: a literal converts
};

// What a dialect writes differently from the classic text, one row per SqlDialect: all its
// decisions are here.
struct Dialect {
    const char *like;     // The pattern operators' words; nullptr: the classic table's.
    const char *notLike;
    bool hexLiterals;     // Values as _utf8mb4 X'...': hex digits that no sql_mode reads as escapes.
    bool escapeAlways;    // The database's LIKE takes a backslash as escape unless ESCAPE names another.
    // A text column as a sort key, between these two: its bytes with ASCII letters folded, compared
    // byte by byte, whatever the column's collation. MySQL's LOWER folds other letters too.
    Words foldedBefore;
    Words foldedAfter;
};
inline constexpr Dialect kDialects[] = {
    /* SQL_DIALECT_SQLITE */ {nullptr, nullptr, false, false, "", " COLLATE NOCASE"},
    /* SQL_DIALECT_POSTGRESQL */ {"ILIKE", "NOT ILIKE", false, true, "lower(", " COLLATE \"C\")"},
    /* SQL_DIALECT_MYSQL */ {nullptr, nullptr, true, true, "CAST(LOWER(", ") AS BINARY)"},
};
constexpr int kDialectCount = sizeof kDialects / sizeof kDialects[0];

// True for a dialect of kDialects and flags that the writers know.
inline bool IsValidSqlOptions(const SqlOptions &options) {
    return options.dialect >= 0 && options.dialect < kDialectCount && (options.flags & ~SQL_LITERAL_PATTERNS) == 0;
}

// The escape character of patterns: not a backslash, which MySQL's string literals read
// differently by sql_mode, and accepted by the ESCAPE clause of all three databases.
constexpr char kPatternEscape = '!';
inline constexpr char kEscapeClause[] = " ESCAPE '!' ";

inline ValueForm FormOfRightOperand(int opId) {
    if (opId == OP_STARTS_WITH) return kPrefixPatternValue;
    if (IsExistsOperator(opId)) return kExistsValue;
    if (opId == OP_CONTAINS || opId == OP_DOES_NOT_CONTAIN || opId == OP_DERIVED_FROM) {
        return kPatternValue;
    }
    return kPlainValue;
}

// The null tests that an exists comparison writes for its value: IS NULL, IS NOT NULL.
inline constexpr Words kNullTests[2] = {" NULL ", " NOT NULL "};

// The null test (an index of kNullTests) of the exists value text[0..length-1] of 'form'
// (kExistsValue or kRefIdExistsValue); -1 for a value that is neither true nor false, which is
// written as a literal.
inline int NullTestOf(const char *text, size_t length, ValueForm form) {
    const char *word = BooleanLiteral(text, length);
    if (word == nullptr) return -1;
    return word[0] == 't' || form == kRefIdExistsValue ? 1 : 0;
}

// The operator pieces " AND ", " = ", " LIKE ", ..., composed once from the SQL tables for every
// id up to the last named one, so that writing one is a copy of known length rather than a
// table walk. Each is followed by a blank and padded to 16 bytes: see ConditionWriter::PutPiece.
class OperatorPieces {
public:
    // 64 bytes: a piece is found by a shift rather than a multiplication.
    struct alignas(64) Piece {
        char text[16];
        size_t length;  // SIZE_MAX: no piece here (too long, or an id that writes nothing)
        ValueForm form;
        // For a comparison's value in the classic text (ConditionWriter::WriteComparison): the
        // piece with the literal's opening (" =  '", " LIKE  '%"), padded with blanks, and the
        // literal's closing ("' ", "%' ") padded with NULs; the value goes at 'valueAt'. The
        // exists operator's piece has no opening or closing: its value is a null test (see
        // ConditionWriter::WholeValue). A valueAt of 0: there is no piece, or it does not fit;
        // a closingLength above 0: a literal's piece that fits.
        char opened[16];
        char closing[4];
        uint8_t valueAt;
        uint8_t closingLength;
        // A literal's piece that fits: values shorter than this, those that a QuoteFreeValue
        // holds, go with it at once (WriteComparison); 0 for any other piece.
        uint8_t commonBelow;
    };
    static constexpr int kLastId = kLastOperatorId;

    explicit OperatorPieces(const Dialect &dialect);

    // The piece of 'opId', or nullptr for an id above those composed here.
    const Piece *Get(int opId) const {
        return static_cast<unsigned>(opId) <= kLastId ? &pieces_[opId] : nullptr;
    }

    // The piece of an operator that a parser read: every id of the operators' keyword tables is
    // at most kLastId, so only ids from elsewhere need Get's test.
    const Piece &OfParsed(int opId) const { return pieces_[opId]; }

private:
    Piece pieces_[kLastId + 1];
};

// Composed when the library loads (the SQL tables are constant data, initialised before any
// constructor runs), so that a call pays no first-use check. Indexed by SqlDialect; the SQLite
// row is the classic text.
extern const OperatorPieces kOperatorPieces[kDialectCount];

// The always-true rewrite's constant comparison as the writer of one dialect writes it, true and
// false (kConstantText), composed by that writer's own pieces when the library loads
// (ConditionWriter::ComposeConstant): the one call writes it in one copy, and makes a true one
// false by writing over the bytes where the two differ. Indexed by SqlDialect, as kOperatorPieces.
struct ConstantComparison {
    char text[2][48];   // by polarity, NULs after the text: a writer may copy the whole array
    size_t length;      // of either text
    size_t differsAt;   // the bytes where the false text differs from the true one
    size_t differsLength;
};
extern const ConstantComparison kConstantComparisons[kDialectCount];

// True when text[0..length-1] is well-formed UTF-8 (no overlong forms, surrogates or code
// points above U+10FFFF): MySQL refuses a _utf8mb4 literal of any other bytes.
bool IsUtf8(const unsigned char *text, size_t length);

// The column of a property: the name of the first entry of the table with its id, kNullName
// when it has none. A missing table (null) names no column, like an empty one.
inline const char *ColumnNameOf(const TokenEntry *columns, int propertyId) {
    if (columns == nullptr) return kNullName;
    for (const TokenEntry *entry = columns; entry->id != 0; ++entry) {
        if (entry->id == propertyId) return entry->name != nullptr ? entry->name : kNullName;
    }
    return kNullName;
}

// True when a column name that ColumnNameOf gave names no column: missing, or empty.
inline bool NamesNoColumn(const char *name, size_t length) { return name == kNullName || length == 0; }

// The column names of the built-in properties, copied out of a host's table once so that a
// writer finds each without a look-up. Copies rather than pointers: a host that changes or
// frees its table's names afterwards leaves the index stale, never pointing at freed memory.
// A name too long for its room, and a property without a column (NamesNoColumn), are looked up
// as before: the writers test for a missing column only there.
struct ColumnIndex {
    static constexpr int kProperties = 16;  // the ids indexed: the built-in ones
    static constexpr uint8_t kNotIndexed = UINT8_MAX;
    // A name followed by blanks, at least one: a writer may copy the whole record, which its
    // column's closing blank ends. A record is read only where it is indexed.
    struct Name {
        char text[31] = {};
        uint8_t length = kNotIndexed;  // kNotIndexed: look the property up in the table
    };
    Name names[kProperties];

    // An index of no names.
    constexpr ColumnIndex() = default;
    // Indexes 'columns' (null: no column).
    explicit ColumnIndex(const TokenEntry *columns) {
        for (int id = 1; id < kProperties; ++id) {
            const char *name = ColumnNameOf(columns, id);
            size_t length = strlen(name);
            if (length >= sizeof names[id].text || NamesNoColumn(name, length)) continue;
            memset(names[id].text, ' ', sizeof names[id].text);
            memcpy(names[id].text, name, length);
            names[id].length = static_cast<uint8_t>(length);
        }
    }

    // The name of 'propertyId' when the index holds it, else nullptr.
    const Name *Find(int propertyId) const {
        if (static_cast<unsigned>(propertyId) >= kProperties || names[propertyId].length == kNotIndexed) return nullptr;
        return &names[propertyId];
    }
};
inline constexpr ColumnIndex kNoColumnIndex{};

// The writer itself is compiled into each source that writes, with internal linkage, so that
// the compiler inlines its pieces into the walk as it would a source's own functions.
namespace {

#if MSC_VECTOR && defined(__SSE2__)
// N bytes (4, 8 or 16) into the low lanes of a vector whose other lanes are zero, and back.
template <size_t N>
MSC_ALWAYS_INLINE inline __m128i LoadBlock(const char *from) {
    if constexpr (N == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i *>(from));
    if constexpr (N == 8) return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(from));
    return _mm_cvtsi32_si128(Load<int32_t>(from));
}
template <size_t N>
MSC_ALWAYS_INLINE inline void StoreBlock(char *to, __m128i block) {
    if constexpr (N == 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to), block);
    } else if constexpr (N == 8) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(to), block);
    } else {
        int32_t word = _mm_cvtsi128_si32(block);
        memcpy(to, &word, sizeof word);
    }
}
// True when no lane of the blocks holds a single quote.
MSC_ALWAYS_INLINE inline bool NoQuote(__m128i a, __m128i b, __m128i c) {
    const __m128i quote = _mm_set1_epi8('\'');
    __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(a, quote), _mm_cmpeq_epi8(b, quote)), _mm_cmpeq_epi8(c, quote));
    return _mm_movemask_epi8(hits) == 0;
}
#else
// True when one of the bytes of 'word' is a single quote: the byte-wise zero test of
// word XOR '\'' repeated, which never reports a byte that is not one.
template <typename Word>
inline bool HasQuote(Word word) {
    constexpr Word kOnes = static_cast<Word>(~Word{0}) / 0xFF;
    Word x = word ^ (kOnes * '\'');
    return static_cast<Word>((x - kOnes) & ~x & (kOnes * 0x80)) != 0;
}
#endif

// A value of at most kMaxLength bytes (nearly every value: class names such as
// "object.container.person.musicArtist" are the longest) that holds no single quote, copied by
// loads that are tested before any store, so that a writer decides before it stores anything.
// Loads and stores of a fixed size at each end (and one more in the middle of 33 to 48 bytes)
// may overlap and touch nothing outside the value's bytes. With MSC_VECTOR and SSE2 the bytes go
// into vector registers, where one comparison finds a quote; else into words, tested by the
// byte-wise zero test. Each size of value is read, tested and stored in a branch of its own: the
// length is tested once, and a store goes right after its test.
class QuoteFreeValue {
public:
#if MSC_VECTOR && defined(__SSE2__)
    static constexpr size_t kMaxLength = 48;
#else
    static constexpr size_t kMaxLength = 16;
#endif

    // Copies from[0..n-1], n at most kMaxLength, to place() when no quote is among its bytes;
    // false, with place not called, when one is. place() is called once the bytes are read and
    // tested, returns where they go and may store what goes around them.
    template <typename Place>
    MSC_ALWAYS_INLINE static bool Copy(const char *from, size_t n, Place place) {
#if MSC_VECTOR && defined(__SSE2__)
        if (n > 16) {
            __m128i head = LoadBlock<16>(from);
            __m128i tail = LoadBlock<16>(from + n - 16);
            __m128i middle = n > 32 ? LoadBlock<16>(from + 16) : head;
            if (!NoQuote(head, middle, tail)) return false;
            char *to = place();
            StoreBlock<16>(to, head);
            if (n > 32) StoreBlock<16>(to + 16, middle);
            StoreBlock<16>(to + n - 16, tail);
            return true;
        }
        if (n >= 8) return CopyEnds<8>(from, n, place);
        if (n >= 4) return CopyEnds<4>(from, n, place);
#else
        if (n >= 8) return CopyEnds<uint64_t>(from, n, place);
        if (n >= 4) return CopyEnds<uint32_t>(from, n, place);
#endif
        if (n == 0) {
            place();
            return true;
        }
        // The first, middle and last byte are all the bytes of 1 to 3; held in one word, which
        // its zero bytes leave without a quote. (The middle byte in the top one: no byte is
        // taken from the second, which would keep a register of the few that have one.)
        auto byte = [from](size_t at) { return static_cast<uint32_t>(static_cast<unsigned char>(from[at])); };
        uint32_t bytes = byte(0) | byte(n - 1) << 16 | byte(n / 2) << 24;
#if MSC_VECTOR && defined(__SSE2__)
        __m128i held = _mm_cvtsi32_si128(static_cast<int>(bytes));
        if (!NoQuote(held, held, held)) return false;
#else
        if (HasQuote(bytes)) return false;
#endif
        char *to = place();
        to[0] = static_cast<char>(bytes);
        to[n - 1] = static_cast<char>(bytes >> 16);
        to[n / 2] = static_cast<char>(bytes >> 24);
        return true;
    }

private:
#if MSC_VECTOR && defined(__SSE2__)
    template <size_t N, typename Place>
    MSC_ALWAYS_INLINE static bool CopyEnds(const char *from, size_t n, Place place) {
        __m128i head = LoadBlock<N>(from);
        __m128i tail = LoadBlock<N>(from + n - N);
        if (!NoQuote(head, tail, tail)) return false;
        char *to = place();
        StoreBlock<N>(to, head);
        StoreBlock<N>(to + n - N, tail);
        return true;
    }
#else
    template <typename Word, typename Place>
    MSC_ALWAYS_INLINE static bool CopyEnds(const char *from, size_t n, Place place) {
        Word head = Load<Word>(from), tail = Load<Word>(from + n - sizeof(Word));
        if (HasQuote(head) || HasQuote(tail)) return false;
        char *to = place();
        memcpy(to, &head, sizeof head);
        memcpy(to + n - sizeof tail, &tail, sizeof tail);
        return true;
    }
#endif
};

// Copies a value of any length that holds no single quote; false, with nothing written, when it
// holds one. A value of at most QuoteFreeValue::kMaxLength bytes is tested by the loads that
// copy it; a longer one by memchr, and then copied.
MSC_ALWAYS_INLINE inline bool CopyQuoteFree(char *to, const char *from, size_t n) {
    if (n <= QuoteFreeValue::kMaxLength) return QuoteFreeValue::Copy(from, n, [to] { return to; });
    if (memchr(from, '\'', n) != nullptr) return false;
    CopyValueText(to, from, n);
    return true;
}

// The dialect state of a writer that has one.
struct DialectState {
    const Dialect *dialect;
    bool escapeClause;  // Patterns name kPatternEscape in an ESCAPE clause.
    bool literal;       // SQL_LITERAL_PATTERNS: % and _ are escaped too.
};
struct NoDialect {};

// Writes the condition text into out[0..size-1] and counts the length of the whole text. The
// first piece that does not fit is cut at the buffer's end and ends the written text (a cut
// moves the limit to the cursor, so later pieces are only counted): a short buffer holds a
// prefix of the whole condition. Without a buffer it only counts. The NUL is written once, at
// the end. The value handed down is the form of a value met there. The classic writer
// (kDialect false) has no dialect state and no test for one. The one call's writer (kSearchCall)
// finds column names in a ColumnIndex before the table, and notes whether it wrote some
// property without a column name.
template <bool kDialect, bool kSearchCall = false>
class ConditionWriter : public WalkHooks<const ParseTreeNode, ValueForm> {
    using State = std::conditional_t<kDialect, DialectState, NoDialect>;

public:
    ConditionWriter(const TokenEntry *columns, const char *prefix, char *out, int outSize, State state = {},
                    const ColumnIndex *index = &kNoColumnIndex)
        : state_(state),
          columns_(columns),
          prefix_(prefix),
          prefixLength_(prefix != nullptr && *prefix != '\0' ? strlen(prefix) : 0) {
        bool buffer = out != nullptr && outSize > 0;
        start_ = at_ = buffer ? out : scratch_;
        limit_ = at_ + (buffer ? outSize - 1 : 0);
        // The index's names go without the prefix: a writer with one finds its columns in the
        // table, so that the comparisons at once test for an index alone.
        if constexpr (kSearchCall) index_ = prefixLength_ == 0 ? index : &kNoColumnIndex;
    }

    // The pointers may point at scratch_ inside this object: no copies.
    ConditionWriter(const ConditionWriter &) = delete;
    ConditionWriter &operator=(const ConditionWriter &) = delete;

    // True when some property had no column name (kSearchCall only).
    bool wroteNoColumn() const {
        if constexpr (kSearchCall) return wroteNoColumn_;
        return false;
    }

    // The length of the whole text so far.
    size_t Length() const { return LengthTo(at_); }

    // The always-true rewrite's constant comparison of 'polarity' at once; the offset in the whole
    // text where it begins.
    size_t WriteConstantComparison(int polarity) {
        const ConstantComparison &constant = kConstantComparisons[DialectOf(state_)];
        size_t offset = Length();
        if (sizeof constant.text[polarity] <= Room()) {
            memcpy(at_, constant.text[polarity], sizeof constant.text[polarity]);
            at_ += constant.length;
        } else {
            Put(constant.text[polarity], constant.length);
        }
        return offset;
    }

    // Makes the true constant comparison written at 'offset' of the whole text the false one, as
    // much of it as the buffer held. A parse that writes as it reads learns a constant's polarity
    // only from the text that follows.
    void MakeConstantFalse(size_t offset) {
        const ConstantComparison &constant = kConstantComparisons[DialectOf(state_)];
        size_t held = static_cast<size_t>(at_ - start_);
        size_t end = offset + constant.differsAt + constant.differsLength;
        for (size_t at = offset + constant.differsAt; at < end && at < held; ++at) {
            start_[at] = constant.text[0][at - offset];
        }
    }

    // The constant comparisons that a writer with 'state' writes, composed by its pieces.
    static ConstantComparison ComposeConstant(State state) {
        ConstantComparison constant = {};
        for (int polarity = 0; polarity < 2; ++polarity) {
            char *text = constant.text[polarity];
            ConditionWriter writer(nullptr, nullptr, text, sizeof constant.text[polarity], state);
            writer.WriteValue(kConstantText[1], 1, kPlainValue);
            writer.WriteOperator(kConstantOperator);
            writer.WriteValue(kConstantText[polarity], 1, FormOf(kConstantOperator, 0));
            constant.length = writer.Finish();
        }
        size_t first = 0, end = constant.length;
        while (first < end && constant.text[0][first] == constant.text[1][first]) ++first;
        while (end > first && constant.text[0][end - 1] == constant.text[1][end - 1]) --end;
        constant.differsAt = first;
        constant.differsLength = end - first;
        return constant;
    }

    // Ends the text with its NUL and returns the length of the whole text.
    size_t Finish() {
        char *end = at_;  // read once: the NUL's store may alias at_ itself
        *end = '\0';
        return LengthTo(end);
    }

    // The walk's hooks.
    Step Enter(const ParseTreeNode *node, ValueForm) {
        if (node->kind == NODE_GROUP) OpenGroup();
        return Step::kDescend;
    }
    ValueForm Operand(const ParseTreeNode *parent, ValueForm, Side side) {
        if (side != Side::kRight) return kPlainValue;
        // The left operand's property matters to exists only: the rest of the walk need not look.
        const ParseTreeNode *left = parent->left;
        bool leftProperty = parent->opId == OP_EXISTS && left != nullptr && left->kind == NODE_PROPERTY;
        return FormOf(parent->opId, leftProperty ? left->propertyId : 0);
    }
    bool Between(const ParseTreeNode *op, ValueForm, const ParseTreeNode *&right) {
        WriteOperator(op->opId);
        right = op->right;
        return true;
    }
    bool Leave(const ParseTreeNode *, ValueForm) {
        CloseGroup();
        return true;
    }
    MSC_ALWAYS_INLINE bool Leaf(const ParseTreeNode *node, ValueForm form) {
        if (node == nullptr) return true;
        if (node->kind == NODE_PROPERTY) {
            WriteColumn(node->propertyId);
        } else if (node->kind == NODE_VALUE) {
            WriteValue(node->text, strlen(node->text), form);
        } else {
            puts("Something Error");
        }
        return true;
    }

    // The pieces, which the hooks write in the order of the tree's text; a parse that writes as
    // it reads calls them in the same order.
    void OpenGroup() { Put(" ( ", 3); }
    void CloseGroup() { Put(" ) ", 3); }

    // The form of the right operand of 'opId' whose left operand is the property 'leftProperty'
    // (0: no property).
    static ValueForm FormOf(int opId, int leftProperty) {
        if (opId == OP_EXISTS && leftProperty == PROP_REFID) return kRefIdExistsValue;
        const OperatorPieces::Piece *piece = kOperatorPieces[SQL_DIALECT_SQLITE].Get(opId);
        return piece != nullptr ? piece->form : FormOfRightOperand(opId);
    }

    // The column of a property.
    MSC_ALWAYS_INLINE void WriteColumn(int propertyId) {
        Column column = ColumnOf(propertyId);
        PutColumn(column.name, column.length);
    }

    // A comparison of a property: its column, operator and value, as the walk writes the property
    // leaf, the operator and the value leaf. In the classic text, where the value is a literal
    // without a quote (nearly every comparison), one room test serves the three and each is one
    // copy (StoreComparison). The common case, an indexed column (never with a prefix) and a value
    // that a QuoteFreeValue holds, goes to WriteCommonComparison, the rest to
    // WriteComparisonRest. Out of line: the copies keep more values at hand than the parsers
    // that call it can spare; each of the three keeps no more than it needs. 'opId': an operator
    // that a parser read (OperatorPieces::OfParsed).
    MSC_NOINLINE void WriteComparison(int propertyId, int opId, const char *value, size_t length) {
        if constexpr (!kDialect && kSearchCall) {
            const ColumnIndex::Name *column = index_->Find(propertyId);
            const OperatorPieces::Piece &piece = Pieces(state_).OfParsed(opId);
            if (column != nullptr) {
                if (length < piece.commonBelow) return WriteCommonComparison(*column, piece, value, length);
                if (piece.closingLength == 0) return WriteCommonExists(*column, piece, propertyId, opId, value, length);
            }
        }
        WriteComparisonRest(propertyId, opId, value, length);
    }

    // The operator and the value of a comparison whose left operand is written (the classic
    // grammar's comparisons in a row).
    MSC_ALWAYS_INLINE void WriteOperatorAndValue(int opId, const char *value, size_t length) {
        WriteOperator(opId);
        WriteValue(value, length, FormOf(opId, 0));
    }

    void WriteOperator(int opId) {
        const OperatorPieces::Piece *piece = Pieces(state_).Get(opId);
        if (piece != nullptr && piece->length <= Room()) {  // never for a length of SIZE_MAX
            PutPiece(piece->text, piece->length);
            return;
        }
        WriteOperatorPiecewise(opId);
    }

    // A value of 'length' bytes. Plain and pattern values, nearly all of them, are written here;
    // the rest out of line.
    inline void WriteValue(const char *text, size_t length, ValueForm form) {
        if constexpr (!kDialect) {
            if (form == kPatternValue) return WriteLiteral(text, length, " '%", "%' ");
            if (form == kPlainValue) return WriteLiteral(text, length, " '", "' ");
        }
        WriteOtherValue(text, length, form);
    }

private:
    // The length of the whole text written up to 'at'.
    size_t LengthTo(const char *at) const { return static_cast<size_t>(at - start_) + lost_; }
    size_t Room() const { return static_cast<size_t>(limit_ - at_); }

    struct Column {
        const char *name;
        size_t length;
    };

    // The column of a property, from the index when it has it, else as the table names it.
    MSC_ALWAYS_INLINE Column ColumnOf(int propertyId) {
        if constexpr (kSearchCall) {
            if (const ColumnIndex::Name *column = index_->Find(propertyId)) return {column->text, column->length};
        }
        return ColumnFromTable(propertyId);
    }
    MSC_ALWAYS_INLINE Column ColumnFromTable(int propertyId) {
        const char *name = ColumnNameOf(columns_, propertyId);
        size_t nameLength = strlen(name);
        if constexpr (kSearchCall) wroteNoColumn_ |= NamesNoColumn(name, nameLength);
        return {name, nameLength};
    }

    // Writes " " prefix column " " and the piece's opening, value and closing, each part copied
    // whole in text order: the bytes that a copy writes beyond its part are written over by the
    // parts after it, or lie beyond the text. kCommon: the column is a ColumnIndex::Name, there
    // is no prefix and a QuoteFreeValue holds the value, which is read and tested before any
    // store, so that the function keeps few values at hand while it stores. False when the room
    // does not hold every byte that the copies store, or the value has a quote: the caller then
    // writes the comparison piece by piece, over whatever was stored.
    template <bool kCommon>
    MSC_ALWAYS_INLINE bool StoreComparison(const char *column, size_t columnLength, const OperatorPieces::Piece &piece,
                                           const char *value, size_t length) {
        char *at = at_;  // Read before the stores, which may alias it.
        size_t prefixLength = kCommon ? 0 : prefixLength_;
        // The column's copy ends by its closing blank at most; the piece's copies by
        // sizeof opened + length + sizeof closing after it (valueAt is within 'opened').
        size_t columnSpan = kCommon ? 1 + sizeof(ColumnIndex::Name) : columnLength + 2;
        constexpr size_t kPieceSpan = sizeof piece.opened + sizeof piece.closing;
        if (prefixLength + columnSpan + kPieceSpan + length > Room()) return false;
        // All but the value, which goes at the place returned.
        auto place = [&] {
            char *op = at + prefixLength + columnLength + 2;
            at[0] = ' ';
            if constexpr (kCommon) {
                memcpy(at + 1, column, sizeof(ColumnIndex::Name));  // with its closing blank
            } else {
                if (prefixLength != 0) memcpy(at + 1, prefix_, prefixLength);
                CopyValueText(at + 1 + prefixLength, column, columnLength);
                op[-1] = ' ';
            }
            memcpy(op, piece.opened, sizeof piece.opened);
            char *valueAt = op + piece.valueAt;
            memcpy(valueAt + length, piece.closing, sizeof piece.closing);
            return valueAt;
        };
        char *valueAt;
        if constexpr (kCommon) {
            if (!QuoteFreeValue::Copy(value, length, [&] { return valueAt = place(); })) return false;
        } else if (!CopyQuoteFree(valueAt = place(), value, length)) {
            return false;
        }
        at_ = valueAt + length + piece.closingLength;
        return true;
    }

    // The common comparison of WriteComparison, at once where it fits and has no quote.
    MSC_NOINLINE void WriteCommonComparison(const ColumnIndex::Name &column, const OperatorPieces::Piece &piece,
                                            const char *value, size_t length) {
        if (!StoreComparison<true>(column.text, column.length, piece, value, length)) {
            WriteComparisonCut(column, piece, value, length);
        }
    }

    // The value that a comparison with the operator 'opId' and its 'piece' on the property
    // 'propertyId' writes at the piece's valueAt, into *value and *length: the value itself for a
    // literal, the null test of an exists comparison whose value is true or false. False when
    // the piece has no place for a value, or the exists value is another (a literal then, written
    // piece by piece).
    MSC_ALWAYS_INLINE static bool WholeValue(const OperatorPieces::Piece &piece, int opId, int propertyId,
                                             const char **value, size_t *length) {
        if (piece.valueAt == 0) return false;
        if (piece.form != kExistsValue) return true;
        int test = NullTestOf(*value, *length, FormOf(opId, propertyId));
        if (test < 0) return false;
        *value = kNullTests[test].text;
        *length = kNullTests[test].length;
        return true;
    }

    // The comparison of WriteComparison whose piece has no literal's closing: an exists
    // comparison, its null test written as WriteCommonComparison writes a literal.
    MSC_NOINLINE void WriteCommonExists(const ColumnIndex::Name &column, const OperatorPieces::Piece &piece,
                                        int propertyId, int opId, const char *value, size_t length) {
        if (WholeValue(piece, opId, propertyId, &value, &length)) return WriteCommonComparison(column, piece, value, length);
        WriteComparisonPiecewise(propertyId, opId, value, length);
    }

    // A comparison of WriteCommonComparison that does not fit, or whose value has a quote, piece
    // by piece; the value is the one that WholeValue chose.
    MSC_NOINLINE void WriteComparisonCut(const ColumnIndex::Name &column, const OperatorPieces::Piece &piece,
                                         const char *value, size_t length) {
        PutColumn(column.text, column.length);
        Put(piece.text, piece.length);
        if (piece.form == kExistsValue) {
            Put(value, length);  // the null test
        } else {
            WriteValue(value, length, piece.form);
        }
    }

    // The rest of WriteComparison: an exists comparison, a column from the table or with a
    // prefix, a long value, each at once as there; then what goes piece by piece.
    MSC_NOINLINE void WriteComparisonRest(int propertyId, int opId, const char *value, size_t length) {
        if constexpr (!kDialect) {
            const OperatorPieces::Piece *piece = Pieces(state_).Get(opId);
            const char *whole = value;
            size_t wholeLength = length;
            if (piece != nullptr && WholeValue(*piece, opId, propertyId, &whole, &wholeLength)) {
                const ColumnIndex::Name *indexed = nullptr;
                if constexpr (kSearchCall) indexed = index_->Find(propertyId);
                if (indexed != nullptr && wholeLength <= QuoteFreeValue::kMaxLength) {
                    return WriteCommonComparison(*indexed, *piece, whole, wholeLength);
                }
                Column column = ColumnOf(propertyId);
                if (StoreComparison<false>(column.name, column.length, *piece, whole, wholeLength)) return;
            }
        }
        WriteComparisonPiecewise(propertyId, opId, value, length);
    }

    // The rest of WriteComparisonRest.
    MSC_NOINLINE void WriteComparisonPiecewise(int propertyId, int opId, const char *value, size_t length) {
        WriteColumn(propertyId);
        WriteOperator(opId);
        WriteValue(value, length, FormOf(opId, propertyId));
    }

    MSC_ALWAYS_INLINE void PutColumn(const char *name, size_t nameLength) {
        // " " prefix name " ", tested for room once; piece by piece only where it is cut.
        // The members are read before the stores, which may alias them.
        char *at = at_;
        size_t prefixLength = prefixLength_;
        size_t length = nameLength + prefixLength + 2;
        if (length <= Room()) {
            at_ = at + length;
            if (prefixLength != 0) memcpy(at + 1, prefix_, prefixLength);
            CopyValueText(at + 1 + prefixLength, name, nameLength);
            at[0] = ' ';
            at[length - 1] = ' ';
            return;
        }
        WriteColumnCut(name, nameLength);
    }

    inline void Put(const char *text, size_t length) {
        if (length <= Room()) {
            CopyValueText(at_, text, length);
            at_ += length;
            return;
        }
        PutCut(text, length);
    }

    // Copies what fits of a piece that does not, and counts the rest.
    MSC_NOINLINE void PutCut(const char *text, size_t length) {
        size_t fits = Room();
        memcpy(at_, text, fits);
        lost_ += length - fits;
        at_ += fits;
        limit_ = at_;
    }

    // Writes text[0..n-1], n from 3 to 15, of a piece followed by a blank and padded to 16 bytes:
    // two word stores that may overlap, with no branch on the length's size, copy the blank too.
    // That byte, at_[n], is where the next piece or the NUL goes, so it is always written over
    // and the text stays the same; the caller's test n <= Room() keeps it within the buffer.
    void PutPiece(const char *text, size_t n) {
        if (n >= 7) {
            CopyBothEnds<8>(at_, text, n + 1);
        } else {
            CopyBothEnds<4>(at_, text, n + 1);
        }
        at_ += n;
    }

    // The column piece by piece, where it is cut.
    MSC_NOINLINE void WriteColumnCut(const char *name, size_t nameLength) {
        Put(" ", 1);
        Put(prefix_, prefixLength_);
        Put(name, nameLength);
        Put(" ", 1);
    }

    // The SqlDialect of a writer, which indexes the tables composed when the library loads.
    static ptrdiff_t DialectOf(const State &state) {
        if constexpr (kDialect) {
            return state.dialect - kDialects;
        } else {
            return SQL_DIALECT_SQLITE;
        }
    }
    static const OperatorPieces &Pieces(const State &state) { return kOperatorPieces[DialectOf(state)]; }

    // An operator cut at the buffer's end, or without a piece: then its name is looked up.
    MSC_NOINLINE void WriteOperatorPiecewise(int opId) {
        const OperatorPieces::Piece *piece = Pieces(state_).Get(opId);
        if (piece != nullptr && piece->length != SIZE_MAX) {
            Put(piece->text, piece->length);
            return;
        }
        const TokenEntry *table = OperatorTable(opId, g_LogOpSQL, g_BinOpSQL, g_ExistOpSQL, kStandardOpSQL);
        if (table == nullptr) return;  // Ids below the logical ones write nothing.
        const char *name = LookupName(table, opId);
        if (name == nullptr) name = kNullName;
        Put(" ", 1);
        Put(name, strlen(name));
        Put(" ", 1);
    }

    // open + text + close, each single quote of the text doubled as standard SQL does
    // ("O'Brien" is written O''Brien), so that no value can end the literal early. A value that a
    // QuoteFreeValue holds (nearly every one) is written here by its copies, with no call, so that
    // the function saves no register: a comparison chain pays it for each of its links.
    template <size_t N, size_t M>
    void WriteLiteral(const char *text, size_t length, const char (&open)[N], const char (&close)[M]) {
        constexpr size_t opening = N - 1, closing = M - 1;
        char *at = at_;  // Read before the stores, which may alias it.
        auto place = [&] {
            memcpy(at, open, opening);
            memcpy(at + opening + length, close, closing);
            return at + opening;
        };
        if (length <= QuoteFreeValue::kMaxLength && length + opening + closing <= Room() &&
            QuoteFreeValue::Copy(text, length, place)) {
            at_ = at + length + opening + closing;
            return;
        }
        WriteLiteralPiecewise(text, length, open, close);
    }

    // The rest of WriteLiteral: a longer value, a value with a quote, or one cut at the buffer's end.
    template <size_t N, size_t M>
    MSC_NOINLINE void WriteLiteralPiecewise(const char *text, size_t length, const char (&open)[N],
                                                         const char (&close)[M]) {
        constexpr size_t opening = N - 1, closing = M - 1;
        const char *quote = static_cast<const char *>(memchr(text, '\'', length));
        Put(open, opening);
        while (quote != nullptr) {
            size_t before = static_cast<size_t>(quote - text);
            Put(text, before);
            Put("''", 2);
            text += before + 1;
            length -= before + 1;
            quote = static_cast<const char *>(memchr(text, '\'', length));
        }
        Put(text, length);
        Put(close, closing);
    }

    // An exists value, a prefix pattern (only the standard grammar's startsWith has this form),
    // or any value in a dialect.
    MSC_NOINLINE void WriteOtherValue(const char *text, size_t length, ValueForm form) {
        bool exists = form == kExistsValue || form == kRefIdExistsValue;
        int test = exists ? NullTestOf(text, length, form) : -1;
        if (test >= 0) {
            Put(kNullTests[test].text, kNullTests[test].length);
        } else if constexpr (kDialect) {
            WriteDialectValue(reinterpret_cast<const unsigned char *>(text), length, form);
        } else if (form == kPrefixPatternValue) {
            WriteLiteral(text, length, " '", "%' ");
        } else {
            WriteLiteral(text, length, " '", "' ");
        }
    }

    // A value in the dialect. A pattern has '%' around the value ('value%' for a prefix) and,
    // with an ESCAPE clause, kPatternEscape before each of its bytes that would not match itself: kPatternEscape
    // always, % and _ with SQL_LITERAL_PATTERNS. MySQL gets the bytes in hex, with the utf8mb4
    // introducer when they are UTF-8 (a binary string otherwise, which MySQL compares byte by byte).
    MSC_NOINLINE void WriteDialectValue(const unsigned char *text, size_t length, ValueForm form) {
        bool pattern = IsPattern(form);
        auto escaped = [&](unsigned char c) {
            return pattern && state_.escapeClause && (c == kPatternEscape || (state_.literal && (c == '%' || c == '_')));
        };
        if (state_.dialect->hexLiterals) {
            static const char kDigits[] = "0123456789ABCDEF";
            if (IsUtf8(text, length)) Put(" _utf8mb4", 9);
            Put(" X'", 3);
            char hex[64];
            size_t used = 0;
            auto add = [&](unsigned char c) {
                if (used + 2 > sizeof hex) {
                    Put(hex, used);
                    used = 0;
                }
                hex[used++] = kDigits[c >> 4];
                hex[used++] = kDigits[c & 15];
            };
            if (form == kPatternValue) add('%');
            for (size_t i = 0; i < length; ++i) {
                if (escaped(text[i])) add(kPatternEscape);
                add(text[i]);
            }
            if (pattern) add('%');
            Put(hex, used);
        } else {
            Put(form == kPatternValue ? " '%" : " '", form == kPatternValue ? 3 : 2);
            size_t run = 0;  // Start of the bytes not yet written.
            for (size_t i = 0; i < length; ++i) {
                if (text[i] != '\'' && !escaped(text[i])) continue;
                Put(reinterpret_cast<const char *>(text) + run, i - run);
                Put(text[i] == '\'' ? "'" : &kPatternEscape, 1);  // The byte itself starts the next run.
                run = i;
            }
            Put(reinterpret_cast<const char *>(text) + run, length - run);
            if (pattern) Put("%", 1);
        }
        if (pattern && state_.escapeClause) {
            Put("'", 1);
            Put(kEscapeClause, sizeof kEscapeClause - 1);
        } else {
            Put("' ", 2);
        }
    }

    State state_;
    const TokenEntry *columns_;  // null: no column
    const char *prefix_;      // nullptr or read only for a prefixLength_ above 0
    size_t prefixLength_;
    char scratch_[1];         // Stands in for a missing buffer, so that Put needs no null test.
    char *start_;
    char *at_;                // Where the next byte goes.
    char *limit_;             // Where the NUL goes when the buffer is full.
    size_t lost_ = 0;         // Bytes of the whole text that did not fit.
    // Only the one call's writer has an index and the flag: the others set nothing up for them.
    [[no_unique_address]] std::conditional_t<kSearchCall, const ColumnIndex *, NoDialect> index_{};
    [[no_unique_address]] std::conditional_t<kSearchCall, bool, NoDialect> wroteNoColumn_{};
};

// The length that a writer's Finish gave, as the exported functions return it.
inline int TextLength(size_t total) { return total > INT_MAX ? INT_MAX : static_cast<int>(total); }

// Calls body(writer) with the writer that 'options' (valid) choose, and returns its result: the
// classic text has a writer of its own, without dialect state. Only the one call's writers
// (kSearchCall) read 'columnIndex'.
template <bool kSearchCall, typename Body>
MSC_ALWAYS_INLINE inline auto WithConditionWriter(const TokenEntry *columnTable, const ColumnIndex *columnIndex,
                                                  const char *tablePrefix, const SqlOptions &options, char *out,
                                                  int outSize, Body &&body) {
    if (options.dialect == SQL_DIALECT_SQLITE && options.flags == 0) {
        ConditionWriter<false, kSearchCall> writer(columnTable, tablePrefix, out, outSize, {}, columnIndex);
        return body(writer);
    }
    const Dialect &dialect = kDialects[options.dialect];
    bool literal = (options.flags & SQL_LITERAL_PATTERNS) != 0;
    ConditionWriter<true, kSearchCall> writer(columnTable, tablePrefix, out, outSize,
                                              DialectState{&dialect, literal || dialect.escapeAlways, literal},
                                              columnIndex);
    return body(writer);
}

}  // namespace

}  // namespace msc

#endif  // MSC_CONDITION_WRITER_H
