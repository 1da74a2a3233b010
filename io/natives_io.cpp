// The natives that list the environment, run processes and compress data:
// list-env, call, browse, compress and decompress. Their table joins the
// natives table through natives_table_add before natives_init fills it.
#include "io/natives_io.hpp"
#include "core/error.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "datatypes/file.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/url.hpp"
#include "io/cmdline.hpp"
#include "io/compression/framing.hpp"
#include "io/process.hpp"
#include "natives/natives.hpp"
#include "natives/system.hpp"
#include "runtime/collector.hpp"
#include "runtime/platform/process.hpp"

#include <iterator>
#include <string>
#include <vector>

namespace kel {

enum IoNative : uint32_t { N_CALL = 99, N_BROWSE = 102, N_COMPRESS = 103, N_DECOMPRESS = 104 };

ExitCode native_list_env(bool, const int32_t*) {
    platform_list_env(stack_box_new(T_NONE));
    return EXIT_CODE_NONE;
}

// ---- call ----------------------------------------------------------------------------------

// Refinements of call, in the order of its spec.
enum CallRefinement : uint32_t {
    CALL_WAIT, CALL_SHOW, CALL_CONSOLE, CALL_SHELL, CALL_INPUT, CALL_OUTPUT, CALL_ERROR,
};

ExitCode native_call(bool check, const int32_t* refinements) {
    native_args_check(check, N_CALL, 1);
    for (uint32_t r = CALL_INPUT; r <= CALL_ERROR; r++) {
        uint32_t n = r - CALL_INPUT + 1;  // the argument's place in its spec
        if (check && refinements[r] == int32_t(n)) native_arg_check(N_CALL, n);
    }
    Cell* cmd = data_stack.args;
    if (series_tail_q(cmd)) {
        integer_box(0);
        return EXIT_CODE_NONE;
    }
    auto given = [refinements](CallRefinement r) { return refinements[r] >= 0; };
    int32_t result = call_process(cmd, given(CALL_WAIT), given(CALL_SHOW), given(CALL_CONSOLE),
                                  given(CALL_SHELL), native_refinement_arg(refinements, CALL_INPUT),
                                  native_refinement_arg(refinements, CALL_OUTPUT),
                                  native_refinement_arg(refinements, CALL_ERROR));
    integer_box(result);
    return EXIT_CODE_NONE;
}

// ---- browse ---------------------------------------------------------------------------------

// Opens a URL or a file with the desktop's opener, xdg-open, given the URL
// (its text as a server receives it) or the local file name as its one argument,
// never through a shell, and started in a session of its own, not waited
// for. Without an opener the target cannot be opened: access error cannot-open.
ExitCode native_browse(bool check, const int32_t*) {
    native_args_check(check, N_BROWSE, 1);
    Cell* target = data_stack.args;
    std::string text;
    if (cell_type(target) == T_FILE) {
        if (!file_to_local(target, &text)) error_raise(ERR_CANNOT_OPEN, target);
        // A relative name that looks like an option stays a name.
        if (!text.empty() && text[0] == '-') text = "./" + text;
    } else {
        text = url_wire_text(target);
    }
    if (text.empty() || text.find('\0') != std::string::npos) error_raise(ERR_CANNOT_OPEN, target);
    ProcessRequest request;
    request.argv = {"xdg-open", text};
    request.input.kind = request.output.kind = request.error.kind = StreamKind::null;
    request.wait = false;
    request.detached = true;
    if (process_run(&request).outcome != ProcessOutcome::exited) error_raise(ERR_CANNOT_OPEN, target);
    stack_box_new(T_UNSET);
    return EXIT_CODE_NONE;
}

// ---- compress and decompress ---------------------------------------------------------------

// The method a word names; any other word raises script error invalid-arg with it.
static int32_t compression_method_arg(Cell* word) {
    int32_t method = compression_method(word);
    if (method < 0) error_raise(ERR_INVALID_ARG, word);
    return method;
}

// Runs a method's encoder or decoder into a new binary! of the capacity, and
// once more at the size it asked for when that was too small; the binary
// goes to ARGS[0]. Any other outcome raises script error invalid-data.
static void compression_box(int32_t method, bool decode, const NativeInput& input, uint32_t capacity) {
    int32_t result = COMPRESS_DEST_SMALL;
    Node node = 0;
    uint32_t size = 0;
    for (int attempt = 0; attempt < 2 && result == COMPRESS_DEST_SMALL; attempt++) {
        node = series_new_bytes(capacity);
        uint8_t* dest = series_buffer(node)->head_ptr();
        size = capacity;
        ByteSpan from = input.bytes();
        result = decode ? compression_decode(method, dest, &size, from.data, from.size)
                        : compression_encode(method, dest, &size, from.data, from.size);
        capacity = size;
    }
    if (result != COMPRESS_DONE) error_raise(ERR_INVALID_DATA);
    SeriesBuffer* b = series_buffer(node);
    b->tail = b->head + size;
    series_make_at(data_stack.args, T_BINARY, node, 0);
    stack_keep();
}

ExitCode native_compress(bool check, const int32_t*) {
    native_args_check(check, N_COMPRESS, 2);
    int32_t method = compression_method_arg(data_stack.args + 1);
    NativeInput input(data_stack.args);
    compression_box(method, false, input, input.bytes().size + 32);
    return EXIT_CODE_NONE;
}

ExitCode native_decompress(bool check, const int32_t* refinements) {
    native_args_check(check, N_DECOMPRESS, 2);
    if (check && refinements[0] == 2) native_arg_check(N_DECOMPRESS, 2);
    int32_t method = compression_method_arg(data_stack.args + 1);
    Cell* size_arg = native_refinement_arg(refinements, 0);
    uint32_t capacity = size_arg && cell_int(size_arg) > 0 ? uint32_t(cell_int(size_arg)) : 0;
    NativeInput input(data_stack.args);
    ByteSpan from = input.bytes();
    // A sizing pass without a destination; gzip reads the size from its
    // trailer, so the size given is not needed there.
    if (method == COMPRESSION_GZIP || from.size >= capacity) {
        capacity = 0;
        int32_t result = compression_decode(method, nullptr, &capacity, from.data, from.size);
        if (result != COMPRESS_DONE && result != COMPRESS_DEST_SMALL) error_raise(ERR_INVALID_DATA);
    }
    compression_box(method, true, input, capacity);
    return EXIT_CODE_NONE;
}

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {95, "list-env", "[]", native_list_env},
    {99, "call",
     "[cmd [string! file!] /wait /show /console /shell /input in [string! file! binary!] /output\n"
     "    out [string! file! binary!] /error err [string! file! binary!]]",
     native_call},
    {102, "browse", "[url [url! file!]]", native_browse},
    {103, "compress", "[data [any-string! binary!] method [word!]]", native_compress},
    {104, "decompress", "[data [binary!] method [word!] /size sz [integer!]]", native_decompress},
};
static const NativeTable IO_NATIVES = {natives, uint32_t(std::size(natives))};

void io_natives_register() { natives_table_add(&IO_NATIVES); }

} // namespace kel
