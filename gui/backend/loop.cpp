// The message loop over GTK, the translation of GTK input signals into
// events, the event hub that calls system/view/awake, and the event sender.
//
// Loops nest on the one GUI thread. A blocking loop ends only at a quit
// request (our own count of posted quits, standing for the quit message);
// when a window whose closing ends a loop goes away, one waiting loop becomes
// one pending exit, the hub posts a quit after the handler that lowered the
// waiting count, and each loop that ends passes a quit on while exits remain
// owed, so nested loops end innermost first.
#include "gui/backend/backend.hpp"
#include "gui/backend/module_entry.hpp"
#include "gui/backend/widgets.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/exits.hpp"
#include "core/interpreter.hpp"
#include "core/library_context.hpp"
#include "core/logic.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/trace.hpp"
#include "core/word.hpp"
#include "datatypes/char.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "core/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/platform/platform.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>
#include <iterator>

namespace kel {

// ---- loop state ---------------------------------------------------------------------------

static int32_t waiting_loops = 0;   // blocking loops entered
static int32_t pending_exits = 0;   // loop exits owed to nested loops
static int32_t quits_posted = 0;    // quit requests not yet taken by a loop
static int64_t saved_flags = -1;    // flags the event sender imposes on keyboard events, or -1
static ViewId hovered = 0;          // the view that last got an over event
static bool hovered_windowless = false;  // that view has no window of its own (it gets no leave event)
static double last_x = -1, last_y = -1;  // last pointer position translated (root pixels)
static bool last_valid = false;

void loop_post_quit() {
    quits_posted++;
    // Wakes a loop blocked in its wait.
    g_main_context_wakeup(nullptr);
}

void loop_exit_owed() {
    pending_exits++;
    waiting_loops--;
}

// Runs the loop: with no_wait one message (when there is one), else until a
// quit request. Answers whether a message was taken.
static bool do_events(bool no_wait) {
    int64_t saved = saved_flags;
    saved_flags = -1;
    bool taken = false;
    if (no_wait) {
        if (quits_posted > 0) {
            quits_posted--;
            taken = true;
        } else if (gtk_events_pending()) {
            gtk_main_iteration_do(FALSE);
            taken = true;
        }
    } else {
        waiting_loops++;
        while (quits_posted == 0) {
            gtk_main_iteration_do(TRUE);
            taken = true;
        }
        quits_posted--;
        pending_exits--;
        if (pending_exits > 0) loop_post_quit();
    }
    saved_flags = saved;
    return taken;
}

// platform-do-event-loop no-wait?
static void routine_do_event_loop() {
    bool no_wait = cell_type(data_stack.args) == T_LOGIC && logic_get(data_stack.args);
    backend_require();
    logic_make_at(stack_box_new(T_LOGIC), do_events(no_wait));
}

// platform-exit-event-loop
static void routine_exit_event_loop() {
    loop_post_quit();
    none_make_at(stack_box_new(T_NONE));
}

// gui-message-loop: handles the messages already queued without waiting.
static void routine_gui_message_loop() {
    if (gdk_display_get_default())
        for (int i = 0; i < 10000 && gtk_events_pending(); i++) gtk_main_iteration_do(FALSE);
    none_make_at(stack_box_new(T_NONE));
}

// wait-seconds (seconds: a double): the wait of the wait native while the
// module is loaded. The display's messages are handled as they come during
// the whole time, not only after it, so that requests of other programs
// (a paste from the clipboard this program owns) are answered at once.
static gboolean wait_timer_fired(gpointer fired) {
    *static_cast<bool*>(fired) = true;
    return G_SOURCE_REMOVE;
}

static void gui_wait_seconds(double seconds) {
    uint32_t ms = wait_milliseconds(seconds);
    if (!gdk_display_get_default()) {
        wait_seconds(seconds);
        return;
    }
    bool fired = false;
    g_timeout_add(ms, wait_timer_fired, &fired);  // the source removes itself when it fires
    while (!fired) gtk_main_iteration_do(TRUE);
}

// ---- the hub ------------------------------------------------------------------------------

static uint32_t done_symbol = 0, stop_symbol = 0;

// Calls system/view/awake with the event; answers the verdict. Every error
// and non-local exit of the handlers ends here.
static uint32_t awake_call(const Cell* event) {
    if (!done_symbol) {
        done_symbol = symbol_resolve(symbol_make("done"));
        stop_symbol = symbol_resolve(symbol_make("stop"));
    }
    static const char text[] = "system/view/awake none";
    StackState saved = stack_save();
    bool tracing = trace_state.tracing;
    trace_state.tracing = false;
    uint32_t verdict = 1;
    try {
        CellRoot code;
        LexerOptions options;
        lexer_transcode(&code.cell, reinterpret_cast<const uint8_t*>(text), sizeof text - 1, options, nullptr);
        library_bind(&code.cell);
        cell_copy(event, block_cells(series_node(&code.cell)) + 1);
        ExitCode x = eval_block(&code.cell, false);
        if (x == EXIT_CODE_NONE && data_stack.top > saved.top) {
            const Cell* result = data_stack.top - 1;
            if (cell_type(result) == T_WORD && symbol_resolve(word_symbol(result)) == stop_symbol) verdict = 0;
        }
    } catch (const LanguageError&) {
    } catch (const ExitSignal&) {
    } catch (...) {
    }
    stack_restore(saved);
    exit_clear();
    trace_state.tracing = tracing;
    return verdict;
}

uint32_t make_event(View* view, GuiMessage* message, uint32_t type, uint32_t flags) {
    if (!view) return 1;
    if (!message) message = gui_message_new();
    message->window = view->id;
    cell_copy(&view->face, &message->face);
    View* window = view_window(view);
    if (window) cell_copy(&window->face, &message->window_face);
    Cell event;
    event_make_live(&event, type, message, flags);
    CellRoot held(event);
    int32_t kept = waiting_loops;
    uint32_t verdict = awake_call(&held.cell);
    if (waiting_loops < kept) loop_post_quit();
    return verdict;
}

// Events of the widget files: picked (when given) becomes the event's picked.
uint32_t view_event_send(View* view, uint8_t type, const Cell* picked) {
    if (!view) return 0;
    GuiMessage* message = gui_message_new();
    if (picked) cell_copy(picked, &message->picked);
    uint32_t flags = 0;
    if (picked && cell_type(picked) == T_INTEGER && (type == EVT_SELECT || type == EVT_CHANGE))
        flags = uint32_t(integer_get(picked)) & 0xFFFF;
    uint32_t verdict = make_event(view, message, type, flags);
    return verdict ? done_symbol : stop_symbol;
}

// ---- flags and positions -------------------------------------------------------------------

uint32_t event_flags_of_state(guint state) {
    uint32_t flags = 0;
    if (state & GDK_CONTROL_MASK) flags |= EVENT_FLAG_CONTROL;
    if (state & GDK_SHIFT_MASK) flags |= EVENT_FLAG_SHIFT;
    if (state & GDK_MOD1_MASK) flags |= EVENT_FLAG_ALT;
    if (state & GDK_BUTTON1_MASK) flags |= EVENT_FLAG_DOWN;
    if (state & GDK_BUTTON2_MASK) flags |= EVENT_FLAG_MID_DOWN;
    if (state & GDK_BUTTON3_MASK) flags |= EVENT_FLAG_ALT_DOWN;
    if (state & (GDK_BUTTON4_MASK | GDK_BUTTON5_MASK)) flags |= EVENT_FLAG_AUX_DOWN;
    return flags;
}

// A root position in the coordinates of the widget (pixels).
static void widget_point(GtkWidget* widget, double x_root, double y_root, double* x, double* y) {
    int ox = 0, oy = 0;
    GdkWindow* window = gtk_widget_get_window(widget);
    if (window) gdk_window_get_origin(window, &ox, &oy);
    if (!gtk_widget_get_has_window(widget)) {
        GtkAllocation a;
        gtk_widget_get_allocation(widget, &a);
        ox += a.x;
        oy += a.y;
    }
    *x = x_root - ox;
    *y = y_root - oy;
}

static void offset_set(GuiMessage* m, GtkWidget* widget, double x_root, double y_root) {
    double x, y;
    widget_point(widget, x_root, y_root, &x, &y);
    point2d_init(&m->offset, dpi_unscale(x), dpi_unscale(y));
}

// The same GdkEvent reaches the handlers of enclosing widgets when the inner
// one lets it propagate; it is translated once, by the innermost view.
static const GdkEvent* last_event = nullptr;
static guint32 last_event_time = 0;
static GdkEventType last_event_type = GDK_NOTHING;

static bool already_translated(const GdkEvent* event) {
    guint32 time = gdk_event_get_time(event);
    if (event == last_event && time == last_event_time && event->type == last_event_type) return true;
    last_event = event;
    last_event_time = time;
    last_event_type = event->type;
    return false;
}

// ---- mouse -----------------------------------------------------------------------------------

static View* signal_view(gpointer data) { return view_get(ViewId(GPOINTER_TO_UINT(data))); }

// A press on a face that takes the keyboard focus gives it the focus, unless
// the focus already is inside the face (an area's text view takes it on its
// own press, and its scrolled window must not take it back).
static void view_focus_on_press(View* view) {
    GtkWidget* target = widget_focus_target(view);
    if (!target || !gtk_widget_get_can_focus(target)) return;
    GtkWidget* toplevel = gtk_widget_get_toplevel(target);
    GtkWidget* focus = GTK_IS_WINDOW(toplevel) ? gtk_window_get_focus(GTK_WINDOW(toplevel)) : nullptr;
    if (focus && (focus == target || gtk_widget_is_ancestor(focus, view->widget))) return;
    gtk_widget_grab_focus(target);
}

// The child face whose widget covers a point of a container's own window,
// the topmost one, or null. Some widgets take input in an inner part only
// (an entry's text area inside its frame); a press elsewhere in their
// rectangle lands on the container.
static View* child_view_at(View* view, GdkWindow* window, double x, double y) {
    if (!view->container) return nullptr;
    if (!gtk_widget_get_has_window(view->container)) {
        // A container without a window takes input through an input-only
        // window over its rectangle; its children are placed in its
        // parent's window.
        if (window != face_fixed_event_window(view->container)) return nullptr;
        GtkAllocation area;
        gtk_widget_get_allocation(view->container, &area);
        x += area.x;
        y += area.y;
    } else if (window != gtk_widget_get_window(view->container)) {
        return nullptr;
    }
    View* found = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(view->container));
    for (GList* l = children; l; l = l->next) {
        GtkWidget* child = GTK_WIDGET(l->data);
        if (!gtk_widget_get_visible(child)) continue;
        GtkAllocation a;
        gtk_widget_get_allocation(child, &a);
        if (x < a.x || y < a.y || x >= a.x + a.width || y >= a.y + a.height) continue;
        View* child_view = view_of_widget(child);
        if (child_view && child_view->parent == view->id && child_view->widget == child) found = child_view;
    }
    g_list_free(children);
    return found;
}

