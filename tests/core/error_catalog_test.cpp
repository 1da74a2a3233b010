#include "core/error_catalog.hpp"

#include <gtest/gtest.h>
#include <string>

using namespace kel;

TEST(ErrorCatalog, CategoriesInOrderWithTitlesAndCounts) {
    struct Case {
        const char* name;
        const char* title;
        int ids;
    } cases[] = {
        {"throw", "Throw Error", 5},         {"note", "note", 1},
        {"syntax", "Syntax Error", 7},       {"script", "Script Error", 94},
        {"math", "Math Error", 3},           {"access", "Access Error", 15},
        {"reserved1", "Reserved1 Error", 0}, {"reserved2", "Reserved2 Error", 0},
        {"user", "User Error", 1},           {"internal", "Internal Error", 14},
    };
    for (int i = 0; i < ERROR_CATEGORY_COUNT; i++) {
        const ErrorCategoryEntry* c = error_catalog_category(i);
        ASSERT_NE(c, nullptr);
        EXPECT_STREQ(c->name, cases[i].name);
        EXPECT_STREQ(c->title, cases[i].title);
        EXPECT_EQ(c->code_base, i * 100);
        EXPECT_EQ(c->id_count, cases[i].ids);
    }
    EXPECT_EQ(error_catalog_category(10), nullptr);
    EXPECT_EQ(error_catalog_category(-1), nullptr);
}

TEST(ErrorCatalog, CodesAndNamesOfIds) {
    struct Case {
        ErrorCategory category;
        uint16_t id;
        int code;
        const char* name;
    } cases[] = {
        {ErrorCategory::script, ERR_NO_VALUE, 300, "no-value"},
        {ErrorCategory::script, ERR_NOT_DEFINED, 302, "not-defined"},
        {ErrorCategory::script, ERR_KB_INVALID_RECORD, 393, "kb-invalid-record"},
        {ErrorCategory::throw_, ERR_THROW, 2, "throw"},
        {ErrorCategory::syntax, ERR_MALCONSTRUCT, 205, "malconstruct"},
        {ErrorCategory::math, ERR_ZERO_DIVIDE, 400, "zero-divide"},
        {ErrorCategory::access, ERR_INVALID_UTF8, 502, "invalid-utf8"},
        {ErrorCategory::user, ERR_MESSAGE, 800, "message"},
        {ErrorCategory::internal, ERR_STACK_OVERFLOW, 904, "stack-overflow"},
        {ErrorCategory::internal, ERR_DEPRECATED, 913, "deprecated"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(error_code(c.category, c.id), c.code);
        const ErrorIdEntry* e = error_catalog_id(c.category, c.id);
        ASSERT_NE(e, nullptr) << c.name;
        EXPECT_STREQ(e->name, c.name);
        EXPECT_EQ(error_catalog_find_id(c.category, c.name), c.id);
    }
    EXPECT_EQ(error_catalog_id(ErrorCategory::script, 94), nullptr);
    EXPECT_EQ(error_catalog_id(ErrorCategory::reserved1, 0), nullptr);
}

TEST(ErrorCatalog, LookupByNameIgnoresLetterCase) {
    EXPECT_EQ(error_catalog_find_category("Script"), 3);
    EXPECT_EQ(error_catalog_find_category("INTERNAL"), 9);
    EXPECT_EQ(error_catalog_find_category("scrip"), -1);
    EXPECT_EQ(error_catalog_find_category("scripts"), -1);
    EXPECT_EQ(error_catalog_find_id(ErrorCategory::script, "Invalid-Arg"), ERR_INVALID_ARG);
    EXPECT_EQ(error_catalog_find_id(ErrorCategory::math, "invalid-arg"), -1);
    EXPECT_EQ(error_catalog_find_id(ErrorCategory::reserved2, "x"), -1);
}

// Renders a template the way printing joins its parts, arguments as <n>.
static std::string render(const ErrorIdEntry* e) {
    std::string out;
    for (int i = 0; i < e->part_count(); i++) {
        if (i) out += ' ';
        const MessagePart& p = e->parts[i];
        out += p.arg == MSG_TEXT ? std::string(p.text) : "<" + std::to_string(p.arg) + ">";
    }
    return out;
}

TEST(ErrorCatalog, Templates) {
    using C = ErrorCategory;
    struct Case {
        ErrorCategory category;
        uint16_t id;
        TemplateKind kind;
        const char* text;
    } cases[] = {
        {C::throw_, ERR_THROW, TEMPLATE_BLOCK, "no catch for throw: <1>"},
        {C::throw_, ERR_BREAK, TEMPLATE_STRING, "no loop to break"},
        {C::script, ERR_EXPECT_ARG, TEMPLATE_BLOCK, "<1> does not allow <2> for its <3> argument"},
        {C::script, ERR_UNSET_PATH, TEMPLATE_BLOCK, "<2> is unset in path <1>"},
        {C::internal, ERR_TOO_DEEP, TEMPLATE_STRING, "block or paren series is too deep to process"},
        {C::internal, ERR_INVALID_ERROR, TEMPLATE_BLOCK, "invalid error object field value: <1>"},
        {C::user, ERR_MESSAGE, TEMPLATE_ARG1, ""},
    };
    for (const Case& c : cases) {
        const ErrorIdEntry* e = error_catalog_id(c.category, c.id);
        EXPECT_EQ(e->kind, c.kind) << e->name;
        EXPECT_EQ(render(e), c.text);
    }
    // Every id but the user message has a template; argument references are 1 to 3.
    for (int i = 0; i < ERROR_CATEGORY_COUNT; i++) {
        const ErrorCategoryEntry* c = error_catalog_category(i);
        for (int k = 0; k < c->id_count; k++) {
            const ErrorIdEntry& e = c->ids[k];
            if (e.kind == TEMPLATE_ARG1) continue;
            EXPECT_GT(e.part_count(), 0) << e.name;
            if (e.kind == TEMPLATE_STRING) {
                EXPECT_EQ(e.part_count(), 1) << e.name;
            }
            for (int p = 0; p < e.part_count(); p++)
                EXPECT_TRUE(e.parts[p].arg <= MSG_ARG3 && (e.parts[p].arg != MSG_TEXT || *e.parts[p].text))
                    << e.name;
        }
    }
}
