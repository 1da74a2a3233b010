#!/usr/bin/env bash
# The console's menu bar on a real screen: File, Options and Help show above
# the console; Help and About chosen with the mouse open the about window,
# whose build line names the build's day (set here) and whose links read
# well on its dark backdrop and are underlined; Options and Settings chosen
# with the keyboard open the settings window, whose labels show whole, the
# check box's with one ampersand; File and Quit chosen with the mouse end
# the console.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
. "$here/../support/screen_input.sh"
. "$here/../support/screen_console.sh"
console_test_start

# The console as kel starts it, with a build day; the faces of the about and
# settings windows are written to a file named after the window as they are
# centred, before they show: "x y width height mark expected-width text",
# mark being the room a check box's mark takes before its label and the
# expected width that of the text as it should show.
cat > console.kel <<'KEL'
Kel []
system/build/date: 27-Jun-2025/14:05:33+2:00
shown-text: func [face [object!]] [
    any [
        select ["Mouse Copy&&Paste" "Mouse Copy&Paste"] face/text
        all [find/match face/text "Build" "Build 0.1.0 - 27-Jun-2025"]
        face/text
    ]
]
write-faces: func [win [object!] /local lines at text] [
    lines: make block! 40
    foreach-face win [
        if any [string? face/text face/type = 'base] [
            at: face/offset
            parent: face/parent
            while [parent/type <> 'window] [at: at + parent/offset parent: parent/parent]
            text: either face/type = 'base [mold face/color] [shown-text face]
            append lines rejoin [
                to integer! at/x " " to integer! at/y " " to integer! face/size/x " "
                to integer! face/size/y " "
                either face/type = 'check [system/view/metrics/paddings/check/1/x] [0] " "
                to integer! first size-text/with face text " " text
            ]
        ]
    ]
    write/lines to file! win/text lines
]
; The console calls the library's own center-face, which a global does not reach.
library-word: func [name [word!]] [bind name first find body-of :send-event 'send-event-os]
centre: get library-word 'center-face
set library-word 'center-face func [face [object!] /with parent] [
    if face/type = 'window [write-faces face]
    either with [centre/with face parent] [centre face]
]
console-start
KEL
"$kel" console.kel > out 2> err &
console=$!
trap 'kill $console 2> /dev/null; screen_stop' EXIT
id=$(screen_wait_window "Kel Console" "$(input_wait_limit)") || fail "no console window"
prompt_shown() {
    CONSOLE_TOP=$(console_top "$1")
    [ -n "$CONSOLE_TOP" ] || return 1
    read -r _ _ h < <(console_caret "$1")
    [ "$h" -gt 12 ]
}
console_shot_until "$id" start.png prompt_shown || fail "no prompt"
read -r wx wy _ < <(screen_window_geometry "$id")

# The menu bar: three words of ink above the console, as "first last" spans.
convert start.png -crop "400x${CONSOLE_TOP}+0+0" +repage -colorspace Gray -threshold 50% -negate \
    -scale "400x1!" -depth 8 txt:- | awk -F'[,:() ]+' '
    NR > 1 { if ($3 > 0) { if (start == "") start = $1; end = $1 }
             else if (start != "" && $1 - end > 8) { print start, end; start = "" } }
    END { if (start != "") print start, end }' > titles
[ "$(wc -l < titles)" = 3 ] || fail "the menu bar does not show three titles: $(cat titles)"
title_x() { read -r a b < <(sed -n "$1p" titles); echo $((wx + (a + b) / 2)); }
bar_y=$((wy + CONSOLE_TOP / 2))

# Clicks the given item (from 1) of the menu that a click on the title
# opened: the items are the bands of ink below the menu bar, in the menu's
# left part, which starts below the title.
menu_item_click() {
    local title="$1" item="$2" x left
    x=$(title_x "$title")
    left=$((wx + $(sed -n "${title}p" titles | cut -d" " -f1)))
    xdotool mousemove "$x" "$bar_y" click 1
    local bands y0 y1
    # Shots until the menu shows the item.
    menu_has_item() {
        screen_shot menu.png
        bands=$(convert menu.png -crop "70x120+$((left + 5))+$((wy + CONSOLE_TOP))" +repage -colorspace Gray \
            -threshold 50% -negate -scale "1x120!" -depth 8 txt:- | awk -F'[,:() ]+' '
            NR > 1 { if ($3 > 0) { if (start == "") start = $2; end = $2 }
                     else if (start != "") { if (end - start > 4) print start, end; start = "" } }')
        read -r y0 y1 < <(sed -n "${item}p" <<< "$bands")
        [ -n "$y1" ]
    }
    wait_until 10 menu_has_item || fail "menu $title has no item $item"
    xdotool mousemove $((left + 40)) $((wy + CONSOLE_TOP + (y0 + y1) / 2)) click 1
}

# The row of the faces file whose text begins with the given text.
face_rect() { grep -m1 "^[0-9-]* [0-9-]* [0-9]* [0-9]* [0-9]* [0-9]* $1" "$2"; }

# The width of the ink of a rectangle: dark ink, or with "light" ink lighter
# than the backdrop.
ink_width() {
    local shot="$1" x="$2" y="$3" w="$4" h="$5" light="${6:-}"
    convert "$shot" -crop "${w}x${h}+${x}+${y}" +repage -colorspace Gray -threshold 50% ${light:+-negate} \
        -negate -scale "${w}x1!" -depth 8 txt:- |
        awk -F'[,:() ]+' 'NR > 1 && $3 > 0 { if (first == "") first = $1; last = $1 }
            END { print (first == "" ? 0 : last - first + 1) }'
}

# Help, then About, with the mouse.
menu_item_click 3 2
about=$(screen_wait_window "^About$" "$(input_wait_limit)") || fail "About did not open the about window"
read -r x y w h _ expected _ < <(face_rect Build About)
[ -n "$expected" ] || fail "no build line in the about window"
# What the last shot of the about window shows wrong, or nothing: the build
# line as wide as its text; each link's ink with a contrast of 4.5 or more
# with the backdrop, and a row of it (the underline) running along most of
# the text.
about_fault() {
    local x y w h expected shown contrast underline text
    read -r x y w h _ expected _ < <(face_rect Build About)
    shown=$(ink_width about.png "$x" "$y" "$w" "$h" light)
    [ $((shown - expected)) -le 3 ] && [ $((expected - shown)) -le 7 ] ||
        { echo "the build line is $shown pixels wide, not the $expected of \"Build 0.1.0 - 27-Jun-2025\""; return; }
    while read -r x y w h _ _ text; do
        read -r contrast underline < <(convert about.png -crop "${w}x${h}+${x}+${y}" +repage -depth 8 txt:- |
            awk -F'[,:() ]+' '
            function lum(c) { c /= 255; return c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ^ 2.4 }
            NR > 1 {
                r = $3; g = $4; b = $5
                if ((r - 58) ^ 2 + (g - 58) ^ 2 + (b - 60) ^ 2 < 60 ^ 2) next
                key = r " " g " " b; n[key]++; ink[$2]++
                if (first == "" || $1 < first) first = $1; if ($1 > last) last = $1
            }
            END {
                # The text colour: the one of the fully covered pixels, the
                # farthest from the backdrop of the colours that are common.
                k = 0.2126 * lum(58) + 0.7152 * lum(58) + 0.0722 * lum(60)
                best = -1
                for (key in n) {
                    if (n[key] < 10) continue
                    split(key, c, " ")
                    l = 0.2126 * lum(c[1]) + 0.7152 * lum(c[2]) + 0.0722 * lum(c[3])
                    if ((l > k ? l - k : k - l) > best) { best = l > k ? l - k : k - l; text = l }
                }
                if (best < 0) { print 0, 0; exit }
                l = text
                if (l < k) { t = l; l = k; k = t }
                for (row in ink) if (ink[row] > longest) longest = ink[row]
                printf "%.1f %d\n", (l + 0.05) / (k + 0.05), (longest * 10 >= (last - first + 1) * 8) }')
        awk -v c="$contrast" 'BEGIN { exit !(c >= 4.5) }' ||
            { echo "the link $text has a contrast of only $contrast"; return; }
        [ "$underline" = 1 ] || { echo "the link $text is not underlined"; return; }
    done < <(grep ' https://' About)
}
# Shots until the window shows it all (it may show before it is wholly
# painted); then the last shot is judged.
about_painted() {
    screen_shot about.png "$about"
    [ -z "$(about_fault)" ]
}
wait_until 10 about_painted
fault=$(about_fault)
[ -z "$fault" ] || fail "$fault"
read -r x y w h _ < <(face_rect Close About)
xdotool mousemove $((x + w / 2 + $(screen_window_geometry "$about" | cut -d" " -f1))) \
    $((y + h / 2 + $(screen_window_geometry "$about" | cut -d" " -f2))) click 1
about_closed() { ! xdotool search --onlyvisible --name "^About$" > /dev/null 2>&1; }
wait_until 10 about_closed || fail "Close did not close the about window"

# Options, then Settings, with the keyboard: the swatches show in their
# group boxes, the labels whole.
xdotool key F10 Right Down Down Return
settings=$(screen_wait_window "^Settings$" "$(input_wait_limit)") || fail "the keyboard did not open the settings window"
# What the last shot of the settings window shows wrong, or nothing: the
# black swatch in its place in its group box (black within the grey box
# drawn on its edge), and each label as wide as its text.
settings_fault() {
    local x y w h mark expected label shown
    read -r x y w h _ < <(face_rect "0.0.0" Settings)
    [ "$(screen_count_colour settings.png "$x" "$y" "$w" "$h" 000000)" -ge $(((w - 4) * (h - 4))) ] ||
        { echo "the black swatch does not show in its place in its group box"; return; }
    for label in "Mouse Copy" "Buffer Lines:" "Dark Mode"; do
        read -r x y w h mark expected _ < <(face_rect "$label" Settings)
        [ -n "$expected" ] || { echo "no face $label in the settings window"; return; }
        shown=$(ink_width settings.png $((x + mark)) "$y" $((w - mark)) "$h")
        [ $((shown - expected)) -le 3 ] && [ $((expected - shown)) -le 7 ] ||
            { echo "the label \"$label\" shows $shown pixels wide, not the $expected of its text"; return; }
    done
}
# Shots until the window shows it all (it may show before it is wholly
# painted, the more so on a loaded machine); then the last shot is judged.
settings_painted() {
    screen_shot settings.png "$settings"
    [ -z "$(settings_fault)" ]
}
wait_until 10 settings_painted
fault=$(settings_fault)
[ -z "$fault" ] || fail "$fault"
read -r sx sy _ < <(screen_window_geometry "$settings")
read -r x y w h _ < <(face_rect Cancel Settings)
xdotool mousemove $((sx + x + w / 2)) $((sy + y + h / 2)) click 1
settings_closed() { ! xdotool search --onlyvisible --name "^Settings$" > /dev/null 2>&1; }
wait_until 10 settings_closed

# File, then Quit, with the mouse.
menu_item_click 1 2
for _ in $(seq $(($(input_wait_limit) * 10))); do kill -0 "$console" 2> /dev/null || break; sleep 0.1; done
kill -0 "$console" 2> /dev/null && fail "Quit did not end the console"
wait "$console" || fail "the console did not quit cleanly"
[ -f "$dir/Kel/Kel-Console/console-cfg.kel" ] || fail "Quit saved no configuration"
echo "ok"
