// The SQL condition writer: one depth-first walk of the tree, each piece appended to the caller's
// buffer at a running length. Every piece carries a blank on each side, so " title  =  'abc' "
// has two blanks between pieces and one at each end.
#include <climits>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Internal.h"

namespace msc {
namespace {

// True when one of the bytes of 'word' is a single quote: the byte-wise zero test of
// word XOR '\'' repeated, which never reports a byte that is not one.
template <typename Word>
inline bool HasQuote(Word word) {
    constexpr Word kOnes = static_cast<Word>(~Word{0}) / 0xFF;
    constexpr Word kHighs = kOnes * 0x80;
    Word x = word ^ (kOnes * '\'');
    return ((x - kOnes) & ~x & kHighs) != 0;
}

// Copies n bytes; up to 16 of them, nearly every piece, with two possibly overlapping loads and
// stores that read and write nothing outside the n bytes, instead of a call to memcpy. With
// kRefuseQuote (n at most 16) the same loads also serve a test for single quotes: false, with
// nothing written, when one is among the bytes.
template <bool kRefuseQuote>
MSC_ALWAYS_INLINE inline bool CopyBytes(char *to, const char *from, size_t n) {
    if (n >= 8) {
        if (!kRefuseQuote && n > 16) {
            memcpy(to, from, n);
            return true;
        }
        uint64_t head, tail;
        memcpy(&head, from, 8);
        memcpy(&tail, from + n - 8, 8);
        if (kRefuseQuote && (HasQuote(head) || HasQuote(tail))) return false;
        memcpy(to, &head, 8);
        memcpy(to + n - 8, &tail, 8);
    } else if (n >= 4) {
        uint32_t head, tail;
        memcpy(&head, from, 4);
        memcpy(&tail, from + n - 4, 4);
        if (kRefuseQuote && (HasQuote(head) || HasQuote(tail))) return false;
        memcpy(to, &head, 4);
        memcpy(to + n - 4, &tail, 4);
    } else if (n > 0) {
        // One to three bytes: the first, the middle (or first again) and the last.
        char first = from[0], middle = from[n / 2], last = from[n - 1];
        if (kRefuseQuote && (first == '\'' || middle == '\'' || last == '\'')) return false;
        to[0] = first;
        to[n / 2] = middle;
        to[n - 1] = last;
    }
    return true;
}

MSC_ALWAYS_INLINE inline void CopyPiece(char *to, const char *from, size_t n) {
    CopyBytes<false>(to, from, n);
}

// Copies n bytes (at most kQuoteFreeCopy) that hold no single quote, testing the bytes it loads;
// false, with nothing written, when a quote is among them. With SSE2 the loads of four bytes and
// more go into one vector register, so that one comparison finds a quote in any of them.
#if defined(__SSE2__)
constexpr size_t kQuoteFreeCopy = 64;  // Class names such as "object.container.playlistContainer".

inline bool HasQuote(__m128i bytes) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\''))) != 0;
}
#else
constexpr size_t kQuoteFreeCopy = 16;
#endif
MSC_ALWAYS_INLINE inline bool CopyIfNoQuote(char *to, const char *from, size_t n) {
#if defined(__SSE2__)
    if (n > 16) {
        // Two 16-byte blocks from the ends, overlapping in the middle; four beyond 32 bytes.
        const __m128i quote = _mm_set1_epi8('\'');
        __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from));
        __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + n - 16));
        __m128i quotes = _mm_or_si128(_mm_cmpeq_epi8(head, quote), _mm_cmpeq_epi8(tail, quote));
        __m128i second = head, beforeTail = tail;
        if (n > 32) {
            second = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 16));
            beforeTail = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + n - 32));
            quotes = _mm_or_si128(quotes, _mm_or_si128(_mm_cmpeq_epi8(second, quote),
                                                       _mm_cmpeq_epi8(beforeTail, quote)));
        }
        if (_mm_movemask_epi8(quotes) != 0) return false;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to), head);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + n - 16), tail);
        if (n > 32) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 16), second);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(to + n - 32), beforeTail);
        }
        return true;
    }
    if (n >= 8) {
        __m128i head = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(from));
        __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(from + n - 8));
        if (HasQuote(_mm_unpacklo_epi64(head, tail))) return false;
        _mm_storel_epi64(reinterpret_cast<__m128i *>(to), head);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(to + n - 8), tail);
        return true;
    }
    if (n >= 4) {
        uint32_t head, tail;
        memcpy(&head, from, 4);
        memcpy(&tail, from + n - 4, 4);
        if (HasQuote(_mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(head)),
                                        _mm_cvtsi32_si128(static_cast<int>(tail))))) {
            return false;
        }
        memcpy(to, &head, 4);
        memcpy(to + n - 4, &tail, 4);
        return true;
    }
