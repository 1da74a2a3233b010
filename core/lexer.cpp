// The lexer engine: byte classes, the automaton that delimits tokens, the
// scanning loop, the value buffer with its nesting markers, the structural
// scanners, trace events, the error report and the entry points.
#include "core/lexer.hpp"
#include "core/lexer_internal.hpp"

#include "core/block.hpp"
#include "core/error.hpp"
#include "core/float_text.hpp"
#include "core/logic.hpp"
#include "core/numbers.hpp"
#include "core/path.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "runtime/collector.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace kel {

// ---- byte classes ----------------------------------------------------------------------

enum ByteClass : uint8_t {
    C_BLANK = 0, C_LF, C_DIGIT, C_ZERO, C_LBRACKET, C_RBRACKET, C_LPAREN, C_RPAREN, C_LBRACE,
    C_RBRACE, C_DQUOTE, C_HASH, C_QUOTE, C_COLON, C_X, C_T, C_H, C_E_LOWER, C_E_UPPER,
    C_HEX_LOWER, C_HEX_UPPER, C_SLASH, C_BACKSLASH, C_LT, C_GT, C_EQUAL, C_PERCENT, C_COMMA,
    C_SEMICOLON, C_AT, C_DOT, C_DOLLAR, C_PLUS, C_MINUS, C_CARET, C_CONTROL, C_CONTINUATION,
    C_OTHER, C_INVALID, C_END,
    CLASS_COUNT,
};

// Class word of each byte: the class in the low byte, the seen flags above.
static constexpr std::array<uint32_t, 256> build_class_words() {
    std::array<uint32_t, 256> w{};
    for (int b = 0; b < 256; b++) w[b] = C_OTHER;
    for (int b = 1; b < 0x20; b++) w[b] = C_CONTROL;
    w[0] = C_END | SEEN_NUL;
    w[' '] = C_BLANK; w['\t'] = C_BLANK; w['\r'] = C_BLANK; w['\n'] = C_LF;
    for (int b = '1'; b <= '9'; b++) w[b] = C_DIGIT;
    w['0'] = C_ZERO;
    w['['] = C_LBRACKET; w[']'] = C_RBRACKET; w['('] = C_LPAREN; w[')'] = C_RPAREN;
    w['{'] = C_LBRACE; w['}'] = C_RBRACE; w['"'] = C_DQUOTE;
    w['#'] = C_HASH | SEEN_HASH; w['\''] = C_QUOTE | SEEN_QUOTE; w[':'] = C_COLON | SEEN_COLON;
    w['x'] = C_X; w['X'] = C_X; w['T'] = C_T; w['h'] = C_H;
    w['e'] = C_E_LOWER | SEEN_EXPONENT; w['E'] = C_E_UPPER | SEEN_EXPONENT;
    for (int b = 'a'; b <= 'd'; b++) w[b] = C_HEX_LOWER;
    w['f'] = C_HEX_LOWER;
    for (int b = 'A'; b <= 'D'; b++) w[b] = C_HEX_UPPER;
    w['F'] = C_HEX_UPPER;
    w['/'] = C_SLASH; w['\\'] = C_BACKSLASH;
    w['<'] = C_LT | SEEN_LT; w['>'] = C_GT | SEEN_GT; w['='] = C_EQUAL;
    w['%'] = C_PERCENT | SEEN_PERCENT; w[','] = C_COMMA | SEEN_COMMA; w[';'] = C_SEMICOLON;
    w['@'] = C_AT; w['.'] = C_DOT | SEEN_DOT; w['$'] = C_DOLLAR;
    w['+'] = C_PLUS | SEEN_SIGN; w['-'] = C_MINUS | SEEN_SIGN; w['^'] = C_CARET | SEEN_CARET;
    for (int b = 0x7F; b <= 0xBF; b++) w[b] = C_CONTINUATION;
    for (int b = 0xC2; b <= 0xEF; b++) w[b] = C_OTHER | SEEN_LEAD;
    for (int b = 0xF0; b <= 0xF7; b++) w[b] = C_OTHER | SEEN_LEAD4;
    w[0xC0] = C_INVALID; w[0xC1] = C_INVALID;
    for (int b = 0xF8; b <= 0xFF; b++) w[b] = C_INVALID;
    return w;
}
static constexpr std::array<uint32_t, 256> class_words = build_class_words();

// ---- the automaton -----------------------------------------------------------------------

// Working states. 0 is the state between tokens, 4 inside a braced string and
// 59 after a path separator; the others follow one token's syntax.
enum LexState : uint8_t {
    S_START = 0, S_STR, S_STR_ESC, S_STR_END, S_BRACE, S_BRACE_ESC, S_HASH, S_MAP, S_CONS,
    S_CONS_END, S_BIN, S_BIN_END, S_CHAR, S_CHAR_ESC, S_CHAR_END, S_ISSUE, S_LIT, S_LWORD, S_GET,
    S_GWORD, S_NUM, S_DEC, S_DECD, S_EXP, S_EXPS, S_EXPD, S_TUPLE, S_PAIR, S_TIME, S_DATE,
    S_PERCENT, S_NUMHASH, S_SPECIAL, S_HEX, S_HEX_END, S_POINT, S_SIGN, S_WORD, S_WHEX, S_WHEX_H,
    S_WCOLON, S_URL, S_EMAIL, S_MONEY, S_PCT, S_PCTS, S_RAW_OPEN, S_FILE, S_FILEQ, S_FILEQ_ESC,
    S_LT, S_TAG, S_TAGQ, S_AT, S_REF, S_COMMENT, S_SLASH, S_SLASH2, S_DOT, S_PATH, S_REFINE,
    S_LSLASH,
    WORKING_STATES = 65,
};
constexpr uint8_t FINAL_BASE = 66;
constexpr uint8_t STATE_COUNT = FINAL_BASE + KIND_COUNT;
static constexpr uint8_t fin(LexerKind kind) { return uint8_t(FINAL_BASE + kind); }

using Row = std::array<uint8_t, CLASS_COUNT>;
using Matrix = std::array<Row, WORKING_STATES>;

// Bytes that end a token in most states.
static constexpr ByteClass delimiters[] = {C_BLANK, C_LF, C_LBRACKET, C_RBRACKET, C_LPAREN, C_RPAREN,
                                           C_LBRACE, C_RBRACE, C_DQUOTE, C_SEMICOLON, C_END};

static constexpr void fill(Row& r, uint8_t to) { for (auto& x : r) x = to; }
static constexpr void delim(Row& r, uint8_t to) { for (ByteClass c : delimiters) r[c] = to; }
static constexpr void on(Row& r, std::initializer_list<ByteClass> classes, uint8_t to) {
    for (ByteClass c : classes) r[c] = to;
}

