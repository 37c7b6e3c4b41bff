// Node allocation and short copies; never installed.
#ifndef MSC_MEMORY_H
#define MSC_MEMORY_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Hints.h"
#include "mysearchcriteria.h"

namespace msc {

// A property leaf that a parse made, and the offset of its name in the text.
struct PropertyNote {
    int id;
    int offset;
};

// A bump allocator for a tree that lives for one call: its first block is the caller's (on the
// stack), then a spare one of the caller's if any, later ones come from malloc and all go at once
// with the arena. Nothing in it is freed alone, so its trees never go to freeParseTree.
class Arena {
public:
    Arena(void *first, size_t size, void *spare = nullptr, size_t spareSize = 0)
        : next_(static_cast<char *>(first)), end_(next_ + size), spare_(static_cast<char *>(spare)),
          spareSize_(spareSize) {}
    Arena(const Arena &) = delete;
    Arena &operator=(const Arena &) = delete;
    ~Arena() {
        while (blocks_ != nullptr) {
            Block *previous = blocks_->previous;
            free(blocks_);
            blocks_ = previous;
        }
    }

    // 'bytes' rounded up to 8, aligned to 8; nullptr when memory runs out.
    MSC_ALWAYS_INLINE void *Take(size_t bytes) {
        bytes = (bytes + 7) & ~size_t{7};
        if (MSC_LIKELY(static_cast<size_t>(end_ - next_) >= bytes)) {
            char *taken = next_;
            next_ += bytes;
            return taken;
        }
        return TakeFromNewBlock(bytes);
    }

    // True once a Take found no memory.
    bool failed() const { return failed_; }

    // The property leaves made in this arena, with the offsets of their names, in the order they
    // were made: both parsers make them in text order, the order in which GetPropertyList's walk
    // meets them. A list that cannot grow marks the arena failed.
    MSC_ALWAYS_INLINE void NoteProperty(int id, int offset) {
        if (MSC_UNLIKELY(noted_ == noteCapacity_) && !GrowNotes()) return;
        notes_[noted_++] = {id, offset};
    }
    const PropertyNote *notes() const { return notes_; }
    size_t noted() const { return noted_; }

    // A parse into the arena notes where it left an operand out (an empty text or group, a
    // logical keyword at the end) or made a property without a comparison around it: the only
    // trees of its making that CheckSQLCondition can find fault with besides their columns.
    void NoteLooseEnd() { looseEnd_ = true; }
    bool looseEnd() const { return looseEnd_; }

    // The first comparison on upnp:class and on @refID that the parse made, in text order: in a
    // tree without loose ends, the conditions FindConditionNode finds. For a comparison whose
    // left operand is a property leaf.
    MSC_ALWAYS_INLINE void NoteComparison(ParseTreeNode *comparison) {
        int id = comparison->left->propertyId;
        if (id == PROP_UPNP_CLASS && classCondition_ == nullptr) classCondition_ = comparison;
        if (id == PROP_REFID && refIdCondition_ == nullptr) refIdCondition_ = comparison;
    }
    ParseTreeNode *classCondition() const { return classCondition_; }
    ParseTreeNode *refIdCondition() const { return refIdCondition_; }

    // The notes as they stand, and back to them: a parse whose tree is thrown away leaves no notes
    // behind for the parse that follows it (its memory stays taken until the arena goes).
    struct NotesMark {
        size_t noted;
        bool looseEnd;
        ParseTreeNode *classCondition;
        ParseTreeNode *refIdCondition;
    };
    NotesMark MarkNotes() const { return {noted_, looseEnd_, classCondition_, refIdCondition_}; }
    void ForgetNotesSince(const NotesMark &mark) {
        noted_ = mark.noted;
        looseEnd_ = mark.looseEnd;
        classCondition_ = mark.classCondition;
        refIdCondition_ = mark.refIdCondition;
    }

private:
    struct Block {
        Block *previous;
        size_t padding;  // Keeps what follows 16-byte aligned.
    };
    void *TakeFromNewBlock(size_t bytes);
    bool GrowNotes();

