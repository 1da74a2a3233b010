#include "runtime/output_hooks.hpp"
#include "runtime/heap.hpp"

#include <cstring>

namespace kel {

// Entries are stored as a generic function pointer and cast back to their own
// type at the call; the list code is the same for both kinds.
using AnyHook = void (*)();

// An array from the general-purpose heap; count <= capacity; null until the
// first allocation.
struct HookList {
    AnyHook* entries = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
};

constexpr uint32_t HOOKS_START_CAPACITY = 5;
constexpr uint32_t HOOKS_GROWTH = 5;

static HookList value_hooks;
static HookList text_hooks;

static void hook_list_allocate(HookList& list) {
    list.entries = static_cast<AnyHook*>(heap_alloc(HOOKS_START_CAPACITY * sizeof(AnyHook)));
    list.count = 0;
    list.capacity = HOOKS_START_CAPACITY;
}

void output_hooks_init() {
    hook_list_allocate(value_hooks);
    hook_list_allocate(text_hooks);
}

static void hook_list_append(HookList& list, AnyHook hook) {
    if (!list.entries) hook_list_allocate(list);
    if (list.count == list.capacity) {
        uint32_t capacity = list.capacity + HOOKS_GROWTH;
        auto* entries = static_cast<AnyHook*>(heap_alloc(capacity * sizeof(AnyHook)));
        std::memcpy(entries, list.entries, list.count * sizeof(AnyHook));
        heap_free(list.entries);
        list.entries = entries;
        list.capacity = capacity;
    }
    list.entries[list.count++] = hook;
}

void output_hooks_add(ValueHook value_hook, TextHook text_hook) {
    if (value_hook) hook_list_append(value_hooks, reinterpret_cast<AnyHook>(value_hook));
    if (text_hook) hook_list_append(text_hooks, reinterpret_cast<AnyHook>(text_hook));
}

void value_hooks_notify(const Cell* value, bool newline) {
    for (uint32_t i = 0; i < value_hooks.count; i++)
        reinterpret_cast<ValueHook>(value_hooks.entries[i])(value, newline);
}

void text_hooks_notify(const char* text, size_t len, bool newline) {
    for (uint32_t i = 0; i < text_hooks.count; i++)
        reinterpret_cast<TextHook>(text_hooks.entries[i])(text, len, newline);
}

uint32_t value_hooks_capacity() { return value_hooks.capacity; }
uint32_t text_hooks_capacity() { return text_hooks.capacity; }

} // namespace kel
