#!/usr/bin/env bash
# Texts take the mouse as other faces do, in a panel and in a group box: a
# press runs the on-down actor, moving over the text and off it send over
# events, the last one away; a field reached by Tab shows the face's
# selected range, so what is typed replaces that range.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
. "$here/../support/screen_input.sh"
input_test_start 640x480 || exit 0

{ echo 'Kel []'; input_app_kel "$dir"; cat <<'KEL'
log: copy []
win: layout [
    title "labels"
    at 10x10 panel 200x60 [
        at 10x10 text 100x24 "in a panel" all-over
            on-down [append log 'down-1]
            on-over [append log either event/away? ['away-1] ['over-1]]
    ]
    at 10x80 group-box 200x70 "box" [
        at 10x30 text 100x24 "in a box" on-down [append log 'down-2]
    ]
    at 10x160 field 100x24 "first" focus
    at 10x200 f: field 100x24 "abcdef"
]
f/selected: 3x4
view/no-wait win
screen-run
print ["log" mold log]
print ["typed" mold f/text]
KEL
} > "$dir/app.kel"

input_app_start "$kel" "$dir/app.kel" "$dir" || fail "the program did not start"
id=$(input_focus_window labels) || fail "no window"
read -r x y _ < <(screen_window_geometry "$id")
# Each move is handled before the next, so the toolkit cannot fold the moves
# into one.
moves=("40 30" "300 30" "40 30 click 1" "40 120 click 1")
for k in "${!moves[@]}"; do
    set -- ${moves[$k]}
    xdotool mousemove $((x + $1)) $((y + $2)) "${@:3}"
    input_sync $((k + 1)) || fail "the mouse move $((k + 1)) (${moves[$k]}) was not handled"
done
xdotool key Tab
xdotool type X
input_sync $((${#moves[@]} + 1)) || fail "the keys were not handled"
input_app_finish || fail "the program failed"

log=$(grep '^log ' "$dir/out")
[[ $log == *"over-1 away-1 over-1 down-1"* ]] || fail "a text in a panel got no over, away and down events: $log"
[[ $log == *down-2* ]] || fail "a text in a group box got no down event: $log"
grep -qx 'typed "abXef"' "$dir/out" || fail "typing into a field reached by Tab did not replace its selected range"
echo "labels: ok"
