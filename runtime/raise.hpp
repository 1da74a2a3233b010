// Raising a language error from any layer, the runtime's own included: a
// category and an id of the error catalog, with up to three argument values.
// The runtime knows the ids but not what a raise does: the core sets the
// raiser, which fills the error in flight and throws it to its catcher
// (core/error.hpp).
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// Categories in catalog order; an error's code is position * 100 + id position.
enum class ErrorCategory : uint8_t {
    throw_ = 0, note, syntax, script, math, access, reserved1, reserved2, user, internal,
};
constexpr int ERROR_CATEGORY_COUNT = 10;

// Ids of each category, in catalog order (core/error_catalog.cpp holds their
// names and message templates and checks the order). Names are unique across
// categories, so the id alone selects its category in error_raise.

enum ThrowError : uint16_t {
    ERR_BREAK, ERR_RETURN, ERR_THROW, ERR_CONTINUE, ERR_WHILE_COND,
};

enum NoteError : uint16_t {
    ERR_NO_LOAD,
};

enum SyntaxError : uint16_t {
    ERR_INVALID, ERR_MISSING, ERR_NO_HEADER, ERR_NO_KS_HEADER, ERR_BAD_HEADER,
    ERR_MALCONSTRUCT, ERR_BAD_CHAR,
};

enum ScriptError : uint16_t {
    ERR_NO_VALUE, ERR_NEED_VALUE, ERR_NOT_DEFINED, ERR_NOT_IN_CONTEXT, ERR_NO_ARG,
    ERR_EXPECT_ARG, ERR_EXPECT_VAL, ERR_EXPECT_TYPE, ERR_CANNOT_USE, ERR_INVALID_ARG,
    ERR_INVALID_TYPE, ERR_INVALID_TYPE_SPEC, ERR_INVALID_KEY_TYPE, ERR_INVALID_OP,
    ERR_NO_OP_ARG, ERR_BAD_OP_SPEC, ERR_INVALID_DATA, ERR_INVALID_PART, ERR_NOT_SAME_TYPE,
    ERR_NOT_SAME_CLASS, ERR_NOT_RELATED, ERR_BAD_FUNC_DEF, ERR_BAD_FUNC_ARG,
    ERR_BAD_FUNC_EXTERN, ERR_NO_REFINE, ERR_BAD_REFINES, ERR_BAD_REFINE, ERR_DUP_REFINE,
    ERR_WORD_FIRST, ERR_EMPTY_PATH, ERR_UNSET_PATH, ERR_INVALID_PATH, ERR_INVALID_PATH_SET,
    ERR_INVALID_PATH_GET, ERR_BAD_PATH_TYPE, ERR_BAD_PATH_TYPE2, ERR_BAD_PATH_SET,
    ERR_BAD_FIELD_SET, ERR_DUP_VARS, ERR_PAST_END, ERR_MISSING_ARG, ERR_OUT_OF_RANGE,
    ERR_INVALID_CHARS, ERR_INVALID_COMPARE, ERR_WRONG_TYPE, ERR_INVALID_REFINE_ARG,
    ERR_TYPE_LIMIT, ERR_SIZE_LIMIT, ERR_NO_RETURN, ERR_THROW_USAGE, ERR_LOCKED_WORD,
    ERR_PROTECTED, ERR_BAD_BAD, ERR_BAD_MAKE_ARG, ERR_BAD_TO_ARG, ERR_INVALID_MONTHS,
    ERR_INVALID_SPEC_FIELD, ERR_MISSING_SPEC_FIELD, ERR_MOVE_BAD, ERR_TOO_LONG,
    ERR_INVALID_CHAR, ERR_BAD_LOOP_SERIES, ERR_WRONG_DENOM, ERR_BAD_DENOM,
    ERR_INVALID_OBJ_EVT, ERR_PARSE_RULE, ERR_PARSE_END, ERR_PARSE_INVALID_REF,
    ERR_PARSE_BLOCK, ERR_PARSE_UNSUPPORTED, ERR_PARSE_INFINITE, ERR_PARSE_STACK,
    ERR_PARSE_KEEP, ERR_PARSE_INTO_BAD, ERR_PARSE_INTO_TYPE, ERR_DRAW_INVALID,
    ERR_DRAW_INFINITE, ERR_INVALID_DATA_FACET, ERR_FACE_TYPE, ERR_NOT_WINDOW,
    ERR_BAD_WINDOW, ERR_NOT_LINKED, ERR_NOT_EVENT_TYPE, ERR_INVALID_FACET_TYPE,
    ERR_VID_INVALID_SYNTAX, ERR_RTD_INVALID_SYNTAX, ERR_RTD_NO_MATCH, ERR_REACT_BAD_FUNC,
    ERR_REACT_NOT_ENOUGH, ERR_REACT_NO_MATCH, ERR_REACT_BAD_OBJ, ERR_REACT_GCTX,
    ERR_LIB_INVALID_ARG, ERR_KB_INVALID_RECORD,
};