#endif
    return CopyBytes<true>(to, from, n);
}

// EqualsIgnoringCase against a fixed lower-case word, unrolled in place: the exists values "true"
// and "false" are compared for every exists condition, and the call cost more than the bytes.
// A byte matches a lower-case letter exactly when it is that letter or its upper case, which
// is when setting its 0x20 bit makes it the letter; the NUL of a shorter text ends the match.
template <size_t N>
MSC_ALWAYS_INLINE inline bool IsWordIgnoringCase(const char *text, const char (&word)[N]) {
#pragma GCC unroll 8
    for (size_t i = 0; i + 1 < N; ++i) {
        if ((static_cast<unsigned char>(text[i]) | 0x20) != static_cast<unsigned char>(word[i])) return false;
    }
    return text[N - 1] == '\0';
}

// A name missing from its table prints as the C library prints a null text.
const char kNullName[] = "(null)";

enum ValueForm { kPlainValue, kPatternValue, kExistsValue };

// How an operator's right operand is written when it is a value: the pattern form for contains,
// doesNotContain and derivedFrom, the exists form for ids above 29.
inline ValueForm FormOfRightOperand(int opId) {
    if (opId > 29) return kExistsValue;
    if (opId == OP_CONTAINS || opId == OP_DOES_NOT_CONTAIN || opId == OP_DERIVED_FROM) {
        return kPatternValue;
    }
    return kPlainValue;
}

// The operator pieces " AND ", " = ", " LIKE ", ..., composed once from the SQL tables for every
// id the tables can hold (up to OP_EXISTS), each with the form of its right operand, so that
// writing one is a copy of known length and a load rather than a range test, a table walk, a
// strlen and three appends.
class OperatorPieces {
public:
    struct Piece {
        char text[16];
        size_t length;  // kNotComposed: the piece is written by a walk of its table.
        ValueForm form;
    };
    static constexpr int kLastId = OP_EXISTS;
    static constexpr size_t kNotComposed = SIZE_MAX;

    OperatorPieces() {
        for (int opId = 0; opId <= kLastId; ++opId) {
            Piece &piece = pieces_[opId];
            piece.form = FormOfRightOperand(opId);
            piece.length = 0;  // Ids of 9 or less write nothing.
            const TokenEntry *table = OperatorTable(opId, g_LogOpSQL, g_BinOpSQL, g_ExistOpSQL);
            if (table == nullptr) continue;
            const char *name = LookupName(table, opId);
            if (name == nullptr) name = kNullName;
            size_t length = strlen(name) + 2;
            if (length > sizeof piece.text) {
                piece.length = kNotComposed;
                continue;
            }
            piece.text[0] = ' ';
            memcpy(piece.text + 1, name, length - 2);
            piece.text[length - 1] = ' ';
            piece.length = length;
        }
    }

    // The piece of 'opId', or nullptr when the id is above those composed here.
    const Piece *Get(int opId) const {
        return static_cast<unsigned>(opId) <= kLastId ? &pieces_[opId] : nullptr;
    }

private:
    Piece pieces_[kLastId + 1];
};

// Composed when the library loads (the SQL tables are constant data, initialised before any
// constructor runs), so that a call pays no first-use check.
const OperatorPieces kOperatorPieces;

// A missing column table names no column, like an empty one.
const TokenEntry kNoColumns[] = {{0, nullptr}};

