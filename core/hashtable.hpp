// Hash tables: one open-addressing index serves five uses, told apart by the
// record's kind: the hash! datatype (an index beside a block, equal keys
// chained), the map! datatype (unique keys, key and value cells side by side),
// the symbol table and every context's word list (keys are symbol or word
// cells), and tables keyed by series node (an entry holds the key and value
// cells; kind 4 entries also die with the node of their second value cell).
// A second structure, the intmap, maps host words to host words for the
// collector.
//
// Bucket counts are powers of two, filled to at most 0.77; the k-th probe of a
// walk is k buckets after the previous one (offsets 0, 1, 3, 6, 10 ...), which
// visits every bucket of a power-of-two table once. Each bucket has two flag
// bits (2 empty, 1 deleted, 0 in use) and one key word: a cell position in the
// indexed series (kinds 0-2; in kind 0 a negative -c names chain c), or the
// byte offset of the entry in the entry storage (kinds 3 and 4).
//
// The record and its arrays are buffers outside the frames (series_new_fixed):
// they never move, so a HashTable* stays valid for as long as the table is
// reachable. Node fields in the record are rewritten by the collector.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstddef>
#include <cstdint>

namespace kel {

enum HashKind : uint32_t {
    HASH_BLOCK = 0,        // hash!: every cell of a block, equal keys chained
    HASH_MAP = 1,          // map!: key cells at even positions, unique by strict-equal?
    HASH_WORDS = 2,        // the symbol table and context word lists
    HASH_NODES = 3,        // keyed by series node; the keys are kept alive
    HASH_NODES_PAIRED = 4, // keyed by series node; an entry dies with its key or
                           // with the node of its second value cell
};

// The record: eleven 32-bit fields in a 44-byte buffer of its own.
struct HashTable {
    uint32_t count;      // live keys
    uint32_t index;      // kind 0: node of the position index (bucket + 1 per cell,
                         // all 0xFF = none); kinds 3, 4: entry size in bytes
    Node chains;         // kind 0: node of the chain list (one array node per chain)
    Node flags;          // 2 bits per bucket, 16 buckets per 32-bit word
    Node keys;           // one 32-bit key word per bucket
    Node data;           // the indexed series (kinds 0-2) or the entry storage (3, 4)
    uint32_t used;       // live plus deleted buckets
    uint32_t buckets;    // n, a power of two, at least 4
    uint32_t threshold;  // used may not reach it without a resize
    uint32_t kind;       // HashKind
    uint32_t stamp;      // 0, or the collection count + 1 when the hashes were computed
};
static_assert(sizeof(HashTable) == 44, "eleven 32-bit fields");

constexpr double HASH_LOAD_FACTOR = 0.77;
constexpr double HASH_REBUILD_GROWTH = 1.5;
constexpr uint32_t HASH_SYMBOL_DOUBLING = 4000;  // kind 2 doubles a request this large
constexpr uint32_t HASH_SHIFT_LIMIT = 30000;     // cells above which shifting gives up

// Bucket states (two flag bits).
constexpr uint32_t BUCKET_USED = 0;
constexpr uint32_t BUCKET_DELETED = 1;
constexpr uint32_t BUCKET_EMPTY = 2;

// A live key cell of kinds 3 and 4 has this header (unset!); a removed one 0.
constexpr uint32_t ENTRY_LIVE = T_UNSET;
// The node an entry of kinds 3 and 4 is keyed by: word 1 of its key cell; the
// slot form is for the collector to mark and re-point.
inline Node hashtable_entry_key(const Cell* key) { return key->w1; }
inline Node* hashtable_entry_key_slot(Cell* key) { return &key->w1; }
inline void hashtable_entry_key_set(Cell* key, Node node) { key->w1 = node; }

// The record of a table node. The address is stable (the record never moves).
inline HashTable* hashtable_record(Node table) {
    return reinterpret_cast<HashTable*>(series_buffer(table)->data());
}
// The table node of a record, as the collector last re-pointed it.
Node hashtable_node(const HashTable* table);

// ---- hashing ---------------------------------------------------------------------

// The seed of every hash of the run; set once at start, before any table
// exists (tables keep the hashes they were built with).
void hash_seed_set(uint32_t seed);
uint32_t hash_seed();
// MurmurHash3 x86 32-bit of a byte range with the given seed.
uint32_t murmur3_32(const void* data, size_t length, uint32_t seed);
// The same with the run's seed.
uint32_t murmur3_hash(const void* data, size_t length);
// The 32-bit finaliser alone (no seed, no length).
uint32_t hash_int(uint32_t value);
// Characters from the string's position to its tail, by groups of up to four
// (one 32-bit block for a group below 256, else one per character). Unless
// case_sensitive, each character is folded to simple lower case first: the
// fold that text comparison uses, so equal text always hashes alike, whatever
// the unit of its buffer.
uint32_t string_hash(const Cell* string, bool case_sensitive);
// A symbol name with A-Z folded to a-z (other bytes as they are).
uint32_t symbol_name_hash(const uint8_t* name, uint32_t length);
// The hash of a key cell by its datatype.
uint32_t hash_value(const Cell* key, bool case_sensitive);

// ---- comparison of keys ---------------------------------------------------------------

// Equality of two cells of the same type under a comparison op (0 equal?,
// 2 strict-equal?, 9 same?, ...): the type's compare action when it has one,
// else identical payloads.
bool hash_keys_equal(const Cell* a, const Cell* b, int32_t op);

// ---- creation and upkeep ----------------------------------------------------------------

// A new table for about size keys: n is the next power of two of size / 0.77
// (size at least 4), the threshold trunc(n x 0.77). Kinds 0-2 index the series
// when one is given (kind 0 every cell, kind 1 every key of a pair), else a new
// empty block of size cells; kinds 3 and 4 get a new entry storage with
// value_cells value cells per entry.
Node hashtable_init(Node series, uint32_t size, uint32_t kind, uint32_t value_cells = 0);
// A copy of the table's record and arrays that indexes the given series (which
// holds what the original's series holds, position for position). For kinds
// 3 and 4 a series of 0 copies the entry storage too.
Node hashtable_copy(Node table, Node series);
// No keys; kinds 3 and 4 also drop their entries, kind 0 its chains.
void hashtable_clear(Node table);
// Re-hashes a table whose hashes depend on node ids after a collection
// (hashtable_refresh of a stamped table).
void hashtable_rehash_stamped(HashTable* table);
inline void hashtable_refresh(HashTable* table) {
    if (table->stamp) hashtable_rehash_stamped(table);
}
// Rebuilds the buckets: kinds 3 and 4 for size entries, kind 0 from its
// series with the next power of two of size x 1.5 buckets.
void hashtable_rebuild_any(HashTable* table, uint32_t size);
// Re-places every key into the next power of two of n buckets (at least 4 and
// enough for the keys in use).
void hashtable_resize(HashTable* table, uint32_t n);

// Holds a new table across allocations until a value refers to it: the
// collector marks it as a table and rewrites the node when it moves.
struct HashTableRoot {
    Node node;
    explicit HashTableRoot(Node n);
    ~HashTableRoot();
    HashTableRoot(const HashTableRoot&) = delete;
    HashTableRoot& operator=(const HashTableRoot&) = delete;
};

// ---- kinds 0 and 1: cells of the indexed series ------------------------------------------

// Status of hashtable_put_cell: the key was entered, or a rebuild entered it
// with every other cell of the series.
constexpr int HASH_PUT_DONE = 0;
constexpr int HASH_PUT_REBUILT = 2;

// Enters the cell at a position of the indexed series. Kind 1: returns the
// position of an equal key (strict-equal?) already present and enters nothing,
// else -1. Kind 0: an equal key is chained; returns -1.
int32_t hashtable_put_cell(Node table, uint32_t position, int* status = nullptr);
// Enters every step-th cell from start. Kind 1 (step 2): a key already present
// takes the later pair's value and the later pair is removed from the series.
// prepare, when given, normalises each newly entered key cell in place.
using HashKeyPrepare = void (*)(Cell* key);
void hashtable_put_all(Node table, uint32_t start, uint32_t step, HashKeyPrepare prepare = nullptr);

// Looks a key up. Kind 1: the position of the first stored key of the key's
// type (a word of any kind is looked up as a set-word) that the op finds
// equal. Kind 0: among the positions holding keys equal to it, those p with
// (p - start) mod skip = 0 (forward: the smallest at or after start) or
// (start - p - 1) mod skip = 0 (reverse: the largest below start; last: the
// largest). -1 when none.
int32_t hashtable_get(Node table, const Cell* key, uint32_t start, uint32_t skip, int32_t op,
                      bool reverse, bool last);

// Kind 1: hashtable_get's lookup that also answers, on a miss, the bucket
// where the key would go (-1 when there is none). The bucket stays good for
// hashtable_map_enter until the table's buckets change; allocations and
// appends to the indexed series leave them as they are.
int32_t hashtable_map_lookup(Node table, const Cell* key, int32_t op, int64_t* bucket);
// Kind 1: enters the key cell at a position, which a lookup has just missed,
// into the bucket the lookup answered; when the table must grow first (or the
// bucket is -1), as hashtable_put_cell does.
void hashtable_map_enter(Node table, uint32_t position, int64_t bucket);

// A resumable walk over the keys equal (op 0) to a key: each call returns the
// next position, -1 at the end.
struct HashCursor {
    uint32_t bucket = 0;
    uint32_t probe = 0;   // probes made so far; 0 before the first call
    uint32_t chain = 0;   // kind 0: next element of the current chain
};
int32_t hashtable_find_next(Node table, const Cell* key, HashCursor* cursor);

// Kind 0: the position leaves the index (a chained key keeps its other
// positions). Kind 1: the pair at the key position is marked removed (value
// header 0) and the count drops; the key stays in the index.
void hashtable_delete_cell(Node table, uint32_t position);
// Kind 0: the positions from position on (n clipped to the series) leave the
// index; all of them empties the table.
void hashtable_delete_range(Node table, uint32_t position, uint32_t n);
// Kind 0: after cells were inserted (delta > 0) or removed (delta < 0) at
// `from`, adds delta to the stored position of the count cells that were
// behind them; with move_index the position index follows. Returns 1, changing
// nothing, above HASH_SHIFT_LIMIT cells (the caller rebuilds instead), else 0.
int hashtable_shift_indices(Node table, int32_t delta, uint32_t from, uint32_t count, bool move_index);
// Kind 0: the stored positions after moving count cells from `from` to the
// position `to` of the series as it was; a target inside the moved range does
// nothing.
void hashtable_move_indices(Node table, uint32_t to, uint32_t from, uint32_t count);

// ---- kind 2: word lists ------------------------------------------------------------------

// The position of a symbol in a word list: compared by symbol id, or by
// resolved alias when resolved is set (the usual case-insensitive lookup).
// When absent and context is not 0, a word! {context, symbol, position} is
// appended, *added receives its position and the result is -1.
int32_t word_list_find(Node table, uint32_t symbol, bool resolved, Node context, int32_t* added);

// ---- kinds 3 and 4: node keys ----------------------------------------------------------------

// The value cells of the node's entry, made (all unset) when new. The address
// is valid until the next allocation or keyed operation on the table.
Cell* hashtable_put_key(Node table, Node key);
// The value cells of the node's entry, or null.
Cell* hashtable_get_key(Node table, Node key);
// Removes the node's entry; returns its value cells (valid until the next put)
// or null when there was none.
Cell* hashtable_remove_key(Node table, Node key);

// ---- collector ---------------------------------------------------------------------------------

// Marks a table: record, arrays, data (kinds 0-2 as a block), kind 0 chains,
// kind 3 live keys and values. Kind 4 marks no entry: hashtable_sweep decides.
void hashtable_mark(Node* slot);
// After marking (a sweep hook; kind-4 tables must be swept in every cycle):
// removes the entries whose key buffer is not marked, or, in kind 4, whose
// second value cell's node (word 1) is not; keep, when given, re-points the
// other nodes of each remaining entry and may drop it too by returning false.
// Nothing is allocated.
using EntryKeep = bool (*)(Cell* key, Cell* values);
void hashtable_sweep(HashTable* table, EntryKeep keep = nullptr);
// In a sweep hook: rewrites a moved node and tells whether its buffer is marked.
bool node_survives(Node* slot);

// Registers the markers of hash!, map! and held tables with the collector.
void hashtable_module_init();

// ---- the collector's intmap -------------------------------------------------------------------

// Maps host words to host words (the collector's forwarding of node
// addresses); buckets and flags as above, arrays from the general-purpose heap.
struct IntMapPair {
    uintptr_t key;
    uintptr_t value;
};
struct IntMap {
    uint32_t count;
    uint32_t* flags;
    IntMapPair* pairs;
    uint32_t used;
    uint32_t buckets;
    uint32_t threshold;
};

IntMap* intmap_make(uint32_t size);
void intmap_put(IntMap* map, uintptr_t key, uintptr_t value);
// Address of the key's value, or null.
uintptr_t* intmap_get(IntMap* map, uintptr_t key);
// True when the key was there.
bool intmap_remove(IntMap* map, uintptr_t key);
// The pair of the next used bucket at or after *bucket, which moves past it;
// null at the end. Start with *bucket = 0.
IntMapPair* intmap_next(IntMap* map, uint32_t* bucket);
void intmap_clear(IntMap* map);
void intmap_free(IntMap* map);

// Appends one cell at the tail of a cell series, doubling the buffer when
// full; returns the new cell (header 0), valid until the next allocation.
Cell* cell_series_append(Node series);
// Appends a copy of a value at the tail of a cell series; returns the new cell,
// valid until the next allocation. The value may lie in the series itself or
// refer to nodes: it is held as a root while the buffer grows, since that
// growth may collect and renumber every node.
Cell* cell_series_append_value(Node series, const Cell* value);

} // namespace kel
