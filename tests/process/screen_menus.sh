#!/usr/bin/env bash
# Menus on a real screen: a window's menu block becomes a menu bar above its
# client area, whose items, chosen with the mouse and keys, send menu events;
# a menu block that holds itself gives a catchable error when the face is
# shown, and one that comes to hold itself later is reported when its
# context menu is asked for, with the process still sound for the next window.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen_faces.sh"
screen_test_start 800x600 || exit 0

cat > menus.kel <<KEL
Kel []
$SCREEN_KEL_PRELUDE
chosen: copy []
win: layout [title "Menus" size 200x100 backdrop 0.0.200 on-menu [append chosen event/picked signal 'picked]]
win/menu: ["File" ["Open" open "---" "Quit" quit] "Help" ["About" about]]
view/no-wait/options win [offset: 0x0]
loop: copy ["Loop" []]
append/only loop/2 "Again"
append/only loop/2 loop
shown: try [view/no-wait layout [base 40x40 with [menu: loop]]]
print ["shown" either error? shown [shown/id] ['no-error]]
ctx: layout [title "Context" size 100x60 b: base 80x40 255.0.0 with [menu: ["Copy" copy]]]
view/no-wait/options ctx [offset: 300x0]
append b/menu reduce ["Loop" b/menu]
settle
signal 'shown
await 'chosen
settle
print ["chosen" mold chosen]
unview/only ctx
later: layout [title "Later" size 100x60 base 80x40 0.255.0]
view/no-wait/options later [offset: 300x200]
settle
signal 'later
await 'looked
KEL

screen_kel_start "$kel" menus.kel
screen_await shown || fail "the windows did not come up"
id=$(screen_wait_window "Menus") || fail "no window"
read -r _ _ width height < <(screen_window_geometry "$id")
# The client area, blue, below the bar.
menus_fault() {
    [ "$(screen_pixel "$1" 100 $((height - 50)))" = "0000c8" ] || echo "the client area is not below the bar"
}
fault=$(screen_shot_judged "$id" menus.png menus_fault) || fail "$fault"
before=$(screen_windows)
xdotool mousemove --window "$id" 20 10 click 1
popup=$(screen_wait_popup "$before") || fail "the File menu did not open"
xdotool key Down Return
screen_await picked || fail "choosing File > Open sent no menu event"
screen_wait_gone "$popup" || fail "the File menu stayed open"
ctx=$(screen_wait_window "Context") || fail "no context window"
xdotool mousemove --window "$ctx" 40 30 click 3
wait_until 30 grep -q "invalid argument" out || fail "the context menu that holds itself was not reported"
screen_signal chosen
screen_await later || fail "the process did not go on after the context menu"
later=$(screen_wait_window Later) || fail "no next window"
later_fault() { [ "$(screen_pixel "$1" 40 30)" = "00ff00" ] || echo "the next window was not drawn"; }
fault=$(screen_shot_judged "$later" later.png later_fault) || fail "$fault"
screen_signal looked
screen_kel_end || fail "the script failed"

# The bar above the client area; the client area keeps the face's 200x100.
[ "$width" = 200 ] && [ "$height" -gt 110 ] || fail "no menu bar above the client area: ${width}x$height"
grep -q '^chosen \[open\]$' out || fail "choosing File > Open did not send its menu event"
grep -q "^shown invalid-arg$" out || fail "a menu that holds itself was shown without an error"
grep -q "invalid argument" out || fail "the context menu that holds itself was not reported"
echo "ok"
