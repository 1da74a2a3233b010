#!/usr/bin/env bash
# The console window's place and size survive a restart exactly: moved and
# made smaller than it opened, then quit, the console opens again where and
# as large as it was left, and quitting again writes the same configuration.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
. "$here/../support/screen_input.sh"
. "$here/../support/screen_console.sh"
console_test_start
cfg="$dir/Kel/Kel-Console/console-cfg.kel"

# Starts the console and waits for its prompt: a caret below the banner.
console_start() {
    "$kel" > out 2> err &
    console=$!
    id=$(screen_wait_window "Kel Console" "$(input_wait_limit)") || fail "no console window"
    console_shot_until "$id" shot.png prompt_shown || fail "no prompt"
}
prompt_shown() {
    CONSOLE_TOP=$(console_top "$1")
    [ -n "$CONSOLE_TOP" ] || return 1
    read -r _ _ h < <(console_caret "$1")
    [ "$h" -gt 12 ]
}
console_quit() {
    xdotool type --delay 30 quit
    xdotool key Return
    wait "$console" || fail "the console did not quit cleanly"
}
geometry_is() { [ "$(screen_window_geometry "$id")" = "$1" ]; }

# The console has taken a new size once its scroll bar shows at the
# window's right edge.
resized() {
    [ "$(identify -format %w "$1")" = 500 ] &&
        [ "$(screen_pixel "$1" 493 $((CONSOLE_TOP + 10)))" != "$CONSOLE_BACKGROUND" ]
}

console_start
xdotool windowmove "$id" 150 100 windowsize "$id" 500 320
console_shot_until "$id" resized.png resized || fail "the console did not take the window's new size"
geometry_is "150 100 500 320" || fail "the window was not moved and sized: $(screen_window_geometry "$id")"
console_quit
cp "$cfg" first.cfg

console_start
geometry_is "150 100 500 320" || fail "the window opens at $(screen_window_geometry "$id"), not where it was left"
console_quit
cmp -s first.cfg "$cfg" || fail "the second start saved another configuration: $(diff first.cfg "$cfg")"
echo "ok"
