// The external-handle table: operating-system resources that values hold
// (bitmaps, fonts, foreign objects) each get a record here, and values keep
// the record's index. The collector marks the records it reaches and then
// sweeps: every unmarked record's data is released through its class.
#pragma once
#include <cstdint>

namespace kel {

// Releases one resource of a class.
using ExternalReleaseFn = void (*)(void* data);

constexpr uint32_t EXTERNAL_CLASS_MAX = 20;       // classes the table can hold
constexpr uint32_t EXTERNAL_HANDLES_FIRST = 1000; // records of a new table
constexpr uint32_t HANDLE_CLASS_MASK = 0xFF;      // class id in the class word
constexpr uint32_t HANDLE_MARK = 0x80000000;      // collector mark in the class word
constexpr uint32_t HANDLE_FREE = 0x40000000;      // class word of a free record
constexpr uint32_t HANDLE_NONE = 0xFFFFFFFF;      // index that ends a list

// One record. A used record is on the used list, a free one on the free list.
struct ExternalHandle {
    uint32_t class_word;  // class id in bits 0-7, HANDLE_MARK; HANDLE_FREE when free
    uint32_t next;        // index of the next record on the same list, HANDLE_NONE at the end
    void* data;           // the resource
};

// A class table with no class and EXTERNAL_HANDLES_FIRST free records; a
// table made before is released first (its data is not). Registers
// external_handles_sweep as a sweep hook of the collector.
void external_handles_init();
// Appends a class and returns its id (position + 1). A class past
// EXTERNAL_CLASS_MAX raises internal error limit-hit.
uint32_t external_class_register(const char* name, ExternalReleaseFn release);
// Takes a free record for the data (doubling the table when none is free) and
// returns its index.
uint32_t external_handle_new(void* data, uint32_t class_word);
// Releases data through the class of the class word, when it has a release function.
void external_handle_release_data(uint32_t class_word, void* data);
// Stores new data; the old data is released when it differs from the new.
void external_handle_replace(uint32_t index, void* data);
// Returns a record to the free list, releasing its data first when asked.
void external_handle_remove(uint32_t index, bool release);
// Sets the collector mark; non-null data replaces the stored data without
// releasing it. True when the record was not marked before.
bool external_handle_mark(uint32_t index, void* data);
// Calls the callback with the data of every used record of the class.
void external_handle_each(uint32_t class_id, void (*callback)(void* data));
// Collector step after marking: marked records lose their mark and stay;
// unmarked ones are released through their class and freed.
void external_handles_sweep();

// The record at an index, or nullptr outside the table. Valid until the next
// external_handle_new.
const ExternalHandle* external_handle_at(uint32_t index);
// Records in the table, used and free.
uint32_t external_handles_capacity();

} // namespace kel