static constexpr Matrix build_transitions() {
    Matrix m{};
    const uint8_t bad = fin(KIND_INVALID);
    for (auto& r : m) fill(r, bad);

    Row& st = m[S_START];
    fill(st, S_WORD);
    on(st, {C_BLANK, C_LF, C_CONTROL}, S_START);
    st[C_LBRACKET] = fin(KIND_BLOCK_OPEN); st[C_RBRACKET] = fin(KIND_BLOCK_CLOSE);
    st[C_LPAREN] = fin(KIND_PAREN_OPEN); st[C_RPAREN] = fin(KIND_PAREN_CLOSE);
    st[C_LBRACE] = fin(KIND_BRACE_OPEN);
    on(st, {C_RBRACE, C_CONTINUATION, C_INVALID, C_BACKSLASH}, bad);
    st[C_DQUOTE] = S_STR; st[C_HASH] = S_HASH; st[C_QUOTE] = S_LIT; st[C_COLON] = S_GET;
    on(st, {C_DIGIT, C_ZERO}, S_NUM);
    on(st, {C_PLUS, C_MINUS}, S_SIGN);
    st[C_PERCENT] = S_PCT; st[C_LT] = S_LT; st[C_AT] = S_AT; st[C_DOLLAR] = S_MONEY;
    st[C_SEMICOLON] = S_COMMENT; st[C_SLASH] = S_SLASH; st[C_COMMA] = fin(KIND_COMMA);
    st[C_DOT] = S_DOT; on(st, {C_HEX_UPPER, C_E_UPPER}, S_WHEX);
    st[C_END] = fin(KIND_END);
    m[S_POINT] = st;  // never entered: point literals are read whole at their "("

    Row& path = m[S_PATH];
    path = st;
    delim(path, bad);
    path[C_LPAREN] = fin(KIND_PAREN_OPEN); path[C_DQUOTE] = S_STR;
    on(path, {C_CONTROL, C_SLASH, C_COMMA}, bad);

    Row& str = m[S_STR];
    fill(str, S_STR); str[C_DQUOTE] = S_STR_END; str[C_CARET] = S_STR_ESC;
    on(str, {C_LF, C_END}, bad);
    fill(m[S_STR_ESC], S_STR); on(m[S_STR_ESC], {C_LF, C_END}, bad);
    fill(m[S_STR_END], fin(KIND_STRING));

    Row& brace = m[S_BRACE];
    fill(brace, S_BRACE); brace[C_LBRACE] = fin(KIND_BRACE_OPEN);
    brace[C_RBRACE] = fin(KIND_BRACE_CLOSE); brace[C_CARET] = S_BRACE_ESC; brace[C_END] = fin(KIND_END);
    fill(m[S_BRACE_ESC], S_BRACE); m[S_BRACE_ESC][C_END] = fin(KIND_END);

    Row& hash = m[S_HASH];
    fill(hash, S_ISSUE); delim(hash, fin(KIND_ISSUE));
    hash[C_LBRACKET] = S_MAP; hash[C_LPAREN] = S_CONS; hash[C_LBRACE] = S_BIN; hash[C_DQUOTE] = S_CHAR;
    on(hash, {C_CONTROL, C_INVALID}, bad);
    fill(m[S_MAP], fin(KIND_MAP_OPEN));
    fill(m[S_CONS], S_CONS); m[S_CONS][C_RPAREN] = S_CONS_END; on(m[S_CONS], {C_LF, C_END}, bad);
    fill(m[S_CONS_END], fin(KIND_CONSTRUCT));
    fill(m[S_BIN], S_BIN); m[S_BIN][C_RBRACE] = S_BIN_END; m[S_BIN][C_END] = bad;
    fill(m[S_BIN_END], fin(KIND_BINARY));
    Row& chr = m[S_CHAR];
    fill(chr, S_CHAR); chr[C_DQUOTE] = S_CHAR_END; chr[C_CARET] = S_CHAR_ESC; on(chr, {C_LF, C_END}, bad);
    fill(m[S_CHAR_ESC], S_CHAR); on(m[S_CHAR_ESC], {C_LF, C_END}, bad);
    fill(m[S_CHAR_END], fin(KIND_CHAR));
    fill(m[S_ISSUE], S_ISSUE); delim(m[S_ISSUE], fin(KIND_ISSUE));
    on(m[S_ISSUE], {C_CONTROL, C_INVALID}, bad);

    // words and their prefixed forms
    Row& word = m[S_WORD];
    fill(word, S_WORD); delim(word, fin(KIND_WORD));
    word[C_COLON] = S_WCOLON; word[C_SLASH] = fin(KIND_PATH_START); word[C_AT] = S_EMAIL;
    word[C_DOLLAR] = S_MONEY;
    on(word, {C_COMMA, C_CONTROL, C_INVALID, C_BACKSLASH}, bad);
    m[S_WHEX] = word;
    on(m[S_WHEX], {C_DIGIT, C_ZERO, C_HEX_UPPER, C_E_UPPER}, S_WHEX); m[S_WHEX][C_H] = S_WHEX_H;
    m[S_WHEX_H] = word; delim(m[S_WHEX_H], fin(KIND_HEX));
    Row& wcolon = m[S_WCOLON];
    fill(wcolon, S_URL); delim(wcolon, fin(KIND_WORD)); on(wcolon, {C_COLON, C_CONTROL, C_INVALID}, bad);
    fill(m[S_URL], S_URL); delim(m[S_URL], fin(KIND_URL)); on(m[S_URL], {C_CONTROL, C_INVALID}, bad);
    fill(m[S_EMAIL], S_EMAIL); delim(m[S_EMAIL], fin(KIND_EMAIL));
    on(m[S_EMAIL], {C_CONTROL, C_INVALID}, bad);
    for (LexState s : {S_LIT, S_GET}) {
        Row& r = m[s];
        fill(r, s == S_LIT ? S_LWORD : S_GWORD);
        delim(r, bad);
        on(r, {C_DIGIT, C_ZERO, C_COLON, C_QUOTE, C_CONTROL, C_CONTINUATION, C_INVALID, C_COMMA,
               C_BACKSLASH}, bad);
        r[C_SLASH] = S_LSLASH;
    }
    for (LexState s : {S_LWORD, S_GWORD}) {
        Row& r = m[s];
        fill(r, s); delim(r, fin(KIND_WORD));
        r[C_SLASH] = fin(KIND_PATH_START);
        on(r, {C_COLON, C_COMMA, C_CONTROL, C_INVALID, C_BACKSLASH}, bad);
    }
    Row& sign = m[S_SIGN];
    sign = word;
    on(sign, {C_DIGIT, C_ZERO}, S_NUM); sign[C_DOT] = S_DEC; sign[C_SLASH] = S_WORD;
    m[S_DOT] = word; on(m[S_DOT], {C_DIGIT, C_ZERO}, S_DECD);
    Row& slash = m[S_SLASH];
    fill(slash, S_REFINE); delim(slash, fin(KIND_REFINEMENT));
    slash[C_COLON] = S_SLASH2; slash[C_SLASH] = S_WORD;
    on(slash, {C_CONTROL, C_CONTINUATION, C_INVALID, C_COMMA, C_BACKSLASH}, bad);
    delim(m[S_SLASH2], fin(KIND_REFINEMENT));
    // "'/" and ":/", and "'//" and "://": the words / and // quoted or fetched.
    delim(m[S_LSLASH], fin(KIND_REFINEMENT)); m[S_LSLASH][C_SLASH] = S_SLASH2;
    fill(m[S_REFINE], S_REFINE); delim(m[S_REFINE], fin(KIND_REFINEMENT));
    on(m[S_REFINE], {C_SLASH, C_COLON, C_CONTROL, C_INVALID, C_COMMA, C_BACKSLASH}, bad);

    // numbers and the literals that begin with digits
    Row& num = m[S_NUM];
    delim(num, fin(KIND_INTEGER));
    on(num, {C_DIGIT, C_ZERO, C_QUOTE}, S_NUM);
    on(num, {C_DOT, C_COMMA}, S_DEC); on(num, {C_E_LOWER, C_E_UPPER}, S_EXP);
    num[C_X] = S_PAIR; num[C_COLON] = S_TIME; on(num, {C_MINUS, C_SLASH, C_T}, S_DATE);
    num[C_PERCENT] = S_PERCENT; num[C_HASH] = S_NUMHASH; num[C_H] = S_HEX_END;
    num[C_HEX_UPPER] = S_HEX; num[C_AT] = S_EMAIL;
    Row& dec = m[S_DEC];
    delim(dec, fin(KIND_FLOAT));
    on(dec, {C_DIGIT, C_ZERO}, S_DECD); on(dec, {C_E_LOWER, C_E_UPPER}, S_EXP);
    dec[C_HASH] = S_SPECIAL; dec[C_PERCENT] = S_PERCENT;
    Row& decd = m[S_DECD];
    delim(decd, fin(KIND_FLOAT));
    on(decd, {C_DIGIT, C_ZERO, C_QUOTE}, S_DECD); decd[C_DOT] = S_TUPLE;
    on(decd, {C_E_LOWER, C_E_UPPER}, S_EXP); decd[C_PERCENT] = S_PERCENT;
    Row& exp = m[S_EXP];
    on(exp, {C_PLUS, C_MINUS}, S_EXPS); on(exp, {C_DIGIT, C_ZERO}, S_EXPD);
    on(exp, {C_HEX_UPPER, C_E_UPPER}, S_HEX); exp[C_H] = S_HEX_END;
    on(m[S_EXPS], {C_DIGIT, C_ZERO}, S_EXPD);
    Row& expd = m[S_EXPD];
    delim(expd, fin(KIND_FLOAT));
    on(expd, {C_DIGIT, C_ZERO}, S_EXPD); expd[C_PERCENT] = S_PERCENT;
    on(expd, {C_HEX_UPPER, C_E_UPPER}, S_HEX); expd[C_H] = S_HEX_END;
    delim(m[S_TUPLE], fin(KIND_TUPLE)); on(m[S_TUPLE], {C_DIGIT, C_ZERO, C_DOT}, S_TUPLE);
    delim(m[S_PAIR], fin(KIND_PAIR)); on(m[S_PAIR], {C_DIGIT, C_ZERO, C_PLUS, C_MINUS, C_QUOTE}, S_PAIR);
    delim(m[S_TIME], fin(KIND_TIME));
    on(m[S_TIME], {C_DIGIT, C_ZERO, C_COLON, C_DOT, C_COMMA}, S_TIME);
    fill(m[S_DATE], S_DATE); delim(m[S_DATE], fin(KIND_DATE)); on(m[S_DATE], {C_CONTROL, C_INVALID}, bad);
    delim(m[S_PERCENT], fin(KIND_PERCENT));
    m[S_NUMHASH][C_LBRACE] = S_BIN;
    delim(m[S_SPECIAL], fin(KIND_FLOAT_SPECIAL));
    on(m[S_SPECIAL], {C_X, C_T, C_H, C_E_LOWER, C_E_UPPER, C_HEX_LOWER, C_HEX_UPPER, C_OTHER}, S_SPECIAL);
    on(m[S_HEX], {C_DIGIT, C_ZERO, C_HEX_UPPER, C_E_UPPER}, S_HEX); m[S_HEX][C_H] = S_HEX_END;
    delim(m[S_HEX_END], fin(KIND_HEX));

    // money, files, raw strings, tags, refs, comments
    delim(m[S_MONEY], fin(KIND_MONEY));
    on(m[S_MONEY], {C_DIGIT, C_ZERO, C_QUOTE, C_DOT, C_COMMA}, S_MONEY);
    Row& pct = m[S_PCT];
    fill(pct, S_FILE); delim(pct, fin(KIND_FILE));
    pct[C_LBRACE] = S_RAW_OPEN; pct[C_PERCENT] = S_PCTS; pct[C_DQUOTE] = S_FILEQ;
    on(pct, {C_CONTROL, C_INVALID}, bad);
    m[S_PCTS] = pct; m[S_PCTS][C_DQUOTE] = S_FILE;
    fill(m[S_RAW_OPEN], fin(KIND_RAW_STRING));
    fill(m[S_FILE], S_FILE); delim(m[S_FILE], fin(KIND_FILE)); on(m[S_FILE], {C_CONTROL, C_INVALID}, bad);
    fill(m[S_FILEQ], S_FILEQ); on(m[S_FILEQ], {C_DQUOTE, C_LF, C_END}, fin(KIND_FILE));
    m[S_FILEQ][C_CARET] = S_FILEQ_ESC;
    fill(m[S_FILEQ_ESC], S_FILEQ); on(m[S_FILEQ_ESC], {C_LF, C_END}, fin(KIND_FILE));
    Row& lt = m[S_LT];
    fill(lt, S_TAG); delim(lt, fin(KIND_WORD)); on(lt, {C_EQUAL, C_GT, C_LT}, S_WORD);
    on(lt, {C_CONTROL, C_INVALID}, bad);
    fill(m[S_TAG], S_TAG); m[S_TAG][C_GT] = fin(KIND_TAG); m[S_TAG][C_DQUOTE] = S_TAGQ; m[S_TAG][C_END] = bad;
    fill(m[S_TAGQ], S_TAGQ); m[S_TAGQ][C_DQUOTE] = S_TAG; m[S_TAGQ][C_END] = bad;
    fill(m[S_AT], S_REF); delim(m[S_AT], fin(KIND_REF)); on(m[S_AT], {C_CONTROL, C_INVALID}, bad);
    m[S_REF] = m[S_AT];
    fill(m[S_COMMENT], S_COMMENT); on(m[S_COMMENT], {C_LF, C_END}, fin(KIND_COMMENT));
    return m;
}
static constexpr Matrix transitions = build_transitions();

