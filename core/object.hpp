// object!: a context of kind object whose values live in a block, a class id
// and a record of where its change handlers sit.
//
// The object cell: word 1 the context node (kind object, object flag), word 2
// the class id, word 3 the node of the on-change info, or 0 when the object
// has no handler. The context's owner cell holds a copy of the object cell.
//
// The on-change info is a block of two cells, one for on-change* and one for
// on-deep-change*. Each holds in word 1 the handler's slot index << 16 | the
// stack cells its /local part takes (index 0xFFFF: no such handler) and in
// word 2 the node of the handler's spec, which the info keeps alive so that a
// recorded spec is never confused with a later series that reuses its node.
//
// Cells handed to functions that may allocate or evaluate must not lie in a
// series buffer: keep them on the data stack or in a root holder.
#pragma once
#include "core/context.hpp"
#include "runtime/cell.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

struct FindOptions;  // core/registry.hpp

constexpr uint32_t OBJECT_CLASS_ERROR = 1;          // class of every error! value
constexpr uint32_t OBJECT_CLASS_RUNTIME = 1000000;  // classes made at run time count up from here
constexpr uint32_t HANDLER_ABSENT = 0xFFFF;         // slot index of an absent handler

// Positions of the two handlers in the on-change info.
enum ObjectHandler : uint32_t { HANDLER_ON_CHANGE = 0, HANDLER_ON_DEEP_CHANGE = 1 };

// The payload of an object cell.
inline Node object_context(const Cell* object) { return object->w1; }
inline uint32_t object_class(const Cell* object) { return object->w2; }
inline Node object_info(const Cell* object) { return object->w3; }
inline void object_info_set(Cell* object, Node info) { object->w3 = info; }
// The info word itself, for the collector to re-point.
inline Node* object_info_slot(Cell* object) { return &object->w3; }
// Writes the whole payload, the header kept.
inline void object_set(Cell* object, Node context, uint32_t class_id, Node info) {
    object->w1 = context;
    object->w2 = class_id;
    object->w3 = info;
}
// The handler's slot index recorded in an on-change info cell (HANDLER_ABSENT
// when there is none).
inline uint32_t object_handler_slot(const Cell* entry) { return entry->w1 >> 16; }

// The next run-time class id: 1,000,001 first.
uint32_t object_class_new();

// ---- making ---------------------------------------------------------------------------

// A fresh object: a new context of size slots, class id 0, no on-change info.
void object_make_at(Cell* out, uint32_t size);
// Pushes an object cell for an existing context; copies it into the owner cell.
Cell* object_push(Node context, uint32_t class_id, Node info);
// Builds the on-change info of the object from its on-change* and
// on-deep-change* fields (bad-field-set when one holds anything but a
// function! or routine!), records the object as owner of its series when it
// has an on-deep-change* handler, and copies the cell into the owner cell.
void object_finish(Cell* object);
// A copy of the object: a new context with a copy of the word list and of the
// value block, the class id kept, every function! re-made for the copy; with
// deep, series values are copied too. Written into out.
void object_copy(const Cell* object, bool deep, Cell* out);
// construct: a copy of the prototype (or a fresh object of 4 slots with a new
// class id when proto is null or none) filled from the block without
// evaluation; without only, the words true/yes/on, false/no/off and none
// become their values. The result is pushed.
Cell* object_construct(const Cell* proto, const Cell* block, bool only);

// Binds the block deep to the object (self meaning the object), evaluates it
// and drops its result; a pending exit of the block is carried on as an
// ExitSignal (core/exits.hpp). The object's written marks are kept.
void object_eval_body(const Cell* object, const Cell* block);

// ---- fields ---------------------------------------------------------------------------

// The value block's node, the field count.
Node object_values(const Cell* object);
uint32_t object_field_count(const Cell* object);
// The value of the word in the object (resolved lookup), or the shared none
// cell. Valid until the next allocation.
const Cell* object_select_field(const Cell* object, const Cell* word);
// Runs on-change* of the object with the word, the old and the new value
// (nothing when it has none); the handler's result is dropped.
void object_set_field(const Cell* object, const Cell* word, const Cell* old_value,
                      const Cell* new_value);
// The same with old and new taken from the two top stack cells.
void object_set_field_from_stack(const Cell* object, const Cell* word);
// Sets a bound word from the stack top, notifying the object it belongs to.
void word_set_from_stack(Cell* word);
// Assigns the value to the object's fields as the set native does: a block
// gives its values in order, an object its fields of the same names, anything
// else goes to every field. An unset value raises need-value unless
// any_unset; with only a block goes whole to every field; with some a none
// value leaves its field as it is. Each field set notifies on-change*.
struct ObjectSetOptions {
    bool any_unset;
    bool only;
    bool some;
};
void object_set_values(const Cell* object, const Cell* value, ObjectSetOptions options);
// Whether a value is an object of the class.
bool value_object_of_class_q(const Cell* value, uint32_t class_id);
bool word_object_of_class_q(const Cell* word, uint32_t class_id);

// ---- actions --------------------------------------------------------------------------

const Cell* object_make(Cell* proto, const Cell* spec, uint8_t type);
int32_t object_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent);
int32_t object_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent);
// The field lines of mold (shared with error!): each "name: value".
int32_t object_mold_fields(const Cell* value, Cell* target, bool all, bool flat, bool part,
                           int32_t budget, int32_t indent);
int32_t object_compare(const Cell* value1, const Cell* value2, int32_t op);
// Path selection (get when set_value is null); a get writes into out.
void object_eval_path(const Cell* parent, const Cell* element, const Cell* set_value,
                      const Cell* path, bool case_, Cell* out);
