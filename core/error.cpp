// Raising a catalogued error: the record in flight and its collector root.
#include "core/error.hpp"
#include "core/exits.hpp"
#include "runtime/collector.hpp"

namespace kel {

ErrorRecord error_in_flight = {};

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

[[noreturn]] void error_raise(ErrorCategory category, uint16_t id, const Cell* arg1,
                              const Cell* arg2, const Cell* arg3) {
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
    stack_throw_error();
}

void error_mark_live() {
    if (error_in_flight.holders == 0) return;
    collector_mark_values(error_in_flight.args, error_in_flight.args + 3);
    collector_mark_values(&error_in_flight.where, &error_in_flight.where + 1);
}

} // namespace kel
