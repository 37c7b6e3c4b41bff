// The SQL condition writer: one depth-first walk of the tree, each piece appended to the caller's
// buffer at a running length. Every piece carries a blank on each side, so " title  =  'abc' "
// has two blanks between pieces and one at each end.
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Internal.h"

namespace msc {
namespace {

// Appends pieces to out[0..size-1], always leaving the text NUL-terminated inside the buffer,
// and counts the length of the whole text. The first piece that does not fit is cut at the
// buffer's end and ends the written text: nothing after it is appended, so a short buffer holds
// a prefix of the whole condition. Without a buffer it only counts.
class SqlBuffer {
public:
    SqlBuffer(char *out, int size) {
        if (out != nullptr && size > 0) {
            out_ = out;
            room_ = static_cast<size_t>(size) - 1;
            out_[0] = '\0';
        }
    }

    size_t total() const { return total_; }

    void Put(const char *text, size_t length) {
        if (written_ == total_ && out_ != nullptr) {
            size_t fits = length < room_ - written_ ? length : room_ - written_;
            memcpy(out_ + written_, text, fits);
            written_ += fits;
            out_[written_] = '\0';
        }
        total_ += length;
    }
    void Put(const char *text) { Put(text, strlen(text)); }

    // A name missing from its table prints as the C library prints a null text.
    void PutName(const char *name) { Put(name != nullptr ? name : "(null)"); }

    // Copies a value text between single quotes, doubling each quote inside it as standard SQL
    // does ("O'Brien" is written 'O''Brien'), so that no value can end the literal early.
    void PutQuoted(const char *text) {
        for (;;) {
            const char *quote = strchr(text, '\'');
            if (quote == nullptr) {
                Put(text);
                return;
            }
            Put(text, static_cast<size_t>(quote - text));
            Put("''", 2);
            text = quote + 1;
        }
    }

private:
    char *out_ = nullptr;
    size_t room_ = 0;     // Bytes of text the buffer holds besides the NUL.
    size_t written_ = 0;  // Bytes in the buffer; below total_ once a piece was cut.
    size_t total_ = 0;    // Length of the whole text.
};

enum ValueForm { kPlainValue, kPatternValue, kExistsValue };

class ConditionWriter {
public:
    ConditionWriter(const TokenEntry *columns, const char *prefix, SqlBuffer *buffer)
        : columns_(columns), prefix_(prefix != nullptr ? prefix : ""), buffer_(buffer) {}

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
                        buffer_->Put(" NOT NULL ");
                        return;
                    }
                    Write(node->left, kPlainValue);
                    WriteOperator(node->opId);
                    form = FormOfRightOperand(node->opId);
                    node = node->right;
                    break;
                case NODE_GROUP:
                    buffer_->Put(" ( ");
                    Write(node->inner, kPlainValue);
                    buffer_->Put(" ) ");
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
        buffer_->Put(" ");
        buffer_->Put(prefix_);
        buffer_->PutName(LookupName(columns_, propertyId));
        buffer_->Put(" ");
    }

    // Operator ids of 9 or less have no SQL text and write nothing.
    void WriteOperator(int opId) {
        const TokenEntry *table = OperatorTable(opId, g_LogOpSQL, g_BinOpSQL, g_ExistOpSQL);
        if (table == nullptr) return;
        buffer_->Put(" ");
        buffer_->PutName(LookupName(table, opId));
        buffer_->Put(" ");
    }

    void WriteValue(const char *text, ValueForm form) {
        if (form == kExistsValue && EqualsIgnoringCase(text, "TRUE")) {
            buffer_->Put(" NOT NULL ");
        } else if (form == kExistsValue && EqualsIgnoringCase(text, "FALSE")) {
            buffer_->Put(" NULL ");
        } else {
            bool pattern = form == kPatternValue;
            buffer_->Put(pattern ? " '%" : " '");
            buffer_->PutQuoted(text);
            buffer_->Put(pattern ? "%' " : "' ");
        }
    }

    const TokenEntry *columns_;
    const char *prefix_;
    SqlBuffer *buffer_;
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
    msc::SqlBuffer buffer(out, outSize);
    msc::ConditionWriter(columnTable, tablePrefix, &buffer).Write(tree, msc::kPlainValue);
    return buffer.total() > INT_MAX ? INT_MAX : static_cast<int>(buffer.total());
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
