// How a face's font! and para! objects read as plain settings: the font's
// family, size, weight and decorations, and the para's horizontal and
// vertical placement and wrapping with the defaults each face type takes.
// The GTK backend turns these into Pango font descriptions and widget
// alignments; nothing here touches a toolkit, so it is tested headless.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>
#include <string>

namespace kel {

// Field positions (0-based slots) of the font! prototype.
enum FontSlot : uint32_t {
    FONT_SLOT_NAME = 0, FONT_SLOT_SIZE, FONT_SLOT_STYLE, FONT_SLOT_ANGLE, FONT_SLOT_COLOR,
    FONT_SLOT_ANTI_ALIAS, FONT_SLOT_SHADOW, FONT_SLOT_STATE, FONT_SLOT_PARENT,
};
// Field positions (0-based slots) of the para! prototype.
enum ParaSlot : uint32_t {
    PARA_SLOT_ORIGIN = 0, PARA_SLOT_PADDING, PARA_SLOT_SCROLL, PARA_SLOT_ALIGN, PARA_SLOT_V_ALIGN,
    PARA_SLOT_WRAP, PARA_SLOT_PARENT,
};

// Anti-aliasing asked for by a font's anti-alias? field.
enum FontQuality : uint8_t {
    FONT_QUALITY_DEFAULT = 0,    // anything but true or the word ClearType
    FONT_QUALITY_ANTIALIAS = 4,  // true
    FONT_QUALITY_SUBPIXEL = 5,   // the word ClearType
};

struct FontSpec {
    std::string name;      // family; the default family when the font names none
    int32_t size = 0;      // points; the default size unless a positive integer is given
    int32_t angle = 0;     // degrees, counter-clockwise
    bool bold = false, italic = false, underline = false, strike = false;
    FontQuality quality = FONT_QUALITY_DEFAULT;
};

// Default family and size of fonts that give none, until the GUI starts on
// a display and takes the desktop's GUI font instead (font_default_set).
constexpr const char* FONT_DEFAULT_NAME = "Sans";
constexpr int32_t FONT_DEFAULT_SIZE = 9;

// Makes the family and size the ones of fonts that give none, so that text
// is measured in the font the toolkit's widgets show it in.
void font_default_set(const std::string& name, int32_t size);

// The value of a slot of an object, or the none cell when the object is
// shorter; valid until the next allocation.
const Cell* object_slot_value(const Cell* object, uint32_t slot);
// True when the cell is a word of the word family spelled as name (ASCII
// case ignored).
bool word_named_q(const Cell* cell, const char* name);

// The font's settings; a value that is not an object gives the defaults.
FontSpec font_spec_of(const Cell* font);

// Placement of text in a face, from its para and the face type's defaults.
enum TextHorizontal : uint8_t { TEXT_LEFT = 0, TEXT_CENTER = 1, TEXT_RIGHT = 2 };
enum TextVertical : uint8_t { TEXT_TOP = 0, TEXT_MIDDLE = 1, TEXT_BOTTOM = 2 };

struct ParaLayout {
    TextHorizontal h = TEXT_LEFT;
    TextVertical v = TEXT_TOP;
    bool wrap = false;      // lines break at the face's width
    bool ellipsis = false;  // a text face that does not wrap ends cut lines with an ellipsis
    bool scrolls = false;   // a field or area that does not wrap scrolls its text instead
};

// The layout for a face of the type (its type word's spelling) with the para
// (any value; not an object means the type's defaults). wrap? of none counts
// as true, as it does for every type that wraps at all.
ParaLayout para_layout(const char* face_type, const Cell* para);

} // namespace kel
