// The memory manager as start-up leaves it, for tests of the modules over it.
#pragma once
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace kel::testing {

// Fresh frames and collector counters, automatic collection off (torture mode
// stays as the environment asks); with_root_block also makes the root block.
inline void memory_fresh(bool with_root_block) {
    memory_release_all();
    memory_setup();
    node_frame_new(NODE_FRAME_CAPACITY);
    series_frame_new();
    collector_init();
    collector.enabled = false;
    if (with_root_block) root_block_new();
}

} // namespace kel::testing
