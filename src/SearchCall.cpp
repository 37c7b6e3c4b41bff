// The whole host sequence in one call: parse, class, property list, rewrites, check, SQL. A text
// is written while it is read, without a tree (SqlBuilder); one that only a tree can settle (a
// loose end, a property without a column, a text the lenient grammar repairs) gets a tree that
// lives in an arena for the length of the call, so nothing is freed node by node and short
// criteria take no heap memory at all.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>

#include "ClassicParser.h"
#include "StandardParser.h"
#include "ConditionCheck.h"
#include "ConditionWriter.h"
#include "SearchOptions.h"

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
    size_t size = kFirstBlock;
    if (blocks_ != nullptr) size = blocks_->size <= SIZE_MAX / 2 ? blocks_->size * 2 : blocks_->size;
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
    block->size = size;
    blocks_ = block;
    next_ = reinterpret_cast<char *>(block + 1);
    end_ = reinterpret_cast<char *>(block) + size;
    return Take(bytes);
}

bool ParseNotes::Grow() {
    size_t grown = capacity_ * 2;
    auto *moved = static_cast<PropertyNote *>(arena_.Take(grown * sizeof(PropertyNote)));
    if (moved == nullptr) return false;
    memcpy(moved, properties_, noted_ * sizeof(PropertyNote));
    properties_ = moved;
    capacity_ = grown;
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

// The property list of GetPropertyList into the record, one id at a time in text order, and the
// unsupported properties among it, each once: ids below 256 (the built-in ones, the unknown one
// and the first host ones) are remembered in a bit set, the rest in a list in the arena.
struct PropertyRecorder {
    SearchInfo *info;
    const SearchOptions &options;  // whose supported table is read only for ids that the index lacks
    const PreparedTables &prepared;
    Arena &arena;
    uint64_t seen[4] = {};         // bit n: property n (below 256) occurs
    uint64_t unsupported[4] = {};  // and the database does not evaluate its conditions
    ArenaInts seenHigh;            // the other ids that occur
    PropertyNote *firstUnsupported;  // set to the first property whose conditions become constants

    // *first stays as it is when no property is unsupported.
    PropertyRecorder(SearchInfo *i, const SearchOptions &o, const PreparedTables &p, Arena &a,
                     PropertyNote *first)
        : info(i), options(o), prepared(p), arena(a), firstUnsupported(first) {}

    // Adds the next property of the list, named at 'offset'; true when the database evaluates its
    // conditions, false when they become constants.
    MSC_ALWAYS_INLINE bool Record(int id, int offset) {
        Append(id);
        // A built-in id that the prepared record names supported, nearly every one, needs no
        // look-up and adds nothing to the list of the unsupported.
        if (static_cast<unsigned>(id) < 32 && ((prepared.supported >> id) & 1) != 0) {
            seen[0] |= uint64_t{1} << id;
            return true;
        }
        // A repeated id was looked up at its first occurrence: ids below 256, the built-in ones,
        // the unknown one and the first of the host's, by their bits.
        bool small = static_cast<unsigned>(id) < 256;
        uint64_t bit = uint64_t{1} << (id & 63);
        if (small) {
            if ((seen[id >> 6] & bit) != 0) return (unsupported[id >> 6] & bit) == 0;
            seen[id >> 6] |= bit;
        } else if (seenHigh.Contains(id)) {
            return IsSupported(id);
        } else {
            seenHigh.Append(id, arena);  // Out of memory: the arena is marked failed.
        }
        if (IsSupported(id)) return true;
        if (small) unsupported[id >> 6] |= bit;
        if (info->alwaysTrueCount == 0) *firstUnsupported = {id, offset};
        if (info->alwaysTrueCount < MSC_SEARCH_INFO_PROPERTIES) info->alwaysTrue[info->alwaysTrueCount] = id;
        ++info->alwaysTrueCount;
        return false;
    }
    MSC_ALWAYS_INLINE void Append(int id) {
        int index = info->propertyCount;
        if (index < MSC_SEARCH_INFO_PROPERTIES) info->properties[index] = id;
        if (index < INT_MAX) info->propertyCount = index + 1;
    }
    bool IsSupported(int id) const {
        if (id >= 0 && id < 32 && ((prepared.known >> id) & 1) != 0) return ((prepared.supported >> id) & 1) != 0;
        return HasEntry(SupportedTableOf(options), id);
    }
    // For ids below 32: whether the list holds the property.
    bool Occurs(int id) const { return ((seen[0] >> id) & 1) != 0; }
};

// GetUPnPClass's text, of 'length' bytes, into the record, cut to fit.
MSC_ALWAYS_INLINE inline void RecordClass(SearchInfo *info, const char *text, size_t length) {
    size_t copied = length < sizeof info->upnpClass ? length : sizeof info->upnpClass - 1;
    CopyValueText(info->upnpClass, text, copied);
    info->upnpClass[copied] = '\0';
    info->classLength = length > INT_MAX ? INT_MAX : static_cast<int>(length);
}

// Where a parse that writes as it reads stands in one and/or list, the whole text's or a group's:
// the logical operator written before the operand being read (0: none, the list's first), and
// the offset + 1 in the text of the constant written for it that its polarity may yet turn false
// (0: none). An operand holds at most one: a comparison its own, a group the one of a list of a
// single operand inside it, whose polarity is the group's.
struct ListState {
    int before;
    uint32_t pending;
};

// The builder of a classic parse that writes the SQL condition as the text is read, with no
// tree, for the criteria that need none: those without a loose end (with one, only the check can
// tell what the condition lacks). It stops at a loose end, and the call then parses into a tree.
// It writes the tree writer's pieces in the order in which that writer's walk writes them (a
// comparison's column, operator and value at once, when its value is read), and records what
// the record's lookups would find: the first condition on a property in text order is the one
// that FindConditionNode finds in a tree without loose ends. The rewrites' results are written
// in place of the conditions they rewrite: a condition on an unsupported property as the
// always-true rewrite makes it, true, and made false once its list shows its polarity
// (PolarityOfTerm; the two constants have the same length); and the first @refID condition as
// the container rule makes it, false, when its value shows that the rule applies.
template <typename Writer>
class SqlBuilder {
public:
    struct Slot {};
    // Nothing it writes outlasts a failed parse.
    static constexpr bool kGroupClosesFirst = false;

    SqlBuilder(Writer &writer, const PropertyRecorder &recorder, const char *containerId, ListState *lists)
        : writer_(writer), recorder_(recorder), containerId_(containerId), lists_(lists) {}

    void Clear(Slot) {}
    // Only the tree's check can tell what a condition with a loose end lacks.
    bool LooseEnd() {
        needsTree_ = true;
        return false;
    }
    // True when the parse stopped for a tree rather than for want of memory.
    bool needsTree() const { return needsTree_; }
    // The property's column is written with its first comparison, which always follows.
    MSC_ALWAYS_INLINE bool Property(int id, int offset, Slot) {
        // The properties whose first comparison needs more than its pieces.
        constexpr uint32_t kSpecial = 1u << PROP_UPNP_CLASS | 1u << PROP_REFID;
        property_ = id;
        supported_ = recorder_.Record(id, offset);
        special_ = !supported_ || (static_cast<unsigned>(id) < 32 && ((kSpecial >> id) & 1) != 0);
        return true;
    }
    bool Logical(int opId, Slot &) {
        ListState &list = lists_[level_];
        EndOperand(list, opId);
        list = {opId, 0};
        writer_.WriteOperator(opId);
        return true;
    }
    MSC_ALWAYS_INLINE bool Comparison(Lexer &lexer, int opId, Token text, bool identifier, Slot, bool first,
                                      const char *literal = nullptr) {
        const char *value;
        size_t length;
        if (MSC_UNLIKELY(!lexer.ValueWithoutLeaf(text, identifier, literal, &value, &length)) &&
            !ValueOfLeaf(lexer, text, identifier, literal, &value, &length)) {
            return false;
        }
        if (!first) {  // The classic grammar's comparisons in a row: their left operand is written.
            writer_.WriteOperatorAndValue(opId, value, length);
            return true;
        }
        if (special_) return SpecialComparison(opId, value, length);
        writer_.WriteComparison(property_, opId, value, length);
        return true;
    }
    bool OpenGroup(Slot &) {
        lists_[++level_] = {0, 0};
        writer_.OpenGroup();
        return true;
    }
    // The standard grammar's "*", which the tree holds as the always-true constant comparison.
    bool MatchAll(Slot) {
        writer_.WriteConstantComparison(1);
        return true;
    }
    void CloseGroup() {
        // Alone in the group, the last operand has the group's polarity.
        const ListState &list = lists_[level_--];
        if (list.before == 0) {
            lists_[level_].pending = list.pending;
        } else {
            EndOperand(list, 0);
        }
        writer_.CloseGroup();
    }
    // The end of the whole text, whose term is true.
    void Finish() { EndOperand(lists_[0], 0); }

private:

    // The operand of 'list' ends, followed by the logical operator 'after' (0: the list ends).
    void EndOperand(const ListState &list, int after) {
        if (list.pending != 0) EndConstant(list, after);
    }
    void EndConstant(const ListState &list, int after) {
        bool andBeside = list.before == OP_AND || after == OP_AND, orBeside = list.before == OP_OR || after == OP_OR;
        if (PolarityOfTerm(andBeside, orBeside, true) == 0) {
            writer_.MakeConstantFalse(list.pending - 1);
        }
    }

    // Whether the comparison of 'id' being read is the first condition on upnp:class or @refID,
    // whose value GetUPnPClass reads and which the container rule may rewrite. FindConditionNode
    // finds the first in text order when no property stands without a comparison, as in a text
    // written while it is read.
    bool FirstCondition(int id) {
        uint8_t bit = id == PROP_UPNP_CLASS ? 1 : id == PROP_REFID ? 2 : 0;
        bool first = (firstSeen_ & bit) != bit;
        firstSeen_ |= bit;
        return first;
    }

    // The first comparison of an unsupported property, the class, @refID or @id.
    MSC_ALWAYS_INLINE bool SpecialComparison(int opId, const char *value, size_t length) {
        bool first = FirstCondition(property_);
        // GetUPnPClass reads the tree before the rewrites.
        if (property_ == PROP_UPNP_CLASS && first) RecordClass(recorder_.info, value, length);
        if (!supported_) {
            size_t at = writer_.WriteConstantComparison(1);
            lists_[level_].pending = at < INT_MAX ? static_cast<uint32_t>(at + 1) : 0;
            return true;
        }
        if (first && property_ == PROP_REFID && containerId_ != nullptr &&
            RefIdRuleApplies(containerId_, value, length)) {
            recorder_.info->refIdMadeFalse = 1;
            writer_.WriteConstantComparison(0);
            return true;
        }
        writer_.WriteComparison(property_, opId, value, length);
        return true;
    }
    // The text of the value leaf that the tree would hold (an identifier's rewritten number, a
    // decoded escape), from the arena; the leaf itself is not needed.
    MSC_NOINLINE bool ValueOfLeaf(Lexer &lexer, Token text, bool identifier, const char *literal, const char **value,
                                  size_t *length) {
        ParseTreeNode *leaf = lexer.ValueLeafIn<true>(text, identifier, literal);
        if (leaf == nullptr) return false;
        *value = leaf->text;
        *length = strlen(leaf->text);
        return true;
    }

    Writer &writer_;
    PropertyRecorder recorder_;  // held here, as the parser holds the builder: one load fewer a property
    const char *containerId_;
    ListState *lists_;   // one for each level of groups
    // The state of the parse, in twelve bytes that the constructor sets with two stores.
    int level_ = 0;
    int property_ = 0;   // of the comparison being read
    uint8_t firstSeen_ = 0;  // bit 0: a condition on upnp:class was read, bit 1: on @refID
    bool supported_ = false;  // of the property being read, which Property sets before any comparison
    bool special_ = false;
    bool needsTree_ = false;
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

// What the parse repaired, into the record: the one place that writes those fields, cleared as a
// call starts and set again by a tree's parse that succeeds (a failed call repaired nothing).
void RecordRepairs(SearchInfo *info, const SearchParseRepairs &repairs) {
    info->repairs = repairs.repairs;
    info->repairOffset = repairs.offset;
}

// A failed call reports only why: the rest of the record is as for an empty text.
int Failed(SearchInfo *info, int code, int offset) {
    ResetInfo(info);
    info->error = {code, offset};
    return -1;
}

// Typical criteria take a few hundred bytes of tree; the stack stays well within what the
// parser's nesting bound already assumes.
constexpr size_t kStackArena = 8192;

// What WriteWhileParsing returns for criteria that need a tree after all.
constexpr int kNeedsTree = -2;

// Whether criteria[0..last] holds a NUL, where the text ends. The standard grammar's parse here
// reads the host's whole range and meets no NUL where it succeeds (a NUL is no blank and ends
// every token, name and quoted value), so only a parse that fails asks, and the tree's parse then
// reads the text up to its NUL. The classic grammar's scans stop at the NUL themselves.
bool HoldsNul(const char *criteria, Pos last) {
    return last >= 0 && memchr(criteria, '\0', static_cast<size_t>(last) + 1) != nullptr;
}

// The call without a tree (SqlBuilder), in either grammar, on criteria[0..last]: the result, or
// kNeedsTree. Both ways of the call set *unsupported, which the caller set to {0, -1}, to the
// first property whose conditions became constants, if any.
int WriteWhileParsing(const char *criteria, Pos last, const SearchOptions &options, Arena *arena, char *out,
                      int outSize, SearchInfo *info, PropertyNote *unsupported) {
    const PreparedTables &prepared = PreparedFor(options);
    ListState lists[MSC_MAX_NESTING + 1];
    lists[0] = {0, 0};
    return WithConditionWriter<true>(options.columnTable, &prepared.columns, options.tablePrefix, options.sql, out,
                                     outSize, [&](auto &writer) {
        using Builder = SqlBuilder<std::remove_reference_t<decltype(writer)>>;
        Builder builder(writer, PropertyRecorder(info, options, prepared, *arena, unsupported), options.containerId,
                        lists);
        auto settle = [&](auto &parser, bool parsed) {
            if (!parsed) {
                ParseFailure failure = parser.failure();
                // Memory that ran out would run out for the tree too; a lenient parse reads a
                // refused text once more, with its repairs, into a tree.
                bool retry = (options.parse.options & SEARCH_PARSE_LENIENT) != 0 &&
                             failure.code != SEARCH_PARSE_OUT_OF_MEMORY;
                bool standard = options.parse.options != 0;
                if (parser.builder().needsTree() || retry || (standard && HoldsNul(criteria, last))) return kNeedsTree;
                return Failed(info, failure.code, failure.offset);
            }
            if (!WellFormedWithoutWalk(writer.wroteNoColumn(), options.columnTable)) return kNeedsTree;
            parser.builder().Finish();
            info->condition = SEARCH_CONDITION_OK;
            return TextLength(writer.Finish());
        };
        if (options.parse.options == 0) {
            ClassicParser<Builder> parser(criteria, /*quiet=*/true, arena, builder);
            return settle(parser, parser.ParseExpression(0, last, typename Builder::Slot{}, 0));
        }
        StandardParser<Builder> parser(criteria, last, options.parse.options,
                                       /*repair=*/false, options.parse.hostProperties, arena, builder);
        return settle(parser, parser.ParseCriteria(0, typename Builder::Slot{}));
    });
}

// The call on a tree in the arena: the host's sequence step by step.
int WriteFromTree(const char *criteria, int length, const SearchOptions &options, Arena *arena, char *out,
                  int outSize, SearchInfo *info, bool wanted, PropertyNote *unsupported,
                  SearchParseRepairs *repairs) {
    ParseTreeNode *tree = nullptr;
    SearchParseError error;
    ParseNotes notes(*arena);
    if (ParseWithConfig(&tree, criteria, 0, length - 1, &options.parse, &error, arena, &notes, repairs) != 0) {
        return Failed(info, error.code, error.offset);
    }

    info->error = error;
    // The property list first: the lookups and rewrites that follow run only for the properties
    // that occur.
    const PreparedTables &prepared = PreparedFor(options);
    PropertyRecorder recorder(info, options, prepared, *arena, unsupported);
    for (size_t i = 0; i < notes.noted(); ++i) recorder.Record(notes.properties()[i].id, notes.properties()[i].offset);
    if (recorder.Occurs(PROP_UPNP_CLASS)) {
        const char *upnpClass = UPnPClassOf(tree);
        if (upnpClass != nullptr) RecordClass(info, upnpClass, strlen(upnpClass));
    }
    if (info->alwaysTrueCount != 0 && RewriteUnsupported(tree, SupportedTableOf(options), arena) != 0) {
        return Failed(info, SEARCH_PARSE_OUT_OF_MEMORY, -1);
    }
    // The rewrite may have dropped the @refID condition, which the lookup then does not find.
    if (options.containerId != nullptr && recorder.Occurs(PROP_REFID)) {
        info->refIdMadeFalse = MakeRefIdConditionFalse(options.containerId, tree, arena) ? 1 : 0;
    }
    if (arena->failed()) return Failed(info, SEARCH_PARSE_OUT_OF_MEMORY, -1);
    return WithConditionWriter<true>(options.columnTable, &prepared.columns, options.tablePrefix, options.sql, out,
                                     outSize, [&](auto &writer) {
        Walk(tree, writer, kPlainValue);
        int result = TextLength(writer.Finish());
        if (wanted) info->condition = CheckSQLCondition(tree, options.columnTable, nullptr);
        return result;
    });
}

// SEARCH_POLICY_REFUSE_UNSUPPORTED: the criteria asks about a property that the database does not
// evaluate, named at 'property'.
int Refuse(SearchInfo *info, PropertyNote property, const SearchOptions &options) {
    Failed(info, SEARCH_PARSE_UNKNOWN_PROPERTY, property.offset);
    char detail[MSC_SEARCH_INFO_DESCRIPTION_SIZE];
    const char *name = PropertyNameOf(property.id, options.parse.hostProperties);
    snprintf(detail, sizeof detail, "unsupported property %s", name != nullptr ? name : "an unknown property");
    ReportUPnPError(info, kUPnPBadSearchCriteria, detail, property.offset);
    return -1;
}

// What a call that succeeded ends with: SEARCH_POLICY_REFUSE_UNSUPPORTED, read only for criteria
// that name an unsupported property (*unsupported, as the property list found it first).
MSC_ALWAYS_INLINE inline int EndSearch(int result, PropertyNote unsupported, const SearchOptions &options,
                                       SearchInfo *info, bool versioned) {
    if (MSC_UNLIKELY(unsupported.id != 0 && result >= 0) && versioned &&
        (options.policy & SEARCH_POLICY_REFUSE_UNSUPPORTED) != 0) {
        return Refuse(info, unsupported, options);
    }
    return result;
}

// The call on a tree in an arena whose first block is 'stack' (kStackArena bytes), for criteria
// that the call without one left to it: the record starts afresh. Only the tree's parse repairs:
// a text written while it is read is one that the strict grammar accepts.
MSC_NOINLINE int SearchOnTree(const char *criteria, int length, const SearchOptions &options, char *stack, char *out,
                              int outSize, SearchInfo *info, bool wanted, bool versioned) {
    ResetInfo(info);
    PropertyNote unsupported = {0, -1};
    SearchParseRepairs repairs = {0, -1};
    Arena arena(stack, kStackArena, options.scratch, options.scratchSize);
    int result = EndSearch(WriteFromTree(criteria, length, options, &arena, out, outSize, info, wanted, &unsupported,
                                         &repairs),
                           unsupported, options, info, versioned);
    if (result >= 0 && versioned) RecordRepairs(info, repairs);
    return result;
}

// The call on valid arguments: without a tree when it can, else on one. 'versioned': the record
// has the fields of 1.1.
MSC_ALWAYS_INLINE inline int Search(const char *criteria, int length, const SearchOptions &options,
                                    char *out, int outSize, SearchInfo *info, bool wanted, bool versioned) {
    alignas(16) char stack[kStackArena];
    const TokenEntry *hostProperties = options.parse.hostProperties;
    PropertyNote unsupported = {0, -1};
    int result = kNeedsTree;
    unsigned grammar = options.parse.options;
    bool valid = hostProperties == nullptr || IsValidHostTable(hostProperties);
    if ((grammar == 0 || IsStandardGrammar(grammar)) && valid) {
        Arena arena(stack, sizeof stack, options.scratch, options.scratchSize);
        result = WriteWhileParsing(criteria, length - 1, options, &arena, out, outSize, info, &unsupported);
    }
    if (MSC_UNLIKELY(result == kNeedsTree)) {
        return SearchOnTree(criteria, length, options, stack, out, outSize, info, wanted, versioned);
    }
    return EndSearch(result, unsupported, options, info, versioned);
}

// The UPnP error of a call that failed with the parse error code 'code'.
int UPnPErrorOf(int code) {
    if (code == SEARCH_PARSE_INVALID_ARGUMENT) return kUPnPInvalidArgs;
    if (code == SEARCH_PARSE_OUT_OF_MEMORY) return kUPnPActionFailed;
    return kUPnPBadSearchCriteria;
}

// What a call that failed with a parse error code reports: its UPnP error, and the description
// but for the offset's digits, which go with every code but that of an invalid argument: the
// words in description[0..length-1], followed up to openLength by what comes before the digits.
struct FailureReport {
    int upnpError;
    bool withOffset;
    size_t length;
    size_t openLength;
    char description[MSC_SEARCH_INFO_DESCRIPTION_SIZE];
};
FailureReport ReportOf(int code) {
    FailureReport report = {UPnPErrorOf(code), code != SEARCH_PARSE_INVALID_ARGUMENT, 0, 0, {}};
    report.length = DescribeUPnPError(report.description, report.upnpError, SearchParseErrorMessage(code));
    report.openLength = OpenOffset(report.description, report.length);
    return report;
}

// The report of each parse error code, composed when the library loads: a failed call copies
// its description and writes only the offset's digits.
constexpr int kParseErrorCodes = SEARCH_PARSE_INVALID_ARGUMENT + 1;
struct FailureReports {
    FailureReport byCode[kParseErrorCodes];
    FailureReports() {
        for (int code = 0; code < kParseErrorCodes; ++code) byCode[code] = ReportOf(code);
    }
};
const FailureReports kFailureReports;

// The UPnP error fields of a call that failed with the parse error in the record.
MSC_NOINLINE void ReportParseFailure(SearchInfo *info) {
    int code = info->error.code;
    FailureReport other;
    const FailureReport *report = &other;
    if (code >= 0 && code < kParseErrorCodes) {
        report = &kFailureReports.byCode[code];
    } else {
        other = ReportOf(code);
    }
    info->upnpError = report->upnpError;
    int offset = info->error.offset;
    char *out = info->upnpErrorDescription;
    if (report->withOffset && offset >= 0) {
        CopyValueText(out, report->description, report->openLength);
        EndWithOffset(out, report->openLength, static_cast<unsigned>(offset));
    } else {
        CopyValueText(out, report->description, report->length);
        out[report->length] = '\0';
    }
}

// The rest of a call that failed, whose record tells why: its UPnP error unless one was reported,
// and the empty text. Returns -1.
MSC_NOINLINE int EndFailedCall(SearchInfo *info, bool versioned, char *out, int outSize) {
    if (versioned && info->upnpError == 0) ReportParseFailure(info);
    if (out != nullptr && outSize > 0) out[0] = '\0';
    return -1;
}

}  // namespace
}  // namespace msc

