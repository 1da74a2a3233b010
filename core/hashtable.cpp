// Hash tables: hashing, the five kinds of open-addressing index, their
// collector hooks, and the collector's intmap.
#include "core/hashtable.hpp"
#include "core/array.hpp"
#include "core/block.hpp"
#include "core/casefold.hpp"
#include "core/error.hpp"
#include "core/function.hpp"
#include "core/logic.hpp"
#include "core/object.hpp"
#include "core/registry.hpp"
#include "core/string.hpp"
#include "core/series.hpp"
#include "core/symbol.hpp"
#include "core/word.hpp"
#include "runtime/collector.hpp"
#include "runtime/heap.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kel {

// ---- hashing -------------------------------------------------------------------------------

// Any fixed value serves until the random generator's start-up replaces it.
static uint32_t run_seed = 0x9E3779B9;

void hash_seed_set(uint32_t seed) { run_seed = seed; }
uint32_t hash_seed() { return run_seed; }

static inline uint32_t rotl32(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

// One 32-bit block of MurmurHash3 x86-32 mixed into the running hash.
static inline uint32_t murmur_block(uint32_t h, uint32_t k) {
    k *= 0xCC9E2D51;
    k = rotl32(k, 15);
    k *= 0x1B873593;
    h ^= k;
    h = rotl32(h, 13);
    return h * 5 + 0xE6546B64;
}

uint32_t hash_int(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6B;
    h ^= h >> 13;
    h *= 0xC2B2AE35;
    h ^= h >> 16;
    return h;
}

uint32_t murmur3_32(const void* data, size_t length, uint32_t seed) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t h = seed;
    size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; i++) {
        uint32_t k;
        std::memcpy(&k, p + i * 4, 4);  // little-endian host: the reference's block order
        h = murmur_block(h, k);
    }
    const uint8_t* tail = p + blocks * 4;
    uint32_t k = 0;
    switch (length & 3) {
    case 3: k ^= uint32_t(tail[2]) << 16; [[fallthrough]];
    case 2: k ^= uint32_t(tail[1]) << 8; [[fallthrough]];
    case 1:
        k ^= tail[0];
        k *= 0xCC9E2D51;
        k = rotl32(k, 15);
        k *= 0x1B873593;
        h ^= k;
    }
    h ^= uint32_t(length);
    return hash_int(h);
}

uint32_t murmur3_hash(const void* data, size_t length) { return murmur3_32(data, length, run_seed); }

// The element range of a series value from its position to the tail; an index
// below 0 counts as 0, one past the tail as the tail.
static void series_span(const Cell* value, const uint8_t** start, uint32_t* count) {
    SeriesBuffer* b = series_buffer_of(value);
    uint32_t length = b->length();
    int32_t index = series_index(value);
    uint32_t from = index < 0 ? 0 : std::min(uint32_t(index), length);
    *start = b->head_ptr() + (size_t(from) << b->shift());
    *count = length - from;
}

// Text is hashed by groups of up to four characters from the start, each
// folded first unless the hash is case-sensitive: a group whose characters
// are all below 256 is one 32-bit block of their bytes (the first character
// lowest), any other group one block per character. The rule reads only the
// folded code points, so the same text hashes alike in every unit; the
// length, mixed in at the end, tells the groups of texts of different
// lengths apart.
static inline uint32_t hash_group(uint32_t h, const uint32_t* c, uint32_t n) {
    uint32_t any = 0, packed = 0;
    for (uint32_t i = 0; i < n; i++) {
        any |= c[i];
        packed |= c[i] << (8 * i);
    }
    if (any < 256) return murmur_block(h, packed);
    for (uint32_t i = 0; i < n; i++) h = murmur_block(h, c[i]);
    return h;
}

// A group of one-byte text with a character that folds above 255 (none of
// today's Latin-1 mappings does; kept so that the rule holds whatever the
// table says).
[[gnu::cold, gnu::noinline]] static uint32_t hash_group_of(uint32_t h, uint32_t c0, uint32_t c1,
                                                           uint32_t c2, uint32_t c3, uint32_t n) {
    uint32_t c[4] = {c0, c1, c2, c3};
    return hash_group(h, c, n);
}

// One-byte text: a group's characters are read and folded through the
// dense Latin-1 table in line.
template <bool Fold>
[[gnu::always_inline]] static inline uint32_t hash_bytes(uint32_t h, const uint8_t* p, uint32_t count) {
    auto fold = [](uint8_t c) { return Fold ? case_lower_latin1[c] : uint32_t(c); };
    uint32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        uint32_t c0 = fold(p[i]), c1 = fold(p[i + 1]), c2 = fold(p[i + 2]), c3 = fold(p[i + 3]);
        if (Fold && (c0 | c1 | c2 | c3) > 255) h = hash_group_of(h, c0, c1, c2, c3, 4);
        else h = murmur_block(h, c0 | c1 << 8 | c2 << 16 | c3 << 24);
    }
    uint32_t rest = count - i;
    if (rest == 0) return h;
    uint32_t c0 = fold(p[i]), c1 = rest > 1 ? fold(p[i + 1]) : 0, c2 = rest > 2 ? fold(p[i + 2]) : 0;
    if (Fold && (c0 | c1 | c2) > 255) return hash_group_of(h, c0, c1, c2, 0, rest);
    return murmur_block(h, c0 | c1 << 8 | c2 << 16);
}

// Text of two- or four-byte units.
template <typename Unit>
static uint32_t hash_units(uint32_t h, const uint8_t* p, uint32_t count, bool case_sensitive) {
    for (uint32_t i = 0; i < count; i += 4) {
        uint32_t n = std::min<uint32_t>(4, count - i);
        uint32_t c[4];
        for (uint32_t j = 0; j < n; j++) {
            Unit unit;
            std::memcpy(&unit, p + size_t(i + j) * sizeof(Unit), sizeof unit);
            c[j] = case_sensitive ? unit : change_char_case(unit, false);
        }
        h = hash_group(h, c, n);
    }
    return h;
}

// string_hash of the characters of a span.
[[gnu::always_inline]] static inline uint32_t text_hash(const TextSpan& text, bool case_sensitive) {
    uint32_t h = run_seed;
    switch (text.unit) {
    case 1:
        h = case_sensitive ? hash_bytes<false>(h, text.start, text.count)
                           : hash_bytes<true>(h, text.start, text.count);
        break;
    case 2: h = hash_units<uint16_t>(h, text.start, text.count, case_sensitive); break;
    default: h = hash_units<uint32_t>(h, text.start, text.count, case_sensitive); break;
    }
    h ^= text.count * 4;
    return hash_int(h);
}

uint32_t string_hash(const Cell* string, bool case_sensitive) {
    return text_hash(string_span(string), case_sensitive);
}

// Four name bytes with A-Z folded to a-z at once: a byte gains 0x20 when its
// low seven bits lie in 'A'..'Z' and its top bit is clear. Neither sum carries
// into the next byte, as a masked byte is at most 0x7F.
static inline uint32_t fold_ascii4(uint32_t x) {
    uint32_t low = x & 0x7F7F7F7Fu;
    uint32_t from_a = low + 0x3F3F3F3Fu;  // top bit set where the byte >= 'A'
    uint32_t past_z = low + 0x25252525u;  // top bit set where the byte > 'Z'
    return x | ((from_a & ~past_z & ~x & 0x80808080u) >> 2);
}

// The murmur hash of the name with A-Z folded, the folding done block by
// block so that no folded copy is made.
uint32_t symbol_name_hash(const uint8_t* name, uint32_t length) {
    uint32_t h = run_seed;
    uint32_t blocks = length / 4;
    for (uint32_t i = 0; i < blocks; i++) {
        uint32_t k;
        std::memcpy(&k, name + i * 4, 4);
        h = murmur_block(h, fold_ascii4(k));
    }
    uint32_t rest = length & 3;
    if (rest) {
        const uint8_t* tail = name + blocks * 4;
        uint32_t k = tail[0];
        if (rest > 1) k |= uint32_t(tail[1]) << 8;
        if (rest > 2) k |= uint32_t(tail[2]) << 16;
        k = fold_ascii4(k);
        k *= 0xCC9E2D51;
        k = rotl32(k, 15);
        k *= 0x1B873593;
        h ^= k;
    }
    h ^= length;
    return hash_int(h);
}

// Payload words a..b of a cell (1-based) as one byte range.
static uint32_t payload_hash(const Cell* c, int first, int last) {
    return murmur3_hash(cell_payload(c) + (first - 1) * 4, size_t(last - first + 1) * 4);
}