// The one-step path object/word without allocating: a get replaces the
// object cell with the field's value, a set (set_value given) writes the
// field and replaces the object cell with the value. False, with nothing
// changed, whenever the general path must run instead: the word is not a
// field, the field is unset, or the object has change handlers to notify.
bool object_path_step(Cell* object, const Cell* element, const Cell* set_value);

// The slot of a field remembered by context and symbol: its byte offset in
// the context's value block (index * sizeof(Cell)) and that block's node. A word list only grows, a context that
// keeps its values in a block is given that block when it is made and never
// another, and a node is freed or renumbered only by a collection, so an
// entry is right while collector_epoch is the one it was made in (the
// block's length is still checked: the offset may lie past its tail). written
// is the field_marks_generation in which a set through the entry left the
// field's word marked written, or found a context kind that keeps no marks
// (0: not known), so later sets skip the word list; clearing the marks of any
// context starts a new generation. Entries are 32 bytes, so that the two of
// a hash share one cache line.
struct alignas(32) FieldSlotGuess {
    Node context;
    uint32_t symbol;
    uint32_t epoch;
    uint32_t offset;
    Node values;
    uint32_t written;
};
extern uint32_t field_marks_generation;
constexpr uint32_t FIELD_SLOT_GUESS_BITS = 10;
extern FieldSlotGuess field_slot_guesses[1u << FIELD_SLOT_GUESS_BITS];
// Two entries share a hash, the newer first, so that two fields that hash
// alike do not push each other out at every access. The hash multiplies
// after combining: with the two products xored, two objects' same two
// fields would always collide in pairs.
inline FieldSlotGuess* field_slot_pair(Node context, uint32_t symbol) {
    uint32_t pair = ((context * 0x9E3779B1u + symbol) * 0x85EBCA77u) >> (33 - FIELD_SLOT_GUESS_BITS);
    return field_slot_guesses + (uintptr_t(pair) << 1);
}
// The entry remembered for the field, or null.
[[gnu::always_inline]] inline FieldSlotGuess* field_slot_guess(Node context, uint32_t symbol) {
    FieldSlotGuess* pair = field_slot_pair(context, symbol);
    for (FieldSlotGuess* g = pair; g < pair + 2; g++)
        if (g->context == context && g->symbol == symbol && g->epoch == collector_epoch) return g;
    return nullptr;
}
// The slot the guess remembers, or null when the value block is shorter.
[[gnu::always_inline]] inline Cell* remembered_slot(const FieldSlotGuess* guess) {
    SeriesBuffer* values = series_buffer(guess->values);
    if (guess->offset >= values->tail - values->head) return nullptr;
    return reinterpret_cast<Cell*>(values->head_ptr() + guess->offset);
}
// object_path_step for a get, with the remembered slot taken first.
[[gnu::always_inline]] inline bool object_path_get(Cell* object, const Cell* element) {
    const FieldSlotGuess* guess = field_slot_guess(object->w1, element->w2);
    if (!guess) return object_path_step(object, element, nullptr);
    const Cell* slot = remembered_slot(guess);
    if (!slot || cell_type(slot) == T_UNSET) return false;
    cell_copy(slot, object);
    return true;
}
// Whether a field's value is read as such by a path: neither unset (an
// error there) nor a function (a method, called there).
inline bool field_value_read_q(const Cell* value) {
    constexpr uint64_t refused = 1ull << T_UNSET | 1ull << T_NATIVE | 1ull << T_ACTION |
                                 1ull << T_FUNCTION | 1ull << T_ROUTINE;
    static_assert(TYPE_COUNT <= 64);
    return !((refused >> (cell_type(value) & 63)) & 1);
}
// The field of the object the element names, read into out when
// field_value_read_q: object_path_get without copying the object cell
// first. False otherwise; out may have been written then.
[[gnu::always_inline]] inline bool object_field_read(const Cell* object, const Cell* element,
                                                     Cell* out) {
    const FieldSlotGuess* guess = field_slot_guess(object->w1, element->w2);
    if (!guess) {
        cell_copy(object, out);
        return object_path_step(out, element, nullptr) && field_value_read_q(out);
    }
    const Cell* slot = remembered_slot(guess);
    if (!slot || !field_value_read_q(slot)) return false;
    *out = *slot;
    return true;
}
// object_path_step for a set whose written value is not wanted back, with
// the remembered slot taken first: the write alone once the field's word is
// known to need no mark.
[[gnu::always_inline]] inline bool object_field_write(const Cell* object, const Cell* element,
                                                      const Cell* value) {
    if (object_info(object)) return false;
    const FieldSlotGuess* guess = field_slot_guess(object->w1, element->w2);
    if (guess && guess->written == field_marks_generation) {
        Cell* slot = remembered_slot(guess);
        if (!slot) return false;
        *slot = *value;
        return true;
    }
    Cell copy = *object;
    return object_path_step(&copy, element, value);
}
// reflect: the result replaces the value.
void object_reflect(Cell* value, const Cell* field);
// copy: /part raises invalid-refine-arg; the copy replaces the value.
void object_copy_action(Cell* value, const Cell* part, bool deep, const Cell* types);
void object_put(Cell* value, const Cell* key, const Cell* new_value, bool case_);
const Cell* object_select(Cell* series, const Cell* value, const FindOptions& options);
// modify: the value is returned in field's place (written into object).
void object_modify(Cell* object, const Cell* field, const Cell* value);

// Registers object! and the collector's object marker, and installs the
// change notifications of contexts and of the ownership table.
void init_object();
// The marker alone (for tests that set up a runtime by hand).
void object_marker_register();

} // namespace kel
