#!/usr/bin/env bash
# Lists, radios and tabs on a real screen: text lists, a drop-list and a
# drop-down show their data as it is after remove, take and clear on it;
# a drop-list's popup list closes on Return, Escape and a click on an item,
# and only Return and the click choose; radios with no data show none
# picked, a click picks one and runs its on-change, and the radio it unpicks
# runs none; a tab change vetoed by on-select returning stop does not happen.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
. "$here/../support/screen_input.sh"
input_test_start 640x480 || exit 0

{ echo 'Kel []'; input_app_kel "$dir"; cat <<'KEL'
log: copy []
win: layout [
    title "lists"
    at 10x10 l1: text-list 70x100 data ["a" "b" "c" "d"]
    at 90x10 l2: text-list 70x100 data ["a" "b" "c" "d"]
    at 170x10 l3: text-list 70x100 data ["a" "b" "c" "d"]
    at 10x120 e1: text-list 70x100 data ["b" "c" "d"]
    at 90x120 e2: text-list 70x100 data ["a" "b" "c"]
    at 170x120 e3: text-list 70x100 data ["a"]
    at 250x10 d: drop-list 80x24 data ["a" "b" "c" "d"]
    at 250x120 dd: drop-down 80x24 data ["a" "b" "c" "d"]
    at 250x160 d2: drop-list 80x24 data ["x" "y" "z"] on-select [append log reduce ['d2-select event/picked]]
    at 250x50 r1: radio 80x24 "one" on-change [append log reduce ['change face/text face/data]]
    at 250x80 r2: radio 80x24 "two" on-change [append log reduce ['change face/text face/data]]
    at 340x10 tp: tab-panel 200x80 ["A" [text "a"] "B" [text "b"]]
        on-select [append log reduce ['select event/picked] 'stop]
        on-change [append log 'tab-change]
]
screen-steps: [
    [remove l1/data take/last l2/data clear next l3/data remove d/data remove dd/data]
]
view/no-wait win
screen-run
print ["drop-list" mold d/text "drop-down" mold dd/text]
print ["radios" mold reduce [r1/data r2/data]]
print ["tab" tp/selected]
print ["log" mold log]
KEL
} > "$dir/app.kel"

input_app_start "$kel" "$dir/app.kel" "$dir" || fail "the program did not start"
id=$(input_focus_window lists) || fail "no window"
read -r x y _ < <(screen_window_geometry "$id")
input_sync 1 || fail "the list changes were not handled"
# What a shot shows wrong, or nothing: each text list looks like the one
# made with its final data, and the radios without data look alike.
lists_fault() {
    local shot="$1" list
    for list in "10 remove" "90 take/last" "170 clear"; do
        set -- $list
        [ "$(input_region_difference "$shot" $((x + $1)) $((y + 10)) $((x + $1)) $((y + 120)) 70 100)" = 0 ] ||
            { echo "a text list does not show its data after $2"; return; }
    done
    [ "$(input_region_difference "$shot" $((x + 250)) $((y + 50)) $((x + 250)) $((y + 80)) 22 24)" = 0 ] ||
        echo "radios without data do not look alike"
}
fault=$(screen_shot_judged "" "$dir/lists.png" lists_fault) || fail "$fault"
# The drop-list's popup list opens with its first item under the cursor and
# Return chooses it; the next click waits until the popup is gone, which has
# the pointer till then.
before=$(screen_windows)
xdotool mousemove $((x + 290)) $((y + 22)) click 1
popup=$(screen_wait_popup "$before") || fail "the drop-list's popup did not open"
xdotool key Return
screen_wait_gone "$popup" || fail "Return did not close the drop-list's popup"
# Down in the drop-down's entry chooses its first item.
xdotool mousemove $((x + 270)) $((y + 132)) click 1
xdotool key Down
input_sync 2 || fail "the choices in the drop-list and the drop-down were not handled"
xdotool mousemove $((x + 260)) $((y + 92)) click 1
input_sync 3 || fail "the click on the second radio was not handled"
xdotool mousemove $((x + 260)) $((y + 62)) click 1
input_sync 4 || fail "the click on the first radio was not handled"
xdotool mousemove $((x + 340 + 85)) $((y + 10 + 18)) click 1
input_sync 5 || fail "the click on the second tab was not handled"
# Escape closes the second drop-list's popup choosing nothing; a click in
# the middle of its three rows chooses the second item and closes it.
before=$(screen_windows)
xdotool mousemove $((x + 290)) $((y + 172)) click 1
popup=$(screen_wait_popup "$before") || fail "the second drop-list's popup did not open"
xdotool key Escape
screen_wait_gone "$popup" || fail "Escape did not close the drop-list's popup"
before=$(screen_windows)
xdotool mousemove $((x + 290)) $((y + 172)) click 1
popup=$(screen_wait_popup "$before") || fail "the second drop-list's popup did not open again"
read -r px py pw ph < <(screen_window_geometry "$popup")
xdotool mousemove $((px + pw / 2)) $((py + ph / 2)) click 1
screen_wait_gone "$popup" || fail "a click on an item did not close the drop-list's popup"
input_sync 6 || fail "the choice in the second drop-list was not handled"
input_app_finish || fail "the program failed"

grep -qF 'drop-list "b"' "$dir/out" || fail "the drop-list does not show its data after remove"
grep -qF 'drop-down "b"' "$dir/out" || fail "the drop-down does not show its data after remove"
grep -qF 'log [change "two" true change "one" true select 2' "$dir/out" ||
    fail "radio clicks ran the wrong on-change actors"
grep -qF 'radios [true false]' "$dir/out" || fail "the radios' data do not follow the clicks"
grep -qx 'tab 1' "$dir/out" && ! grep -q tab-change "$dir/out" || fail "a vetoed tab change happened"
grep -qF 'select 2 d2-select 2]' "$dir/out" || fail "Escape or a click in the drop-list's popup chose wrong"
echo "lists: ok"
