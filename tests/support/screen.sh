# Screen tests: helpers sourced by tests/process/*.sh that open real windows
# on a private X server, drive them with real input and judge the pixels.
#
#   . "$here/../support/screen.sh"
#   screen_start 800x600 || exit 0      # skips (status 77) when Xvfb is missing
#   "$kel" app.kel & screen_wait_window "title" 20
#   xdotool key ...; screen_shot "$dir/shot.png"
#   [ "$(screen_pixel "$dir/shot.png" 10 10)" = "0000c8" ] || fail ...
#
# The server is found by -displayfd, so tests running side by side never
# race for a display number; it is stopped when the test's shell exits.
# Waits are given in seconds on a quiet machine and scaled (support/time.sh).
. "$(dirname "${BASH_SOURCE[0]}")/time.sh"

# The toolkit's libraries keep caches for the life of the process.
screen_leak_suppressions() {
    local file="$1" lib
    for lib in libdbus-1.so libglib-2.0.so libgobject-2.0.so libgio-2.0.so libgtk-3.so libgdk-3.so \
        libgdk_pixbuf-2.0.so libfontconfig.so libpango libcairo.so libharfbuzz.so libX11.so libatk; do
        echo "leak:$lib"
    done > "$file"
    export LSAN_OPTIONS="suppressions=$file:print_suppressions=0"
}

# Starts Xvfb with a screen of the given size (default 1024x768) and exports
# DISPLAY. When Xvfb, xdotool or ImageMagick is missing, or the server does
# not start within its wait, the test ends as skipped (test_skip): a test that
# cannot run does not pass.
screen_start() {
    local size="${1:-1024x768}" fifo
    for tool in Xvfb xdotool import convert; do
        command -v "$tool" > /dev/null || test_skip "$tool is not installed"
    done
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3> "$fifo" 2> /dev/null &
    SCREEN_SERVER=$!
    local number
    read -r -t "$(test_deadline 20)" number < "$fifo" || { rm -f "$fifo"; kill "$SCREEN_SERVER" 2> /dev/null; test_skip "Xvfb did not start"; }
    rm -f "$fifo"
    export DISPLAY=":$number"
    trap 'screen_stop' EXIT
    return 0
}

screen_stop() {
    [ -n "${SCREEN_SERVER:-}" ] && kill "$SCREEN_SERVER" 2> /dev/null
    [ -n "${SCREEN_CLEANUP:-}" ] && rm -rf "$SCREEN_CLEANUP"
    return 0
}

