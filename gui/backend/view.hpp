// Native views of faces: the record the backend keeps for every realised
// face, the table of generation-checked view ids that the faces' state blocks
// hold as handle! values, and the per-face-type hooks through which the
// widget files make, update and release the widgets of their types.
//
// Widget model: every view has an outer widget placed in its parent's
// container at the face's offset. Faces that hold other faces (window, panel,
// base, rich-text, group-box, tab-panel) have a container of faces
// (face_fixed_new, widgets.hpp) into which children are put; a window face's
// outer widget is its GtkWindow, which holds its menu bar and the container. Sizes and positions
// handed to GTK are pixels: logical units times the current scale
// (dpi_scale, backend.hpp).
//
// All of this runs on the GUI thread. A View pointer is valid until the view
// is freed; a ViewId stays safe forever: once its view is freed, looking it up
// gives null.
#pragma once
#include "runtime/cell.hpp"

#include <cstdint>
#include <gtk/gtk.h>

namespace kel {

// ---- face objects -------------------------------------------------------------------

// Positions of the fields of a face (0-based slots of the object's values).
enum FaceField : uint32_t {
    FACE_OBJ_TYPE = 0,
    FACE_OBJ_OFFSET = 1,
    FACE_OBJ_SIZE = 2,
    FACE_OBJ_TEXT = 3,
    FACE_OBJ_IMAGE = 4,
    FACE_OBJ_COLOR = 5,
    FACE_OBJ_MENU = 6,
    FACE_OBJ_DATA = 7,
    FACE_OBJ_ENABLED_Q = 8,
    FACE_OBJ_VISIBLE_Q = 9,
    FACE_OBJ_SELECTED = 10,
    FACE_OBJ_FLAGS = 11,
    FACE_OBJ_OPTIONS = 12,
    FACE_OBJ_PARENT = 13,
    FACE_OBJ_PANE = 14,
    FACE_OBJ_STATE = 15,
    FACE_OBJ_RATE = 16,
    FACE_OBJ_EDGE = 17,
    FACE_OBJ_PARA = 18,
    FACE_OBJ_FONT = 19,
    FACE_OBJ_ACTORS = 20,
    FACE_OBJ_EXTRA = 21,
    FACE_OBJ_DRAW = 22,
    FACE_OBJ_ON_CHANGE = 23,
    FACE_OBJ_ON_DEEP_CHANGE = 24,
    FACE_OBJ_EXT1 = 25,  // rich-text: tabs
    FACE_OBJ_EXT2 = 26,  // rich-text: line-spacing
    FACE_OBJ_EXT3 = 27,  // rich-text: handles
};

// Positions of the fields of a font! and a para!.
enum FontField : uint32_t {
    FONT_OBJ_NAME = 0,
    FONT_OBJ_SIZE = 1,
    FONT_OBJ_STYLE = 2,
    FONT_OBJ_ANGLE = 3,
    FONT_OBJ_COLOR = 4,
    FONT_OBJ_ANTI_ALIAS_Q = 5,
    FONT_OBJ_SHADOW = 6,
    FONT_OBJ_STATE = 7,
    FONT_OBJ_PARENT = 8,
};
enum ParaField : uint32_t {
    PARA_OBJ_ORIGIN = 0,
    PARA_OBJ_PADDING = 1,
    PARA_OBJ_SCROLL = 2,
    PARA_OBJ_ALIGN = 3,
    PARA_OBJ_V_ALIGN = 4,
    PARA_OBJ_WRAP_Q = 5,
    PARA_OBJ_PARENT = 6,
};

// Change bits of a face's state block: bit n-1 for face field n.
constexpr uint32_t face_bit(FaceField field) { return 1u << field; }

// The slots of a face's state block.
enum FaceState : uint32_t {
    FACE_STATE_HANDLE = 0,   // handle! of the view (HANDLE_WINDOW, value a ViewId)
    FACE_STATE_CHANGES = 1,  // integer: pending change bits
    FACE_STATE_DEEP = 2,     // pending deep changes
    FACE_STATE_CLOSE = 3,    // close flag
};

// Face flags as bits (slot "face flags" of a view); get_flags turns the
// flags facet into these.
enum FaceFlag : uint32_t {
    FACE_FLAG_ALL_OVER = 0x1,
    FACE_FLAG_FOCUSABLE = 0x2,
    FACE_FLAG_TRI_STATE = 0x20000,
    FACE_FLAG_SCROLLABLE = 0x40000,
    FACE_FLAG_PASSWORD = 0x80000,
    FACE_FLAG_NO_SYNC = 0x100000,
    FACE_FLAG_FULLSCREEN = 0x200000,
    FACE_FLAG_POPUP = 0x1000000,
    FACE_FLAG_MODAL = 0x2000000,
    FACE_FLAG_RESIZE = 0x4000000,
    FACE_FLAG_NO_BUTTONS = 0x8000000,
    FACE_FLAG_NO_MAX = 0x10000000,
    FACE_FLAG_NO_MIN = 0x20000000,
    FACE_FLAG_NO_TITLE = 0x40000000,
    FACE_FLAG_NO_BORDER = 0x80000000,
};

// The face types the backend knows, from the face's type word.
enum FaceType : uint8_t {
    FACE_TYPE_UNKNOWN = 0,
    FACE_TYPE_WINDOW,
    FACE_TYPE_SCREEN,
    FACE_TYPE_PANEL,
    FACE_TYPE_TAB_PANEL,
    FACE_TYPE_GROUP_BOX,
    FACE_TYPE_BASE,
    FACE_TYPE_RICH_TEXT,
    FACE_TYPE_TEXT,
    FACE_TYPE_FIELD,
    FACE_TYPE_AREA,
    FACE_TYPE_BUTTON,
    FACE_TYPE_TOGGLE,
    FACE_TYPE_CHECK,
    FACE_TYPE_RADIO,
    FACE_TYPE_TEXT_LIST,
    FACE_TYPE_DROP_LIST,
    FACE_TYPE_DROP_DOWN,
    FACE_TYPE_PROGRESS,
    FACE_TYPE_SLIDER,
    FACE_TYPE_SCROLLER,
    FACE_TYPE_CAMERA,
    FACE_TYPE_CALENDAR,
    FACE_TYPE_COUNT,
};

// The type of a face object from its type word; FACE_TYPE_UNKNOWN for any
// other word or value.
FaceType face_type_of(const Cell* face);
// The type word's text of a known type ("window", "rich-text" ...).
const char* face_type_name(FaceType type);

// A copy of field `field` of an object (face, font or para); none when the
// object is shorter or the value is not an object.
Cell face_field(const Cell* face, uint32_t field);
// Writes a field without running the object's change handler.
void face_field_set(const Cell* face, uint32_t field, const Cell* value);

// ---- views ----------------------------------------------------------------------------

// A view id: bits 0-19 the table slot + 1, bits 20-31 the slot's generation.
// 0 is no view.
using ViewId = uint32_t;

// View bits.
enum ViewBit : uint32_t {
    VIEW_BIT_CARET = 0x2,        // a base face that shows a caret
    VIEW_BIT_RICH_TEXT = 0x4,    // rich-text base set-up
    VIEW_BIT_OWNS_CARET = 0x8,   // the widget owns the caret
    VIEW_BIT_INT_SIZE = 0x10,    // the face's size was a pair!: report sizes as pairs
    VIEW_BIT_LAYERED = 0x20,     // drawn with transparency over its parent
};

// The last interactive move or size of a window (event type moving / resizing).
enum ViewMoveKind : uint8_t { VIEW_MOVE_NONE = 0, VIEW_MOVING = 31, VIEW_RESIZING = 32 };

struct View {
    ViewId id;
    FaceType type;
    Cell face;                // the face object; the view table marks it
    GtkWidget* widget;        // outer widget (the GtkWindow of a window face); null on failure
    GtkWidget* container;     // where children go (GtkFixed), or null
    ViewId parent;            // the view whose container holds this one; 0 for windows
    uint32_t face_flags;      // the flags facet as FaceFlag bits
    uint32_t view_bits;       // ViewBit
    int32_t x, y;             // last position placed, pixels, in the parent container
    int32_t width, height;    // last size applied, pixels
    uint8_t move_kind;        // ViewMoveKind (window faces)
    bool close_silent;        // a close request destroys the window without a close event
    bool show_pending;        // a window shown while still invisible
    bool in_size_move;        // an interactive move or size is in progress
    guint timer;              // the rate timer's source id, 0 when none
    void* render;             // drawing state owned by the draw files (released with the view)
    void (*render_free)(void* render);
    void* widget_data;        // per-type data owned by the type's hooks
    GdkCursor* cursor;        // cursor over the view, or null for the default
    bool cursor_for_base;     // the cursor applies to base and rich-text faces too
    ViewId focused;           // window faces: the face that last had the focus
    int32_t list_rows;        // lists: the rows shown when every value of the data block from its
                              // position is an item, each a row; -1 when some value is not
};

// A new view for the face (widget and container still null); its id is live
// until view_free.
View* view_new(const Cell* face, FaceType type);
// The view of an id, or null when the id is 0 or its view was freed.
View* view_get(ViewId id);
// Releases the record (not the widgets) and makes its id stale.
void view_free(View* view);
// The view a widget belongs to (set with view_attach_widget), or null.
View* view_of_widget(GtkWidget* widget);
// Ties a widget (outer widget, container or any inner part) to the view so
// that events on it find the face.
void view_attach_widget(View* view, GtkWidget* widget);
// Calls fn for every live view (in slot order); fn may not free views.
void view_each(void (*fn)(View* view, void* data), void* data);

// The view of a face: the handle in the first slot of its state block, when
// that is a block whose first value is a handle! naming a live view; else null.
View* face_view(const Cell* face);
// The root window view of a view (itself for a window), or null.
View* view_window(View* view);

// ---- per-face-type hooks --------------------------------------------------------------

// What a widget file provides for one face type. Any hook may be null: the
// common part then does its default (nothing, or a repaint for update).
struct FaceTypeHooks {
    // Makes view->widget (and view->container when the type holds faces)
    // sized width x height pixels; parent is the parent's view or null.
    // Answers false when the widget cannot be made. Position, visibility,
    // the face's font and the widget's registration are done by the caller.
    bool (*make)(View* view, View* parent, int32_t width, int32_t height);
    // Applies one pending change of the face (bit: face_bit of the field),
    // after the common part of that change (position, size, visibility,
    // enabled state, timer, cursor) is done.
    void (*update)(View* view, uint32_t bit);
    // An in-place change of a series held by the face's field: action is the
    // action word's symbol, index and part as the change handler gives them;
    // answers true when it handled the change (else the face is updated as a
    // whole).
    bool (*update_facet)(View* view, const Cell* word, const Cell* value, uint32_t action,
                         const Cell* new_value, int32_t index, int32_t part);
    // Releases what the type holds in widget_data, before the widgets go.
    void (*destroy)(View* view);
};

// Sets the hooks of a type; the last registration wins.
void face_type_hooks_set(FaceType type, const FaceTypeHooks* hooks);
// The hooks of a type, or null.
const FaceTypeHooks* face_type_hooks(FaceType type);

// Registers hooks at module load: KEL_GUI_FACE_TYPE(FACE_TYPE_BUTTON, button_hooks);
struct FaceTypeRegistration {
    FaceTypeRegistration(FaceType type, const FaceTypeHooks* hooks) { face_type_hooks_set(type, hooks); }
};
#define KEL_GUI_FACE_TYPE_JOIN2(a, b) a##b
#define KEL_GUI_FACE_TYPE_JOIN(a, b) KEL_GUI_FACE_TYPE_JOIN2(a, b)
#define KEL_GUI_FACE_TYPE(type, hooks)                                                   \
    static const ::kel::FaceTypeRegistration KEL_GUI_FACE_TYPE_JOIN(face_type_reg_, __LINE__)( \
        type, &(hooks))

} // namespace kel
