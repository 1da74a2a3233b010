// Shared parts of the widget files: the display guard used by the backend
// entries that open windows (dialogs, the clipboard), fonts and para
// placement applied to GTK widgets, menus built from menu blocks, and the
// text read back from edited widgets.
#pragma once
#include "runtime/cell.hpp"
#include "gui/backend/view.hpp"
#include "gui/text_style.hpp"

#include <gtk/gtk.h>
#include <pango/pango.h>
#include <string>

namespace kel {

// Starts GTK when it has not been started (locale left alone) and answers
// true when a display is open; never raises.
bool gui_display_open();
// gui_display_open, raising internal error not-here ("GUI (no display)")
// when no display can be opened. Call outside every GTK callback.
void gui_display_require();

// ---- the container of faces (face_fixed.cpp) -------------------------------------------

// A new container of faces: children take exactly their size requests at
// their places and paint inside them; the container's own size is its size
// request. own_window false: it paints onto its parent's window and takes
// its mouse events through an input-only window.
GtkWidget* face_fixed_new(bool own_window);
// True when the widget is such a container.
bool face_fixed_q(GtkWidget* widget);
// The window that takes the widget's mouse events (and shows its cursor).
GdkWindow* face_fixed_event_window(GtkWidget* widget);
// Called after the pages of a tab panel's container were placed, with the
// page area in the container's coordinates (pixels).
using FacePagesPlaced = void (*)(GtkWidget* fixed, const GdkRectangle* area, gpointer data);
// Makes the container a tab panel's: the notebook is put in it and covers it
// whole, and every other child is given the notebook's page area.
void face_fixed_set_notebook(GtkWidget* fixed, GtkWidget* notebook, FacePagesPlaced placed, gpointer data);
// The page area a tab panel's container last gave its pages; false when it
// has none yet.
bool face_fixed_page_area(GtkWidget* fixed, GdkRectangle* area);
// A container painted by its face (windows.cpp): colour, image, text and
// draw block, or for a base or rich-text face without a draw block what its
// drawing event's actor draws.
GtkWidget* face_container_new(View* view, bool own_window);

// ---- fonts and para (fonts.cpp) ---------------------------------------------------------

// A new Pango description of the settings; free with pango_font_description_free.
PangoFontDescription* font_pango_description(const FontSpec& spec);
// Underline and strike-through of the settings as attributes, or null when
// the font has neither; release with pango_attr_list_unref.
PangoAttrList* font_pango_attributes(const FontSpec& spec);
// Gives the widget (and the label inside a button) the face's font and
// font colour; a face without a font object gets the theme's.
void widget_font_apply(GtkWidget* widget, const Cell* face);
// Marks the face's font object (when it has one) as used by a shown face:
// its state block, made when missing, starts with a font handle, which lets
// a change of one of the font's fields reach the faces that use it.
void font_state_mark(const Cell* face);
// Places the text of the widget by the face's para and its type's defaults.
void widget_para_apply(GtkWidget* widget, const Cell* face, FaceType type);

// ---- menus (menus.cpp) ----------------------------------------------------------------

// A button's or menu item's text as a toolkit label: "&" marks the letter of
// its keyboard shortcut (Alt with the letter) and "&&" writes an ampersand;
// the toolkit marks the letter with "_", so "_" is doubled to show as itself.
std::string mnemonic_label(const std::string& text);

// A GtkMenuBar of the window face's menu when it is a menu bar (else null).
// Choosing an item sends a menu event to the face's view.
GtkWidget* menu_bar_make(View* view);
// Opens the face's menu as a context menu at the event's pointer when the
// menu is not a menu bar; answers whether it opened one.
bool menu_context_open(View* view, const GdkEvent* event);

// ---- widgets (widgets.cpp) -------------------------------------------------------------

// The pixels a calendar adds to each of its seven columns beyond the
// toolkit's own width, so that abbreviated weekday names stand apart.
constexpr int CALENDAR_COLUMN_SPACING = 4;

// Reads the text the user edited (field, area, drop-down, drop-list) back
// into the face's text.
void widget_text_read(View* view);
// The widget that takes the keyboard focus for the face: the text view of an
// area, the list of a text list, the entry of a drop-down, the button of a
// drop-list, the tabs of a tab panel, the container of a face that holds
// faces, else the widget.
GtkWidget* widget_focus_target(View* view);
// A field's or area's selected range (a pair start x end, 1-based) applied
// to its widget, as when it takes the focus; other faces: nothing.
void widget_selection_apply(View* view);

// ---- scroll bars (scrollers.cpp) -------------------------------------------------------

// Places the scroll bars a face shows at its own edges (made by
// update-scroller) along its right and bottom edges, after its size changed.
void edge_bars_place(View* view);

// ---- images (clipboard.cpp) -----------------------------------------------------------

// A new pixbuf (RGBA, straight alpha) of an image!'s pixels; null for an
// image without pixels. Release with g_object_unref.
GdkPixbuf* pixbuf_from_image(const Cell* image);

// ---- camera (camera.cpp) --------------------------------------------------------------

// The next frame of a camera face's open device as an image! in out (rooted);
// false, out unchanged, when the view is no camera, has no open device or
// no frame came within 3 seconds.
bool camera_grab_image(View* view, Cell* out);

// ---- from the event hub ---------------------------------------------------------------

// Sends an event of the type (EventType, gui/event.hpp) for the view's face
// through system/view/awake with picked (null: none) as its picked value; an
// integer picked of a select or change event is also its argument. Answers
// the verdict's symbol; nothing raised inside leaves it. Defined by the
// event hub (loop.cpp).
uint32_t view_event_send(View* view, uint8_t type, const Cell* picked) __attribute__((weak));

// view_event_send when the hub is linked in; 0 (the event dropped) otherwise.
inline uint32_t widget_event_send(View* view, uint8_t type, const Cell* picked) {
    return view_event_send ? view_event_send(view, type, picked) : 0;
}

} // namespace kel