// Every state ends a token at the end of the input.
static constexpr bool end_is_final() {
    for (const Row& r : transitions)
        if (r[C_END] < FINAL_BASE) return false;
    return true;
}
static_assert(end_is_final(), "the end of the input must end every token");

// Datatype of each state: for a final state the token's type (0 for
// structure); for a working state the type a token that fails there is
// reported as.
static constexpr std::array<uint8_t, STATE_COUNT> build_state_types() {
    std::array<uint8_t, STATE_COUNT> t{};
    auto set = [&t](std::initializer_list<uint8_t> states, uint8_t type) {
        for (uint8_t s : states) t[s] = type;
    };
    set({S_STR, S_STR_ESC, S_STR_END, S_BRACE, S_BRACE_ESC, S_RAW_OPEN}, T_STRING);
    set({S_HASH, S_ISSUE}, T_ISSUE);
    set({S_MAP}, T_MAP);
    set({S_BIN, S_BIN_END, S_NUMHASH}, T_BINARY);
    set({S_CHAR, S_CHAR_ESC, S_CHAR_END}, T_CHAR);
    set({S_LIT, S_LWORD}, T_LIT_WORD);
    set({S_GET, S_GWORD}, T_GET_WORD);
    set({S_NUM, S_HEX, S_HEX_END}, T_INTEGER);
    set({S_DEC, S_DECD, S_EXP, S_EXPS, S_EXPD, S_SPECIAL}, T_FLOAT);
    set({S_TUPLE}, T_TUPLE);
    set({S_PAIR}, T_PAIR);
    set({S_TIME}, T_TIME);
    set({S_DATE}, T_DATE);
    set({S_PERCENT}, T_PERCENT);
    set({S_POINT}, T_POINT2D);
    set({S_SIGN, S_WORD, S_WHEX, S_WHEX_H, S_WCOLON, S_LT, S_DOT}, T_WORD);
    set({S_URL}, T_URL);
    set({S_EMAIL}, T_EMAIL);
    set({S_MONEY}, T_MONEY);
    set({S_PCT, S_PCTS, S_FILE, S_FILEQ, S_FILEQ_ESC}, T_FILE);
    set({S_TAG, S_TAGQ}, T_TAG);
    set({S_AT, S_REF}, T_REF);
    set({S_SLASH, S_SLASH2, S_REFINE, S_LSLASH}, T_REFINEMENT);
    set({S_PATH}, T_PATH);
    const uint8_t finals[KIND_COUNT] = {
        0, T_ERROR, 0, 0, 0, 0, 0, T_STRING, 0, 0, 0, 0, 0, T_STRING, T_WORD, T_ISSUE, T_INTEGER,
        T_REFINEMENT, T_CHAR, T_FILE, T_BINARY, T_PERCENT, T_FLOAT, T_FLOAT, T_TUPLE, T_DATE,
        T_PAIR, T_POINT2D, T_TIME, T_MONEY, T_TAG, T_URL, T_EMAIL, T_INTEGER, T_STRING, T_REF,
    };
    for (uint32_t k = 0; k < KIND_COUNT; k++) t[FINAL_BASE + k] = finals[k];
    return t;
}
static constexpr std::array<uint8_t, STATE_COUNT> state_types = build_state_types();

