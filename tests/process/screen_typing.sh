#!/usr/bin/env bash
# Typing and editing on a real screen: keys typed into a field reach its
# on-change actor and a reaction on its text; a to-do field whose on-enter
# clears its text in place shows it empty and keeps no old text; a label
# edited in place shows the edit; keys typed into an area change its text; a
# shown field made a password field masks its text.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
. "$here/../support/screen_input.sh"
input_test_start 640x480 || exit 0

{ echo 'Kel []'; input_app_kel "$dir"; cat <<'KEL'
log: copy []
items: copy []
win: layout [
    title "typing"
    at 10x10 f: field 120x24 on-change [append log 'change]
    at 10x50 todo: field 160x24 on-enter [append items copy face/text clear face/text]
    at 10x90 label: text 160x24 "Label"
    at 200x10 a: area 150x60 on-change [append log 'area-change]
    at 200x90 pw: field 120x24 "secret"
    at 200x130 pw2: field 120x24 "secret" password
]
react [if string? f/text [append log reduce ['react copy f/text]]]
screen-steps: [
    []
    [win/selected: f]
    [append label/text "!!!" pw/flags: 'password]
    [pw/selected: 1x0 win/selected: f]
]
view/no-wait win
screen-run
print ["field" mold f/text mold f/data]
print ["log" mold log]
print ["items" mold items]
print ["area" mold a/text]
KEL
} > "$dir/app.kel"

input_app_start "$kel" "$dir/app.kel" "$dir" || fail "the program did not start"
id=$(input_focus_window typing) || fail "no window"
read -r x y _ < <(screen_window_geometry "$id")
xdotool mousemove $((x + 40)) $((y + 22)) click 1
xdotool type --delay 20 42
input_sync 1 || fail "typing into the field was not handled"
xdotool mousemove $((x + 40)) $((y + 62)) click 1
xdotool type --delay 20 "Buy milk"
xdotool key Return
xdotool type --delay 20 "Walk dog"
xdotool key Return
input_sync 2 || fail "the to-do entries were not handled"
# The label's ink before the edit, in a shot that shows the to-do field
# cleared (no longer focused, it shows no text) and the label drawn.
label_ink() { input_dark_count "$1" $((x + 10)) $((y + 90)) 160 24; }
before_fault() {
    [ "$(input_dark_count "$1" $((x + 14)) $((y + 54)) 140 16)" -lt 5 ] || { echo "the cleared to-do field still shows text"; return; }
    [ "$(label_ink "$1")" -gt 0 ] || echo "the label shows no text"
}
fault=$(screen_shot_judged "" "$dir/before.png" before_fault) || fail "$fault"
before=$(label_ink "$dir/before.png")
xdotool mousemove $((x + 250)) $((y + 40)) click 1
xdotool type --delay 20 yo
input_sync 3 || fail "typing into the area was not handled"
edited_fault() {
    local after
    after=$(label_ink "$1")
    [ "$after" -gt $((before + 10)) ] || echo "text appended to the label in place does not show ($before, $after)"
}
fault=$(screen_shot_judged "" "$dir/edited.png" edited_fault) || fail "$fault"
input_sync 4 || fail "the last step was not handled"
# Masked by the change of its flags, the field looks like one made masked.
masked_fault() {
    [ "$(input_region_difference "$1" $((x + 205)) $((y + 94)) $((x + 205)) $((y + 134)) 110 16)" = 0 ] ||
        echo "the field made a password field does not mask its text"
}
fault=$(screen_shot_judged "" "$dir/masked.png" masked_fault) || fail "$fault"
input_app_finish || fail "the program failed"

grep -qF 'field "42" 42' "$dir/out" || fail "the field's text and data do not hold what was typed"
grep -q "log .*change.*react \"42\"" "$dir/out" || fail "typing into the field ran no on-change actor or reaction"
grep -qF 'items ["Buy milk" "Walk dog"]' "$dir/out" || fail "the to-do field kept text it had cleared"
grep -qF 'area "yo"' "$dir/out" || fail "typing into the area did not change its text"
grep -q "log .*area-change" "$dir/out" || fail "typing into the area ran no on-change actor"
echo "typing: ok"
