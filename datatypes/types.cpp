#include "datatypes/types.hpp"
#include "core/registry.hpp"
#include "core/context.hpp"
#include "core/hashtable.hpp"
#include "core/logic.hpp"
#include "core/object.hpp"
#include "core/error_value.hpp"
#include "core/function.hpp"
#include "core/mold_text.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/path.hpp"
#include "core/series.hpp"
#include "core/block.hpp"
#include "core/typeset.hpp"
#include "core/word.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/char.hpp"
#include "datatypes/date.hpp"
#include "datatypes/file.hpp"
#include "datatypes/float.hpp"
#include "datatypes/map.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/money.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/hash.hpp"
#include "datatypes/image.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/percent.hpp"
#include "datatypes/point.hpp"
#include "datatypes/port.hpp"
#include "datatypes/tag.hpp"
#include "datatypes/time.hpp"
#include "datatypes/triple.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/url.hpp"
#include "datatypes/vector.hpp"

namespace kel {

// One built-in type: its registration function, or none for a type that
// registers no action (context!); that type registers here under its id,
// parent and name with every slot unsupported.
struct BuiltinType {
    uint8_t type;
    uint8_t parent;
    const char* name;
    void (*init)();
};

// The fixed registration order: every parent precedes its children. event! is
// registered later, by the GUI backend's start-up.
static const BuiltinType builtin_types[] = {
    {T_DATATYPE, 0, "datatype!", init_datatype},
    {T_UNSET, 0, "unset!", init_unset},
    {T_NONE, 0, "none!", init_none},
    {T_LOGIC, 0, "logic!", init_logic},
    {T_SERIES, 0, "series!", init_series},
    {T_BLOCK, T_SERIES, "block!", init_block},
    {T_STRING, T_SERIES, "string!", init_string},
    {T_BINARY, T_STRING, "binary!", init_binary},
    {T_INTEGER, 0, "integer!", init_integer},
    {T_SYMBOL, 0, "symbol!", init_symbol},
    {T_CONTEXT, 0, "context!", nullptr},
    {T_WORD, T_SYMBOL, "word!", init_word},
    {T_LIT_WORD, T_WORD, "lit-word!", init_lit_word},
    {T_SET_WORD, T_WORD, "set-word!", init_set_word},
    {T_GET_WORD, T_WORD, "get-word!", init_get_word},
    {T_REFINEMENT, T_WORD, "refinement!", init_refinement},
    {T_CHAR, T_INTEGER, "char!", init_char},
    {T_NATIVE, 0, "native!", init_native},
    {T_ACTION, T_NATIVE, "action!", init_action},
    {T_OP, T_NATIVE, "op!", init_op},
    {T_PATH, T_BLOCK, "path!", init_path},
    {T_LIT_PATH, T_PATH, "lit-path!", init_lit_path},
    {T_SET_PATH, T_PATH, "set-path!", init_set_path},
    {T_GET_PATH, T_PATH, "get-path!", init_get_path},
    {T_FUNCTION, T_CONTEXT, "function!", init_function},
    {T_ROUTINE, T_FUNCTION, "routine!", init_routine},
    {T_PAREN, T_BLOCK, "paren!", init_paren},
    {T_ISSUE, T_WORD, "issue!", init_issue},
    {T_URL, T_STRING, "url!", init_url},
    {T_FILE, T_URL, "file!", init_file},
    {T_OBJECT, 0, "object!", init_object},
    {T_BITSET, 0, "bitset!", init_bitset},
    {T_TRIPLE, 0, "triple!", init_triple},
    {T_FLOAT, 0, "float!", init_float},
    {T_TYPESET, 0, "typeset!", init_typeset},
    {T_ERROR, T_OBJECT, "error!", init_error},
    {T_VECTOR, T_STRING, "vector!", init_vector},
    {T_MAP, 0, "map!", init_map},
    {T_HASH, T_BLOCK, "hash!", init_hash},
    {T_PAIR, 0, "pair!", init_pair},
    {T_PERCENT, T_FLOAT, "percent!", init_percent},
    {T_TUPLE, 0, "tuple!", init_tuple},
    {T_TIME, T_FLOAT, "time!", init_time},
    {T_TAG, T_STRING, "tag!", init_tag},
    {T_EMAIL, T_STRING, "email!", init_email},
    {T_HANDLE, T_INTEGER, "handle!", init_handle},
    {T_DATE, 0, "date!", init_date},
    {T_PORT, T_OBJECT, "port!", init_port},
    {T_MONEY, 0, "money!", init_money},
    {T_REF, T_STRING, "ref!", init_ref},
    {T_POINT2D, 0, "point2D!", init_point2d},
    {T_POINT3D, 0, "point3D!", init_point3d},
    {T_IMAGE, T_SERIES, "image!", init_image},
};

void datatypes_register() {
    datatype_registry_init();
    for (const BuiltinType& t : builtin_types) {
        if (t.init != nullptr) t.init();
        else datatype_register(t.type, t.parent, t.name, nullptr, 0, ACTIONS_UNSUPPORTED);
    }
}

} // namespace kel