uint32_t hash_value(const Cell* key, bool case_sensitive) {
    switch (cell_type(key)) {
    case T_UNSET: return uint32_t(-2);
    case T_NONE: return uint32_t(-1);
    case T_DATATYPE:
        return hash_int(datatype_id(key));
    case T_LOGIC:
        return hash_int(logic_get(key) ? 1 : 0);
    case T_OBJECT: case T_ERROR: case T_PORT:
        return hash_int(object_context(key));
    case T_CHAR: case T_INTEGER:
        return hash_int(uint32_t(cell_int(key)));
    case T_MAP:
        return hash_int(series_node(key));
    case T_HANDLE: case T_EVENT:  // the handle's value, the event's serial
        return hash_int(key->w2);
    case T_NATIVE: case T_ACTION:
        return hash_int(function_more(key));
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: case T_ISSUE:
        return hash_int(symbol_resolve(word_symbol(key)));
    case T_SYMBOL: {
        SeriesBuffer* name = series_buffer(symbol_name_node(key));
        return symbol_name_hash(name->head_ptr(), name->tail - name->head);
    }
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
        return string_hash(key, case_sensitive);
    case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
    case T_HASH: case T_IMAGE: case T_POINT2D:
        return payload_hash(key, 1, 2);
    case T_FLOAT: case T_PERCENT: case T_TIME: {
        // 0.0 and -0.0 are equal and must hash alike.
        if (cell_double(key) == 0.0) {
            Cell zero = *key;
            cell_set_double(&zero, 0.0);
            return payload_hash(&zero, 2, 3);
        }
        return payload_hash(key, 2, 3);
    }
    case T_PAIR:
        return payload_hash(key, 2, 3);
    case T_OP: case T_FUNCTION: case T_TRIPLE: case T_TYPESET: case T_DATE: case T_POINT3D:
        return payload_hash(key, 1, 3);
    case T_TUPLE: {
        uint32_t length = std::min<uint32_t>((key->header >> 19) & 15, 12);
        return murmur3_hash(cell_payload(key), length);
    }
    case T_BINARY: {
        const uint8_t* p;
        uint32_t count;
        series_span(key, &p, &count);
        return murmur3_hash(p, count);
    }
    case T_MONEY: {
        // Flags other than the sign go; a zero amount has no sign.
        Cell m = *key;
        bool zero = (m.w1 >> 8) == 0 && m.w2 == 0 && m.w3 == 0;
        m.header = T_MONEY | (zero ? 0 : key->header & 0x4000);
        return murmur3_hash(&m, sizeof m);
    }
    default: return 0;
    }
}

// Keys whose hash comes from a node id: a table holding one is re-hashed
// after the next collection, since collections renumber nodes.
static bool hash_uses_node(uint8_t type) {
    switch (type) {
    case T_BLOCK: case T_PAREN: case T_NATIVE: case T_ACTION: case T_OP: case T_FUNCTION:
    case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: case T_OBJECT:
    case T_ERROR: case T_HASH: case T_MAP: case T_PORT: case T_IMAGE: case T_EVENT:
        return true;
    default: return false;
    }
}

bool hash_keys_equal(const Cell* a, const Cell* b, int32_t op) {
    if (cell_type(a) != cell_type(b)) return false;
    // Two integers are equal under every equality op exactly when their values are.
    if (cell_type(a) == T_INTEGER) return cell_int(a) == cell_int(b);
    if (auto compare = action_slot_as<CompareFn>(cell_type(a), A_COMPARE))
        return compare(a, b, op) == 0;
    return cell_payload_same(a, b);
}

// ---- buckets ---------------------------------------------------------------------------------

static inline uint32_t bucket_state(const uint32_t* flags, uint32_t i) {
    return (flags[i >> 4] >> ((i & 15) * 2)) & 3;
}
static inline void bucket_state_set(uint32_t* flags, uint32_t i, uint32_t state) {
    uint32_t shift = (i & 15) * 2;
    flags[i >> 4] = (flags[i >> 4] & ~(3u << shift)) | (state << shift);
}

static uint32_t next_pow2(uint32_t x) {
    uint32_t n = 1;
    while (n < x) n <<= 1;
    return n;
}

static uint32_t* table_flags(const HashTable* t) {
    return reinterpret_cast<uint32_t*>(series_buffer(t->flags)->data());
}
static uint32_t* table_keys(const HashTable* t) {
    return reinterpret_cast<uint32_t*>(series_buffer(t->keys)->data());
}
static Cell* table_cells(const HashTable* t) {
    return block_cells(t->data);
}
static uint32_t table_length(const HashTable* t) { return series_buffer(t->data)->length(); }

// Takes an empty or deleted bucket for a key word; counts it as used when it
// was empty. The caller counts the key.
static inline void bucket_take(HashTable* t, uint32_t bucket, uint32_t key) {
    uint32_t* flags = table_flags(t);
    if (bucket_state(flags, bucket) == BUCKET_EMPTY) t->used++;
    bucket_state_set(flags, bucket, BUCKET_USED);
    table_keys(t)[bucket] = key;
}

Node hashtable_node(const HashTable* table) {
    return (reinterpret_cast<const SeriesBuffer*>(table) - 1)->node;
}

// A buffer outside the frames of bytes bytes, every byte set to fill.
static Node fixed_bytes_new(uint32_t bytes, uint8_t fill) {
    Node node = series_new_fixed(bytes, 1, 0);
    SeriesBuffer* b = series_buffer(node);
    std::memset(b->data(), fill, b->size);
    b->tail = bytes;
    return node;
}

static uint32_t flags_bytes(uint32_t n) { return std::max<uint32_t>(n / 4, 4); }

// Flags all empty; keys untouched.
static void buckets_clear(HashTable* t) {
    std::memset(table_flags(t), 0xAA, flags_bytes(t->buckets));
    t->count = 0;
    t->used = 0;
}

// Fresh bucket arrays for n buckets (all empty); the threshold is left to the caller.
static void buckets_new(HashTable* t, uint32_t n) {
    NodeRoot flags(fixed_bytes_new(flags_bytes(n), 0xAA), ROOT_SERIES);
    Node keys = fixed_bytes_new(n * 4, 0);
    t->flags = flags.node;
    t->keys = keys;
    t->buckets = n;
    t->count = 0;
    t->used = 0;
}

// The bucket of probe k (counted from 0) given the previous one: probe 0 stays
// at the home bucket, probe k lies k buckets after probe k - 1.
static inline uint32_t probe_next(uint32_t bucket, uint32_t probe, uint32_t mask) {
    return (bucket + probe) & mask;
}

// A walk along a key's probe sequence: the bucket last visited (before the
// first step, the home bucket) and the steps taken.
struct ProbeWalk {
    uint32_t bucket;
    uint32_t probe;
};

// Every lookup and insert walks its buckets here. match(bucket) is asked about
// each bucket in use in turn; the walk ends at the first it accepts (the
// result), at an empty bucket or after a full turn (-1; an empty bucket also
// ends any later resumption). When free is given it receives the first deleted
// bucket passed, else the empty one that ended the walk (-1 when neither, and
// on a match). The walk is left after its last bucket, ready to resume.
template <typename Match>
static inline int64_t probe_walk(const uint32_t* flags, uint32_t buckets, ProbeWalk* walk,
                                 int64_t* free, Match match) {
    uint32_t mask = buckets - 1;
    uint32_t bucket = walk->bucket;
    int64_t deleted = -1;
    if (free) *free = -1;
    for (uint32_t probe = walk->probe; probe < buckets; probe++) {
        bucket = probe_next(bucket, probe, mask);
        uint32_t state = bucket_state(flags, bucket);
        if (state == BUCKET_EMPTY) {
            *walk = {bucket, buckets};
            if (free) *free = deleted >= 0 ? deleted : bucket;
            return -1;
        }
        if (state == BUCKET_DELETED) { if (deleted < 0) deleted = bucket; continue; }
        if (match(bucket)) {
            *walk = {bucket, probe + 1};
            return bucket;
        }
    }
    *walk = {bucket, buckets};
    if (free) *free = deleted;
    return -1;
}

// The walk of a hash from its home bucket.
template <typename Match>
static inline int64_t probe_find(const uint32_t* flags, uint32_t buckets, uint32_t hash,
                                 int64_t* free, Match match) {
    ProbeWalk walk{hash & (buckets - 1), 0};
    return probe_walk(flags, buckets, &walk, free, match);
}