static gboolean on_button_press(GtkWidget* widget, GdkEventButton* e, gpointer data) {
    View* view = signal_view(data);
    if (!view || already_translated(reinterpret_cast<GdkEvent*>(e))) return FALSE;
    // A press (and its release) in a child face's rectangle is that face's.
    if (View* child = child_view_at(view, e->window, e->x, e->y)) {
        view = child;
        widget = child->widget;
    }
    uint32_t flags = event_flags_of_state(e->state);
    uint32_t type;
    switch (e->button) {
    case 1: type = EVT_DOWN; flags |= EVENT_FLAG_DOWN; break;
    case 2: type = EVT_MID_DOWN; flags |= EVENT_FLAG_MID_DOWN; break;
    case 3: type = EVT_ALT_DOWN; flags |= EVENT_FLAG_ALT_DOWN; break;
    default: type = EVT_AUX_DOWN; flags |= EVENT_FLAG_AUX_DOWN; break;
    }
    if (e->type == GDK_2BUTTON_PRESS) {
        if (e->button != 1) return FALSE;
        type = EVT_DBL_CLICK;
    } else if (e->type != GDK_BUTTON_PRESS) {
        return FALSE;
    }
    GuiMessage* m = gui_message_new();
    offset_set(m, widget, e->x_root, e->y_root);
    ViewId id = view->id;
    uint32_t verdict = make_event(view, m, type, flags);
    if (verdict && type == EVT_ALT_DOWN && (view = view_get(id)))
        if (menu_context_open(view, reinterpret_cast<GdkEvent*>(e))) verdict = 0;
    if (verdict && (view = view_get(id))) view_focus_on_press(view);
    return verdict ? FALSE : TRUE;
}

