#!/usr/bin/env bash
# The graphical console on a real screen: its face draws through drawing
# events, so the banner shows, and a line typed with the keyboard shows with
# its result below it.
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen_faces.sh"
screen_test_start 800x600 || exit 0
export APPDATA="$PWD"

"$kel" > out 2>&1 &
console=$!
id=$(screen_wait_window "Kel Console" 300) || fail "no console window"
# Rows of the console holding dark pixels (text), below the menu bar and
# left of the scroll bar.
text_rows() {
    local width height
    read -r width height < <(identify -format "%w %h" "$1")
    convert "$1" -crop "$((width - 30))x$((height - 40))+0+30" +repage -colorspace gray -threshold 50% -negate \
        -scale "1x$((height - 40))!" -depth 8 txt:- | awk -F'[(,:]' 'NR > 1 && $4 > 0 { n++ } END { print n + 0 }'
}
# Painted once the bottom of the console is no longer the unpainted black.
for _ in $(seq 300); do
    screen_shot banner.png "$id"
    [ "$(screen_pixel banner.png 10 "$(($(identify -format %h banner.png) - 10))")" != 000000 ] &&
        [ "$(text_rows banner.png)" -gt 0 ] && break
    sleep 0.2
done
banner=$(text_rows banner.png)
xdotool type "1 + 2"
xdotool key Return
for _ in $(seq 300); do
    screen_shot result.png "$id"
    [ "$(text_rows result.png)" -gt $((banner + 10)) ] && break
    sleep 0.2
done
result=$(text_rows result.png)
kill "$console"
wait "$console"

[ "$banner" -gt 10 ] || fail "the console shows no banner ($banner rows of text)"
[ "$result" -gt $((banner + 10)) ] || fail "the typed line and its result do not show ($banner, then $result rows)"
echo "ok"