// Writes the condition text into out[0..size-1] and counts the length of the whole text. The
// first piece that does not fit is cut at the buffer's end and ends the written text: nothing
// after it is appended, so a short buffer holds a prefix of the whole condition. Without a
// buffer it only counts. The terminating NUL is written once, at the end, and nothing is ever
// written past it, so the caller's bytes after the text stay as they were.
//
// A piece costs one comparison and a copy. A cut moves the limit to the cursor, so that every
// later piece takes the slow path, which only counts. Pieces written together (a column with
// its blanks, a value with its quotes) test the room once for all of them and fall back to
// piece by piece when they do not all fit, so that a cut falls where it would fall anyway.
//
// Within a walk the cursor is a local that the pieces' writers, all inlined, move in a register:
// a member would be reloaded after every byte stored through a char pointer. It goes back to the
// member only around a recursive call, with stores and loads of the same width.
class ConditionWriter {
public:
    ConditionWriter(const TokenEntry *columns, const char *prefix, char *out, int outSize)
        : columns_(columns != nullptr ? columns : kNoColumns),
          prefix_(prefix != nullptr ? prefix : ""),
          prefixLength_(*prefix_ != '\0' ? strlen(prefix_) : 0) {
        if (out != nullptr && outSize > 0) {
            start_ = at_ = out;
            limit_ = out + (outSize - 1);
        }
    }

    // The pointers may point at scratch_ inside this object: no copies.
    ConditionWriter(const ConditionWriter &) = delete;
    ConditionWriter &operator=(const ConditionWriter &) = delete;

    // Ends the text with its NUL and returns the length of the whole text.
    size_t Finish() {
        *at_ = '\0';
        return static_cast<size_t>(at_ - start_) + lost_;
    }

    // Writes 'node'. Follows right operands in a loop; a left operand that is no property leaf
    // and a group's contents are written in place too, the node they came from kept on a short
    // list of pending nodes (its operator and right operand, or the closing parenthesis, are
    // written when the operand is done). Only when that list is full does it recurse, for the
    // whole node, so the stack grows with the nesting of groups and comparison chains, which the
    // parser bounds, and never with the length of an and/or list. Nearly every left operand is a
    // comparison, which is written without a call this way. Inline in Convert, which then keeps
    // the writer's fields at hand, and in the recursive WriteNested.
    MSC_ALWAYS_INLINE void Write(const ParseTreeNode *node) {
        ValueForm form = kPlainValue;
        const ParseTreeNode *pending[kPendingNodes];
        size_t pendingCount = 0;
        char *at = at_;
        for (;;) {
            while (node != nullptr) {
                // Nearly every node met here is an operator: tested first rather than after
                // a search among the kinds.
                switch (__builtin_expect(node->kind, NODE_OPERATOR)) {
                    case NODE_OPERATOR: {
                        const ParseTreeNode *left = node->left;
                        int opId = node->opId;
                        if (opId == OP_EXISTS && IsRefIdExistsFalse(node)) {
                            // "@refID exists false" selects the objects that are no references,
                            // whose ref id column is set: IS NOT NULL rather than the general IS NULL.
                            WriteColumn(at, PROP_REFID);
                            WriteOperator(at, opId);
                            PutLiteral(at, " NOT NULL ");
                            node = nullptr;
                            break;
                        }
                        if (left == nullptr || left->kind != NODE_PROPERTY) {
                            if (pendingCount == kPendingNodes) {
                                at = WriteNested(at, node);
                                node = nullptr;
                                break;
                            }
                            pending[pendingCount++] = node;
                            node = left;
                            form = kPlainValue;
                            break;
                        }
                        WriteColumn(at, left->propertyId);
                        form = WriteOperator(at, opId);
                        node = node->right;
                        if (node != nullptr && node->kind == NODE_VALUE) {
                            // A comparison's value, nearly always: written without another turn.
                            WriteValue(at, node->text, form);
                            node = nullptr;
                        }
                        break;
                    }
                    case NODE_GROUP:
                        if (pendingCount == kPendingNodes) {
                            at = WriteNested(at, node);
                            node = nullptr;
                            break;
                        }
                        PutLiteral(at, " ( ");
                        pending[pendingCount++] = node;
                        node = node->inner;
                        form = kPlainValue;
                        break;
                    case NODE_PROPERTY:
                        WriteColumn(at, node->propertyId);
                        node = nullptr;
                        break;
                    case NODE_VALUE:
                        WriteValue(at, node->text, form);
                        node = nullptr;
                        break;
                    default:
                        puts("Something Error");
                        node = nullptr;
                        break;
                }
            }
            if (pendingCount == 0) break;
            // The operand of a pending node is written: its operator and right operand follow,
            // or the group closes.
            const ParseTreeNode *done = pending[--pendingCount];
            if (done->kind == NODE_GROUP) {
                PutLiteral(at, " ) ");
                continue;
            }
            form = WriteOperator(at, done->opId);
            node = done->right;
        }
        at_ = at;
    }

private:
    static bool IsRefIdExistsFalse(const ParseTreeNode *node) {
        return node->opId == OP_EXISTS && IsPropertyLeaf(node->left, PROP_REFID) &&
               node->right != nullptr && node->right->kind == NODE_VALUE &&
               IsWordIgnoringCase(node->right->text, "false");
    }