    static constexpr size_t kInlineNotes = 32;  // Real criteria name a handful of properties.
    PropertyNote inlineNotes_[kInlineNotes];
    PropertyNote *notes_ = inlineNotes_;
    size_t noted_ = 0;
    size_t noteCapacity_ = kInlineNotes;
    bool looseEnd_ = false;
    ParseTreeNode *classCondition_ = nullptr;
    ParseTreeNode *refIdCondition_ = nullptr;
    char *next_;
    char *end_;
    char *spare_;
    size_t spareSize_;
    bool failed_ = false;
    Block *blocks_ = nullptr;
    size_t nextBlock_ = 16384;  // Doubles with each block: a long text costs few mallocs.
};

// Storage from 'arena' when kInArena, else from the heap: a parse makes that choice once.
template <bool kInArena>
MSC_ALWAYS_INLINE inline void *TakeStorage(size_t size, Arena *arena) {
    if constexpr (kInArena) {
        return arena->Take(size);
    } else {
        (void)arena;
        return malloc(size);
    }
}

// A node with every field given (cleared by default); nullptr when memory runs out.
template <bool kInArena>
MSC_ALWAYS_INLINE inline ParseTreeNode *NewNodeIn(NodeKind kind, Arena *arena, ParseTreeNode *first = nullptr,
                                                  ParseTreeNode *right = nullptr, int opId = 0) {
    auto *node = static_cast<ParseTreeNode *>(TakeStorage<kInArena>(sizeof(ParseTreeNode), arena));
    if (node != nullptr) *node = ParseTreeNode{static_cast<uint32_t>(kind), {first}, right, opId};
    return node;
}

inline ParseTreeNode *NewNode(NodeKind kind) { return NewNodeIn<false>(kind, nullptr); }

// An operator node with its operands, each field written once; nullptr when memory runs out.
template <bool kInArena>
MSC_ALWAYS_INLINE inline ParseTreeNode *NewOperatorIn(int opId, ParseTreeNode *left, ParseTreeNode *right,
                                                      Arena *arena) {
    return NewNodeIn<kInArena>(NODE_OPERATOR, arena, left, right, opId);
}

// NewNode from 'arena', or from the heap when it is null.
inline ParseTreeNode *NewNode(NodeKind kind, Arena *arena) {
    return arena == nullptr ? NewNodeIn<false>(kind, arena) : NewNodeIn<true>(kind, arena);
}

// A property leaf for the name at 'offset' of the text; one in an arena is noted there
// (Arena::NoteProperty).
template <bool kInArena>
MSC_ALWAYS_INLINE inline ParseTreeNode *NewPropertyLeafIn(int propertyId, int offset, Arena *arena) {
    ParseTreeNode *leaf = NewNodeIn<kInArena>(NODE_PROPERTY, arena);
    if (leaf == nullptr) return nullptr;
    leaf->propertyId = propertyId;
    if constexpr (kInArena) arena->NoteProperty(propertyId, offset);
    return leaf;
}

inline ParseTreeNode *NewPropertyLeaf(int propertyId, int offset, Arena *arena) {
    return arena == nullptr ? NewPropertyLeafIn<false>(propertyId, offset, arena)
                            : NewPropertyLeafIn<true>(propertyId, offset, arena);
}

// Frees a heap tree; a tree in an arena goes with the arena.
void FreeTree(ParseTreeNode *tree, Arena *arena);

// Copies from[0..n-1] with an N-byte load and store at each end of it (n from N to 2N), which
// may overlap and touch nothing outside the n bytes.
template <size_t N>
MSC_ALWAYS_INLINE inline void CopyBothEnds(char *to, const char *from, size_t n) {
    char head[N], tail[N];
    memcpy(head, from, N);
    memcpy(tail, from + n - N, N);
    memcpy(to, head, N);
    memcpy(to + n - N, tail, N);
}

// Copies n bytes. Values are nearly always short (class names such as
// "object.container.album.musicAlbum" the longest): up to 32 bytes take two loads and stores.
MSC_ALWAYS_INLINE inline void CopyValueText(char *to, const char *from, size_t n) {
    if (n >= 16) {
        if (n > 32) {
            memcpy(to, from, n);
        } else {
            CopyBothEnds<16>(to, from, n);
        }
    } else if (n >= 8) {
        CopyBothEnds<8>(to, from, n);
    } else if (n >= 4) {
        CopyBothEnds<4>(to, from, n);
    } else if (n >= 2) {
        CopyBothEnds<2>(to, from, n);
    } else if (n == 1) {
        to[0] = from[0];
    }
}

// A value leaf owning a malloc'd copy of text[0..length-1] in at least 'room' bytes; nullptr
// when memory runs out, with nothing left allocated.
inline ParseTreeNode *NewValueLeaf(const char *text, size_t length, size_t room = 0) {
    auto *copy = static_cast<char *>(malloc(length + 1 > room ? length + 1 : room));
    if (copy == nullptr) return nullptr;
    CopyValueText(copy, text, length);
    copy[length] = '\0';
    ParseTreeNode *leaf = NewNode(NODE_VALUE);
    if (leaf == nullptr) {
        free(copy);
        return nullptr;
    }
    leaf->text = copy;
    return leaf;
}

// NewValueLeaf from 'arena' when kInArena, else from the heap.
template <bool kInArena>
MSC_ALWAYS_INLINE inline ParseTreeNode *NewValueLeafIn(const char *text, size_t length, size_t room, Arena *arena) {
    if constexpr (!kInArena) {
        return NewValueLeaf(text, length, room);
    } else {
        // The node and its text in one block: one bump of the arena.
        size_t textRoom = length + 1 > room ? length + 1 : room;
        auto *block = static_cast<char *>(arena->Take(sizeof(ParseTreeNode) + textRoom));
        if (block == nullptr) return nullptr;
        char *copy = block + sizeof(ParseTreeNode);
        CopyValueText(copy, text, length);
        copy[length] = '\0';
        auto *leaf = reinterpret_cast<ParseTreeNode *>(block);
        *leaf = ParseTreeNode{static_cast<uint32_t>(NODE_VALUE), {nullptr}, nullptr, 0};
        leaf->text = copy;
        return leaf;
    }
}

// NewValueLeaf from 'arena', or from the heap when it is null.
inline ParseTreeNode *NewValueLeaf(const char *text, size_t length, size_t room, Arena *arena) {
    return arena == nullptr ? NewValueLeafIn<false>(text, length, room, arena)
                            : NewValueLeafIn<true>(text, length, room, arena);
}

}  // namespace msc

#endif  // MSC_MEMORY_H
