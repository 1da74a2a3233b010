// The routines of the Kelbin codec object in system/codecs: encode* (the
// stream of a value in the variant the codec's compact? field chooses) and
// decode (the value of a stream held in a binary!, a file or a URL).
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "io/kelbin/decoder.hpp"
#include "io/kelbin/encoder.hpp"
#include "runtime/memory.hpp"

namespace kel {

// Streams of this many bytes or fewer hold no value.
constexpr uint32_t KELBIN_SMALLEST_STREAM = 10;

void routine_kelbin_encode_star() {
    const Cell* compact = data_stack.args + 1;
    bool compact_q = cell_type(compact) == T_LOGIC && logic_get(compact);
    Cell* result = compact_q ? kelbin_encode_cp(data_stack.args) : kelbin_encode(data_stack.args);
    stack_set_last_reset(result);
}

void routine_kelbin_decode() {
    Cell* payload = data_stack.args;
    uint8_t type = cell_type(payload);
    if (type == T_FILE || type == T_URL) {
        auto read = action_slot_as<ReadFn>(type, A_READ);
        if (!read) error_raise(ERR_INVALID_DATA, payload);
        Cell* source = stack_push(payload);
        read(source, nullptr, nullptr, true, false, false, nullptr);
        cell_copy(source, payload);
        stack_keep();
        type = cell_type(payload);
    }
    if (type != T_BINARY) error_raise(ERR_INVALID_DATA, payload);
    uint32_t head = series_index_clamped(payload);
    uint32_t length = series_buffer_of(payload)->length() - head;
    if (length <= KELBIN_SMALLEST_STREAM) error_raise(ERR_INVALID_DATA, payload);
    Cell* block = block_push_only(1);
    kelbin_decode(series_buffer_of(payload)->head_ptr() + head, block, true, length);
    uint32_t count = series_buffer_of(block)->length();
    if (count == 1) stack_set_last_reset(block_ks_abs_at(block, 0));
    else stack_set_last_reset(block);
}

} // namespace kel