static gboolean on_button_release(GtkWidget* widget, GdkEventButton* e, gpointer data) {
    View* view = signal_view(data);
    if (!view || already_translated(reinterpret_cast<GdkEvent*>(e))) return FALSE;
    if (View* child = child_view_at(view, e->window, e->x, e->y)) {
        view = child;
        widget = child->widget;
    }
    uint32_t flags = event_flags_of_state(e->state);
    uint32_t type;
    switch (e->button) {
    case 1: type = EVT_UP; flags &= ~EVENT_FLAG_DOWN; break;
    case 2: type = EVT_MID_UP; flags &= ~EVENT_FLAG_MID_DOWN; break;
    case 3: type = EVT_ALT_UP; flags &= ~EVENT_FLAG_ALT_DOWN; break;
    default: type = EVT_AUX_UP; flags &= ~EVENT_FLAG_AUX_DOWN; break;
    }
    GuiMessage* m = gui_message_new();
    offset_set(m, widget, e->x_root, e->y_root);
    return make_event(view, m, type, flags) ? FALSE : TRUE;
}

// A face without a window of its own (a text) gets no leave event from the
// toolkit: the mouse leaving it is sent as its over event with the away flag.
static void windowless_leave(ViewId next, double x_root, double y_root, guint state) {
    View* left = hovered_windowless && hovered != next ? view_get(hovered) : nullptr;
    if (hovered != next) hovered_windowless = false;
    if (!left || !left->widget) return;
    GuiMessage* m = gui_message_new();
    offset_set(m, left->widget, x_root, y_root);
    make_event(left, m, EVT_OVER, event_flags_of_state(state) | EVENT_FLAG_AWAY);
}

static gboolean on_motion(GtkWidget* widget, GdkEventMotion* e, gpointer data) {
    View* view = signal_view(data);
    if (!view || already_translated(reinterpret_cast<GdkEvent*>(e))) return FALSE;
    if (last_valid && e->x_root == last_x && e->y_root == last_y) return TRUE;
    last_x = e->x_root;
    last_y = e->y_root;
    last_valid = true;
    // A move over a child face without a window of its own is that face's.
    View* child = child_view_at(view, e->window, e->x, e->y);
    if (child) {
        view = child;
        widget = child->widget;
    }
    ViewId id = view->id;
    bool windowless = child != nullptr;
    windowless_leave(id, e->x_root, e->y_root, e->state);
    if (!(view = view_get(id))) return FALSE;
    if (windowless) widget = view->widget;
    bool fresh = hovered != id;
    hovered = id;
    hovered_windowless = windowless;
    if (gtk_widget_is_sensitive(widget) && (fresh || (view->face_flags & FACE_FLAG_ALL_OVER))) {
        GuiMessage* m = gui_message_new();
        offset_set(m, widget, e->x_root, e->y_root);
        make_event(view, m, EVT_OVER, event_flags_of_state(e->state));
        hovered = id;
        hovered_windowless = windowless;
    }
    return FALSE;
}

