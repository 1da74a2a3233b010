#!/usr/bin/env bash
# The graphical console as a person uses it, on a real screen: kel without a
# script shows the banner and the prompt with its caret; a typed line shows
# with its result, and nothing of it reaches standard output; the console
# keeps the keyboard for the keys it handles, so Up recalls the last line
# twice in a row and Left moves the caret for an insertion; long output
# scrolls the view to its end and the scroll bar's thumb with it; a drag
# selects rows; scrolled back, the caret of the prompt below the view hides.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
. "$here/../support/screen_input.sh"
. "$here/../support/screen_console.sh"
console_test_start

"$kel" > out 2> err &
console=$!
trap 'kill $console 2> /dev/null; screen_stop' EXIT
id=$(screen_wait_window "Kel Console" "$(input_wait_limit)") || fail "no console window"

# The banner and the prompt: the caret stands on the fourth row (two lines
# of banner, an empty line, the prompt), as tall as a row.
caret_shown() {
    CONSOLE_TOP=$(console_top "$1")
    [ -n "$CONSOLE_TOP" ] || return 1
    read -r caret_x caret_y caret_h < <(console_caret "$1")
    [ "$caret_h" -gt 12 ] && [ "$caret_y" -gt $((CONSOLE_TOP + 2 * caret_h)) ]
}
console_shot_until "$id" start.png caret_shown || fail "no caret at a prompt"
CONSOLE_LINE_H=$caret_h
[ $((caret_y - CONSOLE_TOP)) = $((3 * CONSOLE_LINE_H)) ] ||
    fail "the prompt is not on the fourth row (caret at $caret_y, console at $CONSOLE_TOP, rows of $CONSOLE_LINE_H)"
for row in 0 1; do
    [ "$(console_row_ink start.png $row)" -gt 50 ] || fail "banner row $row is empty"
done
[ "$(console_row_ink start.png 2)" = 0 ] || fail "no empty row below the banner"
# The prompt ">>" ahead of the caret.
[ "$(input_dark_count start.png 0 "$caret_y" "$caret_x" "$CONSOLE_LINE_H")" -gt 10 ] || fail "no prompt"

# The console has handled what was typed once the caret stands at the
# prompt of the given row.
prompt_at() {
    read -r _ y h < <(console_caret "$1")
    [ "$y" = $((CONSOLE_TOP + row * CONSOLE_LINE_H)) ] && [ "$h" -ge $((CONSOLE_LINE_H - 1)) ]
}

# A typed line and its result: rows 3 and 4.
xdotool type --delay 30 "1 + 2"
xdotool key Return
row=5
console_shot_until "$id" result.png prompt_at || fail "no prompt after 1 + 2"
[ "$(console_row_ink result.png 3)" -gt 50 ] || fail "the typed line does not show"
[ "$(console_row_ink result.png 4)" -gt 10 ] || fail "the result does not show"

# A line, then Up and Enter twice: rows 5 to 10 are the line and its output
# three times.
xdotool type --delay 30 "print 333"
xdotool key Return
row=7
console_shot_until "$id" printed.png prompt_at || fail "no prompt after print 333"
xdotool key Up Return
row=9
console_shot_until "$id" again.png prompt_at || fail "Up and Enter did not run the line again"
xdotool key Up Return
row=11
console_shot_until "$id" twice.png prompt_at || fail "Up and Enter a second time did not run the line again"
for pair in "5 7" "6 8" "5 9" "6 10"; do
    [ "$(console_rows_differ twice.png $pair)" = 0 ] || fail "rows $pair differ: the recalled line is not the same"
done

# Left twice, then X: the string typed as "ab" is "aXb", three long, whose
# result row is the one of 1 + 2.
xdotool type --delay 30 'length? "ab"'
xdotool key Left Left
xdotool type X
xdotool key Return
row=13
console_shot_until "$id" inserted.png prompt_at || fail "no prompt after the edited line"
[ "$(console_rows_differ inserted.png 4 12)" = 0 ] || fail "Left then X did not insert X before the b"

# Long output ends with the prompt on the last whole row, and the scroll
# bar's thumb leaves the top of its trough.
thumb_top() {
    local width
    width=$(identify -format %w "$1")
    convert "$1" -crop "1x$(($(identify -format %h "$1") - CONSOLE_TOP))+$((width - 6))+$CONSOLE_TOP" +repage \
        -colorspace Gray -depth 8 txt:- | awk -F'[,:() ]+' 'NR > 1 && $4 < 160 { print $2; exit }'
}
top_before=$(thumb_top inserted.png)
height=$(identify -format %h inserted.png)
last_row=$(((height - CONSOLE_TOP) / CONSOLE_LINE_H - 1))
at_bottom() {
    read -r _ y _ < <(console_caret "$1")
    [ "$y" = $((CONSOLE_TOP + last_row * CONSOLE_LINE_H)) ]
}
xdotool type --delay 30 "repeat i 40 [print i]"
xdotool key Return
console_shot_until "$id" long.png at_bottom || fail "long output does not end with the prompt on the last row"
[ "$(console_rows_differ long.png 0 $((last_row - 1)))" != 0 ] || fail "the rows look the same"
top_after=$(thumb_top long.png)
[ -n "$top_before" ] && [ -n "$top_after" ] && [ "$top_after" -gt $((top_before + 50)) ] ||
    fail "the scroll bar's thumb did not follow the output (from $top_before to $top_after)"

# A drag across rows 2 to 4 paints them with the selection's grey.
selected() { [ "$(screen_count_colour "$1" $(console_row_rect "$1" 3) bebebe 6)" -gt 150 ]; }
[ "$(screen_count_colour long.png $(console_row_rect long.png 3) bebebe 6)" -lt 20 ] || fail "grey before the drag"
read -r wx wy _ < <(screen_window_geometry "$id")
xdotool mousemove $((wx + 4)) $((wy + CONSOLE_TOP + 2 * CONSOLE_LINE_H + 5)) mousedown 1 \
    mousemove $((wx + 40)) $((wy + CONSOLE_TOP + 3 * CONSOLE_LINE_H + 5)) \
    mousemove $((wx + 60)) $((wy + CONSOLE_TOP + 4 * CONSOLE_LINE_H + 5)) mouseup 1
console_shot_until "$id" selected.png selected || fail "a drag across rows shows no selection"

# Scrolled back by the wheel, the prompt is below the view: no caret shows.
caret_gone() {
    read -r _ _ h < <(console_caret "$1")
    [ "$h" -lt "$CONSOLE_LINE_H" ]
}
xdotool mousemove $((wx + 300)) $((wy + 200)) click 4 click 4 click 4
console_shot_until "$id" back.png caret_gone || fail "the caret shows while its prompt is scrolled out of the view"

xdotool type --delay 30 "quit"
xdotool key Return
wait "$console" || fail "the console did not quit cleanly"
[ -s out ] && fail "the console wrote to standard output:"
echo "ok"
