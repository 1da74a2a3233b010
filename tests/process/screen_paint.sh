#!/usr/bin/env bash
# What faces paint on a real screen, judged by the pixels of their window:
# a rich-text face without a draw block is painted by its on-drawing actor
# through draw-face, and painted again when a click changes its colour;
# faces without a colour, or with a transparent one, show what lies under
# them; a panel paints its own rectangle and nothing of the faces before it.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen_faces.sh"
screen_test_start 800x600 || exit 0

cat > paint.kel <<KEL
Kel []
$SCREEN_KEL_PRELUDE
drawn: 0
win: layout [
    title "Paint" size 400x200 backdrop 0.0.200
    rt: rich-text 60x40 255.255.255 on-down [face/color: 255.255.0] on-drawing [
        drawn: drawn + 1
        system/view/platform/draw-face face [pen off fill-pen 0.200.0 box 0x0 20x20]
    ]
    box 60x40 draw [pen yellow line 0x0 60x40]
    base 60x40 with [color: none]
    rich-text 60x40 with [color: none]
    base 60x40 255.0.0.128
]
view/no-wait/options win [offset: 0x0]
view/no-wait/options layout [
    title "Panel" size 400x200
    field 120 "one" at 200x80 panel 100x40 200.100.100 [text "in"]
] [offset: 0x300]
settle
signal 'shown
await 'clicked
settle
signal 'repainted
await 'looked
KEL

screen_kel_start "$kel" paint.kel
screen_await shown || fail "the window did not come up"
id=$(screen_wait_window "Paint") || fail "no window"
screen_shot before.png "$id"
screen_shot panel.png "$(screen_wait_window Panel)"
xdotool mousemove --window "$id" 50 20 click 1
screen_signal clicked
screen_await repainted || fail "the script did not go on after the click"
screen_shot after.png "$id"
screen_signal looked
screen_kel_end || fail "the script failed"

# Drawn by the actor: a green corner over the face's white, and again over
# its yellow after the click changed the colour.
[ "$(screen_pixel before.png 15 15)" = "00c800" ] || fail "on-drawing did not paint: $(screen_pixel before.png 15 15)"
[ "$(screen_pixel before.png 60 40)" = "ffffff" ] || fail "the rich-text face lost its colour"
[ "$(screen_pixel after.png 60 40)" = "ffff00" ] || fail "the new colour was not painted: $(screen_pixel after.png 60 40)"
[ "$(screen_pixel after.png 15 15)" = "00c800" ] || fail "on-drawing did not paint again"

# No colour or a transparent one: the blue backdrop shows; half-transparent red blends.
for x in 100 170 240; do
    [ "$(screen_pixel before.png $x 40)" = "0000c8" ] || fail "face at $x hides the backdrop: $(screen_pixel before.png $x 40)"
done
[ "$(screen_count_colour before.png 290 20 40 20 7f0064 4)" = 800 ] ||
    fail "the transparent base does not blend with the backdrop: $(screen_pixel before.png 300 30)"

# The panel (200x80, 100x40) paints its corners and nothing outside: the
# field before it (10x10) stays white.
for xy in "202 82" "297 82" "202 117" "297 117"; do
    [ "$(screen_pixel panel.png $xy)" = "c86464" ] || fail "the panel is not painted at $xy"
done
[ "$(screen_pixel panel.png 100 25)" = "ffffff" ] || fail "the field is covered: $(screen_pixel panel.png 100 25)"
[ "$(screen_count_colour panel.png 0 0 400 80 c86464 0)" = 0 ] || fail "the panel paints above itself"
[ "$(screen_count_colour panel.png 0 80 200 120 c86464 0)" = 0 ] || fail "the panel paints left of itself"
echo "ok"
