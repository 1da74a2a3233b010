#include "io/routines.hpp"

#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "datatypes/file.hpp"
#include "io/cache.hpp"
#include "io/cmdline.hpp"
#include "io/csv.hpp"
#include "io/files.hpp"
#include "io/image_files.hpp"
#include "io/json.hpp"
#include "io/kelbin/decoder.hpp"
#include "io/kelbin/encoder.hpp"
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

// ---- the table ----------------------------------------------------------------------------------

// The routines of io/: these files' own, and those of the library cache and
// the Kelbin, image, JSON and CSV codecs.
const RoutineDef IO_ROUTINES[] = {
    {"quit-return", "status [integer!]", routine_quit_return, 0, nullptr},
    {"cache-make-dir", "path [file!]", routine_cache_make_dir, 0, nullptr},
    {"cache-write", "path [file!] data [binary! string!]", routine_cache_write, 0, nullptr},
    {"get-current-dir", "", routine_get_current_dir, 0, nullptr},
    {"set-current-dir", "path [file!]", routine_set_current_dir, 0, nullptr},
    {"create-dir", "path [file!]", routine_create_dir, 0, nullptr},
    {"exists?", "path [file!]", routine_exists_q, 0, nullptr},
    {"os-info", "", routine_os_info, 0, nullptr},
    {"write-stdout", "data [any-type!]", routine_write_stdout, 0, nullptr},
    // Picked up into system/codecs/kelbin by library/codecs.kel; their words are then unset.
    {"kelbin-encode*", "data [any-type!] compact? [logic!]", routine_kelbin_encode_star, 0, nullptr},
    {"kelbin-decode", "payload [any-type!]", routine_kelbin_decode, 0, nullptr},
    // Picked up into the image codecs of system/codecs by library/image-codecs.kel.
    {"image-decode", "data [any-type!]", routine_image_decode, 0, nullptr},
    {"image-encode-bmp", "img [image!] where [any-type!]", routine_image_encode_bmp, 0, nullptr},
    {"image-encode-png", "img [image!] where [any-type!]", routine_image_encode_png, 0, nullptr},
    {"image-encode-gif", "img [image!] where [any-type!]", routine_image_encode_gif, 0, nullptr},
    {"image-encode-jpeg", "img [image!] where [any-type!]", routine_image_encode_jpeg, 0, nullptr},
    {"image-encode-tiff", "img [image!] where [any-type!]", routine_image_encode_tiff, 0, nullptr},
    {"json-unescape", "str [string!]", routine_json_unescape, 0, nullptr},
    {"json-decode", "text [string!]", routine_json_decode, 0, nullptr},
    {"json-encode", "data [any-type!] indent [string! none!] ascii [logic! none!]",
     routine_json_encode, 0, nullptr},
    {"csv-decode",
     "data [string!] delimiter [char! string!] qt [char!] trim [logic! none!] header [logic! none!] "
     "as-columns [logic! none!] as-records [logic! none!] flat [logic! none!]",
     routine_csv_decode, 0, nullptr},
    {"csv-encode", "data [block! map! object!] delimiter [char! string!] size [integer! none!] qt [char!]",
     routine_csv_encode, 0, nullptr},
};
const uint32_t IO_ROUTINE_COUNT = sizeof IO_ROUTINES / sizeof IO_ROUTINES[0];

} // namespace kel
