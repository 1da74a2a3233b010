// The one raiser of language errors, set by the core before anything runs.
#include "runtime/raise.hpp"

#include <cstdio>
#include <cstdlib>

namespace kel {

static ErrorRaiser raiser = nullptr;

void error_raiser_set(ErrorRaiser r) { raiser = r; }

[[noreturn]] void error_raise(ErrorCategory category, uint16_t id, const Cell* arg1,
                              const Cell* arg2, const Cell* arg3) {
    if (raiser) raiser(category, id, arg1, arg2, arg3);
    // Without a raiser there is no catcher to reach: the process ends.
    std::fprintf(stderr, "*** language error %d raised with no raiser set\n", int(category) * 100 + id);
    std::abort();
}

} // namespace kel