static gboolean on_leave(GtkWidget* widget, GdkEventCrossing* e, gpointer data) {
    View* view = signal_view(data);
    // Moving into a child window is no leaving.
    if (!view || e->detail == GDK_NOTIFY_INFERIOR) return FALSE;
    if (already_translated(reinterpret_cast<GdkEvent*>(e))) return FALSE;
    last_valid = false;
    ViewId parent = view->id;
    windowless_leave(0, e->x_root, e->y_root, e->state);
    if (!(view = view_get(parent))) return FALSE;
    GuiMessage* m = gui_message_new();
    offset_set(m, widget, e->x_root, e->y_root);
    ViewId id = view->id;
    make_event(view, m, EVT_OVER, event_flags_of_state(e->state) | EVENT_FLAG_AWAY);
    if (hovered == id) hovered = 0;
    return FALSE;
}

static gboolean on_scroll(GtkWidget* widget, GdkEventScroll* e, gpointer data) {
    View* view = signal_view(data);
    if (!view || already_translated(reinterpret_cast<GdkEvent*>(e))) return FALSE;
    double steps = 0;
    switch (e->direction) {
    case GDK_SCROLL_UP: steps = 1.0; break;
    case GDK_SCROLL_DOWN: steps = -1.0; break;
    case GDK_SCROLL_SMOOTH: steps = -e->delta_y; break;
    default: return FALSE;
    }
    if (steps == 0) return FALSE;
    GuiMessage* m = gui_message_new();
    offset_set(m, widget, e->x_root, e->y_root);
    float_make_at(&m->picked, steps);
    word_make_at(&m->key, T_WORD, symbol_make("wheel"));
    uint32_t flags = event_flags_of_state(e->state) & (EVENT_FLAG_CONTROL | EVENT_FLAG_SHIFT | EVENT_FLAG_DOWN |
                                                       EVENT_FLAG_MID_DOWN | EVENT_FLAG_ALT_DOWN | EVENT_FLAG_AUX_DOWN);
    return make_event(view, m, EVT_WHEEL, flags) ? FALSE : TRUE;
}

// ---- keyboard --------------------------------------------------------------------------------

// Keys without a character: the key word of the key field and whether the
// key is a modifier (no key event follows its key-down).
struct NamedKey {
    guint keyval;
    const char* word;
    bool modifier;
};
static const NamedKey NAMED_KEYS[] = {
    {GDK_KEY_Page_Up, "page-up", false},       {GDK_KEY_Page_Down, "page-down", false},
    {GDK_KEY_KP_Page_Up, "page-up", false},    {GDK_KEY_KP_Page_Down, "page-down", false},
    {GDK_KEY_End, "end", false},               {GDK_KEY_Home, "home", false},
    {GDK_KEY_KP_End, "end", false},            {GDK_KEY_KP_Home, "home", false},
    {GDK_KEY_Left, "left", false},             {GDK_KEY_Up, "up", false},
    {GDK_KEY_Right, "right", false},           {GDK_KEY_Down, "down", false},
    {GDK_KEY_KP_Left, "left", false},          {GDK_KEY_KP_Up, "up", false},
    {GDK_KEY_KP_Right, "right", false},        {GDK_KEY_KP_Down, "down", false},
    {GDK_KEY_Insert, "insert", false},         {GDK_KEY_Delete, "delete", false},
    {GDK_KEY_KP_Insert, "insert", false},      {GDK_KEY_KP_Delete, "delete", false},
    {GDK_KEY_F1, "F1", false},                 {GDK_KEY_F2, "F2", false},
    {GDK_KEY_F3, "F3", false},                 {GDK_KEY_F4, "F4", false},
    {GDK_KEY_F5, "F5", false},                 {GDK_KEY_F6, "F6", false},
    {GDK_KEY_F7, "F7", false},                 {GDK_KEY_F8, "F8", false},
    {GDK_KEY_F9, "F9", false},                 {GDK_KEY_F10, "F10", false},
    {GDK_KEY_F11, "F11", false},               {GDK_KEY_F12, "F12", false},
    {GDK_KEY_Shift_L, "left-shift", true},     {GDK_KEY_Shift_R, "right-shift", true},
    {GDK_KEY_Control_L, "left-control", true}, {GDK_KEY_Control_R, "right-control", true},
    {GDK_KEY_Alt_L, "left-alt", true},         {GDK_KEY_Alt_R, "right-alt", true},
    {GDK_KEY_ISO_Level3_Shift, "right-alt", true},
    {GDK_KEY_Super_L, "left-command", true},   {GDK_KEY_Super_R, "right-command", true},
    {GDK_KEY_Meta_L, "left-command", true},    {GDK_KEY_Meta_R, "right-command", true},
    {GDK_KEY_Caps_Lock, "caps-lock", false},   {GDK_KEY_Num_Lock, "num-lock", false},
    {GDK_KEY_Scroll_Lock, "scroll-lock", false}, {GDK_KEY_Pause, "pause", false},
};

