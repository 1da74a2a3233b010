# Screen tests of the graphical console: where its rows of text lie in a
# screenshot of its window and what they hold. Source after screen.sh and
# screen_input.sh.
#
#   console_top shot.png          # y of the console face below the menu bar
#   console_caret shot.png        # "x top height" of the caret (longest dark stroke)
#   console_row_ink shot.png 3    # dark pixels of row 3 (rows of CONSOLE_LINE_H from CONSOLE_TOP)
#   console_rows_differ shot.png 5 8
#
# Starts a console screen test: a 1024x768 screen, and a scratch folder that
# is the console's settings folder (APPDATA) and the working folder.
console_test_start() {
    input_test_start 1024x768 || exit 0
    export APPDATA="$dir"
    cd "$dir" || exit 1
}

# The console's background colour and the width its scroll bar takes.
CONSOLE_BACKGROUND=fcfcfc
CONSOLE_BAR=20

# The first y, in a shot of the console window, where the console face's
# background starts in the left column (below the menu bar, when there is
# one); nothing when it does not show.
console_top() {
    convert "$1" -crop "1x$(identify -format %h "$1")+6+0" +repage -depth 8 txt:- |
        awk -F'[,:]' -v c="#${CONSOLE_BACKGROUND^^}" 'NR > 1 && index($0, c) { print $2; exit }'
}

# The longest vertical run of dark pixels in the console area of a shot,
# from y (default CONSOLE_TOP) down: "x top length", the caret being the
# only stroke as tall as a row.
console_caret() {
    local shot="$1" top="${2:-$CONSOLE_TOP}" width height
    read -r width height < <(identify -format "%w %h" "$shot")
    convert "$shot" -crop "$((width - CONSOLE_BAR))x$((height - top))+0+$top" +repage -colorspace Gray \
        -threshold 50% -depth 8 txt:- | awk -F'[,: ]+' -v top="$top" '
        NR > 1 {
            x = $1; y = $2; dark = index($0, "#000000") > 0
            if (dark) { run[x] = (last[x] == y - 1 ? run[x] : 0) + 1; last[x] = y
                if (run[x] > best) { best = run[x]; bx = x; by = y - run[x] + 1 } }
        }
        END { print bx + 0, by + top, best + 0 }'
}

# The rectangle "x y width height" of console row n (from 0) in a shot.
console_row_rect() {
    local width
    width=$(identify -format %w "$1")
    echo 0 $((CONSOLE_TOP + $2 * CONSOLE_LINE_H)) $((width - CONSOLE_BAR)) "$CONSOLE_LINE_H"
}

# Dark pixels in console row n.
console_row_ink() {
    input_dark_count "$1" $(console_row_rect "$1" "$2")
}

# Pixels that differ between console rows a and b; 0 when they look the same.
console_rows_differ() {
    local width
    width=$(identify -format %w "$1")
    input_region_difference "$1" 0 $((CONSOLE_TOP + $2 * CONSOLE_LINE_H)) 0 $((CONSOLE_TOP + $3 * CONSOLE_LINE_H)) \
        $((width - CONSOLE_BAR)) "$CONSOLE_LINE_H"
}

# Takes shots of the window into the file until the condition (a command,
# given the file) holds; 1 when it does not within the wait limit.
console_shot_until() {
    local window="$1" shot="$2"
    shift 2
    for _ in $(seq $(($(input_wait_limit) * 5))); do
        screen_shot "$shot" "$window"
        "$@" "$shot" && return 0
        sleep 0.2
    done
    return 1
}

# The first and last x of the ink in a rectangle (x y width height) of a
# shot, as "first last"; nothing when it holds no ink.
console_ink_span() {
    convert "$1" -crop "$4x$5+$2+$3" +repage -colorspace Gray -threshold 50% -negate -depth 8 txt:- |
        awk -F'[,:]' -v x0="$2" 'NR > 1 && index($0, "#FFFFFF") {
            if (first == "" || $1 < first) first = $1; if ($1 > last) last = $1 }
        END { if (first != "") print first + x0, last + x0 }'
}

# Starts the console as kel starts it, output in $dir/out and $dir/err, and
# waits for its first prompt: a caret as tall as a row below the banner.
# Sets console (the process), id (its window), CONSOLE_TOP, CONSOLE_LINE_H,
# and prompt_x and prompt_y, where the caret stands at the prompt; the
# console is ended when the test's shell exits. Extra arguments go to kel.
console_open() {
    "$kel" "$@" > "$dir/out" 2> "$dir/err" &
    console=$!
    trap 'kill $console 2> /dev/null; screen_stop' EXIT
    id=$(screen_wait_window "Kel Console" "$(input_wait_limit)") || fail "no console window"
    console_shot_until "$id" "$dir/start.png" console_caret_shown || fail "no caret at a prompt"
    CONSOLE_LINE_H=$caret_h
    prompt_x=$caret_x
    prompt_y=$caret_y
}
console_caret_shown() {
    CONSOLE_TOP=$(console_top "$1")
    [ -n "$CONSOLE_TOP" ] || return 1
    read -r caret_x caret_y caret_h < <(console_caret "$1")
    [ "$caret_h" -gt 12 ] && [ "$caret_y" -gt $((CONSOLE_TOP + 2 * caret_h)) ]
}

# The console has shown its next prompt: the caret, as tall as a row, stands
# at the prompt's column (prompt_x) on a row below the one at row_y.
console_at_prompt() {
    read -r caret_x caret_y caret_h < <(console_caret "$1")
    [ "$caret_h" -ge $((CONSOLE_LINE_H - 1)) ] && [ $((caret_x - prompt_x)) -le 1 ] &&
        [ $((prompt_x - caret_x)) -le 1 ] && [ "$caret_y" -gt "$row_y" ]
}

# Types a command that fits on one row and enters it: char_w becomes the
# width of a character in thousandths of a pixel, measured from where the
# caret stands after the command, and row_y the command's row; returns once
# the next prompt shows (caret_y its row).
console_enter_measured() {
    local command="$1"
    xdotool type --delay 20 "$command"
    console_shot_until "$id" "$dir/typed.png" console_caret_after "${#command}" ||
        fail "the command $command does not show"
    char_w=$(((caret_x - prompt_x) * 1000 / ${#command}))
    row_y=$caret_y
    xdotool key Return
    console_shot_until "$id" "$dir/entered.png" console_at_prompt || fail "no prompt after $command"
}
# The caret stands after n typed characters: 6 pixels or more a character
# from the prompt, where it stood in the shot before.
console_caret_after() {
    local last="$caret_x"
    read -r caret_x caret_y _ < <(console_caret "$2")
    [ "$caret_x" -ge $((prompt_x + 6 * $1)) ] && [ "$caret_x" = "$last" ]
}
