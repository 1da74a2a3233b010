// port!: making a port from a spec and a scheme, printing it, and forwarding
// every action to the function of the same word in the port's actor object.
//
// A forwarded call runs in a frame of its own marked with the action's word:
// the port, then the action's arguments, then for each refinement (in the
// order of the action's spec) its flag as logic! followed by its arguments
// (none when the refinement is absent). The actor function's result becomes
// the action's result, written into the port's argument cell.
#include "datatypes/port.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/exits.hpp"
#include "core/function.hpp"
#include "core/interpreter.hpp"
#include "core/library_context.hpp"
#include "core/logic.hpp"
#include "core/object.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/word.hpp"
#include "datatypes/integer.hpp"
#include "runtime/collector.hpp"
#include <cstring>

namespace kel {

// ---- fields ------------------------------------------------------------------------------

// Position of the actor among a scheme object's fields (name, title, info,
// actor, awake).
constexpr uint32_t SCHEME_ACTOR = 3;

// The value cell of field i of an object, or null when it has fewer fields.
// Valid until the next allocation.
static Cell* field_at(const Cell* object, uint32_t i) {
    SeriesBuffer* b = series_buffer(object_values(object));
    if (i >= b->length()) return nullptr;
    return block_cells(b) + i;
}

// A copy of field i, none when the object has no such field.
static Cell field_value(const Cell* object, uint32_t i) {
    const Cell* slot = field_at(object, i);
    return slot ? *slot : none_cell;
}

// The value of a field of an object found by name, or none when the holder is
// no object. The holder must be rooted: interning the name may allocate.
static Cell object_field_named(const Cell* holder, const char* name) {
    CellRoot word(word_intern(name));
    if (cell_type(holder) != T_OBJECT) return none_cell;
    return *object_select_field(holder, &word.cell);
}

// The system object's field, none when either is missing.
static Cell system_field(const char* name) {
    CellRoot field(word_intern(name));
    CellRoot system_word(library_word("system"));
    const Cell* system = word_get(&system_word.cell);
    if (!system || cell_type(system) != T_OBJECT) return none_cell;
    return *object_select_field(system, &field.cell);
}

// The prototype of system/standard named by the field.
static Cell standard_prototype(const char* name) {
    CellRoot standard(system_field("standard"));
    return object_field_named(&standard.cell, name);
}

// The scheme object registered under the word: system/schemes is a block of
// name/scheme pairs (or an object whose fields are the schemes). None when
// the scheme is not registered.
static Cell scheme_find(const Cell* name) {
    Cell schemes = system_field("schemes");
    if (cell_type(&schemes) == T_OBJECT) return *object_select_field(&schemes, name);
    if (cell_type(&schemes) != T_BLOCK) return none_cell;
    uint32_t symbol = symbol_resolve(word_symbol(name));
    SeriesBuffer* b = series_buffer_of(&schemes);
    const Cell* cells = block_cells(b);
    for (uint32_t i = uint32_t(series_index(&schemes)); i + 1 < b->length(); i += 2) {
        uint8_t t = cell_type(&cells[i]);
        if (t >= T_WORD && t <= T_REFINEMENT && symbol_resolve(word_symbol(&cells[i])) == symbol)
            return cells[i + 1];
    }
    return none_cell;
}

// ---- make --------------------------------------------------------------------------------

// The spec object of a new port, pushed: a copy of an object spec, or the
// block made into an object on the URL-parts prototype.
static Cell* spec_push(const Cell* spec) {
    Cell* out = stack_push(&none_cell);
    if (cell_type(spec) == T_OBJECT) {
        object_copy(spec, false, out);
    } else if (cell_type(spec) == T_BLOCK) {
        *out = standard_prototype("url-parts");
        if (cell_type(out) != T_OBJECT) cell_copy(&none_cell, out);  // object_make makes a fresh one
        Cell* block = stack_push(spec);
        const Cell* made = object_make(out, block, T_OBJECT);
        cell_copy(made, out);
        stack_pop(1);
    } else {
        error_raise(ERR_NO_SCHEME, spec);
    }
    return out;
}

const Cell* port_make(Cell* proto, const Cell* spec_value, uint8_t) {
    Cell* given = stack_push(spec_value);
    Cell* spec = spec_push(given);
    Cell* scheme_word = stack_push(&none_cell);
    if (object_field_count(spec) > 0) *scheme_word = field_value(spec, 0);
    if (cell_type(scheme_word) != T_WORD) error_raise(ERR_NO_SCHEME, spec);
    Cell* scheme = stack_push(&none_cell);
    *scheme = scheme_find(scheme_word);
    if (cell_type(scheme) != T_OBJECT) error_raise(ERR_UNKNOWN_SCHEME, spec);
    Cell* actor = stack_push(&none_cell);
    *actor = field_value(scheme, SCHEME_ACTOR);
    if (cell_type(actor) != T_OBJECT && cell_type(actor) != T_HANDLE)
        error_raise(ERR_INVALID_ACTOR);

    Cell* port = stack_push(&none_cell);
    Cell prototype = standard_prototype("port");
    if (cell_type(&prototype) == T_OBJECT) {
        Cell* held = stack_push(&prototype);
        object_copy(held, false, port);
        stack_pop(1);
    }
    // A port needs its three leading fields even when the prototype is missing.
    if (cell_type(port) != T_OBJECT || object_field_count(port) <= PORT_ACTOR)
        error_raise(ERR_INVALID_PORT);
    cell_type_set(port, T_PORT);
    object_info_set(port, 0);  // a port has no change handlers
    cell_copy(port, context_owner(object_context(port)));
    cell_copy(spec, field_at(port, PORT_SPEC));
    cell_copy(scheme_word, field_at(port, PORT_SCHEME));
    cell_copy(actor, field_at(port, PORT_ACTOR));
    cell_copy(port, proto);
    data_stack.top = given;
    return proto;
}

// ---- printing ----------------------------------------------------------------------------

int32_t port_mold(const Cell* value, Cell* target, bool, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent) {
    if (const char* seen = cycles_detect(value, true)) {
        string_concatenate_bytes(target, seen, uint32_t(std::strlen(seen)));
        return budget - int32_t(std::strlen(seen));
    }
    CycleGuard guard(object_context(value));
    static const char head[] = "make port! [";
    string_concatenate_bytes(target, head, sizeof head - 1);
    budget -= int32_t(sizeof head - 1);
    budget = object_mold_fields(value, target, all, flat, part, budget, indent);
    string_concatenate_bytes(target, "]", 1);
    return budget - 1;
}

int32_t port_form(const Cell* value, Cell* target, bool, bool, bool, bool part, int32_t budget,
                  int32_t indent) {
    return port_mold(value, target, false, false, false, part, budget, indent);
}

// Ports are equal when they are the same port or their fields are equal as
// objects' fields are; they have no order beyond that of objects.
static int32_t port_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_PORT) return COMPARE_INCOMPARABLE;
    if (object_context(value1) == object_context(value2)) return 0;
    Cell a = *value1, b = *value2;
    cell_type_set(&a, T_OBJECT);
    cell_type_set(&b, T_OBJECT);
    return object_compare(&a, &b, op);
}

