// What the backend's own files share: the DPI state and unit conversions,
// the start of the backend, the message loop's exit accounting, the event hub
// and the view operations the platform routines call.
//
// Units: faces are sized in logical units of 1/96 inch; GTK positions widgets
// in its own device-independent pixels, which follow the monitor's scale
// factor by themselves, so the backend's scale stays 1.0 and the DPI it
// reports is 96 times the monitor's scale factor.
#pragma once
#include "gui/backend/view.hpp"
#include "gui/event.hpp"

#include <string>

namespace kel {

// ---- DPI (backend.cpp) -----------------------------------------------------------------

// Logical units to GTK pixels: x × scale + 0.5, truncated toward zero.
int32_t dpi_scale(double x);
// GTK pixels to logical units.
double dpi_unscale(double x);

// True once platform-init started the backend.
bool backend_started();
// Opens the display (starting GTK) or raises internal error not-here.
void backend_require();

// Evaluates Kel source text in the running routine's frame; its value is dropped.
void backend_eval_text(const std::string& text);

// ---- message loop and event hub (loop.cpp) ---------------------------------------------

// Ends the innermost blocking message loop (the loop's own quit message).
void loop_post_quit();
// A window whose closing must end a loop went away: one waiting loop becomes
// one pending exit.
void loop_exit_owed();

// The hub: fills a live event of the type for the message record, calls
// system/view/awake with it and answers the verdict: 1 go on, 0 stop.
// Nothing raised inside leaves it. message may be null (a fresh record is
// taken); the record's face and window fields are filled from view.
uint32_t make_event(View* view, GuiMessage* message, uint32_t type, uint32_t flags);

// Connects the input signals (mouse, keys, focus, pointer crossing) of a
// widget to the view; the widget gets the event masks it needs.
void view_input_connect(View* view, GtkWidget* widget);
// Connects the window signals (move, size, close, focus, state) of a window face.
void view_window_connect(View* view);

// The modifier flags (control, shift, alt) and button flags of a GDK state.
uint32_t event_flags_of_state(guint state);

// ---- views (windows.cpp) ---------------------------------------------------------------

// The face flags as bits (a word or a block of flag words); a word outside
// the table raises a script error; any other value gives 0.
uint32_t face_flags_bits(const Cell* flags);

// The size of the face's widget in logical units.
void view_size_logical(View* view, double* width, double* height);

} // namespace kel
