#!/usr/bin/env bash
# Sizes on a real screen: every native widget is drawn inside its face's
# rectangle and the window keeps its size; a label sized by size-text shows
# its text on one line, as wide as measured; the pages of a tab panel lie in
# the panel's page area; a layout gives the same sizes before and after the
# first window.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen_faces.sh"
screen_test_start 800x600 || exit 0

cat > sizes.kel <<KEL
Kel []
$SCREEN_KEL_PRELUDE
early: layout [c: check b: button]
print ["early" c/size b/size]
print ["check-mark" system/view/metrics/paddings/check/1/x]
win: layout [
    title "Sizes" backdrop 255.0.255 space 0x4
    button "OK" button "Cancel" return
    field "23 high" field "next" return
    progress 60 30% slider 60 30% drop-list 80 data ["one" "two"] return
    check "Check" radio "Radio" return
    label: text "Hello there friend" text "origin moved" return
    tabs: tab-panel 200x100 ["One" [base 30x30 255.0.0 at 150x40 base 20x20 0.255.0] "Two" []]
]
view/no-wait/options win [offset: 0x0]
view/no-wait/options layout [title "Edge" size 100x40 at 50x10 button "OK"] [offset: 400x0]
settle
face-rectangles win %rects.txt
write %size.txt form to pair! win/size
write %tabs.txt form reduce [to pair! tabs/offset to pair! tabs/size]
write %label.txt form reduce [to pair! label/offset to pair! label/size]
late: layout [c: check b: button]
print ["late" c/size b/size]
signal 'shown
await 'looked
KEL

# What a shot shows wrong, or nothing. Nothing is drawn outside the faces'
# rectangles. The label's text: one line (nothing below the first line's 17
# pixels), ending within 4 pixels of the measured width. The pages sit in the
# tab panel: both bases of the first page are whole and inside the panel.
sizes_fault() {
    local spill x y w h
    spill=$(screen_spill "$1" rects.txt ff00ff spill.png)
    [ "$spill" = 0 ] || { echo "$spill pixels drawn outside the faces"; return; }
    IFS=' x' read -r x y w h < label.txt
    [ "$(screen_count_colour "$1" "$x" $((y + 17)) "$w" $((h - 17)) ff00ff 0)" = $((w * (h - 17))) ] ||
        { echo "the label's text wraps"; return; }
    [ "$(screen_count_colour "$1" $((x + w - 4)) "$y" 4 17 ff00ff 0)" -lt 68 ] ||
        { echo "the label's text is narrower than measured"; return; }
    IFS=' x' read -r x y w h < tabs.txt
    [ "$(screen_count_colour "$1" "$x" "$y" "$w" "$h" ff0000 0)" = 900 ] || { echo "the page's first base is not in the panel"; return; }
    [ "$(screen_count_colour "$1" "$x" "$y" "$w" "$h" 00ff00 0)" = 400 ] || echo "the page's last base is not in the panel"
}

screen_kel_start "$kel" sizes.kel
screen_await shown || fail "the window did not come up"
id=$(screen_wait_window "Sizes") || fail "no window"
fault=$(screen_shot_judged "$id" sizes.png sizes_fault) || fail "$fault"
read -r _ _ width height < <(screen_window_geometry "$id")
read -r _ _ edge_width edge_height < <(screen_window_geometry "$(screen_wait_window Edge)")
screen_signal looked
screen_kel_end || fail "the script failed"

# The window is the layout's size.
[ "${width}x$height" = "$(cat size.txt)" ] || fail "the window is ${width}x$height, not $(cat size.txt)"
[ "${edge_width}x$edge_height" = 100x40 ] || fail "a button at the edge made its window ${edge_width}x$edge_height"

# A check box is 80 wide and the theme's mark beside.
check=$((80 + $(sed -n 's/^check-mark //p' out)))
grep -q "^early ${check}x23 78x25$" out || fail "layout sizes before the first window differ"
grep -q "^late ${check}x23 78x25$" out || fail "layout sizes after the first window differ"
echo "ok"
