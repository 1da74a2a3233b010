#!/usr/bin/env bash
# Native widgets on a real screen: a drop-list whose one item is long shows
# its border and the chosen item from its start, inside its face; Tab
# reaches a tab panel's tabs and Right switches to the second page; a default
# calendar's weekday names and month and year arrows stand apart, and a
# smaller calendar shows the same picture cut (scrolled), not squeezed; a
# button with an image shows the image without its text; an area without
# para wraps; Alt+F opens the File menu marked "&File"; a shown window's
# offset set by the script sends move; the scroll-bar metric is read.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
. "$here/../support/screen_input.sh"
input_test_start 800x600 || exit 0

long=0123456789012345678901234567890123456789
{ echo 'Kel []'; input_app_kel "$dir"; cat <<KEL
log: copy []
icon: make image! [30x30 200.0.0]
win: layout [
    title "widgets" size 480x480 backdrop 255.255.255
    at 10x10 d1: drop-list 120x24 data ["$long" "b"] select 2
    at 10x50 d2: drop-list 120x24 data ["$long" "b"] select 1
    at 10x90 cal: calendar data 10-Dec-2026
    at 300x90 small: calendar 120x100 data 10-Dec-2026
    at 10x300 b1: button 80x40 "Hello" with [image: icon]
    at 100x300 b2: button 80x40 "" with [image: icon]
    at 200x300 a: area 100x60 "one two three four five six seven"
    at 10x380 f: field 100x24
    at 150x380 tp: tab-panel 200x80 ["A" [text "page A"] "B" [text "page B"]]
        on-change [append log reduce ['tab event/picked]]
]
win/menu: ["&File" ["&Open" open] "&Help" ["&About" about]]
win/actors: make object! [
    on-menu: func [face event] [append log reduce ['menu event/picked]]
    on-move: func [face event] [append log 'move]
]
screen-steps: [
    [win/selected: f]
    []
    [win/offset: win/offset + 30x20]
]
view/no-wait/options win [offset: 0x0]
print ["scroller" mold select system/view/metrics/misc 'scroller]
print ["calendar" cal/size]
screen-run
print ["log" mold log]
KEL
} > "$dir/app.kel"

input_app_start "$kel" "$dir/app.kel" "$dir" || fail "the program did not start"
id=$(input_focus_window widgets) || fail "no window"
input_sync 1 || fail "the field was not focused"
# The client area (480x480) lies below the menu bar.
read -r x y _ height < <(screen_window_geometry "$id")
y=$((y + height - 480))
# Ink columns of a rectangle: the number of runs of columns holding ink
# (grey text included), runs closer than the gap (pixels) counted as one.
ink_runs() {
    convert "$1" -crop "$4x$5+$2+$3" +repage -colorspace Gray -threshold 70% -negate \
        -scale "$4x1!" -depth 8 txt:- | awk -F'[(,)]' -v gap="$6" '
        NR > 1 { if ($3 > 0) { if (blank >= gap || runs == 0) runs++; blank = 0 } else blank++ }
        END { print runs + 0 }'
}
# The text bands of a rectangle, top to bottom, as "top height" lines.
ink_bands() {
    convert "$1" -crop "$4x$5+$2+$3" +repage -colorspace Gray -threshold 70% -negate \
        -scale "1x$5!" -depth 8 txt:- | awk -F'[(,:)]' '
        NR > 1 { row = $2 + 0; if ($4 > 0) { if (!on) top = row; on = 1 } else if (on) { print top, row - top; on = 0 } }'
}

# What the shot before Tab shows wrong, or nothing.
widgets_fault() {
    local shot="$1" d cw ch bands top1 height1 top2 height2 runs
    # Drop-lists: the border at the face's left edge and the chosen item's
    # first characters just inside it.
    for d in "10 b" "50 long"; do
        set -- $d
        [ "$(input_dark_count "$shot" $((x + 14)) $((y + $1 + 4)) 24 16)" -gt 10 ] ||
            { echo "the drop-list with $2 chosen does not show it from its start"; return; }
        [ "$(screen_count_colour "$shot" $((x + 10)) $((y + $1 + 4)) 2 16 ffffff 16)" -lt 32 ] ||
            { echo "the drop-list with $2 chosen shows no border at its left"; return; }
    done
    # Calendar: the default size holds it; weekday row (second band) of seven
    # names apart, month and year row of six parts (two arrows each).
    read -r cw ch < <(grep '^calendar' "$dir/out" | tr 'x' ' ' | awk '{print $2, $3}')
    [ -n "$ch" ] || { echo "the program did not print the calendar's size"; return; }
    bands=$(ink_bands "$shot" $((x + 12)) $((y + 92)) $((cw - 4)) $((ch - 4)))
    read -r top1 height1 < <(sed -n 1p <<< "$bands")
    read -r top2 height2 < <(sed -n 2p <<< "$bands")
    [ -n "$height2" ] || { echo "the calendar shows no weekday row: $bands"; return; }
    runs=$(ink_runs "$shot" $((x + 12)) $((y + 92 + top2)) $((cw - 4)) "$height2" 4)
    [ "$runs" = 7 ] || { echo "the calendar's weekday names run together ($runs parts, ${cw}x$ch)"; return; }
    runs=$(ink_runs "$shot" $((x + 12)) $((y + 92 + top1)) $((cw - 4)) "$height1" 4)
    [ "$runs" = 6 ] || { echo "the calendar's month and year arrows touch ($runs parts)"; return; }
    [ "$(input_region_difference "$shot" $((x + 10)) $((y + 90)) $((x + 300)) $((y + 90)) 110 90)" -lt 20 ] ||
        { echo "a smaller calendar is drawn squeezed, not cut"; return; }
    # A button with an image shows no text.
    [ "$(input_region_difference "$shot" $((x + 10)) $((y + 300)) $((x + 100)) $((y + 300)) 80 40)" = 0 ] ||
        { echo "a button with an image shows its text too"; return; }
    # The area's text wraps onto a second line.
    [ "$(ink_bands "$shot" $((x + 204)) $((y + 302)) 90 56 | wc -l)" -ge 2 ] || { echo "an area without para does not wrap"; return; }
}
fault=$(screen_shot_judged "" "$dir/before-tab.png" widgets_fault) || fail "$fault"
xdotool key Tab
input_sync 2 || fail "Tab was not handled"
# Tab on the field reaches the tab panel's tabs: a focus ring shows.
tab_fault() {
    local before
    before=$(mktemp --suffix=.png)
    convert "$dir/before-tab.png" -crop "200x30+$((x + 150))+$((y + 380))" +repage "$before"
    convert "$1" -crop "200x30+$((x + 150))+$((y + 380))" +repage "$dir/tab-now.png"
    [ "$(compare -metric AE "$before" "$dir/tab-now.png" null: 2>&1)" -gt 0 ] || echo "Tab shows no focus on the tab panel"
    rm -f "$before"
}
fault=$(screen_shot_judged "" "$dir/tab.png" tab_fault) || fail "$fault"
xdotool key Right
before=$(screen_windows)
xdotool key alt+f
popup=$(screen_wait_popup "$before") || fail "Alt+F did not open the File menu"
xdotool key Return
# The menu has the keyboard until it is gone.
screen_wait_gone "$popup" || fail "Return did not close the File menu"
input_sync 3 || fail "Right and Alt+F were not handled"
input_sync 4 || fail "the move was not handled"
input_app_finish || fail "the program failed"
[ -n "${KEEP_SHOTS:-}" ] && cp "$dir"/*.png "$KEEP_SHOTS"

log=$(grep '^log ' "$dir/out")
[[ $log == *"tab 2"* ]] || fail "Right on the focused tab panel did not switch to the second page"
[[ $log == *"menu open"* ]] || fail "Alt+F did not open the File menu"
[[ $log == *move* ]] || fail "setting a shown window's offset sent no move event"
grep -q '^scroller [1-9][0-9]*x[1-9][0-9]*$' "$dir/out" || fail "the scroll-bar metric is not read"

# At double scale to image! of a face holds the pixels the screen shows.
cat > "$dir/scale.kel" <<'KEL'
Kel []
win: layout [b: base 40x30 255.0.0]
view/no-wait win
until [not do-events/no-wait]
img: to image! b
print ["image" img/size pick img 80 * 60]
KEL
GDK_SCALE=2 timeout $(($(input_wait_limit) * 4)) "$kel" "$dir/scale.kel" > "$dir/out" 2>&1 || fail "the program at double scale failed"
grep -qx 'image 80x60 255.0.0.0' "$dir/out" || fail "at double scale to image! of a face is not the pixels shown"
echo "widgets: ok"