# Prints the id of the first visible window whose title matches, waiting up to
# the given seconds (default 20, scaled); returns 1 when none appears.
screen_wait_window() {
    local name="$1" end=$((SECONDS + $(test_deadline "${2:-20}"))) id
    while :; do
        id=$(xdotool search --onlyvisible --name "$name" 2> /dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        [ "$SECONDS" -ge "$end" ] && return 1
        sleep 0.1
    done
}

# Prints the ids of the visible top-level windows, one a line, sorted: taken
# before an action, it lets screen_wait_popup tell the windows the action
# showed from those already there.
screen_windows() {
    xdotool search --onlyvisible --maxdepth 1 --name '' 2> /dev/null | sort
}

# Waits until a top-level window shows that is not among the ids given (as
# screen_windows printed them) and holds ink (its items are drawn, so the
# toolkit has taken the pointer and keyboard for it): a menu or a drop-list's
# popup. Prints its id; 1 when none shows within the seconds (default 20,
# scaled).
screen_wait_popup() {
    local before="$1" end=$((SECONDS + $(test_deadline "${2:-20}"))) id shot
    shot=$(mktemp --suffix=.png)
    while :; do
        for id in $(comm -13 <(echo "$before") <(screen_windows)); do
            screen_shot "$shot" "$id" 2> /dev/null &&
                [ "$(convert "$shot" -colorspace Gray -threshold 50% -negate -format '%[fx:round(mean*w*h)]' info:)" -gt 0 ] &&
                { rm -f "$shot"; echo "$id"; return 0; }
        done
        [ "$SECONDS" -ge "$end" ] && { rm -f "$shot"; return 1; }
        sleep 0.1
    done
}

# Waits until the window of the id no longer shows (default 20 seconds,
# scaled); 1 when it still does.
screen_wait_gone() {
    wait_until "${2:-20}" screen_window_gone "$1"
}
screen_window_gone() {
    ! xdotool search --onlyvisible --maxdepth 1 --name '' 2> /dev/null | grep -qx "$1"
}

# Answers the window of the title with a key, as a person would: waits for it
# to show, gives it the focus and presses the key, and waits until that window
# is gone. A window met while it is still being mapped can refuse the focus or
# miss the key, so the key is pressed again while the same window stays, after
# a wait that doubles each time. 1 when it did not show or did not go within
# the seconds (default 30, scaled).
screen_answer() {
    local title="$1" key="$2" limit="${3:-30}" end id pause again
    end=$((SECONDS + $(test_deadline "$limit")))
    pause=$(test_deadline 1)
    id=$(screen_wait_window "$title" "$limit") || return 1
    while [ "$SECONDS" -lt "$end" ]; do
        timeout "$pause" xdotool windowfocus --sync "$id" 2> /dev/null && xdotool key "$key"
        again=$((SECONDS + pause))
        while [ "$SECONDS" -lt "$again" ]; do
            screen_window_gone "$id" && return 0
            sleep 0.1
        done
        pause=$((pause * 2))
    done
    return 1
}

# Captures the whole screen, or one window when an id is given, as PNG.
screen_shot() {
    if [ -n "${2:-}" ]; then import -window "$2" "$1"; else import -window root "$1"; fi
}

# Takes shots into the file, of the window of the id or of the whole screen
# when the id is empty, until the judge (a command, given the file) prints
# nothing about the last shot or the seconds (default 20, scaled) pass; then
# prints what the judge said of the last shot and returns 1 when it said
# anything. A window can show, and a program say it is done, before the
# window is wholly painted, the more so on a loaded machine, so a shot is
# judged only once it shows all that is judged in it.
#
#   sizes_fault() { [ "$(screen_pixel "$1" 5 5)" = ff0000 ] || echo "no red corner"; }
#   fault=$(screen_shot_judged "$id" sizes.png sizes_fault) || fail "$fault"
screen_shot_judged() {
    local window="$1" shot="$2" judge="$3" end fault
    end=$((SECONDS + $(test_deadline "${4:-20}")))
    while :; do
        if screen_shot "$shot" "$window" 2> /dev/null; then
            fault=$("$judge" "$shot")
        else
            fault="no shot of the window $window"
        fi
        [ -z "$fault" ] && return 0
        [ "$SECONDS" -ge "$end" ] && { echo "$fault"; return 1; }
        sleep 0.1
    done
}

# Prints the colour of one pixel of an image as six hex digits (rrggbb).
screen_pixel() {
    convert "$1" -crop "1x1+$2+$3" -type TrueColor -depth 8 txt:- | sed -n '2s/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | tr 'A-F' 'a-f'
}

# Prints how many pixels of a rectangle (x y width height) have the given
# colour (rrggbb), within a tolerance per channel (default 8).
screen_count_colour() {
    local file="$1" x="$2" y="$3" w="$4" h="$5" colour="$6" fuzz="${7:-8}"
    convert "$file" -crop "${w}x${h}+${x}+${y}" +repage -type TrueColor -depth 8 txt:- | awk -v c="$colour" -v f="$fuzz" '
        function hex2(s,   i, v) { v = 0; for (i = 1; i <= 2; i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1; return v }
        NR > 1 {
            match($0, /#[0-9A-Fa-f]+/); hex = tolower(substr($0, RSTART + 1, 6))
            ok = 1
            for (i = 0; i < 3; i++) {
                a = hex2(substr(hex, 2 * i + 1, 2)); b = hex2(substr(c, 2 * i + 1, 2))
                if (a - b > f || b - a > f) ok = 0
            }
            n += ok
        }
        END { print n + 0 }'
}

# Prints the window's position and size on the screen as "x y width height".
screen_window_geometry() {
    xdotool getwindowgeometry --shell "$1" | awk -F= '
        /^X=/ { x = $2 } /^Y=/ { y = $2 } /^WIDTH=/ { w = $2 } /^HEIGHT=/ { h = $2 }
        END { print x, y, w, h }'
}

# Prints the text of the clipboard (the CLIPBOARD selection); status 2 when
# neither xclip nor xsel is installed to read it.
screen_clipboard() {
    if command -v xclip > /dev/null; then timeout 5 xclip -o -selection clipboard 2> /dev/null
    elif command -v xsel > /dev/null; then timeout 5 xsel --clipboard --output 2> /dev/null
    else return 2
    fi
}
