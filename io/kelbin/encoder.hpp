// The Kelbin encoder: serialises one value, with everything it reaches, into
// a new binary! holding a Kelbin stream (io/kelbin/format.hpp). Each series,
// context, object and function is written once; a value met again that
// shares one of them is written as a reference: a path of cell indexes to
// the value that carried it first. A value that reaches itself (a block
// holding itself) is therefore finite in the stream.
//
// The walk allocates nothing in the series frames (its buffers live on the
// C++ heap), so no collection runs while it holds node ids; only the result
// binary is allocated, at the end.
#pragma once
#include "runtime/cell.hpp"

namespace kel {

// The compact stream of the value, pushed as a new binary! at index 0.
// routine!, event!, handle!, triple!, port! and image! values (and operators
// of routines) raise access error no-codec with the value.
Cell* kelbin_encode_cp(const Cell* value);
// The fixed-width stream of the value, pushed as a new binary!.
Cell* kelbin_encode(const Cell* value);

// The codec's encode* routine: data, compact? -> the compact stream when
// compact? is true, else the fixed-width one.
void routine_kelbin_encode_star();

} // namespace kel
