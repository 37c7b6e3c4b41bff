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

private:
    struct Block {
        Block *previous;
        size_t size;  // Its bytes, header included; also keeps what follows 16-byte aligned.
    };
    // The first block from the heap; each next one doubles the last, so a long text costs few mallocs.
    static constexpr size_t kFirstBlock = 16384;
    void *TakeFromNewBlock(size_t bytes);

    char *next_;
    char *end_;
    char *spare_;
    size_t spareSize_;
    bool failed_ = false;
    Block *blocks_ = nullptr;
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

// A property leaf.
template <bool kInArena>
MSC_ALWAYS_INLINE inline ParseTreeNode *NewPropertyLeafIn(int propertyId, Arena *arena) {
    ParseTreeNode *leaf = NewNodeIn<kInArena>(NODE_PROPERTY, arena);
    if (leaf != nullptr) leaf->propertyId = propertyId;
    return leaf;
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
