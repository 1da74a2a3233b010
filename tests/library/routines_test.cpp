// The routine registry's bounds: a table added again takes no room, and
// tables past the registry's room are refused with internal error limit-hit
// rather than written past it. Run in a child process, as the registry is
// filled once per process.
#include "library/routines.hpp"
#include "core/error.hpp"
#include "program/start.hpp"

#include <gtest/gtest.h>
#include <cstdlib>
#include <vector>

namespace kel::testing {
namespace {

TEST(RoutineRegistryDeathTest, TablesPastTheRoomAreRefused) {
    EXPECT_EXIT(
        {
            runtime_init();
            std::vector<RoutineDef> big(200, RoutineDef{"r", "", nullptr, T_NONE, nullptr});
            std::vector<RoutineDef> more(100, RoutineDef{"s", "", nullptr, T_NONE, nullptr});
            routines_table_add(big.data(), uint32_t(big.size()));
            routines_table_add(big.data(), uint32_t(big.size()));  // again: no room taken
            try {
                routines_table_add(more.data(), uint32_t(more.size()));
            } catch (const LanguageError& e) {
                std::_Exit(e.category == ErrorCategory::internal && e.id == ERR_LIMIT_HIT ? 0 : 3);
            }
            std::_Exit(2);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace kel::testing
