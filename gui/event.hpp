// event!: the value through which user actions, timer ticks and window
// changes reach Kel code.
//
// Event cell: header T_EVENT, with EVENT_DETACHED set for events made by
// `make`; word 1 the event type id (1-38, 0 when a detached event got none);
// word 2 a live event's message serial, or a detached event's data block node
// (0 when it has none); word 3 the flag word: modifier and button bits above,
// the key (the whole code point of a character, up to U+10FFFF) in the low 21
// bits, or the argument of select, change and menu events in the low 16 bits.
//
// A live event refers to the message record the backend filled when it
// translated the message; the record holds the field values that depend on the
// window system (face, window, offset, key, picked, orientation). The records
// form a ring: an event kept long after its message (more than
// GUI_MESSAGE_RING later) reads none for those fields.
//
// Detached data block: exactly four values: face, window, offset, picked.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

constexpr uint32_t EVENT_DETACHED = 0x1000;  // header bit of events made by make

// The payload of an event cell: type id, a live event's message serial (a
// detached event's data block node) and the flag word.
inline uint32_t event_type_id(const Cell* event) { return event->w1; }
inline uint32_t event_serial(const Cell* event) { return event->w2; }
inline Node event_data(const Cell* event) { return event->w2; }
inline uint32_t event_flags(const Cell* event) { return event->w3; }

// Flag bits of word 3.
enum EventFlag : uint32_t {
    EVENT_FLAG_COMMAND = 0x80000000,
    EVENT_FLAG_ALT = 0x40000000,
    EVENT_FLAG_SHIFT = 0x20000000,
    EVENT_FLAG_CONTROL = 0x10000000,
    EVENT_FLAG_AWAY = 0x04000000,
    EVENT_FLAG_DOWN = 0x02000000,
    EVENT_FLAG_MID_DOWN = 0x01000000,
    EVENT_FLAG_ALT_DOWN = 0x00800000,
    EVENT_FLAG_AUX_DOWN = 0x00400000,
};

// The bits of the flag word that hold a key's character: every code point
// fits below the lowest flag bit, so a key beyond U+FFFF keeps its modifiers.
constexpr uint32_t EVENT_KEY_MASK = 0x001FFFFF;

// Event type ids.
enum EventType : uint32_t {
    EVT_NONE = 0,
    EVT_DOWN = 1, EVT_UP, EVT_MID_DOWN, EVT_MID_UP, EVT_ALT_DOWN, EVT_ALT_UP, EVT_AUX_DOWN,
    EVT_AUX_UP, EVT_CLICK, EVT_DBL_CLICK, EVT_WHEEL, EVT_OVER, EVT_KEY, EVT_KEY_DOWN, EVT_KEY_UP,
    EVT_IME, EVT_FOCUS, EVT_UNFOCUS, EVT_ENTER, EVT_ZOOM, EVT_PAN, EVT_ROTATE, EVT_TWO_TAP,
    EVT_PRESS_TAP, EVT_SELECT, EVT_CHANGE, EVT_MENU, EVT_CLOSE, EVT_MOVE, EVT_RESIZE, EVT_MOVING,
    EVT_RESIZING, EVT_TIME, EVT_DRAWING, EVT_SCROLL, EVT_MINIMIZE, EVT_MAXIMIZE, EVT_RESTORE,
    EVT_TYPE_COUNT,  // 39: ids run 1 to 38
};

// The message record of a live event, filled by the backend's translator.
struct GuiMessage {
    uint32_t serial;  // set by gui_message_new; never 0
    uint32_t window;  // the backend's id of the window the message is for
    uint32_t kind;    // the backend's message kind
    int32_t x, y;     // the backend's pointer position (pixels)
    // Field values; none when the field has no value for this message.
    Cell face;
    Cell window_face;
    Cell offset;
    Cell key;
    Cell picked;
    Cell orientation;
};
constexpr uint32_t GUI_MESSAGE_RING = 64;

// The next record of the ring with a new serial and every field none. The
// record stays valid (and its cells marked) until GUI_MESSAGE_RING more
// records are taken.
GuiMessage* gui_message_new();
// The record of a serial, or null when the ring has moved past it.
GuiMessage* gui_message_find(uint32_t serial);

// Writes a live event for the message record.
void event_make_live(Cell* out, uint32_t type, const GuiMessage* message, uint32_t flags);

// The symbol id of an event type's word (1-38), 0 otherwise.
uint32_t event_type_symbol(uint32_t type);
// The type id named by a word's symbol, 0 when none.
uint32_t event_type_of_symbol(uint32_t symbol);

// Registers event! (type 54): make, form, mold, path selection, comparison
// and pick.
void init_event();

} // namespace kel
