#!/usr/bin/env bash
# A face's draw block painted in a window on a virtual display: an error in
# it is printed and the paint ends cleanly, the script goes on; with
# system/view/silent? on nothing is printed.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel="$1"
# Only the painting is looked at here: leaks of window records are the
# window tests' concern (and the toolkit's own caches are no leaks).
export LSAN_OPTIONS="detect_leaks=0"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
. "$(cd "$(dirname "$0")" && pwd)/../support/screen.sh"
SCREEN_CLEANUP="$dir"
screen_start || exit 0

cat > "$dir/face.kel" <<'KEL'
Kel []
system/view/silent?: system/script/args = "silent"
b: make face! [type: 'base size: 40x40 offset: 0x0 draw: [pen off fill-pen 0.0.255 box 0x0 10x10 foo box 20x20 30x30]]
w: make face! [type: 'window size: 60x60 offset: 10x10 pane: reduce [b] text: "draw"]
view/no-wait w
; The test looks at the screen until the paint shows, then lets the script go on.
until [do-events/no-wait wait 0.01 exists? %looked]
unview/all
print "after"
KEL

# Painted once the box drawn before the error shows blue (the window sits at
# 10x10 on the screen).
painted() {
    screen_shot "$dir/shot.png" && [ "$(screen_pixel "$dir/shot.png" 15 15)" = "0000ff" ] && return 0
    kill -0 "$pid" 2> /dev/null || return 0
    return 1
}
for mode in loud silent; do
    rm -f "$dir/looked"
    (cd "$dir" && exec timeout "$(test_deadline 60)" "$kel" face.kel $mode > out 2> err) &
    pid=$!
    wait_until 30 painted || { kill "$pid"; echo "$mode: the face was not painted"; cat "$dir/out" "$dir/err"; exit 1; }
    : > "$dir/looked"
    wait "$pid"
    status=$?
    [ $status -eq 0 ] || { echo "$mode: exit status $status"; cat "$dir/out" "$dir/err"; exit 1; }
    grep -qx "after" "$dir/out" || { echo "$mode: script did not go on"; cat "$dir/out" "$dir/err"; exit 1; }
    if [ $mode = loud ]; then
        grep -q "DRAW - invalid input at: \[foo box 20x20 30x30\]" "$dir/err" ||
            { echo "loud: the error was not printed"; cat "$dir/err"; exit 1; }
    elif grep -q "DRAW" "$dir/err"; then
        echo "silent: the error was printed"; cat "$dir/err"; exit 1
    fi
done
echo "ok"
