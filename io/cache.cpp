#include "io/cache.hpp"
#include "core/error.hpp"
#include "core/error_catalog.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/unicode.hpp"
#include "datatypes/file.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform/private_files.hpp"

#include <string>

namespace kel {

// The local name of the path argument; script error invalid-arg when it
// cannot be one (a NUL inside).
static std::string cache_path_arg() {
    std::string local;
    if (!file_to_local(data_stack.args, &local)) error_raise(ERR_INVALID_ARG, data_stack.args);
    return local;
}

void routine_cache_make_dir() {
    std::string local = cache_path_arg();
    if (!dir_make_private(local.c_str())) error_raise(ERR_NO_CREATE, data_stack.args);
    stack_set_last_reset(data_stack.args);
}

void routine_cache_write() {
    std::string local = cache_path_arg();
    Cell* data = data_stack.args + 1;
    std::string bytes;
    if (cell_type(data) == T_BINARY) {
        uint32_t from = series_index_clamped(data);
        SeriesBuffer* b = series_buffer_of(data);
        if (from < b->length())
            bytes.assign(reinterpret_cast<const char*>(b->head_ptr()) + from, b->length() - from);
    } else {
        bytes = string_utf8(data);
    }
    if (!file_write_replace(local.c_str(), bytes.data(), bytes.size()))
        error_raise(ERR_CANNOT_OPEN, data_stack.args);
    stack_set_last_reset(data_stack.args);
}

} // namespace kel
