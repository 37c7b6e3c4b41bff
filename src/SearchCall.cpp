// The whole host sequence in one call: parse, class, property list, rewrites, check, SQL. The
// tree lives in an arena for the length of the call, so nothing is freed node by node and short
// criteria take no heap memory at all.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ConditionCheck.h"
#include "Internal.h"
#include "TreeWalk.h"

namespace msc {

void *Arena::TakeFromNewBlock(size_t bytes) {
    if (spare_ != nullptr) {
        // The caller's spare block, aligned as the first one.
        auto address = reinterpret_cast<uintptr_t>(spare_);
        size_t skip = (8 - (address & 7)) & 7;
        char *start = spare_;
        size_t size = spareSize_;
        spare_ = nullptr;
        if (size >= skip + bytes) {
            next_ = start + skip;
            end_ = start + size;
            return Take(bytes);
        }
    }
    if (failed_) return nullptr;
    size_t size = nextBlock_;
    while (size - sizeof(Block) < bytes) {
        if (size > SIZE_MAX / 2) {
            failed_ = true;
            return nullptr;
        }
        size *= 2;
    }
    auto *block = static_cast<Block *>(malloc(size));
    if (block == nullptr) {
        failed_ = true;
        return nullptr;
    }
    block->previous = blocks_;
    blocks_ = block;
    nextBlock_ = size <= SIZE_MAX / 2 ? size * 2 : size;
    next_ = reinterpret_cast<char *>(block + 1);
    end_ = reinterpret_cast<char *>(block) + size;
    return Take(bytes);
}

bool Arena::GrowNotes() {
    size_t grown = noteCapacity_ * 2;
    auto *moved = static_cast<int *>(Take(grown * sizeof(int)));
    if (moved == nullptr) return false;
    memcpy(moved, notes_, noted_ * sizeof(int));
    notes_ = moved;
    noteCapacity_ = grown;
    return true;
}

namespace {

// An array of ints in an arena, for lists whose length the record cannot bound.
struct ArenaInts {
    int *items = nullptr;
    size_t count = 0;
    size_t capacity = 0;

    bool Contains(int id) const {
        for (size_t i = 0; i < count; ++i) {
            if (items[i] == id) return true;
        }
        return false;
    }
    bool Append(int id, Arena &arena) {
        if (count == capacity) {
            size_t grown = capacity == 0 ? 16 : capacity * 2;
            auto *moved = static_cast<int *>(arena.Take(grown * sizeof(int)));
            if (moved == nullptr) return false;
            if (count != 0) memcpy(moved, items, count * sizeof(int));
            items = moved;
            capacity = grown;
        }
        items[count++] = id;
        return true;
    }
};

// The property list of GetPropertyList into the record, from the ids the parse noted, and the
// unsupported properties among it, each once: ids below 256 (the built-in ones, the unknown one
// and the first host ones) are remembered in a bit set, the rest in a list in the arena.
struct PropertyRecorder {
    SearchInfo *info;
    const TokenEntry *supported;
    Arena &arena;
    uint64_t seen[4] = {};      // ids from 32 to 255 met so far
    unsigned builtIn = 0;       // bit n: property n (below 32) occurs
    ArenaInts seenHigh;

    PropertyRecorder(SearchInfo *i, const TokenEntry *s, Arena &a) : info(i), supported(s), arena(a) {}

    void Record(const int *ids, size_t count) {
        info->propertyCount = count > INT_MAX ? INT_MAX : static_cast<int>(count);
        for (size_t i = 0; i < count; ++i) {
            int id = ids[i];
            if (i < MSC_SEARCH_INFO_PROPERTIES) info->properties[i] = id;
            // A repeated id was looked up at its first occurrence. The built-in ids, nearly all
            // of them, have their own bit set.
            if (id >= 0 && id < 32) {
                unsigned bit = 1u << id;
                if ((builtIn & bit) != 0) continue;
                builtIn |= bit;
            } else if (!FirstTime(id)) {
                continue;
            }
            if (HasEntry(supported, id)) continue;
            if (info->alwaysTrueCount < MSC_SEARCH_INFO_PROPERTIES) info->alwaysTrue[info->alwaysTrueCount] = id;
            ++info->alwaysTrueCount;
        }
    }
    bool FirstTime(int id) {
        if (id >= 0 && id < 256) {
            uint64_t bit = uint64_t{1} << (id & 63);
            if (seen[id >> 6] & bit) return false;
            seen[id >> 6] |= bit;
            return true;
        }
        if (seenHigh.Contains(id)) return false;
        seenHigh.Append(id, arena);  // Out of memory: the arena is marked failed.
        return true;
    }
};

void ResetInfo(SearchInfo *info) {
    info->error = {SEARCH_PARSE_OK, -1};
    info->condition = SEARCH_CONDITION_EMPTY;
    info->classLength = -1;
    info->upnpClass[0] = '\0';
    info->propertyCount = 0;
    info->alwaysTrueCount = 0;
    info->refIdMadeFalse = 0;
}

// A failed call reports only why: the rest of the record is as for an empty text.
int Failed(SearchInfo *info, int code, int offset) {
    ResetInfo(info);
    info->error = {code, offset};
    return -1;
}

bool ValidSqlOptions(const SqlOptions &sql) {
    return sql.dialect >= SQL_DIALECT_SQLITE && sql.dialect <= SQL_DIALECT_MYSQL &&
           (sql.flags & ~SQL_LITERAL_PATTERNS) == 0;
}

// Typical criteria take a few hundred bytes of tree; the stack stays well within what the
// parser's nesting bound already assumes.
constexpr size_t kStackArena = 8192;

}  // namespace
}  // namespace msc

