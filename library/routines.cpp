// The routine registry and the runtime routines of the library: quiet
// setters, bit shifts, colour and address tuples, stack inspection, the
// collector's state, the error catalog, and the type predicates. The other
// modules' routines live with them, each module exporting its own table.
#include "library/routines.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/error_catalog.hpp"
#include "core/error_value.hpp"
#include "core/function.hpp"
#include "core/interpreter.hpp"
#include "core/library_context.hpp"
#include "core/logic.hpp"
#include "core/natives_table.hpp"
#include "core/object.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/trace.hpp"
#include "core/typeset.hpp"
#include "core/word.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/money.hpp"
#include "datatypes/tuple.hpp"
#include "io/cmdline.hpp"
#include "io/http.hpp"
#include "library/boot_image.hpp"
#include "core/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/output_hooks.hpp"

#include <cstring>
#include <string>

namespace kel {

// ---- helpers -----------------------------------------------------------------------------

// Raises script error expect-arg naming the running routine, the type and
// its parameter param.
[[noreturn]] static void routine_expect_arg(uint8_t type, uint32_t param) {
    Cell name;
    stack_frame_word(call_stack.top - 1, &name);
    expect_arg_raise(&name, type, param);
}

static void routine_logic_box(bool value) { logic_make_at(stack_box_new(T_LOGIC), value); }
static void routine_integer_box(int32_t value) { integer_make_at(stack_box_new(T_INTEGER), value); }

// ---- quiet setters -------------------------------------------------------------------------

// set-quiet word value: sets the word without notifying its owner object.
static void routine_set_quiet() {
    uint8_t t = cell_type(data_stack.args);
    if (t != T_WORD && t != T_SET_WORD && t != T_GET_WORD && t != T_LIT_WORD)
        routine_expect_arg(t, 0);
    Cell* word = data_stack.args;
    if (word_context(word) == 0) error_raise(ERR_NOT_DEFINED, word);
    context_set_value(word, data_stack.args + 1, word_context(word), false);
    stack_set_last_reset(data_stack.args + 1);
}

// set-slot-quiet series value: overwrites the element at the series' position
// without notifying its owner; nothing happens at the tail.
static void routine_set_slot_quiet() {
    const Cell* series = data_stack.args;
    uint8_t t = cell_type(series);
    if (t != T_BLOCK && t != T_PAREN && t != T_PATH && t != T_LIT_PATH && t != T_SET_PATH &&
        t != T_GET_PATH)
        routine_expect_arg(T_BLOCK, 0);
    uint32_t index = series_index_clamped(series);
    if (index < series_buffer_of(series)->length())
        cell_copy(data_stack.args + 1, block_ks_abs_at(series, index));
    stack_set_last_reset(data_stack.args + 1);
}

// ---- bit shifts ----------------------------------------------------------------------------

// The two integer! arguments of a shift; the count is taken modulo 32, as
// the processor's shift instructions do.
static void shift_args(int32_t* data, uint32_t* bits) {
    if (cell_type(data_stack.args) != T_INTEGER) routine_expect_arg(cell_type(data_stack.args), 0);
    if (cell_type(data_stack.args + 1) != T_INTEGER)
        routine_expect_arg(cell_type(data_stack.args + 1), 1);
    *data = cell_int(data_stack.args);
    *bits = uint32_t(cell_int(data_stack.args + 1)) & 31;
}
static void routine_shift_right() {
    int32_t data;
    uint32_t bits;
    shift_args(&data, &bits);
    routine_integer_box(data >> bits);
}
static void routine_shift_left() {
    int32_t data;
    uint32_t bits;
    shift_args(&data, &bits);
    routine_integer_box(int32_t(uint32_t(data) << bits));
}
static void routine_shift_logical() {
    int32_t data;
    uint32_t bits;
    shift_args(&data, &bits);
    routine_integer_box(int32_t(uint32_t(data) >> bits));
}

// ---- standard output ------------------------------------------------------------------------

// Whether the last text printed or written to standard output ended with a
// line feed; true before anything was written.
static bool last_lf = true;

static void last_lf_value_hook(const Cell* value, bool newline) {
    if (newline) {
        last_lf = true;
        return;
    }
    SeriesBuffer* b = series_buffer_of(value);
    uint32_t length = b->length();
    if (uint32_t(series_index(value)) >= length) return;  // nothing written: the flag stands
    const uint8_t* last = b->head_ptr() + size_t(length - 1) * b->unit();
    uint32_t c = b->unit() == 1 ? *last : b->unit() == 2 ? *reinterpret_cast<const uint16_t*>(last)
                                                         : *reinterpret_cast<const uint32_t*>(last);
    last_lf = c == '\n';
}
static void last_lf_text_hook(const char* text, size_t len, bool newline) {
    if (newline) last_lf = true;
    else if (len > 0) last_lf = text[len - 1] == '\n';
}
static void routine_last_lf_q() { routine_logic_box(last_lf); }

// ---- tuples ---------------------------------------------------------------------------------

// The n integer! arguments; the first negative one raises script error
// invalid-arg with it.
static void tuple_args(uint32_t n, int32_t* values) {
    for (uint32_t i = 0; i < n; i++) {
        const Cell* arg = data_stack.args + i;
        if (cell_type(arg) != T_INTEGER) routine_expect_arg(cell_type(arg), i);
        values[i] = cell_int(arg);
    }
    for (uint32_t i = 0; i < n; i++)
        if (values[i] < 0) error_raise(ERR_INVALID_ARG, data_stack.args + i);
}
static void routine_as_color() {
    int32_t v[3];
    tuple_args(3, v);
    Cell tuple;  // tuple_rgba writes the whole cell
    tuple_rgba(&tuple, v[0] % 256, v[1] % 256, v[2] % 256, -1);
    stack_set_last_reset(&tuple);
}
// The bytes combine as a | b << 8 | c << 16 | d << 24, unreduced: a value
// above 255 spills into the following bytes.
static void routine_as_ipv4() {
    int32_t v[4];
    tuple_args(4, v);
    uint32_t word = uint32_t(v[0]) | uint32_t(v[1]) << 8 | uint32_t(v[2]) << 16 | uint32_t(v[3]) << 24;
    Cell tuple;
    cell_init(&tuple, T_TUPLE);
    tuple_init(&tuple, 4, word, 0, 0);
    stack_set_last_reset(&tuple);
}

// ---- UTF-8 -----------------------------------------------------------------------------------

// count-chars start pos: the UTF-8 characters from start's position up to
// pos's position. Both must be positions of the same binary, so pos never
// reads outside start's buffer; a pos before start counts 0.
static void routine_count_chars() {
    const Cell* start = data_stack.args;
    const Cell* pos = data_stack.args + 1;
    if (cell_type(start) != T_BINARY) routine_expect_arg(cell_type(start), 0);
    if (cell_type(pos) != T_BINARY) routine_expect_arg(cell_type(pos), 1);
    if (series_node(start) != series_node(pos)) error_raise(ERR_INVALID_ARG, pos);
    uint32_t from = series_index_clamped(start);
    uint32_t to = series_index_clamped(pos);
    const uint8_t* bytes = series_buffer_of(start)->head_ptr();
    int32_t count = 0;
    for (uint32_t i = from; i < to; count++) {
        uint8_t lead = bytes[i];
        uint32_t size = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        i += size;
    }
    routine_integer_box(count);
}

// ---- stacks and tracing -----------------------------------------------------------------------

// The cells in use below the routine's own frame.
static uint32_t stack_cells_in_use() { return stack_index(data_stack.args - 1); }

static void routine_stack_size_q() { routine_integer_box(int32_t(stack_cells_in_use())); }

static void routine_pick_stack() {
    const Cell* idx = data_stack.args;
    if (cell_type(idx) != T_INTEGER) routine_expect_arg(cell_type(idx), 0);
    int32_t n = cell_int(idx);
    if (n > 0 && uint32_t(n) < stack_cells_in_use()) {
        Cell value = data_stack.bottom[n - 1];
        stack_set_last_reset(&value);
    } else {
        none_make_at(stack_box_new(T_NONE));
    }
}

// The ARGS of the frame that called the routine: the routine's own frame
// records them as its caller's ARGS.
static void routine_frame_index_q() {
    routine_integer_box(int32_t(stack_index((call_stack.top - 1)->caller_args)));
}

static void routine_collect_calls() {
    const Cell* blk = data_stack.args;
    if (cell_type(blk) != T_BLOCK) routine_expect_arg(cell_type(blk), 0);
    stack_trace_collect(data_stack.args);
    stack_set_last_reset(data_stack.args);
}

// Library function bodies run untraced, so "active" means a do/trace is
// running and its events are not paused.
static void routine_tracing_q() {
    routine_logic_box(trace_state.requested && trace_state.mask != 0 && !trace_state.failed);
}

// Pauses (false) or resumes (true) the events of a running do/trace. The
// tracing flag itself is put back when the calling library function
// returns, so the pause is kept in the event mask; outside a trace nothing
// changes.
static void routine_trace_set() {
    const Cell* flag = data_stack.args;
    if (cell_type(flag) != T_LOGIC) routine_expect_arg(cell_type(flag), 0);
    if (trace_state.requested)
        trace_state.mask = logic_get(flag) ? trace_events_mask(&trace_state.tracer) : 0;
    unset_make_at(stack_box_new(T_UNSET));
}

// ---- the build ----------------------------------------------------------------------------------

// The date this program was built, or none for a program built without the
// library's boot image (the test programs).
static void routine_build_date() {
    Cell* out = stack_box_new(T_NONE);
    if (!library_build_stamp) return;
    LexerOptions options;
    options.one = true;
    lexer_transcode(out, reinterpret_cast<const uint8_t*>(library_build_stamp),
                    uint32_t(std::strlen(library_build_stamp)), options, nullptr);
    if (cell_type(out) != T_DATE) cell_init(out, T_NONE);
}

// ---- the collector's state ---------------------------------------------------------------------

static void routine_gc_active_q() { routine_logic_box(collector.enabled); }
static void routine_gc_series_cycles() { routine_integer_box(int32_t(collector.series_cycles)); }
static void routine_gc_nodes_cycles() { routine_integer_box(int32_t(collector.nodes_cycles)); }

// ---- the global context and the error catalog ---------------------------------------------------

// An object! over the global context, so that paths through it reach global
// words that local words of the same name hide.
static void routine_make_system_words() {
    Cell object;
    cell_init(&object, T_OBJECT);
    object_set(&object, global_context, 0, 0);  // the context's owner cell is left as it is
    stack_set_last_reset(&object);
}

static void text_mold_string(std::string* out, const char* text) {
    *out += '"';
    for (const char* p = text; *p; p++) {
        if (*p == '"') *out += "^\"";
        else if (*p == '^') *out += "^^";
        else *out += *p;
    }
    *out += '"';
}

// The catalog as Kel source: one object per category with its code, its
// title and one field per id holding the message template.
static std::string error_catalog_text() {
    std::string text;
    for (int c = 0;; c++) {
        const ErrorCategoryEntry* category = error_catalog_category(c);
        if (!category) break;
        text += category->name;
        text += ": make object! [\n    code: " + std::to_string(category->code_base) + "\n    type: ";
        text_mold_string(&text, category->title);
        for (uint16_t i = 0; i < category->id_count; i++) {
            const ErrorIdEntry& id = category->ids[i];
            text += "\n    ";
            text += id.name;
            text += ": ";
            if (id.kind == TEMPLATE_STRING) {
                text_mold_string(&text, id.parts[0].text ? id.parts[0].text : "");
                continue;
            }
            if (id.kind == TEMPLATE_ARG1) {
                text += "none";
                continue;
            }
            text += '[';
            for (int p = 0; p < id.part_count(); p++) {
                if (p) text += ' ';
                const MessagePart& part = id.parts[p];
                if (part.arg == MSG_TEXT) text_mold_string(&text, part.text ? part.text : "");
                else text += ":arg" + std::to_string(int(part.arg));
            }
            text += ']';
        }
        text += "\n]\n";
    }
    return text;
}

// error-catalog-spec: the body block of system/catalog/errors.
static void routine_error_catalog_spec() {
    std::string text = error_catalog_text();
    CellRoot block;
    LexerOptions options;
    lexer_transcode(&block.cell, reinterpret_cast<const uint8_t*>(text.data()),
                    uint32_t(text.size()), options, nullptr);
    stack_set_last_reset(&block.cell);
}

// ---- runtime settings the system object mirrors -----------------------------------------------

static void routine_get_command_line() {
    Cell* line = get_command_line();
    stack_set_last_reset(line);
}

// float-pretty-set flag: the pretty flag of the float text forms.
static void routine_float_pretty_set() {
    float_pretty = cell_type(data_stack.args) == T_LOGIC && logic_get(data_stack.args);
    unset_make_at(stack_box_new(T_UNSET));
}

// money-currency-list: a new block of the currency codes as words, in index order.
static void routine_money_currency_list() {
    int32_t count = money_currency_count();
    CellRoot list;
    block_make_at(&list.cell, count);
    for (int32_t i = 1; i <= count; i++) {
        Cell word = word_intern(money_currency_code(i));
        block_ks_append(&list.cell, &word);
    }
    stack_set_last_reset(&list.cell);
}

// money-currency-append code: adds a code to the money datatype's list; false
// when the list refuses it.
static void routine_money_currency_append() {
    const Cell* code = data_stack.args;
    if (!word_type_q(cell_type(code))) routine_expect_arg(cell_type(code), 0);
    uint32_t length;
    const uint8_t* name = symbol_name(word_symbol(code), &length);
    std::string text(reinterpret_cast<const char*>(name), length);
    routine_logic_box(money_currency_append(text.c_str()));
}

// money-digits-set digits: the fraction digits form shows for money!; a
// value that is no integer! means the default.
static void routine_money_digits_set() {
    const Cell* digits = data_stack.args;
    money_digits_option = cell_type(digits) == T_INTEGER ? cell_int(digits) : INT32_MIN;
    unset_make_at(stack_box_new(T_UNSET));
}

// error-settings-set stack-depth files: the stack-depth setting and the list of
// running script files that raised errors read.
static void routine_error_settings_set() {
    error_stack_setting_set(data_stack.args);
    error_files_setting_set(data_stack.args + 1);
    unset_make_at(stack_box_new(T_UNSET));
}

// ---- the library's table ------------------------------------------------------------------------

const RoutineDef LIBRARY_ROUTINES[] = {
    {"set-quiet", "word [any-type!] value [any-type!]", routine_set_quiet, 0, nullptr},
    {"set-slot-quiet", "series [any-type!] value [any-type!]", routine_set_slot_quiet, 0, nullptr},
    {"shift-right", "data [integer!] bits [integer!]", routine_shift_right, 0, nullptr},
    {"shift-left", "data [integer!] bits [integer!]", routine_shift_left, 0, nullptr},
    {"shift-logical", "data [integer!] bits [integer!]", routine_shift_logical, 0, nullptr},
    {"last-lf?", "", routine_last_lf_q, 0, nullptr},
    {"build-date", "", routine_build_date, 0, nullptr},
    {"as-color", "r [integer!] g [integer!] b [integer!]", routine_as_color, 0, nullptr},
    {"as-ipv4", "a [integer!] b [integer!] c [integer!] d [integer!]", routine_as_ipv4, 0, nullptr},
    {"as-rgba", "r [integer!] g [integer!] b [integer!] a [integer!]", routine_as_ipv4, 0, nullptr},
    {"count-chars", "start [binary!] pos [binary!]", routine_count_chars, 0, nullptr},
    {"stack-size?", "", routine_stack_size_q, 0, nullptr},
    {"pick-stack", "idx [integer!]", routine_pick_stack, 0, nullptr},
    {"frame-index?", "", routine_frame_index_q, 0, nullptr},
    {"collect-calls", "blk [block!]", routine_collect_calls, 0, nullptr},
    {"tracing?", "", routine_tracing_q, 0, nullptr},
    {"trace-set", "flag [logic!]", routine_trace_set, 0, nullptr},
    // Picked up by the library's top level into system/state/GC,
    // system/words and system/catalog/errors; their words are then unset.
    {"gc-active?", "", routine_gc_active_q, 0, nullptr},
    {"gc-series-cycles", "", routine_gc_series_cycles, 0, nullptr},
    {"gc-nodes-cycles", "", routine_gc_nodes_cycles, 0, nullptr},
    {"make-system-words", "", routine_make_system_words, 0, nullptr},
    {"error-catalog-spec", "", routine_error_catalog_spec, 0, nullptr},
    {"get-command-line", "", routine_get_command_line, 0, nullptr},
    {"float-pretty-set", "flag [logic!]", routine_float_pretty_set, 0, nullptr},
    {"money-currency-list", "", routine_money_currency_list, 0, nullptr},
    {"money-currency-append", "code [word!]", routine_money_currency_append, 0, nullptr},
    {"money-digits-set", "digits [any-type!]", routine_money_digits_set, 0, nullptr},
    {"error-settings-set", "depth [any-type!] files [any-type!]", routine_error_settings_set, 0,
     nullptr},
#define TYPE_TEST(name, type) \
    {name, "\"Returns true if the value is this type\" value [any-type!]", nullptr, type, nullptr}
    TYPE_TEST("bitset?", T_BITSET), TYPE_TEST("binary?", T_BINARY), TYPE_TEST("block?", T_BLOCK),
    TYPE_TEST("char?", T_CHAR), TYPE_TEST("email?", T_EMAIL), TYPE_TEST("file?", T_FILE),
    TYPE_TEST("float?", T_FLOAT), TYPE_TEST("get-path?", T_GET_PATH),
    TYPE_TEST("get-word?", T_GET_WORD), TYPE_TEST("hash?", T_HASH),
    TYPE_TEST("integer?", T_INTEGER), TYPE_TEST("issue?", T_ISSUE),
    TYPE_TEST("lit-path?", T_LIT_PATH), TYPE_TEST("lit-word?", T_LIT_WORD),
    TYPE_TEST("logic?", T_LOGIC), TYPE_TEST("map?", T_MAP), TYPE_TEST("none?", T_NONE),
    TYPE_TEST("pair?", T_PAIR), TYPE_TEST("paren?", T_PAREN), TYPE_TEST("path?", T_PATH),
    TYPE_TEST("percent?", T_PERCENT), TYPE_TEST("refinement?", T_REFINEMENT),
    TYPE_TEST("set-path?", T_SET_PATH), TYPE_TEST("set-word?", T_SET_WORD),
    TYPE_TEST("string?", T_STRING), TYPE_TEST("tag?", T_TAG), TYPE_TEST("time?", T_TIME),
    TYPE_TEST("typeset?", T_TYPESET), TYPE_TEST("tuple?", T_TUPLE), TYPE_TEST("unset?", T_UNSET),
    TYPE_TEST("url?", T_URL), TYPE_TEST("word?", T_WORD), TYPE_TEST("image?", T_IMAGE),
    TYPE_TEST("date?", T_DATE), TYPE_TEST("money?", T_MONEY), TYPE_TEST("ref?", T_REF),
    TYPE_TEST("point2D?", T_POINT2D), TYPE_TEST("point3D?", T_POINT3D),
    TYPE_TEST("handle?", T_HANDLE), TYPE_TEST("error?", T_ERROR), TYPE_TEST("action?", T_ACTION),
    TYPE_TEST("native?", T_NATIVE), TYPE_TEST("datatype?", T_DATATYPE),
    TYPE_TEST("function?", T_FUNCTION), TYPE_TEST("object?", T_OBJECT), TYPE_TEST("op?", T_OP),
    TYPE_TEST("routine?", T_ROUTINE), TYPE_TEST("vector?", T_VECTOR),
#undef TYPE_TEST
#define TYPESET_TEST(name, set) \
    {name, "\"Returns true if the value is any type of " set "\" value [any-type!]", nullptr, 0, set}
    TYPESET_TEST("any-list?", "any-list!"), TYPESET_TEST("any-block?", "any-block!"),
    TYPESET_TEST("any-function?", "any-function!"), TYPESET_TEST("any-object?", "any-object!"),
    TYPESET_TEST("any-path?", "any-path!"), TYPESET_TEST("any-string?", "any-string!"),
    TYPESET_TEST("any-word?", "any-word!"), TYPESET_TEST("series?", "series!"),
    TYPESET_TEST("number?", "number!"), TYPESET_TEST("immediate?", "immediate!"),
    TYPESET_TEST("scalar?", "scalar!"), TYPESET_TEST("all-word?", "all-word!"),
    TYPESET_TEST("any-point?", "any-point!"), TYPESET_TEST("planar?", "planar!"),
#undef TYPESET_TEST
};
const uint32_t LIBRARY_ROUTINE_COUNT = sizeof LIBRARY_ROUTINES / sizeof LIBRARY_ROUTINES[0];

// The typeset test reads the global word at every call, so a typeset the
// user redefines takes effect at once. A script that gives the word another
// kind of value has not redefined the typeset: the library's typeset of that
// name is read instead, so library code that tests types keeps working. A
// word that holds no typeset either way raises script error invalid-type.
static bool typeset_word_has(const char* name, uint8_t type) {
    Cell word = word_intern(name);
    const Cell* set = word_get(&word);
    if (cell_type(set) != T_TYPESET) {
        word = library_word(name);
        set = word_get(&word);
    }
    if (cell_type(set) != T_TYPESET) error_raise(ERR_INVALID_TYPE, &word);
    return typeset_has(set, type);
}

// Every routine's entry by its number: the entries of the tables in the
// order the tables were added, so that a call finds its entry in one step.
constexpr uint32_t ROUTINES_MAX = 256;
static const RoutineDef* entries[ROUTINES_MAX];
static uint32_t entry_count = 0;

// The tables added so far; adding one again adds nothing.
constexpr uint32_t ROUTINE_TABLES_MAX = 8;
static const RoutineDef* added_tables[ROUTINE_TABLES_MAX];
static uint32_t added_table_count = 0;

void routines_table_add(const RoutineDef* table, uint32_t count) {
    for (uint32_t t = 0; t < added_table_count; t++)
        if (added_tables[t] == table) return;
    if (added_table_count == ROUTINE_TABLES_MAX || count > ROUTINES_MAX - entry_count)
        error_raise(ERR_LIMIT_HIT);
    added_tables[added_table_count++] = table;
    for (uint32_t i = 0; i < count; i++) entries[entry_count++] = &table[i];
}

static const RoutineDef* routine_def(uint32_t i) { return i < entry_count ? entries[i] : nullptr; }

static const RoutineDef* routine_def_of(const Cell* routine) {
    const Cell* entry = function_more_cell(routine, MORE_ENTRY);
    return cell_type(entry) == T_INTEGER ? routine_def(uint32_t(cell_int(entry))) : nullptr;
}

// The type a routine of TYPE_TEST tests for; 0 for the others.
static uint8_t routine_type_of(const Cell* routine) {
    const RoutineDef* found = routine_def_of(routine);
    return found && !found->fn && !found->typeset ? found->type : 0;
}

void routine_call(const Cell* routine) {
    const RoutineDef* found = routine_def_of(routine);
    if (!found) error_raise(ERR_ROUTINES);
    const RoutineDef& def = *found;
    if (def.fn) {
        def.fn();
        return;
    }
    uint8_t type = cell_type(data_stack.args);
    routine_logic_box(def.typeset ? typeset_word_has(def.typeset, type) : type == def.type);
}

void routines_define() {
    output_hooks_add(last_lf_value_hook, last_lf_text_hook);
    http_services_install();  // read and write of url! values reach HTTP and url-parser
    routine_runner_set(routine_call);
    routine_type_tested_set(routine_type_of);
    for (uint32_t i = 0; const RoutineDef* found = routine_def(i); i++) {
        const RoutineDef& def = *found;
        CellRoot spec;
        LexerOptions options;
        lexer_transcode(&spec.cell, reinterpret_cast<const uint8_t*>(def.spec),
                        uint32_t(std::strlen(def.spec)), options, nullptr);
        Cell entry;
        cell_init(&entry, T_INTEGER);
        integer_make_at(&entry, int32_t(i));
        Cell* value = routine_make(&spec.cell, nullptr, &entry, nullptr, true);
        CellRoot word(word_intern(def.name));
        word_set(&word.cell, value);
        stack_pop(1);
    }
}

} // namespace kel