// ---- forwarding --------------------------------------------------------------------------

// The actor object of a port (its third field); anything else raises
// invalid-port.
static Cell port_actor(const Cell* port) {
    Cell actor = field_value(port, PORT_ACTOR);
    if (cell_type(&actor) != T_OBJECT) error_raise(ERR_INVALID_PORT);
    return actor;
}

// Opens the forwarded call of the action named: pushes the actor's function
// of that word (no-port-action when it holds none), marks its frame and
// pushes the port as the first argument. Returns the function's cell; the
// arguments follow with the push helpers below, then port_actor_call.
static Cell* port_forward(const char* action, const Cell* port) {
    CellRoot word(word_intern(action));
    Cell actor = port_actor(port);
    Cell* fn = stack_push(object_select_field(&actor, &word.cell));
    if (cell_type(fn) != T_FUNCTION) error_raise(ERR_NO_PORT_ACTION);
    stack_mark_func_interp(&word.cell);
    stack_push(port);
    return fn;
}

// An argument: the value, or none for an absent refinement's argument.
static void push_value(const Cell* value) { stack_push(value ? value : &none_cell); }
static void push_flag(bool on) { logic_make_at(stack_push_slot(), on); }
// A refinement with one argument (its presence is that of the argument).
static void push_refinement(const Cell* value) {
    push_flag(value != nullptr);
    push_value(value);
}
// A refinement whose argument arrives as a count; absent at the given value.
static void push_refinement_count(int32_t count, int32_t absent) {
    push_flag(count != absent);
    if (count != absent) integer_make_at(stack_push_slot(), count);
    else push_value(nullptr);
}

