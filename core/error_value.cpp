// error!: making errors from codes, blocks and strings, the error in flight as
// a value, the call chain, and the printed "*** " form.
#include "core/error_value.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error_catalog.hpp"
#include "core/function.hpp"
#include "core/interpreter.hpp"
#include "core/logic.hpp"
#include "core/numbers.hpp"
#include "core/object.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/trace.hpp"
#include "core/unicode.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "runtime/collector.hpp"
#include "runtime/platform/platform.hpp"

#include <cstring>
#include <string>
#include <string_view>

namespace kel {

// Field names in field order.
static const char* const field_names[ERROR_FIELD_COUNT] = {
    "code", "type", "id", "arg1", "arg2", "arg3", "near", "where", "stack", "files",
};

// The settings the library provides (collector roots).
static Cell stack_setting;
static Cell files_setting;

static void settings_mark() {
    collector_mark_values(&stack_setting, &stack_setting + 1);
    collector_mark_values(&files_setting, &files_setting + 1);
}

void error_stack_setting_set(const Cell* value) { cell_copy(value, &stack_setting); }
void error_files_setting_set(const Cell* value) { cell_copy(value, &files_setting); }

// The mode of the stack setting: its integer when positive, else 0.
static int32_t stack_mode() {
    return cell_type(&stack_setting) == T_INTEGER && cell_int(&stack_setting) > 0
               ? cell_int(&stack_setting) : 0;
}

// ---- fields ------------------------------------------------------------------------------

Cell* error_field(const Cell* error, ErrorField field) {
    SeriesBuffer* b = series_buffer(context_values(object_context(error)));
    return block_cells(b) + field;
}

static void field_set(const Cell* error, ErrorField field, const Cell* value) {
    Cell held = *value;
    cell_clear_newline(&held);
    cell_copy(&held, error_field(error, field));
}

static uint32_t word_field_symbol(const Cell* error, ErrorField field) {
    const Cell* value = error_field(error, field);
    uint8_t type = cell_type(value);
    return type >= T_WORD && type <= T_REFINEMENT ? word_symbol(value) : 0;
}

uint32_t error_type_symbol(const Cell* error) { return word_field_symbol(error, ERROR_TYPE); }
uint32_t error_id_symbol(const Cell* error) { return word_field_symbol(error, ERROR_ID); }

void error_set_where(Cell* error, const Cell* word) {
    if (cell_type(error_field(error, ERROR_WHERE)) == T_NONE) field_set(error, ERROR_WHERE, word);
}

// ---- making ------------------------------------------------------------------------------

// A fresh error pushed: ten fields, every one none, class id 1.
static Cell* error_push_blank() {
    Cell* error = stack_push_new(T_NONE);
    object_make_at(error, ERROR_FIELD_COUNT);
    for (const char* name : field_names) {
        Cell word = word_intern(name);
        context_put_field(object_context(error), &word, &none_cell);
    }
    cell_type_set(error, T_ERROR);
    error->w2 = OBJECT_CLASS_ERROR;
    cell_copy(error, context_owner(object_context(error)));
    return error;
}

// Writes code, type and id from catalog positions.
static void error_set_code(Cell* error, int category, int id) {
    const ErrorCategoryEntry* entry = error_catalog_category(category);
    Cell code;
    integer_make_at(&code, category * 100 + id);
    field_set(error, ERROR_CODE, &code);
    Cell type = word_intern(entry->name);
    field_set(error, ERROR_TYPE, &type);
    Cell id_word = word_intern(entry->ids[id].name);
    field_set(error, ERROR_ID, &id_word);
}

Cell* error_push(ErrorCategory category, uint16_t id) {
    Cell* error = error_push_blank();
    error_set_code(error, int(category), id);
    return error;
}

Cell* error_make(ErrorCategory category, uint16_t id, const Cell* arg1, const Cell* arg2,
                 const Cell* arg3) {
    CellRoot a1(arg1 ? *arg1 : none_cell), a2(arg2 ? *arg2 : none_cell), a3(arg3 ? *arg3 : none_cell);
    Cell* error = error_push(category, id);
    field_set(error, ERROR_ARG1, &a1.cell);
    field_set(error, ERROR_ARG2, &a2.cell);
    field_set(error, ERROR_ARG3, &a3.cell);
    return error;
}

// Whether a chain frame's word holds a function!.
static bool chain_frame_function(const ChainFrame& frame) {
    Node context = frame.context ? frame.context : global_context;
    const Cell* value = context_symbol_value(frame.symbol, context);
    return value && cell_type(value) == T_FUNCTION;
}

void stack_chain_words(int32_t mode, Cell* block) {
    const ErrorRecord& error = error_in_flight;
    for (uint32_t i = 0; i < error.chain_count; i++) {
        const ChainFrame& frame = error.chain[i];
        if (mode <= 1 && !chain_frame_function(frame)) continue;
        Cell word;
        cell_init(&word, T_WORD);
        word.w1 = frame.context ? frame.context : global_context;
        word.w2 = frame.symbol;
        word.w3 = WORD_UNBOUND;
        if (int32_t index = context_find_word(word_context(&word), word_symbol(&word), true); index >= 0)
            word.w3 = uint32_t(index);
        block_ks_append(block, &word);
    }
}

void stack_trace_collect(Cell* block) {
    for (CallFrame* frame = call_stack.top; frame > call_stack.bottom;) {
        --frame;
        if (!stack_frame_named(frame)) continue;
        uint32_t depth = uint32_t(frame - call_stack.bottom);
        Cell word;
        stack_frame_word(frame, &word);
        if (!word_context(&word)) word.w1 = global_context;
        block_ks_append(block, &word);
        // The frame pointer is re-read: appending may collect, never move frames.
        Cell index;
        integer_make_at(&index, int32_t(stack_index(call_stack.bottom[depth].caller_args)));
        block_ks_append(block, &index);
    }
}

Cell* error_push_in_flight() {
    const ErrorRecord& record = error_in_flight;
    Cell* error = error_make(record.category, record.id, &record.args[0], &record.args[1],
                             &record.args[2]);
    field_set(error, ERROR_WHERE, &record.where);
    field_set(error, ERROR_NEAR, &record.near);
    Cell level;
    integer_make_at(&level, int32_t(record.frame));
    field_set(error, ERROR_STACK, &level);
    return error;
}

void error_fill_stack(Cell* error) {
    if (cell_type(error_field(error, ERROR_STACK)) == T_INTEGER) {
        int32_t level = cell_int(error_field(error, ERROR_STACK));
        Cell* block = block_push_only(int32_t(error_in_flight.chain_count));
        // The chain is known only while the error in flight is this error's.
        if (error_in_flight.holders > 0 && uint32_t(level) == error_in_flight.frame)
            stack_chain_words(stack_mode() > 0 ? stack_mode() : 1, block);
        field_set(error, ERROR_STACK, block);
        stack_pop(1);
    }
    if (cell_type(&files_setting) == T_BLOCK &&
        series_buffer_of(&files_setting)->length() > uint32_t(series_index(&files_setting))) {
        Cell* copy = block_push_only(0);
        copy->w2 = series_clone(series_node(&files_setting));
        copy->w1 = uint32_t(series_index(&files_setting));
        field_set(error, ERROR_FILES, copy);
        stack_pop(1);
    }
}

void error_call_argument(uint32_t n, Cell* out) {
    cell_copy(runtime_word(W_LABEL_ANON), out);
    CallFrame* frame = stack_top_frame();
    if (!frame) return;
    Node context = frame->context ? frame->context : global_context;
    const Cell* value = context_symbol_value(frame->symbol, context);
    if (!value) return;
    uint8_t type = cell_type(value);
    if (type != T_NATIVE && type != T_ACTION && type != T_OP && type != T_FUNCTION &&
        type != T_ROUTINE)
        return;
    SeriesBuffer* b = series_buffer(function_spec(value));
    auto* cells = block_cells(b);
    uint32_t seen = 0;
    for (uint32_t i = 0; i < b->length(); i++) {
        uint8_t t = cell_type(&cells[i]);
        if (t != T_WORD && t != T_LIT_WORD && t != T_GET_WORD && t != T_REFINEMENT) continue;
        if (++seen == n) {
            Cell word = cells[i];
            word.header = T_WORD;
            cell_copy(&word, out);
            return;
        }
    }
}

// ---- make error! ---------------------------------------------------------------------------

// The symbol's name as text.
static std::string symbol_text(uint32_t symbol) {
    uint32_t length;
    const uint8_t* name = symbol_name(symbol, &length);
    return std::string(reinterpret_cast<const char*>(name), length);
}

static void spec_field_error(const char* field) {
    Cell word = word_intern(field);
    error_raise(ERR_INVALID_SPEC_FIELD, &word);
}

// Category and id positions of a [category id] pair of words; the errors of
// a bad pair. id_value null: the id is missing.
static void spec_positions(const Cell* type_value, const Cell* id_value, int* category, int* id) {
    if (cell_type(type_value) != T_WORD) spec_field_error("type");
    *category = error_catalog_find_category(symbol_text(word_symbol(type_value)));
    if (*category < 0) spec_field_error("type");
    if (id_value && cell_type(id_value) != T_WORD && cell_type(id_value) != T_NONE) {
        Cell given = *id_value;
        error_raise(ERR_INVALID_ARG, &given);
    }
    if (!id_value || cell_type(id_value) != T_WORD) spec_field_error("id");
    *id = error_catalog_find_id(ErrorCategory(*category), symbol_text(word_symbol(id_value)));
    if (*id < 0) spec_field_error("id");
}

const Cell* error_make_action(Cell* proto, const Cell* spec_value, uint8_t) {
    CellRoot spec(*spec_value);
    switch (cell_type(&spec.cell)) {
    case T_INTEGER: {
        int32_t n = cell_int(&spec.cell);
        const ErrorCategoryEntry* entry = n < 0 ? nullptr : error_catalog_category(n / 100);
        if (!entry || n % 100 >= entry->id_count) error_raise(ERR_OUT_OF_RANGE, &spec.cell);
        Cell* error = error_push(ErrorCategory(n / 100), uint16_t(n % 100));
        cell_copy(error, proto);
        break;
    }
    case T_STRING: {
        Cell* error = error_make(ErrorCategory::user, ERR_MESSAGE, &spec.cell, nullptr, nullptr);
        cell_copy(error, proto);
        break;
    }
    case T_BLOCK: {
        SeriesBuffer* b = series_buffer_of(&spec.cell);
        uint32_t from = uint32_t(series_index(&spec.cell));
        uint32_t count = from < b->length() ? b->length() - from : 0;
        const Cell* cells = block_cells(b) + from;
        uint8_t first = count > 0 ? cell_type(&cells[0]) : uint8_t(T_NONE);
        int category, id;
        if (first == T_WORD) {
            // The words are roots: making the error collects, and they are
            // bound to a context whose node may move.
            CellRoot type_word(cells[0]);
            CellRoot id_word(count > 1 ? cells[1] : none_cell);
            spec_positions(&type_word.cell, count > 1 ? &id_word.cell : nullptr, &category, &id);
            Cell* error = error_push_blank();
            error_set_code(error, category, id);
            field_set(error, ERROR_TYPE, &type_word.cell);
            field_set(error, ERROR_ID, &id_word.cell);
            cell_copy(error, proto);
        } else if (first == T_SET_WORD) {
            Cell* error = error_push_blank();
            object_eval_body(error, &spec.cell);
            Cell type_word = *error_field(error, ERROR_TYPE);
            Cell id_word = *error_field(error, ERROR_ID);
            spec_positions(&type_word, &id_word, &category, &id);
            Cell code;
            integer_make_at(&code, category * 100 + id);
            field_set(error, ERROR_CODE, &code);
            cell_copy(error, proto);
        } else {
            error_raise(ERR_INVALID_ERROR);
        }
        break;
    }
    default: {
        error_raise_type(ERR_BAD_MAKE_ARG, T_ERROR, &spec.cell);
    }
    }
    stack_pop(1);
    return proto;
}

// ---- printing ------------------------------------------------------------------------------

static int32_t text_add(Cell* target, const char* text, int32_t budget) {
    uint32_t length = uint32_t(std::strlen(text));
    string_concatenate_bytes(target, text, length);
    return budget - int32_t(length);
}

static uint32_t string_chars(const Cell* string) { return series_buffer_of(string)->length(); }

// Molds (or forms) a value through its datatype; with a limit the text is
// cut to that many characters.
static int32_t value_write(const Cell* value, Cell* target, bool mold, bool flat, int32_t limit,
                           int32_t budget) {
    auto write = action_slot_as<FormMoldFn>(cell_type(value), mold ? A_MOLD : A_FORM);
    if (!write) return budget;
    CellRoot held(*value);
    uint32_t start = string_chars(target);
    write(&held.cell, target, false, false, flat, limit > 0, limit > 0 ? limit : budget, 0);
    uint32_t written = string_chars(target) - start;
    if (limit > 0 && written > uint32_t(limit)) {
        string_ks_truncate(series_buffer_of(target), start + uint32_t(limit));
        written = uint32_t(limit);
    }
    return budget - int32_t(written);
}

static int32_t symbol_write(Cell* target, uint32_t symbol, int32_t budget) {
    std::string name = symbol_text(symbol);
    string_append_utf8(target, reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()));
    auto* bytes = reinterpret_cast<const uint8_t*>(name.data());
    return budget - int32_t(utf8_count_chars(bytes, bytes + name.size()));
}

