// Releases what one fuzz input made before the next one runs. The runtime
// lives across inputs; the series an input made are garbage afterwards, and
// those held on the C++ heap (the fixed buffers of contexts and maps, a word
// table grown past its buckets) stay allocated until a collection. libFuzzer
// counts an input that leaves more heap blocks than it found as a possible
// leak and, after many such inputs that hold no real leak, switches its
// per-input leak check off. A collection is only run when the input left
// heap blocks behind, as one over the whole library costs more than most
// inputs.
#pragma once
#include "runtime/collector.hpp"
#include "runtime/heap.hpp"

#include <cstddef>

namespace fuzz {

class InputRelease {
public:
    InputRelease() : blocks_(kel::heap_block_count()) {}
    ~InputRelease() {
        if (kel::heap_block_count() > blocks_) kel::collector_cycle();
    }
    InputRelease(const InputRelease&) = delete;
    InputRelease& operator=(const InputRelease&) = delete;

private:
    size_t blocks_;
};

} // namespace fuzz
