// Language errors: a category and an id of the error catalog, by position,
// never by message text, with up to three argument values (the ids and
// error_raise are in runtime/raise.hpp, so that every layer can raise).
// Errors travel to their catcher as a C++ exception of type LanguageError;
// the arguments and the place of the raise wait in the one record of the
// error in flight, where the collector sees them.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include "runtime/raise.hpp"
#include <cstdint>
#include <exception>

namespace kel {

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
// and the call chain; where is none until the throw sets it. error_raise does
// this, then the raise hook, then the throw.
void error_record_set(ErrorCategory category, uint16_t id, const Cell* arg1, const Cell* arg2,
                      const Cell* arg3);

} // namespace kel
