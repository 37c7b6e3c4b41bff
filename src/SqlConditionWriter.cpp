// The SQL condition writer: a visitor on the tree walk that appends each piece to the caller's
// buffer at a running length. Every piece carries a blank on each side, so " title  =  'abc' "
// has two blanks between pieces and one at each end.
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "Internal.h"
#include "TreeWalk.h"

namespace msc {
namespace {

// True when 'text' is the lower-case 'word' in any case of ASCII letters. A byte matches a
// lower-case letter exactly when setting its 0x20 bit makes it that letter; the NUL of a
// shorter text ends the match.
template <size_t N>
bool IsWordIgnoringCase(const char *text, const char (&word)[N]) {
    for (size_t i = 0; i + 1 < N; ++i) {
        if ((static_cast<unsigned char>(text[i]) | 0x20) != static_cast<unsigned char>(word[i])) return false;
    }
    return text[N - 1] == '\0';
}

// True when one of the bytes of 'word' is a single quote: the byte-wise zero test of
// word XOR '\'' repeated, which never reports a byte that is not one.
template <typename Word>
inline bool HasQuote(Word word) {
    constexpr Word kOnes = static_cast<Word>(~Word{0}) / 0xFF;
    Word x = word ^ (kOnes * '\'');
    return static_cast<Word>((x - kOnes) & ~x & (kOnes * 0x80)) != 0;
}

// Copies n bytes (at most kQuoteFreeCopy) that hold no single quote, testing the words it loads
// for quotes; false, with nothing written, when a quote is among them. Two words from the ends
// may overlap and read and write nothing outside the n bytes.
constexpr size_t kQuoteFreeCopy = 16;
template <typename Word>
MSC_ALWAYS_INLINE inline bool CopyWordsIfNoQuote(char *to, const char *from, size_t n) {
    Word head, tail;
    memcpy(&head, from, sizeof head);
    memcpy(&tail, from + n - sizeof tail, sizeof tail);
    if (HasQuote(head) || HasQuote(tail)) return false;
    memcpy(to, &head, sizeof head);
    memcpy(to + n - sizeof tail, &tail, sizeof tail);
    return true;
}

MSC_ALWAYS_INLINE inline bool CopyIfNoQuote(char *to, const char *from, size_t n) {
    if (n >= 8) return CopyWordsIfNoQuote<uint64_t>(to, from, n);
    if (n >= 4) return CopyWordsIfNoQuote<uint32_t>(to, from, n);
    for (size_t i = 0; i < n; ++i) {
        if (from[i] == '\'') return false;
    }
    for (size_t i = 0; i < n; ++i) to[i] = from[i];
    return true;
}

// A name missing from its table prints as the C library prints a null text.
const char kNullName[] = "(null)";

// How a value is written: as the right operand of contains, doesNotContain or derivedfrom a
// pattern, of startsWith a prefix pattern, of exists a null test, anywhere else a plain literal.
enum ValueForm { kPlainValue, kPatternValue, kPrefixPatternValue, kExistsValue };

ValueForm FormOfRightOperand(int opId) {
    if (opId == OP_STARTS_WITH) return kPrefixPatternValue;
    if (IsExistsOperator(opId)) return kExistsValue;
    if (opId == OP_CONTAINS || opId == OP_DOES_NOT_CONTAIN || opId == OP_DERIVED_FROM) {
        return kPatternValue;
    }
    return kPlainValue;
}

// The operator pieces " AND ", " = ", " LIKE ", ..., composed once from the SQL tables for every
// id up to the last named one, so that writing one is a copy of known length rather than a table walk.
class OperatorPieces {
public:
    struct Piece {
        char text[16];
        size_t length;  // above sizeof text: the name is too long, and is looked up when written
        ValueForm form;
    };
    static constexpr int kLastId = kLastOperatorId;

    OperatorPieces() {
        for (int opId = 0; opId <= kLastId; ++opId) {
            Piece &piece = pieces_[opId];
            piece.length = 0;  // Ids below the logical ones write nothing.
            piece.form = FormOfRightOperand(opId);
            const TokenEntry *table = OperatorTable(opId, g_LogOpSQL, g_BinOpSQL, g_ExistOpSQL, kStandardOpSQL);
            if (table == nullptr) continue;
            const char *name = LookupName(table, opId);
            if (name == nullptr) name = kNullName;
            size_t length = strlen(name) + 2;
            if (length > sizeof piece.text) {
                piece.length = SIZE_MAX;
                continue;
            }
            piece.text[0] = ' ';
            memcpy(piece.text + 1, name, length - 2);
            piece.text[length - 1] = ' ';
            piece.length = length;
        }
    }

    // The piece of 'opId', or nullptr for an id above those composed here.
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
// first piece that does not fit is cut at the buffer's end and ends the written text (a cut
// moves the limit to the cursor, so later pieces are only counted): a short buffer holds a
// prefix of the whole condition. Without a buffer it only counts. The NUL is written once, at
// the end. The value handed down is the form of a value met there.
class ConditionWriter : public WalkHooks<const ParseTreeNode, ValueForm> {
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

