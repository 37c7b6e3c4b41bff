// The SQL condition writer's exported functions and the tables it composes when the library
// loads; the writer itself is in ConditionWriter.h.
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ConditionWriter.h"

namespace msc {

OperatorPieces::OperatorPieces(const Dialect &dialect) {
    for (int opId = 0; opId <= kLastId; ++opId) {
        Piece &piece = pieces_[opId];
        piece = {};
        piece.length = SIZE_MAX;
        piece.form = FormOfRightOperand(opId);
        memset(piece.text, ' ', sizeof piece.text);
        const TokenEntry *table = OperatorTable(opId, g_LogOpSQL, g_BinOpSQL, g_ExistOpSQL, kStandardOpSQL);
        if (table == nullptr) continue;
        const char *name = LookupName(table, opId);
        if (name == nullptr) name = kNullName;
        if (IsPattern(piece.form) && dialect.like != nullptr) {
            name = strncmp(name, "NOT ", 4) == 0 ? dialect.notLike : dialect.like;
        }
        size_t length = strlen(name) + 2;
        if (length >= sizeof piece.text) continue;
        memcpy(piece.text + 1, name, length - 2);
        piece.length = length;
        // A plain value is written " 'value' ", a pattern " '%value%' ", a prefix pattern
        // " 'value%' ", an exists comparison's null test right after the piece.
        const char *open = piece.form == kPatternValue ? " '%" : piece.form == kExistsValue ? "" : " '";
        const char *close = piece.form == kPatternValue || piece.form == kPrefixPatternValue ? "%' "
                            : piece.form == kExistsValue                                    ? ""
                                                                                            : "' ";
        size_t opening = strlen(open), closing = strlen(close);
        if (length + opening > sizeof piece.opened) continue;
        memset(piece.opened, ' ', sizeof piece.opened);
        memcpy(piece.opened, piece.text, length);
        memcpy(piece.opened + length, open, opening);
        memcpy(piece.closing, close, closing);
        piece.valueAt = static_cast<uint8_t>(length + opening);
        piece.closingLength = static_cast<uint8_t>(closing);
        if (closing != 0) piece.commonBelow = QuoteFreeValue::kMaxLength + 1;
    }
}

const OperatorPieces kOperatorPieces[kDialectCount] = {
    OperatorPieces(kDialects[0]), OperatorPieces(kDialects[1]), OperatorPieces(kDialects[2])};

// After kOperatorPieces, whose pieces they are composed of. The classic text is the SQLite row.
const ConstantComparison kConstantComparisons[kDialectCount] = {
    ConditionWriter<false>::ComposeConstant({}),
    ConditionWriter<true>::ComposeConstant({&kDialects[1], kDialects[1].escapeAlways, false}),
    ConditionWriter<true>::ComposeConstant({&kDialects[2], kDialects[2].escapeAlways, false})};

bool IsUtf8(const unsigned char *text, size_t length) {
    for (size_t i = 0; i < length;) {
        unsigned char c = text[i];
        size_t n = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
        if (n == 0 || length - i < n) return false;
        unsigned char lo = 0x80, hi = 0xBF;  // The bounds of the second byte.
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
        if (n > 1 && (text[i + 1] < lo || text[i + 1] > hi)) return false;
        for (size_t k = 2; k < n; ++k) {
            if ((text[i + k] & 0xC0) != 0x80) return false;
        }
        i += n;
    }
    return true;
}

namespace {

// The whole conversion; the exported functions call this rather than each other, so that no
// call goes through the library's symbol table. Inline: each caller's own tests of the buffer
// then decide the writer's set-up, and the walk is the only call.
inline int Convert(const ParseTreeNode *tree, const TokenEntry *columnTable, const char *tablePrefix,
                   const SqlOptions &options, char *out, int outSize) {
    return WithConditionWriter<false>(columnTable, &kNoColumnIndex, tablePrefix, options, out, outSize,
                                      [tree](auto &writer) {
        Walk(tree, writer, kPlainValue);
        return TextLength(writer.Finish());
    });
}

constexpr SqlOptions kClassicText = {SQL_DIALECT_SQLITE, 0};

}  // namespace

}  // namespace msc

extern "C" {

void ConvertSQLCondition(const ParseTreeNode *tree, const TokenEntry *columnTable,
                         const char *tablePrefix, char *out, int outSize) {
    if (out == nullptr || outSize <= 0) return;
    msc::Convert(tree, columnTable, tablePrefix, msc::kClassicText, out, outSize);
}

int ConvertSQLConditionEx(const ParseTreeNode *tree, const TokenEntry *columnTable,
                          const char *tablePrefix, char *out, int outSize) {
    return msc::Convert(tree, columnTable, tablePrefix, msc::kClassicText, out, outSize);
}

int ConvertSQLConditionWith(const ParseTreeNode *tree, const TokenEntry *columnTable, const char *tablePrefix,
                            const SqlOptions *options, char *out, int outSize) {
    if (options == nullptr) return msc::Convert(tree, columnTable, tablePrefix, msc::kClassicText, out, outSize);
    if (!msc::IsValidSqlOptions(*options)) {
        if (out != nullptr && outSize > 0) out[0] = '\0';
        return -1;
    }
    return msc::Convert(tree, columnTable, tablePrefix, *options, out, outSize);
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
