// The specs of the actions, as source text, and the start-up step that turns
// them and the natives' rows into native! and action! values and sets the global words
// of the built-in values (datatypes, standard typesets, logic words, the
// infix operators). A native's refinement order decides the positions its
// entry receives, an action's those its stack entry reads.
#include "natives/natives.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/function.hpp"
#include "core/logic.hpp"
#include "core/numbers.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include "core/typeset.hpp"
#include "core/word.hpp"
#include "datatypes/integer.hpp"
#include "core/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include <cstring>

namespace kel {

// Triples of a set-word, the action number and a spec block.
static const char ACTION_SPECS[] = R"kel(
make: 1 [type [any-type!] spec [any-type!]]
random: 2 [value /seed /secure /only]
reflect: 3 [value [any-type!] field [word!]]
to: 4 [type [any-type!] spec]
form: 5 [value [any-type!] /part limit [integer!]]
mold: 6 [value [any-type!] /only /all /flat /part limit [integer!]]
absolute: 10 [value]
add: 11 [value1 value2]
divide: 12 [value1 value2]
multiply: 13 [value1 value2]
negate: 14 [number]
power: 15 [number exponent]
remainder: 16 [value1 value2]
round: 17 [n /to scale /even /down /half-down /floor /ceiling /half-ceiling]
subtract: 18 [value1 value2]
even?: 19 [number]
odd?: 20 [number]
and~: 21 [value1 value2]
complement: 22 [value]
or~: 23 [value1 value2]
xor~: 24 [value1 value2]
append: 25 [series value [any-type!] /part length /only /dup count]
at: 26 [series index]
back: 27 [series]
change: 28 [series value [any-type!] /part range /only /dup count]
clear: 29 [series]
copy: 30 [value /part length /deep /types kind]
find: 31 [series value [any-type!] /part length /only /case /same /any /with wild /skip size
    /last /reverse /tail /match]
head: 32 [series]
head?: 33 [series]
index?: 34 [series]
insert: 35 [series value [any-type!] /part length /only /dup count]
length?: 36 [series]
move: 37 [origin target /part length]
next: 38 [series]
pick: 39 [series index]
poke: 40 [series index value [any-type!]]
put: 41 [series key value [any-type!] /case]
remove: 42 [series /part length /key key-arg]
reverse: 43 [series /part length /skip size]
select: 44 [series value [any-type!] /part length /only /case /same /any /with wild /skip size
    /last /reverse]
sort: 45 [series /case /skip size /compare comparator /part length /all /reverse /stable]
skip: 46 [series offset]
swap: 47 [series1 series2]
tail: 48 [series]
tail?: 49 [series]
take: 50 [series /part length /deep /last]
trim: 51 [series /head /tail /auto /lines /all /with str]
create: 52 [port]
close: 53 [port]
delete: 54 [file]
modify: 55 [target field [word!] value [any-type!] /case]
open: 56 [port /new /read /write /seek /allow access]
open?: 57 [port]
query: 58 [target]
read: 59 [source /part length /seek index /binary /lines /info /as encoding]
rename: 60 [from to]
update: 61 [port]
write: 62 [destination data [any-type!] /binary /lines /info /append /part length /seek index
    /allow access /as encoding]
)kel";

// Infix operators: the operator word and the word of the function it calls.
static const char* const OPERATORS[][2] = {
    {"+", "add"}, {"-", "subtract"}, {"*", "multiply"}, {"/", "divide"},
    {"//", "remainder"}, {"**", "power"}, {"=", "equal?"}, {"<>", "not-equal?"},
    {"==", "strict-equal?"}, {"=?", "same?"}, {"<", "lesser?"}, {">", "greater?"},
    {"<=", "lesser-or-equal?"}, {">=", "greater-or-equal?"},
    {"and", "and~"}, {"or", "or~"}, {"xor", "xor~"},
};

// The standard typesets by their type ids.
struct TypesetDef {
    const char* name;
    uint8_t types[16];  // zero-terminated
};
static const TypesetDef TYPESETS[] = {
    {"any-word!", {T_WORD, T_SET_WORD, T_LIT_WORD, T_GET_WORD}},
    {"all-word!", {T_WORD, T_SET_WORD, T_LIT_WORD, T_GET_WORD, T_REFINEMENT, T_ISSUE}},
    {"any-path!", {T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH}},
    {"any-list!", {T_BLOCK, T_PAREN, T_HASH}},
    {"any-block!", {T_BLOCK, T_PAREN, T_HASH, T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH}},
    {"any-string!", {T_STRING, T_FILE, T_URL, T_TAG, T_EMAIL, T_REF}},
    {"series!", {T_BLOCK, T_PAREN, T_HASH, T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH, T_STRING,
                 T_FILE, T_URL, T_TAG, T_EMAIL, T_REF, T_BINARY, T_VECTOR, T_IMAGE}},
    {"any-function!", {T_NATIVE, T_ACTION, T_OP, T_FUNCTION, T_ROUTINE}},
    {"any-object!", {T_OBJECT, T_ERROR, T_PORT}},
    {"number!", {T_INTEGER, T_FLOAT, T_PERCENT}},
    {"any-point!", {T_POINT2D, T_POINT3D}},
    {"scalar!", {T_CHAR, T_INTEGER, T_FLOAT, T_PAIR, T_PERCENT, T_TUPLE, T_TIME, T_DATE, T_MONEY,
                 T_POINT2D, T_POINT3D}},
};