    Step Enter(const ParseTreeNode *node, ValueForm) {
        if (node->kind == NODE_GROUP) {
            Put(" ( ", 3);
            return Step::kDescend;
        }
        if (node->opId != OP_EXISTS || !IsPropertyLeaf(node->left, PROP_REFID)) return Step::kDescend;
        return WriteRefIdExistsFalse(node) ? Step::kSkip : Step::kDescend;
    }
    ValueForm Operand(const ParseTreeNode *parent, ValueForm, Side side) {
        if (side != Side::kRight) return kPlainValue;
        return FormOf(parent->opId);
    }
    bool Between(const ParseTreeNode *op, ValueForm, const ParseTreeNode *&right) {
        WriteOperator(op->opId);
        right = op->right;
        return true;
    }
    bool Leave(const ParseTreeNode *, ValueForm) {
        Put(" ) ", 3);
        return true;
    }
    bool Leaf(const ParseTreeNode *node, ValueForm form) {
        if (node == nullptr) return true;
        if (node->kind == NODE_PROPERTY) {
            WriteColumn(node->propertyId);
        } else if (node->kind == NODE_VALUE) {
            WriteValue(node->text, form);
        } else {
            puts("Something Error");
        }
        return true;
    }

private:
    // "@refID exists false" selects the objects that are no references, whose ref id column is
    // set: IS NOT NULL rather than the general IS NULL. False, with nothing written, for any
    // other @refID exists condition. Out of line: rare, and the walk's hot path stays small.
    __attribute__((noinline)) bool WriteRefIdExistsFalse(const ParseTreeNode *node) {
        const ParseTreeNode *value = node->right;
        if (value == nullptr || value->kind != NODE_VALUE || !IsWordIgnoringCase(value->text, "false")) {
            return false;
        }
        WriteColumn(PROP_REFID);
        WriteOperator(OP_EXISTS);
        Put(" NOT NULL ", 10);
        return true;
    }

    size_t Room() const { return static_cast<size_t>(limit_ - at_); }

    inline void Put(const char *text, size_t length) {
        if (length <= Room()) {
            CopyValueText(at_, text, length);
            at_ += length;
            return;
        }
        // Copies what fits and counts the rest.
        size_t fits = Room();
        memcpy(at_, text, fits);
        lost_ += length - fits;
        at_ += fits;
        limit_ = at_;
    }

    // The column of a property: the name of the first entry of the table with its id. The
    // column last looked up is kept, so that a list of conditions on one property walks the
    // table once.
    inline void WriteColumn(int propertyId) {
        if (propertyId != lastId_) {
            const char *name = kNullName;
            for (const TokenEntry *entry = columns_; entry->id != 0; ++entry) {
                if (entry->id == propertyId) {
                    name = entry->name != nullptr ? entry->name : kNullName;
                    break;
                }
            }
            lastId_ = propertyId;
            lastName_ = name;
            lastLength_ = strlen(name);
        }
        // " " prefix name " ", tested for room once; piece by piece only where it is cut.
        size_t length = lastLength_ + prefixLength_ + 2;
        if (length <= Room()) {
            at_[0] = ' ';
            if (prefixLength_ != 0) CopyValueText(at_ + 1, prefix_, prefixLength_);
            CopyValueText(at_ + 1 + prefixLength_, lastName_, lastLength_);
            at_[length - 1] = ' ';
            at_ += length;
            return;
        }
        Put(" ", 1);
        Put(prefix_, prefixLength_);
        Put(lastName_, lastLength_);
        Put(" ", 1);
    }

    void WriteOperator(int opId) {
        const OperatorPieces::Piece *piece = kOperatorPieces.Get(opId);
        if (piece != nullptr && piece->length <= sizeof piece->text) {
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
    // ("O'Brien" is written O''Brien), so that no value can end the literal early.
    template <size_t N, size_t M>
    void WriteLiteral(const char *text, const char (&open)[N], const char (&close)[M]) {
        constexpr size_t opening = N - 1, closing = M - 1;
        size_t length = strlen(text);
        if (length <= kQuoteFreeCopy && length + opening + closing <= Room() &&
            CopyIfNoQuote(at_ + opening, text, length)) {
            memcpy(at_, open, opening);
            memcpy(at_ + opening + length, close, closing);
            at_ += length + opening + closing;
            return;
        }
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

    static ValueForm FormOf(int opId) {
        const OperatorPieces::Piece *piece = kOperatorPieces.Get(opId);
        return piece != nullptr ? piece->form : FormOfRightOperand(opId);
    }

    inline void WriteValue(const char *text, ValueForm form) {
        if (form == kExistsValue && IsWordIgnoringCase(text, "true")) {
            Put(" NOT NULL ", 10);
        } else if (form == kExistsValue && IsWordIgnoringCase(text, "false")) {
            Put(" NULL ", 6);
        } else if (form == kPatternValue) {
            WriteLiteral(text, " '%", "%' ");
        } else if (form != kPrefixPatternValue) {
            WriteLiteral(text, " '", "' ");
        } else {
            WritePrefixPattern(text);
        }
    }

    // Out of line: only the standard grammar's startsWith has this form, and the hot path of
    // the plain and pattern values stays as small as it was.
    __attribute__((noinline)) void WritePrefixPattern(const char *text) { WriteLiteral(text, " '", "%' "); }

    const TokenEntry *columns_;
    const char *prefix_;
    size_t prefixLength_;
    char scratch_[1] = {};    // Stands in for a missing buffer, so that Put needs no null test.
    char *start_ = scratch_;
    char *at_ = scratch_;     // Where the next byte goes.
    char *limit_ = scratch_;  // Where the NUL goes when the buffer is full.
    size_t lost_ = 0;         // Bytes of the whole text that did not fit.
    // No entry has the id 0, which ends the table: its column is "(null)" before any lookup.
    int lastId_ = 0;
    const char *lastName_ = kNullName;
    size_t lastLength_ = sizeof kNullName - 1;
};

// The whole conversion; the exported functions call this rather than each other, so that no
// call goes through the library's symbol table.
int Convert(const ParseTreeNode *tree, const TokenEntry *columnTable, const char *tablePrefix,
            char *out, int outSize) {
    ConditionWriter writer(columnTable, tablePrefix, out, outSize);
    Walk(tree, writer, kPlainValue);
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
