// event!: making detached events, reading their fields by path and pick,
// and the ring of message records that live events refer to.
#include "gui/event.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/error_catalog.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "datatypes/char.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

#include <algorithm>

namespace kel {

// ---- vocabulary -----------------------------------------------------------------------

static const char* const EVENT_TYPE_NAMES[EVT_TYPE_COUNT] = {
    nullptr,    "down",      "up",        "mid-down",  "mid-up",   "alt-down", "alt-up",
    "aux-down", "aux-up",    "click",     "dbl-click", "wheel",    "over",     "key",
    "key-down", "key-up",    "ime",       "focus",     "unfocus",  "enter",    "zoom",
    "pan",      "rotate",    "two-tap",   "press-tap", "select",   "change",   "menu",
    "close",    "move",      "resize",    "moving",    "resizing", "time",     "drawing",
    "scroll",   "minimize",  "maximize",  "restore",
};

// The flag words in the order `flags` lists them, with their bits; `command`
// is never listed but make accepts it.
struct FlagWord {
    const char* name;
    uint32_t bit;
};
static const FlagWord FLAG_WORDS[] = {
    {"away", EVENT_FLAG_AWAY},         {"down", EVENT_FLAG_DOWN},
    {"mid-down", EVENT_FLAG_MID_DOWN}, {"alt-down", EVENT_FLAG_ALT_DOWN},
    {"aux-down", EVENT_FLAG_AUX_DOWN}, {"control", EVENT_FLAG_CONTROL},
    {"shift", EVENT_FLAG_SHIFT},       {"alt", EVENT_FLAG_ALT},
    {"command", EVENT_FLAG_COMMAND},
};
constexpr uint32_t FLAG_WORD_COUNT = sizeof FLAG_WORDS / sizeof FLAG_WORDS[0];
constexpr uint32_t FLAG_WORDS_LISTED = FLAG_WORD_COUNT - 1;

// Fields by index (1-based in pick and paths).
enum EventField : uint32_t {
    EF_TYPE = 1, EF_FACE, EF_WINDOW, EF_OFFSET, EF_KEY, EF_PICKED, EF_FLAGS, EF_AWAY_Q,
    EF_DOWN_Q, EF_MID_DOWN_Q, EF_ALT_DOWN_Q, EF_AUX_DOWN_Q, EF_CTRL_Q, EF_SHIFT_Q,
    EF_ORIENTATION, EF_COUNT = EF_ORIENTATION,
};
static const RuntimeSymbol FIELD_SYMBOLS[EF_COUNT + 1] = {
    SYM_TYPE,     SYM_TYPE,        SYM_FACE,       SYM_WINDOW,     SYM_OFFSET,
    SYM_KEY,      SYM_PICKED,      SYM_FLAGS,      SYM_AWAY_Q,     SYM_DOWN_Q,
    SYM_MID_DOWN_Q, SYM_ALT_DOWN_Q, SYM_AUX_DOWN_Q, SYM_CTRL_Q,    SYM_SHIFT_Q,
    SYM_ORIENTATION,
};
// The flag bit each logic field tests.
static uint32_t logic_field_bit(uint32_t field) {
    switch (field) {
    case EF_AWAY_Q: return EVENT_FLAG_AWAY;
    case EF_DOWN_Q: return EVENT_FLAG_DOWN;
    case EF_MID_DOWN_Q: return EVENT_FLAG_MID_DOWN;
    case EF_ALT_DOWN_Q: return EVENT_FLAG_ALT_DOWN;
    case EF_AUX_DOWN_Q: return EVENT_FLAG_AUX_DOWN;
    case EF_CTRL_Q: return EVENT_FLAG_CONTROL;
    case EF_SHIFT_Q: return EVENT_FLAG_SHIFT;
    default: return 0;
    }
}

// Resolved symbols, made by init_event.
static uint32_t type_symbols[EVT_TYPE_COUNT];
static uint32_t flag_symbols[FLAG_WORD_COUNT];
static uint32_t face_key, window_key, offset_key, picked_key, type_key, key_key, flags_key;

uint32_t event_type_symbol(uint32_t type) {
    return type > 0 && type < EVT_TYPE_COUNT ? type_symbols[type] : 0;
}

uint32_t event_type_of_symbol(uint32_t symbol) {
    uint32_t resolved = symbol_resolve(symbol);
    for (uint32_t t = 1; t < EVT_TYPE_COUNT; t++)
        if (type_symbols[t] == resolved) return t;
    return 0;
}

// The field index a word names, 0 when none.
static uint32_t event_field_of(const Cell* word) {
    uint32_t resolved = symbol_resolve(word_symbol(word));
    for (uint32_t f = 1; f <= EF_COUNT; f++)
        if (symbol_resolve(runtime_symbol(FIELD_SYMBOLS[f])) == resolved) return f;
    return 0;
}

// ---- message ring and the flags block -------------------------------------------------

static GuiMessage message_ring[GUI_MESSAGE_RING];
static uint32_t message_serial = 0;  // serial of the last record taken
// The block `flags` answers, refilled at every read; none until first read.
static Cell flags_block;

static void event_roots_mark() {
    for (GuiMessage& m : message_ring) collector_mark_values(&m.face, &m.orientation + 1);
    collector_mark_values(&flags_block, &flags_block + 1);
}

GuiMessage* gui_message_new() {
    if (++message_serial == 0) message_serial = 1;
    GuiMessage* m = &message_ring[message_serial % GUI_MESSAGE_RING];
    m->serial = message_serial;
    m->window = m->kind = 0;
    m->x = m->y = 0;
    for (Cell* c = &m->face; c <= &m->orientation; c++) cell_init(c, T_NONE);
    return m;
}

GuiMessage* gui_message_find(uint32_t serial) {
    GuiMessage* m = &message_ring[serial % GUI_MESSAGE_RING];
    return serial != 0 && m->serial == serial ? m : nullptr;
}

void event_make_live(Cell* out, uint32_t type, const GuiMessage* message, uint32_t flags) {
    cell_init(out, T_EVENT);
    out->w1 = type;
    out->w2 = message ? message->serial : 0;
    out->w3 = flags;
}

static void integer_zero(Cell* out) {
    cell_init(out, T_INTEGER);
    integer_make_at(out, 0);
}

// ---- field reads ----------------------------------------------------------------------

static bool event_detached_q(const Cell* event) { return (event->header & EVENT_DETACHED) != 0; }

// A detached event's data block value (0 face, 1 window, 2 offset, 3 picked).
static bool event_data_get(const Cell* event, uint32_t slot, Cell* out) {
    if (event->w2 == 0) return false;
    SeriesBuffer* buffer = series_buffer_of(event);
    if (slot >= buffer->length()) return false;
    cell_copy(block_cells(buffer) + slot, out);
    return true;
}

// Clears the shared flags block and fills it with the words of the set bits.
static void event_flags_fill(uint32_t flags, Cell* out) {
    if (cell_type(&flags_block) != T_BLOCK) block_make_at(&flags_block, int32_t(FLAG_WORDS_LISTED));
    block_ks_tail_at(&flags_block, uint32_t(series_index(&flags_block)));
    for (uint32_t i = 0; i < FLAG_WORDS_LISTED; i++) {
        if (!(flags & FLAG_WORDS[i].bit)) continue;
        Cell word;
        word_make_at(&word, T_WORD, flag_symbols[i]);
        block_ks_append(&flags_block, &word);
    }
    cell_copy(&flags_block, out);
}

// Writes the value of field f of the event into out.
static void event_field_get(const Cell* event, uint32_t f, Cell* out) {
    uint32_t flags = event->w3;
    if (f == EF_TYPE) {
        uint32_t symbol = event_type_symbol(event->w1);
        if (symbol) word_make_at(out, T_WORD, symbol);
        else none_make_at(out);
        return;
    }
    if (f == EF_FLAGS) {
        event_flags_fill(flags, out);
        return;
    }
    if (uint32_t bit = logic_field_bit(f)) {
        logic_make_at(out, (flags & bit) != 0);
        return;
    }
    if (event_detached_q(event)) {
        switch (f) {
        case EF_FACE:
            if (!event_data_get(event, 0, out)) none_make_at(out);
            return;
        case EF_WINDOW:
            if (!event_data_get(event, 1, out)) none_make_at(out);
            return;
        case EF_OFFSET:
            if (!event_data_get(event, 2, out)) pair_init(out, 0, 0);
            return;
        case EF_PICKED:
            if (!event_data_get(event, 3, out)) integer_zero(out);
            return;
        case EF_KEY:
            if (flags & EVENT_KEY_MASK) char_make_at(out, int32_t(flags & EVENT_KEY_MASK));
            else none_make_at(out);
            return;
        default: none_make_at(out); return;
        }
    }
    const GuiMessage* m = gui_message_find(event->w2);
    if (!m) {
        none_make_at(out);
        return;
    }
    switch (f) {
    case EF_FACE: cell_copy(&m->face, out); return;
    case EF_WINDOW: cell_copy(&m->window_face, out); return;
    case EF_OFFSET: cell_copy(&m->offset, out); return;
    case EF_KEY: cell_copy(&m->key, out); return;
    case EF_PICKED: cell_copy(&m->picked, out); return;
    case EF_ORIENTATION: cell_copy(&m->orientation, out); return;
    default: none_make_at(out); return;
    }
}

// ---- actions --------------------------------------------------------------------------

// A bound word or get-word of a make spec stands for its value (when it has one).
static Cell spec_value(const Cell* value) {
    Cell result = *value;
    uint8_t t = cell_type(value);
    if ((t == T_WORD || t == T_GET_WORD) && word_context(value) != 0) {
        const Cell* referred = word_get(value);
        if (cell_type(referred) != T_UNSET) result = *referred;
    }
    return result;
}

// The flag bit of a word, 0 for any other word.
static uint32_t flag_bit_of(const Cell* word) {
    uint32_t resolved = symbol_resolve(word_symbol(word));
    for (uint32_t i = 0; i < FLAG_WORD_COUNT; i++)
        if (flag_symbols[i] == resolved) return FLAG_WORDS[i].bit;
    return 0;
}

// Sets the type of an event from a word; an unknown word raises not-event-type.
static void event_type_set(Cell* event, const Cell* word) {
    uint32_t type = event_type_of_symbol(word_symbol(word));
    if (!type) error_raise(ERR_NOT_EVENT_TYPE, word);
    event->w1 = type;
}

static const Cell* event_make(Cell* proto, const Cell* spec, uint8_t) {
    Cell result;
    cell_init(&result, T_EVENT);
    result.header |= EVENT_DETACHED;
    if (cell_type(spec) != T_BLOCK) {
        cell_copy(&result, proto);
        return proto;
    }
    CellRoot face, window, offset, picked;
    pair_init(&offset.cell, 0, 0);
    integer_zero(&picked.cell);
    bool has_data = false;
    Node node = series_node(spec);
    for (uint32_t i = uint32_t(std::max(series_index(spec), 0));; i += 2) {
        // Nothing in the loop allocates: the buffer address stays valid per step.
        SeriesBuffer* buffer = series_buffer(node);
        uint32_t length = buffer->length();
        if (i >= length) break;
        const Cell* cells = block_cells(buffer);
        if (cell_type(&cells[i]) != T_SET_WORD) {
            i -= 1;  // not a key: skip this one value only
            continue;
        }
        if (i + 1 >= length) break;
        uint32_t key = symbol_resolve(word_symbol(&cells[i]));
        Cell value = spec_value(&cells[i + 1]);
        uint8_t t = cell_type(&value);
        if (key == type_key) {
            if (t == T_WORD || t == T_LIT_WORD) event_type_set(&result, &value);
        } else if (key == key_key) {
            if (t == T_CHAR) result.w3 |= uint32_t(cell_int(&value)) & EVENT_KEY_MASK;
        } else if (key == flags_key) {
            if (t != T_BLOCK) continue;
            SeriesBuffer* words = series_buffer(series_node(&value));
            const Cell* w = block_cells(words);
            for (uint32_t k = uint32_t(std::max(series_index(&value), 0)); k < words->length(); k++)
                if (cell_type(&w[k]) == T_WORD) result.w3 |= flag_bit_of(&w[k]);
        } else if (key == face_key || key == window_key) {
            if (t != T_OBJECT) continue;
            cell_copy(&value, key == face_key ? &face.cell : &window.cell);
            has_data = true;
        } else if (key == offset_key) {
            if (t != T_PAIR && t != T_POINT2D) continue;
            cell_copy(&value, &offset.cell);
            has_data = true;
        } else if (key == picked_key) {
            if (t != T_INTEGER) continue;
            cell_copy(&value, &picked.cell);
            has_data = true;
        }
    }
    if (has_data) {
        CellRoot data;
        block_make_at(&data.cell, 4);
        block_ks_append(&data.cell, &face.cell);
        block_ks_append(&data.cell, &window.cell);
        block_ks_append(&data.cell, &offset.cell);
        block_ks_append(&data.cell, &picked.cell);
        result.w2 = series_node(&data.cell);
    }
    cell_copy(&result, proto);
    return proto;
}

static int32_t event_form(const Cell*, Cell* target, bool, bool, bool, bool, int32_t budget, int32_t) {
    string_concatenate_text(target, "event");
    return budget - 5;
}

static int32_t event_compare(const Cell*, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_EVENT) return COMPARE_INCOMPARABLE;
    switch (op) {
    case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SORT: case CMP_SORT_CASE:
    case CMP_SAME: case CMP_FIND: return 0;
    default: return COMPARE_INCOMPARABLE;
    }
}

