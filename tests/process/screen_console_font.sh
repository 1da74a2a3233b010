#!/usr/bin/env bash
# Options > Choose Font... on a real screen: the font dialog opens, a font
# found by its name is selected, and the console takes it; quitting then
# writes the configuration with the chosen font and all the rest of the
# session: its history, the colours it started with and the window's new
# size.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
. "$here/../support/screen_input.sh"
. "$here/../support/screen_console.sh"
console_test_start
command -v fc-list > /dev/null && fc-list | grep -q 'Noto Mono' || test_skip "the font Noto Mono is not installed"

# A configuration left by an earlier session: its own colours and history.
cfg="$dir/Kel/Kel-Console/console-cfg.kel"
mkdir -p "$(dirname "$cfg")"
cat > "$cfg" <<'CFG'
Kel [
	Purpose: "Kel Console Configuration File"
]

win-pos: (200, 200) win-size: 640x480 font-name: "DejaVu Sans Mono" font-size: 12
font-color: 0.0.128 background: 253.246.227
mouse-paste?: false menu-bar?: true dark-mode?: no buffer-lines: 5000 history: ["older line"]
CFG
CONSOLE_BACKGROUND=fdf6e3
console_open

xdotool type --delay 20 'print "session line"'
xdotool key Return
row_y=$prompt_y
console_shot_until "$id" printed.png console_at_prompt || fail "no prompt after the printed line"
xdotool windowsize "$id" 600 420
resized() { [ "$(identify -format %w "$1")" = 600 ] && console_at_prompt "$1"; }
console_shot_until "$id" resized.png resized || fail "the console did not take the window's new size"

# Options, then Choose Font..., with the keyboard.
xdotool key F10 Right Down Return
dialog=$(screen_wait_window "^kel$" "$(input_wait_limit)") || fail "Choose Font... opened no font dialog"
# The dialog may show before it takes keys: the name is typed into its
# search field, Down selects the first font found and Return selects it,
# until the dialog closes.
dialog_closed() { ! xdotool search --onlyvisible --name "^kel$" > /dev/null 2>&1; }
font_selected() {
    xdotool key ctrl+a
    xdotool type --delay 20 "Noto Mono"
    xdotool key Down Return
    wait_until 1 dialog_closed
}
wait_until 30 font_selected || fail "the font dialog did not select a font"
# The console shows its prompt in the new font.
console_shot_until "$id" chosen.png console_at_prompt || fail "no prompt after the font was chosen"

xdotool type --delay 20 "quit"
xdotool key Return
wait "$console" || fail "the console did not quit cleanly"
[ -s err ] && fail "quitting told of a failure: $(cat err)"
# The size kept is the console's, below the menu bar.
for expected in 'font-name: "Noto Mono" font-size: 12' "win-size: 600x$((420 - CONSOLE_TOP))" \
    'font-color: 0.0.128 background: 253.246.227' 'buffer-lines: 5000' \
    'history: ["quit" {print "session line"} "older line"]'; do
    grep -qF "$expected" "$cfg" || fail "the configuration lacks $expected: $(cat "$cfg")"
done
echo "ok"