    // Writes the whole of an operator or group node by a recursive call, when the pending
    // list is full; returns the cursor after it.
    __attribute__((noinline)) char *WriteNested(char *at, const ParseTreeNode *node) {
        at_ = at;
        Write(node);
        return at_;
    }

    size_t Room(const char *at) const { return static_cast<size_t>(limit_ - at); }

    MSC_ALWAYS_INLINE void Put(char *&at, const char *text, size_t length) {
        if (length <= Room(at)) {
            CopyPiece(at, text, length);
            at += length;
        } else {
            at = Cut(at, text, length);
        }
    }

    // A piece of known length: the copy compiles to a few moves.
    template <size_t N>
    MSC_ALWAYS_INLINE void PutLiteral(char *&at, const char (&text)[N]) {
        Put(at, text, N - 1);
    }

    // The slow path of Put: copies what fits and counts the rest.
    __attribute__((noinline)) char *Cut(char *at, const char *text, size_t length) {
        size_t fits = Room(at);
        if (fits > length) fits = length;
        memcpy(at, text, fits);
        lost_ += length - fits;
        limit_ = at + fits;
        return limit_;
    }

    // Copies a value text of 'length' bytes, doubling each single quote inside it as standard
    // SQL does ("O'Brien" is written O''Brien), so that no value can end the literal early.
    __attribute__((noinline)) char *PutQuoted(char *at, const char *text, size_t length) {
        const void *quote = memchr(text, '\'', length);
        while (quote != nullptr) {
            size_t before = static_cast<size_t>(static_cast<const char *>(quote) - text);
            Put(at, text, before);
            PutLiteral(at, "''");
            text += before + 1;
            length -= before + 1;
            quote = memchr(text, '\'', length);
        }
        Put(at, text, length);
        return at;
    }

    struct Column {
        const char *name;
        size_t length;
    };

    // The column of a property: the name of the first entry of the table with its id, as a walk
    // finds it. The column last looked up is kept, so that a list of conditions on one property
    // walks the table once. Criteria rarely name a property twice otherwise: a cache per id paid
    // more in its tests and fills than the walks it saved.
    MSC_ALWAYS_INLINE Column ColumnOf(int propertyId) {
        if (propertyId == lastId_) return lastColumn_;
        const char *name = kNullName;
        for (const TokenEntry *entry = columns_; entry->id != 0; ++entry) {
            if (entry->id == propertyId) {
                name = entry->name != nullptr ? entry->name : kNullName;
                break;
            }
        }
        lastId_ = propertyId;
        lastColumn_ = {name, strlen(name)};
        return lastColumn_;
    }

    // " " prefix name " ".
    MSC_ALWAYS_INLINE void WriteColumn(char *&at, int propertyId) {
        Column column = ColumnOf(propertyId);
        size_t prefixLength = prefixLength_;
        size_t length = column.length + prefixLength + 2;
        if (length <= Room(at)) {
            at[0] = ' ';
            if (prefixLength != 0) CopyPiece(at + 1, prefix_, prefixLength);
            CopyPiece(at + 1 + prefixLength, column.name, column.length);
            at[length - 1] = ' ';
            at += length;
            return;
        }
        PutLiteral(at, " ");
        Put(at, prefix_, prefixLength);
        Put(at, column.name, column.length);
        PutLiteral(at, " ");
    }

    // Writes the operator piece of 'opId' and returns the form of its right operand.
    MSC_ALWAYS_INLINE ValueForm WriteOperator(char *&at, int opId) {
        const OperatorPieces::Piece *piece = kOperatorPieces.Get(opId);
        if (piece == nullptr) {
            at = WriteOperatorFromTable(at, opId);
            return FormOfRightOperand(opId);
        }
        // Read before the copy, which the compiler cannot tell from a store to the table. A
        // piece not composed has a length that no room reaches.
        size_t length = piece->length;
        ValueForm form = piece->form;
        if (length <= Room(at)) {
            CopyPiece(at, piece->text, length);
            at += length;
        } else if (length == OperatorPieces::kNotComposed) {
            at = WriteOperatorFromTable(at, opId);
        } else {
            at = Cut(at, piece->text, length);
        }
        return form;
    }