static void event_pick(Cell* value, const Cell* index) {
    uint32_t f = 0;
    if (cell_type(index) == T_WORD) {
        f = event_field_of(index);
        if (!f) error_raise(ERR_CANNOT_USE, index, value);
    } else if (cell_type(index) == T_INTEGER) {
        int32_t n = integer_get(index);
        if (n >= 1 && n <= int32_t(EF_COUNT)) f = uint32_t(n);
    }
    if (!f) error_raise(ERR_OUT_OF_RANGE, index);
    Cell event = *value;
    event_field_get(&event, f, value);
}

static void event_eval_path(const Cell* parent, const Cell* element, const Cell* set_value,
                            const Cell* path, bool, Cell* out) {
    uint32_t f = cell_type(element) == T_WORD ? event_field_of(element) : 0;
    if (!f) error_raise(ERR_INVALID_PATH, path, element);
    if (!set_value) {
        event_field_get(parent, f, out);
        return;
    }
    if (f != EF_TYPE || cell_type(set_value) != T_WORD) error_raise(ERR_BAD_PATH_SET, path, element);
    event_type_set(const_cast<Cell*>(parent), set_value);
    cell_copy(set_value, out);
}

// A detached event keeps its data block alive.
static void event_mark(Cell* cell) {
    if (event_detached_q(cell) && cell->w2 != 0) collector_mark_block(&cell->w2);
}

