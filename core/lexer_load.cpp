// The lexer's per-kind scanners and value loaders: each checks one token's
// syntax and, with the load flag, appends exactly one value cell built from
// it. A check failure reports the token's datatype through the engine's error
// report (which raises, or stops a run that builds no values).
#include "core/lexer.hpp"
#include "core/lexer_internal.hpp"

#include "core/block.hpp"
#include "core/context.hpp"
#include "core/stack.hpp"
#include "core/logic.hpp"
#include "core/numbers.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/word.hpp"
#include "runtime/collector.hpp"

#include <cmath>
#include <cstring>
#include <limits>

namespace kel {

// Appends a value built outside the buffer, keeping the new cell's new-line flag.
static void append_value(LexerState* s, const Cell& v) {
    Cell* c = lexer_cell_new(s);
    c->header = (c->header & CELL_NEWLINE) | (v.header & ~CELL_NEWLINE);
    std::memcpy(cell_payload(c), cell_payload(&v), 12);
}

static bool ascii_equal_nocase(const uint8_t* a, uint32_t length, const char* b) {
    if (std::strlen(b) != length) return false;
    for (uint32_t i = 0; i < length; i++) {
        uint8_t x = a[i], y = uint8_t(b[i]);
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}

// ---- escapes and text --------------------------------------------------------------------

// Names of the parenthesised escapes.
static const struct { const char* name; uint32_t code; } escape_names[] = {
    {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127},
};

// Decodes the escape after a "^" at p. Returns the byte after it and stores
// the code point, or returns null for a malformed escape (including a code
// point above 10FFFF).
static const uint8_t* decode_escape(const uint8_t* p, const uint8_t* end, uint32_t* cp) {
    if (p >= end) return nullptr;
    if (*p == '(') {
        const uint8_t* close = p + 1;
        while (close < end && *close != ')' && close - p <= 8) close++;
        if (close >= end || *close != ')') return nullptr;
        const uint8_t* name = p + 1;
        uint32_t length = uint32_t(close - name);
        for (const auto& e : escape_names)
            if (ascii_equal_nocase(name, length, e.name)) {
                *cp = e.code;
                return close + 1;
            }
        if (length < 1 || length > 6) return nullptr;
        uint32_t value = 0;
        for (const uint8_t* q = name; q < close; q++) {
            int d = hex_digit_value(*q);
            if (d < 0) return nullptr;
            value = value * 16 + uint32_t(d);
        }
        if (value > CODEPOINT_MAX) return nullptr;
        *cp = value;
        return close + 1;
    }
    uint8_t b = *p;
    switch (b) {
    case '"': *cp = '"'; return p + 1;
    case '-': *cp = '\t'; return p + 1;
    case '/': *cp = '\n'; return p + 1;
    case '^': *cp = '^'; return p + 1;
    case '{': case '}': *cp = b; return p + 1;
    case '~': *cp = 127; return p + 1;
    case '@': *cp = 0; return p + 1;
    default: break;
    }
    if (b >= 'a' && b <= 'z') { *cp = b - 'a' + 1; return p + 1; }
    if (b >= 65 && b <= 95) { *cp = b - 64u; return p + 1; }
    int32_t c;
    const uint8_t* after = utf8_decode_char(p, end, &c);
    if (c < 0) return nullptr;
    *cp = uint32_t(c);
    return after;
}

// Walks text, calling emit for each code point. With escapes "^" sequences
// are decoded. False on a malformed escape or invalid UTF-8.
template <class Emit>
static bool walk_text(const uint8_t* p, const uint8_t* end, bool escapes, Emit emit) {
    while (p < end) {
        uint32_t cp;
        if (*p < 0x80 && !(escapes && *p == '^')) {
            cp = *p++;
        } else if (*p == '^') {
            p = decode_escape(p + 1, end, &cp);
            if (!p) return false;
        } else {
            int32_t c;
            const uint8_t* after = utf8_decode_char(p, end, &c);
            if (c < 0) return false;
            cp = uint32_t(c);
            p = after;
        }
        emit(cp);
    }
    return true;
}

// Builds a value of a string type from text; the unit is the narrowest that
// holds every decoded character.
static void load_bytes(LexerState* s, const uint8_t* from, const uint8_t* to, uint8_t type, bool escapes,
                       bool load, uint32_t start, uint32_t end) {
    uint32_t count = 0, widest = 0;
    if (!walk_text(from, to, escapes, [&](uint32_t cp) {
            count++;
            if (cp > widest) widest = cp;
        })) {
        lexer_throw_error(s, start, end, type);
        return;
    }
    s->token_type = type;
    if (!load) return;
    uint32_t unit = codepoint_unit(widest);
    Cell made;
    string_make_at_unit(&made, count, unit);  // may collect; the text is not in a series
    SeriesBuffer* b = series_buffer_of(&made);
    uint8_t* out = b->head_ptr();
    walk_text(from, to, escapes, [&](uint32_t cp) {
        if (unit == 1) *out = uint8_t(cp);
        else if (unit == 2) { uint16_t u = uint16_t(cp); std::memcpy(out, &u, 2); }
        else std::memcpy(out, &cp, 4);
        out += unit;
    });
    b->tail = b->head + count * unit;
    cell_type_set(&made, type);
    append_value(s, made);
}

void lexer_load_text(LexerState* s, uint32_t from, uint32_t to, uint8_t type, bool escapes, bool load,
                     uint32_t start, uint32_t end) {
    load_bytes(s, s->input + from, s->input + to, type, escapes, load, start, end);
}

// ---- strings ----------------------------------------------------------------------------------

void lexer_scan_quoted(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    lexer_load_text(s, start + 1, end - 1, T_STRING, true, false, start, end);
}

static void load_quoted(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    lexer_load_text(s, start + 1, end - 1, T_STRING, true, load, start, end);
}

// %{...}% with any number of "%": the closing is the first "}" followed by as
// many "%" as opened; more is invalid.
static void load_raw_string(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    uint32_t opened = end - start - 1;
    uint32_t p = end;
    for (;;) {
        const void* found = p < s->length ? std::memchr(s->input + p, '}', s->length - p) : nullptr;
        if (!found) {
            lexer_throw_error(s, start, s->length, T_STRING);
            return;
        }
        uint32_t close = uint32_t(static_cast<const uint8_t*>(found) - s->input);
        uint32_t n = 0;
        while (close + 1 + n < s->length && s->input[close + 1 + n] == '%') n++;
        if (n < opened) {
            p = close + 1;
            continue;
        }
        if (n > opened) {
            lexer_throw_error(s, start, close + 1 + n, T_STRING);
            return;
        }
        // The automaton stopped at the "{": the text's line feeds are counted
        // here, once, however often the token is checked.
        for (uint32_t q = end > s->lines_to ? end : s->lines_to; q < close; q++)
            if (s->input[q] == '\n') s->line++;
        if (close > s->lines_to) s->lines_to = close;
        s->pos = close + 1 + n;
        lexer_load_text(s, end, close, T_STRING, false, load, start, s->pos);
        return;
    }
}

// ---- words ---------------------------------------------------------------------------------------

// Interns a name and appends the word of the type.
// Names repeat in source (`func`, `if`, a script's own words again and
// again): a small table from a name's exact bytes to its symbol spares the
// symbol table's lookup for every repeat. Symbols live for the whole run; an
// entry is still checked against the symbol's own name, so an entry left
// from an earlier runtime can never give a wrong symbol.
struct NameMemo {
    uint32_t hash;
    uint32_t length;
    uint32_t symbol;  // 0: empty
};
constexpr uint32_t NAME_MEMO_SIZE = 2048;  // a power of two
static NameMemo name_memo[NAME_MEMO_SIZE];

static uint32_t name_symbol(const uint8_t* name, uint32_t length) {
    uint32_t hash = 2166136261u;
    for (uint32_t i = 0; i < length; i++) hash = (hash ^ name[i]) * 16777619u;
    NameMemo& memo = name_memo[(hash ^ length) & (NAME_MEMO_SIZE - 1)];
    if (memo.symbol && memo.hash == hash && memo.length == length && memo.symbol <= symbol_count()) {
        uint32_t known;
        const uint8_t* text = symbol_name(memo.symbol, &known);
        if (known == length && std::memcmp(text, name, length) == 0) return memo.symbol;
    }
    uint32_t symbol = symbol_make_counted(name, length);
    memo = {hash, length, symbol};
    return symbol;
}

static void load_name(LexerState* s, uint32_t from, uint32_t to, uint8_t type, uint32_t start, uint32_t end,
                      bool load) {
    const uint8_t* p = s->input + from;
    while (p < s->input + to && *p < 0x80) p++;  // ASCII needs no decoding
    while (p < s->input + to) {
        int32_t cp;
        p = utf8_decode_char(p, s->input + to, &cp);
        if (cp < 0) {
            lexer_throw_error(s, start, end, type == T_ISSUE ? T_ISSUE : T_WORD);
            return;
        }
    }
    s->token_type = type;
    if (!load) return;
    uint32_t symbol = name_symbol(s->input + from, to - from);
    Cell w;
    if (type == T_REFINEMENT) {
        word_make_at(&w, T_REFINEMENT, symbol);
    } else if (type == T_ISSUE) {
        word_make_at(&w, T_ISSUE, symbol, global_context);
    } else {
        word_make_global(&w, symbol);
        cell_type_set(&w, type);
    }
    append_value(s, w);
}

void lexer_scan_word(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    uint8_t first = s->input[start], last = s->input[end - 1];
    uint8_t type = T_WORD;
    bool single = end - start == 1;
    if (first == ':') {
        if (last == ':' && !single) {
            lexer_throw_error(s, start, end, T_WORD);
            return;
        }
        type = T_GET_WORD;
    } else if (first == '\'') {
        if (last == ':') {
            lexer_throw_error(s, start, end, T_LIT_WORD);
            return;
        }
        type = T_LIT_WORD;
    } else if (last == ':' && !single) {
        type = T_SET_WORD;
    }
    s->token_type = type;
}

// The name of a word token without its prefix or suffix, by the type the
// scanner chose.
static void load_word(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    uint8_t type = s->token_type;
    uint32_t from = start, to = end;
    if (type == T_GET_WORD || type == T_LIT_WORD) from++;
    if (type == T_SET_WORD) to--;
    load_name(s, from, to, type, start, end, load);
}

void lexer_scan_issue(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    if (end - start < 2) {
        lexer_throw_error(s, start, end, T_ISSUE);
        return;
    }
    s->token_type = T_ISSUE;
}

static void load_issue(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    load_name(s, start + 1, end, T_ISSUE, start, end, load);
}

// "/" alone is the word /; "'/", ":/" and "/:" name it as a lit-word,
// get-word and set-word, and "'//" and "://" name the word // (the automaton
// lets nothing else of that length through); "/name" is a refinement.
static void load_refinement(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    uint32_t length = end - start;
    uint8_t first = s->input[start], last = s->input[end - 1];
    uint8_t type = T_REFINEMENT;
    uint32_t from = start + 1, to = end;
    if (length == 1) {
        type = T_WORD;
        from = start;
    } else if ((length == 2 || length == 3) && first == '\'') {
        type = T_LIT_WORD;
    } else if ((length == 2 || length == 3) && first == ':') {
        type = T_GET_WORD;
    } else if (length == 2 && last == ':') {
        type = T_SET_WORD;
        from = start;
        to = end - 1;
    } else if (first != '/') {
        lexer_throw_error(s, start, end, T_REFINEMENT);
        return;
    }
    load_name(s, from, to, type, start, end, load);
}

// #(true), #(false), #(none), #(unset) or #(type-name!).
void lexer_scan_construct(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    const uint8_t* name = s->input + start + 2;
    uint32_t length = end - start - 3;
    Cell v;
    if (ascii_equal_nocase(name, length, "true")) logic_make_at(&v, true);
    else if (ascii_equal_nocase(name, length, "false")) logic_make_at(&v, false);
    else if (ascii_equal_nocase(name, length, "none")) none_make_at(&v);
    else if (ascii_equal_nocase(name, length, "unset")) unset_make_at(&v);
    else {
        uint8_t found = 0;
        for (uint32_t t = 1; t <= datatype_highest_id() && !found; t++) {
            const DatatypeName* n = datatype_name(uint8_t(t));
            if (n && n->name && ascii_equal_nocase(name, length, n->name)) found = uint8_t(t);
        }
        if (!found) {
            lexer_throw_error(s, start, end, LEX_MALCONSTRUCT);
            return;
        }
        datatype_make_at(&v, found);
    }
    s->token_type = cell_type(&v);
    if (!load) return;
    uint32_t at = s->tail;
    append_value(s, v);
    if (!lexer_event(s, LEX_EVENT_LOAD, s->token_type, lexer_cell_at(at), start, end)) s->tail = at;
}

// ---- numbers ---------------------------------------------------------------------------------------

// Appends a float! or, with percent, a percent! of the value.
static void append_double(LexerState* s, double d, bool percent) {
    Cell v;
    if (percent) percent_init(&v, d);
    else float_make_at(&v, d);
    append_value(s, v);
}

static void load_float_text(LexerState* s, uint32_t start, uint32_t end, bool load, uint8_t type) {
    s->pos = end;
    int32_t error;
    double d = scan_float(s->input + start, end - start, 1, &error);  // at most 312 characters
    if (error) {
        lexer_throw_error(s, start, end, type);
        return;
    }
    s->token_type = T_FLOAT;
    if (load) append_double(s, d, false);
}

static void load_integer(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    int32_t error;
    int32_t n = scan_integer(s->input + start, end - start, 1, &error);
    if (error == -2) {
        load_float_text(s, start, end, load, T_INTEGER);
        return;
    }
    if (error) {
        lexer_throw_error(s, start, end, T_INTEGER);
        return;
    }
    if (!load) return;
    Cell v;
    cell_init(&v, T_INTEGER);
    integer_make_at(&v, n);
    append_value(s, v);
}

static void load_float(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    load_float_text(s, start, end, load, T_FLOAT);
}

// 1.#INF, -1.#INF and 1.#NaN.
static void load_float_special(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    bool negative = s->input[start] == '-';
    const uint8_t* text = s->input + start + (negative || s->input[start] == '+');
    uint32_t length = uint32_t(s->input + end - text);
    double d;
    if (ascii_equal_nocase(text, length, "1.#INF")) d = negative ? -INFINITY : INFINITY;
    else if (ascii_equal_nocase(text, length, "1.#NaN") && !negative) d = std::numeric_limits<double>::quiet_NaN();
    else {
        lexer_throw_error(s, start, end, T_FLOAT);
        return;
    }
    if (load) append_double(s, d, false);
}

static void load_percent(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    int32_t error;
    double d = scan_float(s->input + start, end - start - 1, 1, &error);
    if (error) {
        lexer_throw_error(s, start, end, T_PERCENT);
        return;
    }
    if (load) append_double(s, d / 100.0, true);
}

// Hexadecimal integer: 2 to 8 upper-case digits before the final "h", kept as
// the 32-bit pattern.
static void load_hex(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    uint32_t digits = end - start - 1;
    const uint8_t* p = s->input + start;
    if (digits == 1 && !(p[0] >= '0' && p[0] <= '9')) {
        lexer_throw_error(s, start, end, T_WORD);
        return;
    }
    uint32_t value = 0;
    bool ok = digits >= 2 && digits <= 8;
    for (uint32_t i = 0; ok && i < digits; i++) {
        int d = hex_digit_value(p[i]);
        ok = d >= 0 && !(p[i] >= 'a' && p[i] <= 'f');
        value = value * 16 + uint32_t(d);
    }
    if (!ok) {
        lexer_throw_error(s, start, end, T_INTEGER);
        return;
    }
    s->token_type = T_INTEGER;
    if (!load) return;
    Cell v;
    cell_init(&v, T_INTEGER);
    integer_make_at(&v, int32_t(value));
    append_value(s, v);
}

// #"c" or #"^escape".
static void load_char(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    uint32_t count = 0, cp = 0;
    bool ok = walk_text(s->input + start + 2, s->input + end - 1, true, [&](uint32_t c) {
        count++;
        cp = c;
    });
    if (!ok || count != 1) {
        lexer_throw_error(s, start, end, T_CHAR);
        return;
    }
    if (!load) return;
    Cell v;
    char_make_at(&v, int32_t(cp));
    append_value(s, v);
}

// ---- literals read by their datatype's module ----------------------------------------------------------

bool lexer_scan_literal(uint8_t type, const uint8_t* start, const uint8_t* end, Cell* out) {
    LiteralScanFn scan = datatype_hooks(type).scan;
    return scan != nullptr && scan(start, end, out);
}

// Checks the token with the module's reader and, with load, appends its value.
static void load_literal(LexerState* s, uint32_t start, uint32_t end, bool load, uint8_t type) {
    s->pos = end;
    Cell v;
    cell_init(&v, T_NONE);
    if (!lexer_scan_literal(type, s->input + start, s->input + end, &v)) {
        lexer_throw_error(s, start, end, type);
        return;
    }
    if (load) append_value(s, v);
}

// "#{...}", or "2#{...}", "16#{...}", "64#{...}" with the base before the "#".
static void load_binary(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    load_literal(s, start, end, load, T_BINARY);
}
static void load_tuple(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    load_literal(s, start, end, load, T_TUPLE);
}
static void load_pair(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    load_literal(s, start, end, load, T_PAIR);
}
static void load_time(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    load_literal(s, start, end, load, T_TIME);
}
static void load_date(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    load_literal(s, start, end, load, T_DATE);
}
static void load_money(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    load_literal(s, start, end, load, T_MONEY);
}

// ---- text-like literals ----------------------------------------------------------------------------------

// Text read by its datatype's module with "^" as an ordinary character. Without
// load the text is only checked, as the string scanner does.
static void load_module_text(LexerState* s, uint32_t from, uint32_t to, uint8_t type, bool load,
                             uint32_t start, uint32_t end) {
    if (!load) {
        lexer_load_text(s, from, to, type, false, false, start, end);
        return;
    }
    Cell v;
    cell_init(&v, T_NONE);
    if (!lexer_scan_literal(type, s->input + from, s->input + to, &v)) {
        lexer_throw_error(s, start, end, type);
        return;
    }
    s->token_type = type;
    append_value(s, v);
}

static void load_tag(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end + 1;  // over the ">"
    if (s->input[start] != '<') {
        lexer_throw_error(s, start, end, T_TAG);
        return;
    }
    load_module_text(s, start + 1, end, T_TAG, load, start, end + 1);
}

// The whole token, "%XX" escapes decoded.
static void load_url(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    uint8_t first = s->input[start];
    if (first == ':' || first == '\'') {
        lexer_throw_error(s, start, end, first == ':' ? T_GET_WORD : T_LIT_WORD);
        return;
    }
    load_module_text(s, start, end, T_URL, load, start, end);
}

static void load_email(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    load_module_text(s, start, end, T_EMAIL, load, start, end);
}

static void load_ref(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    load_module_text(s, start + 1, end, T_REF, load, start, end);
}

// %"quoted file" ("^" escapes decoded, "%XX" kept) or %plain%20file ("%XX"
// decoded).
static void load_file(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end;
    if (end - start >= 2 && s->input[start + 1] == '"') {
        if (end >= s->length || s->input[end] != '"') {
            lexer_throw_error(s, start, end, T_FILE);
            return;
        }
        s->pos = end + 1;
        lexer_load_text(s, start + 2, end, T_FILE, true, load, start, end + 1);
        return;
    }
    load_module_text(s, start + 1, end, T_FILE, load, start, end);
}

// ---- maps -------------------------------------------------------------------------------------------------

// The map goes into the value cell the open marker held (the last one). The
// items pair up, and every key is of a key type; otherwise invalid map!.
void lexer_map_make(LexerState* s, Cell* block, uint32_t start, uint32_t end) {
    CellRoot items(*block);
    ItemsLiteralFn make = datatype_hooks(T_MAP).items_literal;
    Cell* made = stack_push_new(T_NONE);
    if (make == nullptr || !make(&items.cell, made)) {
        stack_pop(1);
        lexer_throw_error(s, start, end, T_MAP);  // the items stay a block
        return;
    }
    Cell* out = lexer_cell_at(s->tail - 1);
    out->header = (out->header & CELL_NEWLINE) | (made->header & ~CELL_NEWLINE);
    std::memcpy(cell_payload(out), cell_payload(made), 12);
    stack_pop(1);
}

const LexerFn lexer_loaders[KIND_COUNT] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr,
    load_quoted,         // string
    load_word,           // word
    load_issue,          // issue
    load_integer,        // integer
    load_refinement,     // refinement
    load_char,           // char
    load_file,           // file
    load_binary,         // binary
    load_percent,        // percent
    load_float,          // float
    load_float_special,  // 1.#INF and friends
    load_tuple,          // tuple
    load_date,           // date
    load_pair,           // pair
    nullptr,             // point: read whole at its "("
    load_time,           // time
    load_money,          // money
    load_tag,            // tag
    load_url,            // url
    load_email,          // email
    load_hex,            // hexadecimal integer
    load_raw_string,     // raw string
    load_ref,            // ref
};

} // namespace kel