// ---- the value buffer and the chain of running lexers -----------------------------------

constexpr uint32_t VALUE_BUFFER_CELLS = 1000;

// One buffer of cells outside the frames, shared by nested runs: each run uses
// the stretch from its head to its tail, after the enclosing run's values.
static Cell* value_cells = nullptr;
static uint32_t value_capacity = 0;
static LexerState* chain_head = nullptr;
static LexerCallbackCaller callback_caller = nullptr;

// The open marker: a cell of this type holds the enclosing base (w1), the
// type of the series being opened (w2) and the opening token's offset (w3).
constexpr uint8_t T_MARKER = T_TRIPLE;
static uint32_t marker_enclosing(const Cell* m) { return m->w1; }
static uint8_t marker_series_type(const Cell* m) { return uint8_t(m->w2); }
static uint32_t marker_opened(const Cell* m) { return m->w3; }
static void marker_set(Cell* m, uint32_t enclosing, uint8_t type, uint32_t opened) {
    m->w1 = enclosing;
    m->w2 = type;
    m->w3 = opened;
}

static void value_cells_reserve(uint32_t needed) {
    if (needed <= value_capacity) return;
    uint32_t capacity = value_capacity ? value_capacity : VALUE_BUFFER_CELLS;
    while (capacity < needed) capacity *= 2;
    void* moved = std::realloc(value_cells, size_t(capacity) * sizeof(Cell));
    if (!moved) error_raise(ERR_NO_MEMORY);
    value_cells = static_cast<Cell*>(moved);
    value_capacity = capacity;
}

Cell* lexer_cell_at(uint32_t index) { return value_cells + index; }

Cell* lexer_cell_new(LexerState* s) {
    value_cells_reserve(s->tail + 1);
    Cell* c = value_cells + s->tail++;
    cell_init(c, T_UNSET);
    if (s->lines_in_token > 0) c->header |= CELL_NEWLINE;
    return c;
}

void lexer_cell_drop(LexerState* s) {
    if (s->tail > s->base) s->tail--;
}

void lexer_mark() {
    for (LexerState* s = chain_head; s; s = s->next)
        collector_mark_values(value_cells + s->head, value_cells + s->tail);
}

void lexer_callback_caller_set(LexerCallbackCaller caller) { callback_caller = caller; }

// ---- Unicode spaces ------------------------------------------------------------------------

