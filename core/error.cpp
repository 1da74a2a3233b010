// Raising a catalogued error: the record in flight and its collector root.
#include "core/error.hpp"
#include "core/exits.hpp"
#include "core/stack.hpp"
#include "runtime/collector.hpp"

namespace kel {

ErrorRecord error_in_flight = {};
static ErrorNearHook near_hook = nullptr;
static ErrorRaiseHook raise_hook = nullptr;

void error_near_hook_set(ErrorNearHook hook) { near_hook = hook; }
void error_raise_hook_set(ErrorRaiseHook hook) { raise_hook = hook; }

// Copies the named frames of the call stack, the newest ERROR_CHAIN_FRAMES of
// them, oldest first. Nothing is allocated.
static void error_chain_record(ErrorRecord& error) {
    uint32_t named = 0;
    for (CallFrame* f = call_stack.bottom; f < call_stack.top; f++)
        if (stack_frame_named(f)) named++;
    uint32_t skip = named > ERROR_CHAIN_FRAMES ? named - ERROR_CHAIN_FRAMES : 0;
    error.chain_count = 0;
    for (CallFrame* f = call_stack.bottom; f < call_stack.top; f++) {
        if (!stack_frame_named(f)) continue;
        if (skip > 0) {
            skip--;
            continue;
        }
        error.chain[error.chain_count++] = ChainFrame{f->symbol, f->context};
    }
}

LanguageError::LanguageError(ErrorCategory c, uint16_t i) : category(c), id(i) {
    ++error_in_flight.holders;
}

LanguageError::LanguageError(const LanguageError& other)
    : std::exception(other), category(other.category), id(other.id) {
    ++error_in_flight.holders;
}

LanguageError::~LanguageError() {
    if (error_in_flight.holders > 0) --error_in_flight.holders;
}

void error_record_set(ErrorCategory category, uint16_t id, const Cell* arg1, const Cell* arg2,
                      const Cell* arg3) {
    // Copied through locals first: an argument may be a cell of the record
    // itself (an error raised again with its own arguments).
    const Cell* given[3] = {arg1, arg2, arg3};
    Cell args[3];
    uint8_t count = 0;
    for (int i = 0; i < 3; ++i) {
        if (given[i]) {
            cell_copy(given[i], &args[i]);
            count = uint8_t(i + 1);
        } else {
            cell_init(&args[i], T_NONE);
        }
    }
    ErrorRecord& error = error_in_flight;
    error.category = category;
    error.id = id;
    error.arg_count = count;
    for (int i = 0; i < 3; ++i) cell_copy(&args[i], &error.args[i]);
    // No cell of an earlier raise stays: collections made while the record
    // had no holder did not follow them, and the raise hook marks the record.
    cell_init(&error.where, T_NONE);
    cell_init(&error.near, T_NONE);
    if (near_hook) near_hook(&error.near);
    error_chain_record(error);
}

// The raiser of every language error, the runtime's included: set while the
// program loads, so that a raise works from the first step of start-up on.
[[noreturn]] static void language_error_raise(ErrorCategory category, uint16_t id, const Cell* arg1,
                                              const Cell* arg2, const Cell* arg3) {
    error_record_set(category, id, arg1, arg2, arg3);
    if (raise_hook) raise_hook();
    stack_throw_error();
}
[[maybe_unused]] static const bool raiser_set = (error_raiser_set(language_error_raise), true);

void error_mark_live() {
    if (error_in_flight.holders == 0) return;
    collector_mark_values(error_in_flight.args, error_in_flight.args + 3);
    collector_mark_values(&error_in_flight.where, &error_in_flight.where + 1);
    collector_mark_values(&error_in_flight.near, &error_in_flight.near + 1);
    for (uint32_t i = 0; i < error_in_flight.chain_count; i++)
        if (error_in_flight.chain[i].context) collector_mark_context(&error_in_flight.chain[i].context);
}

} // namespace kel
