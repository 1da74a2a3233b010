#!/usr/bin/env bash
# Values inserted into a shown list's data appear as rows at their place: a
# text list after insert at its head, in its middle and append of several
# values looks as one made with the final data, its selection on the same row
# number; a drop-list after an insert before its selected item shows what one
# made with the final data shows.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
. "$here/../support/screen_input.sh"
input_test_start 640x480 || exit 0

{ echo 'Kel []'; input_app_kel "$dir"; cat <<'KEL'
win: layout [
    title "list rows"
    at 10x10 l1: text-list 70x130 data ["b" "d"]
    at 90x10 l2: text-list 70x130 data ["b" "c"] select 2
    at 170x10 d1: drop-list 80x24 data ["b" "c"] select 1
    at 10x150 e1: text-list 70x130 data ["a" "b" "c" "d" "e" "f"]
    at 90x150 e2: text-list 70x130 data ["a" "b" "c"] select 2
    at 170x150 e3: drop-list 80x24 data ["a" "b" "c"] select 1
    at 270x10 z: text-list 70x130 data []
]
screen-steps: [
    [insert l1/data "a" insert at l1/data 3 "c" append l1/data ["e" "f"] insert l2/data "a" insert d1/data "a"]
]
view/no-wait win
screen-run
print ["rows" mold l1/data mold l2/data l2/selected mold d1/data d1/selected]
KEL
} > "$dir/app.kel"

input_app_start "$kel" "$dir/app.kel" "$dir" || fail "the program did not start"
id=$(input_focus_window "list rows") || fail "no window"
read -r x y _ < <(screen_window_geometry "$id")
input_sync 1 || fail "the list changes were not handled"
screen_shot "$dir/lists.png"
input_app_finish || fail "the program failed"

grep -qF 'rows ["a" "b" "c" "d" "e" "f"] ["a" "b" "c"] 2 ["a" "b" "c"] 1' "$dir/out" ||
    fail "the data or the selections are not as the changes left them"
[ "$(input_region_difference "$dir/lists.png" $((x + 10)) $((y + 150)) $((x + 270)) $((y + 10)) 70 130)" != 0 ] ||
    fail "the reference text list shows nothing"
for list in "10 70 130 insert and append" "90 70 130 insert before the selection" "170 80 24 a drop-list insert"; do
    set -- $list
    [ "$(input_region_difference "$dir/lists.png" $((x + $1)) $((y + 10)) $((x + $1)) $((y + 150)) $2 $3)" = 0 ] ||
        fail "the list does not show its data after ${*:4}"
done
echo "list rows: ok"
