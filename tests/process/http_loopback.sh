#!/usr/bin/env bash
# read and write of url! values against a python3 HTTP server on a free
# loopback port serving a scratch folder: text, binary and line reads, a
# redirect, repeated response headers, POST and other methods echoed back
# with the headers they carried, the remote-file cache over the network,
# and transfer failures. Skips when python3 is absent.
kel="$1"
. "$(cd "$(dirname "$0")" && pwd)/../support/time.sh"
command -v python3 >/dev/null || test_skip "python3 is not installed"
dir=$(mktemp -d)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "$1"; exit 1; }

mkdir -p "$dir/www" "$dir/config"
printf 'hello\r\nworld\n' > "$dir/www/hello.txt"
printf '\000\001\377' > "$dir/www/bin.dat"
printf '[1 + 2]' > "$dir/www/code.kel"
printf '{"a": [1, 2], "b": {"c": true, "d": null}}' > "$dir/www/data.json"
printf '[[1, false]]' > "$dir/www/list.json"
printf 'Kel [title: "remote"]\nreduce [system/script/header/title 6 * 7]\n' > "$dir/www/script.kel"

cat > "$dir/server.py" <<'PY'
import http.server, socketserver, sys, os

class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args): pass

    def reply(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        if self.command != 'HEAD':
            self.wfile.write(body)

    def do_GET(self):
        if self.path == '/redirect':
            return self.reply(302, b'', [('Location', '/hello.txt')])
        if self.path == '/loop':
            return self.reply(302, b'', [('Location', '/loop')])
        if self.path == '/twice':
            return self.reply(200, b'two', [('X-Dup', 'one'), ('X-Dup', 'two')])
        if self.path.startswith('/echo'):
            return self.echo()
        # The request target exactly as it came on the request line.
        if self.path.startswith('/line'):
            return self.reply(200, self.path.encode())
        return super().do_GET()

    # The method, the content type, X-Test, User-Agent and the body as received.
    def echo(self):
        length = int(self.headers.get('Content-Length') or 0)
        data = self.rfile.read(length)
        line = '|'.join([self.command, self.headers.get('Content-Type') or '-',
                         self.headers.get('X-Test') or '-', self.headers.get('User-Agent') or '-',
                         str(length)])
        self.reply(200, line.encode() + b'|' + data, [('X-Length', str(length))])

    do_POST = do_PUT = do_DELETE = do_PATCH = echo

    def do_HEAD(self):
        self.echo()

os.chdir(sys.argv[1])
socketserver.TCPServer.allow_reuse_address = True
with socketserver.ThreadingTCPServer(('127.0.0.1', 0), Handler) as server:
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    server.serve_forever()
PY

python3 "$dir/server.py" "$dir/www" > "$dir/port" 2>"$dir/server.err" &
server_pid=$!
port_written() { [ -s "$dir/port" ]; }
wait_until 10 port_written
port=$(cat "$dir/port")
[ -n "$port" ] || fail "the HTTP server did not start: $(cat "$dir/server.err")"

runner=$(cd "$(dirname "$0")/../kel" && pwd)/runner.kel
cat > "$dir/test.kel" <<KEL
Kel [title: "HTTP over loopback" prelude: %$runner]
base: http://127.0.0.1:$port

group "read" [
    ; text is UTF-8 taken as it comes; lines drop the CR of a CR LF
    expect "hello^M^/world^/" [read base/hello.txt]
    expect #{00 01 FF} [read/binary base/bin.dat]
    expect ["hello" "world"] [read/lines base/hello.txt]
    ; redirects are followed; a redirect loop fails the request
    expect "hello^M^/world^/" [read base/redirect]
    expect-error 'access 'no-connect [read base/loop]
    info: read/info base/twice
    expect 200 [first info]
    expect ["one" "two"] [select second info 'X-Dup]
    expect "3" [select second info 'content-length]
    expect "two" [third info]
    ; a status error answers its body and, with /info, its status
    expect 404 [first read/info base/missing]
    expect true [string? read base/missing]
    expect-error 'internal 'not-done [read/part base/hello.txt 2]
]

group "write" [
    ; without a header block the default headers go out
    expect "POST|application/x-www-form-urlencoded|-|Mozilla/5.0 (Windows NT 6.1; Win64; x64)|3|a=1" [
        write base/echo "a=1"
    ]
    expect #{504F53547C} [copy/part write/binary base/echo #{00FF} 5]
    ; a header block replaces all of them
    expect "PUT|text/plain|yes|-|4|data" [
        write base/echo [put [X-Test "yes" Content-Type "text/plain"] "data"]
    ]
    expect "DELETE|-|42|-|1|x" [write base/echo [delete [X-Test 42] "x"]]
    expect "PATCH|-|-|-|5|héll" [write base/echo [patch [] "héll"]]
    ; HEAD and GET never carry a body
    expect "0" [select second write/info base/echo [head [] "body"] 'X-Length]
    expect "GET|-|-|-|0|" [write base/echo [get [] "body"]]
    expect "GET|application/x-www-form-urlencoded|-|Mozilla/5.0 (Windows NT 6.1; Win64; x64)|0|" [
        write base/echo []
    ]
    ; a header value cannot start a header line of its own
    expect "POST|-|a b|-|1|x" [write base/echo [post [X-Test "a^/b"] "x"]]
    expect-error 'script 'invalid-arg [write base/echo [post "x"]]
    expect-error 'script 'invalid-arg [write base/echo 12]
]

group "a URL reaches the server as written" [
    ; escapes stay as written, those of reserved characters too; a fragment stays home
    foreach [url sent] [
        http://127.0.0.1:$port/line/a%20b "/line/a%20b"
        http://127.0.0.1:$port/line?q=a%23b "/line?q=a%23b"
        http://127.0.0.1:$port/line?a=1%262&b=%3D%3F "/line?a=1%262&b=%3D%3F"
        http://127.0.0.1:$port/line/caf%C3%A9 "/line/caf%C3%A9"
        http://127.0.0.1:$port/line/%2F%25 "/line/%2F%25"
        http://127.0.0.1:$port/line?q=a#frag "/line?q=a"
    ] [expect sent compose [read (url)]]
    ; what must be escaped is escaped; escapes made by enhex go as they are
    expect "/line/a%20b/%C3%A9" [read to url! rejoin [base "/line/a b/é"]]
    expect "/line?q=a%26b%20c" [read rejoin [base/line "?q=" enhex "a&b c"]]
    ; the kept escapes mold as they are and load back
    u: http://h/a%20b?q=%23%26%3D%3F&r=%25
    expect "http://h/a%20b?q=%23%26%3D%3F&r=%25" [mold u]
    expect form u [form load mold u]
]

group "failures" [
    expect-error 'access 'no-connect [read http://127.0.0.1:1/x]
    expect-error 'access 'no-connect [read httpx://127.0.0.1/x]
]

group "remote-file cache" [
    url: base/hello.txt
    expect "hello^M^/world^/" [read-thru url]
    expect true [exists-thru? url]
    expect #{68656C6C6F0D0A776F726C640A} [read/binary path-thru url]
    expect [1 + 2] [load-thru base/code.kel]
    ; a cached copy loads as the first load did
    foreach name ["data.json" "list.json"] [
        url: rejoin [base "/" name]
        first-load: load-thru url
        expect true [exists-thru? url]
        delete rejoin [%$dir/www/ name]
        expect true [equal? first-load load-thru url]
    ]
    expect map! [type? first-load: load-thru base/data.json]
    expect true [equal? first-load #[a: [1 2] b: #[c: #(true) d: #(none)]]]
    expect 3 [do-thru base/code.kel]
    ; a script with a header runs as do runs it, the second time from the cache
    expect ["remote" 42] [do-thru base/script.kel]
    expect true [exists-thru? base/script.kel]
    delete %$dir/www/script.kel
    expect ["remote" 42] [do-thru base/script.kel]
    ; an answer other than the file is not cached
    expect true [string? read-thru base/missing.txt]
    expect false [exists-thru? base/missing.txt]
    expect none [load-thru base/missing.kel]
    expect false [exists-thru? base/missing.kel]
    expect-error 'access 'cannot-open [do-thru base/missing.kel]
    expect false [exists-thru? base/missing.kel]
]

report
KEL

XDG_CONFIG_HOME= APPDATA="$dir/config" HOME="$dir" "$kel" "$dir/test.kel" || fail "HTTP loopback tests failed"

# The cache lives under the configured folder, private to the user.
[ -d "$dir/config/Kel/cache" ] || fail "no cache folder under APPDATA"
bad=$(find "$dir/config/Kel" -type d ! -perm 700; find "$dir/config/Kel" -type f ! -perm 600)
[ -z "$bad" ] || fail "cache entries not private: $bad"
echo "HTTP loopback tests passed"
