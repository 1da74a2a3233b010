#include "runtime/handles.hpp"
#include "runtime/heap.hpp"
#include "runtime/collector.hpp"
#include "runtime/raise.hpp"

namespace kel {

// One class: its name and the function that releases its resources (or none).
struct ExternalClass {
    const char* name;
    ExternalReleaseFn release;
};

static ExternalClass* classes = nullptr;      // EXTERNAL_CLASS_MAX entries
static uint32_t class_count = 0;
static ExternalHandle* records = nullptr;     // capacity records
static uint32_t capacity = 0;
static uint32_t free_head = HANDLE_NONE;
static uint32_t used_head = HANDLE_NONE;

// Chains records first..capacity-1 free in order, ahead of the list `rest`.
static void handles_chain_free(uint32_t first, uint32_t rest) {
    for (uint32_t i = first; i < capacity; i++) {
        records[i].class_word = HANDLE_FREE;
        records[i].data = nullptr;
        records[i].next = i + 1 < capacity ? i + 1 : rest;
    }
}

void external_handles_init() {
    heap_free(classes);
    heap_free(records);
    classes = static_cast<ExternalClass*>(heap_alloc_zeroed(EXTERNAL_CLASS_MAX * sizeof(ExternalClass)));
    class_count = 0;
    capacity = EXTERNAL_HANDLES_FIRST;
    records = static_cast<ExternalHandle*>(heap_alloc(capacity * sizeof(ExternalHandle)));
    handles_chain_free(0, HANDLE_NONE);
    free_head = 0;
    used_head = HANDLE_NONE;
    collector_remove_sweep(external_handles_sweep);
    collector_add_sweep(external_handles_sweep);
}

uint32_t external_class_register(const char* name, ExternalReleaseFn release) {
    if (class_count >= EXTERNAL_CLASS_MAX) error_raise(ERR_LIMIT_HIT);
    classes[class_count] = {name, release};
    return ++class_count;
}

// Doubles the table, keeping its records; the new half becomes the free list.
// Called only when no record is free.
static void handles_grow() {
    if (capacity > UINT32_MAX / (2 * sizeof(ExternalHandle)))
        error_raise(ERR_NO_MEMORY);
    uint32_t old = capacity;
    records = static_cast<ExternalHandle*>(heap_resize(records, size_t(2) * old * sizeof(ExternalHandle)));
    capacity = 2 * old;
    handles_chain_free(old, HANDLE_NONE);
    free_head = old;
}

uint32_t external_handle_new(void* data, uint32_t class_word) {
    if (free_head == HANDLE_NONE) handles_grow();
    uint32_t index = free_head;
    ExternalHandle* record = &records[index];
    free_head = record->next;
    record->class_word = class_word & HANDLE_CLASS_MASK;
    record->data = data;
    record->next = used_head;
    used_head = index;
    return index;
}

void external_handle_release_data(uint32_t class_word, void* data) {
    uint32_t id = class_word & HANDLE_CLASS_MASK;
    if (id >= 1 && id <= class_count && classes[id - 1].release != nullptr)
        classes[id - 1].release(data);
}

// The used record at an index, or nullptr for an index outside the table or a
// free record, which no value can rightly hold.
static ExternalHandle* handle_used(uint32_t index) {
    if (index >= capacity || records[index].class_word == HANDLE_FREE) return nullptr;
    return &records[index];
}

void external_handle_replace(uint32_t index, void* data) {
    ExternalHandle* record = handle_used(index);
    if (record == nullptr) return;
    void* old = record->data;
    record->data = data;
    if (old != data) external_handle_release_data(record->class_word, old);
}

// Takes a record off the used list; prev is the record before it or HANDLE_NONE.
static void handles_unlink(uint32_t index, uint32_t prev) {
    if (prev == HANDLE_NONE) used_head = records[index].next;
    else records[prev].next = records[index].next;
}

static void handles_free(uint32_t index) {
    records[index].class_word = HANDLE_FREE;
    records[index].data = nullptr;
    records[index].next = free_head;
    free_head = index;
}

void external_handle_remove(uint32_t index, bool release) {
    ExternalHandle* record = handle_used(index);
    if (record == nullptr) return;
    uint32_t prev = HANDLE_NONE;
    for (uint32_t i = used_head; i != index; i = records[i].next) {
        if (i == HANDLE_NONE) return;
        prev = i;
    }
    if (release) external_handle_release_data(record->class_word, record->data);
    handles_unlink(index, prev);
    handles_free(index);
}

bool external_handle_mark(uint32_t index, void* data) {
    ExternalHandle* record = handle_used(index);
    if (record == nullptr) return false;
    if (data != nullptr) record->data = data;
    bool fresh = (record->class_word & HANDLE_MARK) == 0;
    record->class_word |= HANDLE_MARK;
    return fresh;
}

void external_handle_each(uint32_t class_id, void (*callback)(void* data)) {
    // The next index is read first: the callback may remove its own record.
    for (uint32_t i = used_head; i != HANDLE_NONE;) {
        uint32_t next = records[i].next;
        if ((records[i].class_word & HANDLE_CLASS_MASK) == class_id) callback(records[i].data);
        i = next;
    }
}

void external_handles_sweep() {
    uint32_t prev = HANDLE_NONE;
    uint32_t i = used_head;
    while (i != HANDLE_NONE) {
        uint32_t next = records[i].next;
        if (records[i].class_word & HANDLE_MARK) {
            records[i].class_word &= ~HANDLE_MARK;
            prev = i;
        } else {
            external_handle_release_data(records[i].class_word, records[i].data);
            handles_unlink(i, prev);
            handles_free(i);
        }
        i = next;
    }
}

const ExternalHandle* external_handle_at(uint32_t index) {
    return index < capacity ? &records[index] : nullptr;
}

uint32_t external_handles_capacity() { return capacity; }

} // namespace kel
