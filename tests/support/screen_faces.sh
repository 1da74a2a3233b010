# Runs a Kel script that shows windows on the X server of screen.sh, and
# passes the turn between the script and the test through files in the
# current folder: the script writes a file when its windows are up (or a step
# is done) and waits for the test's answer before it goes on.
#
#   screen_kel_start "$kel" app.kel     # in the background, output in ./out
#   screen_await shown || fail ...      # the script wrote ./shown
#   ...xdotool, screenshots...
#   screen_signal looked                # the script waits for ./looked
#   screen_kel_end || fail ...          # its exit status
#
# It brings the helpers of screen.sh along.
. "$(dirname "${BASH_SOURCE[0]}")/screen.sh"

# The Kel side of the same hand-over, for the scripts' own use:
SCREEN_KEL_PRELUDE='
signal: func [name [word!]] [write to file! name ""]
await: func [name [word!] /local file] [
    file: to file! name
    until [do-events/no-wait wait 0.01 exists? file]
]
; Runs the event loop until it has been idle for 20 rounds of 10 ms.
settle: func [/local idle] [
    idle: 0
    until [
        idle: either do-events/no-wait [0] [idle + 1]
        wait 0.01
        idle >= 20
    ]
]
; Writes the rectangle of every face of the window (offset from the corner
; of the window and size, in pixels) as lines "x y width height" to the file.
face-rectangles: func [win [object!] file [file!] /local lines at parent][
    lines: make block! 32
    foreach-face win [
        at: face/offset
        parent: face/parent
        while [parent/type <> (quote window)] [at: at + parent/offset parent: parent/parent]
        append lines rejoin [to integer! at/x " " to integer! at/y " " to integer! face/size/x " " to integer! face/size/y]
    ]
    write/lines file lines
]
'

# The start of a screen test: a fresh folder as the current one (removed at
# the end), the toolkit's leaks suppressed, the X server started with the
# given screen size; the test ends as skipped when the server cannot start.
screen_test_start() {
    local dir
    dir=$(mktemp -d)
    SCREEN_CLEANUP="$dir"
    cd "$dir" || return 1
    screen_leak_suppressions "$dir/leaks.supp"
    screen_start "${1:-800x600}"
}

# Ends the test with the message and the script's output.
fail() {
    echo "$1"
    cat out 2> /dev/null
    exit 1
}

screen_kel_start() {
    "$1" "$2" > out 2>&1 &
    SCREEN_KEL=$!
}

# Waits until the file exists (default 30 seconds, scaled: the collector's
# torture mode is slow); fails at once when the script has ended.
screen_await() {
    local name="$1" end=$((SECONDS + $(test_deadline "${2:-30}")))
    while :; do
        [ -e "$name" ] && return 0
        kill -0 "$SCREEN_KEL" 2> /dev/null || { [ -e "$name" ]; return; }
        [ "$SECONDS" -ge "$end" ] && return 1
        sleep 0.1
    done
}

screen_signal() { : > "$1"; }

screen_kel_end() {
    wait "$SCREEN_KEL"
}

# Prints how many pixels of the picture lie outside every rectangle of the
# file (lines "x y width height") and differ from the background colour
# (rrggbb): what faces painted outside their own rectangles. With a fourth
# argument, the picture of those pixels (white) is written there.
screen_spill() {
    local picture="$1" rects="$2" colour="$3" draw="" x y w h
    while read -r x y w h; do
        [ "$w" -gt 0 ] && [ "$h" -gt 0 ] && draw+="rectangle $x,$y $((x + w - 1)),$((y + h - 1)) "
    done < "$rects"
    convert "$picture" -alpha off -fill "#$colour" -draw "$draw" -fill white +opaque "#$colour" \
        -fill black -opaque "#$colour" ${4:+-write "$4"} -format "%[fx:round(w*h*mean)]" info:
}
