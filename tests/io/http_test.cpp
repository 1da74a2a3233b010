// The HTTP module's conversions and services that need no server: response
// headers into a map!, a refused connection answering none, and the call of
// the library's URL parser. Transfers against a server are covered by
// tests/process/http_loopback.sh.
#include "io/http.hpp"
#include "core/context.hpp"
#include "core/word.hpp"
#include "datatypes/url.hpp"
#include "tests/core/string_fixture.hpp"
#include "tests/natives/natives_fixture.hpp"

namespace kel::testing {
namespace {

struct Http : NativesTest {};

TEST_F(Http, HeadersBecomeAMapWithRepeatedNamesInBlocks) {
    struct Case {
        const char* text;
        const char* molded;
    } cases[] = {
        // a status line and the blank line end are no headers; a name met
        // again gathers its values in order, whatever the case of its spelling
        {"HTTP/1.1 200 OK\r\nA: 1\r\nB: 2\r\na: 3\r\nA: 4\r\n\r\n", "#[\n    A: [\"1\" \"3\" \"4\"]\n    B: \"2\"\n]"},
        // no space after the colon, blanks around the value, bare LF line ends
        {"X-One:1\nX-Two: \t two words  \n", "#[\n    X-One: \"1\"\n    X-Two: \"two words\"\n]"},
        // a value that is not UTF-8 is taken byte for byte
        {"Title: caf\xe9\r\n", "#[\n    Title: \"caf\xc3\xa9\"\n]"},
        {"", "#[]"},
    };
    for (const Case& c : cases) {
        Cell* map = stack_push_new(T_NONE);
        http_headers_to_map(c.text, map);
        EXPECT_EQ(mold_of(*map), c.molded) << c.text;
        stack_pop(1);
    }
}

TEST_F(Http, RefusedConnectionAnswersNone) {
    Cell* method = stack_push_new(T_NONE);
    word_make_at(method, T_WORD, symbol_make("get"));
    Cell* url = text_push("http://127.0.0.1:1/x");
    cell_type_set(url, T_URL);
    Cell* out = stack_push_new(T_INTEGER);
    http_request(method, url, nullptr, nullptr, false, false, true, out);
    EXPECT_EQ(cell_type(out), T_NONE);
}

TEST_F(Http, UrlParserServiceCallsTheLibraryParser) {
    http_services_install();
    // Without the library's parser a URL has no parts.
    Cell* url = text_push("ftp://h/x");
    cell_type_set(url, T_URL);
    Cell* out = stack_push_new(T_INTEGER);
    http_parse_url(url, out);
    EXPECT_EQ(cell_type(out), T_NONE);
    // With one, its result comes back, and its errors pass through.
    run("url-parser: make object! [parse-url: func [u] [either u = ftp://bad [1 / 0] [reduce ['got u]]]]");
    http_parse_url(url, out);
    EXPECT_EQ(mold_of(*out), "[got ftp://h/x]");
    Cell* bad = text_push("ftp://bad");
    cell_type_set(bad, T_URL);
    EXPECT_THROW(http_parse_url(bad, out), LanguageError);
    url_services_set({nullptr, nullptr});  // other tests start without services
}

} // namespace
} // namespace kel::testing
