// The Kelbin decoder: turns a Kelbin stream (io/kelbin/format.hpp) into values
// appended to a target block. It serves two callers: the boot-data load, which
// decodes trusted data into the root block (boot mode), and the codec's decode
// routine, which decodes outside input (codec mode). In codec mode every count,
// length, index, symbol reference and path is checked against the stream and
// the tables; a bad stream raises script error kb-invalid-record with the
// offset of the failing read position from the data start, plus 1. Cells
// appended before a failure stay in the target block.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// True while (and after) the codec decodes or encodes; false for the boot
// load. It keeps its last value between calls.
extern bool kelbin_codec_q;

// Decodes the stream at data and appends its values to the target block (a
// cell on the data stack or in a root). length is the byte count, or negative
// when the stream has no known end (trusted boot data only). Returns the index
// in the target of the first cell this decoding appended. code_flags are
// series flags that every block, paren and path the stream holds takes as it
// is made (the library's load flags its code so, without a walk after).
uint32_t kelbin_decode(const uint8_t* data, Cell* target, bool codec, int64_t length,
                       uint32_t code_flags = 0);

// Decodes the boot data into the root block in boot mode, with automatic
// collection off. Returns the root-block index of the first decoded cell,
// which is also recorded as kelbin_first_new unless keep is set.
uint32_t kelbin_boot_load(const uint8_t* data, bool keep);
extern uint32_t kelbin_first_new;

// The codec's decode routine: payload (a binary!, or a file! or url! read
// whole as binary) -> the decoded value, or a block when the stream holds
// other than exactly one value.
void routine_kelbin_decode();

} // namespace kel
