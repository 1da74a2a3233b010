#include "io/routines.hpp"

#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "datatypes/file.hpp"
#include "io/cmdline.hpp"
#include "io/files.hpp"
#include "runtime/collector.hpp"
#include "runtime/platform/os.hpp"
#include "runtime/platform/platform.hpp"

#include <string>

namespace kel {

// The path argument of a routine, which must name a file.
static const Cell* routine_path_arg() {
    const Cell* path = data_stack.args;
    if (!string_family_q(cell_type(path))) error_raise(ERR_INVALID_ARG, path);
    return path;
}

void routine_quit_return() {
    const Cell* status = data_stack.args;
    if (cell_type(status) != T_INTEGER) error_raise(ERR_INVALID_ARG, status);
    process_exit(cell_int(status));
}

void routine_get_current_dir() {
    Cell* dir = file_current_dir();
    cell_type_set(dir, T_FILE);
    stack_set_last_reset(dir);
}

void routine_set_current_dir() {
    const Cell* path = routine_path_arg();
    std::string local;
    if (!file_to_local(path, &local) || !current_dir_set(local.c_str()))
        error_raise(ERR_CANNOT_OPEN, path);
    unset_make_at(stack_box_new(T_UNSET));
}

void routine_create_dir() {
    const Cell* path = routine_path_arg();
    if (!file_make_dir(path)) error_raise(ERR_NO_CREATE, path);
    unset_make_at(stack_box_new(T_UNSET));
}

void routine_exists_q() {
    bool found = file_exists_q(routine_path_arg());
    logic_make_at(stack_box_new(T_LOGIC), found);
}

void routine_os_info() {
    CellRoot info;
    platform_os_info(&info.cell);
    stack_set_last_reset(&info.cell);
}

void routine_write_stdout() {
    file_write_any(nullptr, data_stack.args, nullptr, nullptr, false, false);
    unset_make_at(stack_box_new(T_UNSET));
}

} // namespace kel
