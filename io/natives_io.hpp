// The natives of the io layer: list-env lists the environment, call and
// browse run processes, compress and decompress run the codecs of
// io/compression. Each checks and unpacks its
// arguments, hands them to its back end and shapes the result (calling
// convention of core/natives_table.hpp).
#pragma once
#include "core/natives_table.hpp"
#include <cstdint>

namespace kel {

ExitCode native_list_env(bool check, const int32_t* refinements);
// refinements: /wait /show /console /shell /input /output /error.
ExitCode native_call(bool check, const int32_t* refinements);
ExitCode native_browse(bool check, const int32_t* refinements);
ExitCode native_compress(bool check, const int32_t* refinements);
// refinements[0]: /size.
ExitCode native_decompress(bool check, const int32_t* refinements);

// Adds the table of these natives to those natives_init fills the natives
// table from; runs before it.
void io_natives_register();

} // namespace kel
