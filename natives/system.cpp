// wait, checksum, set-env, get-env, now, recycle, transcode and apply
// (io/natives_io.hpp has list-env, call, browse, compress and decompress).
#include "natives/system.hpp"
#include "natives/checksum.hpp"
#include "core/lexer.hpp"
#include "natives/native_steps.hpp"
#include "natives/natives.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/function.hpp"
#include "core/interpreter.hpp"
#include "core/library_context.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "datatypes/date.hpp"
#include "datatypes/file.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/url.hpp"
#include "runtime/collector.hpp"
#include "runtime/platform/platform.hpp"
#include "runtime/platform/process.hpp"
#include <cstring>
#include <string>
#include <vector>
#include <iterator>

namespace kel {

enum SystemNative : uint32_t {
    N_WAIT = 86, N_CHECKSUM = 87, N_SET_ENV = 93, N_GET_ENV = 94, N_NOW = 96, N_TRANSCODE = 106,
    N_APPLY = 107,
};

ByteSpan native_value_span(Cell* value) {
    if (cell_type(value) == T_BINARY) {
        uint32_t from = series_index_clamped(value);
        SeriesBuffer* b = series_buffer(series_node(value));
        return {b->head_ptr() + from, b->length() - from};
    }
    int32_t count = -1;
    const uint8_t* text = to_utf8(value, &count);
    return {text, uint32_t(count)};
}

std::vector<uint8_t> native_value_bytes(Cell* value) {
    ByteSpan span = native_value_span(value);
    return std::vector<uint8_t>(span.data, span.data + span.size);
}

// A new binary! of the bytes in ARGS[0].
static void binary_box(const uint8_t* bytes, uint32_t count) {
    Node node = series_new_bytes(count);
    SeriesBuffer* b = series_buffer(node);
    std::memcpy(b->head_ptr(), bytes, count);
    b->tail = b->head + count;
    series_make_at(data_stack.args, T_BINARY, node, 0);
    stack_keep();
}

// ---- wait ----------------------------------------------------------------------------------

static WaitHook wait_hook = nullptr;

void native_wait_hook_set(WaitHook hook) { wait_hook = hook; }

ExitCode native_wait(bool check, const int32_t*) {
    native_args_check(check, N_WAIT, 1);
    Cell* value = data_stack.args;
    double seconds;
    switch (cell_type(value)) {
    case T_INTEGER: seconds = double(cell_int(value)); break;
    case T_FLOAT: case T_TIME: seconds = cell_double(value); break;
    default: error_raise(ERR_INVALID_ARG, value);
    }
    stack_box_new(T_NONE);
    if (wait_hook) wait_hook(seconds);
    else wait_seconds(seconds);
    return EXIT_CODE_NONE;
}

// ---- checksum ------------------------------------------------------------------------------

static bool method_is(const Cell* word, ChecksumMethod method) {
    return symbol_resolve(word_symbol(word)) == symbol_resolve(checksum_method_symbol(method));
}

// script error invalid-refine-arg naming the refinement /with and a value.
[[noreturn]] static void raise_with_refine(const Cell* value) {
    Cell with;
    word_make_at(&with, T_WORD, word_symbol(runtime_refinement(REF_WITH)));
    error_raise(ERR_INVALID_REFINE_ARG, &with, value);
}

ExitCode native_checksum(bool check, const int32_t* refinements) {
    native_args_check(check, N_CHECKSUM, 2);
    if (check && refinements[0] == 2) native_arg_check(N_CHECKSUM, 2);
    Cell* args = data_stack.args;
    Cell* spec = native_refinement_arg(refinements, 0);
    Cell* method = &args[1];
    if (cell_type(&args[0]) == T_FILE) {
        // Read as bytes: the checksum of a file is that of its exact content.
        auto read = action_slot_as<ReadFn>(T_FILE, A_READ);
        if (!read) error_raise(ERR_CANNOT_OPEN, &args[0]);
        Cell* content = stack_push(&args[0]);
        read(content, nullptr, nullptr, true, false, false, nullptr);
        if (cell_type(content) != T_BINARY && cell_type(content) != T_STRING)
            error_raise(ERR_INVALID_ARG, content);
        cell_copy(content, &args[0]);
    }
    if (!checksum_method_q(method)) error_raise(ERR_INVALID_ARG, method);
    bool integral = method_is(method, CHECKSUM_W_CRC32) || method_is(method, CHECKSUM_W_TCP) ||
                    method_is(method, CHECKSUM_W_ADLER32);
    if (spec && integral) raise_with_refine(method);

    // The sums read the data in place: nothing allocates from here until the
    // digest is boxed (the key is copied out before the data is looked at).
    if (integral) {
        ByteSpan data = native_value_span(&args[0]);
        int32_t sum;
        if (method_is(method, CHECKSUM_W_CRC32)) sum = int32_t(checksum_crc32(data.data, data.size));
        else if (method_is(method, CHECKSUM_W_TCP)) sum = checksum_tcp(data.data, data.size);
        else sum = int32_t(checksum_adler32(data.data, data.size));
        integer_box(sum);
        return EXIT_CODE_NONE;
    }
    if (spec) {
        // A hash of a given table size has no algorithm: refused, as the hash
        // method is without /with, never answered with a made-up number.
        uint8_t type = cell_type(spec);
        if (type == T_INTEGER) raise_with_refine(spec);
        if (type != T_STRING && type != T_BINARY) error_raise(ERR_INVALID_ARG, spec);
        if (method_is(method, CHECKSUM_W_HASH)) raise_with_refine(spec);
        std::vector<uint8_t> key = native_value_bytes(spec);
        ByteSpan data = native_value_span(&args[0]);
        std::optional<ChecksumDigest> digest = checksum_hmac(data.data, data.size, key.data(), key.size(), method);
        if (!digest) error_raise(ERR_INVALID_ARG, method);  // only the integral methods lack one
        binary_box(digest->bytes, digest->size);
        return EXIT_CODE_NONE;
    }
    if (method_is(method, CHECKSUM_W_HASH)) raise_with_refine(method);
    ByteSpan data = native_value_span(&args[0]);
    ChecksumDigest digest = checksum_digest(data.data, data.size, checksum_method_code(method));
    binary_box(digest.bytes, digest.size);
    return EXIT_CODE_NONE;
}

// ---- environment ---------------------------------------------------------------------------

// OS text of an environment name or value: a string's characters from its
// position, a word's name. A NUL inside would make the OS read another name
// or value, so it raises script error invalid-arg with the value.
static std::string env_text(Cell* value) {
    std::string text;
    if (word_type_q(cell_type(value))) {
        uint32_t length;
        const uint8_t* name = symbol_name(word_symbol(value), &length);
        text.assign(reinterpret_cast<const char*>(name), length);
    } else {
        text = os_text_of(value, -1);
    }
    if (text.find('\0') != std::string::npos) error_raise(ERR_INVALID_ARG, value);
    return text;
}

ExitCode native_set_env(bool check, const int32_t*) {
    native_args_check(check, N_SET_ENV, 2);
    Cell* args = data_stack.args;
    std::string name = env_text(&args[0]);
    bool done;
    if (cell_type(&args[1]) == T_NONE) {
        done = env_set(name.c_str(), nullptr);
    } else {
        std::string value = env_text(&args[1]);
        done = env_set(name.c_str(), value.c_str());
    }
    // A name the system refuses (empty, or holding "=") is not set: say so
    // rather than answer as if it were.
    if (!done) error_raise(ERR_INVALID_ARG, &args[0]);
    cell_copy(&args[1], &args[0]);
    stack_keep();
    return EXIT_CODE_NONE;
}

ExitCode native_get_env(bool check, const int32_t*) {
    native_args_check(check, N_GET_ENV, 1);
    Cell* args = data_stack.args;
    std::optional<std::string> value = env_get(env_text(&args[0]).c_str());
    if (!value) {
        stack_box_new(T_NONE);
        return EXIT_CODE_NONE;
    }
    string_load(reinterpret_cast<const uint8_t*>(value->data()), uint32_t(value->size()),
                ENCODING_OS, args);
    stack_keep();
    return EXIT_CODE_NONE;
}

// ---- now -----------------------------------------------------------------------------------

constexpr int64_t SECONDS_PER_DAY = 86400;

static int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

Cell* now_push(bool utc, bool precise, bool date_only) {
    int64_t seconds;
    int32_t nanoseconds;
    platform_clock.now(&seconds, &nanoseconds);
    int32_t offset = utc ? 0 : platform_clock.zone_offset(seconds);
    uint32_t zone = zone_encode(offset / 60);
    if (date_only) {
        // The local date of the instant, in the zone as the date stores it.
        int64_t local = seconds + date_zone_offset(zone);
        int64_t day = floor_div(local, SECONDS_PER_DAY) + DATE_EPOCH_DAY;
        return date_push(date_from_day_number(day, 0, false), 0.0);
    }
    double time = time_of_day_at(seconds, nanoseconds, precise);
    int64_t day = floor_div(seconds, SECONDS_PER_DAY) + DATE_EPOCH_DAY;
    day = date_normalise_time(day, &time, zone);
    return date_push(date_from_day_number(day, zone, true), time);
}

enum NowRefinement : uint32_t {
    NOW_YEAR, NOW_MONTH, NOW_DAY, NOW_TIME, NOW_ZONE, NOW_DATE, NOW_WEEKDAY, NOW_YEARDAY,
    NOW_PRECISE, NOW_UTC,
};

ExitCode native_now(bool, const int32_t* refinements) {
    auto given = [refinements](NowRefinement r) { return refinements[r] >= 0; };
    int selectors = 0;
    for (uint32_t r = NOW_YEAR; r <= NOW_PRECISE; r++) selectors += refinements[r] >= 0;
    if (selectors >= 2 && !(selectors == 2 && given(NOW_TIME) && given(NOW_PRECISE)))
        error_raise(ERR_BAD_REFINES);
    Cell* date = now_push(given(NOW_UTC), given(NOW_PRECISE), given(NOW_DATE));
    static const struct { NowRefinement refinement; int32_t field; } fields[] = {
        {NOW_YEAR, DATE_F_YEAR}, {NOW_MONTH, DATE_F_MONTH}, {NOW_DAY, DATE_F_DAY},
        {NOW_ZONE, DATE_F_ZONE}, {NOW_TIME, DATE_F_TIME}, {NOW_WEEKDAY, DATE_F_WEEKDAY},
        {NOW_YEARDAY, DATE_F_YEARDAY},
    };
    for (const auto& f : fields) {
        if (!given(f.refinement)) continue;
        stack_set_last_reset(date_get_field(date, f.field));
        return EXIT_CODE_NONE;
    }
    stack_set_last_reset(date);
    return EXIT_CODE_NONE;
}

// ---- recycle -------------------------------------------------------------------------------

ExitCode native_recycle(bool, const int32_t* refinements) {
    bool on = refinements[0] >= 0, off = refinements[1] >= 0;
    if (on || off) {
        collector.enabled = on;
        stack_box_new(T_UNSET);
        return EXIT_CODE_NONE;
    }
    collector_cycle();
    // The memory in use, as stats without refinements reports it.
    static const int32_t no_refinements[] = {-1, -1};
    return native_stats(false, no_refinements);
}

// ---- transcode -----------------------------------------------------------------------------

enum TranscodeRefinement : uint32_t {
    TR_NEXT, TR_ONE, TR_PRESCAN, TR_SCAN, TR_PART, TR_INTO, TR_TRACE,
};

constexpr uint8_t UTF8_BOM[3] = {0xEF, 0xBB, 0xBF};

// The length to read from the source's position: the /part integer, or the
// distance to a /part position in the source's own series; never negative
// and never past the source's tail.
static uint32_t transcode_length(const Cell* source, const Cell* part) {
    uint32_t index = series_index_clamped(source);
    uint32_t rest = series_buffer_length(source) - index;
    if (!part) return rest;
    int64_t length;
    if (cell_type(part) == T_INTEGER) {
        length = cell_int(part);
    } else {
        if (cell_type(part) != cell_type(source)) error_raise(ERR_NOT_SAME_TYPE);
        if (series_node(part) != series_node(source)) error_raise(ERR_INVALID_PART, part);
        length = int64_t(series_index_clamped(part)) - int64_t(index);
    }
    if (length < 0) return 0;
    return length > int64_t(rest) ? rest : uint32_t(length);
}

static bool transcode_trace_call(const Cell* callback, Cell* args);

ExitCode native_transcode(bool check, const int32_t* refinements) {
    native_args_check(check, N_TRANSCODE, 1);
    auto given = [refinements](TranscodeRefinement r) { return refinements[r] >= 0; };
    Cell* args = data_stack.args;
    Cell* part = native_refinement_arg(refinements, TR_PART);
    Cell* into = native_refinement_arg(refinements, TR_INTO);
    Cell* callback = native_refinement_arg(refinements, TR_TRACE);
    if (check) {
        // Refinement arguments sit at their spec places only when every
        // refinement before them is given.
        if (part && refinements[TR_PART] == 1) native_arg_check(N_TRANSCODE, 1);
        if (into && refinements[TR_INTO] == 2) native_arg_check(N_TRANSCODE, 2);
        if (callback && refinements[TR_TRACE] == 3) native_arg_check(N_TRANSCODE, 3);
    }
    bool scan_only = given(TR_SCAN) || given(TR_PRESCAN);
    bool pair = given(TR_NEXT) && !(given(TR_ONE) && !given(TR_SCAN));

    Cell* source = stack_push(&args[0]);
    series_index_set(source, series_index_clamped(source));
    uint32_t length = transcode_length(source, part);
    if (cell_type(source) == T_BINARY && length >= 3 &&
        std::memcmp(series_buffer(series_node(source))->head_ptr() + uint32_t(series_index(source)), UTF8_BOM, 3) == 0) {
        series_index_set(source, series_index(source) + 3);
        length -= 3;
    }
    Cell* dest = stack_push_new(T_UNSET);

    LexerOptions options;
    options.one = given(TR_NEXT) || given(TR_ONE) || given(TR_SCAN);
    options.scan = !given(TR_PRESCAN);
    options.load = !given(TR_SCAN);
    options.source = source;
    options.into = into;
    if (callback) {
        Cell* spec = stack_push_new(T_NONE);
        series_make_at(spec, T_BLOCK, function_spec(callback), 0);
        Cell* body = stack_push(function_more_cell(callback, MORE_BODY));
        options.callback = callback;
        options.event_mask = lexer_event_mask(spec, lexer_event_mask(body));
        lexer_callback_caller_set(transcode_trace_call);
    }
    int32_t consumed = 0;
    int32_t kind;
    try {
        if (cell_type(source) == T_BINARY) {
            const uint8_t* bytes = series_buffer(series_node(source))->head_ptr() + uint32_t(series_index(source));
            kind = lexer_transcode(dest, bytes, length, options, &consumed);
        } else {
            kind = lexer_scan_string(dest, source, int32_t(length), options, &consumed);
        }
    } catch (const ExitSignal& signal) {
        return signal.code;  // break, return, ... raised by the trace callback
    }

    if (scan_only) {
        if (length == 0 || kind == 0) cell_init(dest, T_NONE);
        else datatype_make_at(dest, kind == LEXER_STOPPED ? uint8_t(T_ERROR) : uint8_t(kind));
    }
    if (pair) {
        Cell* result = stack_push_new(T_NONE);
        block_make_at(result, 2);
        block_ks_append(result, dest);
        series_index_set(source, series_index(source) + (consumed > 0 ? consumed : 0));
        block_ks_append(result, source);
        stack_set_last_reset(result);
        return EXIT_CODE_NONE;
    }
    stack_set_last_reset(dest);
    return EXIT_CODE_NONE;
}

// ---- apply ---------------------------------------------------------------------------------

// How a parameter takes its argument, from the spelling in its spec.
enum ParamKind : uint8_t { PARAM_EVAL, PARAM_LITERAL, PARAM_QUOTED, PARAM_REFINEMENT };

struct ApplyParam {
    ParamKind kind;
    uint32_t symbol;
};

// The parameters of a callable's spec in order, up to /local.
static std::vector<ApplyParam> apply_params(const Cell* function) {
    std::vector<ApplyParam> params;
    SeriesBuffer* b = series_buffer(function_spec(function));
    const Cell* cells = block_cells(b);
    uint32_t local = symbol_resolve(word_symbol(runtime_refinement(REF_LOCAL)));
    for (uint32_t i = 0; i < b->length(); i++) {
        switch (cell_type(&cells[i])) {
        case T_WORD: params.push_back({PARAM_EVAL, word_symbol(&cells[i])}); break;
        case T_GET_WORD: params.push_back({PARAM_LITERAL, word_symbol(&cells[i])}); break;
        case T_LIT_WORD: params.push_back({PARAM_QUOTED, word_symbol(&cells[i])}); break;
        case T_REFINEMENT:
            if (symbol_resolve(word_symbol(&cells[i])) == local) return params;
            params.push_back({PARAM_REFINEMENT, word_symbol(&cells[i])});
            break;
        default: break;
        }
    }
    return params;
}

// Whether fetching a value for a parameter of this kind would give something
// other than the value itself.
static bool apply_needs_quote(const Cell* value, ParamKind kind) {
    uint8_t type = cell_type(value);
    if (kind == PARAM_LITERAL) return false;
    if (kind == PARAM_QUOTED) return type == T_PAREN || type == T_GET_WORD || type == T_GET_PATH;
    return word_type_q(type) || (type >= T_PATH && type <= T_GET_PATH) || type == T_PAREN ||
           callable_type_q(type) || type == T_OP;
}

// Appends to the call code an expression whose fetch gives exactly the value:
// the value itself, or a get-word bound to a one-word context holding it.
static void apply_code_append(Cell* code, const Cell* value, ParamKind kind) {
    if (!apply_needs_quote(value, kind)) {
        block_ks_append(code, value);
        return;
    }
    NodeRoot context(context_create(1, false, false, 0, CONTEXT_PLAIN));
    Cell* word = stack_push(runtime_word(W_LABEL_APPLIED));
    word_bind_set(word, 0, WORD_UNBOUND);
    context_add_field(context.node, word, value);
    bind_word(context.node, word);
    cell_type_set(word, T_GET_WORD);
    block_ks_append(code, word);
    stack_pop(1);
}

// The arguments of an apply: the values of the args block, expression by
// expression from its position; past its tail every value is none.
struct ApplyArgs {
    CodeWalk walk;
    explicit ApplyArgs(const Cell* block) : walk(block) {}
    // Appends the next value to the code for a parameter of the kind.
    ExitCode take(Cell* code, ParamKind kind) {
        if (walk.ended()) {
            Cell none;
            cell_init(&none, T_NONE);
            apply_code_append(code, &none, kind);
            return EXIT_CODE_NONE;
        }
        Cell* value;
        ExitCode x = walk.next(&value);
        if (x != EXIT_CODE_NONE) return x;
        apply_code_append(code, value, kind);
        walk.drop(value);
        return EXIT_CODE_NONE;
    }
    // The next value's truth for a refinement under /all: it must be a logic!.
    ExitCode truth(const Cell* name, uint32_t symbol, bool* on) {
        *on = false;
        if (walk.ended()) return EXIT_CODE_NONE;
        Cell* value;
        ExitCode x = walk.next(&value);
        if (x != EXIT_CODE_NONE) return x;
        if (cell_type(value) != T_LOGIC) {
            Cell parameter;
            word_make_at(&parameter, T_WORD, symbol);
            error_raise_type(ERR_EXPECT_ARG, name, cell_type(value), &parameter);
        }
        *on = logic_get(value);
        walk.drop(value);
        return EXIT_CODE_NONE;
    }
    // Steps over an argument that is not wanted: evaluated (and dropped), or
    // with safer left unevaluated.
    ExitCode skip(bool safer) {
        if (walk.ended()) return EXIT_CODE_NONE;
        if (safer) {
            walk.skip();
            return EXIT_CODE_NONE;
        }
        Cell* value;
        ExitCode x = walk.next(&value);
        if (x == EXIT_CODE_NONE) walk.drop(value);
        return x;
    }
};

// Whether the refinement (by resolved symbol) is named by a word of the path
// after its first element.
static bool path_names_refinement(const Cell* path, uint32_t symbol) {
    if (!path) return false;
    uint32_t length = series_buffer_length(path);
    for (uint32_t i = series_index_clamped(path) + 1; i < length; i++) {
        const Cell* e = block_ks_abs_at(path, i);
        if (cell_type(e) == T_WORD && symbol_resolve(word_symbol(e)) == symbol_resolve(symbol)) return true;
    }
    return false;
}

ExitCode native_apply(bool check, const int32_t* refinements) {
    native_args_check(check, N_APPLY, 2);
    bool all = refinements[0] >= 0, safer = refinements[1] >= 0;
    Cell* args = data_stack.args;

    // The function and the word it is called by.
    Cell* name = stack_push(runtime_word(W_LABEL_APPLIED));
    Cell* function = stack_push_new(T_NONE);
    const Cell* path = nullptr;
    uint8_t type = cell_type(&args[0]);
    if (type == T_WORD || type == T_SET_WORD || type == T_LIT_WORD || type == T_GET_WORD) {
        cell_copy(&args[0], name);
        cell_type_set(name, T_WORD);
        cell_copy(word_get(name), function);
    } else if (type == T_PATH) {
        path = &args[0];
        uint32_t index = series_index_clamped(path);
        if (index >= series_buffer_length(path)) error_raise(ERR_INVALID_ARG, &args[0]);
        cell_copy(block_ks_abs_at(path, index), name);
        if (cell_type(name) != T_WORD) error_raise(ERR_INVALID_ARG, &args[0]);
        cell_copy(word_get(name), function);
    } else {
        cell_copy(&args[0], function);
    }
    if (!callable_type_q(cell_type(function)) && cell_type(function) != T_OP)
        error_raise(ERR_INVALID_ARG, &args[0]);
    if (cell_type(function) == T_OP) cell_type_set(function, op_source_type(function));

    // The call as code: a block of the argument values in the order the
    // interpreter fetches them, and a path of the refinements in use.
    Cell* code = stack_push_new(T_NONE);
    block_make_at(code, 8);
    Cell* refs = stack_push_new(T_NONE);
    block_make_at(refs, 4);
    block_ks_append(refs, name);
    cell_type_set(refs, T_PATH);
    std::vector<ApplyParam> params = apply_params(function);
    ApplyArgs values(&args[1]);

    size_t i = 0;
    for (; i < params.size() && params[i].kind != PARAM_REFINEMENT; i++) {
        ExitCode x = values.take(code, params[i].kind);
        if (x != EXIT_CODE_NONE) return x;
    }
    if (all) {
        bool on = false;
        for (; i < params.size(); i++) {
            if (params[i].kind == PARAM_REFINEMENT) {
                ExitCode x = values.truth(name, params[i].symbol, &on);
                if (x != EXIT_CODE_NONE) return x;
                on = on || path_names_refinement(path, params[i].symbol);
                if (on) {
                    Cell word;
                    word_make_at(&word, T_WORD, params[i].symbol);
                    block_ks_append(refs, &word);
                }
                continue;
            }
            ExitCode x = on ? values.take(code, params[i].kind) : values.skip(safer);
            if (x != EXIT_CODE_NONE) return x;
        }
    } else if (path) {
        // The path's refinements in its order, each followed by its arguments.
        for (uint32_t k = series_index_clamped(path) + 1; k < series_buffer_length(path); k++) {
            Cell* e = stack_push(block_ks_abs_at(path, k));
            if (cell_type(e) == T_GET_WORD) {
                if (logic_false(word_get(e))) {
                    stack_pop(1);
                    continue;
                }
                cell_type_set(e, T_WORD);
            }
            block_ks_append(refs, e);
            uint32_t symbol = word_symbol(e);
            bool word = cell_type(e) == T_WORD;
            stack_pop(1);
            if (!word) continue;  // the call raises bad-refine
            size_t r = 0;
            while (r < params.size() && !(params[r].kind == PARAM_REFINEMENT &&
                                          symbol_resolve(params[r].symbol) == symbol_resolve(symbol)))
                r++;
            for (r++; r < params.size() && params[r].kind != PARAM_REFINEMENT; r++) {
                ExitCode x = values.take(code, params[r].kind);
                if (x != EXIT_CODE_NONE) return x;
            }
        }
    }

    stack_mark_top_interp();
    EvalCursor cursor{code, 0, uint32_t(block_ks_length_q(code))};
    PathRefinements refinement_path{series_buffer_length(refs) > 1 ? refs : nullptr, 1};
    return eval_code(function, cursor, refinement_path, name, nullptr, 0);
}

// ---- the trace callback of transcode -----------------------------------------------------------

// Calls the function with the lexer's five argument cells (on the data stack,
// at its top) as its leading arguments, in a frame of its own; the cells
// themselves take the argument values back afterwards, so a callback that
// moves its input argument moves the lexer. Further leading parameters get
// none, refinements false and their arguments and locals none. An exit other
// than an error (break, return, ...) travels to transcode as an ExitSignal.
static bool transcode_trace_call(const Cell* callback, Cell* args) {
    constexpr uint32_t LEXER_ARGS = 5;
    if (cell_type(callback) != T_FUNCTION) error_raise(ERR_INVALID_ARG, callback);
    Cell* slot = stack_push(callback);
    std::vector<ApplyParam> params = apply_params(slot);
    uint32_t slots = context_word_count(function_context(slot));
    stack_mark_func_interp(runtime_word(W_LABEL_LEXER_CALLBACK));
    Cell* frame_args = data_stack.args;
    uint32_t leading = 0;
    while (leading < params.size() && params[leading].kind != PARAM_REFINEMENT) leading++;
    for (uint32_t i = 0; i < params.size(); i++) {
        if (i < leading && i < LEXER_ARGS) stack_push(&args[i]);
        else if (params[i].kind == PARAM_REFINEMENT) logic_make_at(stack_push_slot(), false);
        else stack_push_new(T_NONE);
    }
    if (slots > params.size()) push_unused_refinement(slots - uint32_t(params.size()));
    ExitCode x = exec_function(slot, 0, nullptr, 0);
    if (x != EXIT_CODE_NONE) exit_throw(x);
    for (uint32_t i = 0; i < leading && i < LEXER_ARGS; i++) cell_copy(&frame_args[i], &args[i]);
    stack_unwind_func_keep();
    bool answer = !logic_false(slot + 1);
    data_stack.top = slot;
    return answer;
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {86, "wait", "[value [number! time! block! none!] /all]", native_wait},
    {87, "checksum",
     "[data [binary! string! file!] method [word!] /with spec [any-string! binary!\n"
     "    integer!]]",
     native_checksum},
    {93, "set-env", "[var [any-string! any-word!] value [string! none!]]", native_set_env},
    {94, "get-env", "[var [any-string! any-word!]]", native_get_env},
    {96, "now",
     "[/year /month /day /time /zone /date /weekday /yearday /precise /utc]",
     native_now},
    {105, "recycle", "[/on /off]", native_recycle},
    {106, "transcode",
     "[src [binary! string!] /next /one /prescan /scan /part length [integer! binary!]\n"
     "    /into dst [block!] /trace callback [function!]]",
     native_transcode},
    {107, "apply", "[func [word! path! any-function!] args [block!] /all /safer]", native_apply},
};
const NativeTable SYSTEM_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
