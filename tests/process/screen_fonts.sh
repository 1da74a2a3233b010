#!/usr/bin/env bash
# Fonts and colours of native widgets on a real screen: changing fields of a
# shown face's font object (from a button's actor) redraws its text in the new
# size and colour; underline and strike are drawn together; the colour of a
# text, field, area and text-list face is its background.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen_faces.sh"
screen_test_start 800x600 || exit 0

cat > fonts.kel <<KEL
Kel []
$SCREEN_KEL_PRELUDE
win: layout [
    title "Fonts" backdrop 255.255.255
    big: text "Big" 120x50 font [size: 10]
    lines: text "Lines" 120x30 font [size: 14 style: [underline strike]]
    button "Grow" [big/font/size: 24 big/font/color: 255.0.0]
    return
    text "bg" 60x40 0.200.0 field "bg" 60x40 0.200.0 area "bg" 60x40 0.200.0
    text-list 60x40 0.200.0 data ["x"]
]
view/no-wait/options win [offset: 0x0]
settle
write %lines.txt form reduce [to pair! lines/offset to pair! size-text lines]
signal 'shown
await 'clicked
settle
signal 'changed
await 'looked
KEL

# Rows of the face's rectangle (x y width height) holding a pixel of the colour.
rows_with() {
    convert "$1" -crop "$4x$5+$2+$3" +repage -fill white +opaque "#$6" -fill black -opaque "#$6" \
        -scale "1x$5!" -depth 8 txt:- | grep -v "^#" | grep -vc "#FFFFFF"
}
# What a shot shows wrong, or nothing: each face of the second row in its
# colour (the window is painted); before the click, no red text.
colours_fault() {
    local x
    for x in 15 85 155 225; do
        [ "$(screen_pixel "$1" $x 95)" = "00c800" ] || { echo "the face at $x does not show its colour: $(screen_pixel "$1" $x 95)"; return; }
    done
}
before_fault() {
    colours_fault "$1"
    [ "$(rows_with "$1" 10 10 120 50 ff0000)" = 0 ] || echo "the text is red before the click"
}
# After the click: the text in its new size and colour, and the rows of the
# text "Lines" that are dark across the whole text, the underline and the
# strike-through line.
after_fault() {
    local x y w h full
    colours_fault "$1"
    [ "$(rows_with "$1" 10 10 120 50 ff0000)" -ge 20 ] || { echo "the font's new size and colour did not reach the screen"; return; }
    IFS=' x' read -r x y w h < lines.txt
    full=$(convert "$1" -crop "${w}x$h+$x+$y" +repage -colorspace gray -threshold 50% -negate \
        -scale "1x$h!" -depth 8 txt:- | awk -F'[(,)]' 'NR > 1 && $3 > 230 { n++ } END { print n + 0 }')
    [ "$full" -ge 2 ] || echo "underline and strike are not both drawn ($full full rows)"
}

screen_kel_start "$kel" fonts.kel
screen_await shown || fail "the window did not come up"
id=$(screen_wait_window "Fonts") || fail "no window"
fault=$(screen_shot_judged "$id" before.png before_fault) || fail "$fault"
xdotool mousemove --window "$id" 300 20 click 1
screen_signal clicked
screen_await changed || fail "the script did not go on after the click"
fault=$(screen_shot_judged "$id" after.png after_fault) || fail "$fault"
screen_signal looked
screen_kel_end || fail "the script failed"
echo "ok"
