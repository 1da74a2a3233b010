#!/usr/bin/env bash
# Selecting printed text with the mouse on the graphical console: a drag
# over a printed line of 40 characters, then Ctrl+C, puts the whole line on
# the clipboard; a drag from the line's end back to its 11th character puts
# the last 30 characters there.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
. "$here/../support/screen_input.sh"
. "$here/../support/screen_console.sh"
console_test_start
screen_clipboard > /dev/null
[ $? = 2 ] && test_skip "neither xclip nor xsel is installed"
console_open

sentence="A sentence of forty characters, dragged."
command="print \"$sentence\""
console_enter_measured "$command"
line_y=$((row_y + CONSOLE_LINE_H))
[ "$caret_y" = $((line_y + CONSOLE_LINE_H)) ] || fail "the printed line does not take the one row below the command"
read -r _ ink_last < <(console_ink_span entered.png 0 "$line_y" 600 "$CONSOLE_LINE_H")
[ -n "$ink_last" ] || fail "the printed line does not show"
# Where the rows' text starts: three characters (">> ") before the prompt's caret.
text_x=$((prompt_x - 3 * char_w / 1000))

# Drags along the printed line's row from x to x (in the window), in steps,
# then copies with Ctrl+C; waits until the clipboard holds the text.
read -r wx wy _ < <(screen_window_geometry "$id")
clipboard_is() { [ "$(screen_clipboard)" = "$1" ]; }
drag_copy() {
    local from="$1" to="$2" expected="$3" y=$((wy + line_y + CONSOLE_LINE_H / 2)) step
    xdotool mousemove $((wx + from)) "$y" mousedown 1
    for step in 1 2 3 4; do xdotool mousemove $((wx + from + (to - from) * step / 4)) "$y"; done
    xdotool mouseup 1
    xdotool key ctrl+c
    wait_until 20 clipboard_is "$expected" ||
        fail "a drag from x $from to x $to copied \"$(screen_clipboard)\", not \"$expected\""
}
# From before the first character to past the last.
drag_copy 1 $((ink_last + char_w / 1000)) "$sentence"
# From past the last character back to the 11th: the caret offset at the
# middle of a character is the nearer edge, so the drag ends a third into it.
drag_copy $((ink_last + char_w / 1000)) $((text_x + 10 * char_w / 1000 + char_w / 3000)) "${sentence:10}"

xdotool type --delay 20 "quit"
xdotool key Return
wait "$console" || fail "the console did not quit cleanly"
echo "ok"