extern "C" {

int ConvertSearchCriteria(const char *criteria, int length, const SearchOptions *options, char *out,
                          int outSize, SearchInfo *info) {
    SearchInfo ownInfo;
    bool wanted = info != nullptr;  // the check runs only for a record the host reads
    if (!wanted) info = &ownInfo;
    msc::ResetInfo(info);
    if (out != nullptr && outSize > 0) out[0] = '\0';
    if (criteria == nullptr || options == nullptr || length < -1 || !msc::ValidSqlOptions(options->sql)) {
        return msc::Failed(info, SEARCH_PARSE_INVALID_ARGUMENT, 0);
    }
    if (length == -1) {
        size_t whole = strlen(criteria);
        if (whole > static_cast<size_t>(INT_MAX)) return msc::Failed(info, SEARCH_PARSE_INVALID_ARGUMENT, 0);
        length = static_cast<int>(whole);
    }

    alignas(16) char stack[msc::kStackArena];
    msc::Arena arena(stack, sizeof stack, options->scratch, options->scratchSize);
    ParseTreeNode *tree = nullptr;
    SearchParseError error;
    if (msc::ParseWithConfig(&tree, criteria, 0, length - 1, &options->parse, &error, &arena) != 0) {
        return msc::Failed(info, error.code, error.offset);
    }

    info->error = error;
    // The property list first: the lookups and rewrites that follow run only for the properties
    // that occur.
    const TokenEntry *supported = options->supportedTable != nullptr ? options->supportedTable : options->columnTable;
    msc::PropertyRecorder recorder(info, supported, arena);
    recorder.Record(arena.notes(), arena.noted());
    if ((recorder.builtIn & (1u << PROP_UPNP_CLASS)) != 0) {
        // Without loose ends the first condition in text order is the one the lookup finds.
        const char *upnpClass =
            arena.looseEnd() ? msc::UPnPClassOf(tree) : msc::ClassOfCondition(arena.classCondition());
        if (upnpClass != nullptr) {
            size_t classLength = strlen(upnpClass);
            size_t copied = classLength < sizeof info->upnpClass ? classLength : sizeof info->upnpClass - 1;
            msc::CopyValueText(info->upnpClass, upnpClass, copied);
            info->upnpClass[copied] = '\0';
            info->classLength = classLength > INT_MAX ? INT_MAX : static_cast<int>(classLength);
        }
    }
    if (info->alwaysTrueCount != 0 && msc::RewriteUnsupported(tree, supported, &arena) != 0) {
        return msc::Failed(info, SEARCH_PARSE_OUT_OF_MEMORY, -1);
    }
    // The rewrite may have dropped the @refID condition, which the lookup then does not find.
    // Without loose ends it drops every @refID condition or none, and keeps the first in place.
    if (options->containerId != nullptr && (recorder.builtIn & (1u << PROP_REFID)) != 0) {
        bool made;
        if (arena.looseEnd()) {
            made = msc::MakeRefIdConditionFalse(options->containerId, tree, &arena);
        } else {
            made = msc::HasEntry(supported, PROP_REFID) &&
                   msc::MakeRefIdConditionFalseAt(options->containerId, arena.refIdCondition(), &arena);
        }
        info->refIdMadeFalse = made ? 1 : 0;
    }
    if (arena.failed()) return msc::Failed(info, SEARCH_PARSE_OUT_OF_MEMORY, -1);
    bool wroteNoColumn = false;
    int result = msc::ConvertNotingColumns(tree, options->columnTable, options->tablePrefix, options->sql, out,
                                           outSize, &wroteNoColumn);
    if (wanted) {
        // The rewrites turn conditions into comparisons of values and remove every unsupported
        // property: they add nothing the check could find fault with. So a tree whose parse left
        // no loose end (the parsers make no other fault) and whose properties the writer found
        // columns for is well-formed without a walk; any other goes to the check.
        bool wellFormed = tree != nullptr && !arena.looseEnd() && msc::kParsedOperatorsNamed &&
                          !(wroteNoColumn && options->columnTable != nullptr);
        info->condition = wellFormed ? SEARCH_CONDITION_OK : CheckSQLCondition(tree, options->columnTable, nullptr);
    }
    return result;
}

}  // extern "C"