    // Ids outside those composed, and names too long to compose; returns the cursor after it.
    __attribute__((noinline)) char *WriteOperatorFromTable(char *at, int opId) {
        const TokenEntry *table = OperatorTable(opId, g_LogOpSQL, g_BinOpSQL, g_ExistOpSQL);
        if (table == nullptr) return at;  // Ids of 9 or less write nothing.
        const char *name = LookupName(table, opId);
        if (name == nullptr) name = kNullName;
        PutLiteral(at, " ");
        Put(at, name, strlen(name));
        PutLiteral(at, " ");
        return at;
    }

    // " 'text' " or " '%text%' ": a text of up to 64 bytes without a single quote, nearly every
    // value, is tested and copied with the same loads, the framing around it stored directly.
    template <size_t N>
    MSC_ALWAYS_INLINE void WriteLiteral(char *&at, const char *text, const char (&open)[N],
                                                     const char (&close)[N]) {
        constexpr size_t kFraming = N - 1;
        size_t length = strlen(text);
        if (length <= kQuoteFreeCopy && length + 2 * kFraming <= Room(at) &&
            CopyIfNoQuote(at + kFraming, text, length)) {
            memcpy(at, open, kFraming);
            memcpy(at + kFraming + length, close, kFraming);
            at += length + 2 * kFraming;
            return;
        }
        PutLiteral(at, open);
        at = PutQuoted(at, text, length);
        PutLiteral(at, close);
    }

    MSC_ALWAYS_INLINE void WriteValue(char *&at, const char *text, ValueForm form) {
        if (form == kPatternValue) {
            WriteLiteral(at, text, " '%", "%' ");
        } else if (form == kPlainValue) {
            WriteLiteral(at, text, " '", "' ");
        } else if (IsWordIgnoringCase(text, "true")) {
            PutLiteral(at, " NOT NULL ");
        } else if (IsWordIgnoringCase(text, "false")) {
            PutLiteral(at, " NULL ");
        } else {
            WriteLiteral(at, text, " '", "' ");
        }
    }

    // Left operands and groups open at once within one call of Write; deeper ones recurse.
    static constexpr size_t kPendingNodes = 16;

    const TokenEntry *columns_;
    const char *prefix_;
    size_t prefixLength_;
    char scratch_[1] = {};       // Stands in for a missing buffer, so that Put needs no null test.
    char *start_ = scratch_;
    char *at_ = scratch_;        // Where the next byte goes, between walks; a local within one.
    char *limit_ = scratch_;     // Where the NUL goes when the buffer is full.
    size_t lost_ = 0;            // Bytes of the whole text that did not fit.
    // No entry has the id 0, which ends the table: its column is "(null)" before any lookup.
    int lastId_ = 0;
    Column lastColumn_ = {kNullName, sizeof kNullName - 1};
};

// The whole conversion; the exported functions call this rather than each other, so that no
// call goes through the library's symbol table.
int Convert(const ParseTreeNode *tree, const TokenEntry *columnTable, const char *tablePrefix,
            char *out, int outSize) {
    ConditionWriter writer(columnTable, tablePrefix, out, outSize);
    writer.Write(tree);
    size_t total = writer.Finish();
    return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

}  // namespace
}  // namespace msc

extern "C" {

void ConvertSQLCondition(const ParseTreeNode *tree, const TokenEntry *columnTable,
                         const char *tablePrefix, char *out, int outSize) {
    if (out == nullptr || outSize <= 0) return;
    msc::Convert(tree, columnTable, tablePrefix, out, outSize);
}

int ConvertSQLConditionEx(const ParseTreeNode *tree, const TokenEntry *columnTable,
                          const char *tablePrefix, char *out, int outSize) {
    return msc::Convert(tree, columnTable, tablePrefix, out, outSize);
}

int MyStrCatf(char *buf, int *len, int size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int written;
    if (len == nullptr) {
        va_end(args);
        return -1;
    }
    if (buf == nullptr || size <= 0 || *len < 0 || *len >= size) {
        // No room, or a call outside 0 <= *len < size: measure only, never write.
        written = vsnprintf(nullptr, 0, format, args);
    } else {
        written = vsnprintf(buf + *len, static_cast<size_t>(size - *len), format, args);
    }
    va_end(args);
    if (written > 0) *len = (*len > INT_MAX - written) ? INT_MAX : *len + written;
    return written;
}

}  // extern "C"
