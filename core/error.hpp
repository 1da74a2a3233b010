// Language errors raised by the runtime: a category and an id of the error
// catalog, by position, never by message text, with up to three argument
// values. Errors travel to their catcher as a C++ exception of type
// LanguageError; the arguments and the place of the raise wait in the one
// record of the error in flight, where the collector sees them.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>
#include <exception>

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

// The error in flight: filled by every raise and read by the catcher that
// ends it (try, the top level) inside its catch block, where it copies what it
// keeps onto the data stack before it evaluates anything. The cells are
// collector roots only while a LanguageError object lives: once the catch
// block has ended, a handled error keeps nothing alive and its cells may refer
// to collected series.
// Frames of the call chain an error keeps: the named frames nearest the raise.
constexpr uint32_t ERROR_CHAIN_FRAMES = 64;

// One named frame of the call chain at the raise: its word's symbol and context.
struct ChainFrame {
    uint32_t symbol;
    Node context;  // 0 when the frame had none
};

struct ErrorRecord {
    ErrorCategory category;
    uint16_t id;
    uint8_t arg_count;     // arguments given, 0 to 3; the others are none
    bool caught;           // a try frame stood on the call stack at the raise
    uint32_t frame;        // call-stack depth at the raise, in frames
    uint32_t holders;      // LanguageError objects alive
    Cell args[3];          // arg1, arg2, arg3
    Cell where;            // the calling word (stack_caller_word), none when no frame
    Cell near;             // the code being evaluated at the raise (a block at its
                           // position), none outside evaluation
    uint32_t chain_count;  // entries of chain in use, oldest first
    ChainFrame chain[ERROR_CHAIN_FRAMES];  // the call chain, copied at the raise
                                           // because the catcher pops those frames
};
extern ErrorRecord error_in_flight;

// The exception that carries an error to its catcher. Category and id are
// copied here so that a catcher can test them even after a later raise has
// refilled the record in flight.
struct LanguageError : std::exception {
    ErrorCategory category;
    uint16_t id;
    LanguageError(ErrorCategory c, uint16_t i);
    LanguageError(const LanguageError& other);
    LanguageError& operator=(const LanguageError& other) = default;
    ~LanguageError() override;
    int code() const { return int(category) * 100 + id; }
    const char* what() const noexcept override { return "Kel language error"; }
};

// Raises an error of the catalog by category and id, with up to three
// argument values (null = not given). Never returns.
[[noreturn]] void error_raise(ErrorCategory category, uint16_t id, const Cell* arg1 = nullptr,
                              const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);

// The same with the category taken from the id's own enumeration.
[[noreturn]] inline void error_raise(ThrowError id, const Cell* a1 = nullptr,
                                     const Cell* a2 = nullptr, const Cell* a3 = nullptr) {
    error_raise(ErrorCategory::throw_, id, a1, a2, a3);
}
[[noreturn]] inline void error_raise(NoteError id, const Cell* a1 = nullptr,
                                     const Cell* a2 = nullptr, const Cell* a3 = nullptr) {
    error_raise(ErrorCategory::note, id, a1, a2, a3);
}
[[noreturn]] inline void error_raise(SyntaxError id, const Cell* a1 = nullptr,
                                     const Cell* a2 = nullptr, const Cell* a3 = nullptr) {
    error_raise(ErrorCategory::syntax, id, a1, a2, a3);
}
[[noreturn]] inline void error_raise(ScriptError id, const Cell* a1 = nullptr,
                                     const Cell* a2 = nullptr, const Cell* a3 = nullptr) {
    error_raise(ErrorCategory::script, id, a1, a2, a3);
}
[[noreturn]] inline void error_raise(MathError id, const Cell* a1 = nullptr,
                                     const Cell* a2 = nullptr, const Cell* a3 = nullptr) {
    error_raise(ErrorCategory::math, id, a1, a2, a3);
}
[[noreturn]] inline void error_raise(AccessError id, const Cell* a1 = nullptr,
                                     const Cell* a2 = nullptr, const Cell* a3 = nullptr) {
    error_raise(ErrorCategory::access, id, a1, a2, a3);
}
[[noreturn]] inline void error_raise(UserError id, const Cell* a1 = nullptr,
                                     const Cell* a2 = nullptr, const Cell* a3 = nullptr) {
    error_raise(ErrorCategory::user, id, a1, a2, a3);
}
[[noreturn]] inline void error_raise(InternalError id, const Cell* a1 = nullptr,
                                     const Cell* a2 = nullptr, const Cell* a3 = nullptr) {
    error_raise(ErrorCategory::internal, id, a1, a2, a3);
}

// Raising with a datatype! argument made from a type id: the datatype stands
// where the type id is given among the arguments.
inline Cell error_datatype_arg(uint8_t type) {
    Cell datatype;
    cell_init(&datatype, T_DATATYPE);
    datatype.w1 = type;
    return datatype;
}
template <typename Id>
[[noreturn]] void error_raise_type(Id id, uint8_t type, const Cell* arg2 = nullptr, const Cell* arg3 = nullptr) {
    Cell datatype = error_datatype_arg(type);
    error_raise(id, &datatype, arg2, arg3);
}
template <typename Id>
[[noreturn]] void error_raise_type(Id id, const Cell* arg1, uint8_t type, const Cell* arg3 = nullptr) {
    Cell datatype = error_datatype_arg(type);
    error_raise(id, arg1, &datatype, arg3);
}
template <typename Id> [[noreturn]] void error_raise_type(Id id, uint8_t type1, uint8_t type2) {
    Cell first = error_datatype_arg(type1), second = error_datatype_arg(type2);
    error_raise(id, &first, &second);
}

// Collector root of the record in flight; registered by the start-up of the stacks.
void error_mark_live();

// The evaluator's current position for the near field of errors: the hook
// writes the block being evaluated, at the failing expression, into out (or
// leaves none). Without a hook errors raised carry none.
using ErrorNearHook = void (*)(Cell* out);
void error_near_hook_set(ErrorNearHook hook);

// Runs at every raise once the record is filled, before the throw (the trace
// event of errors). It may allocate and evaluate; it leaves the record as it
// found it (error_record_set refills it).
using ErrorRaiseHook = void (*)();
void error_raise_hook_set(ErrorRaiseHook hook);

// Fills the record in flight: category, id, arguments (null: none), near
// and the call chain. error_raise does this, then the raise hook, then the throw.
void error_record_set(ErrorCategory category, uint16_t id, const Cell* arg1, const Cell* arg2,
                      const Cell* arg3);

} // namespace kel