// Calls the function opened by port_forward with the pushed arguments: extra
// arguments beyond the function's slots are dropped, missing ones start as
// none. The result is copied into out; the stack returns to below
// the function.
static void port_actor_call(Cell* fn, Cell* out) {
    uint32_t slots = context_word_count(function_context(fn));
    uint32_t pushed = uint32_t(data_stack.top - data_stack.args);
    if (pushed > slots) data_stack.top = data_stack.args + slots;
    else
        for (uint32_t i = pushed; i < slots; i++) stack_push_new(T_NONE);
    CellRoot word(word_intern_symbol((call_stack.top - 1)->symbol));
    ExitCode code = exec_function(fn, 0, &word.cell, 0);
    if (code != EXIT_CODE_NONE) exit_throw(code);
    stack_unwind_func_keep();
    cell_copy(fn + 1, out);
    data_stack.top = fn;
}

// A forward with no argument after the port.
static void forward_plain(const char* action, Cell* port) {
    port_actor_call(port_forward(action, port), port);
}
// A forward with one argument after the port.
static void forward_one(const char* action, Cell* port, const Cell* value) {
    Cell* fn = port_forward(action, port);
    push_value(value);
    port_actor_call(fn, port);
}

static void port_at(Cell* port, const Cell* index) { forward_one("at", port, index); }
static void port_pick(Cell* port, const Cell* index) { forward_one("pick", port, index); }
static void port_skip(Cell* port, const Cell* offset) { forward_one("skip", port, offset); }

static void port_back(Cell* port) { forward_plain("back", port); }
static void port_clear(Cell* port) { forward_plain("clear", port); }
static void port_head(Cell* port) { forward_plain("head", port); }
static void port_head_q(Cell* port) { forward_plain("head?", port); }
static void port_index_q(Cell* port) { forward_plain("index?", port); }
static void port_next(Cell* port) { forward_plain("next", port); }
static void port_tail(Cell* port) { forward_plain("tail", port); }
static void port_tail_q(Cell* port) { forward_plain("tail?", port); }
static void port_create(Cell* port) { forward_plain("create", port); }
static void port_close(Cell* port) { forward_plain("close", port); }
static void port_delete(Cell* port) { forward_plain("delete", port); }
static void port_query(Cell* port) { forward_plain("query", port); }
static void port_update(Cell* port) { forward_plain("update", port); }

// length? answers an integer or none (-1); any other answer of the actor is
// reported as a wrong result type rather than passed off as none.
static int32_t port_length_q(const Cell* port_value) {
    Cell* port = stack_push(port_value);
    forward_plain("length?", port);
    Cell result = *port;
    stack_pop(1);
    if (cell_type(&result) == T_NONE) return -1;
    if (cell_type(&result) != T_INTEGER || cell_int(&result) < 0)
        error_raise(ERR_INVALID_PORT);
    return cell_int(&result);
}

