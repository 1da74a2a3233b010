// tag!, email! and ref!: their printing, email!'s user and host parts, their
// lexer loaders and their registrations. Everything else comes from string!.
#include "datatypes/tag.hpp"
#include "core/error.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "runtime/collector.hpp"

namespace kel {

Cell* tag_push(const Cell* tag) { return stack_push(tag); }
Cell* email_push(const Cell* email) { return stack_push(email); }
Cell* ref_push(const Cell* ref) { return stack_push(ref); }

// ---- form, mold --------------------------------------------------------------------------

int32_t tag_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part, int32_t budget,
                 int32_t indent) {
    CellRoot held(*value);  // the value may lie in a buffer the append moves
    string_append_char(target, '<');
    budget = string_form(&held.cell, target, only, all, flat, part, budget - 1, indent);
    string_append_char(target, '>');
    return budget - 1;
}

int32_t email_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part, int32_t budget,
                   int32_t indent) {
    return string_form(value, target, only, all, flat, part, budget, indent);
}

int32_t ref_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part, int32_t budget,
                 int32_t indent) {
    CellRoot held(*value);
    string_append_char(target, '@');
    return string_form(&held.cell, target, only, all, flat, part, budget - 1, indent);
}

// ---- email! path --------------------------------------------------------------------------

void email_eval_path(const Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                     bool case_, Cell* out) {
    uint8_t type = cell_type(element);
    if (type == T_INTEGER) {
        string_eval_path(parent, element, set_value, path, case_, out);
        return;
    }
    uint32_t symbol = type == T_WORD ? symbol_resolve(word_symbol(element)) : 0;
    bool user = symbol && symbol == symbol_resolve(runtime_symbol(SYM_USER));
    bool host = symbol && symbol == symbol_resolve(runtime_symbol(SYM_HOST));
    if (!user && !host) {
        Cell p = *path, e = *element;
        error_raise(ERR_INVALID_PATH, &p, &e);
    }
    // The email at its position, on the data stack: its characters are read
    // and, for a set, changed through it.
    Cell* email = stack_push(parent);
    uint32_t from = series_index_clamped(email);
    series_index_set(email, int32_t(from));
    uint32_t length = string_ks_length_q(email);
    int32_t at = string_ks_find_char(email, '@');
    uint32_t split = at < 0 ? length : uint32_t(at);
    if (set_value) {
        Cell* value = stack_push(set_value);
        if (user) {
            string_change(email, value, int32_t(split), false, 1);
        } else if (at < 0) {
            // Without an "@" there is no host part yet: it is added after one.
            string_insert(email, value, -1, false, 1, true);
            series_index_set(email, int32_t(from + length));
            Cell sign;
            cell_init(&sign, T_CHAR);
            cell_set_int(&sign, '@');
            string_insert(email, &sign, -1, false, 1, false);
        } else {
            series_index_set(email, int32_t(from + split + 1));
            string_change(email, value, int32_t(length - split - 1), false, 1);
        }
        cell_copy(value, out);
        stack_pop(2);
        return;
    }
    Cell* part = stack_push_new(T_NONE);
    string_make_at(part, user ? split : length - split);
    if (user) {
        string_concatenate(part, email, int32_t(split), 0, true, CONCAT_APPEND);
    } else if (at >= 0) {
        series_index_set(email, int32_t(from + split + 1));
        string_concatenate(part, email, -1, 0, true, CONCAT_APPEND);
    }
    cell_copy(part, out);
    stack_pop(2);
}

// ---- lexer loaders --------------------------------------------------------------------------

static bool scan_text(const uint8_t* start, const uint8_t* end, uint8_t type, Cell* out) {
    for (const uint8_t* p = start; p < end;) {
        int32_t codepoint;
        p = utf8_decode_char(p, end, &codepoint);
        if (codepoint < 0) return false;
    }
    string_load(start, uint32_t(end - start), ENCODING_UTF8, out);
    cell_type_set(out, type);
    return true;
}

bool scan_tag(const uint8_t* start, const uint8_t* end, Cell* out) { return scan_text(start, end, T_TAG, out); }
bool scan_email(const uint8_t* start, const uint8_t* end, Cell* out) { return scan_text(start, end, T_EMAIL, out); }
bool scan_ref(const uint8_t* start, const uint8_t* end, Cell* out) { return scan_text(start, end, T_REF, out); }

// ---- registration ------------------------------------------------------------------------------

void init_tag() {
    const ActionRow actions[] = {
        {A_FORM, tag_form},
        {A_MOLD, tag_form},
        // from string!
        {A_MAKE, ACTION_INHERIT}, {A_REFLECT, ACTION_INHERIT}, {A_TO, ACTION_INHERIT},
        {A_EVAL_PATH, ACTION_INHERIT}, {A_COMPARE, ACTION_INHERIT},
        {A_APPEND, A_SELECT, ACTION_INHERIT}, {A_SKIP, A_TAKE, ACTION_INHERIT},
        {A_MODIFY, ACTION_INHERIT},
    };
    datatype_register(T_TAG, T_STRING, "tag!", actions);
    datatype_hooks_set(T_TAG, {.scan = scan_tag});
}

void init_email() {
    const ActionRow actions[] = {
        {A_MOLD, email_mold},
        {A_EVAL_PATH, email_eval_path},
        // from string!
        {A_MAKE, ACTION_INHERIT}, {A_REFLECT, A_FORM, ACTION_INHERIT}, {A_COMPARE, ACTION_INHERIT},
        {A_APPEND, A_SELECT, ACTION_INHERIT}, {A_SKIP, A_TAKE, ACTION_INHERIT},
        {A_MODIFY, ACTION_INHERIT},
    };
    datatype_register(T_EMAIL, T_STRING, "email!", actions);
    datatype_hooks_set(T_EMAIL, {.scan = scan_email});
}

void init_ref() {
    const ActionRow actions[] = {
        {A_MOLD, ref_mold},
        // from string!
        {A_MAKE, ACTION_INHERIT}, {A_REFLECT, A_FORM, ACTION_INHERIT}, {A_COMPARE, ACTION_INHERIT},
        {A_AT, A_POKE, ACTION_INHERIT}, {A_REMOVE, A_SELECT, ACTION_INHERIT},
        {A_SKIP, A_TAKE, ACTION_INHERIT}, {A_MODIFY, ACTION_INHERIT},
    };
    datatype_register(T_REF, T_STRING, "ref!", actions);
    datatype_hooks_set(T_REF, {.scan = scan_ref});
}

} // namespace kel
