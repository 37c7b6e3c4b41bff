// What a parse of either grammar tells its builder, and the builder that makes the parse tree.
// Never installed.
#ifndef MSC_TREE_BUILDER_H
#define MSC_TREE_BUILDER_H

#include "Lexer.h"

namespace msc {

// What a parse tells its builder, in the order of the text. A builder provides:
//   Slot                       where the operand being read goes
//   void Clear(Slot)           an operand begins there
//   bool LooseEnd()            an operand is left out (an empty range, a logical keyword at the
//                              end) or a property has no comparison around it
//   bool Property(int id, int offset, Slot) a property, named at 'offset', begins an operand
//   bool Logical(int opId, Slot &)          and/or after the operand in the slot; the slot
//                                           becomes its right operand
//   bool Comparison(Lexer &, int opId, Token value, bool identifier, Slot, bool first,
//                   const char *literal)
//                              the operand in the slot compared with a value; 'first' for the
//                              one right after its property, 'identifier' for a value that
//                              becomes an @id number, 'literal' (or null) the text that the value
//                              stands for (the standard grammar's "true" and "false" of exists)
//   bool OpenGroup(Slot &), void CloseGroup()    a group; the slot becomes its contents'
//   bool MatchAll(Slot)        the standard grammar's "*": a condition that every object meets
//   kGroupClosesFirst          whether the classic parse reads a group only once it knows that
//                              the group closes: what the builder takes while it reads shows
//                              after a failure (else the parse learns it as it reads the group)
// A false result stops the parse, which then fails with SEARCH_PARSE_OUT_OF_MEMORY at the token:
// the tree builder runs out of memory; the SQL builder either does, or meets what only a tree can
// answer, which it tells its caller itself (SqlBuilder::needsTree).
// The builder of the parse tree, in the arena when kInArena (chosen once per parse rather than
// once per node), else on the heap.
template <bool kInArena>
class TreeBuilder {
public:
    using Slot = ParseTreeNode **;
    // A failed parse takes no nodes for a group that does not close.
    static constexpr bool kGroupClosesFirst = true;

    TreeBuilder(Arena *arena, ParseNotes *notes) : arena_(arena), notes_(notes) {}

    void Clear(Slot slot) { *slot = nullptr; }
    bool LooseEnd() { return true; }
    bool Property(int id, int offset, Slot slot) {
        *slot = NewPropertyLeafIn<kInArena>(id, arena_);
        if constexpr (kInArena) notes_->NoteProperty(id, offset);
        return *slot != nullptr;
    }
    bool Logical(int opId, Slot &slot) {
        ParseTreeNode *node = NewOperatorIn<kInArena>(opId, *slot, nullptr, arena_);
        if (node == nullptr) return false;
        *slot = node;
        slot = &node->right;
        return true;
    }
    MSC_ALWAYS_INLINE bool Comparison(Lexer &lexer, int opId, Token text, bool identifier, Slot slot, bool /*first*/,
                                      const char *literal = nullptr) {
        ParseTreeNode *value = lexer.ValueLeafIn<kInArena>(text, identifier, literal);
        if (value == nullptr) return false;
        ParseTreeNode *comparison = NewOperatorIn<kInArena>(opId, *slot, value, arena_);
        if (comparison == nullptr) {
            FreeTree(value, arena_);
            return false;
        }
        *slot = comparison;
        return true;
    }
    bool OpenGroup(Slot &slot) {
        ParseTreeNode *group = NewNodeIn<kInArena>(NODE_GROUP, arena_);
        if (group == nullptr) return false;
        *slot = group;
        slot = &group->inner;
        return true;
    }
    void CloseGroup() {}
    // The constant comparison that is always true, as the always-true rewrite makes it.
    bool MatchAll(Slot slot) {
        ParseTreeNode *one = NewValueLeafIn<kInArena>(kConstantText[1], 1, 0, arena_);
        ParseTreeNode *other = one != nullptr ? NewValueLeafIn<kInArena>(kConstantText[1], 1, 0, arena_) : nullptr;
        *slot = other != nullptr ? NewOperatorIn<kInArena>(kConstantOperator, one, other, arena_) : nullptr;
        if (*slot != nullptr) return true;
        FreeTree(one, arena_);
        FreeTree(other, arena_);
        return false;
    }

private:
    Arena *arena_;
    ParseNotes *notes_;  // in an arena only
};

}  // namespace msc

#endif  // MSC_TREE_BUILDER_H