// append, insert, change: series value /part length /only /dup count. The
// part and dup counts arrive as numbers: -1 means no part and 1 no dup.
static void forward_insert(const char* action, Cell* port, const Cell* value, int32_t part,
                           bool only, int32_t dup) {
    Cell* fn = port_forward(action, port);
    push_value(value);
    push_refinement_count(part, -1);
    push_flag(only);
    push_refinement_count(dup, 1);
    port_actor_call(fn, port);
}
static void port_insert(Cell* port, const Cell* value, int32_t part, bool only, int32_t dup,
                        bool append) {
    forward_insert(append ? "append" : "insert", port, value, part, only, dup);
}
static void port_change(Cell* port, const Cell* value, int32_t part, bool only, int32_t dup) {
    forward_insert("change", port, value, part, only, dup);
}

// find and select share their leading arguments and refinements; find adds
// /tail and /match.
static Cell* forward_search(const char* action, Cell* port, const Cell* value,
                            const FindOptions& o) {
    Cell* fn = port_forward(action, port);
    push_value(value);
    push_refinement(o.part);
    push_flag(o.only);
    push_flag(o.case_);
    push_flag(o.same);
    push_flag(o.any);
    push_refinement(o.with);
    push_refinement(o.skip);
    push_flag(o.last);
    push_flag(o.reverse);
    return fn;
}
static const Cell* port_find(Cell* port, const Cell* value, const FindOptions& options) {
    Cell* fn = forward_search("find", port, value, options);
    push_flag(options.tail);
    push_flag(options.match);
    port_actor_call(fn, port);
    return port;
}
static const Cell* port_select(Cell* port, const Cell* value, const FindOptions& options) {
    Cell* fn = forward_search("select", port, value, options);
    port_actor_call(fn, port);
    return port;
}

static void port_move(Cell* port, Cell* target, const Cell* part) {
    Cell* fn = port_forward("move", port);
    push_value(target);
    push_refinement(part);
    port_actor_call(fn, port);
}

static void port_copy(Cell* port, const Cell* part, bool deep, const Cell* types) {
    Cell* fn = port_forward("copy", port);
    push_refinement(part);
    push_flag(deep);
    push_refinement(types);
    port_actor_call(fn, port);
}

// modify: the actions layer passes no /case, so it arrives unset.
static void port_modify(Cell* port, const Cell* field, const Cell* value) {
    Cell* fn = port_forward("modify", port);
    push_value(field);
    push_value(value);
    push_flag(false);
    port_actor_call(fn, port);
}

static void port_open(Cell* port, bool new_, bool read, bool write, bool seek,
                      const Cell* allow) {
    Cell* fn = port_forward("open", port);
    push_flag(new_);
    push_flag(read);
    push_flag(write);
    push_flag(seek);
    push_refinement(allow);
    port_actor_call(fn, port);
}

static void port_poke(Cell* port, const Cell* index, const Cell* value) {
    Cell* fn = port_forward("poke", port);
    push_value(index);
    push_value(value);
    port_actor_call(fn, port);
}

static void port_put(Cell* port, const Cell* key, const Cell* value, bool case_) {
    Cell* fn = port_forward("put", port);
    push_value(key);
    push_value(value);
    push_flag(case_);
    port_actor_call(fn, port);
}

static void port_remove(Cell* port, Cell* part, Cell* key) {
    Cell* fn = port_forward("remove", port);
    push_refinement(part);
    push_refinement(key);
    port_actor_call(fn, port);
}

static void port_reverse(Cell* port, const Cell* part, const Cell* skip) {
    Cell* fn = port_forward("reverse", port);
    push_refinement(part);
    push_refinement(skip);
    port_actor_call(fn, port);
}

static void port_rename(Cell* port, const Cell* to) { forward_one("rename", port, to); }

static void port_sort(Cell* port, bool case_, const Cell* skip, const Cell* compare,
                      const Cell* part, bool all, bool reverse, bool stable) {
    Cell* fn = port_forward("sort", port);
    push_flag(case_);
    push_refinement(skip);
    push_refinement(compare);
    push_refinement(part);
    push_flag(all);
    push_flag(reverse);
    push_flag(stable);
    port_actor_call(fn, port);
}

static void port_swap(Cell* port, const Cell* other) { forward_one("swap", port, other); }

