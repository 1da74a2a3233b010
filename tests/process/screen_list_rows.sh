#!/usr/bin/env bash
# Values inserted into a shown list's data appear as rows at their place, and
# values removed take their rows away: a text list after insert at its head,
# in its middle and append of several values, or after remove at its head,
# in its middle and clear of its tail, looks as one made with the final data,
# its selection on the same row number after rows came or went before or
# after it; a drop-list after an insert before its selected item or a remove
# after it shows what one made with the final data shows; a text list whose
# data is not at its head shows what comes to its position when a value
# before it is removed.
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
    at 350x150 e4: text-list 70x130 data ["a" "b" "c"] select 3
    at 10x290 r1: text-list 70x130 data ["x" "a" "b" "y" "c" "d" "e" "f" "z" "w"]
    at 90x290 r2: text-list 70x130 data ["a" "b" "x" "c"] select 2
    at 170x290 r3: drop-list 80x24 data ["a" "x" "b" "c"] select 1
    at 270x290 r4: text-list 70x130 data ["h" "a" "a" "b" "c"] select 2
    at 350x290 r5: text-list 70x130 data ["x" "a" "b" "c"] select 3
]
screen-steps: [
    [insert l1/data "a" insert at l1/data 3 "c" append l1/data ["e" "f"] insert l2/data "a" insert d1/data "a"
        remove r1/data remove at r1/data 3 clear at r1/data 7 remove at r2/data 3 remove at r3/data 2
        r4/data: next r4/data remove head r4/data remove r5/data]
]
view/no-wait win
screen-run
print ["rows" mold l1/data mold l2/data l2/selected mold d1/data d1/selected]
print ["removed" mold r1/data mold r2/data r2/selected mold r3/data r3/selected mold r4/data r4/selected
    mold r5/data r5/selected]
KEL
} > "$dir/app.kel"

input_app_start "$kel" "$dir/app.kel" "$dir" || fail "the program did not start"
id=$(input_focus_window "list rows") || fail "no window"
read -r x y _ < <(screen_window_geometry "$id")
input_sync 1 || fail "the list changes were not handled"
# What a shot shows wrong, or nothing: the reference text list shows its
# rows, and each changed list (x y) looks like the one made with its final
# data (x y), of the width and height, after what was done.
lists_fault() {
    local shot="$1" list
    [ "$(input_region_difference "$shot" $((x + 10)) $((y + 150)) $((x + 270)) $((y + 10)) 70 130)" != 0 ] ||
        { echo "the reference text list shows nothing"; return; }
    for list in "10 10 10 150 70 130 insert and append" "90 10 90 150 70 130 insert before the selection" \
        "170 10 170 150 80 24 a drop-list insert" "10 290 10 150 70 130 removes at the head, middle and tail" \
        "90 290 90 150 70 130 remove after the selection" "170 290 170 150 80 24 a drop-list remove" \
        "270 290 90 150 70 130 a remove before the data's position" "350 290 350 150 70 130 remove before the selection"; do
        set -- $list
        [ "$(input_region_difference "$shot" $((x + $1)) $((y + $2)) $((x + $3)) $((y + $4)) $5 $6)" = 0 ] ||
            { echo "the list does not show its data after ${*:7}"; return; }
    done
}
fault=$(screen_shot_judged "" "$dir/lists.png" lists_fault) || fail "$fault"
input_app_finish || fail "the program failed"

grep -qF 'rows ["a" "b" "c" "d" "e" "f"] ["a" "b" "c"] 2 ["a" "b" "c"] 1' "$dir/out" ||
    fail "the data or the selections are not as the changes left them"
grep -qF 'removed ["a" "b" "c" "d" "e" "f"] ["a" "b" "c"] 2 ["a" "b" "c"] 1 ["a" "b" "c"] 2 ["a" "b" "c"] 3' "$dir/out" ||
    fail "the data or the selections are not as the removals left them"
echo "list rows: ok"
