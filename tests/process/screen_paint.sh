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

# What a shot of the first window shows wrong, or nothing. Drawn by the
# actor: a green corner over the face's white. No colour or a transparent
# one: the blue backdrop shows; half-transparent red blends.
before_fault() {
    local x
    [ "$(screen_pixel "$1" 15 15)" = "00c800" ] || { echo "on-drawing did not paint: $(screen_pixel "$1" 15 15)"; return; }
    [ "$(screen_pixel "$1" 60 40)" = "ffffff" ] || { echo "the rich-text face lost its colour"; return; }
    for x in 100 170 240; do
        [ "$(screen_pixel "$1" $x 40)" = "0000c8" ] || { echo "face at $x hides the backdrop: $(screen_pixel "$1" $x 40)"; return; }
    done
    [ "$(screen_count_colour "$1" 290 20 40 20 7f0064 4)" = 800 ] ||
        echo "the transparent base does not blend with the backdrop: $(screen_pixel "$1" 300 30)"
}
# The panel (200x80, 100x40) paints its corners and nothing outside: the
# field before it (10x10) stays white.
panel_fault() {
    local xy
    for xy in "202 82" "297 82" "202 117" "297 117"; do
        [ "$(screen_pixel "$1" $xy)" = "c86464" ] || { echo "the panel is not painted at $xy"; return; }
    done
    [ "$(screen_pixel "$1" 100 25)" = "ffffff" ] || { echo "the field is covered: $(screen_pixel "$1" 100 25)"; return; }
    [ "$(screen_count_colour "$1" 0 0 400 80 c86464 0)" = 0 ] || { echo "the panel paints above itself"; return; }
    [ "$(screen_count_colour "$1" 0 80 200 120 c86464 0)" = 0 ] || echo "the panel paints left of itself"
}
# After the click: the actor's corner again over the face's new yellow.
after_fault() {
    [ "$(screen_pixel "$1" 60 40)" = "ffff00" ] || { echo "the new colour was not painted: $(screen_pixel "$1" 60 40)"; return; }
    [ "$(screen_pixel "$1" 15 15)" = "00c800" ] || echo "on-drawing did not paint again"
}

screen_kel_start "$kel" paint.kel
screen_await shown || fail "the window did not come up"
id=$(screen_wait_window "Paint") || fail "no window"
fault=$(screen_shot_judged "$id" before.png before_fault) || fail "$fault"
panel=$(screen_wait_window Panel) || fail "no panel window"
fault=$(screen_shot_judged "$panel" panel.png panel_fault) || fail "$fault"
xdotool mousemove --window "$id" 50 20 click 1
screen_signal clicked
screen_await repainted || fail "the script did not go on after the click"
fault=$(screen_shot_judged "$id" after.png after_fault) || fail "$fault"
screen_signal looked
screen_kel_end || fail "the script failed"
echo "ok"
