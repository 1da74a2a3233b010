#!/usr/bin/env bash
# The graphical console's text box follows the lines it shows at every
# column: the caret of a long typed line stands after its last character, a
# click far into the line puts the caret there for typing, and a line wider
# than the window wraps onto rows of its own, the next prompt below them.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
. "$here/../support/screen_input.sh"
. "$here/../support/screen_console.sh"
console_test_start

console_open

# A 60-character command: the caret stands just after the last ink of its row.
command='write %typed.txt "abcdefghijklmnopqrstuvwxyz0123456789ABCDE"'
[ ${#command} = 60 ] || fail "the command is ${#command} characters long"
xdotool type --delay 20 "$command"
# The console may still be taking the typed keys on a loaded machine: the
# caret counts once two shots in a row show it at the same place, so that
# the character width below is measured on the whole line.
settled_x=
caret_after_ink() {
    read -r caret_x caret_y caret_h < <(console_caret "$1")
    local previous=$settled_x
    settled_x=$caret_x
    [ "$caret_x" = "$previous" ] || return 1
    read -r _ last < <(console_ink_span "$1" 0 "$caret_y" $((caret_x - 1)) "$CONSOLE_LINE_H")
    [ -n "$last" ] && [ "$caret_h" -ge $((CONSOLE_LINE_H - 1)) ] && [ $((caret_x - last)) -ge 0 ] &&
        [ $((caret_x - last)) -le 4 ] && [ "$caret_x" -gt $((prompt_x + 300)) ]
}
console_shot_until "$id" typed.png caret_after_ink ||
    fail "the caret of a 60-character line is at x $caret_x, not after its last character ($last)"
char_w=$(((caret_x - prompt_x) / 60))
row_y=$caret_y

# A click on the 21st character of the string puts the caret before it: X
# typed there lands in the string.
read -r wx wy _ < <(screen_window_geometry "$id")
string_col=$((18 + 20))   # 'write %typed.txt "' is 18 characters: the 21st of the string
click_x=$((prompt_x + string_col * char_w + char_w / 4))
xdotool mousemove $((wx + click_x)) $((wy + row_y + CONSOLE_LINE_H / 2)) click 1
caret_moved() {
    read -r caret_x _ caret_h < <(console_caret "$1")
    [ "$caret_h" -ge $((CONSOLE_LINE_H - 1)) ] && [ $((caret_x - click_x)) -le "$char_w" ] &&
        [ $((click_x - caret_x)) -le "$char_w" ]
}
console_shot_until "$id" clicked.png caret_moved || fail "a click at x $click_x put the caret at x $caret_x"
xdotool type X
xdotool key Return
for _ in $(seq $(($(input_wait_limit) * 10))); do [ -s typed.txt ] && break; sleep 0.1; done
[ "$(cat typed.txt)" = "abcdefghijklmnopqrstXuvwxyz0123456789ABCDE" ] ||
    fail "the character typed after the click landed elsewhere: $(cat typed.txt)"

# In a window 500 pixels wide, a printed line of 150 characters takes three
# rows or more, each inked, and the next prompt starts below the last.
console_shot_until "$id" written.png console_at_prompt || fail "no prompt after the written line"
xdotool windowsize "$id" 500 480
narrow() { [ "$(identify -format %w "$1")" = 500 ] && console_at_prompt "$1"; }
console_shot_until "$id" narrow.png narrow || fail "the window did not narrow to 500 pixels"
row_y=$caret_y
xdotool type --delay 20 'print append/dup copy "" "abcdefghi " 15'
xdotool key Return
below_output() { console_at_prompt "$1" && [ "$caret_y" -ge $((row_y + 2 * CONSOLE_LINE_H)) ]; }
console_shot_until "$id" wrapped.png below_output || fail "no prompt after the printed line"
rows=$(((caret_y - row_y) / CONSOLE_LINE_H - 1))
[ "$rows" -ge 3 ] || fail "the 150-character line takes $rows rows before the next prompt, not 3 or more"
for row in $(seq 1 3); do
    [ "$(input_dark_count wrapped.png 0 $((row_y + row * CONSOLE_LINE_H)) 480 "$CONSOLE_LINE_H")" -gt 50 ] ||
        fail "row $row of the wrapped line is empty"
done

xdotool type --delay 20 "quit"
xdotool key Return
wait "$console" || fail "the console did not quit cleanly"
echo "ok"
