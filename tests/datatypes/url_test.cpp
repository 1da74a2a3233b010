#include "datatypes/url.hpp"
#include "core/registry.hpp"
#include "tests/core/string_fixture.hpp"
#include <gtest/gtest.h>
#include <string>

using namespace kel;
using namespace kel::testing;

namespace {

using Url = RuntimeTest;

Cell* url_push(const std::string& text, uint8_t type = T_URL) {
    Cell* c = text_push(text);
    cell_type_set(c, type);
    return c;
}

std::string enhex(const std::string& text, int32_t mode) {
    Cell* in = text_push(text);
    Cell* out = text_push("");
    url_enhex(in, out, mode);
    EXPECT_EQ(unit_of(out), 1u);
    std::string result = text_of(out);
    stack_pop(2);
    return result;
}

std::string dehex(const std::string& text) {
    Cell* in = text_push(text);
    Cell* out = text_push("");
    url_dehex(in, out);
    std::string result = text_of(out);
    stack_pop(2);
    return result;
}

TEST_F(Url, PercentEncodingRoundTrips) {
    struct Case {
        std::string text, strict, url;
    };
    const Case cases[] = {
        {"a b", "a%20b", "a%20b"},
        {"a/b?c=d&e", "a%2Fb%3Fc%3Dd%26e", "a/b?c=d&e"},
        {"caf\xC3\xA9", "caf%C3%A9", "caf%C3%A9"},
        {"~x_y-z.", "~x_y-z.", "~x_y-z."},
        {"100%", "100%25", "100%25"},
        {"\xF0\x9F\x98\x80", "%F0%9F%98%80", "%F0%9F%98%80"},
        {"[\"]", "%5B%22%5D", "%5B%22%5D"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(enhex(c.text, ENHEX_STRICT), c.strict) << c.text;
        EXPECT_EQ(enhex(c.text, ENHEX_URL), c.url) << c.text;
        EXPECT_EQ(dehex(c.strict), c.text);
        EXPECT_EQ(dehex(c.url), c.text);
    }
}

TEST_F(Url, DecodingKeepsWhatIsNotAWholeEscape) {
    struct Case {
        std::string text, expected;
    };
    const Case cases[] = {
        {"%C3%A9", "\xC3\xA9"}, {"%41", "A"},  {"%4", "%4"}, {"%C3", "%C3"},
        {"%C3x", "%C3x"},       {"%zz%", "%zz%"}, {"a%2fb", "a/b"}, {"%E2%82%AC!", "\xE2\x82\xAC!"},
    };
    for (const Case& c : cases) EXPECT_EQ(dehex(c.text), c.expected) << c.text;
    EXPECT_EQ(raised_code([] { dehex("%C3%28"); }), ACCESS_ERROR + ERR_INVALID_UTF8);
}

TEST_F(Url, MoldEscapesAndFormKeepsTheText) {
    Cell* url = url_push("http://kel.dev/a b/caf\xC3\xA9");
    Cell* out = text_push("");
    url_mold(url, out, false, false, false, false, 0, 0);
    EXPECT_EQ(text_of(out), "http://kel.dev/a%20b/caf%C3%A9");
    Cell* cut = text_push("");
    EXPECT_EQ(url_mold(url, cut, false, false, false, true, 16, 0), 0);
    EXPECT_EQ(text_of(cut), "http://kel.dev/a");
    Cell* formed = text_push("");
    action_slot_as<FormMoldFn>(T_URL, A_FORM)(url, formed, false, false, false, false, 0, 0);
    EXPECT_EQ(text_of(formed), "http://kel.dev/a b/caf\xC3\xA9");
}

TEST_F(Url, BuildsFromABlockOfParts) {
    CellRoot block;
    {
        Cell items[3] = {word_cell(T_WORD, symbol_make("http")), word_cell(T_WORD, symbol_make("kel.dev")),
                         integer_cell(8080)};
        block_of_cells(&block.cell, items, 3);
        CellRoot part(*text_push("docs"));
        block_append(block, part);
        CellRoot frag(word_cell(T_ISSUE, symbol_make("top")));
        block_append(block, frag);
    }
    Cell* out = stack_push_new(T_NONE);
    url_to(out, &block.cell, T_URL);
    EXPECT_EQ(cell_type(out), T_URL);
    EXPECT_EQ(text_of(out), "http://kel.dev:8080/docs#top");
    Cell* made = stack_push_new(T_NONE);
    url_make(made, &block.cell, T_URL);
    EXPECT_EQ(text_of(made), "http://kel.dev:8080/docs#top");

    CellRoot empty;
    block_of_cells(&empty.cell, nullptr, 0);
    EXPECT_EQ(raised_code([&] { url_to(out, &empty.cell, T_URL); }), SCRIPT_ERROR + ERR_BAD_TO_ARG);
    // Other specs convert as strings do.
    Cell* text = text_push("ftp://x");
    url_to(out, text, T_URL);
    EXPECT_EQ(cell_type(out), T_URL);
    EXPECT_EQ(text_of(out), "ftp://x");
}

TEST_F(Url, PathJoinsWithOneSlash) {
    Cell path;
    cell_init(&path, T_NONE);
    struct Case {
        std::string base, element, expected;
    };
    const Case cases[] = {
        {"http://kel.dev/", "/docs", "http://kel.dev/docs"},
        {"http://kel.dev", "docs", "http://kel.dev/docs"},
        {"http://kel.dev/", "docs", "http://kel.dev/docs"},
        {"http://kel.dev", "/docs", "http://kel.dev/docs"},
    };
    for (const Case& c : cases) {
        Cell* base = url_push(c.base);
        Cell* element = text_push(c.element);
        Cell* out = stack_push_new(T_NONE);
        url_eval_path(base, element, nullptr, &path, false, out);
        EXPECT_EQ(cell_type(out), T_URL);
        EXPECT_EQ(text_of(out), c.expected);
        EXPECT_EQ(text_of(base), c.base);  // the parent is left as it was
    }
    Cell* file = url_push("dir", T_FILE);
    Cell word = word_cell(T_WORD, symbol_make("name"));
    Cell* out = stack_push_new(T_NONE);
    url_eval_path(file, &word, nullptr, &path, false, out);
    EXPECT_EQ(cell_type(out), T_FILE);
    EXPECT_EQ(text_of(out), "dir/name");
    EXPECT_EQ(raised_code([&] { url_eval_path(file, &word, &word, &path, false, out); }),
              SCRIPT_ERROR + ERR_BAD_PATH_SET);
}

// A recording HTTP service: the last request, and the answer it gives.
struct Recorded {
    std::string method, url;
    bool headers = false;
    uint8_t data = 0;
    bool answer = true;
} recorded;

void record_request(const Cell* method, const Cell* url, const Cell* headers, const Cell* data, bool, bool, bool,
                    Cell* out) {
    recorded.method = symbol_text(method->w2);
    Cell copy = *url;
    recorded.url = text_of(&copy);
    recorded.headers = headers != nullptr;
    recorded.data = data ? cell_type(data) : 0;
    if (recorded.answer) *out = *text_push("body");
    else cell_init(out, T_NONE);
}

TEST_F(Url, HttpReadAndWriteBuildTheRequest) {
    Cell* url = url_push("https://kel.dev");
    Cell part = integer_cell(1);
    EXPECT_EQ(raised_code([&] { url_read(url, nullptr, nullptr, false, false, false, nullptr); }),
              INTERNAL_ERROR + ERR_FEATURE_NA);  // no service installed
    url_services_set({record_request, nullptr});
    recorded = Recorded{};
    url_read(url, nullptr, nullptr, false, false, false, nullptr);
    EXPECT_EQ(recorded.method, "get");
    EXPECT_EQ(recorded.url, "https://kel.dev");
    EXPECT_EQ(text_of(url), "body");
    url = url_push("http://kel.dev");
    EXPECT_EQ(raised_code([&] { url_read(url, &part, nullptr, false, false, false, nullptr); }),
              INTERNAL_ERROR + ERR_NOT_DONE);

    Cell* text = text_push("x=1");
    url_write(url, text, false, false, false, false, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(recorded.method, "post");
    EXPECT_EQ(recorded.data, T_STRING);

    CellRoot request;
    {
        Cell items[2] = {word_cell(T_WORD, symbol_make("put")), {}};
        block_of_cells(&request.cell, items, 1);
        CellRoot headers;
        block_of_cells(&headers.cell, nullptr, 0);
        block_append(request, headers);
        CellRoot data(*text_push("payload"));
        block_append(request, data);
    }
    url = url_push("http://kel.dev");
    url_write(url, &request.cell, false, false, false, false, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(recorded.method, "put");
    EXPECT_TRUE(recorded.headers);
    EXPECT_EQ(recorded.data, T_STRING);

    Cell number = integer_cell(5);
    url = url_push("http://kel.dev");
    EXPECT_EQ(raised_code([&] { url_write(url, &number, false, false, false, false, nullptr, nullptr, nullptr,
                                          nullptr); }),
              SCRIPT_ERROR + ERR_INVALID_ARG);
    CellRoot no_headers;
    block_of_cells(&no_headers.cell, &number, 1);
    EXPECT_EQ(raised_code([&] { url_write(url, &no_headers.cell, false, false, false, false, nullptr, nullptr,
                                          nullptr, nullptr); }),
              SCRIPT_ERROR + ERR_INVALID_ARG);
    recorded.answer = false;
    EXPECT_EQ(raised_code([&] { url_read(url, nullptr, nullptr, false, false, false, nullptr); }),
              ACCESS_ERROR + ERR_NO_CONNECT);
    url_services_set({nullptr, nullptr});
}

TEST_F(Url, LoaderDecodesEscapesAndKeepsCarets) {
    auto scan = [](const std::string& text) {
        Cell* out = stack_push_new(T_NONE);
        const auto* p = reinterpret_cast<const uint8_t*>(text.data());
        EXPECT_TRUE(scan_url(p, p + text.size(), out));
        EXPECT_EQ(cell_type(out), T_URL);
        std::string result = text_of(out);
        stack_pop(1);
        return result;
    };
    EXPECT_EQ(scan("http://a%20b"), "http://a b");
    EXPECT_EQ(scan("http://a^b"), "http://a^b");
    EXPECT_EQ(scan("ftp://x/caf%C3%A9"), "ftp://x/caf\xC3\xA9");
    const uint8_t bad[] = {'h', ':', 0xFF};
    Cell* out = stack_push_new(T_NONE);
    EXPECT_FALSE(scan_url(bad, bad + 3, out));
}

} // namespace
