// The SQL condition writer: one depth-first walk of the tree, each piece appended to the caller's
// buffer at a running length. Every piece carries a blank on each side, so " title  =  'abc' "
// has two blanks between pieces and one at each end.
#include <climits>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Internal.h"

namespace msc {
namespace {

// Copies n bytes; pieces of up to 16 bytes, nearly all of them, with two possibly overlapping
// loads and stores that read and write nothing outside the n bytes, instead of a call to memcpy.
inline void CopyPiece(char *to, const char *from, size_t n) {
    if (n >= 8) {
        if (n > 16) {
            memcpy(to, from, n);
            return;
        }
        uint64_t head, tail;
        memcpy(&head, from, 8);
        memcpy(&tail, from + n - 8, 8);
        memcpy(to, &head, 8);
        memcpy(to + n - 8, &tail, 8);
    } else if (n >= 4) {
        uint32_t head, tail;
        memcpy(&head, from, 4);
        memcpy(&tail, from + n - 4, 4);
        memcpy(to, &head, 4);
        memcpy(to + n - 4, &tail, 4);
    } else if (n > 0) {
        // One to three bytes: the first, the middle (or first again) and the last.
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}

// Appends pieces to out[0..size-1] and counts the length of the whole text. The first piece that
// does not fit is cut at the buffer's end and ends the written text: nothing after it is
// appended, so a short buffer holds a prefix of the whole condition. Without a buffer it only
// counts. The terminating NUL is written once, by Finish.
//
// Put is the hot path of the writer: one comparison and a copy. A cut sets the room to what was
// written, so that every later piece takes the slow path, which only counts.
class SqlBuffer {
public:
    SqlBuffer(char *out, int size) {
        if (out != nullptr && size > 0) {
            out_ = out;
            room_ = static_cast<size_t>(size) - 1;
        }
    }

    // out_ may point at scratch_ inside this object: no copies.
    SqlBuffer(const SqlBuffer &) = delete;
    SqlBuffer &operator=(const SqlBuffer &) = delete;

    size_t total() const { return written_ + lost_; }

    void Finish() { out_[written_] = '\0'; }

    void Put(const char *text, size_t length) {
        if (length <= room_ - written_) {
            CopyPiece(out_ + written_, text, length);
            written_ += length;
        } else {
            Cut(text, length);
        }
    }

    // A piece of known length: the copy compiles to a few moves.
    template <size_t N>
    void PutLiteral(const char (&text)[N]) {
        Put(text, N - 1);
    }

    // Copies a value text, doubling each single quote inside it as standard SQL does ("O'Brien"
    // is written O''Brien), so that no value can end the literal early.
    void PutQuoted(const char *text) {
        size_t length = strlen(text);
        const void *quote = memchr(text, '\'', length);
        while (quote != nullptr) {
            size_t before = static_cast<size_t>(static_cast<const char *>(quote) - text);
            Put(text, before);
            PutLiteral("''");
            text += before + 1;
            length -= before + 1;
            quote = memchr(text, '\'', length);
        }
        Put(text, length);
    }

private:
    void Cut(const char *text, size_t length) {
        size_t fits = room_ - written_;
        if (fits > length) fits = length;
        memcpy(out_ + written_, text, fits);
        written_ += fits;
        lost_ += length - fits;
        room_ = written_;
    }

    char scratch_[1] = {};  // Stands in for a missing buffer, so that Put needs no null test.
    char *out_ = scratch_;
    size_t room_ = 0;     // Bytes of text the buffer holds besides the NUL.
    size_t written_ = 0;  // Bytes in the buffer.
    size_t lost_ = 0;     // Bytes of the whole text that did not fit.
};

// A name missing from its table prints as the C library prints a null text.
const char kNullName[] = "(null)";

// The operator pieces " AND ", " = ", " LIKE ", ..., composed once from the SQL tables for every
// id the tables can hold (up to OP_EXISTS), so that writing one is a copy of known length rather
// than a range test, a table walk, a strlen and three appends.
class OperatorPieces {
public:
    OperatorPieces() {
        size_t used = 0;
        for (int opId = 0; opId <= kLastId; ++opId) {
            const TokenEntry *table = OperatorTable(opId, g_LogOpSQL, g_BinOpSQL, g_ExistOpSQL);
            pieces_[opId] = {nullptr, 0};
            if (table == nullptr) continue;  // Ids of 9 or less write nothing.
            const char *name = LookupName(table, opId);
            if (name == nullptr) name = kNullName;
            size_t length = strlen(name) + 2;
            if (used + length > sizeof storage_) continue;  // Left to the slow path.
            char *piece = storage_ + used;
            piece[0] = ' ';
            memcpy(piece + 1, name, length - 2);
            piece[length - 1] = ' ';
            pieces_[opId] = {piece, length};
            used += length;
        }
    }

    // The piece of 'opId', or {nullptr, 0} when the id is not composed here.
    struct Piece {
        const char *text;
        size_t length;
    };
    Piece Get(int opId) const {
        return opId >= 0 && opId <= kLastId ? pieces_[opId] : Piece{nullptr, 0};
    }

private:
    static constexpr int kLastId = OP_EXISTS;
    char storage_[512];
    Piece pieces_[kLastId + 1];
};

// A missing column table names no column, like an empty one.
const TokenEntry kNoColumns[] = {{0, nullptr}};

enum ValueForm { kPlainValue, kPatternValue, kExistsValue };

class ConditionWriter {
public:
    ConditionWriter(const TokenEntry *columns, const char *prefix, char *out, int outSize)
        : columns_(columns != nullptr ? columns : kNoColumns),
          prefix_(prefix != nullptr ? prefix : ""),
          prefixLength_(*prefix_ != '\0' ? strlen(prefix_) : 0),
          buffer_(out, outSize),
          operators_(Operators()) {}

    // Ends the text with its NUL and returns the length of the whole text.
    size_t Finish() {
        buffer_.Finish();
        return buffer_.total();
    }

    // Writes 'node'. Follows right operands in a loop and recurses into left operands and group
    // contents only, so the stack grows with the nesting of groups and comparison chains, which
    // the parser bounds, and not with the length of an and/or list.
    void Write(const ParseTreeNode *node, ValueForm form) {
        while (node != nullptr) {
            switch (node->kind) {
                case NODE_OPERATOR:
                    if (IsRefIdExistsFalse(node)) {
                        // "@refID exists false" selects the objects that are no references, whose
                        // ref id column is set: IS NOT NULL rather than the general IS NULL.
                        WriteColumn(PROP_REFID);
                        WriteOperator(node->opId);
                        buffer_.PutLiteral(" NOT NULL ");
                        return;
                    }
                    Write(node->left, kPlainValue);
                    WriteOperator(node->opId);
                    form = FormOfRightOperand(node->opId);
                    node = node->right;
                    break;
                case NODE_GROUP:
                    buffer_.PutLiteral(" ( ");
                    Write(node->inner, kPlainValue);
                    buffer_.PutLiteral(" ) ");
                    return;
                case NODE_PROPERTY:
                    WriteColumn(node->propertyId);
                    return;
                case NODE_VALUE:
                    WriteValue(node->text, form);
                    return;
                default:
                    puts("Something Error");
                    return;
            }
        }
    }

private:
    static bool IsRefIdExistsFalse(const ParseTreeNode *node) {
        return node->opId == OP_EXISTS && IsPropertyLeaf(node->left, PROP_REFID) &&
               node->right != nullptr && node->right->kind == NODE_VALUE &&
               EqualsIgnoringCase(node->right->text, "FALSE");
    }

    static ValueForm FormOfRightOperand(int opId) {
        if (opId > 29) return kExistsValue;
        if (opId == OP_CONTAINS || opId == OP_DOES_NOT_CONTAIN || opId == OP_DERIVED_FROM) {
            return kPatternValue;
        }
        return kPlainValue;
    }

    void WriteColumn(int propertyId) {
        const char *name = kNullName;
        for (const TokenEntry *entry = columns_; entry->id != 0; ++entry) {
            if (entry->id == propertyId) {
                name = entry->name != nullptr ? entry->name : kNullName;
                break;
            }
        }
        buffer_.PutLiteral(" ");
        buffer_.Put(prefix_, prefixLength_);
        buffer_.Put(name, strlen(name));
        buffer_.PutLiteral(" ");
    }

    static const OperatorPieces &Operators() {
        static const OperatorPieces pieces;  // Composed on first use; thread-safe.
        return pieces;
    }

    void WriteOperator(int opId) {
        OperatorPieces::Piece piece = operators_.Get(opId);
        if (piece.text != nullptr) {
            buffer_.Put(piece.text, piece.length);
            return;
        }
        // Ids above OP_EXISTS: no table holds them; ids of 9 or less write nothing.
        const TokenEntry *table = OperatorTable(opId, g_LogOpSQL, g_BinOpSQL, g_ExistOpSQL);
        if (table == nullptr) return;
        const char *name = LookupName(table, opId);
        if (name == nullptr) name = kNullName;
        buffer_.PutLiteral(" ");
        buffer_.Put(name, strlen(name));
        buffer_.PutLiteral(" ");
    }

    void WriteValue(const char *text, ValueForm form) {
        if (form == kExistsValue && EqualsIgnoringCase(text, "TRUE")) {
            buffer_.PutLiteral(" NOT NULL ");
        } else if (form == kExistsValue && EqualsIgnoringCase(text, "FALSE")) {
            buffer_.PutLiteral(" NULL ");
        } else if (form == kPatternValue) {
            buffer_.PutLiteral(" '%");
            buffer_.PutQuoted(text);
            buffer_.PutLiteral("%' ");
        } else {
            buffer_.PutLiteral(" '");
            buffer_.PutQuoted(text);
            buffer_.PutLiteral("' ");
        }
    }

    const TokenEntry *columns_;
    const char *prefix_;
    size_t prefixLength_;
    SqlBuffer buffer_;  // Held here rather than behind a pointer: one load less per piece.
    const OperatorPieces &operators_;
};

}  // namespace
}  // namespace msc

extern "C" {

void ConvertSQLCondition(const ParseTreeNode *tree, const TokenEntry *columnTable,
                         const char *tablePrefix, char *out, int outSize) {
    if (out == nullptr || outSize <= 0) return;
    ConvertSQLConditionEx(tree, columnTable, tablePrefix, out, outSize);
}

int ConvertSQLConditionEx(const ParseTreeNode *tree, const TokenEntry *columnTable,
                          const char *tablePrefix, char *out, int outSize) {
    msc::ConditionWriter writer(columnTable, tablePrefix, out, outSize);
    writer.Write(tree, msc::kPlainValue);
    size_t total = writer.Finish();
    return total > INT_MAX ? INT_MAX : static_cast<int>(total);
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