// The catalog entries the error names; internal invalid-error when either
// word is missing or unknown.
static void error_entries(const Cell* error, int* category, int* id) {
    uint32_t type = error_type_symbol(error), name = error_id_symbol(error);
    *category = type ? error_catalog_find_category(symbol_text(type)) : -1;
    *id = *category >= 0 && name ? error_catalog_find_id(ErrorCategory(*category), symbol_text(name)) : -1;
    if (*category < 0 || *id < 0) {
        *category = int(ErrorCategory::internal);
        *id = ERR_INVALID_ERROR;
    }
}

int32_t error_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                   int32_t) {
    CellRoot error(*value);
    int category, id;
    error_entries(&error.cell, &category, &id);
    const ErrorCategoryEntry* entry = error_catalog_category(category);
    const ErrorIdEntry* message = &entry->ids[id];
    budget = text_add(target, "*** ", budget);
    budget = text_add(target, entry->title, budget);
    budget = text_add(target, ": ", budget);
    bool syntax = category == int(ErrorCategory::syntax);
    switch (message->kind) {
    case TEMPLATE_STRING:
        budget = text_add(target, message->parts[0].text, budget);
        break;
    case TEMPLATE_ARG1: {
        Cell arg = *error_field(&error.cell, ERROR_ARG1);
        budget = value_write(&arg, target, false, false, 0, budget);
        break;
    }
    case TEMPLATE_BLOCK:
        for (int i = 0; i < message->part_count(); i++) {
            if (i > 0) budget = text_add(target, " ", budget);
            const MessagePart& part = message->parts[i];
            if (part.arg == MSG_TEXT) {
                budget = text_add(target, part.text, budget);
                continue;
            }
            Cell arg = *error_field(&error.cell, ErrorField(uint32_t(ERROR_ARG1) + uint32_t(part.arg) - 1));
            budget = syntax ? value_write(&arg, target, false, false, 80, budget)
                            : value_write(&arg, target, true, false, 0, budget);
        }
        break;
    }
    budget = text_add(target, "\n*** Where: ", budget);
    Cell where = *error_field(&error.cell, ERROR_WHERE);
    uint8_t where_type = cell_type(&where);
    bool named = where_type >= T_WORD && where_type <= T_REFINEMENT && word_symbol(&where) != 0 &&
                 word_symbol(&where) <= symbol_count();
    if (named) budget = symbol_write(target, word_symbol(&where), budget);
    else if (where_type == T_STRING) budget = value_write(&where, target, false, false, 0, budget);
    else budget = text_add(target, "???", budget);
    budget = text_add(target, "\n*** Near : ", budget);
    Cell near = *error_field(&error.cell, ERROR_NEAR);
    budget = value_write(&near, target, true, true, 40, budget);
    if (stack_mode() > 0) {
        // Held in roots: writing the heading may grow the target and move them.
        // No "Stack" line when there are no calls to show.
        CellRoot stack(*error_field(&error.cell, ERROR_STACK));
        if (cell_type(&stack.cell) == T_INTEGER) {
            CellRoot chain;
            chain.cell = *block_push_only(0);
            stack_pop(1);
            if (error_in_flight.holders > 0 && uint32_t(cell_int(&stack.cell)) == error_in_flight.frame)
                stack_chain_words(stack_mode(), &chain.cell);
            uint32_t count = series_buffer_of(&chain.cell)->length();
            // Once the frames that raised the error are gone, no chain is left to show.
            if (count > 0) budget = text_add(target, "\n*** Stack: ", budget);
            for (uint32_t i = 0; i < count; i++) {
                Cell word = block_cells(series_node(&chain.cell))[i];
                budget = value_write(&word, target, true, false, 0, budget);
                budget = text_add(target, " ", budget);
            }
        } else if (cell_type(&stack.cell) == T_BLOCK &&
                   series_buffer_length(&stack.cell) > uint32_t(series_index(&stack.cell))) {
            budget = text_add(target, "\n*** Stack: ", budget);
            budget = value_write(&stack.cell, target, false, false, 0, budget);
        }
    }
    CellRoot files(*error_field(&error.cell, ERROR_FILES));
    if (cell_type(&files.cell) == T_BLOCK) {
        budget = text_add(target, "\n*** Files: ", budget);
        budget = value_write(&files.cell, target, true, true, 40, budget);
    }
    return budget;
}

