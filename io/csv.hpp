// The CSV codec's native half: the row reader and the writer that load-csv
// and to-csv call. The codec written in Kel (library/csv.kel) is the
// reference they are tested against; for the shapes of data the writer does
// not take (records or columns that are not blocks) and for a header name
// that cannot be followed by another, the routines answer none and the
// library runs its own code instead.
#pragma once
#include "runtime/cell.hpp"

namespace kel {

// Routine csv-decode data delimiter qt trim header as-columns as-records flat:
// load-csv once its refinements are checked and defaulted.
void routine_csv_decode();

// Routine csv-encode data delimiter size qt: to-csv once its delimiter is
// defaulted; size is none without /skip.
void routine_csv_encode();

} // namespace kel