enum MathError : uint16_t {
    ERR_ZERO_DIVIDE, ERR_OVERFLOW, ERR_POSITIVE,
};

enum AccessError : uint16_t {
    ERR_CANNOT_OPEN, ERR_CANNOT_CLOSE, ERR_INVALID_UTF8, ERR_NOT_OPEN, ERR_NO_CONNECT,
    ERR_NO_SCHEME, ERR_UNKNOWN_SCHEME, ERR_INVALID_SPEC, ERR_INVALID_PORT, ERR_INVALID_ACTOR,
    ERR_NO_PORT_ACTION, ERR_NO_CREATE, ERR_NO_CODEC, ERR_BAD_MEDIA, ERR_INVALID_CMD,
};

enum UserError : uint16_t {
    ERR_MESSAGE,
};

enum InternalError : uint16_t {
    ERR_BAD_PATH, ERR_NOT_HERE, ERR_NO_MEMORY, ERR_WRONG_MEM, ERR_STACK_OVERFLOW,
    ERR_LIMIT_HIT, ERR_TOO_DEEP, ERR_NO_CYCLE, ERR_FEATURE_NA, ERR_NOT_DONE,
    ERR_INVALID_ERROR, ERR_ROUTINES, ERR_KEL_SYSTEM, ERR_DEPRECATED,
};

// What a raise does: fills the error in flight and throws; never returns.
using ErrorRaiser = void (*)(ErrorCategory category, uint16_t id, const Cell* arg1,
                             const Cell* arg2, const Cell* arg3);
void error_raiser_set(ErrorRaiser raiser);

// Raises an error of the catalog by category and id, with up to three
// argument values (null = not given), through the raiser. Never returns.
[[noreturn]] void error_raise(ErrorCategory category, uint16_t id, const Cell* arg1 = nullptr,
                              const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);

// The category of each enumeration of ids.
constexpr ErrorCategory error_category_of(ThrowError) { return ErrorCategory::throw_; }
constexpr ErrorCategory error_category_of(NoteError) { return ErrorCategory::note; }
constexpr ErrorCategory error_category_of(SyntaxError) { return ErrorCategory::syntax; }
constexpr ErrorCategory error_category_of(ScriptError) { return ErrorCategory::script; }
constexpr ErrorCategory error_category_of(MathError) { return ErrorCategory::math; }
constexpr ErrorCategory error_category_of(AccessError) { return ErrorCategory::access; }
constexpr ErrorCategory error_category_of(UserError) { return ErrorCategory::user; }
constexpr ErrorCategory error_category_of(InternalError) { return ErrorCategory::internal; }

// The same with the category taken from the id's own enumeration.
template <typename Id, ErrorCategory category = error_category_of(Id{})>
[[noreturn]] inline void error_raise(Id id, const Cell* a1 = nullptr, const Cell* a2 = nullptr,
                                     const Cell* a3 = nullptr) {
    error_raise(category, uint16_t(id), a1, a2, a3);
}

} // namespace kel
