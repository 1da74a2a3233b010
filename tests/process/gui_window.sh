#!/usr/bin/env bash
# Windows through the GUI module on a virtual display: a window with a base
# face is drawn and captured; keys and a click typed through the X test
# extension arrive as key-down, key and down events with the key codes the
# GUI layer expects; a rate timer releases its window, which ends the
# blocking event loop; faces added to a pane appear and removed ones go.
# Without the module the GUI routines raise an error.
# The windows are released through the platform routine itself, so the
# checks stay on the backend.
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
runner="$here/../kel/runner.kel"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; cat "$dir/out" 2>/dev/null; exit 1; }

cat > "$dir/nomodule.kel" <<KEL
Kel [title: "GUI without its module" prelude: %$runner]
group "no module" [
    expect-error 'internal 'not-here [platform-support-dark-mode?]
    expect true [handle? platform-make-null-handle]
]
report
KEL
KEL_GUI_MODULE=/nonexistent/kelgui.so "$kel" "$dir/nomodule.kel" > "$dir/out" 2>&1 || fail "no-module run failed"
grep -q "^2 passed, 0 failed" "$dir/out" || fail "no-module checks did not pass"

. "$(cd "$(dirname "$0")" && pwd)/../support/screen.sh"
SCREEN_CLEANUP="$dir"
screen_start || exit 0
python3 -c "import ctypes; ctypes.CDLL('libXtst.so.6')" 2>/dev/null ||
    test_skip "python3 or the X test library is missing"

cat > "$dir/window.kel" <<'KEL'
Kel []
log: copy []
finished?: false
win: make face! [type: 'window text: "Keys" size: 160x120 offset: 0x0
    pane: reduce [make face! [
        type: 'base offset: 0x0 size: 160x120 color: 0.128.0
        draw: [pen off fill-pen 0.0.255 box 100x10 150x40]
    ]]
]
win/actors: make object! [
    on-key: func [face event][
        append log reduce ['key event/key event/ctrl? event/shift?]
        if event/key = #"^M" [finished?: true]
    ]
    on-key-down: func [face event][append log reduce ['down event/key]]
]
win/pane/1/actors: make object! [
    on-down: func [face event][append log reduce ['click to pair! event/offset event/down?]]
]
view/no-wait win
write %ready.txt "ready"
t: now/precise
limit: 0:00:20 * any [attempt [to integer! get-env "KEL_TEST_TIME_FACTOR"] 1]
until [do-events/no-wait wait 0.01 any [finished? (difference now/precise t) > limit]]
new-line/all log false
print ["log" mold log]
img: face-to-image win
print ["pixels" pick img 10 * 160 + 10 + 1 pick img 20 * 160 + 120 + 1 img/size]
system/view/platform/destroy-view win false
print ["state" mold win/state]

; faces added to and removed from a pane; a face without a colour shows its parent
p: make face! [type: 'panel offset: 0x0 size: 100x100 pane: copy []]
win4: make face! [type: 'window text: "Pane" size: 100x100 offset: 0x0 color: 255.255.255 pane: reduce [p]]
; The loop runs until the window shows the colour at 20x20 (or the limit
; passes); the colour it shows then.
shown-at-20x20: func [win colour /local start shown] [
    start: now/precise
    until [
        do-events/no-wait wait 0.01
        shown: pick face-to-image win 20 * 100 + 20 + 1
        any [shown = colour (difference now/precise start) > limit]
    ]
    shown
]
view/no-wait win4
b: make face! [type: 'base offset: 10x10 size: 30x30 color: 255.0.0]
append p/pane b
added: shown-at-20x20 win4 255.0.0.0
remove find p/pane b
win4/color: 0.0.255
print ["pane" added shown-at-20x20 win4 0.0.255.0 mold b/state]
system/view/platform/destroy-view win4 false

; a blocking loop that a timer ends by closing its window
ticks: 0
win2: make face! [type: 'window text: "Timer" size: 50x50 rate: 20]
win2/actors: make object! [on-time: func [face event][
    ticks: ticks + 1
    if ticks = 3 [system/view/platform/destroy-view face true]
]]
view win2
print ["ticks" ticks]

; loops nest: exit-event-loop ends only the innermost one
steps: copy []
win3: make face! [type: 'window text: "Nested" size: 50x50 rate: 20]
win3/actors: make object! [on-time: func [face event][
    append steps length? steps
    switch length? steps [
        1 [system/view/platform/do-event-loop false append steps 'inner-ended]
        2 [system/view/platform/exit-event-loop]
        4 [system/view/platform/destroy-view face true]
    ]
]]
view win3
print ["steps" mold steps]
KEL

cd "$dir"
timeout "$(test_deadline 90)" bash -c "\"$kel\" window.kel > out 2>&1 & python3 \"$here/xtest_input.py\" ready.txt \
    click:30,40 key:a key:Control_L+a key:BackSpace key:Left key:Shift_L+a key:Return; wait" ||
    fail "the window run failed"
grep -qF 'log [click 30x40 true down #"A" key #"a" false false down left-control down #"A" key #"^A" true false down #"^H" key #"^H" false false down left key left false false down left-shift down #"A" key #"A" false true down #"^M" key #"^M" false false]' out ||
    fail "unexpected events"
grep -qF 'pixels 0.128.0.0 0.0.255.0 160x120' out || fail "unexpected pixels"
grep -qF 'state none' out || fail "the closed window kept its state"
grep -qF 'pane 255.0.0.0 0.0.255.0 none' out || fail "pane changes were not shown"
grep -qF 'ticks 3' out || fail "the timer did not end the blocking loop"
grep -qF 'steps [0 1 inner-ended 3]' out || fail "nested loops did not end innermost first"
echo "ok"