// ---- held tables -------------------------------------------------------------------------------

static std::vector<Node*>& held_tables() {
    static auto* held = new std::vector<Node*>();
    return *held;
}

static void held_tables_mark() {
    for (Node* slot : held_tables()) hashtable_mark(slot);
}

HashTableRoot::HashTableRoot(Node n) : node(n) { held_tables().push_back(&node); }
HashTableRoot::~HashTableRoot() {
    std::vector<Node*>& held = held_tables();
    for (size_t i = held.size(); i-- > 0;)
        if (held[i] == &node) { held.erase(held.begin() + long(i)); break; }
}

// ---- kind 0: position index and chains -----------------------------------------------------------

constexpr uint32_t INDEX_NONE = 0xFFFFFFFF;

static uint32_t* index_entries(const HashTable* t) {
    return reinterpret_cast<uint32_t*>(series_buffer(t->index)->data());
}
static uint32_t index_capacity(const HashTable* t) { return series_buffer(t->index)->size / 4; }

// Room in the position index for the given position.
static void index_reserve(HashTable* t, uint32_t position) {
    uint32_t capacity = index_capacity(t);
    if (position < capacity) return;
    uint32_t wanted = std::max(capacity * 2, position + 1);
    Node grown = fixed_bytes_new(wanted * 4, 0xFF);
    std::memcpy(series_buffer(grown)->data(), index_entries(t), size_t(capacity) * 4);
    t->index = grown;
}

static uint32_t index_get(const HashTable* t, uint32_t position) {
    return position < index_capacity(t) ? index_entries(t)[position] : INDEX_NONE;
}

static Node chain_at(const HashTable* t, uint32_t chain) { return array_at(t->chains, chain); }
static uint32_t chain_first(const HashTable* t, uint32_t chain) {
    return array_at(chain_at(t, chain), 1);
}

// The position of the cell that stands for a bucket's key.
static uint32_t key_position(const HashTable* t, uint32_t key) {
    int32_t k = int32_t(key);
    return k >= 0 ? uint32_t(k) : chain_first(t, uint32_t(-k));
}

// Appends a chain node to a table's chain list. The entry is taken first and
// the node written after: taking it may collect, which renumbers nodes (the
// rooted one, not a copy of its number) and the list's entries with them.
static uint32_t chain_list_append(HashTable* t, const NodeRoot& chain) {
    array_append_ptr(t->chains, 0);
    uint32_t number = array_length(t->chains);
    array_poke(t->chains, number, chain.node);
    return number;
}

// Makes a chain of two positions, in ascending order, and returns its number.
static uint32_t chain_new(HashTable* t, uint32_t first, uint32_t second) {
    NodeRoot chain(series_new_units(4, 4), ROOT_SERIES);
    array_append_ptr(chain.node, std::min(first, second));
    array_append_ptr(chain.node, std::max(first, second));
    return chain_list_append(t, chain);
}

// A chain's positions are kept in ascending order, so that a find among many
// equal keys goes straight to the first candidate instead of walking them all.
static uint32_t* chain_positions(Node chain) {
    return reinterpret_cast<uint32_t*>(series_buffer(chain)->head_ptr());
}

// The 0-based offset in a chain of its first position at or above p.
static uint32_t chain_lower_bound(Node chain, uint32_t p) {
    const uint32_t* ps = chain_positions(chain);
    return uint32_t(std::lower_bound(ps, ps + array_length(chain), p) - ps);
}

// Adds a position to a chain, in its place. Growing the chain may collect and
// renumber nodes: the chain is found again through the table afterwards.
static void chain_add(const HashTable* t, uint32_t number, uint32_t position) {
    array_append_ptr(chain_at(t, number), position);
    Node chain = chain_at(t, number);
    uint32_t n = array_length(chain);
    uint32_t* ps = chain_positions(chain);
    if (n < 2 || ps[n - 2] < position) return;
    uint32_t at = uint32_t(std::upper_bound(ps, ps + n - 1, position) - ps);
    std::memmove(ps + at + 1, ps + at, size_t(n - 1 - at) * 4);
    ps[at] = position;
}

// Enters the cell at a position; the caller has checked the threshold and
// reserved the index.
static void block_insert(HashTable* t, uint32_t position) {
    Cell key = table_cells(t)[position];
    if (!t->stamp && hash_uses_node(cell_type(&key))) t->stamp = collector.series_cycles + 1;
    int64_t target;
    int64_t bucket = probe_find(table_flags(t), t->buckets, hash_value(&key, false), &target,
                                [&](uint32_t b) {
        const Cell* other = &table_cells(t)[key_position(t, table_keys(t)[b])];
        return cell_type(other) == cell_type(&key) && hash_keys_equal(&key, other, CMP_EQUAL);
    });
    if (bucket >= 0) {
        uint32_t stored = table_keys(t)[bucket];
        if (int32_t(stored) >= 0) {
            uint32_t chain = chain_new(t, stored, position);
            table_keys(t)[bucket] = uint32_t(-int32_t(chain));
        } else {
            chain_add(t, uint32_t(-int32_t(stored)), position);
        }
        index_entries(t)[position] = uint32_t(bucket) + 1;
        return;
    }
    if (target < 0) error_raise(ERR_LIMIT_HIT);  // unreachable below the threshold
    uint32_t b = uint32_t(target);
    bucket_take(t, b, position);
    t->count++;
    index_entries(t)[position] = b + 1;
}

// Empties a kind-0 table: no keys, no chains, no positions.
static void block_index_clear(HashTable* t) {
    buckets_clear(t);
    array_clear(t->chains);
    SeriesBuffer* index = series_buffer(t->index);
    std::memset(index->data(), 0xFF, index->size);
}

// ---- re-indexing ----------------------------------------------------------------------------------

// Byte offset of the entry after a given one in the entry storage.
static inline uint32_t entry_size(const HashTable* t) { return t->index; }
static Cell* entry_at(const HashTable* t, uint32_t offset) {
    return reinterpret_cast<Cell*>(series_buffer(t->data)->data() + offset);
}

// Places a key word into the first empty or deleted bucket of a hash.
static void bucket_place(HashTable* t, uint32_t hash, uint32_t key) {
    int64_t free;
    probe_find(table_flags(t), t->buckets, hash, &free, [](uint32_t) { return false; });
    if (free < 0) error_raise(ERR_LIMIT_HIT);  // unreachable below the threshold
    bucket_take(t, uint32_t(free), key);
}

static inline int64_t map_find(HashTable* t, const Cell* key, int32_t op, int64_t* free);

// Enters every key of the source again into the current (cleared) buckets:
// kinds 1 and 2 from the series, kinds 3 and 4 from the live entries.
// Allocates nothing.
static void keys_replace(HashTable* t) {
    if (t->kind == HASH_NODES || t->kind == HASH_NODES_PAIRED) {
        SeriesBuffer* storage = series_buffer(t->data);
        for (uint32_t offset = 0; offset < storage->tail; offset += entry_size(t)) {
            Cell* e = entry_at(t, offset);
            if (e->header != ENTRY_LIVE) continue;
            bucket_place(t, hash_int(hashtable_entry_key(e)), offset);
            t->count++;
        }
        return;
    }
    uint32_t length = table_length(t);
    if (t->kind != HASH_MAP) {
        for (uint32_t p = 0; p < length; p++) {
            bucket_place(t, hash_value(&table_cells(t)[p], false), p);
            t->count++;
        }
        return;
    }
    for (uint32_t p = 0; p < length; p += 2) {
        Cell key = table_cells(t)[p];
        int64_t free;
        if (map_find(t, &key, CMP_STRICT_EQUAL, &free) >= 0) continue;  // the first one stays
        // The walk stopped at the first bucket not in use: the key's place.
        if (free < 0) error_raise(ERR_LIMIT_HIT);  // unreachable below the threshold
        bucket_take(t, uint32_t(free), p);
        // A pair whose value was removed keeps its key in the index.
        if (p + 1 >= length || table_cells(t)[p + 1].header != 0) t->count++;
    }
}

// Bucket arrays for n buckets (kept when the count is unchanged) and every
// key entered again; kind 0 rebuilds its chains and position index.
static void table_reindex(HashTable* t, uint32_t n) {
    if (n != t->buckets) buckets_new(t, n);
    if (t->kind == HASH_BLOCK) {
        block_index_clear(t);
        uint32_t length = table_length(t);
        if (length) index_reserve(t, length - 1);
        for (uint32_t p = 0; p < table_length(t); p++) block_insert(t, p);
    } else {
        buckets_clear(t);
        keys_replace(t);
    }
}