int32_t error_mold(const Cell* value, Cell* target, bool, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent) {
    budget = text_add(target, "make error! [", budget);
    budget = object_mold_fields(value, target, all, flat, part, budget, indent);
    return text_add(target, "]", budget);
}

int32_t error_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_ERROR) return COMPARE_INCOMPARABLE;
    return object_compare(value1, value2, op);
}

void error_eval_path(const Cell* parent, const Cell* element, const Cell* set_value,
                     const Cell* path, bool case_, Cell* out) {
    // The stack description is the runtime's own record: it reads like any
    // field but cannot be set through a path.
    uint8_t type = cell_type(element);
    if (set_value && type >= T_WORD && type <= T_REFINEMENT &&
        symbol_resolve(word_symbol(element)) == symbol_resolve(runtime_symbol(SYM_STACK))) {
        Cell value = *parent;
        error_raise(ERR_INVALID_PATH_SET, &value);
    }
    object_eval_path(parent, element, set_value, path, case_, out);
}

// ---- the uncaught end ------------------------------------------------------------------------

void error_report_uncaught() {
    ErrorCategory category = error_in_flight.category;
    uint16_t id = error_in_flight.id;
    const StackState empty{data_stack.bottom, data_stack.bottom, call_stack.bottom, 0};
    try {
        // Before the global tables and stacks exist no value can be made.
        if (!global_context || !data_stack.bottom || symbol_count() == 0) error_raise(ERR_NO_MEMORY);
        Cell* error = error_push_in_flight();
        CellRoot held(*error);
        CellRoot text;
        string_make_at(&text.cell, 128);
        error_form(&held.cell, &text.cell, false, false, false, false, INT32_MAX, 0);
        string_concatenate_bytes(&text.cell, "\n", 1);
        SeriesBuffer* b = series_buffer_of(&text.cell);
        std::string bytes;
        uint8_t encoded[4];
        for (uint32_t i = 0; i < b->length(); i++) {
            uint32_t n = utf8_encode_char(string_get_char(b->head_ptr() + i * b->unit(), b->unit()), encoded);
            bytes.append(reinterpret_cast<const char*>(encoded), n);
        }
        fd_write_all(STDERR_FD, bytes.data(), bytes.size());
    } catch (const LanguageError& e) {
        // The error could not be formed (the runtime not yet made, no
        // memory): say at least which one it was.
        (void)e;
        const ErrorCategoryEntry* entry = error_catalog_category(int(category));
        std::string line = std::string("*** ") + entry->title + ": " + entry->ids[id].name + "\n";
        fd_write_all(STDERR_FD, line.data(), line.size());
    }
    if (data_stack.bottom) stack_restore(empty);
}

