#!/usr/bin/env bash
# Library code keeps its own words, in real windows on a private X server:
# a script whose variables are named first, next, last and head (words the
# GUI code calls) opens a layout that reads one of them, a real click on its
# button runs an actor that reads the script's own words and closes the
# window; a script that gives every global word a value of another type
# lays out, shows, captures and closes a window with the same results as
# before it did.
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
dir=$(mktemp -d)
SCREEN_CLEANUP="$dir"
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; cat "$dir/out" 2>/dev/null; exit 1; }
screen_start 640x480 || exit 0
screen_leak_suppressions "$dir/leaks.supp"
limit=$(test_deadline 30)

cat > "$dir/names.kel" <<'KEL'
Kel []
first: 10 next: 3 last: "end" head: 1x1
seen: none
view layout [
    title "Isolation"
    button "Press" 120x40 [seen: reduce [first next f/text head] unview]
    f: field last
]
print ["seen" mold seen]
KEL

cat > "$dir/clobber.kel" <<'KEL'
Kel []
; The output and input hooks stay shared with scripts on purpose.
shared: [print prin ask input _save-cfg null-handle]
snapshot: show-once: before: after: win: looked: shot: w: none

; Lays out, shows, captures and closes a window; the mold of what it saw.
show-once: [
    win: layout [
        title "Clobbered"
        text "Name" field "abc" 80 return
        button "OK" check "On" drop-list data ["a" "b"]
    ]
    view/no-wait win
    loop 20 [do-events/no-wait wait 0.01]
    shot: face-to-image win
    looked: reduce [
        win/size
        collect [foreach face win/pane [keep face/type keep face/offset keep face/size]]
        not none? win/state
        length? system/view/screens/1/pane
        shot/size
    ]
    unview
    loop 5 [do-events/no-wait wait 0.01]
    append looked length? system/view/screens/1/pane
    mold/all looked
]

; The script runs bound to a snapshot of the global words, on natives and
; the library only, so it keeps working while the global words are taken over.
snapshot: construct/only collect [
    foreach w words-of system/words [if value? w [keep to set-word! w keep/only get/any w]]
]
snapshot/snapshot: snapshot
bind show-once snapshot
do bind [
    before: do show-once
    foreach w words-of system/words [
        if all [value? w not find shared w] [set w either pair? get/any w [10] [1x1]]
    ]
    after: do show-once
    foreach w reflect snapshot 'words [set/any in system/words w get/any in snapshot w]
] snapshot
print ["before" before]
print ["after" after]
KEL

cd "$dir" || fail "no scratch folder"
timeout $((limit * 2)) "$kel" names.kel > out 2>&1 &
pid=$!
id=$(screen_wait_window "Isolation" "$limit") || fail "no window for a script with first, next, last and head of its own"
read -r _ _ width height < <(screen_window_geometry "$id")
[ "$width" -gt 100 ] && [ "$height" -gt 40 ] || fail "the window is ${width}x${height}"
# The button is the layout's first face: its top left corner sits at the
# layout's origin, 10x10.
xdotool mousemove --window "$id" 40 25 click 1
wait "$pid" || fail "the script with words of its own failed"
grep -qxF 'seen [10 3 "end" 1x1]' out || fail "the layout or the actor did not see the script's own words"

timeout $((limit * 2)) "$kel" clobber.kel > out 2>&1 || fail "the script that took every global word failed"
before=$(sed -n 's/^before //p' out)
after=$(sed -n 's/^after //p' out)
[ -n "$before" ] || fail "no window was shown"
case "$before" in
    *"#(true) 1 "*" 0]") ;;
    *) fail "the window was not shown, then closed: $before" ;;
esac
[ "$before" = "$after" ] || fail "the window differs once the global words were taken"
echo "ok"