// Collections inside a rebuild must not renumber the nodes the hashes are
// computed from; buffers may still move.
struct NodePassHold {
    bool saved = collector.node_pass;
    NodePassHold() { collector.node_pass = false; }
    ~NodePassHold() { collector.node_pass = saved; }
};

void hashtable_rebuild_any(HashTable* t, uint32_t size) {
    NodePassHold hold;
    uint32_t n;
    if (t->kind == HASH_BLOCK) {
        n = std::max<uint32_t>(4, next_pow2(uint32_t(size * HASH_REBUILD_GROWTH)));
        t->threshold = uint32_t(n * HASH_LOAD_FACTOR);
    } else {
        n = std::max<uint32_t>(4, next_pow2(size));
        t->threshold = uint32_t(n * HASH_LOAD_FACTOR + 0.5);
    }
    table_reindex(t, n);
    if (t->stamp) t->stamp = collector.series_cycles + 1;
}

void hashtable_resize(HashTable* t, uint32_t n) {
    if (t->kind == HASH_BLOCK) { hashtable_rebuild_any(t, n); return; }
    n = std::max<uint32_t>(4, next_pow2(n));
    // Kind 1 keeps the keys of removed pairs in its buckets.
    uint32_t keys_in_use = t->kind == HASH_MAP ? t->used : t->count;
    while (uint32_t(n * HASH_LOAD_FACTOR + 0.5) <= keys_in_use) n *= 2;
    t->threshold = uint32_t(n * HASH_LOAD_FACTOR + 0.5);
    NodePassHold hold;
    table_reindex(t, n);
    if (t->stamp) t->stamp = collector.series_cycles + 1;
}

void hashtable_rehash_stamped(HashTable* t) {
    if (t->stamp == collector.series_cycles + 1 || collector_active()) return;
    if (t->kind == HASH_BLOCK) {
        hashtable_rebuild_any(t, table_length(t));
    } else {
        buckets_clear(t);
        keys_replace(t);
        t->stamp = collector.series_cycles + 1;
    }
}

// Before an insert: grows (or cleans up at the same size) when used has
// reached the threshold. True when a kind-0 rebuild entered every cell.
static bool table_make_room(HashTable* t) {
    if (t->used < t->threshold) return false;
    uint32_t n = t->count * 2 < t->buckets ? t->buckets - 1 : t->buckets + 1;
    if (t->kind == HASH_BLOCK) {
        hashtable_rebuild_any(t, n);
        return true;
    }
    hashtable_resize(t, t->kind == HASH_MAP ? t->buckets + 1 : n);
    return false;
}

// ---- creation ------------------------------------------------------------------------------------

Node hashtable_init(Node series, uint32_t size, uint32_t kind, uint32_t value_cells) {
    NodeRoot source(series, ROOT_BLOCK);
    if (size < 4) size = 4;
    if (kind == HASH_WORDS && size >= HASH_SYMBOL_DOUBLING) size *= 2;
    uint32_t n = next_pow2(uint32_t(size / HASH_LOAD_FACTOR));

    HashTableRoot table(fixed_bytes_new(sizeof(HashTable), 0));
    HashTable* t = hashtable_record(table.node);
    t->kind = kind;
    buckets_new(t, n);
    t->threshold = uint32_t(n * HASH_LOAD_FACTOR);
    if (kind == HASH_BLOCK) {
        t->index = fixed_bytes_new(size * 4, 0xFF);
        t->chains = series_new_units(4, 4);
    }
    if (kind == HASH_NODES || kind == HASH_NODES_PAIRED) {
        t->index = 16 + 16 * value_cells;
        t->stamp = collector.series_cycles + 1;
        t->data = fixed_bytes_new(size * t->index, 0);
        series_buffer(t->data)->tail = 0;
        return table.node;
    }
    if (!source.node) {
        t->data = series_new_cells(size);
        return table.node;
    }
    t->data = source.node;
    if (kind == HASH_WORDS) keys_replace(t);  // every cell is a distinct name
    else hashtable_put_all(table.node, 0, kind == HASH_MAP ? 2 : 1);
    return table.node;
}

// A buffer outside the frames holding the same bytes as another.
static Node fixed_clone(Node node) {
    SeriesBuffer* from = series_buffer(node);
    Node clone = fixed_bytes_new(from->size, 0);
    SeriesBuffer* b = series_buffer(clone);
    from = series_buffer(node);
    std::memcpy(b->data(), from->data(), from->size);
    b->head = from->head;
    b->tail = from->tail;
    return clone;
}

Node hashtable_copy(Node table, Node series) {
    HashTableRoot original(table);
    NodeRoot target(series, ROOT_BLOCK);
    HashTableRoot copy(fixed_clone(original.node));
    HashTable* from = hashtable_record(original.node);
    HashTable* t = hashtable_record(copy.node);
    // Until its own arrays are in place the copy refers to nothing.
    t->flags = t->keys = t->data = 0;
    if (t->kind == HASH_BLOCK) t->index = t->chains = 0;
    t->flags = fixed_clone(from->flags);
    t->keys = fixed_clone(from->keys);
    if (t->kind == HASH_NODES || t->kind == HASH_NODES_PAIRED) {
        t->data = target.node ? target.node : fixed_clone(from->data);
        return copy.node;
    }
    if (t->kind == HASH_BLOCK) {
        t->index = fixed_clone(from->index);
        t->chains = series_new_units(std::max<uint32_t>(4, array_length(from->chains)), 4);
        for (uint32_t c = 1; c <= array_length(from->chains); c++) {
            NodeRoot chain(series_clone(chain_at(from, c)), ROOT_SERIES);
            chain_list_append(t, chain);
        }
    }
    t->data = target.node;
    return copy.node;
}

void hashtable_clear(Node table) {
    HashTable* t = hashtable_record(table);
    if (t->kind == HASH_BLOCK) { block_index_clear(t); return; }
    buckets_clear(t);
    if (t->kind == HASH_NODES || t->kind == HASH_NODES_PAIRED) series_buffer(t->data)->tail = 0;
}

// ---- kinds 0 and 1 ----------------------------------------------------------------------------------

// Whether n bytes at a and b, with sizeof(Word) <= n <= 2 sizeof(Word), are
// the same: the first and the last word, overlapping when n is short of two.
template <typename Word>
static inline bool word_ends_same(const uint8_t* a, const uint8_t* b, size_t n) {
    Word x0, y0, x1, y1;
    std::memcpy(&x0, a, sizeof(Word));
    std::memcpy(&y0, b, sizeof(Word));
    std::memcpy(&x1, a + n - sizeof(Word), sizeof(Word));
    std::memcpy(&y1, b + n - sizeof(Word), sizeof(Word));
    return ((x0 ^ y0) | (x1 ^ y1)) == 0;
}

// Whether n bytes at a and b are the same: short keys in a few word loads,
// long ones through memcmp.
static inline bool bytes_same(const uint8_t* a, const uint8_t* b, size_t n) {
    if (n > 16) return std::memcmp(a, b, n) == 0;
    if (n >= 8) return word_ends_same<uint64_t>(a, b, n);
    if (n >= 4) return word_ends_same<uint32_t>(a, b, n);
    if (n == 0) return true;
    // Bytes 0, n / 2 and n - 1 cover one to three bytes.
    return ((a[0] ^ b[0]) | (a[n >> 1] ^ b[n >> 1]) | (a[n - 1] ^ b[n - 1])) == 0;
}

// Whether n bytes of one-byte text at a and b fold alike: the comparison
// change_char_case makes, through the dense Latin-1 table.
static inline bool bytes_same_folded(const uint8_t* a, const uint8_t* b, uint32_t n) {
    for (uint32_t i = 0; i < n; i++)
        if (a[i] != b[i] && case_lower_latin1[a[i]] != case_lower_latin1[b[i]]) return false;
    return true;
}

// The type a map key is compared as: every word kind as a set-word.
static uint8_t map_key_type(uint8_t type) {
    return type == T_WORD || type == T_LIT_WORD || type == T_GET_WORD ? uint8_t(T_SET_WORD) : type;
}