static void global_set(const char* name, const Cell* value) {
    CellRoot held(*value);
    CellRoot word(word_intern(name));
    word_set(&word.cell, &held.cell);
}

static void datatypes_define() {
    for (uint8_t t = 1; t <= datatype_highest_id(); t++) {
        const DatatypeName* name = datatype_name(t);
        if (!name->name) continue;
        Cell type;
        datatype_make_at(&type, t);
        global_set(name->name, &type);
    }
}

static void typesets_define() {
    Cell set;
    typeset_make_at(&set);
    for (uint8_t t = 1; t <= datatype_highest_id(); t++) typeset_add_type(&set, t);
    global_set("any-type!", &set);
    for (const TypesetDef& def : TYPESETS) {
        uint32_t n = 0;
        while (n < sizeof def.types && def.types[n]) n++;
        typeset_make_at(&set, def.types, n);
        global_set(def.name, &set);
    }
}

static void logic_words_define() {
    static const char* const truths[] = {"true", "yes", "on"};
    static const char* const falsehoods[] = {"false", "no", "off"};
    Cell value;
    for (const char* name : truths) {
        logic_make_at(&value, true);
        global_set(name, &value);
    }
    for (const char* name : falsehoods) {
        logic_make_at(&value, false);
        global_set(name, &value);
    }
    none_make_at(&value);
    global_set("none", &value);
}

// Loads its spec text into a block held in out (a root).
static void specs_load(const char* text, CellRoot& out) {
    LexerOptions options;
    lexer_transcode(&out.cell, reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)),
                    options, nullptr);
}

// make native! (or action!) on [spec index], set to the word and written into
// out (a root).
static void callable_define(const Cell* word, const Cell* spec, uint32_t index, uint8_t type,
                            Cell* out) {
    CellRoot pair;
    block_make_at(&pair.cell, 2);
    block_ks_append(&pair.cell, spec);
    Cell n;
    cell_init(&n, T_INTEGER);
    integer_set(&n, int32_t(index));
    block_ks_append(&pair.cell, &n);
    Cell proto;
    datatype_make_at(&proto, type);
    dispatch_make(&proto, &pair.cell, false, out);
    CellRoot target(*word);
    cell_type_set(&target.cell, T_WORD);
    word_set(&target.cell, out);
}

static void natives_define() {
    CellRoot specs;
    specs_load(natives_spec_text().c_str(), specs);
    CellRoot values;
    block_make_at(&values.cell, int32_t(NATIVES_DEFINED));
    uint32_t count = uint32_t(block_ks_length_q(&specs.cell)) / 2;
    if (count != NATIVES_DEFINED) error_raise(ERR_LIMIT_HIT);
    for (uint32_t k = 0; k < count; k++) {
        CellRoot word(*block_ks_abs_at(&specs.cell, 2 * k));
        CellRoot spec(*block_ks_abs_at(&specs.cell, 2 * k + 1));
        CellRoot value;
        callable_define(&word.cell, &spec.cell, k + 1, T_NATIVE, &value.cell);
        block_ks_append(&values.cell, &value.cell);
    }
    callable_references_set(T_NATIVE, &values.cell);
}

static void actions_define() {
    CellRoot specs;
    specs_load(ACTION_SPECS, specs);
    // The action values by number; the numbers without a word stay none.
    CellRoot values;
    block_make_at(&values.cell, int32_t(ACTIONS_TABLE_SLOTS));
    for (uint32_t n = 0; n < ACTIONS_TABLE_SLOTS; n++) block_ks_append(&values.cell, &none_cell);
    uint32_t count = uint32_t(block_ks_length_q(&specs.cell)) / 3;
    for (uint32_t k = 0; k < count; k++) {
        CellRoot word(*block_ks_abs_at(&specs.cell, 3 * k));
        uint32_t index = uint32_t(cell_int(block_ks_abs_at(&specs.cell, 3 * k + 1)));
        CellRoot spec(*block_ks_abs_at(&specs.cell, 3 * k + 2));
        CellRoot value;
        callable_define(&word.cell, &spec.cell, index, T_ACTION, &value.cell);
        cell_copy(&value.cell, block_ks_abs_at(&values.cell, index - 1));
    }
    callable_references_set(T_ACTION, &values.cell);
}

static void operators_define() {
    for (const auto& op : OPERATORS) {
        Cell source_word = word_intern(op[1]);
        CellRoot value(*word_get(&source_word));
        op_make(&value.cell, &value.cell, T_OP);
        global_set(op[0], &value.cell);
    }
}

void natives_words_define() {
    callable_references_reset();
    datatypes_define();
    typesets_define();
    logic_words_define();
    natives_define();
    actions_define();
    operators_define();
}

} // namespace kel
