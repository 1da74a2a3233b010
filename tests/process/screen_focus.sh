#!/usr/bin/env bash
# The keyboard focus on a real screen: the layout's focus option gives a
# field the focus when its window opens, so typed keys reach it, and an
# alert's focused OK button closes it on Enter or Escape; a click in the
# rightmost pixels of a field focuses it; fields and buttons get focus and
# unfocus events; Enter on a focused button runs its actor once; an area
# reached by Tab and a text list given the focus through the window's
# selected take the keys: the area's text and the list's selection change
# (taking the focus selects no item; Down then picks the first, End the last).
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
    title "focus"
    at 10x10 f1: field 100x24 on-focus [append log 'f1-focus] on-unfocus [append log 'f1-unfocus]
    at 10x50 f2: field 100x24 focus
    at 10x90 b: button 80x24 "Go" on-click [append log 'click]
        on-focus [append log 'b-focus] on-unfocus [append log 'b-unfocus]
    at 150x10 a: area 120x60
    at 150x90 l: text-list 120x60 data ["x" "y" "z"] on-select [append log reduce ['list-select event/picked]]
]
screen-steps: [[] [] [] [] [win/selected: l]]
view/no-wait win
screen-run
print ["typed" mold f2/text mold a/text]
print ["log" mold log]
KEL
} > "$dir/app.kel"

input_app_start "$kel" "$dir/app.kel" "$dir" || fail "the program did not start"
id=$(input_focus_window focus) || fail "no window"
read -r x y _ < <(screen_window_geometry "$id")
xdotool type --delay 20 ab
input_sync 1 || fail "the first keys were not handled"
# The field spans x 10 to 109: its last two pixels.
xdotool mousemove $((x + 108)) $((y + 22)) click 1
input_sync 2 || fail "the click was not handled"
xdotool key Tab Tab
input_sync 3 || fail "the Tab keys were not handled"
xdotool key Return
input_sync 4 || fail "Enter was not handled"
xdotool key Tab
xdotool type --delay 20 xy
input_sync 5 || fail "typing into the area was not handled"
xdotool key Down
input_sync 6 || fail "the key for the list was not handled"
xdotool key End
input_sync 7 || fail "the second key for the list was not handled"
input_app_finish || fail "the program failed"

grep -q '^typed "ab"' "$dir/out" || fail "keys did not reach the field focused by the layout"
grep -q '^typed .* "xy"$' "$dir/out" || fail "keys did not reach the area reached by Tab"
log=$(grep '^log ' "$dir/out")
[[ $log == *f1-focus* ]] || fail "a click in the rightmost pixels of a field did not focus it"
[[ $log == *"f1-focus f1-unfocus b-focus"*b-unfocus* ]] || fail "fields and buttons sent no focus and unfocus events"
[ "$(grep -o click <<< "$log" | wc -l)" = 1 ] || fail "Enter on a focused button did not run its actor once"
[ "$(grep -o 'list-select [0-9]*' <<< "$log" | tr '\n' ' ')" = "list-select 1 list-select 3 " ] ||
    fail "a text list focused through selected did not take the keys as a list: $log"

# An alert: Enter closes the first, Escape the second.
cat > "$dir/alert.kel" <<'KEL'
Kel []
write %ready ""
alert "One"
print "closed one"
alert "Two"
print "closed two"
KEL
rm -f "$dir/ready"
(cd "$dir" && exec timeout $(($(input_wait_limit) * 2)) "$kel" alert.kel > out 2>&1) &
pid=$!
for key in Return Escape; do
    screen_answer Message $key || { kill $pid; fail "$key did not close the alert"; }
done
wait $pid || fail "the alert program failed"
grep -qx "closed two" "$dir/out" || fail "Enter and Escape did not close the alerts"
echo "focus: ok"