// Kind 1 lookups of one key class each; see map_find.
static int64_t map_find_integer(HashTable* t, const Cell* key, int64_t* free) {
    // The flag and key arrays are fixed buffers: they stay put while keys
    // compare; comparing integers allocates nothing, so the storage stays put too.
    const uint32_t* keys = table_keys(t);
    const Cell* cells = table_cells(t);
    int32_t value = cell_int(key);
    return probe_find(table_flags(t), t->buckets, hash_int(uint32_t(value)), free, [&](uint32_t bucket) {
        const Cell* stored = &cells[keys[bucket]];
        return cell_type(stored) == T_INTEGER && cell_int(stored) == value;
    });
}

// Texts under equal? or strict-equal?: the key's characters are read once,
// and a stored key of another type or length is passed over before its
// characters are looked at. Nothing here allocates.
static int64_t map_find_text(HashTable* t, const Cell* key, bool strict, int64_t* free) {
    const uint32_t* keys = table_keys(t);
    const Cell* cells = table_cells(t);
    uint8_t type = cell_type(key);
    TextSpan text = string_span(key);
    return probe_find(table_flags(t), t->buckets, text_hash(text, false), free, [&](uint32_t bucket) {
        const Cell* stored = &cells[keys[bucket]];
        if (cell_type(stored) != type) return false;
        TextSpan other = string_span(stored);
        if (other.count != text.count) return false;
        if (other.unit == text.unit && bytes_same(other.start, text.start, size_t(text.count) * text.unit))
            return true;
        if (other.unit == text.unit) {
            if (strict) return false;
            // Other bytes of the same length, usually a neighbour in the
            // probe sequence: one-byte text is folded in line.
            if (text.unit == 1) return bytes_same_folded(other.start, text.start, text.count);
        }
        // Other units, or wide code units that may fold alike.
        return text_equal_q(text, other, strict);
    });
}

// Words of any kind (stored as set-words) under equal? or strict-equal?:
// the same symbol, or under equal? the same resolved symbol, compared in
// line. Nothing here allocates.
static int64_t map_find_word(HashTable* t, const Cell* key, bool strict, int64_t* free) {
    const uint32_t* keys = table_keys(t);
    const Cell* cells = table_cells(t);
    uint32_t symbol = word_symbol(key);
    uint32_t canonical = symbol_resolve(symbol);
    return probe_find(table_flags(t), t->buckets, hash_int(canonical), free, [&](uint32_t bucket) {
        const Cell* stored = &cells[keys[bucket]];
        if (map_key_type(cell_type(stored)) != T_SET_WORD) return false;
        uint32_t other = word_symbol(stored);
        return other == symbol || (!strict && symbol_resolve(other) == canonical);
    });
}

// Any other key, through its type's comparison.
static int64_t map_find_any(HashTable* t, const Cell* key, int32_t op, int64_t* free) {
    Cell probe_key = *key;
    cell_type_set(&probe_key, map_key_type(cell_type(key)));
    const uint32_t* keys = table_keys(t);
    return probe_find(table_flags(t), t->buckets, hash_value(key, false), free, [&](uint32_t bucket) {
        Cell stored = table_cells(t)[keys[bucket]];
        cell_type_set(&stored, map_key_type(cell_type(&stored)));
        return hash_keys_equal(&probe_key, &stored, op);
    });
}

// Kind 1: the bucket holding a key equal under op, or -1; *free receives the
// first deleted or the empty bucket where the walk stopped (-1 after a full
// turn). Integers, the common key, are equal under every op exactly when
// their values are; texts (through the text kernels) and words under equal?
// and strict-equal? are compared in line too.
static inline int64_t map_find(HashTable* t, const Cell* key, int32_t op, int64_t* free) {
    uint8_t type = cell_type(key);
    if (type == T_INTEGER) return map_find_integer(t, key, free);
    if (op == CMP_EQUAL || op == CMP_STRICT_EQUAL) {
        if (string_family_q(type)) return map_find_text(t, key, op == CMP_STRICT_EQUAL, free);
        if (map_key_type(type) == T_SET_WORD) return map_find_word(t, key, op == CMP_STRICT_EQUAL, free);
    }
    return map_find_any(t, key, op, free);
}

int32_t hashtable_put_cell(Node table, uint32_t position, int* status) {
    HashTable* t = hashtable_record(table);
    if (status) *status = HASH_PUT_DONE;
    if (t->kind == HASH_BLOCK) {
        index_reserve(t, position);
        hashtable_refresh(t);
        if (table_make_room(t)) {
            if (status) *status = HASH_PUT_REBUILT;
            return -1;
        }
        block_insert(t, position);
        return -1;
    }
    hashtable_refresh(t);
    table_make_room(t);
    Cell key = table_cells(t)[position];
    int64_t free;
    int64_t found = map_find(t, &key, CMP_STRICT_EQUAL, &free);
    if (found >= 0) {
        // A resize above has entered every key of the series, this one too.
        uint32_t stored = table_keys(t)[found];
        return stored == position ? -1 : int32_t(stored);
    }
    if (free < 0) error_raise(ERR_LIMIT_HIT);  // unreachable below the threshold
    bucket_take(t, uint32_t(free), position);
    t->count++;
    return -1;
}

// Kind 1, when the buckets have room for every pair: enters the pairs from
// start in one pass, each moving down over the pairs of repeated keys before
// it (whose values went to the first pair of their key), so the series is
// compacted once. Nothing here allocates or resizes, so no rehash reads the
// stale cells behind the pass.
static void map_put_all_compacting(HashTable* t, uint32_t start, HashKeyPrepare prepare) {
    SeriesBuffer* b = series_buffer(t->data);
    uint32_t length = b->length();
    uint32_t write = start;
    uint32_t p = start;
    for (; p + 1 < length; p += 2) {
        Cell* cells = table_cells(t);
        if (write != p) {
            cells[write] = cells[p];
            cells[write + 1] = cells[p + 1];
        }
        int32_t found = hashtable_put_cell(hashtable_node(t), write, nullptr);
        cells = table_cells(t);
        if (found < 0) {
            if (prepare) prepare(&cells[write]);
            write += 2;
        } else {
            // The first key keeps its place and takes the later value.
            cell_copy(&cells[write + 1], &cells[found + 1]);
        }
    }
    if (p < length) table_cells(t)[write++] = table_cells(t)[p];  // a key without a value stays last
    b = series_buffer(t->data);
    b->tail = b->head + write * uint32_t(sizeof(Cell));
}

void hashtable_put_all(Node table, uint32_t start, uint32_t step, HashKeyPrepare prepare) {
    HashTable* t = hashtable_record(table);
    if (step == 0) step = 1;
    if (t->kind != HASH_MAP) {
        for (uint32_t p = start; p < table_length(t); p += step) {
            int status;
            hashtable_put_cell(hashtable_node(t), p, &status);
            if (status == HASH_PUT_REBUILT) return;
        }
        return;
    }
    uint32_t length = table_length(t);
    if (length > start && t->used + (length - start) / 2 < t->threshold) {
        map_put_all_compacting(t, start, prepare);
        return;
    }
    for (uint32_t p = start; p + 1 < table_length(t);) {
        int32_t found = hashtable_put_cell(hashtable_node(t), p, nullptr);
        if (found < 0) {
            if (prepare) prepare(&table_cells(t)[p]);
            p += 2;
            continue;
        }
        // The first key keeps its place and takes the later value.
        SeriesBuffer* b = series_buffer(t->data);
        Cell* cells = table_cells(t);
        cell_copy(&cells[p + 1], &cells[found + 1]);
        uint32_t length = b->length();
        std::memmove(&cells[p], &cells[p + 2], size_t(length - p - 2) * sizeof(Cell));
        b->tail -= 2 * sizeof(Cell);
    }
}

// Kind 0: the bucket whose key is equal (op 0) to the given key, or -1.
static int64_t block_find(HashTable* t, const Cell* key) {
    return probe_find(table_flags(t), t->buckets, hash_value(key, false), nullptr, [&](uint32_t bucket) {
        const Cell* other = &table_cells(t)[key_position(t, table_keys(t)[bucket])];
        return cell_type(other) == cell_type(key) && hash_keys_equal(key, other, CMP_EQUAL);
    });
}

// Non-negative remainder.
static int64_t modulo(int64_t a, int64_t b) { int64_t r = a % b; return r < 0 ? r + b : r; }

