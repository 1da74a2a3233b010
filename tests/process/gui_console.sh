#!/usr/bin/env bash
# The graphical console on a virtual display: keys typed through the X test
# extension reach the input line of the console window; the console engine
# evaluates the entered lines, whose output reaches the terminal and not
# standard output; quit saves the configuration file (history included) in
# the cache folder.
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; cat "$dir/out" 2>/dev/null; exit 1; }

# The toolkit's libraries keep caches for the life of the process.
for lib in libdbus-1.so libglib-2.0.so libgobject-2.0.so libgio-2.0.so libgtk-3.so libgdk-3.so \
    libgdk_pixbuf-2.0.so libfontconfig.so libpango libcairo.so libharfbuzz.so libX11.so libatk; do
    echo "leak:$lib"
done > "$dir/leaks.supp"
export LSAN_OPTIONS="suppressions=$dir/leaks.supp:print_suppressions=0"

. "$(cd "$(dirname "$0")" && pwd)/../support/time.sh"
command -v xvfb-run >/dev/null || test_skip "xvfb-run is not installed"
command -v python3 >/dev/null || test_skip "python3 is not installed"

# The console as start-up launches it; the engine's loop is told when the
# window is up, and the lines it ends with are kept for the checks.
cat > "$dir/console.kel" <<'KEL'
Kel []
system/console/launch: func [] [
    write %ready.txt "ready"
    system/console/run/no-banner
]
ask: :gui-console-ask
input: :gui-console-input
_save-cfg: func [] [
    write %lines.txt mold copy/part skip tail gui-console-ctx/terminal/lines -4 4
    gui-console-ctx/save-cfg
]
; A key that reaches the window face instead of the console face ends the run.
insert-event-func 'key-check func [face event] [
    if all [event/type = 'key face/type = 'window] [
        write %keys-to-window.txt "yes"
        quit/return 3
    ]
    none
]
start-gui
gui-console-make
gui-console-ctx/launch
KEL

cat > "$dir/typer.py" <<'PY'
import ctypes, os, sys, time
ready, finished = sys.argv[1], sys.argv[2]
deadline = time.time() + int(os.environ.get("KEL_TEST_TIME_FACTOR", "1")) * 60
while not os.path.exists(ready) and time.time() < deadline:
    if os.path.exists(finished):
        sys.exit(0)         # the console ended before its window was up
    time.sleep(0.05)
time.sleep(1.0)
x11 = ctypes.CDLL('libX11.so.6')
xtst = ctypes.CDLL('libXtst.so.6')
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XFlush.argtypes = [ctypes.c_void_p]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
d = x11.XOpenDisplay(None)
xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
# Without a window manager the keys go to the window under the pointer: the
# console window sits at its default place, 200x200, 640x480 large; a click
# in the console face gives it the keyboard.
xtst.XTestFakeMotionEvent(d, -1, 400, 400, 0)
x11.XFlush(d)
time.sleep(0.2)
xtst.XTestFakeButtonEvent(d, 1, 1, 0)
xtst.XTestFakeButtonEvent(d, 1, 0, 0)
x11.XFlush(d)
time.sleep(0.3)
def key(sym, down):
    xtst.XTestFakeKeyEvent(d, x11.XKeysymToKeycode(d, sym), down, 0)
    x11.XFlush(d)
    time.sleep(0.05)
def tap(sym, mods=()):
    for m in mods: key(m, 1)
    key(sym, 1); key(sym, 0)
    for m in reversed(mods): key(m, 0)
def line(text):
    for c in text: tap(ord(c))
    tap(0xff0d)             # Return
    time.sleep(0.5)
CONTROL = 0xffe3
line("10 - 4")
for c in "9 - 12": tap(ord(c))
tap(0x7a, [CONTROL])        # Ctrl+Z takes the 2 back
line("")
line("quit")
PY

cd "$dir"
# The console ends only by quit: a run that misses a key is cut short.
limit=$(test_deadline 120)
APPDATA="$dir" timeout $((limit + 60)) xvfb-run -a -n $((RANDOM % 500 + 100)) bash -c \
    "(timeout $limit \"$kel\" console.kel > out 2>&1; echo \$? > status.txt) & python3 typer.py ready.txt status.txt; wait"
status=$(cat status.txt 2>/dev/null || echo timeout)
[ -f keys-to-window.txt ] && fail "a key reached the window instead of the console face"
[ "$status" -eq 0 ] || fail "the console run failed ($status)"
grep -q '== 6' out && fail "the console's output reached standard output"
grep -qF '["== 6" ">> 9 - 1" "== 8" ">> quit"]' lines.txt || fail "console lines: $(cat lines.txt)"
cfg="$dir/Kel/Kel-Console/console-cfg.kel"
[ -f "$cfg" ] || fail "no configuration file"
grep -q 'Kel Console Configuration File' "$cfg" || fail "configuration header: $(cat "$cfg")"
grep -qF 'history: ["quit" "9 - 1" "10 - 4"]' "$cfg" || fail "history: $(cat "$cfg")"
echo "ok"
