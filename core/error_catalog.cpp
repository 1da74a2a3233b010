// The error catalog table. Entries stand in catalog order; the id field of
// each repeats its enumerator, and a compile-time check proves that entry n of
// every category is the id of position n.
#include "core/error_catalog.hpp"
#include <iterator>

namespace kel {

namespace {

constexpr MessageArg arg1 = MSG_ARG1;
constexpr MessageArg arg2 = MSG_ARG2;
constexpr MessageArg arg3 = MSG_ARG3;
constexpr TemplateKind STRING = TEMPLATE_STRING;
constexpr TemplateKind BLOCK = TEMPLATE_BLOCK;

constexpr ErrorIdEntry throw_ids[] = {
    {ERR_BREAK, "break", STRING, {"no loop to break"}},
    {ERR_RETURN, "return", STRING, {"return or exit not in function"}},
    {ERR_THROW, "throw", BLOCK, {"no catch for throw:", arg1}},
    {ERR_CONTINUE, "continue", STRING, {"no loop to continue"}},
    {ERR_WHILE_COND, "while-cond", STRING, {"BREAK/CONTINUE cannot be used in WHILE condition block"}},
};

constexpr ErrorIdEntry note_ids[] = {
    {ERR_NO_LOAD, "no-load", BLOCK, {"cannot load:", arg1}},
};

// Lexer errors: arg1 is "(line n)", the last argument the text at the fault.
constexpr ErrorIdEntry syntax_ids[] = {
    {ERR_INVALID, "invalid", BLOCK, {arg1, "invalid", arg2, "at", arg3}},
    {ERR_MISSING, "missing", BLOCK, {arg1, "missing", arg2, "at", arg3}},
    {ERR_NO_HEADER, "no-header", BLOCK, {"script is missing a Kel header:", arg1}},
    {ERR_NO_KS_HEADER, "no-ks-header", BLOCK, {"script is missing a Kel/System header:", arg1}},
    {ERR_BAD_HEADER, "bad-header", BLOCK, {"script header is not valid:", arg1}},
    {ERR_MALCONSTRUCT, "malconstruct", BLOCK, {arg1, "invalid construction spec at", arg2}},
    {ERR_BAD_CHAR, "bad-char", BLOCK, {arg1, "invalid character at", arg2}},
};

constexpr ErrorIdEntry script_ids[] = {
    {ERR_NO_VALUE, "no-value", BLOCK, {arg1, "has no value"}},
    {ERR_NEED_VALUE, "need-value", BLOCK, {arg1, "needs a value"}},
    {ERR_NOT_DEFINED, "not-defined", BLOCK, {arg1, "word is not bound to a context"}},
    {ERR_NOT_IN_CONTEXT, "not-in-context", BLOCK, {"context for", arg1, "is not available"}},
    {ERR_NO_ARG, "no-arg", BLOCK, {arg1, "is missing its", arg2, "argument"}},
    {ERR_EXPECT_ARG, "expect-arg", BLOCK, {arg1, "does not allow", arg2, "for its", arg3, "argument"}},
    {ERR_EXPECT_VAL, "expect-val", BLOCK, {"expected", arg1, "not", arg2}},
    {ERR_EXPECT_TYPE, "expect-type", BLOCK, {arg1, "field must be of type", arg2}},
    {ERR_CANNOT_USE, "cannot-use", BLOCK, {"cannot use", arg1, "on", arg2, "value"}},
    {ERR_INVALID_ARG, "invalid-arg", BLOCK, {"invalid argument:", arg1}},
    {ERR_INVALID_TYPE, "invalid-type", BLOCK, {arg1, "type is not allowed here"}},
    {ERR_INVALID_TYPE_SPEC, "invalid-type-spec", BLOCK, {"invalid type specifier:", arg1}},
    {ERR_INVALID_KEY_TYPE, "invalid-key-type", BLOCK, {"invalid key type:", arg1}},
    {ERR_INVALID_OP, "invalid-op", BLOCK, {"invalid operator:", arg1}},
    {ERR_NO_OP_ARG, "no-op-arg", BLOCK, {arg1, "operator is missing an argument"}},
    {ERR_BAD_OP_SPEC, "bad-op-spec", STRING,
     {"making an op! requires a function with only 2 arguments and no lit/get-word on left argument"}},
    {ERR_INVALID_DATA, "invalid-data", BLOCK, {"data not in correct format:", arg1}},
    {ERR_INVALID_PART, "invalid-part", BLOCK, {"invalid /part count:", arg1}},
    {ERR_NOT_SAME_TYPE, "not-same-type", STRING, {"values must be of the same type"}},
    {ERR_NOT_SAME_CLASS, "not-same-class", BLOCK, {"cannot coerce", arg1, "to", arg2}},
    {ERR_NOT_RELATED, "not-related", BLOCK, {"incompatible argument for", arg1, "of", arg2}},
    {ERR_BAD_FUNC_DEF, "bad-func-def", BLOCK, {"invalid function definition:", arg1}},
    {ERR_BAD_FUNC_ARG, "bad-func-arg", BLOCK, {"function argument", arg1, "is not valid"}},
    {ERR_BAD_FUNC_EXTERN, "bad-func-extern", BLOCK, {"invalid /extern value:", arg1}},
    {ERR_NO_REFINE, "no-refine", BLOCK, {arg1, "has no refinement called", arg2}},
    {ERR_BAD_REFINES, "bad-refines", STRING, {"incompatible or invalid refinements"}},
    {ERR_BAD_REFINE, "bad-refine", BLOCK, {"invalid refinement:", arg1}},
    {ERR_DUP_REFINE, "dup-refine", BLOCK, {"duplicate refinement usage in:", arg1}},
    {ERR_WORD_FIRST, "word-first", BLOCK, {"path must start with a word:", arg1}},
    {ERR_EMPTY_PATH, "empty-path", STRING, {"cannot evaluate an empty path value"}},
    {ERR_UNSET_PATH, "unset-path", BLOCK, {arg2, "is unset in path", arg1}},
    {ERR_INVALID_PATH, "invalid-path", BLOCK, {"cannot access", arg2, "in path", arg1}},
    {ERR_INVALID_PATH_SET, "invalid-path-set", BLOCK, {"unsupported type in", arg1, "set-path"}},
    {ERR_INVALID_PATH_GET, "invalid-path-get", BLOCK, {"unsupported type in", arg1, "get-path"}},
    {ERR_BAD_PATH_TYPE, "bad-path-type", BLOCK, {"path", arg1, "is not valid for", arg2, "type"}},
    {ERR_BAD_PATH_TYPE2, "bad-path-type2", BLOCK, {arg1, "is not a valid path element for", arg2, "type"}},
    {ERR_BAD_PATH_SET, "bad-path-set", BLOCK, {"cannot set", arg2, "in path", arg1}},
    {ERR_BAD_FIELD_SET, "bad-field-set", BLOCK, {"cannot set", arg1, "field to", arg2, "datatype"}},
    {ERR_DUP_VARS, "dup-vars", BLOCK, {"duplicate variable specified:", arg1}},
    {ERR_PAST_END, "past-end", STRING, {"out of range or past end"}},
    {ERR_MISSING_ARG, "missing-arg", STRING, {"missing a required argument or refinement"}},
    {ERR_OUT_OF_RANGE, "out-of-range", BLOCK, {"value out of range:", arg1}},
    {ERR_INVALID_CHARS, "invalid-chars", STRING, {"contains invalid characters"}},
    {ERR_INVALID_COMPARE, "invalid-compare", BLOCK, {"cannot compare", arg1, "with", arg2}},
    {ERR_WRONG_TYPE, "wrong-type", BLOCK, {"datatype assertion failed for:", arg1}},
    {ERR_INVALID_REFINE_ARG, "invalid-refine-arg", BLOCK, {"invalid", arg1, "argument:", arg2}},
    {ERR_TYPE_LIMIT, "type-limit", BLOCK, {arg1, "overflow/underflow"}},
    {ERR_SIZE_LIMIT, "size-limit", BLOCK, {"maximum limit reached:", arg1}},
    {ERR_NO_RETURN, "no-return", STRING, {"block did not return a value"}},
    {ERR_THROW_USAGE, "throw-usage", STRING, {"invalid use of a thrown error value"}},
    {ERR_LOCKED_WORD, "locked-word", BLOCK, {"cannot modify a locked word:", arg1}},
    {ERR_PROTECTED, "protected", STRING, {"protected value or series - cannot modify"}},
    {ERR_BAD_BAD, "bad-bad", BLOCK, {arg1, "error:", arg2}},
    {ERR_BAD_MAKE_ARG, "bad-make-arg", BLOCK, {"cannot MAKE", arg1, "from:", arg2}},
    {ERR_BAD_TO_ARG, "bad-to-arg", BLOCK, {"cannot MAKE/TO", arg1, "from:", arg2}},
    {ERR_INVALID_MONTHS, "invalid-months", STRING, {"invalid system/locale/months list"}},
    {ERR_INVALID_SPEC_FIELD, "invalid-spec-field", BLOCK, {"invalid", arg1, "field in spec block"}},
    {ERR_MISSING_SPEC_FIELD, "missing-spec-field", BLOCK, {arg1, "not found in spec block"}},
    {ERR_MOVE_BAD, "move-bad", BLOCK, {"cannot MOVE elements from", arg1, "to", arg2}},
    {ERR_TOO_LONG, "too-long", STRING, {"Content too long"}},
    {ERR_INVALID_CHAR, "invalid-char", BLOCK, {"invalid character in:", arg1}},
    {ERR_BAD_LOOP_SERIES, "bad-loop-series", BLOCK, {"Loop series changed to invalid value:", arg1}},
    {ERR_WRONG_DENOM, "wrong-denom", BLOCK, {arg1, "not same denomination as", arg2}},
    {ERR_BAD_DENOM, "bad-denom", BLOCK, {"invalid denomination:", arg1}},
    {ERR_INVALID_OBJ_EVT, "invalid-obj-evt", BLOCK, {"invalid object event handler:", arg1}},
    {ERR_PARSE_RULE, "parse-rule", BLOCK, {"PARSE - invalid rule or usage of rule:", arg1}},
    {ERR_PARSE_END, "parse-end", BLOCK, {"PARSE - unexpected end of rule after:", arg1}},
    {ERR_PARSE_INVALID_REF, "parse-invalid-ref", BLOCK, {"PARSE - get-word refers to a different series:", arg1}},
    {ERR_PARSE_BLOCK, "parse-block", BLOCK, {"PARSE - input must be of any-block! type:", arg1}},
    {ERR_PARSE_UNSUPPORTED, "parse-unsupported", STRING,
     {"PARSE - matching by datatype not supported for any-string! input"}},
    {ERR_PARSE_INFINITE, "parse-infinite", BLOCK, {"PARSE - infinite recursion at rule:", arg1}},
    {ERR_PARSE_STACK, "parse-stack", STRING, {"PARSE - stack limit reached"}},
    {ERR_PARSE_KEEP, "parse-keep", STRING, {"PARSE - KEEP is used without a wrapping COLLECT"}},
    {ERR_PARSE_INTO_BAD, "parse-into-bad", STRING,
     {"PARSE - COLLECT INTO/AFTER target cannot be the input series"}},
    {ERR_PARSE_INTO_TYPE, "parse-into-type", STRING,
     {"PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype"}},
    {ERR_DRAW_INVALID, "draw-invalid", BLOCK, {"DRAW - invalid input at:", arg1}},
    {ERR_DRAW_INFINITE, "draw-infinite", BLOCK, {"DRAW - infinite recursion at:", arg1}},
    {ERR_INVALID_DATA_FACET, "invalid-data-facet", BLOCK, {"VIEW - invalid data facet content:", arg1}},
    {ERR_FACE_TYPE, "face-type", BLOCK, {"VIEW - invalid face type:", arg1}},
    {ERR_NOT_WINDOW, "not-window", STRING, {"VIEW - expected a window root face"}},
    {ERR_BAD_WINDOW, "bad-window", STRING, {"VIEW - a window face cannot be nested in another window"}},
    {ERR_NOT_LINKED, "not-linked", STRING, {"VIEW - face not linked to a window"}},
    {ERR_NOT_EVENT_TYPE, "not-event-type", BLOCK, {"VIEW - not a valid event type:", arg1}},
    {ERR_INVALID_FACET_TYPE, "invalid-facet-type", BLOCK, {"VIEW - invalid rate value:", arg1}},
    {ERR_VID_INVALID_SYNTAX, "vid-invalid-syntax", BLOCK, {"VID - invalid syntax at:", arg1}},
    {ERR_RTD_INVALID_SYNTAX, "rtd-invalid-syntax", BLOCK, {"RTD - invalid syntax at:", arg1}},
    {ERR_RTD_NO_MATCH, "rtd-no-match", BLOCK, {"RTD - opening/closing tag not matching for:", arg1}},
    {ERR_REACT_BAD_FUNC, "react-bad-func", STRING, {"REACT - /LINK option requires a function! as argument"}},
    {ERR_REACT_NOT_ENOUGH, "react-not-enough", STRING,
     {"REACT - reactive functions must accept at least 2 arguments"}},
    {ERR_REACT_NO_MATCH, "react-no-match", STRING,
     {"REACT - objects block length must match reaction function arg count"}},
    {ERR_REACT_BAD_OBJ, "react-bad-obj", STRING, {"REACT - target can only contain object values"}},
    {ERR_REACT_GCTX, "react-gctx", BLOCK, {"REACT - a global word cannot be a reactive source:", arg1}},
    {ERR_LIB_INVALID_ARG, "lib-invalid-arg", BLOCK, {"LIBKEL - invalid argument for", arg1}},
    {ERR_KB_INVALID_RECORD, "kb-invalid-record", BLOCK, {"KELBIN - invalid record at index", arg1}},
};

constexpr ErrorIdEntry math_ids[] = {
    {ERR_ZERO_DIVIDE, "zero-divide", STRING, {"attempt to divide by zero"}},
    {ERR_OVERFLOW, "overflow", STRING, {"math or number overflow"}},
    {ERR_POSITIVE, "positive", STRING, {"positive number required"}},
};

constexpr ErrorIdEntry access_ids[] = {
    {ERR_CANNOT_OPEN, "cannot-open", BLOCK, {"cannot open:", arg1}},
    {ERR_CANNOT_CLOSE, "cannot-close", BLOCK, {"cannot close:", arg1}},
    {ERR_INVALID_UTF8, "invalid-utf8", BLOCK, {"invalid UTF-8 encoding:", arg1}},
    {ERR_NOT_OPEN, "not-open", BLOCK, {"port is not open:", arg1}},
    {ERR_NO_CONNECT, "no-connect", BLOCK, {"cannot connect:", arg1}},
    {ERR_NO_SCHEME, "no-scheme", BLOCK, {"missing port scheme:", arg1}},
    {ERR_UNKNOWN_SCHEME, "unknown-scheme", BLOCK, {"scheme is unknown:", arg1}},
    {ERR_INVALID_SPEC, "invalid-spec", BLOCK, {"invalid spec or options:", arg1}},
    {ERR_INVALID_PORT, "invalid-port", STRING, {"invalid port object (invalid field values)"}},
    {ERR_INVALID_ACTOR, "invalid-actor", STRING, {"invalid port actor (must be a handle or an object)"}},
    {ERR_NO_PORT_ACTION, "no-port-action", STRING, {"port action not supported"}},
    {ERR_NO_CREATE, "no-create", BLOCK, {"cannot create:", arg1}},
    {ERR_NO_CODEC, "no-codec", BLOCK, {"cannot decode or encode (no codec):", arg1}},
    {ERR_BAD_MEDIA, "bad-media", STRING, {"bad media data (corrupt image, sound or video)"}},
    {ERR_INVALID_CMD, "invalid-cmd", BLOCK, {"invalid port command:", arg1}},
};

constexpr ErrorIdEntry user_ids[] = {
    {ERR_MESSAGE, "message", TEMPLATE_ARG1, {}},
};

constexpr ErrorIdEntry internal_ids[] = {
    {ERR_BAD_PATH, "bad-path", BLOCK, {"bad path:", arg1}},
    {ERR_NOT_HERE, "not-here", BLOCK, {arg1, "not supported on your system"}},
    {ERR_NO_MEMORY, "no-memory", STRING, {"not enough memory"}},
    {ERR_WRONG_MEM, "wrong-mem", STRING, {"failed to release memory"}},
    {ERR_STACK_OVERFLOW, "stack-overflow", STRING, {"stack overflow"}},
    {ERR_LIMIT_HIT, "limit-hit", BLOCK, {"internal limit reached:", arg1}},
    {ERR_TOO_DEEP, "too-deep", STRING, {"block or paren series is too deep to process"}},
    {ERR_NO_CYCLE, "no-cycle", STRING, {"circular reference not allowed"}},
    {ERR_FEATURE_NA, "feature-na", STRING, {"feature not available"}},
    {ERR_NOT_DONE, "not-done", STRING, {"reserved for future use (or not yet implemented)"}},
    {ERR_INVALID_ERROR, "invalid-error", BLOCK, {"invalid error object field value:", arg1}},
    {ERR_ROUTINES, "routines", STRING, {"routines require compilation, from OS shell: `kel -r <script.kel>`"}},
    {ERR_KEL_SYSTEM, "kel-system", STRING, {"contains Kel/System code which requires compilation"}},
    {ERR_DEPRECATED, "deprecated", BLOCK, {arg1, "is DEPRECATED, please use", arg2, "instead"}},
};

constexpr bool ids_in_order(const ErrorIdEntry* ids, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (ids[i].id != i) return false;
    return true;
}

constexpr ErrorCategoryEntry categories[ERROR_CATEGORY_COUNT] = {
    {"throw", "Throw Error", 0, throw_ids, uint16_t(std::size(throw_ids))},
    {"note", "note", 100, note_ids, uint16_t(std::size(note_ids))},
    {"syntax", "Syntax Error", 200, syntax_ids, uint16_t(std::size(syntax_ids))},
    {"script", "Script Error", 300, script_ids, uint16_t(std::size(script_ids))},
    {"math", "Math Error", 400, math_ids, uint16_t(std::size(math_ids))},
    {"access", "Access Error", 500, access_ids, uint16_t(std::size(access_ids))},
    {"reserved1", "Reserved1 Error", 600, nullptr, 0},
    {"reserved2", "Reserved2 Error", 700, nullptr, 0},
    {"user", "User Error", 800, user_ids, uint16_t(std::size(user_ids))},
    {"internal", "Internal Error", 900, internal_ids, uint16_t(std::size(internal_ids))},
};

constexpr bool catalog_in_order() {
    for (const ErrorCategoryEntry& c : categories)
        if (!ids_in_order(c.ids, c.id_count)) return false;
    return true;
}
static_assert(catalog_in_order(), "catalog entries stand at the position their id names");
static_assert(std::size(script_ids) == ERR_KB_INVALID_RECORD + 1, "script ids take codes 300 to 393");

bool name_equal(std::string_view a, const char* b) {
    size_t i = 0;
    for (; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (y == 0) return false;
        if (x >= 'A' && x <= 'Z') x = uint8_t(x + 32);
        if (y >= 'A' && y <= 'Z') y = uint8_t(y + 32);
        if (x != y) return false;
    }
    return b[i] == 0;
}

} // namespace

int ErrorIdEntry::part_count() const {
    int n = 0;
    while (n < ERROR_TEMPLATE_PARTS && (parts[n].arg != MSG_TEXT || parts[n].text)) ++n;
    return n;
}

const ErrorCategoryEntry* error_catalog_category(int position) {
    if (position < 0 || position >= ERROR_CATEGORY_COUNT) return nullptr;
    return &categories[position];
}

const ErrorIdEntry* error_catalog_id(ErrorCategory category, int position) {
    const ErrorCategoryEntry* entry = error_catalog_category(int(category));
    if (!entry || position < 0 || position >= entry->id_count) return nullptr;
    return &entry->ids[position];
}

int error_catalog_find_category(std::string_view name) {
    for (int i = 0; i < ERROR_CATEGORY_COUNT; ++i)
        if (name_equal(name, categories[i].name)) return i;
    return -1;
}

int error_catalog_find_id(ErrorCategory category, std::string_view name) {
    const ErrorCategoryEntry* entry = error_catalog_category(int(category));
    if (!entry) return -1;
    for (int i = 0; i < entry->id_count; ++i)
        if (name_equal(name, entry->ids[i].name)) return i;
    return -1;
}

} // namespace kel
