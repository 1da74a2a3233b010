#include "gui/text_style.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/logic.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/word.hpp"
#include "runtime/memory.hpp"

#include <cstring>
#include <strings.h>

namespace kel {

const Cell* object_slot_value(const Cell* object, uint32_t slot) {
    if (cell_type(object) != T_OBJECT) return &none_cell;
    Node values = context_values(object_context(object));
    if (!values) return &none_cell;
    SeriesBuffer* b = series_buffer(values);
    if (slot >= b->length()) return &none_cell;
    return block_cells(b) + slot;
}

bool word_named_q(const Cell* cell, const char* name) {
    if (!word_type_q(cell_type(cell))) return false;
    uint32_t length = 0;
    const uint8_t* text = symbol_name(word_symbol(cell), &length);
    return length == std::strlen(name) &&
           strncasecmp(reinterpret_cast<const char*>(text), name, length) == 0;
}

// Applies one style word to the font settings; other words are ignored.
static void font_style_apply(const Cell* word, FontSpec* spec) {
    if (word_named_q(word, "bold")) spec->bold = true;
    else if (word_named_q(word, "italic")) spec->italic = true;
    else if (word_named_q(word, "underline")) spec->underline = true;
    else if (word_named_q(word, "strike")) spec->strike = true;
}

static std::string default_name = FONT_DEFAULT_NAME;
static int32_t default_size = FONT_DEFAULT_SIZE;

void font_default_set(const std::string& name, int32_t size) {
    if (!name.empty()) default_name = name;
    if (size > 0) default_size = size;
}

FontSpec font_spec_of(const Cell* font) {
    FontSpec spec;
    spec.name = default_name;
    spec.size = default_size;
    if (cell_type(font) != T_OBJECT) return spec;
    const Cell* name = object_slot_value(font, FONT_SLOT_NAME);
    if (cell_type(name) == T_STRING) {
        uint8_t text[256];  // family names are short; longer ones are cut at a whole character
        uint32_t bytes = string_to_utf8_limited(name, text, sizeof text, -1, true);
        if (bytes) spec.name.assign(reinterpret_cast<const char*>(text), bytes);
    }
    const Cell* size = object_slot_value(font, FONT_SLOT_SIZE);
    if (cell_type(size) == T_INTEGER && cell_int(size) > 0) spec.size = cell_int(size);
    const Cell* angle = object_slot_value(font, FONT_SLOT_ANGLE);
    if (cell_type(angle) == T_INTEGER) spec.angle = cell_int(angle);
    const Cell* style = object_slot_value(font, FONT_SLOT_STYLE);
    if (cell_type(style) == T_BLOCK) {
        SeriesBuffer* b = series_buffer_of(style);
        const Cell* cells = block_cells(b);
        for (uint32_t i = uint32_t(series_index(style)); i < b->length(); i++) font_style_apply(cells + i, &spec);
    } else {
        font_style_apply(style, &spec);
    }
    const Cell* aa = object_slot_value(font, FONT_SLOT_ANTI_ALIAS);
    if (cell_type(aa) == T_LOGIC && logic_get(aa)) spec.quality = FONT_QUALITY_ANTIALIAS;
    else if (word_named_q(aa, "ClearType")) spec.quality = FONT_QUALITY_SUBPIXEL;
    return spec;
}

// Defaults of one family of face types and what wrapping means for it.
struct ParaRule {
    const char* types[4];       // type words of the family (null-padded)
    TextHorizontal h;           // when the para gives no align
    TextVertical v;             // when the para gives no v-align
    bool vertical;              // v-align is honoured beyond top/middle
    bool middle;                // v-align middle is honoured
    enum { NEVER, WRAPS, TEXT, EDIT } wrap;
};

static const ParaRule para_rules[] = {
    {{"base"}, TEXT_CENTER, TEXT_MIDDLE, true, true, ParaRule::WRAPS},
    {{"rich-text"}, TEXT_LEFT, TEXT_TOP, true, true, ParaRule::WRAPS},
    {{"button", "toggle"}, TEXT_CENTER, TEXT_MIDDLE, true, true, ParaRule::NEVER},
    {{"check", "radio"}, TEXT_LEFT, TEXT_MIDDLE, true, true, ParaRule::NEVER},
    {{"text"}, TEXT_LEFT, TEXT_TOP, false, true, ParaRule::TEXT},
    {{"field", "area"}, TEXT_LEFT, TEXT_TOP, false, true, ParaRule::EDIT},
};

static const ParaRule* para_rule_of(const char* face_type) {
    for (const ParaRule& rule : para_rules)
        for (const char* t : rule.types)
            if (t && strcasecmp(t, face_type) == 0) return &rule;
    return nullptr;
}

ParaLayout para_layout(const char* face_type, const Cell* para) {
    ParaLayout layout;
    const ParaRule* rule = para_rule_of(face_type);
    if (!rule) return layout;  // other types: left, top, no wrapping
    layout.h = rule->h;
    layout.v = rule->v;
    bool is_para = cell_type(para) == T_OBJECT;
    const Cell* align = is_para ? object_slot_value(para, PARA_SLOT_ALIGN) : &none_cell;
    if (word_named_q(align, "left")) layout.h = TEXT_LEFT;
    else if (word_named_q(align, "center")) layout.h = TEXT_CENTER;
    else if (word_named_q(align, "right")) layout.h = TEXT_RIGHT;
    const Cell* v_align = is_para ? object_slot_value(para, PARA_SLOT_V_ALIGN) : &none_cell;
    if (word_named_q(v_align, "top")) layout.v = TEXT_TOP;
    else if (word_named_q(v_align, "middle")) layout.v = rule->middle ? TEXT_MIDDLE : TEXT_TOP;
    else if (word_named_q(v_align, "bottom")) layout.v = rule->vertical ? TEXT_BOTTOM : TEXT_TOP;
    const Cell* wrap = is_para ? object_slot_value(para, PARA_SLOT_WRAP) : &none_cell;
    bool w = cell_type(wrap) == T_NONE || (cell_type(wrap) == T_LOGIC && logic_get(wrap));
    switch (rule->wrap) {
    case ParaRule::NEVER: break;
    case ParaRule::WRAPS: layout.wrap = w; break;
    case ParaRule::TEXT: layout.wrap = w; layout.ellipsis = !w; break;
    case ParaRule::EDIT: layout.wrap = w && std::strcmp(face_type, "area") == 0; layout.scrolls = !w; break;
    }
    return layout;
}

} // namespace kel