extern "C" {

int ConvertSearchCriteria(const char *criteria, int length, const SearchOptions *options, char *out,
                          int outSize, SearchInfo *info) {
    SearchInfo ownInfo;
    bool wanted = info != nullptr;  // the check runs only for a record the host reads
    if (!wanted) info = &ownInfo;
    // A host built before 1.1 has a shorter info record, which only a versioned options record lengthens.
    bool versioned = options != nullptr && msc::HasFieldsOf11(*options);
    msc::ResetInfo(info);
    if (versioned) {
        // No error and no repairs: only a tree's parse that succeeds repairs.
        msc::ClearUPnPError(info);
        msc::RecordRepairs(info, {0, -1});
    }
    bool valid = criteria != nullptr && options != nullptr && length >= -1 && msc::IsValidSqlOptions(options->sql);
    if (valid && length == -1) {
        size_t whole = strlen(criteria);
        valid = whole <= static_cast<size_t>(INT_MAX);
        length = valid ? static_cast<int>(whole) : 0;
    }
    int result = valid ? msc::Search(criteria, length, *options, out, outSize, info, wanted, versioned)
                       : msc::Failed(info, SEARCH_PARSE_INVALID_ARGUMENT, 0);
    if (MSC_LIKELY(result >= 0)) return result;
    return msc::EndFailedCall(info, versioned, out, outSize);
}

int InitSearchOptions(SearchOptions *options) {
    if (options == nullptr) return -1;
    memset(options, 0, sizeof *options);
    options->version = MSC_VERSION_NUMBER;
    return 0;
}

unsigned SearchLibraryVersion(void) { return MSC_VERSION_NUMBER; }

int PrepareSearchOptions(SearchOptions *options) {
    if (options == nullptr) return -1;
    auto *prepared = new (&options->index) msc::PreparedTables{};
    prepared->columnTable = options->columnTable;
    prepared->supportedTable = options->supportedTable;
    const TokenEntry *supported = msc::SupportedTableOf(*options);
    for (int id = 1; id < msc::ColumnIndex::kProperties; ++id) {
        if (msc::HasEntry(supported, id)) prepared->supported |= 1u << id;
    }
    prepared->known = (1u << msc::ColumnIndex::kProperties) - 1;
    prepared->columns = msc::ColumnIndex(options->columnTable);
    prepared->mark = msc::kPreparedMark;
    return 0;
}

}  // extern "C"
