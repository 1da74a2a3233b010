#!/usr/bin/env bash
# Output of actors on the graphical console's screen. An error raised in one
# of the console's own key handlers while a line is being typed shows below
# that line, and the prompt comes back below the error with the line as it
# was and the caret at its end, where typing goes on. A view run from the
# console whose actor prints a line wider than the window and then raises
# shows every wrapped row of that line, then the error, and the next prompt
# below them.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
. "$here/../support/screen_input.sh"
. "$here/../support/screen_console.sh"
console_test_start

console_open

# The caret stands at x, within two pixels, on the row of y.
caret_at() {
    read -r caret_x caret_y caret_h < <(console_caret "$3")
    [ "$caret_h" -ge $((CONSOLE_LINE_H - 1)) ] && [ $((caret_x - $1)) -le 2 ] && [ $(($1 - caret_x)) -le 2 ] &&
        [ "$caret_y" = "$2" ]
}

# A key handler of the console made to fail: Alt+A selects all through it.
command='gui-console-ctx/terminal/select-all: does [print "oops" 1 / 0] ()'
console_enter_measured "$command"
row_y=$caret_y

partial='write %typed.txt "ab'
xdotool type --delay 20 "$partial"
end_x=$((prompt_x + ${#partial} * char_w / 1000))
console_shot_until "$id" partial.png caret_at "$end_x" "$row_y" || fail "the caret is not after the partial line"
xdotool key alt+a
# "oops" and the error's three lines, then the prompt and the partial line
# again with the caret after it.
prompt_y=$((row_y + 5 * CONSOLE_LINE_H))
console_shot_until "$id" failed.png caret_at "$end_x" "$prompt_y" ||
    fail "after the error the caret is at $caret_x,$caret_y, not after the line typed, at $end_x,$prompt_y"
for row in 1 2 3 4; do
    [ "$(input_dark_count failed.png 0 $((row_y + row * CONSOLE_LINE_H)) 400 "$CONSOLE_LINE_H")" -gt 20 ] ||
        fail "row $row of the error is empty"
done
[ "$(input_region_difference failed.png 0 "$row_y" 0 "$prompt_y" $((end_x - 2)) "$CONSOLE_LINE_H")" = 0 ] ||
    fail "the prompt below the error does not show the line as it was typed"
xdotool type --delay 20 'c"'
xdotool key Return
wait_until 30 test -s typed.txt || fail "the line typed on after the error was not evaluated"
[ "$(cat typed.txt)" = abc ] || fail "the line typed on after the error was evaluated as $(cat typed.txt)"
row_y=$prompt_y
console_shot_until "$id" written.png console_at_prompt || fail "no prompt after the line typed on"

# A view whose timer prints 170 characters, closes the view and raises.
command='view [base 10x10 rate 5 on-time [face/rate: none print append/dup copy "" #"x" 170 unview 1 / 0]]'
xdotool type --delay 20 "$command"
command_end() { read -r caret_x caret_y _ < <(console_caret "$1"); [ "$caret_y" -ge "$row_y" ] && [ "$caret_x" -gt $((prompt_x + 100)) ] && [ "$caret_x" -lt $((prompt_x + 600)) ]; }
# The command wraps: its last row is the one of the caret once all of it is typed.
typed_all() { command_end "$1" && [ "$caret_x" = "$(cat last_x 2> /dev/null)" ] || { echo "$caret_x" > last_x; false; }; }
console_shot_until "$id" view-typed.png typed_all || fail "the view command does not show"
row_y=$caret_y
xdotool key Return
output_done() { console_at_prompt "$1" && [ "$caret_y" -ge $((row_y + 5 * CONSOLE_LINE_H)) ]; }
console_shot_until "$id" viewed.png output_done || fail "no prompt below the view's output"
rows=$(((caret_y - row_y) / CONSOLE_LINE_H - 1))
# The rows of x: as many as 170 characters need at the width of the first
# row, each starting as the first; then the error's three rows, which start
# alike and not as the rows of x.
first_y=$((row_y + CONSOLE_LINE_H))
read -r ink_first ink_last < <(console_ink_span viewed.png 0 "$first_y" 620 "$CONSOLE_LINE_H")
[ -n "$ink_last" ] || fail "the printed line does not show"
per_row=$((((ink_last - ink_first + 1) * 1000 + char_w / 2) / char_w))
x_rows=$(((170 + per_row - 1) / per_row))
[ "$rows" = $((x_rows + 3)) ] ||
    fail "the view's output takes $rows rows, not the $x_rows of the printed line ($per_row a row) and 3 of the error"
lead=$((4 * char_w / 1000))
for row in $(seq 2 "$x_rows"); do
    [ "$(input_region_difference viewed.png 0 "$first_y" 0 $((first_y + (row - 1) * CONSOLE_LINE_H)) "$lead" "$CONSOLE_LINE_H")" = 0 ] ||
        fail "row $row of the printed line does not start as its first row"
done
error_y=$((first_y + x_rows * CONSOLE_LINE_H))
[ "$(input_region_difference viewed.png 0 "$first_y" 0 "$error_y" "$lead" "$CONSOLE_LINE_H")" != 0 ] ||
    fail "the error does not follow the printed line"
for row in 1 2; do
    [ "$(input_region_difference viewed.png 0 "$error_y" 0 $((error_y + row * CONSOLE_LINE_H)) "$lead" "$CONSOLE_LINE_H")" = 0 ] ||
        fail "row $row of the error does not start as its first row"
done

xdotool type --delay 20 "quit"
xdotool key Return
wait "$console" || fail "the console did not quit cleanly"
echo "ok"
