# Screen tests that drive a program with real input need to know when the
# program has handled that input: X delivers events in order, so the driver
# ends each burst of input with the F12 key and waits until the program says
# it has seen it. Source after screen.sh:
#
#   input_test_start 640x480 || exit 0             # skips (status 77) without a server
#   input_app_start "$kel" "$dir/app.kel" "$dir"   # the script holds input_app_kel's code
#   xdotool type hi; input_sync 1                  # waits for the program's sync-1 file
#   input_app_finish                               # ends the program, waits for it
#
# The program side (input_app_kel "$dir" prints it): a global event handler
# takes F12 and stops it; the loop screen-run then evaluates the next block
# of screen-steps (when there is one), runs the event loop until it has been
# idle for ten rounds in a row (the window has repainted), and writes sync-N
# into the folder. screen-run returns once the driver writes done.

# The start of a screen test: a private folder in $dir (removed at exit),
# steady toolkit settings, the toolkit's caches kept out of leak reports and
# a private X server of the given size; the test ends as skipped when there
# is no server.
input_test_start() {
    dir=$(mktemp -d)
    SCREEN_CLEANUP="$dir"
    trap 'screen_stop' EXIT
    screen_leak_suppressions "$dir/leaks.supp"
    input_toolkit_settings "$dir/config"
    screen_start "$1"
}

# Ends the test with a message and the program's output.
fail() {
    echo "$1"
    cat "$dir/out" 2> /dev/null
    exit 1
}

# Seconds to wait for the program: 30 on a quiet machine, scaled by
# support/time.sh (GC torture makes everything much slower).
input_wait_limit() { test_deadline 30; }

input_app_kel() {
    cat <<KEL
screen-dir: %$1/
screen-syncs: 0
screen-steps: []
screen-pending: false
insert-event-func 'screen-sync func [face event][
    if all [event/type = 'key-down event/key = 'F12] [
        screen-pending: true
        return 'stop
    ]
    none
]
screen-settle: func [/local idle] [
    idle: 0
    until [
        idle: either do-events/no-wait [0] [idle + 1]
        wait 0.01
        idle >= 10
    ]
]
screen-run: does [
    write screen-dir/ready ""
    until [
        do-events/no-wait
        wait 0.01
        if screen-pending [
            screen-pending: false
            screen-syncs: screen-syncs + 1
            if block? pick screen-steps screen-syncs [do pick screen-steps screen-syncs]
            screen-settle
            write rejoin [screen-dir "sync-" screen-syncs] ""
        ]
        exists? screen-dir/done
    ]
    screen-settle
]
KEL
}

# Steady pixels: no caret blinking and no animated transitions, settings kept
# in memory; the toolkit reads its settings under the folder given.
input_toolkit_settings() {
    mkdir -p "$1/gtk-3.0"
    printf '[Settings]\ngtk-cursor-blink=false\ngtk-enable-animations=false\n' > "$1/gtk-3.0/settings.ini"
    export XDG_CONFIG_HOME="$1" GSETTINGS_BACKEND=memory
}

# Waits until a file exists; 1 when it did not appear in time or the
# program (when one runs) ended first.
input_wait_file() {
    local limit
    limit=$(input_wait_limit)
    for _ in $(seq $((limit * 10))); do
        [ -e "$1" ] && return 0
        [ -n "${INPUT_PID:-}" ] && ! kill -0 "$INPUT_PID" 2> /dev/null && return 1
        sleep 0.1
    done
    return 1
}

# Starts the program in the background (output in $dir/out) and waits until
# its loop runs; 1 when it did not get there.
input_app_start() {
    local kel="$1" script="$2"
    INPUT_DIR="$3"
    rm -f "$INPUT_DIR"/ready "$INPUT_DIR"/done "$INPUT_DIR"/sync-*
    (cd "$INPUT_DIR" && exec timeout $(($(input_wait_limit) * 4)) "$kel" "$script" > "$INPUT_DIR/out" 2>&1) &
    INPUT_PID=$!
    input_wait_file "$INPUT_DIR/ready"
}

# Ends a burst of input; returns once the program handled it (1 on timeout).
input_sync() {
    xdotool key F12
    input_wait_file "$INPUT_DIR/sync-$1"
}

# Tells the program to end and waits for it; its exit status.
input_app_finish() {
    touch "$INPUT_DIR/done"
    wait "$INPUT_PID"
}

# Gives the window of the title the keyboard focus, as a click on it would;
# prints its id. 1 when no such window shows.
input_focus_window() {
    local id
    id=$(screen_wait_window "$1" "$(input_wait_limit)") || return 1
    xdotool windowfocus "$id"
    echo "$id"
}

# Prints how many pixels of a rectangle (x y width height) of an image are
# dark (grey level below half): the ink of text, dots and lines.
input_dark_count() {
    convert "$1" -crop "$4x$5+$2+$3" +repage -colorspace Gray -threshold 50% -negate \
        -format '%[fx:round(mean*w*h)]' info:
}

# Prints how many pixels differ between two rectangles of the same size
# (x1 y1 x2 y2 width height) of one image; 0 when they look the same.
input_region_difference() {
    local file="$1" a b
    a=$(mktemp --suffix=.png) b=$(mktemp --suffix=.png)
    convert "$file" -crop "$6x$7+$2+$3" +repage "$a"
    convert "$file" -crop "$6x$7+$4+$5" +repage "$b"
    compare -metric AE "$a" "$b" null: 2>&1
    rm -f "$a" "$b"
}