// Keys that stand for control characters.
static uint32_t control_char_of(guint keyval) {
    switch (keyval) {
    case GDK_KEY_BackSpace: return 8;
    case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: case GDK_KEY_KP_Tab: return 9;
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: case GDK_KEY_ISO_Enter: return 13;
    case GDK_KEY_Escape: return 27;
    default: return 0;
    }
}

// What one key press stands for.
struct KeyMeaning {
    const NamedKey* named;  // a key without a character, or null
    uint32_t base;          // key-down and key-up: the key's unshifted character, upper-cased
    uint32_t typed;         // key: the character typed (0 when none)
};

static KeyMeaning key_meaning(const GdkEventKey* e) {
    KeyMeaning k{nullptr, 0, 0};
    for (const NamedKey& named : NAMED_KEYS)
        if (named.keyval == e->keyval) {
            k.named = &named;
            return k;
        }
    if (uint32_t c = control_char_of(e->keyval)) {
        k.base = k.typed = c;
        return k;
    }
    guint base_keyval = e->keyval;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_display_get_default());
    gdk_keymap_translate_keyboard_state(keymap, e->hardware_keycode, GdkModifierType(0), e->group,
                                        &base_keyval, nullptr, nullptr, nullptr);
    k.base = gdk_keyval_to_unicode(gdk_keyval_to_upper(base_keyval));
    if (!k.base) k.base = gdk_keyval_to_unicode(gdk_keyval_to_upper(e->keyval));
    uint32_t c = gdk_keyval_to_unicode(e->keyval);
    bool control = (e->state & GDK_CONTROL_MASK) != 0;
    bool alt = (e->state & GDK_MOD1_MASK) != 0;
    if (control && !alt) {
        // Control with a letter or one of @ [ \ ] ^ _ types the control character.
        uint32_t upper = c >= 'a' && c <= 'z' ? c - 0x20 : c;
        c = upper >= 0x40 && upper <= 0x5F ? upper - 0x40 : 0;
    } else if (alt && !control) {
        c = 0;  // Alt combinations type nothing
    }
    k.typed = c;
    return k;
}

// The view that gets the keys of a toplevel: the one of its focus widget (or
// of an enclosing widget), else the window's.
static View* key_view(GtkWidget* toplevel, View* window) {
    for (GtkWidget* w = gtk_window_get_focus(GTK_WINDOW(toplevel)); w; w = gtk_widget_get_parent(w))
        if (View* v = view_of_widget(w)) return v;
    View* focused = view_get(window->focused);
    return focused ? focused : window;
}

static void key_fill(GuiMessage* m, View* view, const KeyMeaning& k, uint32_t c) {
    if (k.named) word_make_at(&m->key, T_WORD, symbol_make(k.named->word));
    else char_make_at(&m->key, int32_t(c));
    if (view->widget) {
        GdkWindow* window = gtk_widget_get_window(view->widget);
        GdkDisplay* display = gdk_display_get_default();
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
        if (window && pointer) {
            int x = 0, y = 0;
            gdk_device_get_position(pointer, nullptr, &x, &y);
            offset_set(m, view->widget, x, y);
        }
    }
}

// The modifier flags of a keyboard event: the sender's when it imposes them.
static uint32_t key_flags(guint state) {
    if (saved_flags >= 0) return uint32_t(saved_flags);
    return event_flags_of_state(state);
}

static gboolean on_key_press(GtkWidget* widget, GdkEventKey* e, gpointer data) {
    View* window = signal_view(data);
    if (!window) return FALSE;
    View* view = key_view(widget, window);
    KeyMeaning k = key_meaning(e);
    uint32_t flags = key_flags(e->state);
    GuiMessage* m = gui_message_new();
    key_fill(m, view, k, k.base);
    ViewId id = view->id;
    uint32_t verdict = make_event(view, m, EVT_KEY_DOWN, flags | (k.named ? 0 : k.base & EVENT_KEY_MASK));
    if (!verdict) return TRUE;
    if (k.named && k.named->modifier) return FALSE;
    if (!k.named && !k.typed) return FALSE;
    view = view_get(id);
    if (!view) return TRUE;
    uint32_t c = k.named ? 0 : k.typed;
    m = gui_message_new();
    key_fill(m, view, k, c);
    verdict = make_event(view, m, EVT_KEY, flags | (c & EVENT_KEY_MASK));
    // Enter on a button reaches its actor as a click made by the GUI layer;
    // the toolkit's own activation would click it a second time.
    if (c == 13 && (view = view_get(id)) && view->type == FACE_TYPE_BUTTON) return TRUE;
    return verdict ? FALSE : TRUE;
}

