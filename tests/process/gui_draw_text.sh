#!/usr/bin/env bash
# Text drawn by the Draw dialect into images, headless: strings in the pen's
# or the font's colour, rich-text faces with their boxes and style ranges.
# Runs with the font libraries' own caches kept out of leak reports.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
runner="$here/../kel/runner.kel"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

cat > "$dir/text.kel" <<KEL
Kel [title: "Draw text" prelude: %$runner]

red: 255.0.0.0
blue: 0.0.255.0
white: 255.255.255.0

render: func [size [pair!] cmds [block!] /local img][
    img: make image! size
    platform-draw-image img cmds
    img
]
px: func [img [image!] at [pair!]][pick img at/y * img/size/x + at/x + 1]
has-color?: func [img [image!] color [tuple!]][
    repeat i length? img [if color = pick img i [return true]]
    false
]
inked: func [img [image!] /local n][
    n: 0
    repeat i length? img [if white <> pick img i [n: n + 1]]
    n
]

group "strings" [
    expect true [0 < inked render 60x30 [text 2x2 "Hello"]]
    ; a font's colour wins over the pen; without one the pen colours the text
    expect true [
        f: make font! [size: 14 color: 0.128.0]
        has-color? render 60x30 [pen blue font f text 0x0 "MMM"] 0.128.0.0
    ]
    expect true [
        f: make font! [size: 14]
        has-color? render 60x30 [pen blue font f text 0x0 "MMM"] blue
    ]
    ; a bigger font inks more
    expect true [
        small: make font! [size: 8]
        big: make font! [size: 20]
        (inked render 100x40 [font small text 0x0 "MMM"]) < inked render 100x40 [font big text 0x0 "MMM"]
    ]
    ; text stays inside the clip
    expect 0 [inked render 60x30 [clip 0x0 1x1 text 10x10 "MMM"]]
]

group "rich-text faces" [
    ; its box is filled first, then its ranges styled
    expect red [
        rt: make object! [type: 'rich-text size: 60x30 text: "abcdef" color: red data: [1x3 bold 4x2 0.0.255]]
        px render 80x40 compose [text 10x10 (rt)] 65x35
    ]
    expect true [
        rt: make object! [type: 'rich-text size: 60x30 text: "MMMMMM" data: [4x2 0.0.255 font-size-gone]]
        error? try [render 80x40 compose [text 0x0 (rt)]]
    ]
    expect true [
        rt: make object! [type: 'rich-text size: 60x30 text: "MMMMMM" data: [4x2 0.0.255]]
        has-color? render 80x40 compose [text 0x0 (rt)] blue
    ]
    ; a range past the text is cut to it
    expect true [
        rt: make object! [type: 'rich-text size: 60x30 text: "MMM" data: [1x5 0.0.255 underline strike 2x1 "Serif" 14 italic backdrop 255.0.0]]
        has-color? render 80x40 compose [text 0x0 (rt)] blue
    ]
    expect-error 'script 'draw-invalid [
        rt: make object! [type: 'rich-text size: 60x30 text: "abc" data: [1x3 backdrop]]
        render 80x40 compose [text 0x0 (rt)]
    ]
]

report
KEL

"$kel" "$dir/text.kel" > "$dir/out" 2>&1 || { cat "$dir/out"; exit 1; }
tail -1 "$dir/out"
