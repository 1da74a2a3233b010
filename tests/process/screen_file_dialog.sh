#!/usr/bin/env bash
# The file dialog on a real 1024x768 screen: it belongs to the window the
# script showed (transient for it) and lies on the screen whole, so its
# Open and Cancel buttons can be reached; Escape cancels it (none).
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen_faces.sh"
screen_test_start 1024x768 || exit 0
export GSETTINGS_BACKEND=memory

cat > dialog.kel <<KEL
Kel []
$SCREEN_KEL_PRELUDE
win: layout [title "Parent" size 300x200]
view/no-wait/options win [offset: 700x500]
settle
signal 'shown
print ["chosen" mold request-file/title "Pick one"]
KEL

screen_kel_start "$kel" dialog.kel
screen_await shown || fail "the window did not come up"
parent=$(screen_wait_window Parent) || fail "no parent window"
id=$(screen_wait_window "Pick one") || fail "no file dialog"
# Its size settles once it is mapped: wait until two looks agree.
geometry=""
geometry_settled() {
    local now
    now=$(screen_window_geometry "$id")
    [ -n "$geometry" ] && [ "$now" = "$geometry" ] && return 0
    geometry=$now
    sleep 0.2
    return 1
}
wait_until 20 geometry_settled || fail "the file dialog's size did not settle: $geometry"
screen_shot dialog.png; [ -n "${KEEP_SHOTS:-}" ] && cp dialog.png "$KEEP_SHOTS"
transient=$(xprop -id "$id" WM_TRANSIENT_FOR | sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p')
screen_answer "Pick one" Escape || fail "Escape did not close the file dialog"
screen_kel_end || fail "the script failed"

read -r x y w h <<< "$geometry"
[ "$x" -ge 0 ] && [ "$y" -ge 0 ] && [ $((x + w)) -le 1024 ] && [ $((y + h)) -le 768 ] ||
    fail "the file dialog ($geometry) does not lie on the 1024x768 screen"
[ -n "$transient" ] && [ $((transient)) = $((parent)) ] || fail "the file dialog has no parent window ($transient)"
grep -q '^chosen none$' out || fail "Escape did not cancel the file dialog"
echo "ok"