// Faces that draw themselves (base and rich-text) take every key through
// their actors, and the GUI layer moves the focus itself (Tab): the arrows
// and Tab that the toolkit binds to moving the focus stay with such a face.
static void on_move_focus(GtkWidget* widget, GtkDirectionType, gpointer data) {
    View* window = signal_view(data);
    if (!window) return;
    View* view = key_view(widget, window);
    if (view != window && (view->type == FACE_TYPE_BASE || view->type == FACE_TYPE_RICH_TEXT))
        g_signal_stop_emission_by_name(widget, "move-focus");
}

static gboolean on_key_release(GtkWidget* widget, GdkEventKey* e, gpointer data) {
    View* window = signal_view(data);
    if (!window) return FALSE;
    View* view = key_view(widget, window);
    KeyMeaning k = key_meaning(e);
    GuiMessage* m = gui_message_new();
    key_fill(m, view, k, k.base);
    return make_event(view, m, EVT_KEY_UP, key_flags(e->state) | (k.named ? 0 : k.base & EVENT_KEY_MASK)) ? FALSE : TRUE;
}

// ---- focus of faces ---------------------------------------------------------------------------

// A face's widget took or lost the keyboard focus (also when its window is
// activated or deactivated): focus or unfocus for the face. A field or area
// taking the focus shows the face's selected range.
static gboolean on_face_focus_in(GtkWidget*, GdkEventFocus*, gpointer data) {
    if (View* view = signal_view(data)) {
        widget_selection_apply(view);
        make_event(view, nullptr, EVT_FOCUS, 0);
    }
    return FALSE;
}

static gboolean on_face_focus_out(GtkWidget*, GdkEventFocus*, gpointer data) {
    if (View* view = signal_view(data)) make_event(view, nullptr, EVT_UNFOCUS, 0);
    return FALSE;
}

// ---- connections ----------------------------------------------------------------------------

// A text list's tree view keeps the presses, releases and moves over its rows
// to itself: they are taken there, before it acts on them, as the face's
// own (in the coordinates of the face's widget). The same event reaching the
// face's widget after that is not taken twice.
static gboolean on_rows_button_press(GtkWidget*, GdkEventButton* e, gpointer data) {
    View* view = signal_view(data);
    return view ? on_button_press(view->widget, e, data) : FALSE;
}

static gboolean on_rows_button_release(GtkWidget*, GdkEventButton* e, gpointer data) {
    View* view = signal_view(data);
    return view ? on_button_release(view->widget, e, data) : FALSE;
}

static gboolean on_rows_motion(GtkWidget*, GdkEventMotion* e, gpointer data) {
    View* view = signal_view(data);
    return view ? on_motion(view->widget, e, data) : FALSE;
}

void view_input_connect(View* view, GtkWidget* widget) {
    gpointer id = GUINT_TO_POINTER(view->id);
    if (view->type != FACE_TYPE_WINDOW)
        if (GtkWidget* target = widget_focus_target(view)) {
            g_signal_connect(target, "focus-in-event", G_CALLBACK(on_face_focus_in), id);
            g_signal_connect(target, "focus-out-event", G_CALLBACK(on_face_focus_out), id);
        }
    gtk_widget_add_events(widget, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                      GDK_LEAVE_NOTIFY_MASK | GDK_ENTER_NOTIFY_MASK | GDK_SCROLL_MASK);
    g_signal_connect(widget, "button-press-event", G_CALLBACK(on_button_press), id);
    g_signal_connect(widget, "button-release-event", G_CALLBACK(on_button_release), id);
    g_signal_connect(widget, "motion-notify-event", G_CALLBACK(on_motion), id);
    g_signal_connect(widget, "leave-notify-event", G_CALLBACK(on_leave), id);
    g_signal_connect(widget, "scroll-event", G_CALLBACK(on_scroll), id);
    if (view->type == FACE_TYPE_TEXT_LIST)
        if (GtkWidget* rows = widget_focus_target(view)) {
            g_signal_connect(rows, "button-press-event", G_CALLBACK(on_rows_button_press), id);
            g_signal_connect(rows, "button-release-event", G_CALLBACK(on_rows_button_release), id);
            g_signal_connect(rows, "motion-notify-event", G_CALLBACK(on_rows_motion), id);
        }
}

// ---- window signals --------------------------------------------------------------------------

static gboolean on_delete(GtkWidget*, GdkEvent*, gpointer data) {
    View* view = signal_view(data);
    if (!view) return FALSE;
    if (view->close_silent) return FALSE;
    if (view->widget) gtk_widget_grab_focus(view->widget);
    if (!make_event(view, nullptr, EVT_CLOSE, 0)) loop_post_quit();
    return TRUE;  // the GUI layer removes the window
}

// A face field set without the face's change handler running.
static void face_point_set(View* view, FaceField field, double x, double y, bool as_pair) {
    Cell value;
    cell_init(&value, T_NONE);
    if (as_pair) pair_init(&value, int32_t(x), int32_t(y));
    else point2d_init(&value, x, y);
    face_field_set(&view->face, field, &value);
}

