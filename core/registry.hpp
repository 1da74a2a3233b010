// The datatype registry: for every type id, the type's name and a row of
// action slots holding the functions the type supplies. A value's behaviour is
// found by its type id and the action number in constant time; a slot of 0
// means the type does not support the action.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstddef>
#include <cstdint>

namespace kel {

// Action numbers, shared by serialised data, the registry and the actions table.
enum ActionId : uint8_t {
    A_MAKE = 1, A_RANDOM, A_REFLECT, A_TO, A_FORM, A_MOLD,
    A_EVAL_PATH,  // path selection; no word of its own
    A_UNUSED,     // never filled for any type
    A_COMPARE,    // comparison; no word of its own
    A_ABSOLUTE, A_ADD, A_DIVIDE, A_MULTIPLY, A_NEGATE, A_POWER, A_REMAINDER, A_ROUND,
    A_SUBTRACT, A_EVEN_Q, A_ODD_Q, A_AND_T, A_COMPLEMENT, A_OR_T, A_XOR_T,
    A_APPEND, A_AT, A_BACK, A_CHANGE, A_CLEAR, A_COPY, A_FIND, A_HEAD, A_HEAD_Q,
    A_INDEX_Q, A_INSERT, A_LENGTH_Q, A_MOVE, A_NEXT, A_PICK, A_POKE, A_PUT, A_REMOVE,
    A_REVERSE, A_SELECT, A_SORT, A_SKIP, A_SWAP, A_TAIL, A_TAIL_Q, A_TAKE, A_TRIM,
    A_CREATE, A_CLOSE, A_DELETE, A_MODIFY, A_OPEN, A_OPEN_Q, A_QUERY, A_READ,
    A_RENAME, A_UPDATE, A_WRITE,
};
constexpr int ACTION_COUNT = 62;         // slots every registration supplies
constexpr int ACTION_ROW_SLOTS = 256;    // slots per type in the action table
static_assert(A_WRITE == ACTION_COUNT, "actions are numbered 1 to 62");

// A slot holds a plain function pointer of the generic type; callers cast it to
// the action's own function type below before calling it.
using ActionFn = void (*)();

// Registration value of a slot that takes the parent's function as it stands
// when the child registers. Inline, so that it is set before any table of
// slots defined after it in the same source file.
inline const ActionFn ACTION_INHERIT = reinterpret_cast<ActionFn>(intptr_t(-1));

// Casts a typed action function for a registration table.
template <class F> inline ActionFn action_fn(F f) { return reinterpret_cast<ActionFn>(f); }

// Registration value of a slot the type does not support, in a table whose
// actions without a row are inherited.
inline const ActionFn ACTION_NONE = nullptr;

// What the actions without a row in a type's table get.
enum ActionDefault : uint8_t { ACTIONS_UNSUPPORTED, ACTIONS_INHERITED };

// One row of a type's action table: an action, or a run of consecutive
// actions from first to last, and the type's function for it (of the
// action's function type below), ACTION_INHERIT or ACTION_NONE.
struct ActionRow {
    uint8_t first;
    uint8_t last;
    ActionFn fn;
    template <class F>
    ActionRow(ActionId a, F* f) : first(a), last(a), fn(reinterpret_cast<ActionFn>(f)) {}
    template <class F>
    ActionRow(ActionId from, ActionId to, F* f)
        : first(from), last(to), fn(reinterpret_cast<ActionFn>(f)) {}
};

// ---- function types of the actions, by slot ------------------------------
// Arguments follow the action's parameters, then one flag per refinement
// without an argument and one argument-cell address per refinement with one;
// the address of a refinement that was not given is null.

// form (5), mold (6): value, target string, /only, /all, /flat, whether a
// /part limit was given, the remaining length budget and the indentation level
// (4 spaces per level). Returns the remaining budget; a part limit counts as
// reached when it was given and the budget is 0 or less.
using FormMoldFn = int32_t (*)(const Cell* value, Cell* target, bool only, bool all,
                               bool flat, bool part, int32_t budget, int32_t indent);

// compare (9): -1, 0 or 1, or COMPARE_INCOMPARABLE; op is a CompareOp.
using CompareFn = int32_t (*)(const Cell* value1, const Cell* value2, int32_t op);

// make (1), to (4): prototype (or the datatype given), spec, the type id the
// lookup used. Returns the result cell, which is the prototype cell written in
// place or a constant cell; the caller copies it into the result slot.
using MakeToFn = const Cell* (*)(Cell* proto, const Cell* spec, uint8_t type);

// random (2): writes its result into the value's cell.
using RandomFn = void (*)(Cell* value, bool seed, bool secure, bool only);

// absolute .. xor~ with two operands (add, divide, multiply, power, remainder,
// subtract, and~, or~, xor~): the result replaces the first operand.
using ArithmeticFn = void (*)(Cell* value1, const Cell* value2);

// complement (22): returns the result cell (usually the value, changed in place).
using ComplementFn = const Cell* (*)(Cell* value);

// clear (29): writes its result into the series cell.
using ClearFn = void (*)(Cell* series);

// The refinements of find (31) and select (44), in the order of their specs:
// /part length /only /case /same /any /with wild /skip size /last /reverse,
// and for find alone /tail /match (select leaves both false). The argument of
// a refinement that was not given is null.
struct FindOptions {
    Cell* part = nullptr;
    bool only = false;
    bool case_ = false;
    bool same = false;
    bool any = false;
    Cell* with = nullptr;
    Cell* skip = nullptr;
    bool last = false;
    bool reverse = false;
    bool tail = false;
    bool match = false;
};

// find (31): series value, then its refinements.
using FindFn = const Cell* (*)(Cell* series, const Cell* value, const FindOptions& options);

// length? (36): the length, or -1 for "none".
using LengthFn = int32_t (*)(const Cell* series);

// remove (42): series /part length /key key-arg; writes its result into the series cell.
using RemoveFn = void (*)(Cell* series, Cell* part, Cell* key);

// select (44): series value, then its refinements (tail and match unread).
using SelectFn = const Cell* (*)(Cell* series, const Cell* value, const FindOptions& options);

// take (50): series /part length /deep /last.
using TakeFn = const Cell* (*)(Cell* series, Cell* part, bool deep, bool last);

// absolute (10), negate (14): the result replaces the value.
using UnaryFn = void (*)(Cell* value);

// round (17): n /to scale /even /down /half-down /floor /ceiling /half-ceiling;
// the result replaces the value.
using RoundFn = void (*)(Cell* value, const Cell* scale, bool even, bool down, bool half_down,
                         bool floor, bool ceiling, bool half_ceiling);

// even? (19), odd? (20).
using EvenOddFn = bool (*)(const Cell* value);

// trim (51): series /head /tail /auto /lines /all /with str; writes its result
// into the series cell.
using TrimActionFn = void (*)(Cell* series, bool head, bool tail, bool auto_, bool lines,
                              bool all, const Cell* with);

// create (52), close (53), delete (54), open? (57), query (58), update (61):
// the result replaces the value.
using PortFn = void (*)(Cell* port);

// open (56): port /new /read /write /seek /allow access.
using OpenFn = void (*)(Cell* port, bool new_, bool read, bool write, bool seek,
                        const Cell* allow);

// read (59): source /part length /seek index /binary /lines /info /as encoding.
using ReadFn = void (*)(Cell* source, const Cell* part, const Cell* seek, bool binary,
                        bool lines, bool info, const Cell* as);

// rename (60): from to; the result replaces from.
using RenameFn = void (*)(Cell* from, const Cell* to);

// write (62): destination data /binary /lines /info /append /part length
// /seek index /allow access /as encoding.
using WriteFn = void (*)(Cell* destination, const Cell* data, bool binary, bool lines,
                         bool info, bool append, const Cell* part, const Cell* seek,
                         const Cell* allow, const Cell* as);

// Operation codes of comparison.
enum CompareOp : int32_t {
    CMP_EQUAL = 0, CMP_NOT_EQUAL, CMP_STRICT_EQUAL, CMP_LESSER, CMP_LESSER_OR_EQUAL,
    CMP_GREATER, CMP_GREATER_OR_EQUAL, CMP_SORT, CMP_SORT_CASE, CMP_SAME,
    CMP_FIND_MODE1, CMP_FIND_MODE2, CMP_FIND,
};
constexpr int32_t COMPARE_INCOMPARABLE = -2;

// Whether two values whose order is order (below, at or above 0) satisfy
// the comparison; every comparison but the four orders and not-equal asks
// for 0. Read from a table rather than a switch, as it stands in the
// evaluator's integer comparisons: bit order + 1 of the comparison's
// nibble tells whether an order of -1, 0 or 1 satisfies it.
inline bool comparison_holds(int32_t comparison, int32_t order) {
    constexpr auto table = [] {
        uint64_t t = 0;
        for (uint32_t c = 0; c < 16; c++) t |= uint64_t(0x2) << (c * 4);  // order == 0
        auto set = [&t](uint32_t c, uint64_t bits) {
            t = (t & ~(uint64_t(0xF) << (c * 4))) | bits << (c * 4);
        };
        set(CMP_NOT_EQUAL, 0x5);
        set(CMP_LESSER, 0x1);
        set(CMP_LESSER_OR_EQUAL, 0x3);
        set(CMP_GREATER, 0x4);
        set(CMP_GREATER_OR_EQUAL, 0x6);
        return t;
    }();
    int32_t sign = (order > 0) - (order < 0);
    if (uint32_t(comparison) >= 16) return sign == 0;
    return (table >> (uint32_t(comparison) * 4 + uint32_t(sign + 1))) & 1;
}

// ---- the registry --------------------------------------------------------

// One entry of the type-name table.
struct DatatypeName {
    const char* name;  // NUL-terminated, with its final "!"; nullptr while unregistered
    uint32_t length;   // characters of the name without the "!"
    uint32_t word;     // the word interned for the full name; 0 until made
};

// Status a process ends with after a registration with a wrong slot count.
constexpr int EXIT_DATATYPE_ERROR = 1;

// Takes both tables from the general-purpose heap, every slot 0 and every name
// unregistered. Runs once before the first registration.
void datatype_registry_init();

// Registers a type: its id (1..56), its parent's id (0 for none), its name with
// the "!", and its action slots (each a function, 0, or ACTION_INHERIT).
// A slot count other than 62 writes the three "*** Datatype Error" lines to
// standard output and ends the process with EXIT_DATATYPE_ERROR.
void datatype_register(uint8_t type, uint8_t parent, const char* name,
                       const ActionFn* slots, uint32_t slot_count);

// Registers a type from its table of action rows; an action without a row
// is unsupported, or with ACTIONS_INHERITED takes the parent's function. A
// row naming no action (outside 1..62, or a run that ends before it starts)
// or one named twice is a fault of the table: it writes the "*** Datatype
// Error" lines, with the row's first action as the count found, and ends the
// process as a wrong slot count does.
void datatype_register(uint8_t type, uint8_t parent, const char* name, const ActionRow* rows,
                       size_t row_count, ActionDefault absent);
template <size_t N>
inline void datatype_register(uint8_t type, uint8_t parent, const char* name,
                              const ActionRow (&rows)[N],
                              ActionDefault absent = ACTIONS_UNSUPPORTED) {
    datatype_register(type, parent, name, rows, N, absent);
}

// Sets action slots of a registered type from a layer above the datatypes
// (io/ gives file! the actions that reach files), from rows of functions as in
// datatype_register; a row naming no action is the same fault. A type
// registered earlier with this one as parent keeps the slots it copied; a
// type not registered raises internal error limit-hit.
void datatype_actions_set(uint8_t type, const ActionRow* rows, size_t row_count);
template <size_t N> inline void datatype_actions_set(uint8_t type, const ActionRow (&rows)[N]) {
    datatype_actions_set(type, rows, N);
}

// ---- hooks -------------------------------------------------------------------
// The few operations of a type that the lexer and the series code
// need, for types whose modules lie above them: each module sets its hooks
// when it registers, and core reaches them here by type id.

// Reads the literal text of a value, from start up to end (exclusive): writes
// the value into out and returns true, or returns false when the text is not
// a literal of the type.
using LiteralScanFn = bool (*)(const uint8_t* start, const uint8_t* end, Cell* out);
// Makes the value a bracketed literal stands for from the block of its items:
// writes it into out (on the data stack) and returns true, or returns false
// with out untouched when the items do not make one.
using ItemsLiteralFn = bool (*)(const Cell* items, Cell* out);
// Writes the element at an absolute index of a series of the type into out.
using ElementFn = void (*)(const Cell* series, uint32_t index, Cell* out);

struct DatatypeHooks {
    LiteralScanFn scan = nullptr;           // the lexer's reader of the type's literals
    ItemsLiteralFn items_literal = nullptr; // the lexer's maker of a bracketed literal
    ElementFn element = nullptr;            // an element as a value
};

// Sets all hooks of a type at once (those not given null). A type id outside
// 1..TYPE_COUNT-1 raises internal error limit-hit.
void datatype_hooks_set(uint8_t type, const DatatypeHooks& hooks);
// The hooks of every id a type byte can hold, set only by datatype_hooks_set;
// read on the lexer's paths, hence inline.
extern DatatypeHooks datatype_hook_table[256];
// The hooks of a type; all null for a type that set none.
inline const DatatypeHooks& datatype_hooks(uint8_t type) { return datatype_hook_table[type]; }

// Makes the word of every registered type name (ids 1 to the highest id).
void datatype_build_words();

// The function of action n (1..62) for a type, or 0.
ActionFn action_slot(uint8_t type, int action);
// The same, as the action's own function type F (FormMoldFn for form, ...).
template <class F> inline F action_slot_as(uint8_t type, int action) {
    return reinterpret_cast<F>(action_slot(type, action));
}

// The name entry of a type id; its name is nullptr while the id is unregistered.
const DatatypeName* datatype_name(uint8_t type);

// The highest type id registered so far.
uint8_t datatype_highest_id();

// ---- datatype! -----------------------------------------------------------

// The type id a datatype! value stands for (word 1).
inline uint32_t datatype_id(const Cell* datatype) { return datatype->w1; }
inline void datatype_id_set(Cell* datatype, uint32_t id) { datatype->w1 = id; }
// A datatype! value of the given type id; the header is exactly T_DATATYPE.
void datatype_make_at(Cell* cell, uint8_t id);
// Appended at the tail of a block series; valid until the next allocation.
Cell* datatype_make_in(Node block, uint8_t id);
// Pushed on the data stack.
Cell* datatype_push(uint8_t id);

int32_t datatype_form(const Cell* value, Cell* target, bool only, bool all, bool flat,
                      bool part, int32_t budget, int32_t indent);
int32_t datatype_mold(const Cell* value, Cell* target, bool only, bool all, bool flat,
                      bool part, int32_t budget, int32_t indent);
int32_t datatype_compare(const Cell* value1, const Cell* value2, int32_t op);

void init_datatype();

} // namespace kel
