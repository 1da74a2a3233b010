// construct, value? and size?.
#include "natives/coerce.hpp"
#include "core/context.hpp"
#include "core/logic.hpp"
#include "core/numbers.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "datatypes/file.hpp"
#include "datatypes/integer.hpp"
#include "natives/natives.hpp"
#include "runtime/platform/fs.hpp"

#include <string>
#include <iterator>

namespace kel {

enum ConstructNative : uint32_t { N_CONSTRUCT = 68, N_VALUE_Q = 69 };

// A new object from the block without evaluation: a copy of the /with
// prototype (or an empty object) whose fields the block then sets; without
// /only the standard logic words of the block become their values.
ExitCode native_construct(bool check, const int32_t* refinements) {
    const int32_t with = refinements[0];
    if (check) {
        native_arg_check(N_CONSTRUCT, 0);
        if (with >= 0) native_arg_check(N_CONSTRUCT, uint32_t(with));
    }
    Cell* args = data_stack.args;
    const Cell* proto = with >= 0 ? &args[with] : nullptr;
    Cell* object = object_construct(proto, &args[0], refinements[1] >= 0);
    stack_set_last_reset(object);
    return EXIT_CODE_NONE;
}

// True when the word has a value other than unset! in its context; a word
// bound nowhere has none. A value of another type (only without its spec
// check) is tested itself.
ExitCode native_value_q(bool check, const int32_t*) {
    if (check) native_arg_check(N_VALUE_Q, 0);
    const Cell* value = data_stack.args;
    switch (cell_type(value)) {
    case T_WORD: case T_SET_WORD: case T_GET_WORD: case T_LIT_WORD:
        if (!word_context(value) || (word_index(value) == WORD_UNBOUND && word_symbol(value) != runtime_symbol(SYM_SELF))) {
            logic_box(false);
            return EXIT_CODE_NONE;
        }
        value = word_get(value);
        break;
    default: break;
    }
    logic_box(cell_type(value) != T_UNSET);
    return EXIT_CODE_NONE;
}

// The size in bytes of a file, or -1 when there is none to give: the name is
// a directory's (by its form or on disk), the file cannot be opened or its
// size read. The full 64-bit size is read.
static int64_t file_size_of(const Cell* file) {
    if (file_dir_path_q(file)) return -1;
    Cell name = *file;
    uint32_t length = string_ks_length_q(&name);
    if (length > 0 && string_ks_char_at(&name, uint32_t(series_index(&name)) + length - 1) == '\\') return -1;
    std::string path;
    if (!file_to_local(file, &path) || path_is_dir(path.c_str())) return -1;
    int fd = file_open(path.c_str(), FILE_MODE_READ);
    if (fd < 0) return -1;
    int64_t size = file_size(fd);
    file_close(fd);
    return size;
}

// The file's size as an integer!, or as a float! from 2 GiB on where it does
// not fit; none when it has none. Makes no type check: anything but
// a file! answers none.
ExitCode native_size_q(bool, const int32_t*) {
    const Cell* file = data_stack.args;
    int64_t size = cell_type(file) == T_FILE ? file_size_of(file) : -1;
    // A size past the integer range is given as a float, exact up to 2^53.
    if (size < 0) stack_box_new(T_NONE);
    else if (size > INT32_MAX) float_box(double(size));
    else integer_box(int32_t(size));
    return EXIT_CODE_NONE;
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {68, "construct", "[block [block!] /with object [object!] /only]", native_construct},
    {69, "value?", "[value [word!]]", native_value_q},
    {101, "size?", "[file [file!]]", native_size_q},
};
const NativeTable CONSTRUCT_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
