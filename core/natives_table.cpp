// The natives table and its fill counter.
#include "core/natives_table.hpp"
#include "core/error.hpp"

namespace kel {

static NativeFn natives_table[NATIVES_TABLE_SLOTS + 1];  // slot 0 unused
static uint32_t natives_fill = 1;
int8_t native_comparisons[NATIVES_TABLE_SLOTS + 1];
uint8_t native_roles[NATIVES_TABLE_SLOTS + 1];
static RoutineRunner routine_runner = nullptr;

void natives_table_init() {
    for (NativeFn& entry : natives_table) entry = nullptr;
    for (int8_t& comparison : native_comparisons) comparison = -1;
    for (uint8_t& role : native_roles) role = NATIVE_ROLE_NONE;
    natives_fill = 1;
}

uint32_t native_register(NativeFn entry) {
    if (natives_fill > NATIVES_TABLE_SLOTS) error_raise(ERR_LIMIT_HIT);
    natives_table[natives_fill] = entry;
    native_comparisons[natives_fill] = -1;
    native_roles[natives_fill] = NATIVE_ROLE_NONE;
    return natives_fill++;
}

void native_register_at(uint32_t index, NativeFn entry) {
    if (index < 1 || index > NATIVES_TABLE_SLOTS) error_raise(ERR_LIMIT_HIT);
    natives_table[index] = entry;
    native_comparisons[index] = -1;
    native_roles[index] = NATIVE_ROLE_NONE;
    if (index >= natives_fill) natives_fill = index + 1;
}

void native_comparison_tag(uint32_t index, int32_t comparison) {
    if (index < 1 || index > NATIVES_TABLE_SLOTS) error_raise(ERR_LIMIT_HIT);
    native_comparisons[index] = int8_t(comparison);
}

void native_role_tag(uint32_t index, NativeRole role) {
    if (index < 1 || index > NATIVES_TABLE_SLOTS) error_raise(ERR_LIMIT_HIT);
    native_roles[index] = role;
}

NativeFn native_entry(uint32_t index) {
    return index >= 1 && index <= NATIVES_TABLE_SLOTS ? natives_table[index] : nullptr;
}

void routine_runner_set(RoutineRunner runner) { routine_runner = runner; }

void routine_run(const Cell* routine) {
    if (!routine_runner) error_raise(ERR_ROUTINES);
    routine_runner(routine);
}

static RoutineTypeTested routine_type_tester = nullptr;

void routine_type_tested_set(RoutineTypeTested tested) { routine_type_tester = tested; }

uint8_t routine_type_tested(const Cell* routine) {
    return routine_type_tester ? routine_type_tester(routine) : 0;
}

} // namespace kel