static gboolean on_configure(GtkWidget* widget, GdkEventConfigure*, gpointer data) {
    View* view = signal_view(data);
    if (!view || !gtk_widget_get_visible(widget)) return FALSE;
    int x = 0, y = 0;
    gtk_window_get_position(GTK_WINDOW(widget), &x, &y);
    if (x == view->x && y == view->y) return FALSE;
    view->x = x;
    view->y = y;
    face_point_set(view, FACE_OBJ_OFFSET, dpi_unscale(x), dpi_unscale(y), false);
    GuiMessage* m = gui_message_new();
    point2d_init(&m->offset, dpi_unscale(x), dpi_unscale(y));
    make_event(view, m, EVT_MOVE, 0);
    return FALSE;
}

// Windows whose resize event waits for the end of the toolkit's layout pass.
static std::vector<ViewId> resized_windows;
static guint resize_source = 0;

// The resize events of the windows laid out since the last call. They are
// sent once the layout pass is over, so that sizes an actor sets (and a
// window shown from it) take effect instead of being lost inside the pass.
static gboolean resize_events_send(gpointer) {
    resize_source = 0;
    std::vector<ViewId> ids;
    ids.swap(resized_windows);
    for (ViewId id : ids) {
        View* view = view_get(id);
        if (!view) continue;
        GuiMessage* m = gui_message_new();
        m->offset = face_field(&view->face, FACE_OBJ_SIZE);
        make_event(view, m, EVT_RESIZE, 0);
    }
    return G_SOURCE_REMOVE;
}

static void on_container_allocate(GtkWidget*, GdkRectangle* area, gpointer data) {
    View* view = signal_view(data);
    if (!view || (area->width == view->width && area->height == view->height)) return;
    view->width = area->width;
    view->height = area->height;
    bool as_pair = (view->view_bits & VIEW_BIT_INT_SIZE) != 0;
    face_point_set(view, FACE_OBJ_SIZE, dpi_unscale(area->width), dpi_unscale(area->height), as_pair);
    if (std::find(resized_windows.begin(), resized_windows.end(), view->id) == resized_windows.end())
        resized_windows.push_back(view->id);
    if (!resize_source) resize_source = g_idle_add(resize_events_send, nullptr);
}

static gboolean on_window_state(GtkWidget*, GdkEventWindowState* e, gpointer data) {
    View* view = signal_view(data);
    if (!view) return FALSE;
    GdkWindowState changed = e->changed_mask, now = e->new_window_state;
    if (changed & GDK_WINDOW_STATE_ICONIFIED && now & GDK_WINDOW_STATE_ICONIFIED)
        make_event(view, nullptr, EVT_MINIMIZE, 0);
    else if (changed & GDK_WINDOW_STATE_MAXIMIZED && now & GDK_WINDOW_STATE_MAXIMIZED)
        make_event(view, nullptr, EVT_MAXIMIZE, 0);
    else if (changed & (GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED))
        make_event(view, nullptr, EVT_RESTORE, 0);
    return FALSE;
}

static gboolean on_focus_in(GtkWidget*, GdkEventFocus*, gpointer data) {
    View* view = signal_view(data);
    if (!view) return FALSE;
    ViewId id = view->id;
    make_event(view, nullptr, EVT_FOCUS, 0);
    if ((view = view_get(id)) && view->focused)
        if (View* focused = view_get(view->focused))
            if (focused->widget && gtk_widget_get_can_focus(focused->widget)) gtk_widget_grab_focus(focused->widget);
    return FALSE;
}

static gboolean on_focus_out(GtkWidget*, GdkEventFocus*, gpointer data) {
    if (View* view = signal_view(data)) make_event(view, nullptr, EVT_UNFOCUS, 0);
    return FALSE;
}

// The window remembers the face that last had the focus: its `selected`
// becomes that face (without the face's change handler) and the focus
// returns to it when the window is activated again.
static void on_set_focus(GtkWindow*, GtkWidget* widget, gpointer data) {
    View* window = signal_view(data);
    if (!window) return;
    View* focused = nullptr;
    for (GtkWidget* w = widget; w && !focused; w = gtk_widget_get_parent(w)) focused = view_of_widget(w);
    if (!focused || focused == window) return;
    window->focused = focused->id;
    face_field_set(&window->face, FACE_OBJ_SELECTED, &focused->face);
}

void view_window_connect(View* view) {
    gpointer id = GUINT_TO_POINTER(view->id);
    GtkWidget* w = view->widget;
    g_signal_connect(w, "delete-event", G_CALLBACK(on_delete), id);
    g_signal_connect(w, "configure-event", G_CALLBACK(on_configure), id);
    g_signal_connect(w, "window-state-event", G_CALLBACK(on_window_state), id);
    g_signal_connect(w, "focus-in-event", G_CALLBACK(on_focus_in), id);
    g_signal_connect(w, "focus-out-event", G_CALLBACK(on_focus_out), id);
    g_signal_connect(w, "key-press-event", G_CALLBACK(on_key_press), id);
    g_signal_connect(w, "key-release-event", G_CALLBACK(on_key_release), id);
    g_signal_connect(w, "move-focus", G_CALLBACK(on_move_focus), id);
    g_signal_connect(w, "set-focus", G_CALLBACK(on_set_focus), id);
    if (view->container) g_signal_connect(view->container, "size-allocate", G_CALLBACK(on_container_allocate), id);
}

