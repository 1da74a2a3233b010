#!/usr/bin/env bash
# Dialogs on a real screen: a long alert text wraps onto lines that all show,
# the alert window keeps the layout's width and centres its OK button, and a
# click on OK closes it; the font dialog of request-font/font starts from the
# given font, so accepting it at once answers that font.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen_faces.sh"
screen_test_start 800x600 || exit 0

cat > dialogs.kel <<KEL
Kel []
$SCREEN_KEL_PRELUDE
signal 'alerting
alert "This is a rather long message for an alert window, which wraps onto several lines instead of being cut."
print "closed"
signal 'choosing
chosen: request-font/font make font! [name: "Serif" size: 20]
print ["font" equal? words-of chosen words-of font! mold reduce [chosen/name chosen/size chosen/style]]
KEL

screen_kel_start "$kel" dialogs.kel
screen_await alerting || fail "the script did not start"
id=$(screen_wait_window "Message") || fail "no alert window"
read -r _ _ width height < <(screen_window_geometry "$id")
# The OK button: the run of pixels unlike the backdrop in the row 22 pixels
# above the bottom, as "left right".
ok_button() {
    local background
    background=$(screen_pixel "$1" 2 2)
    convert "$1" -crop "${width}x1+0+$((height - 22))" +repage -depth 8 txt:- |
        awk -v bg="$background" 'NR > 1 { match($0, /#[0-9A-Fa-f]+/); c = tolower(substr($0, RSTART + 1, 6));
            split($1, p, ","); if (c != bg) { if (l == "") l = p[1] + 0; r = p[1] + 0 } } END { print l, r }'
}
# What a shot of the alert shows wrong, or nothing: the OK button at the
# bottom, centred; text rows from 10 down to the button, at least four lines
# of text, the last of them ending above the button.
alert_fault() {
    local left right rows
    [ "$(screen_count_colour "$1" 0 $((height - 30)) "$width" 20 "$(screen_pixel "$1" 2 2)" 0)" -lt $((width * 20)) ] ||
        { echo "the alert's OK button was not drawn"; return; }
    read -r left right < <(ok_button "$1")
    [ -n "$right" ] || { echo "the row of the OK button shows only the backdrop"; return; }
    [ $((left + right)) -ge $((width - 3)) ] && [ $((left + right)) -le $((width + 3)) ] ||
        { echo "the OK button ($left..$right) is not centred in $width"; return; }
    rows=$(convert "$1" -crop "200x$((height - 45))+10+10" +repage -colorspace gray -threshold 60% -negate \
        -scale "1x$((height - 45))!" -depth 8 txt:- | awk -F'[(,)]' 'NR > 1 && $3 > 0 { n++ } END { print n + 0 }')
    [ "$rows" -ge 40 ] || echo "the alert text shows $rows rows of pixels: cut, not wrapped"
}
fault=$(screen_shot_judged "$id" alert.png alert_fault 60) || fail "$fault"
read -r left right < <(ok_button alert.png)
xdotool mousemove --window "$id" $(((left + right) / 2)) $((height - 22)) click 1
screen_await choosing 20 || fail "a click on OK did not close the alert"
screen_wait_window "kel" > /dev/null || fail "no font dialog"
# The dialog may show before it takes keys: Return until the script ends.
font_answered() {
    xdotool key Return
    sleep 0.5
    ! kill -0 "$SCREEN_KEL" 2> /dev/null
}
wait_until 30 font_answered || fail "Return did not answer the font dialog"
screen_kel_end || fail "the script failed"

[ "$width" = 220 ] || fail "the alert window is $width wide"
grep -q '^font true \["Serif" 20 none\]$' out || fail "the font dialog did not start from the given font"
echo "ok"
