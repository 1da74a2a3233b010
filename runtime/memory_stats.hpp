// Figures of the frames for the natives stats and recycle. Every figure is
// computed from counts with the sizes of the 32-bit layout (4 bytes a node,
// the frame headers of that layout), so it is the same on every host.
#pragma once
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

// Mode 1: returns the bytes in use: 4 per used node, the used bytes of every
// series frame and the size of every big frame.
// Mode 2: appends to the target block a block of node frames (one line of
// free, used, capacity each), a block of series frames (free, used and total
// bytes), a block of big frames (size), then the memory held and the
// general-purpose heap's bytes; returns 0. Numbers above 2,147,483,647 are
// appended as float!, the others as integer!.
// Automatic collection is off for the duration.
uint64_t memory_stats(Node target, int mode);

} // namespace kel
