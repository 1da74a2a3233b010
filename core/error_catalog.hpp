// The error catalog: the ten categories in order, each with its code base,
// its title and its ids, and for every id its message template. A template is
// a string, or a block of strings and the argument words :arg1 :arg2 :arg3
// that printing replaces by the error's arguments (the parts joined by single
// blanks); the user category's one id prints its first argument instead.
#pragma once
#include "core/error.hpp"
#include <cstdint>
#include <string_view>

namespace kel {

constexpr int ERROR_TEMPLATE_PARTS = 6;  // the longest template has six parts

// A template part: a text, or a reference to argument 1, 2 or 3.
enum MessageArg : uint8_t { MSG_TEXT = 0, MSG_ARG1 = 1, MSG_ARG2 = 2, MSG_ARG3 = 3 };

struct MessagePart {
    MessageArg arg;    // MSG_TEXT for a text part
    const char* text;  // the text of a text part, else null
    constexpr MessagePart() : arg(MSG_TEXT), text(nullptr) {}
    constexpr MessagePart(const char* t) : arg(MSG_TEXT), text(t) {}
    constexpr MessagePart(MessageArg a) : arg(a), text(nullptr) {}
};

enum TemplateKind : uint8_t {
    TEMPLATE_STRING,  // one text part, printed as it is
    TEMPLATE_BLOCK,   // texts and argument references
    TEMPLATE_ARG1,    // no template: the message is the first argument
};

struct ErrorIdEntry {
    uint16_t id;        // position in the category (checked against the enumerations)
    const char* name;   // the id word
    TemplateKind kind;
    MessagePart parts[ERROR_TEMPLATE_PARTS];  // unused parts are empty texts (null)
    int part_count() const;
};

struct ErrorCategoryEntry {
    const char* name;   // the category word
    const char* title;  // printed before the message: "Script Error"
    uint16_t code_base; // position * 100
    const ErrorIdEntry* ids;
    uint16_t id_count;
};

// The category at a position 0-9; null outside.
const ErrorCategoryEntry* error_catalog_category(int position);
// The id entry at a position of the category; null outside.
const ErrorIdEntry* error_catalog_id(ErrorCategory category, int position);
// Positions by name, ASCII letter case ignored; -1 when unknown.
int error_catalog_find_category(std::string_view name);
int error_catalog_find_id(ErrorCategory category, std::string_view name);
// An error's code: category position * 100 + id position.
inline int error_code(ErrorCategory category, uint16_t id) { return int(category) * 100 + id; }

} // namespace kel
