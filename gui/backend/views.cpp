// The view table: records of realised faces, looked up by generation-checked
// ids, their faces kept alive and current by a collector root; and the
// per-face-type hook table.
#include "gui/backend/view.hpp"
#include "core/block.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "core/symbol.hpp"
#include "core/word.hpp"
#include "datatypes/handle.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

#include <cstring>
#include <vector>

namespace kel {

// ---- face objects ---------------------------------------------------------------------

static const char* const FACE_TYPE_NAMES[FACE_TYPE_COUNT] = {
    "",          "window",    "screen",    "panel",     "tab-panel", "group-box",
    "base",      "rich-text", "text",      "field",     "area",      "button",
    "toggle",    "check",     "radio",     "text-list", "drop-list", "drop-down",
    "progress",  "slider",    "scroller",  "camera",    "calendar",
};

// Resolved symbols of the type words, interned on first use.
static uint32_t face_type_symbols[FACE_TYPE_COUNT];

const char* face_type_name(FaceType type) { return type < FACE_TYPE_COUNT ? FACE_TYPE_NAMES[type] : ""; }

FaceType face_type_of(const Cell* face) {
    if (cell_type(face) != T_OBJECT) return FACE_TYPE_UNKNOWN;
    Cell word = face_field(face, FACE_OBJ_TYPE);
    if (cell_type(&word) != T_WORD && cell_type(&word) != T_LIT_WORD) return FACE_TYPE_UNKNOWN;
    if (!face_type_symbols[FACE_TYPE_WINDOW])
        for (uint32_t t = 1; t < FACE_TYPE_COUNT; t++)
            face_type_symbols[t] = symbol_resolve(symbol_make(FACE_TYPE_NAMES[t]));
    uint32_t symbol = symbol_resolve(word_symbol(&word));
    for (uint32_t t = 1; t < FACE_TYPE_COUNT; t++)
        if (face_type_symbols[t] == symbol) return FaceType(t);
    return FACE_TYPE_UNKNOWN;
}

Cell face_field(const Cell* face, uint32_t field) {
    Cell value;
    cell_init(&value, T_NONE);
    if (cell_type(face) != T_OBJECT) return value;
    Node values = object_values(face);
    if (!values) return value;
    SeriesBuffer* buffer = series_buffer(values);
    if (field < buffer->length()) value = block_cells(buffer)[field];
    return value;
}

void face_field_set(const Cell* face, uint32_t field, const Cell* value) {
    if (cell_type(face) != T_OBJECT) return;
    Node values = object_values(face);
    if (!values) return;
    SeriesBuffer* buffer = series_buffer(values);
    if (field < buffer->length()) cell_copy(value, block_cells(buffer) + field);
}

// ---- the view table -------------------------------------------------------------------

constexpr uint32_t VIEW_SLOT_BITS = 20;
constexpr uint32_t VIEW_SLOT_MASK = (1u << VIEW_SLOT_BITS) - 1;
constexpr uint32_t VIEW_GENERATION_MASK = 0xFFF;

// Slot i holds the view whose id has slot part i + 1, or null when free;
// generations[i] counts the views the slot has held. The tables live as long
// as the process (views still open at exit stay reachable).
static std::vector<View*>& views = *new std::vector<View*>;
static std::vector<uint32_t>& generations = *new std::vector<uint32_t>;
static std::vector<uint32_t>& free_slots = *new std::vector<uint32_t>;
static bool root_registered = false;

// Marks the face of every live view.
static void views_mark() {
    for (View* view : views)
        if (view) collector_mark_values(&view->face, &view->face + 1);
}

static const char* const VIEW_DATA_KEY = "kel-view-id";

View* view_new(const Cell* face, FaceType type) {
    if (!root_registered) {
        collector_add_root(views_mark);
        root_registered = true;
    }
    uint32_t slot;
    if (!free_slots.empty()) {
        slot = free_slots.back();
        free_slots.pop_back();
    } else {
        slot = uint32_t(views.size());
        views.push_back(nullptr);
        generations.push_back(0);
    }
    View* view = new View{};
    generations[slot] = (generations[slot] + 1) & VIEW_GENERATION_MASK;
    view->id = (generations[slot] << VIEW_SLOT_BITS) | (slot + 1);
    view->type = type;
    view->face = *face;
    views[slot] = view;
    return view;
}

View* view_get(ViewId id) {
    uint32_t slot = (id & VIEW_SLOT_MASK);
    if (slot == 0 || slot > views.size()) return nullptr;
    View* view = views[slot - 1];
    return view && view->id == id ? view : nullptr;
}

void view_free(View* view) {
    uint32_t slot = (view->id & VIEW_SLOT_MASK) - 1;
    views[slot] = nullptr;
    free_slots.push_back(slot);
    delete view;
}

View* view_of_widget(GtkWidget* widget) {
    if (!widget) return nullptr;
    return view_get(ViewId(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(widget), VIEW_DATA_KEY))));
}

void view_attach_widget(View* view, GtkWidget* widget) {
    if (widget) g_object_set_data(G_OBJECT(widget), VIEW_DATA_KEY, GUINT_TO_POINTER(view->id));
}

void view_each(void (*fn)(View* view, void* data), void* data) {
    for (size_t i = 0; i < views.size(); i++)
        if (views[i]) fn(views[i], data);
}

View* face_view(const Cell* face) {
    Cell state = face_field(face, FACE_OBJ_STATE);
    if (cell_type(&state) != T_BLOCK) return nullptr;
    SeriesBuffer* buffer = series_buffer(series_node(&state));
    uint32_t index = uint32_t(series_index(&state));
    if (index >= buffer->length()) return nullptr;
    const Cell* handle = block_cells(buffer) + index;
    if (cell_type(handle) != T_HANDLE || handle_type_index(handle) != HANDLE_WINDOW) return nullptr;
    return view_get(handle_value(handle));
}

View* view_window(View* view) {
    for (int depth = 0; view && depth < 1000; depth++) {
        if (view->type == FACE_TYPE_WINDOW || !view->parent) return view;
        view = view_get(view->parent);
    }
    return nullptr;
}

// ---- per-face-type hooks --------------------------------------------------------------

// Constant-initialised, so registrations made by other files' static
// initialisers find it ready whatever the order.
static const FaceTypeHooks* type_hooks[FACE_TYPE_COUNT];

void face_type_hooks_set(FaceType type, const FaceTypeHooks* hooks) {
    if (type < FACE_TYPE_COUNT) type_hooks[type] = hooks;
}

const FaceTypeHooks* face_type_hooks(FaceType type) {
    return type < FACE_TYPE_COUNT ? type_hooks[type] : nullptr;
}

} // namespace kel