int32_t hashtable_get(Node table, const Cell* key_cell, uint32_t start, uint32_t skip, int32_t op,
                      bool reverse, bool last) {
    HashTable* t = hashtable_record(table);
    hashtable_refresh(t);
    Cell key = *key_cell;
    if (t->kind != HASH_BLOCK) {
        int64_t free;
        int64_t found = map_find(t, &key, op, &free);
        return found < 0 ? -1 : int32_t(table_keys(t)[found]);
    }
    int64_t bucket = block_find(t, &key);
    if (bucket < 0) return -1;
    if (skip == 0) skip = 1;
    uint32_t stored = table_keys(t)[bucket];
    Node chain = int32_t(stored) < 0 ? chain_at(t, uint32_t(-int32_t(stored))) : 0;
    uint32_t count = chain ? array_length(chain) : 1;
    // The chain is ascending: a forward find takes the first candidate from
    // the lower bound of start up, a reverse one the first from below it down.
    uint32_t from = chain ? chain_lower_bound(chain, start) : stored < start ? 1 : 0;
    auto found = [&](uint32_t p) {
        bool aligned = reverse || last ? modulo(int64_t(start) - p - 1, skip) == 0
                                       : modulo(int64_t(p) - start, skip) == 0;
        return aligned && (op == CMP_EQUAL || hash_keys_equal(&key, &table_cells(t)[p], op));
    };
    if (reverse || last) {
        for (uint32_t i = last ? count : from; i > 0; i--) {
            uint32_t p = chain ? array_at(chain, i) : stored;
            if (found(p)) return int32_t(p);
        }
        return -1;
    }
    for (uint32_t i = from + 1; i <= count; i++) {
        uint32_t p = chain ? array_at(chain, i) : stored;
        if (found(p)) return int32_t(p);
    }
    return -1;
}

int32_t hashtable_map_lookup(Node table, const Cell* key, int32_t op, int64_t* bucket) {
    HashTable* t = hashtable_record(table);
    hashtable_refresh(t);
    int64_t found = map_find(t, key, op, bucket);
    if (found < 0) return -1;
    *bucket = -1;
    return int32_t(table_keys(t)[found]);
}

void hashtable_map_enter(Node table, uint32_t position, int64_t bucket) {
    HashTable* t = hashtable_record(table);
    if (bucket < 0 || t->used >= t->threshold) {
        hashtable_put_cell(table, position);
        return;
    }
    bucket_take(t, uint32_t(bucket), position);
    t->count++;
}

int32_t hashtable_find_next(Node table, const Cell* key_cell, HashCursor* cursor) {
    HashTable* t = hashtable_record(table);
    hashtable_refresh(t);
    Cell key = *key_cell;
    if (t->kind == HASH_BLOCK) {
        if (cursor->probe == 0) {
            int64_t bucket = block_find(t, &key);
            if (bucket < 0) return -1;
            cursor->bucket = uint32_t(bucket);
            cursor->probe = 1;
            cursor->chain = 1;
        }
        uint32_t stored = table_keys(t)[cursor->bucket];
        if (int32_t(stored) >= 0) return cursor->chain++ == 1 ? int32_t(stored) : -1;
        Node chain = chain_at(t, uint32_t(-int32_t(stored)));
        if (cursor->chain > array_length(chain)) return -1;
        return int32_t(array_at(chain, cursor->chain++));
    }
    cell_type_set(&key, map_key_type(cell_type(&key)));
    ProbeWalk walk{cursor->bucket, cursor->probe};
    if (walk.probe == 0) walk.bucket = hash_value(&key, false) & (t->buckets - 1);
    int64_t bucket = probe_walk(table_flags(t), t->buckets, &walk, nullptr, [&](uint32_t b) {
        Cell stored = table_cells(t)[table_keys(t)[b]];
        cell_type_set(&stored, map_key_type(cell_type(&stored)));
        return hash_keys_equal(&key, &stored, CMP_EQUAL);
    });
    cursor->bucket = walk.bucket;
    cursor->probe = walk.probe;
    return bucket < 0 ? -1 : int32_t(table_keys(t)[bucket]);
}

void hashtable_delete_cell(Node table, uint32_t position) {
    HashTable* t = hashtable_record(table);
    if (t->kind == HASH_MAP) {
        if (position + 1 >= table_length(t)) return;
        Cell* value = &table_cells(t)[position + 1];
        if (value->header != 0 && t->count) t->count--;
        value->header = 0;
        return;
    }
    if (t->kind != HASH_BLOCK) return;
    uint32_t entry = index_get(t, position);
    if (entry == INDEX_NONE) return;
    uint32_t bucket = entry - 1;
    index_entries(t)[position] = INDEX_NONE;
    uint32_t stored = table_keys(t)[bucket];
    if (int32_t(stored) < 0) {
        Node chain = chain_at(t, uint32_t(-int32_t(stored)));
        uint32_t at = chain_lower_bound(chain, position);
        if (at < array_length(chain) && chain_positions(chain)[at] == position)
            array_remove_bytes(chain, at * 4, 4);
        if (array_length(chain) > 0) return;
    }
    bucket_state_set(table_flags(t), bucket, BUCKET_DELETED);
    if (t->count) t->count--;
}

void hashtable_delete_range(Node table, uint32_t position, uint32_t n) {
    HashTable* t = hashtable_record(table);
    if (t->kind != HASH_BLOCK) return;
    uint32_t length = table_length(t);
    if (position >= length) return;
    n = std::min(n, length - position);
    if (position == 0 && n == length) { block_index_clear(t); return; }
    for (uint32_t p = position; p < position + n; p++) hashtable_delete_cell(hashtable_node(t), p);
}

// A change of stored positions over [lo, hi): a shift by delta, or the
// permutation of a move.
struct PositionMap {
    uint32_t lo, hi;
    int32_t delta;         // shift
    bool move;             // move: count cells from `from` go to `to`
    uint32_t from, count, to;
};

static uint32_t position_mapped(const PositionMap& m, uint32_t p) {
    if (!m.move) return uint32_t(int64_t(p) + m.delta);
    if (p >= m.from && p < m.from + m.count)
        return m.to < m.from ? m.to + (p - m.from) : m.to - m.count + (p - m.from);
    return m.to < m.from ? p + m.count : p - m.count;
}

// Rewrites every stored position in [lo, hi): bucket keys, chains (each once)
// and, with move_index, the position index itself.
static void positions_remap(HashTable* t, const PositionMap& m, bool move_index) {
    uint32_t highest = m.hi ? position_mapped(m, m.hi - 1) : 0;
    if (m.move) highest = m.hi ? m.hi - 1 : 0;
    if (move_index && m.hi > m.lo) index_reserve(t, std::max(highest, m.hi - 1));
    uint32_t chains = array_length(t->chains);
    auto* done = static_cast<uint8_t*>(heap_alloc_zeroed(chains + 1));
    for (uint32_t q = m.lo; q < m.hi; q++) {
        uint32_t entry = index_get(t, q);
        if (entry == INDEX_NONE) continue;
        uint32_t* key = &table_keys(t)[entry - 1];
        if (int32_t(*key) >= 0) *key = position_mapped(m, q);
        else done[uint32_t(-int32_t(*key))] = 1;
    }
    for (uint32_t c = 1; c <= chains; c++) {
        if (!done[c]) continue;
        Node chain = chain_at(t, c);
        for (uint32_t i = 1; i <= array_length(chain); i++) {
            uint32_t p = array_at(chain, i);
            if (p >= m.lo && p < m.hi) array_poke(chain, i, position_mapped(m, p));
        }
        // A shift keeps the order; a move can put positions out of it.
        if (m.move) {
            uint32_t* ps = chain_positions(chain);
            std::sort(ps, ps + array_length(chain));
        }
    }
    heap_free(done);
    if (!move_index || m.hi <= m.lo) return;
    uint32_t span = m.hi - m.lo;
    auto* saved = static_cast<uint32_t*>(heap_alloc(size_t(span) * 4));
    uint32_t* index = index_entries(t);
    for (uint32_t q = m.lo; q < m.hi; q++) saved[q - m.lo] = index_get(t, q);
    for (uint32_t q = m.lo; q < m.hi; q++) if (q < index_capacity(t)) index[q] = INDEX_NONE;
    for (uint32_t q = m.lo; q < m.hi; q++) index[position_mapped(m, q)] = saved[q - m.lo];
    heap_free(saved);
}

