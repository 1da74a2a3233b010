// Language errors raised by the runtime: a category and an id of the error
// catalog, by position, never by message text. Errors travel to their catcher
// as a C++ exception of type LanguageError.
#pragma once
#include <cstdint>
#include <exception>

namespace kel {

// Categories in catalog order; an error's code is position * 100 + id position.
enum class ErrorCategory : uint8_t {
    throw_ = 0, note, syntax, script, math, access, reserved1, reserved2, user, internal,
};

// Ids of the internal category, in catalog order.
enum InternalError : uint16_t {
    ERR_BAD_PATH, ERR_NOT_HERE, ERR_NO_MEMORY, ERR_WRONG_MEM, ERR_STACK_OVERFLOW,
    ERR_LIMIT_HIT, ERR_TOO_DEEP, ERR_NO_CYCLE, ERR_FEATURE_NA, ERR_NOT_DONE,
    ERR_INVALID_ERROR, ERR_ROUTINES, ERR_KEL_SYSTEM, ERR_DEPRECATED,
};

struct LanguageError : std::exception {
    ErrorCategory category;
    uint16_t id;
    LanguageError(ErrorCategory c, uint16_t i) : category(c), id(i) {}
    int code() const { return int(category) * 100 + id; }
    const char* what() const noexcept override { return "Kel language error"; }
};

// Raises an error of the catalog by category and id.
[[noreturn]] void error_raise(ErrorCategory category, uint16_t id);

} // namespace kel
