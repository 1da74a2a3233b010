#!/usr/bin/env bash
# Windows and dialogs on a real screen: sizes set by an on-resize actor, on
# a child face and on the window itself (also as the window opens), take
# effect; request-file without a file opens in the current folder.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
. "$here/../support/screen_input.sh"
input_test_start 800x600 || exit 0

# A child face follows the window's size.
{ echo 'Kel []'; input_app_kel "$dir"; cat <<'KEL'
win: layout [
    title "child"
    b: base 50x50 255.0.0
]
win/flags: 'resize
win/actors: make object! [on-resize: func [face event][b/size: face/size - 20x20]]
view/no-wait win
screen-run
KEL
} > "$dir/child.kel"
input_app_start "$kel" "$dir/child.kel" "$dir" || fail "the program did not start"
id=$(input_focus_window child) || fail "no window"
xdotool windowsize "$id" 300 200
input_sync 1 || fail "the resize was not handled"
# The child face, made 20 pixels smaller than the resized window each way, shows whole.
sized_fault() {
    local x y w h
    read -r x y w h < <(screen_window_geometry "$id")
    [ "$(screen_count_colour "$1" "$x" "$y" "$w" "$h" ff0000)" = $((280 * 180)) ] ||
        echo "the size set by on-resize on a child face was not applied"
}
fault=$(screen_shot_judged "" "$dir/sized.png" sized_fault) || fail "$fault"
input_app_finish || fail "the program failed"

# A window that keeps its own size, from the resize event it gets as it opens.
{ echo 'Kel []'; input_app_kel "$dir"; cat <<'KEL'
win: layout [title "fixed" base 50x50 255.0.0]
win/flags: 'resize
win/actors: make object! [on-resize: func [face event][if face/size <> 300x200 [face/size: 300x200]]]
view/no-wait win
screen-run
KEL
} > "$dir/fixed.kel"
input_app_start "$kel" "$dir/fixed.kel" "$dir" || fail "the program did not start"
id=$(input_focus_window fixed) || fail "no window"
input_sync 1 || fail "the window did not open"
opened=$(screen_window_geometry "$id" | cut -d" " -f3,4)
xdotool windowsize "$id" 500 400
input_sync 2 || fail "the resize was not handled"
resized=$(screen_window_geometry "$id" | cut -d" " -f3,4)
input_app_finish || fail "the program failed"
[ "$opened $resized" = "300 200 300 200" ] ||
    fail "the size set by on-resize on the window was not applied ($opened, $resized)"

# The file dialog opens in the current folder, the script's: a file of it is
# chosen with the keyboard. Recently used files are kept apart.
mkdir -p "$dir/pick" "$dir/data"
echo x > "$dir/pick/aa.txt"
cat > "$dir/pick/app.kel" <<KEL
Kel []
print ["chose" mold request-file/title "Pick"]
KEL
(cd "$dir/pick" && XDG_DATA_HOME="$dir/data" exec timeout $(($(input_wait_limit) * 2)) "$kel" app.kel > "$dir/out" 2>&1) &
pid=$!
input_focus_window Pick > /dev/null || fail "no file dialog"
# The dialog may show before it takes keys: Down and Return until it answers.
file_chosen() {
    xdotool key Down Return
    sleep 0.5
    grep -q chose "$dir/out"
}
wait_until 30 file_chosen || xdotool key Escape
wait $pid || fail "the dialog program failed"
grep -qE "^chose %$dir/pick/(aa.txt|app.kel)$" "$dir/out" || fail "request-file did not open in the current folder"
echo "window: ok"