int hashtable_shift_indices(Node table, int32_t delta, uint32_t from, uint32_t count, bool move_index) {
    HashTable* t = hashtable_record(table);
    if (count > HASH_SHIFT_LIMIT) return 1;
    if (t->kind != HASH_BLOCK || delta == 0 || count == 0) return 0;
    if (delta < 0 && uint32_t(-delta) > from) return 0;  // would leave the series
    PositionMap m{from, from + count, delta, false, 0, 0, 0};
    positions_remap(t, m, move_index);
    return 0;
}

void hashtable_move_indices(Node table, uint32_t to, uint32_t from, uint32_t count) {
    HashTable* t = hashtable_record(table);
    if (t->kind != HASH_BLOCK || count == 0) return;
    if (to >= from && to <= from + count) return;
    PositionMap m{std::min(to, from), std::max(to, from + count), 0, true, from, count, to};
    positions_remap(t, m, true);
}

// ---- kind 2 --------------------------------------------------------------------------------------

int32_t word_list_find(Node table, uint32_t symbol, bool resolved, Node context, int32_t* added) {
    HashTable* t = hashtable_record(table);
    if (context) table_make_room(t);
    uint32_t known;
    const Cell* symbols = symbol_cells_now(&known);  // nothing below allocates until the walk ends
    uint32_t canonical = symbol_resolve_in(symbols, known, symbol);
    int64_t target;
    int64_t bucket = probe_find(table_flags(t), t->buckets, hash_int(canonical), &target, [&](uint32_t b) {
        uint32_t other = word_symbol(&table_cells(t)[table_keys(t)[b]]);
        return other == symbol || (resolved && symbol_resolve_in(symbols, known, other) == canonical);
    });
    if (bucket >= 0) return int32_t(table_keys(t)[bucket]);
    if (!context) return -1;
    if (target < 0) error_raise(ERR_LIMIT_HIT);  // unreachable below the threshold
    NodeRoot owner(context, ROOT_BLOCK);
    uint32_t position = table_length(t);
    Cell* word = cell_series_append(t->data);
    word->header = T_WORD;
    word_symbol_set(word, symbol);
    word_bind_set(word, owner.node, position);
    bucket_take(t, uint32_t(target), position);
    t->count++;
    if (added) *added = int32_t(position);
    return -1;
}

// The name being interned, copied out of wherever it lies before anything
// is allocated.
static uint8_t* name_copy = nullptr;
static uint32_t name_copy_capacity = 0;

static bool name_matches(const Cell* symbol, const uint8_t* name, uint32_t length, bool fold) {
    SeriesBuffer* b = series_buffer(symbol_name_node(symbol));
    if (b->tail - b->head != length) return false;
    const uint8_t* other = b->head_ptr();
    if (!fold) return std::memcmp(other, name, length) == 0;
    for (uint32_t i = 0; i < length; i++) {
        uint8_t x = other[i], y = name[i];
        if (x >= 'A' && x <= 'Z') x = uint8_t(x + 32);
        if (y >= 'A' && y <= 'Z') y = uint8_t(y + 32);
        if (x != y) return false;
    }
    return true;
}

// Walks the name's probe sequence for a matching symbol; returns its id or 0,
// with *stop the empty bucket where the walk ended (-1 after a full turn).
// Without fold, *spelling (when given) receives the first symbol passed whose
// name matches ignoring ASCII case, or 0: spellings of one name share the
// probe sequence, and a walk that finds no exact match passes all of them.
static uint32_t symbol_probe(HashTable* t, uint32_t hash, const uint8_t* name, uint32_t length,
                             bool fold, int64_t* stop, uint32_t* spelling = nullptr) {
    if (spelling) *spelling = 0;
    int64_t bucket = probe_find(table_flags(t), t->buckets, hash, stop, [&](uint32_t b) {
        const Cell* symbol = &table_cells(t)[table_keys(t)[b]];
        if (name_matches(symbol, name, length, fold)) return true;
        if (spelling && !*spelling && !fold && name_matches(symbol, name, length, true))
            *spelling = table_keys(t)[b] + 1;
        return false;
    });
    return bucket < 0 ? 0 : table_keys(t)[bucket] + 1;
}

uint32_t symbol_table_intern_name(Node table, const uint8_t* text, uint32_t length, bool fold_match) {
    HashTable* t = hashtable_record(table);
    if (length > name_copy_capacity || !name_copy) {
        name_copy_capacity = std::max<uint32_t>(256, length);
        name_copy = static_cast<uint8_t*>(heap_resize(name_copy, name_copy_capacity));
    }
    std::memcpy(name_copy, text, length);
    table_make_room(t);
    uint32_t hash = symbol_name_hash(name_copy, length);
    int64_t stop;
    uint32_t spelling = 0;
    uint32_t id = symbol_probe(t, hash, name_copy, length, fold_match, &stop, &spelling);
    if (id) return id;
    // Another spelling of the name makes this one its alias; resolving it
    // names the first-interned spelling whatever order the walk met them in.
    int32_t alias = spelling ? int32_t(symbol_resolve(spelling)) : -1;
    if (stop < 0) error_raise(ERR_LIMIT_HIT);  // unreachable below the threshold
    id = symbol_append(name_copy, length, alias);
    uint32_t b = uint32_t(stop);
    bucket_state_set(table_flags(t), b, BUCKET_USED);
    table_keys(t)[b] = id - 1;
    t->count++;
    t->used++;
    return id;
}

// ---- kinds 3 and 4 -------------------------------------------------------------------------------

// The bucket of a node key, or -1; *free as for map_find.
static int64_t node_find(HashTable* t, Node key, int64_t* free) {
    return probe_find(table_flags(t), t->buckets, hash_int(key), free, [&](uint32_t bucket) {
        return hashtable_entry_key(entry_at(t, table_keys(t)[bucket])) == key;
    });
}

// Room for one more entry at the tail of the storage: a full storage is
// copied, live entries only, into one twice as large when more than half of
// it is live; the buckets then follow the new offsets.
static void storage_make_room(HashTable* t) {
    SeriesBuffer* storage = series_buffer(t->data);
    uint32_t size = entry_size(t);
    if (storage->tail + size <= storage->size) return;
    uint32_t live_bytes = t->count * size;
    uint32_t capacity = live_bytes * 2 + size > storage->size ? storage->size * 2 : storage->size;
    Node fresh = fixed_bytes_new(std::max(capacity, size * 4), 0);
    SeriesBuffer* to = series_buffer(fresh);
    storage = series_buffer(t->data);
    uint32_t at = 0;
    for (uint32_t offset = 0; offset < storage->tail; offset += size) {
        if (entry_at(t, offset)->header != ENTRY_LIVE) continue;
        std::memcpy(to->data() + at, storage->data() + offset, size);
        at += size;
    }
    to->tail = at;
    t->data = fresh;
    buckets_clear(t);
    keys_replace(t);
}

Cell* hashtable_put_key(Node table, Node key) {
    HashTable* t = hashtable_record(table);
    NodeRoot keep(key, ROOT_SERIES);
    storage_make_room(t);
    table_make_room(t);
    hashtable_refresh(t);
    int64_t free;
    int64_t bucket = node_find(t, keep.node, &free);
    uint32_t cells = entry_size(t) / 16 - 1;
    if (bucket >= 0) return entry_at(t, table_keys(t)[bucket]) + 1;
    if (free < 0) error_raise(ERR_LIMIT_HIT);  // unreachable below the threshold
    SeriesBuffer* storage = series_buffer(t->data);
    uint32_t offset = storage->tail;
    storage->tail += entry_size(t);
    Cell* e = entry_at(t, offset);
    cell_init(e, T_UNSET);
    hashtable_entry_key_set(e, keep.node);
    for (uint32_t i = 1; i <= cells; i++) cell_init(e + i, T_UNSET);
    bucket_take(t, uint32_t(free), offset);
    t->count++;
    return e + 1;
}

Cell* hashtable_get_key(Node table, Node key) {
    HashTable* t = hashtable_record(table);
    hashtable_refresh(t);
    int64_t free;
    int64_t bucket = node_find(t, key, &free);
    return bucket < 0 ? nullptr : entry_at(t, table_keys(t)[bucket]) + 1;
}

Cell* hashtable_remove_key(Node table, Node key) {
    HashTable* t = hashtable_record(table);
    hashtable_refresh(t);
    int64_t free;
    int64_t bucket = node_find(t, key, &free);
    if (bucket < 0) return nullptr;
    Cell* e = entry_at(t, table_keys(t)[bucket]);
    bucket_state_set(table_flags(t), uint32_t(bucket), BUCKET_DELETED);
    t->count--;
    e->header = 0;
    return e + 1;
}