// ---- the event sender -------------------------------------------------------------------------

// A sent event waiting in the queue.
struct QueuedEvent {
    ViewId view;
    uint32_t type;
    uint32_t flags;
    bool has_offset;
    double x, y;
    bool has_picked;
    int32_t picked;
};

static bool send_now(const QueuedEvent& q);

static gboolean queued_send(gpointer data) {
    QueuedEvent* q = static_cast<QueuedEvent*>(data);
    send_now(*q);
    delete q;
    return G_SOURCE_REMOVE;
}

// Performs a window state request (minimize, maximize, restore).
static bool window_state_request(View* view, uint32_t type) {
    GtkWindow* window = GTK_WINDOW(view->widget);
    switch (type) {
    case EVT_MINIMIZE: gtk_window_iconify(window); break;
    case EVT_MAXIMIZE:
        if (!gtk_window_get_resizable(window)) return false;
        gtk_window_maximize(window);
        break;
    default:
        gtk_window_deiconify(window);
        gtk_window_unmaximize(window);
        gtk_window_present(window);
        break;
    }
    return true;
}

// Delivers a sent event as if the system had translated it: mouse and key
// events go through the hub with the sender's position and flags.
static bool send_now(const QueuedEvent& q) {
    View* view = view_get(q.view);
    if (!view) return false;
    if (q.type >= EVT_MINIMIZE) return window_state_request(view, q.type);
    GuiMessage* m = gui_message_new();
    if (q.has_offset) point2d_init(&m->offset, q.x, q.y);
    uint32_t flags = q.flags;
    switch (q.type) {
    case EVT_WHEEL:
        float_make_at(&m->picked, q.has_picked ? double(q.picked) : 0.0);
        word_make_at(&m->key, T_WORD, symbol_make("wheel"));
        break;
    case EVT_KEY: case EVT_KEY_DOWN: case EVT_KEY_UP:
        if (flags & EVENT_KEY_MASK) char_make_at(&m->key, int32_t(flags & EVENT_KEY_MASK));
        flags &= 0x73C00000 | EVENT_KEY_MASK;
        break;
    case EVT_OVER:
        last_valid = false;
        break;
    default: break;
    }
    make_event(view, m, q.type, flags);
    return true;
}

// Types the sender maps to a message.
static bool sendable_type(uint32_t type) {
    return (type >= EVT_DOWN && type <= EVT_KEY_UP) || (type >= EVT_MINIMIZE && type <= EVT_RESTORE);
}

// send-event-os event queued?
static void routine_send_event_os() {
    const Cell* event = data_stack.args;
    bool queued = cell_type(data_stack.args + 1) == T_LOGIC && logic_get(&data_stack.args[1]);
    bool sent = false;
    if (cell_type(event) == T_EVENT && (event->header & EVENT_DETACHED) && event_data(event) != 0 &&
        sendable_type(event_type_id(event))) {
        SeriesBuffer* data = series_buffer(event_data(event));
        const Cell* cells = block_cells(data);
        View* view = data->length() >= 4 ? face_view(&cells[0]) : nullptr;
        if (view && (event_type_id(event) < EVT_MINIMIZE || view->type == FACE_TYPE_WINDOW)) {
            QueuedEvent q{view->id, event_type_id(event), event_flags(event), false, 0, 0, false, 0};
            if (cell_type(&cells[2]) == T_PAIR) {
                q.has_offset = true;
                q.x = pair_x(&cells[2]);
                q.y = pair_y(&cells[2]);
            } else if (cell_type(&cells[2]) == T_POINT2D) {
                q.has_offset = true;
                q.x = point_coord(&cells[2], 0);
                q.y = point_coord(&cells[2], 1);
            }
            if (cell_type(&cells[3]) == T_INTEGER) {
                q.has_picked = true;
                q.picked = integer_get(&cells[3]);
            }
            if (queued) {
                g_idle_add(queued_send, new QueuedEvent(q));
                sent = true;
            } else {
                sent = send_now(q);
            }
        }
    }
    logic_make_at(stack_box_new(T_LOGIC), sent);
}

// ---- exports -------------------------------------------------------------------------------------

static const GuiModuleEntry exports[] = {
    {"platform-do-event-loop", gui_fn(routine_do_event_loop)},
    {"platform-exit-event-loop", gui_fn(routine_exit_event_loop)},
    {"gui-message-loop", gui_fn(routine_gui_message_loop)},
    {"wait-seconds", gui_fn(gui_wait_seconds)},
    {"send-event-os", gui_fn(routine_send_event_os)},
};
const GuiExportTable LOOP_EXPORTS = {exports, uint32_t(std::size(exports))};

} // namespace kel