// Code points that separate tokens like blanks.
static constexpr uint32_t unicode_spaces[] = {
    0x0085, 0x00A0, 0x1680, 0x180E, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006,
    0x2007, 0x2008, 0x2009, 0x200A, 0x200B, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

bool lexer_unicode_space_at(const LexerState* s, uint32_t offset, uint32_t* size) {
    int32_t cp;
    const uint8_t* at = s->input + offset;
    const uint8_t* after = utf8_decode_char(at, s->input + s->length, &cp);
    if (cp < 0) return false;
    for (uint32_t space : unicode_spaces)
        if (uint32_t(cp) == space) {
            *size = uint32_t(after - at);
            return true;
        }
    return false;
}

// ---- events ----------------------------------------------------------------------------------

// Offset of a source position in the source's own units (characters of a
// string!, bytes of a binary!), from the input start. Events come in nearly
// source order (a token's end, then its start again), so characters are
// counted from the last position asked for, forward or back: a run's events
// cost time linear in its length.
static uint32_t source_units(LexerState* s, uint32_t offset) {
    if (!s->source_string) return offset;
    if (offset < s->units_at && s->units_at - offset <= offset) {
        s->units_count -= utf8_count_chars(s->input + offset, s->input + s->units_at);
    } else {
        if (offset < s->units_at) s->units_at = s->units_count = 0;
        s->units_count += utf8_count_chars(s->input + s->units_at, s->input + offset);
    }
    s->units_at = offset;
    return s->units_count;
}

// The byte offset of a position in the source's units: the inverse of
// source_units, counted from the last position known.
static uint32_t source_offset(LexerState* s, uint32_t units) {
    if (!s->source_string) return units < s->length ? units : s->length;
    uint32_t from = 0, counted = 0;
    if (units >= s->units_count) {
        from = s->units_at;
        counted = s->units_count;
    }
    const uint8_t* at = utf8_skip_chars(s->input + from, s->input + s->length, units - counted);
    return uint32_t(at - s->input);
}

static const Cell* event_word(uint32_t event) {
    switch (event) {
    case LEX_EVENT_PRESCAN: return runtime_word(W_PRESCAN);
    case LEX_EVENT_SCAN: return runtime_word(W_SCAN);
    case LEX_EVENT_LOAD: return runtime_word(W_LOAD);
    case LEX_EVENT_OPEN: return runtime_word(W_OPEN);
    case LEX_EVENT_CLOSE: return runtime_word(W_CLOSE);
    default: return runtime_word(W_ERROR);
    }
}

bool lexer_event(LexerState* s, uint32_t event, uint8_t type, const Cell* value, uint32_t start,
                 uint32_t end) {
    if (event == LEX_EVENT_SCAN && type == T_ERROR) event = LEX_EVENT_ERROR;
    if (!s->callback || !callback_caller || !(s->mask & event)) return true;
    Cell* args = data_stack.top;
    stack_push(event_word(event));
    uint32_t base_index = 0;
    if (s->source) {
        base_index = uint32_t(series_index(s->source));
        Cell* src = stack_push(s->source);
        series_index_set(src, int32_t(base_index + source_units(s, start)));
    } else {
        none_push();
    }
    if (type == LEX_TYPE_COMMENT) stack_push(runtime_word(W_COMMENT_TYPE));
    else if (type) datatype_push(type);
    else none_push();
    integer_push(s->line);
    if (value) stack_push(value);
    else pair_push(int32_t(source_units(s, start) + 1), int32_t(source_units(s, end) + 1));
    uint32_t index_before = uint32_t(series_index(&args[1]));
    bool answer = callback_caller(s->callback, args);
    if (s->source && cell_type(&args[1]) == cell_type(s->source) && series_node(&args[1]) == series_node(s->source) &&
        uint32_t(series_index(&args[1])) != index_before) {
        uint32_t units = uint32_t(series_index(&args[1])) > base_index ? uint32_t(series_index(&args[1])) - base_index : 0;
        s->resume = int32_t(source_offset(s, units));
    }
    data_stack.top = args;
    return answer;
}

uint32_t lexer_event_mask(const Cell* spec, uint32_t otherwise) {
    if (!spec || (cell_type(spec) != T_BLOCK) || block_ks_length_q(spec) < 1) return otherwise;
    Cell* first = block_ks_abs_at(spec, uint32_t(series_index(spec)));
    if (cell_type(first) != T_BLOCK) return otherwise;
    static const struct { uint32_t word; uint32_t bit; } names[] = {
        {W_PRESCAN, LEX_EVENT_PRESCAN}, {W_SCAN, LEX_EVENT_SCAN}, {W_LOAD, LEX_EVENT_LOAD},
        {W_OPEN, LEX_EVENT_OPEN}, {W_CLOSE, LEX_EVENT_CLOSE}, {W_ERROR, LEX_EVENT_ERROR},
    };
    uint32_t mask = 0;
    int32_t count = block_ks_length_q(first);
    for (int32_t i = 0; i < count; i++) {
        const Cell* c = block_ks_abs_at(first, uint32_t(series_index(first)) + uint32_t(i));
        if (cell_type(c) != T_WORD) continue;
        for (const auto& n : names)
            if (symbol_resolve(word_symbol(c)) == symbol_resolve(word_symbol(runtime_word(RuntimeWord(n.word)))))
                mask |= n.bit;
    }
    return mask;
}

// ---- the error report -----------------------------------------------------------------------

// Pushes a new string! of UTF-8 bytes, each invalid byte read as U+FFFD.
static Cell* push_text(const uint8_t* from, const uint8_t* to) {
    Cell* str = stack_push_new(T_NONE);  // a collection in string_make_at marks it
    string_make_at(str, uint32_t(to - from) + 1);
    while (from < to) {
        int32_t cp;
        const uint8_t* after = utf8_decode_char(from, to, &cp);
        if (cp < 0) {
            cp = 0xFFFD;
            after = from + 1;
        }
        string_append_char(str, uint32_t(cp));
        from = after;
    }
    return str;
}

// The excerpt of an error: from the token start up to the end of its line,
// whole characters, stopping once 30 bytes have been passed.
static uint32_t excerpt_end(const LexerState* s, uint32_t start) {
    uint32_t p = start;
    while (p < s->length && s->input[p] != '\n' && p - start < 30) {
        uint32_t size = utf8_lead_size(s->input[p]);
        p += size ? size : 1;
    }
    return p < s->length ? p : s->length;
}

struct LexerDeferredError {
    bool set = false;
    SyntaxError id = ERR_INVALID;
    CellRoot args[3];
};

void lexer_throw_error(LexerState* s, uint32_t start, uint32_t end, int32_t code) {
    if (s->window) {
        s->needs_more = s->stopped = true;
        s->token_type = LEXER_STOPPED;
        return;
    }
    if (!s->load) {
        s->token_type = LEXER_STOPPED;
        s->stopped = true;
        return;
    }
    bool go_on = false;
    if (s->callback && (s->mask & LEX_EVENT_ERROR)) {
        uint8_t best = code > 0 ? uint8_t(code) : s->pending_type ? s->pending_type
                     : s->token_type ? s->token_type : uint8_t(T_ERROR);
        if (!lexer_event(s, LEX_EVENT_ERROR, best, nullptr, start, end)) {
            s->token_type = LEXER_STOPPED;
            s->stopped = true;
            return;
        }
        go_on = s->deferred != nullptr;
    }
    if (start > s->length) start = s->length;
    Cell* top = data_stack.top;
    char line[32];
    int n = std::snprintf(line, sizeof line, "(line %d)", s->line);
    Cell* args[3] = {};
    args[0] = push_text(reinterpret_cast<const uint8_t*>(line), reinterpret_cast<const uint8_t*>(line) + n);
    Cell* excerpt = push_text(s->input + start, s->input + excerpt_end(s, start));
    SyntaxError id = ERR_INVALID;
    if (code == LEX_BAD_CHAR || code == LEX_MALCONSTRUCT) {
        id = code == LEX_BAD_CHAR ? ERR_BAD_CHAR : ERR_MALCONSTRUCT;
        args[1] = excerpt;
    } else if (code == LEX_MISSING || code == LEX_MISSING_AT_END) {
        uint8_t at = 0;
        if (code == LEX_MISSING && s->token_end < s->length) at = s->input[s->token_end];
        char missing = 0;
        switch (s->pending_type) {
        case T_BLOCK: case T_MAP: missing = at == ']' ? '[' : ']'; break;
        case T_PAREN: case T_POINT2D: missing = at == ')' ? '(' : ')'; break;
        default: break;
        }
        id = ERR_MISSING;
        args[1] = push_text(reinterpret_cast<const uint8_t*>(&missing),
                            reinterpret_cast<const uint8_t*>(&missing) + (missing ? 1 : 0));
        args[2] = excerpt;
    } else {
        args[1] = datatype_push(uint8_t(code));
        args[2] = excerpt;
    }
    if (!go_on) error_raise(id, args[0], args[1], args[2]);
    // The latest error is kept, so that it names the place the callback saw last.
    LexerDeferredError* kept = s->deferred;
    kept->set = true;
    kept->id = id;
    for (int i = 0; i < 3; i++) {
        if (args[i]) cell_copy(args[i], &kept->args[i].cell);
        else cell_init(&kept->args[i].cell, T_NONE);
    }
    data_stack.top = top;
    s->stopped = s->skipping = true;
}

// ---- structure --------------------------------------------------------------------------------

static bool marker_q(const Cell* c) { return cell_type(c) == T_MARKER; }

// The type of the innermost open series, 0 when none is open.
static uint8_t open_type(const LexerState* s) {
    return s->base > s->head ? marker_series_type(lexer_cell_at(s->base - 1)) : 0;
}

static void push_marker(LexerState* s, uint8_t type, uint32_t offset) {
    if (!lexer_event(s, LEX_EVENT_OPEN, type, nullptr, offset, offset + 1)) return;
    Cell* m = lexer_cell_new(s);
    m->header = (m->header & CELL_NEWLINE) | T_MARKER;
    marker_set(m, s->base, type, offset);
    s->base = s->tail;
    s->start_state = S_START;
}

// Makes a series of the type from the cells from index `first` to the tail and
// writes it into out (which must lie outside the value buffer when out is
// not the buffer's own cell at first - 1).
static void series_from_values(LexerState* s, uint32_t first, uint8_t type, Cell* out) {
    uint32_t count = s->tail - first;
    Cell made;
    block_make_at(&made, int32_t(count ? count : 1));  // may collect: the cells are marked
    SeriesBuffer* b = series_buffer_of(&made);
    if (count) std::memcpy(b->head_ptr(), lexer_cell_at(first), count * sizeof(Cell));
    b->tail = b->head + count * uint32_t(sizeof(Cell));
    cell_type_set(&made, type);
    out->header = (out->header & CELL_NEWLINE) | type;
    series_index_set(out, 0);
    series_node_set(out, series_node(&made));
    series_extra_set(out, 0);
}

// Closes the innermost open series with the type wanted by the closing token.
static void close_series(LexerState* s, uint8_t want, uint32_t start, uint32_t end) {
    if (s->base == s->head) {
        s->pending_type = want;
        lexer_throw_error(s, start, end, LEX_MISSING);
        return;
    }
    uint32_t marker = s->base - 1;
    uint8_t type = marker_series_type(lexer_cell_at(marker));
    uint32_t opened = marker_opened(lexer_cell_at(marker));
    if (!lexer_event(s, LEX_EVENT_CLOSE, type, nullptr, opened, end)) {
        s->start_state = S_START;
        return;
    }
    bool same = type == want || (want == T_BLOCK && type == T_MAP) ||
                (path_type_q(type) && path_type_q(want));
    if (!same) {
        s->pending_type = type;
        lexer_throw_error(s, start, end, LEX_MISSING);
        return;
    }
    uint8_t made = path_type_q(want) ? want : type;
    uint32_t enclosing = marker_enclosing(lexer_cell_at(marker));
    uint32_t first = s->base;
    if (!s->load) s->tail = marker;
    s->base = enclosing;
    s->token_type = made;
    s->start_state = path_type_q(open_type(s)) ? S_PATH : S_START;
    if (!s->load) return;
    if (made != T_MAP) {
        series_from_values(s, first, made, lexer_cell_at(marker));
        s->tail = marker + 1;
        return;
    }
    // The items become a block in the marker's cell, then a map in its place.
    CellRoot block;
    cell_init(&block.cell, T_BLOCK);
    series_from_values(s, first, T_BLOCK, &block.cell);
    Cell* out = lexer_cell_at(marker);
    out->header = (out->header & CELL_NEWLINE) | T_BLOCK;
    series_index_set(out, 0);
    series_node_set(out, series_node(&block.cell));
    series_extra_set(out, 0);
    s->tail = marker + 1;
    lexer_map_make(s, &block.cell, opened, end);
}

// The point-literal test after a "(": number bytes up to a "," (or the end).
static bool point_literal_ahead(const LexerState* s, uint32_t after) {
    if (s->length - after < 4) return false;
    for (uint32_t p = after; p < s->length; p++) {
        uint8_t b = s->input[p];
        if (b == ',') return true;
        if (b == '\t' || b == ' ' || b == '#' || b == '+' || b == '-' || b == '.' ||
            (b >= '0' && b <= '9') || (b && std::strchr("AEFINaefin", b)))
            continue;
        return false;
    }
    return true;
}

// A point literal "(x, y)" or "(x, y, z)" read whole from its "(".
static void scan_point_literal(LexerState* s, uint32_t open) {
    uint32_t close = open + 1;
    while (close < s->length && s->input[close] != ')' && s->input[close] != '\n') close++;
    if (close >= s->length || s->input[close] != ')') {
        s->pending_type = T_POINT2D;
        s->token_end = close;
        lexer_throw_error(s, open, close, close >= s->length ? LEX_MISSING_AT_END : LEX_MISSING);
        return;
    }
    Cell point;
    cell_init(&point, T_NONE);
    if (!lexer_scan_literal(T_POINT2D, s->input + open, s->input + close + 1, &point)) {
        lexer_throw_error(s, open, close + 1, T_POINT2D);
        return;
    }
    s->pos = close + 1;
    s->token_type = cell_type(&point);
    if (!lexer_event(s, LEX_EVENT_SCAN, s->token_type, nullptr, open, close + 1) || !s->load) return;
    uint32_t at = s->tail;
    Cell* c = lexer_cell_new(s);
    c->header = (c->header & CELL_NEWLINE) | point.header;
    std::memcpy(cell_payload(c), cell_payload(&point), 12);
    if (!lexer_event(s, LEX_EVENT_LOAD, s->token_type, lexer_cell_at(at), open, close + 1)) s->tail = at;
}

// ---- structural scanners ------------------------------------------------------------------------

static void scan_end(LexerState* s, uint32_t, uint32_t, uint32_t, bool) { s->pos = s->length; }

static void scan_invalid(LexerState* s, uint32_t start, uint32_t end, uint32_t, bool) {
    int32_t code = s->prev_state < WORKING_STATES && state_types[s->prev_state]
                 ? state_types[s->prev_state] : LEX_BAD_CHAR;
    if (s->prev_state == S_CONS) code = LEX_MALCONSTRUCT;
    if (s->brace_depth > 0) start = uint32_t(s->brace_start);
    lexer_throw_error(s, start, end, code);
}

static void scan_open(LexerState* s, uint32_t start, uint32_t end, uint32_t, bool) {
    s->pos = end + 1;
    bool paren = s->input[end] == '(';
    if (paren && point_literal_ahead(s, end + 1)) {
        scan_point_literal(s, end);
        return;
    }
    push_marker(s, paren ? T_PAREN : T_BLOCK, end);
}

static void scan_close(LexerState* s, uint32_t start, uint32_t end, uint32_t, bool) {
    s->pos = end + 1;
    close_series(s, s->input[end] == ']' ? T_BLOCK : T_PAREN, start, end);
}

static void scan_brace_open(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool) {
    s->pos = end + 1;
    if (s->brace_depth == 0) {
        s->brace_start = int32_t(end);
        s->brace_flags = s->lines_in_token > 0 ? SEEN_BRACE_NEWLINE : 0;
        if (!lexer_event(s, LEX_EVENT_OPEN, T_STRING, nullptr, end, end + 1)) return;
    }
    s->brace_depth++;
    s->brace_flags |= flags;
    s->start_state = S_BRACE;
}

static void scan_brace_close(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load) {
    s->pos = end + 1;
    s->brace_flags |= flags;
    if (--s->brace_depth > 0) return;
    uint32_t open = uint32_t(s->brace_start);
    uint32_t text_flags = s->brace_flags;
    s->brace_start = -1;
    s->brace_flags = 0;
    s->brace_depth = 0;
    s->start_state = S_START;
    s->token_type = T_STRING;
    s->token_start = open;
    if (!lexer_event(s, LEX_EVENT_CLOSE, T_STRING, nullptr, open, end + 1)) return;
    s->lines_in_token = (text_flags & SEEN_BRACE_NEWLINE) ? 1 : 0;
    bool escapes = (text_flags & SEEN_CARET) != 0;
    if (!load) {
        lexer_load_text(s, open + 1, end, T_STRING, escapes, false, open, end + 1);
        return;
    }
    if (!lexer_event(s, LEX_EVENT_SCAN, T_STRING, nullptr, open, end + 1)) return;
    uint32_t at = s->tail;
    lexer_load_text(s, open + 1, end, T_STRING, escapes, true, open, end + 1);
    if (s->stopped) return;
    if (s->tail > at && !lexer_event(s, LEX_EVENT_LOAD, T_STRING, lexer_cell_at(at), open, end + 1))
        s->tail = at;
}

static void scan_map_open(LexerState* s, uint32_t start, uint32_t end, uint32_t, bool) {
    s->pos = end;
    push_marker(s, T_MAP, start);
}

static void scan_path_start(LexerState* s, uint32_t start, uint32_t end, uint32_t, bool load) {
    uint8_t first = s->input[start];
    uint8_t type = first == '\'' ? T_LIT_PATH : first == ':' ? T_GET_PATH : T_PATH;
    s->pos = end + 1;  // past the "/"
    if (s->pos >= s->length) {
        lexer_throw_error(s, start, s->pos, T_PATH);
        return;
    }
    push_marker(s, type, start);
    s->start_state = S_PATH;
    uint32_t name = type == T_PATH ? start : start + 1;
    s->lines_in_token = 0;
    s->token_type = T_WORD;
    if (!lexer_event(s, LEX_EVENT_SCAN, T_WORD, nullptr, name, end)) return;
    if (!load) return;
    uint32_t at = s->tail;
    lexer_loaders[KIND_WORD](s, name, end, 0, true);
    if (s->stopped) return;
    if (s->tail > at && !lexer_event(s, LEX_EVENT_LOAD, T_WORD, lexer_cell_at(at), name, end)) s->tail = at;
    s->pos = end + 1;
}

static void scan_comment(LexerState* s, uint32_t start, uint32_t end, uint32_t, bool) {
    s->pos = end;
    lexer_event(s, LEX_EVENT_SCAN, LEX_TYPE_COMMENT, nullptr, start, end);
}

static void scan_comma(LexerState* s, uint32_t start, uint32_t end, uint32_t, bool) {
    s->pos = end + 1;
    lexer_throw_error(s, start, end + 1, T_POINT2D);
}

// After each element of an open path: close it or pass the separator.
static void path_element_step(LexerState* s) {
    uint32_t p = s->pos;
    uint8_t b = p < s->length ? s->input[p] : 0;
    if (b == '/') {
        if (p + 1 >= s->length) {
            lexer_throw_error(s, p, p + 1, T_PATH);
            return;
        }
        s->pos = p + 1;
        s->start_state = S_PATH;
        return;
    }
    uint8_t type = open_type(s);
    if (b == ':') {
        s->pos = ++p;
        if (p < s->length && s->input[p] == '/') {
            lexer_throw_error(s, p, p + 1, T_PATH);
            return;
        }
        type = T_SET_PATH;
    }
    close_series(s, type, s->pos, s->pos);
}

static const LexerFn scanners[KIND_STRING + 3] = {
    scan_end, scan_invalid, scan_open, scan_close, scan_open, scan_close, scan_brace_open,
    scan_brace_close, scan_map_open, scan_path_start, lexer_scan_construct, scan_comment, scan_comma,
    lexer_scan_quoted, lexer_scan_word, lexer_scan_issue,
};

// ---- the scanning loop ----------------------------------------------------------------------------

// Where a token ends when its processing is skipped: past a closing byte the
// automaton stopped on.
static uint32_t token_resume(uint32_t kind, uint32_t end) {
    switch (kind) {
    case KIND_BLOCK_OPEN: case KIND_BLOCK_CLOSE: case KIND_PAREN_OPEN: case KIND_PAREN_CLOSE:
    case KIND_BRACE_OPEN: case KIND_BRACE_CLOSE: case KIND_COMMA: case KIND_TAG:
        return end + 1;
    default: return end;
    }
}

// Closes the innermost open series quietly with the values read so far (a
// map's items as a block): what a run keeps of a series an error left open.
static void close_open_series(LexerState* s) {
    uint32_t marker = s->base - 1;
    uint8_t type = marker_series_type(lexer_cell_at(marker));
    uint32_t enclosing = marker_enclosing(lexer_cell_at(marker));
    if (s->load) {
        series_from_values(s, s->base, type == T_MAP ? uint8_t(T_BLOCK) : type, lexer_cell_at(marker));
        s->tail = marker + 1;
    } else {
        s->tail = marker;
    }
    s->base = enclosing;
}

// After a token whose error the callback went on past: drops what the token
// left behind, closes a path or braced string it was in, and moves past it
// (or where the callback moved the input), always forward.
static void lexer_recover(LexerState* s) {
    s->stopped = s->skipping = false;
    s->pending_type = 0;
    s->pending_code = -1;
    if (s->tail > s->token_tail) {
        s->tail = s->token_tail;
        if (s->base > s->tail) s->base = s->token_base;
    }
    while (s->base > s->head && path_type_q(open_type(s))) close_open_series(s);
    s->brace_start = -1;
    s->brace_depth = 0;
    s->brace_flags = 0;
    s->start_state = S_START;
    uint32_t after = s->pos > s->token_end ? s->pos : s->token_end;
    if (s->resume >= 0) {
        after = uint32_t(s->resume);
        s->resume = -1;
    }
    if (after <= s->token_start && s->token_start < s->length) {
        uint32_t size = utf8_lead_size(s->input[s->token_start]);
        after = s->token_start + (size ? size : 1);
    }
    s->pos = after < s->length ? after : s->length;
}

static void lexer_scan_tokens(LexerState* s, bool one, bool prescan) {
    while (s->pos < s->length && !s->stopped) {
        s->token_tail = s->tail;
        s->token_base = s->base;
        uint32_t state = s->start_state;
        uint32_t flags = 0, p = s->pos, token = p;
        int32_t lines_before = 0;
        bool in_path = state == S_PATH;
        uint32_t next;
        for (;;) {
            uint32_t word = 0, size = 1, cls = C_END;
            if (p >= s->length && s->window) {
                s->needs_more = s->stopped = true;
                return;
            }
            if (p < s->length) {
                word = class_words[s->input[p]];
                cls = word & 0xFF;
                if ((word & (SEEN_LEAD | SEEN_LEAD4)) && lexer_unicode_space_at(s, p, &size)) cls = C_BLANK;
                else size = 1;
                if (in_path && state != S_PATH && (cls == C_SLASH || cls == C_COLON)) cls = C_BLANK;
            }
            next = transitions[state][cls];
            if (next >= FINAL_BASE) break;
            if (state == S_START && next == S_START) {
                token = p + size;
                if (cls == C_LF) lines_before++;
            } else {
                flags |= word;
            }
            if (cls == C_LF) s->line++;
            p += size;
            state = next;
        }
        uint32_t kind = next - FINAL_BASE;
        s->token_start = token;
        s->token_end = p;
        s->pos = p;
        s->prev_state = state;
        s->lines_in_token = lines_before;
        s->pending_code = -1;
        s->token_type = state_types[next];
        s->resume = -1;

        bool point_paren = kind == KIND_PAREN_OPEN && point_literal_ahead(s, p + 1);
        if (prescan && kind <= KIND_STRING) {
            scanners[kind](s, token, p, flags, false);
        } else if (s->callback && s->brace_depth == 0 && !point_paren && kind != KIND_INVALID &&
                   kind != KIND_END &&
                   !lexer_event(s, LEX_EVENT_PRESCAN, s->token_type, nullptr, token, p)) {
            s->pos = token_resume(kind, p);
        } else if (kind < KIND_STRING) {
            scanners[kind](s, token, p, flags, s->load);
        } else if (!prescan || kind > KIND_STRING) {
            LexerFn loader = lexer_loaders[kind];
            bool has_scanner = kind <= KIND_ISSUE;
            bool go = true;
            if (!(s->load && !has_scanner && !(s->callback && (s->mask & LEX_EVENT_SCAN)))) {
                (has_scanner ? scanners[kind] : loader)(s, token, p, flags, false);
                if (s->stopped) break;
                go = lexer_event(s, LEX_EVENT_SCAN, s->token_type, nullptr, token, p);
            }
            if (go && s->load && loader) {
                uint32_t at = s->tail;
                loader(s, token, p, flags, true);
                if (s->stopped) break;
                if (s->tail > at && !lexer_event(s, LEX_EVENT_LOAD, s->token_type, lexer_cell_at(at), token, p))
                    s->tail = at;
            }
        }
        if (s->stopped) break;
        if (s->start_state == S_PATH && kind != KIND_PATH_START && kind != KIND_INVALID) {
            path_element_step(s);
            if (s->stopped) break;
        }
        if (s->resume >= 0) {
            s->pos = uint32_t(s->resume);
            s->resume = -1;
        }
        if ((one || prescan) && s->token_type != 0) {
            uint32_t count = s->tail - s->head;
            if ((count == 0 || (count == 1 && !marker_q(lexer_cell_at(s->head)))) &&
                s->start_state != S_PATH && s->start_state != S_BRACE && kind != KIND_PATH_START)
                break;
        }
        s->last_type = s->token_type;
    }
    if (!s->stopped && s->brace_depth > 0 && s->pos >= s->length)
        lexer_throw_error(s, uint32_t(s->brace_start), s->length, T_STRING);
}

static void lexer_scan(LexerState* s, bool one, bool prescan) {
    lexer_scan_tokens(s, one, prescan);
    while (s->stopped && s->skipping) {
        lexer_recover(s);
        lexer_scan_tokens(s, one, prescan);
    }
}

// ---- entry points ---------------------------------------------------------------------------------

// Links a state at the end of the chain for the life of a run.
struct ChainLink {
    LexerState* s;
    explicit ChainLink(LexerState* state) : s(state) {
        LexerState* last = chain_head;
        while (last && last->next) last = last->next;
        s->previous = last;
        s->next = nullptr;
        if (last) last->next = s;
        else chain_head = s;
    }
    ~ChainLink() {
        if (s->previous) s->previous->next = nullptr;
        else chain_head = nullptr;
    }
};

// What lexer_run returns when a window run gave up.
constexpr int32_t LEXER_MORE = -1;

// Bytes of lookahead a finished window run must leave unread before the
// window's end (a delimiter, a Unicode space), so that its result is the one
// the whole text gives.
constexpr uint32_t WINDOW_MARGIN = 8;

// Runs the lexer over text owned by the caller (never a series buffer). With
// window the text is a leading part of the input: a run that reaches its end
// or meets an error returns LEXER_MORE having changed nothing the caller sees.
static int32_t lexer_run(Cell* dest, const std::vector<uint8_t>& text, bool window, const LexerOptions& o,
                         int32_t* consumed) {
    CellRoot callback, source, into;
    if (o.callback) callback.cell = *o.callback;
    if (o.source) source.cell = *o.source;
    if (o.into) into.cell = *o.into;

    LexerState s{};
    ChainLink link(&s);
    s.head = s.base = s.tail = s.previous ? s.previous->tail : 0;
    s.input = text.data();
    s.length = uint32_t(text.size());
    s.line = 1;
    s.brace_start = -1;
    s.resume = -1;
    s.callback = o.callback ? &callback.cell : nullptr;
    s.mask = o.event_mask;
    s.source = o.source ? &source.cell : nullptr;
    s.source_string = o.source && cell_type(o.source) != T_BINARY;
    s.load = o.load && o.scan;
    LexerDeferredError deferred;
    s.deferred = &deferred;
    s.window = window;
    bool prescan = !o.scan;

    lexer_scan(&s, o.one, prescan);
    if (window && (s.needs_more || s.pos + WINDOW_MARGIN > s.length)) return LEXER_MORE;

    if (!s.stopped && s.base != s.head) {
        Cell* marker = lexer_cell_at(s.base - 1);
        uint8_t type = marker_series_type(marker);
        if (prescan && path_type_q(type)) {
            s.token_type = type;
        } else {
            s.pending_type = type;
            uint32_t opened = marker_opened(marker);
            s.token_end = s.length;
            lexer_throw_error(&s, opened, s.length, LEX_MISSING_AT_END);
            if (s.needs_more) return LEXER_MORE;
            // Gone on past: every series still open keeps what it read.
            if (s.skipping) {
                s.stopped = s.skipping = false;
                while (s.base != s.head) close_open_series(&s);
            }
        }
    }
    if (consumed) *consumed = int32_t(source_units(&s, s.pos));
    if (s.stopped) {
        if (o.load) none_make_at(dest);
        return LEXER_STOPPED;
    }
    if (o.load && o.scan) {
        uint32_t count = s.tail - s.head;
        if (o.one && !o.keep_all && count > 0) {
            cell_copy(lexer_cell_at(s.head), dest);
            cell_clear_newline(dest);
            if (o.into) {
                block_ks_append(&into.cell, dest);
                cell_copy(&into.cell, dest);
            }
        } else if (o.into) {
            CellRoot made;
            series_from_values(&s, s.head, T_BLOCK, &made.cell);
            block_copy_cells(&into.cell, &made.cell);
            cell_copy(&into.cell, dest);
        } else {
            cell_init(dest, T_BLOCK);
            series_from_values(&s, s.head, T_BLOCK, dest);
        }
    }
    if (deferred.set) {
        const Cell* args[3];
        for (int i = 0; i < 3; i++)
            args[i] = cell_type(&deferred.args[i].cell) == T_NONE ? nullptr : &deferred.args[i].cell;
        error_raise(deferred.id, args[0], args[1], args[2]);
    }
    return s.token_type ? s.token_type : s.last_type;
}

// A one-value run reads only as much of the text as its first value needs:
// it lexes a window of the text's start, doubled until the value ends well
// inside it, so reading values one by one costs time linear in the text,
// not in the text's rest at each value. A run with a callback reads the
// whole text at once: its events must happen once.
constexpr uint32_t FIRST_WINDOW = 256;

static bool windowed(const LexerOptions& o) { return o.one && !o.callback; }

int32_t lexer_transcode(Cell* dest, const uint8_t* input, uint32_t length, const LexerOptions& options,
                        int32_t* consumed) {
    std::vector<uint8_t> text;
    // A run may move the series buffer the input lies in: later windows are
    // read again through the source's node.
    CellRoot source;
    uint32_t offset = 0;
    bool in_source = false;
    if (options.source && cell_type(options.source) == T_BINARY) {
        source.cell = *options.source;
        const uint8_t* head = series_buffer_of(&source.cell)->head_ptr();
        in_source = input >= head && input + length <= head + series_buffer_of(&source.cell)->length();
        offset = uint32_t(input - head);
    }
    if (windowed(options) && in_source) {
        for (uint32_t window = FIRST_WINDOW; window < length; window *= 2) {
            input = series_buffer_of(&source.cell)->head_ptr() + offset;
            text.assign(input, input + window);
            int32_t kind = lexer_run(dest, text, true, options, consumed);
            if (kind != LEXER_MORE) return kind;
        }
        input = series_buffer_of(&source.cell)->head_ptr() + offset;
    }
    text.assign(input, input + length);
    return lexer_run(dest, text, false, options, consumed);
}

// The UTF-8 of count characters from the string's position.
static void string_window_utf8(const Cell* str, uint32_t count, std::vector<uint8_t>* text) {
    SeriesBuffer* b = series_buffer_of(str);
    const uint8_t* from = b->head_ptr() + (size_t(uint32_t(series_index(str))) << b->shift());
    // Sized by the real UTF-8 length, whatever the string's unit.
    uint32_t bytes = utf8_measure_units(from, from + (size_t(count) << b->shift()), b->unit());
    text->resize(size_t(bytes) + 1);
    uint32_t written = string_to_utf8_into(str, text->data(), int32_t(count), true);
    text->resize(written);
}

int32_t lexer_scan_string(Cell* dest, const Cell* string, int32_t length, const LexerOptions& options,
                          int32_t* consumed) {
    CellRoot str(*string);
    uint32_t available = string_ks_length_q(&str.cell);
    uint32_t count = length < 0 || uint32_t(length) > available ? available : uint32_t(length);
    LexerOptions o = options;
    o.source = &str.cell;
    std::vector<uint8_t> text;
    if (windowed(o)) {
        for (uint32_t window = FIRST_WINDOW; window < count; window *= 2) {
            string_window_utf8(&str.cell, window, &text);
            int32_t kind = lexer_run(dest, text, true, o, consumed);
            if (kind != LEXER_MORE) return kind;
        }
    }
    string_window_utf8(&str.cell, count, &text);
    return lexer_run(dest, text, false, o, consumed);
}

void lexer_init() {
    value_cells_reserve(VALUE_BUFFER_CELLS);
    collector_remove_root(lexer_mark);
    collector_add_root(lexer_mark);
}

// ---- numbers from text ------------------------------------------------------------------------------

int32_t scan_integer(const uint8_t* start, uint32_t count, uint32_t unit, int32_t* error) {
    *error = 0;
    uint32_t i = 0;
    bool negative = false;
    if (count > 0) {
        uint32_t c = string_get_char(start, unit);
        if (c == '+' || c == '-') {
            negative = c == '-';
            i = 1;
        }
    }
    int64_t value = 0;
    bool digits = false;
    for (; i < count; i++) {
        uint32_t c = string_get_char(start + size_t(i) * unit, unit);
        if (c == '\'') continue;
        if (c < '0' || c > '9') {
            *error = -1;
            return 0;
        }
        digits = true;
        value = value * 10 + (c - '0');
        if (value > int64_t(INT32_MAX) + 1) {
            *error = -2;
            return 0;
        }
    }
    if (!digits) {
        *error = -1;
        return 0;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) {
        *error = -2;
        return 0;
    }
    return int32_t(value);
}

double scan_float(const uint8_t* start, uint32_t count, uint32_t unit, int32_t* error) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    *error = -1;
    if (count == 0 || count >= 313) return nan;
    char text[313];
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = string_get_char(start + size_t(i) * unit, unit);
        if (c == '\'') continue;
        if (c > 127) return nan;
        text[n++] = c == ',' ? '.' : char(c);
    }
    int32_t unconsumed = 0;
    double d = string_to_float(text, text + n, 0, &unconsumed);
    if (n == 0 || unconsumed != 0) return nan;
    *error = 0;
    return d;
}

} // namespace kel
