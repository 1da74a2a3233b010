// The HTTP module's conversions and services: response headers into a map!,
// a refused connection answering none, the call of the library's URL parser,
// and the stall time-out against a server on this thread's loopback that
// stops sending. Transfers against a full server are covered by
// tests/process/http_loopback.sh.
#include "io/http.hpp"
#include "core/context.hpp"
#include "core/unicode.hpp"
#include "core/word.hpp"
#include "datatypes/url.hpp"
#include "tests/core/string_fixture.hpp"
#include "tests/natives/natives_fixture.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <chrono>
#include <thread>

namespace kel::testing {
namespace {

struct Http : NativesTest {
    void TearDown() override {
        http_stall_timeout_set(0);
        NativesTest::TearDown();
    }
};

// A server for one request on a loopback port: it reads the request, sends
// a response head announcing a body of body_length bytes, then the bytes of
// body one at a time with gap_ms between them, and then keeps the
// connection open, silent, until the client closes it (at most a minute).
struct TricklingServer {
    int listener = -1;
    uint16_t port = 0;
    std::thread thread;

    TricklingServer(size_t body_length, std::string body, int gap_ms) {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port = ntohs(address.sin_port);
        thread = std::thread([this, body_length, body, gap_ms] { serve(body_length, body, gap_ms); });
    }

    void serve(size_t body_length, const std::string& body, int gap_ms) {
        pollfd waiting{listener, POLLIN, 0};
        if (poll(&waiting, 1, 60000) <= 0) return;
        int client = accept(listener, nullptr, nullptr);
        if (client < 0) return;
        std::string request;
        char buffer[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, size_t(n));
        }
        std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body_length) + "\r\n\r\n";
        send(client, head.data(), head.size(), MSG_NOSIGNAL);
        for (char c : body) {
            std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
            send(client, &c, 1, MSG_NOSIGNAL);
        }
        pollfd closed{client, POLLIN, 0};
        auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (std::chrono::steady_clock::now() < deadline) {
            if (poll(&closed, 1, 100) > 0 && recv(client, buffer, sizeof buffer, 0) <= 0) break;
        }
        close(client);
    }

    ~TricklingServer() {
        if (thread.joinable()) thread.join();
        if (listener >= 0) close(listener);
    }
};

// Reads the server's one URL; the result into out, the seconds taken returned.
static double timed_read(uint16_t port, Cell* out) {
    Cell* method = stack_push_new(T_NONE);
    word_make_at(method, T_WORD, symbol_make("get"));
    std::string text = "http://127.0.0.1:" + std::to_string(port) + "/body";
    Cell* url = text_push(text.c_str());
    cell_type_set(url, T_URL);
    auto start = std::chrono::steady_clock::now();
    http_request(method, url, nullptr, nullptr, false, false, false, out);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

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

TEST_F(Http, ServerThatStopsSendingFailsAfterTheStallTime) {
    http_stall_timeout_set(1);
    TricklingServer server(10, "abc", 0);
    ASSERT_NE(server.port, 0);
    CellRoot out;
    double seconds = timed_read(server.port, &out.cell);
    EXPECT_EQ(cell_type(&out.cell), T_NONE);
    // a second of silence, not the minute the server would hold out
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 30.0);
}

TEST_F(Http, SlowTransferLongerThanTheStallTimeCompletes) {
    // every byte comes well within the stall time, the whole body after it
    http_stall_timeout_set(2);
    TricklingServer server(8, "abcdefgh", 400);
    ASSERT_NE(server.port, 0);
    CellRoot out;
    double seconds = timed_read(server.port, &out.cell);
    ASSERT_EQ(cell_type(&out.cell), T_STRING);
    EXPECT_EQ(string_utf8(&out.cell), "abcdefgh");
    EXPECT_GT(seconds, 2.0);
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
