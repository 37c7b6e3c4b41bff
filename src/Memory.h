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

// One node of the given kind with every field cleared; nullptr when memory runs out.
inline ParseTreeNode *NewNode(NodeKind kind) {
    auto *node = static_cast<ParseTreeNode *>(malloc(sizeof(ParseTreeNode)));
    if (node != nullptr) *node = ParseTreeNode{static_cast<uint32_t>(kind), {nullptr}, nullptr, 0};
    return node;
}

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

}  // namespace msc

#endif  // MSC_MEMORY_H
