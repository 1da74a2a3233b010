#!/usr/bin/env bash
# The graphical console on a virtual display: keys typed through the X test
# extension reach the input line of the console window; the console engine
# evaluates the entered lines, whose output reaches the terminal and not
# standard output; quit saves the configuration file (history included) in
# the cache folder.
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
fail() { echo "$1"; cat "$dir/out" 2>/dev/null; exit 1; }

. "$here/../support/screen.sh"
SCREEN_CLEANUP="$dir"
screen_leak_suppressions "$dir/leaks.supp"
screen_start 1024x768 || exit 0
python3 -c "import ctypes; ctypes.CDLL('libXtst.so.6')" 2>/dev/null ||
    test_skip "python3 or the X test library is missing"

# The console as start-up launches it. The loop that reads a line writes
# asked-N.txt as it starts (keys that come while the console does not ask
# are not for the input line), and the typer waits for it before the next
# line; the lines the run ends with are kept for the checks.
cat > "$dir/console.kel" <<'KEL'
Kel []
system/console/launch: func [] [system/console/run/no-banner]
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
asks: 0
ask-loop: :gui-console-ctx/terminal/do-ask-loop
gui-console-ctx/terminal/do-ask-loop: func [/no-wait] [
    asks: asks + 1
    write to file! rejoin ["asked-" asks ".txt"] ""
    either no-wait [ask-loop/no-wait] [ask-loop]
]
gui-console-ctx/launch
KEL

# Without a window manager the keys go to the window under the pointer: the
# console window sits at its default place, 200x200, 640x480 large; a click
# in the console face gives it the keyboard. Ctrl+Z takes the 2 back.
typing=(click:400,400 "type:10 - 4" key:Return wait:asked-2.txt
    "type:9 - 12" key:Control_L+z key:Return wait:asked-3.txt type:quit key:Return)

cd "$dir"
# The console ends only by quit: a run that misses a key is cut short.
limit=$(test_deadline 120)
(
    APPDATA="$dir" timeout "$limit" "$kel" console.kel > out 2>&1 &
    echo $! > console.pid
    wait $!
    echo $? > status.txt
) &
run=$!
# A typer that gives up ends the console too.
python3 "$here/xtest_input.py" --stop-file status.txt asked-1.txt "${typing[@]}" || kill "$(cat console.pid)" 2> /dev/null
wait "$run"
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