// ---- registration ----------------------------------------------------------------------------

// The near field of a raised error: the block the interpreter is evaluating,
// at the failing expression.
static void near_from_interpreter(Cell* out) {
    const Cell* position = interp_position();
    if (cell_type(position) == T_BLOCK || cell_type(position) == T_PAREN) cell_copy(position, out);
}

// The trace event of a raised error, with the error as its value. The
// tracer may raise and catch errors of its own, so the record is filled
// again from the error value afterwards.
static void error_traced() {
    if (!trace_state.tracing) return;
    struct Hold {  // the record's cells are roots while the value is made
        Hold() { ++error_in_flight.holders; }
        ~Hold() { --error_in_flight.holders; }
    } hold;
    ErrorCategory category = error_in_flight.category;
    uint16_t id = error_in_flight.id;
    uint8_t count = error_in_flight.arg_count;
    Cell* error = error_push_in_flight();
    trace_fire_event(TRACE_ERROR, nullptr, -1, nullptr, error);
    Cell args[3];
    for (uint32_t i = 0; i < 3; i++) args[i] = *error_field(error, ErrorField(ERROR_ARG1 + i));
    stack_pop(1);
    error_record_set(category, id, count > 0 ? &args[0] : nullptr, count > 1 ? &args[1] : nullptr,
                     count > 2 ? &args[2] : nullptr);
}

void init_error() {
    error_near_hook_set(near_from_interpreter);
    error_raise_hook_set(error_traced);
    cell_init(&stack_setting, T_NONE);
    cell_init(&files_setting, T_NONE);
    collector_remove_root(settings_mark);
    collector_add_root(settings_mark);
    const ActionRow actions[] = {
        {A_MAKE, error_make_action},
        {A_REFLECT, ACTION_INHERIT},
        {A_FORM, error_form},
        {A_MOLD, error_mold},
        {A_EVAL_PATH, error_eval_path},
        {A_COMPARE, error_compare},
        {A_COPY, ACTION_INHERIT},
        {A_FIND, ACTION_INHERIT},
        {A_SELECT, ACTION_INHERIT},
    };
    datatype_register(T_ERROR, T_OBJECT, "error!", actions);
}

} // namespace kel
