#!/usr/bin/env bash
# A gallery of every face type in one window (native widgets, panel, group
# box, tab panel, box, base with a draw block, rich text, image, headings) on
# a magenta backdrop: every face paints inside its own rectangle and nothing
# outside any, before and after a click shows the tab panel's second page.
# The screenshots are kept in the build folder (screens/gallery.png and
# screens/gallery-page-two.png) for a person to look at.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
screens="$(dirname "$kel")/screens"
. "$here/../support/screen_faces.sh"
screen_test_start 1024x768 || exit 0

cat > gallery.kel <<KEL
Kel []
$SCREEN_KEL_PRELUDE
win: layout [
    title "Gallery" backdrop 255.0.255
    button "Button" toggle "Toggle" check "Check" radio "Radio" return
    text "Text" field "Field" drop-list data ["one" "two"] select 1 drop-down data ["a" "b"] return
    area "Area text^/second line" 120x50 text-list data ["first" "second" "third"] 100x50 calendar return
    progress 100 40% slider 100 30% scroller 100x16 camera 60x40 return
    group-box 140x60 "Group" [check "inside"]
    panel 140x60 200.220.255 [text "In a panel"]
    tabs: tab-panel 160x80 ["One" [text "Page one"] "Two" [button "Page two"]] return
    box 60x40 draw [pen 200.0.0 line 0x0 59x39]
    base 60x40 255.200.0 draw [pen off fill-pen 0.0.255 circle 30x20 15]
    rich-text 120x40 "Rich text face" data [1x4 bold]
    image 40x40 draw [pen off fill-pen 0.160.0 box 5x5 35x35]
    h3 "Heading"
]
view/no-wait/options win [offset: 0x0]
settle
face-rectangles win %rects.txt
write/lines %tops.txt collect [foreach face win/pane [
    if face/type <> 'camera [  ; a camera without a device shows nothing
        keep rejoin [to integer! face/offset/x " " to integer! face/offset/y " " to integer! face/size/x " " to integer! face/size/y]
    ]
]]
write %tab.txt form to pair! tabs/offset + 75x15
signal 'shown
await 'clicked
settle
face-rectangles win %rects-two.txt
print ["selected" tabs/selected]
signal 'two
await 'looked
KEL

# What a shot of the first page shows wrong, or nothing: pixels drawn outside
# every face, or a face of the window that shows nothing.
gallery_fault() {
    local spill x y w h
    spill=$(screen_spill "$1" rects.txt ff00ff spill.png)
    [ "$spill" = 0 ] || { echo "$spill pixels drawn outside the faces"; return; }
    while read -r x y w h; do
        [ "$(screen_count_colour "$1" "$x" "$y" "$w" "$h" ff00ff 0)" -lt $((w * h)) ] ||
            { echo "the face at $x,$y shows nothing"; return; }
    done < tops.txt
}
# The second page: pixels drawn outside every face.
page_two_fault() {
    local spill
    spill=$(screen_spill "$1" rects-two.txt ff00ff spill-two.png)
    [ "$spill" = 0 ] || echo "$spill pixels drawn outside the faces on page two"
}

screen_kel_start "$kel" gallery.kel
screen_await shown || fail "the window did not come up"
id=$(screen_wait_window "Gallery") || fail "no window"
fault=$(screen_shot_judged "$id" gallery.png gallery_fault) ||
    { mkdir -p "$screens"; cp gallery.png "$screens/"; cp spill.png "$screens/gallery-spill.png" 2> /dev/null; fail "$fault"; }
IFS=x read -r x y < tab.txt
xdotool mousemove --window "$id" "$x" "$y" click 1
screen_signal clicked
screen_await two || fail "the script did not go on after the click"
fault=$(screen_shot_judged "$id" gallery-page-two.png page_two_fault) ||
    { mkdir -p "$screens"; cp gallery-page-two.png "$screens/"; cp spill-two.png "$screens/gallery-page-two-spill.png" 2> /dev/null; fail "$fault"; }
screen_signal looked
screen_kel_end || fail "the script failed"
mkdir -p "$screens" && cp gallery.png gallery-page-two.png "$screens/"
grep -q "^selected 2$" out || fail "the click did not select the second tab"
echo "ok"