void init_event() {
    for (uint32_t t = 1; t < EVT_TYPE_COUNT; t++) type_symbols[t] = symbol_resolve(symbol_make(EVENT_TYPE_NAMES[t]));
    for (uint32_t i = 0; i < FLAG_WORD_COUNT; i++) flag_symbols[i] = symbol_resolve(symbol_make(FLAG_WORDS[i].name));
    type_key = symbol_resolve(runtime_symbol(SYM_TYPE));
    face_key = symbol_resolve(runtime_symbol(SYM_FACE));
    window_key = symbol_resolve(runtime_symbol(SYM_WINDOW));
    offset_key = symbol_resolve(runtime_symbol(SYM_OFFSET));
    picked_key = symbol_resolve(runtime_symbol(SYM_PICKED));
    key_key = symbol_resolve(runtime_symbol(SYM_KEY));
    flags_key = symbol_resolve(runtime_symbol(SYM_FLAGS));
    cell_init(&flags_block, T_NONE);
    for (GuiMessage& m : message_ring) {
        m.serial = 0;
        for (Cell* c = &m.face; c <= &m.orientation; c++) cell_init(c, T_NONE);
    }
    collector_add_root(event_roots_mark);
    collector_register_marker(T_EVENT, event_mark);

    const ActionRow actions[] = {
        {A_MAKE, event_make},
        {A_FORM, event_form},
        {A_MOLD, event_form},
        {A_EVAL_PATH, event_eval_path},
        {A_COMPARE, event_compare},
        {A_PICK, event_pick},
    };
    datatype_register(T_EVENT, 0, "event!", actions);
}

} // namespace kel
