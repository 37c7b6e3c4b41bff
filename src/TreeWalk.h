// The one depth-first walk of a parse tree; every pass over a tree is a visitor on it.
#ifndef MSC_TREE_WALK_H
#define MSC_TREE_WALK_H

#include <type_traits>

#include "mysearchcriteria.h"

namespace msc {

// What a visitor's Enter tells the walk: go on into the node's operands, leave them out, or
// end the whole walk.
enum class Step { kDescend, kSkip, kStop };

// Which operand a parent hands its value down to.
enum class Side { kLeft, kRight, kInner };

// The hooks a visitor provides, all called in the order of the criteria text. A visitor derives
// from WalkHooks<Node, Down> and hides the defaults it needs otherwise:
//   Node        ParseTreeNode or const ParseTreeNode
//   Down        what a node hands to its operands (depth, polarity, output slot...)
//   Step Enter(Node *node, Down)      an operator or group, before anything below it
//   Down Operand(Node *parent, Down, Side)   the value for one operand, asked just before its walk
//   bool Between(Node *op, Down, Node *&right)   after the left operand; sets the right operand
//                                     to walk next (read after this call, which may replace it)
//   bool Leave(Node *group, Down)     after a group's contents
//   bool Leaf(Node *node, Down)       anything else: a null operand, a property or value leaf,
//                                     a node of unknown kind
// A false result (or Step::kStop) ends the whole walk, and Walk returns false.
template <typename NodeT, typename DownT>
struct WalkHooks {
    using Node = NodeT;
    using Down = DownT;
    // Walks that free the nodes as they go set this: see Walk.
    static constexpr bool kConsumes = false;

    Step Enter(Node *, Down) { return Step::kDescend; }
    Down Operand(Node *, Down down, Side) { return down; }
    bool Between(Node *op, Down, Node *&right) {
        right = op->right;
        return true;
    }
    bool Leave(Node *, Down) { return true; }
};

// True when V hides the default Leave, which does nothing.
template <typename V>
constexpr bool HasLeave() {
    using Base = WalkHooks<typename V::Node, typename V::Down>;
    return !std::is_same_v<decltype(&V::Leave), bool (Base::*)(typename V::Node *, typename V::Down)>;
}

// Null operands, property and value leaves and nodes of unknown kind go to Leaf.
template <typename Node>
inline bool IsLeaf(const Node *node) {
    return node == nullptr || node->kind > NODE_OPERATOR;
}

template <typename V>
bool WalkNested(typename V::Node *node, V &v, typename V::Down down);

// An operand. The usual left operand of and/or, a comparison, is walked here without a call
// as far as its leaves go: only a right operand that is no leaf costs one.
template <typename V>
inline bool WalkOperand(typename V::Node *node, V &v, typename V::Down down) {
    if (IsLeaf(node)) return v.Leaf(node, down);
    if (node->kind != NODE_OPERATOR || !IsLeaf(node->left)) return WalkNested(node, v, down);
    Step step = v.Enter(node, down);
    if (step != Step::kDescend) return step == Step::kSkip;
    if (!v.Leaf(node->left, v.Operand(node, down, Side::kLeft))) return false;
    typename V::Down rightDown = v.Operand(node, down, Side::kRight);
    typename V::Node *right;
    if (!v.Between(node, down, right)) return false;
    return IsLeaf(right) ? v.Leaf(right, rightDown) : WalkNested(right, v, rightDown);
}

// Walks 'node' with the visitor 'v'. Follows right operands in a loop, so an and/or list, which
// the parsers hang on the right, costs no stack however long it is.
//
// Depth: a reading walk recurses into left operands and group contents, so its stack grows
// with the nesting the parsers bound (MSC_MAX_NESTING), or with the left nesting of a tree the
// host built. A consuming walk (kConsumes: Between and Leave free the node they are given)
// never recurses, whatever the shape: an operator or group whose operand is walked first
// becomes a cell of a list of pending nodes, linked through its left/inner field, which the
// walk has read by then; the cell's Between or Leave runs when it is popped, with the Down of
// the chain that ended (consuming walks hand nothing down).
template <typename V>
inline bool Walk(typename V::Node *node, V &v, typename V::Down down) {
    using Node = typename V::Node;
    Node *pending = nullptr;  // consuming walks only
    for (;;) {
        if (IsLeaf(node)) {
            if (!v.Leaf(node, down)) return false;
        } else {
            Step step = v.Enter(node, down);
            if (step == Step::kStop) return false;
            if (step == Step::kDescend) {
                Side side = node->kind == NODE_GROUP ? Side::kInner : Side::kLeft;
                Node *first = side == Side::kInner ? node->inner : node->left;
                typename V::Down firstDown = v.Operand(node, down, side);
                if constexpr (!V::kConsumes && !HasLeave<V>()) {
                    // Nothing is left to do for the group after its contents: they are the rest
                    // of this walk, not a walk of their own.
                    if (side == Side::kInner) {
                        node = first;
                        down = firstDown;
                        continue;
                    }
                }
                bool done;
                if constexpr (V::kConsumes) {
                    if (!IsLeaf(first)) {
                        node->left = pending;  // for a group the same field as inner
                        pending = node;
                        node = first;
                        continue;
                    }
                    done = v.Leaf(first, firstDown);
                } else {
                    done = WalkOperand(first, v, firstDown);
                }
                if (!done) return false;
                if (side == Side::kLeft) {
                    typename V::Down rightDown = v.Operand(node, down, Side::kRight);
                    if (!v.Between(node, down, node)) return false;
                    down = rightDown;
                    continue;
                }
                if (!v.Leave(node, down)) return false;
            }
        }
        if constexpr (!V::kConsumes) return true;
        // The chain is done: the next pending node's right operand is next, or a group ends.
        for (;;) {
            if (pending == nullptr) return true;
            Node *cell = pending;
            pending = cell->left;
            if (cell->kind == NODE_GROUP) {
                v.Leave(cell, down);
                continue;
            }
            v.Between(cell, down, node);
            break;
        }
    }
}

// The recursion of a reading walk, out of line so that the walk of the outermost and/or list,
// nearly every tree whole, is compiled into the pass that starts it.
template <typename V>
MSC_NOINLINE bool WalkNested(typename V::Node *node, V &v, typename V::Down down) {
    return Walk(node, v, down);
}

}  // namespace msc

#endif  // MSC_TREE_WALK_H
