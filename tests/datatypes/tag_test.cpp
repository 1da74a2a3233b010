#include "datatypes/tag.hpp"
#include "core/registry.hpp"
#include "tests/core/string_fixture.hpp"
#include <gtest/gtest.h>
#include <string>

using namespace kel;
using namespace kel::testing;

namespace {

using TagFamily = RuntimeTest;

Cell* typed_push(const std::string& text, uint8_t type) {
    Cell* c = text_push(text);
    cell_type_set(c, type);
    return c;
}

// The text a form or mold function writes for a value.
std::string printed(FormMoldFn fn, const Cell* value, bool part = false, int32_t budget = 0,
                    int32_t* left = nullptr) {
    Cell* out = text_push("");
    int32_t rest = fn(value, out, false, false, false, part, budget, 0);
    if (left) *left = rest;
    std::string text = text_of(out);
    stack_pop(1);
    return text;
}

TEST_F(TagFamily, EachKindPrintsWithItsDelimiters) {
    Cell* tag = typed_push("a b", T_TAG);
    EXPECT_EQ(printed(tag_form, tag), "<a b>");
    auto mold = action_slot_as<FormMoldFn>(T_TAG, A_MOLD);
    auto form = action_slot_as<FormMoldFn>(T_TAG, A_FORM);
    EXPECT_EQ(printed(mold, tag), "<a b>");
    EXPECT_EQ(printed(form, tag), "<a b>");
    int32_t left = 0;
    EXPECT_EQ(printed(tag_form, tag, true, 10, &left), "<a b>");
    EXPECT_EQ(left, 5);

    // An email molds bare even where a string would need quotes.
    Cell* email = typed_push("a\"b@c.d", T_EMAIL);
    EXPECT_EQ(printed(email_mold, email), "a\"b@c.d");
    Cell* ref = typed_push("ref", T_REF);
    EXPECT_EQ(printed(ref_mold, ref), "@ref");
    ref->w1 = 1;
    EXPECT_EQ(printed(ref_mold, ref), "@ef");
}

TEST_F(TagFamily, AppendToATagAddsItsText) {
    Cell* tag = typed_push("a", T_TAG);
    Cell* more = text_push(" href=x");
    string_insert(tag, more, -1, false, 1, true);
    EXPECT_EQ(printed(tag_form, tag), "<a href=x>");
    // A tag appended to a string keeps its brackets.
    Cell* s = text_push("x");
    string_insert(s, tag, -1, false, 1, true);
    EXPECT_EQ(text_of(s), "x<a href=x>");
}

TEST_F(TagFamily, SlotsFollowEachKind) {
    EXPECT_EQ(action_slot(T_REF, A_APPEND), nullptr);
    EXPECT_NE(action_slot(T_REF, A_INSERT), nullptr);
    EXPECT_EQ(action_slot(T_REF, A_EVAL_PATH), nullptr);
    EXPECT_EQ(action_slot(T_TAG, A_SORT), nullptr);
    EXPECT_EQ(action_slot(T_EMAIL, A_TRIM), nullptr);
    EXPECT_EQ(action_slot(T_EMAIL, A_FORM), action_slot(T_STRING, A_FORM));
    EXPECT_EQ(action_slot(T_TAG, A_EVAL_PATH), action_slot(T_STRING, A_EVAL_PATH));
}

TEST_F(TagFamily, EmailPathReadsAndSetsUserAndHost) {
    Cell path;
    cell_init(&path, T_NONE);
    Cell user = word_cell(T_WORD, symbol_make("user"));
    Cell host = word_cell(T_WORD, symbol_make("HOST"));  // words match ignoring case
    auto get = [&](Cell* email, const Cell* element) {
        Cell* out = stack_push_new(T_NONE);
        email_eval_path(email, element, nullptr, &path, false, out);
        EXPECT_EQ(cell_type(out), T_STRING);
        std::string text = text_of(out);
        stack_pop(1);
        return text;
    };
    Cell* email = typed_push("jo@example.org", T_EMAIL);
    EXPECT_EQ(get(email, &user), "jo");
    EXPECT_EQ(get(email, &host), "example.org");
    Cell* bare = typed_push("nobody", T_EMAIL);
    EXPECT_EQ(get(bare, &user), "nobody");
    EXPECT_EQ(get(bare, &host), "");

    Cell* out = stack_push_new(T_NONE);
    Cell* value = text_push("kel.dev");
    email_eval_path(email, &host, value, &path, false, out);
    EXPECT_EQ(text_of(email), "jo@kel.dev");
    EXPECT_EQ(text_of(out), "kel.dev");
    Cell* name = text_push("anne");
    email_eval_path(email, &user, name, &path, false, out);
    EXPECT_EQ(text_of(email), "anne@kel.dev");
    email_eval_path(bare, &host, value, &path, false, out);
    EXPECT_EQ(text_of(bare), "nobody@kel.dev");

    Cell two = integer_cell(2);
    email_eval_path(email, &two, nullptr, &path, false, out);
    EXPECT_EQ(cell_type(out), T_CHAR);
    EXPECT_EQ(out->w2, uint32_t('n'));
    Cell other = word_cell(T_WORD, symbol_make("domain"));
    EXPECT_EQ(raised_code([&] { email_eval_path(email, &other, nullptr, &path, false, out); }),
              SCRIPT_ERROR + ERR_INVALID_PATH);
    Cell* s = text_push("user");
    EXPECT_EQ(raised_code([&] { email_eval_path(email, s, nullptr, &path, false, out); }),
              SCRIPT_ERROR + ERR_INVALID_PATH);
}

TEST_F(TagFamily, LoadersKeepCaretsAndRejectBadUtf8) {
    struct Case {
        bool (*scan)(const uint8_t*, const uint8_t*, Cell*);
        std::string text;
        uint8_t type;
    };
    const Case cases[] = {
        {scan_tag, "a href=x", T_TAG},
        {scan_tag, "b ^(line)", T_TAG},
        {scan_email, "jo@example.org", T_EMAIL},
        {scan_ref, "r\xC3\xA9", T_REF},
    };
    for (const Case& c : cases) {
        Cell* out = stack_push_new(T_NONE);
        const auto* p = reinterpret_cast<const uint8_t*>(c.text.data());
        ASSERT_TRUE(c.scan(p, p + c.text.size(), out));
        EXPECT_EQ(cell_type(out), c.type);
        EXPECT_EQ(text_of(out), c.text);
    }
    const uint8_t bad[] = {'a', 0xC3};
    Cell* out = stack_push_new(T_NONE);
    EXPECT_FALSE(scan_tag(bad, bad + 2, out));
}

} // namespace