static const Cell* port_take(Cell* port, Cell* part, bool deep, bool last) {
    Cell* fn = port_forward("take", port);
    push_refinement(part);
    push_flag(deep);
    push_flag(last);
    port_actor_call(fn, port);
    return port;
}

static void port_trim(Cell* port, bool head, bool tail, bool auto_, bool lines, bool all,
                      const Cell* with) {
    Cell* fn = port_forward("trim", port);
    push_flag(head);
    push_flag(tail);
    push_flag(auto_);
    push_flag(lines);
    push_flag(all);
    push_refinement(with);
    port_actor_call(fn, port);
}

// read: opens the port for reading, copies (with the part when given) and
// closes it; the copy is the result.
static void port_read(Cell* port, const Cell* part, const Cell*, bool, bool, bool,
                      const Cell*) {
    Cell* scratch = stack_push(port);
    port_open(scratch, false, true, false, false, nullptr);
    Cell* copy = stack_push(port);
    port_copy(copy, part, false, nullptr);
    cell_copy(port, scratch);
    port_close(scratch);
    cell_copy(copy, port);
    stack_pop(2);
}

// write: opens the port for writing, inserts the data (an integer part
// limits it), copies and closes; the copy is the result.
static void port_write(Cell* port, const Cell* data, bool, bool, bool, bool, const Cell* part,
                       const Cell*, const Cell*, const Cell*) {
    Cell* scratch = stack_push(port);
    port_open(scratch, false, false, true, false, nullptr);
    cell_copy(port, scratch);
    int32_t count = part && cell_type(part) == T_INTEGER ? cell_int(part) : -1;
    forward_insert("insert", scratch, data, count, false, 1);
    Cell* copy = stack_push(port);
    port_copy(copy, nullptr, false, nullptr);
    cell_copy(port, scratch);
    port_close(scratch);
    cell_copy(copy, port);
    stack_pop(2);
}

// ---- registration ------------------------------------------------------------------------

// A port cell holds its context; ports have no change-handler info.
static void port_cell_mark(Cell* c) {
    if (c->w1) collector_mark_context(&c->w1);
}

void init_port() {
    const ActionRow actions[] = {
        {A_MAKE, port_make},
        {A_REFLECT, ACTION_INHERIT},
        {A_FORM, port_form},
        {A_MOLD, port_mold},
        {A_EVAL_PATH, ACTION_INHERIT},
        {A_COMPARE, port_compare},
        {A_APPEND, port_insert},
        {A_AT, port_at},
        {A_BACK, port_back},
        {A_CHANGE, port_change},
        {A_CLEAR, port_clear},
        {A_COPY, port_copy},
        {A_FIND, port_find},
        {A_HEAD, port_head},
        {A_HEAD_Q, port_head_q},
        {A_INDEX_Q, port_index_q},
        {A_INSERT, port_insert},
        {A_LENGTH_Q, port_length_q},
        {A_MOVE, port_move},
        {A_NEXT, port_next},
        {A_PICK, port_pick},
        {A_POKE, port_poke},
        {A_PUT, port_put},
        {A_REMOVE, port_remove},
        {A_REVERSE, port_reverse},
        {A_SELECT, port_select},
        {A_SORT, port_sort},
        {A_SKIP, port_skip},
        {A_SWAP, port_swap},
        {A_TAIL, port_tail},
        {A_TAIL_Q, port_tail_q},
        {A_TAKE, port_take},
        {A_TRIM, port_trim},
        {A_CREATE, port_create},
        {A_CLOSE, port_close},
        {A_DELETE, port_delete},
        {A_MODIFY, port_modify},
        {A_OPEN, port_open},
        {A_QUERY, port_query},
        {A_READ, port_read},
        {A_RENAME, port_rename},
        {A_UPDATE, port_update},
        {A_WRITE, port_write},
    };
    datatype_register(T_PORT, T_OBJECT, "port!", actions);
    collector_register_marker(T_PORT, port_cell_mark);
}

} // namespace kel