// ---- collector hooks --------------------------------------------------------------------------------

void hashtable_mark(Node* slot) {
    if (!*slot || !collector_mark_series(slot)) return;
    HashTable* t = hashtable_record(*slot);
    collector_mark_series(&t->flags);
    collector_mark_series(&t->keys);
    switch (t->kind) {
    case HASH_BLOCK:
        collector_mark_series(&t->index);
        // The chain list may already be marked as plain bytes (a root held
        // while it grows): its chains are followed whatever the list's mark.
        collector_mark_series(&t->chains);
        if (t->chains) {
            SeriesBuffer* list = series_buffer(t->chains);
            auto* chains = reinterpret_cast<Node*>(list->head_ptr());
            for (uint32_t i = 0; i < list->length(); i++) collector_mark_series(&chains[i]);
        }
        collector_mark_block(&t->data);
        break;
    case HASH_MAP:
    case HASH_WORDS:
        collector_mark_block(&t->data);
        break;
    case HASH_NODES:
        if (collector_mark_series(&t->data)) {
            uint32_t cells = entry_size(t) / 16;
            SeriesBuffer* storage = series_buffer(t->data);
            for (uint32_t offset = 0; offset < storage->tail; offset += entry_size(t)) {
                Cell* e = entry_at(t, offset);
                if (e->header != ENTRY_LIVE) continue;
                collector_mark_block(hashtable_entry_key_slot(e));
                collector_mark_values(e + 1, e + cells);
            }
        }
        break;
    case HASH_NODES_PAIRED:
        // Entries keep nothing alive; the sweep drops those whose nodes died.
        collector_mark_series(&t->data);
        break;
    }
}

bool node_survives(Node* slot) {
    if (!*slot) return false;
    collector_update_refs(slot, slot + 1);
    uintptr_t content = node_word(*slot);
    if (content == 0 || (content & (NODE_FREE | NODE_FORWARDED))) return false;
    return reinterpret_cast<SeriesBuffer*>(content)->flags & SERIES_MARK;
}

void hashtable_sweep(HashTable* t, EntryKeep keep) {
    if (t->kind != HASH_NODES && t->kind != HASH_NODES_PAIRED) return;
    uint32_t cells = entry_size(t) / 16 - 1;
    SeriesBuffer* storage = series_buffer(t->data);
    for (uint32_t offset = 0; offset < storage->tail; offset += entry_size(t)) {
        Cell* e = entry_at(t, offset);
        if (e->header != ENTRY_LIVE) continue;
        bool live = node_survives(hashtable_entry_key_slot(e));
        if (live && t->kind == HASH_NODES_PAIRED && cells >= 2) live = node_survives(&e[2].w1);
        if (live && keep) live = keep(e, e + 1);
        if (live) continue;
        std::memset(e, 0, entry_size(t));
        if (t->count) t->count--;
    }
    // The keys that stay may have new node ids: they are placed anew, which
    // also drops the buckets of the removed entries. Nothing is allocated.
    buckets_clear(t);
    keys_replace(t);
}

static void hash_family_mark(Cell* c) {
    collector_mark_block(series_node_slot(c));
    hashtable_mark(series_extra_slot(c));
}

void hashtable_module_init() {
    collector_register_marker(T_HASH, hash_family_mark);
    collector_register_marker(T_MAP, hash_family_mark);
    collector_remove_root(held_tables_mark);
    collector_add_root(held_tables_mark);
}

// ---- intmap ------------------------------------------------------------------------------------------

static uint32_t intmap_hash(uintptr_t key) {
    uint64_t k = key;
    return hash_int(uint32_t(k) ^ uint32_t(k >> 32));
}

static void intmap_arrays_new(IntMap* map, uint32_t n) {
    uint32_t words = std::max<uint32_t>(n / 16, 1);
    map->flags = static_cast<uint32_t*>(heap_alloc(words * 4));
    std::memset(map->flags, 0xAA, words * 4);
    map->pairs = static_cast<IntMapPair*>(heap_alloc(size_t(n) * sizeof(IntMapPair)));
    map->buckets = n;
    map->count = 0;
    map->used = 0;
}

IntMap* intmap_make(uint32_t size) {
    auto* map = static_cast<IntMap*>(heap_alloc_zeroed(sizeof(IntMap)));
    uint32_t n = next_pow2(uint32_t(std::max<uint32_t>(size, 4) / HASH_LOAD_FACTOR));
    intmap_arrays_new(map, n);
    map->threshold = uint32_t(n * HASH_LOAD_FACTOR);
    return map;
}

// The bucket of a key, or -1 with *free the first deleted or empty bucket.
static int64_t intmap_find(const IntMap* map, uintptr_t key, int64_t* free) {
    return probe_find(map->flags, map->buckets, intmap_hash(key), free,
                      [&](uint32_t bucket) { return map->pairs[bucket].key == key; });
}

static void intmap_resize(IntMap* map, uint32_t n) {
    n = std::max<uint32_t>(4, next_pow2(n));
    uint32_t* old_flags = map->flags;
    IntMapPair* old_pairs = map->pairs;
    uint32_t old_buckets = map->buckets;
    intmap_arrays_new(map, n);
    map->threshold = uint32_t(n * HASH_LOAD_FACTOR + 0.5);
    for (uint32_t i = 0; i < old_buckets; i++) {
        if (bucket_state(old_flags, i) != BUCKET_USED) continue;
        int64_t free;
        intmap_find(map, old_pairs[i].key, &free);
        bucket_state_set(map->flags, uint32_t(free), BUCKET_USED);
        map->pairs[free] = old_pairs[i];
        map->count++;
        map->used++;
    }
    heap_free(old_flags);
    heap_free(old_pairs);
}

void intmap_put(IntMap* map, uintptr_t key, uintptr_t value) {
    if (map->used >= map->threshold)
        intmap_resize(map, map->count * 2 < map->buckets ? map->buckets - 1 : map->buckets + 1);
    int64_t free;
    int64_t bucket = intmap_find(map, key, &free);
    if (bucket >= 0) { map->pairs[bucket].value = value; return; }
    uint32_t b = uint32_t(free);
    if (bucket_state(map->flags, b) == BUCKET_EMPTY) map->used++;
    bucket_state_set(map->flags, b, BUCKET_USED);
    map->pairs[b] = {key, value};
    map->count++;
}

uintptr_t* intmap_get(IntMap* map, uintptr_t key) {
    int64_t free;
    int64_t bucket = intmap_find(map, key, &free);
    return bucket < 0 ? nullptr : &map->pairs[bucket].value;
}

bool intmap_remove(IntMap* map, uintptr_t key) {
    int64_t free;
    int64_t bucket = intmap_find(map, key, &free);
    if (bucket < 0) return false;
    bucket_state_set(map->flags, uint32_t(bucket), BUCKET_DELETED);
    map->count--;
    return true;
}

IntMapPair* intmap_next(IntMap* map, uint32_t* bucket) {
    for (uint32_t i = *bucket; i < map->buckets; i++) {
        if (bucket_state(map->flags, i) != BUCKET_USED) continue;
        *bucket = i + 1;
        return &map->pairs[i];
    }
    *bucket = map->buckets;
    return nullptr;
}

void intmap_clear(IntMap* map) {
    std::memset(map->flags, 0xAA, std::max<uint32_t>(map->buckets / 16, 1) * 4);
    map->count = 0;
    map->used = 0;
}

void intmap_free(IntMap* map) {
    if (!map) return;
    heap_free(map->flags);
    heap_free(map->pairs);
    heap_free(map);
}

// ---- cell series ---------------------------------------------------------------------------------------

Cell* cell_series_append(Node series) {
    SeriesBuffer* b = series_buffer(series);
    if (b->tail + sizeof(Cell) > b->size) b = series_grow_copy(b, b->size ? 0 : 4 * sizeof(Cell));
    auto* cell = block_tail_cells(b);
    b->tail += sizeof(Cell);
    std::memset(cell, 0, sizeof(Cell));
    return cell;
}

Cell* cell_series_append_value(Node series, const Cell* value) {
    SeriesBuffer* b = series_buffer(series);
    if (b->tail + sizeof(Cell) <= b->size) {
        Cell* cell = block_tail_cells(b);
        b->tail += sizeof(Cell);
        cell_copy(value, cell);
        return cell;
    }
    CellRoot held(*value);
    Cell* cell = cell_series_append(series);
    cell_copy(&held.cell, cell);
    return cell;
}

} // namespace kel
