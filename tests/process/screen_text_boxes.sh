#!/usr/bin/env bash
# Rich text and captures on a real screen: a rich-text face's tabs and
# line-spacing place its text as its caret positions say; to image! of a
# shown base gives its colour under its draw block, and of a window the
# window's background where no face paints.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen_faces.sh"
screen_test_start 800x600 || exit 0

cat > boxes.kel <<KEL
Kel []
$SCREEN_KEL_PRELUDE
win: layout [
    title "Boxes" size 400x200
    tabbed: rich-text 200x40 "a^-b" with [tabs: 100]
    spaced: rich-text 100x100 "a^/b" with [line-spacing: 40]
    b: base 60x40 255.0.0 draw [pen off fill-pen 0.0.255 box 0x0 10x10]
]
view/no-wait/options win [offset: 0x0]
settle
print ["carets" to pair! caret-to-offset tabbed 3 to pair! caret-to-offset spaced 3]
img: to image! b
print ["base" img/size pick img 5 * 60 + 6 pick img 30 * 60 + 31]
img: to image! win
print ["window" pick img 190 * 400 + 391]
signal 'shown
await 'looked
KEL

# Columns (x) and rows (y) of a rectangle of the shot holding dark text pixels.
dark_columns() {
    convert "$1" -crop "$4x$5+$2+$3" +repage -colorspace gray -threshold 50% -negate -rotate 90 \
        -scale "1x$4!" -depth 8 txt:- | awk -F'[(,:]' 'NR > 1 && $4 > 0 { printf "%d ", $2 }'
}
dark_rows() {
    convert "$1" -crop "$4x$5+$2+$3" +repage -colorspace gray -threshold 50% -negate \
        -scale "1x$5!" -depth 8 txt:- | awk -F'[(,:]' 'NR > 1 && $4 > 0 { printf "%d ", $2 }'
}
# What a shot shows wrong, or nothing: "b" after the tab starts at 100,
# nothing between the two letters; the second line starts 40 below the
# first; where no face paints, the background that to image! of the window
# captured.
boxes_fault() {
    local columns rows background
    columns=$(dark_columns "$1" 10 10 200 20)
    [ -z "$(echo "$columns" | awk '{ for (i = 1; i <= NF; i++) if ($i > 20 && $i < 100) print $i }')" ] &&
        echo "$columns" | awk '{ for (i = 1; i <= NF; i++) if ($i >= 100 && $i < 115) f = 1 } END { exit !f }' ||
        { echo "the tab is not drawn 100 wide: columns $columns"; return; }
    rows=$(dark_rows "$1" 220 10 100 100)
    [ -z "$(echo "$rows" | awk '{ for (i = 1; i <= NF; i++) if ($i > 20 && $i < 40) print $i }')" ] &&
        echo "$rows" | awk '{ for (i = 1; i <= NF; i++) if ($i >= 40 && $i < 60) f = 1 } END { exit !f }' ||
        { echo "the lines are not drawn 40 apart: rows $rows"; return; }
    background=$(screen_pixel "$1" 391 190)
    grep -q "^window $((16#${background:0:2})).$((16#${background:2:2})).$((16#${background:4:2})).0$" out ||
        echo "the captured window lacks the background $background"
}

screen_kel_start "$kel" boxes.kel
screen_await shown || fail "the window did not come up"
id=$(screen_wait_window "Boxes") || fail "no window"
fault=$(screen_shot_judged "$id" boxes.png boxes_fault) || fail "$fault"
screen_signal looked
screen_kel_end || fail "the script failed"

grep -q "^carets 100x0 0x40$" out || fail "the caret positions do not follow tabs and line-spacing"
grep -q "^base 60x40 0.0.255.0 255.0.0.0$" out || fail "the captured base lost its colour"
echo "ok"
