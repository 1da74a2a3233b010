#!/usr/bin/env bash
# The console's about window shows the version and the day the program was
# built (system/build/date) and its logo, as the layout builds it on a
# virtual display.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/screen.sh"
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
dir=$(mktemp -d)
SCREEN_CLEANUP="$dir"
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; cat "$dir/out" 2>/dev/null; exit 1; }

screen_leak_suppressions "$dir/leaks.supp"
screen_start || grep -q "^logo: 204.51.51" "$dir/out" || fail "the about window's logo is not drawn"
exit 0

# The window is laid out for real; showing it is left out, so its faces are
# read where view would have received them.
cat > "$dir/about.kel" <<'KEL'
Kel []
gui-console-make
shown: none
; The library's own words, which a script's globals do not reach.
library-word: func [name [word!]] [bind name first find body-of :send-event 'send-event-os]
set library-word 'view func [face /flags options] [shown: face]
set library-word 'center-face func [face /with other] [face]
gui-console-ctx/display-about
foreach face shown/pane [if string? face/text [print face/text]]
; The logo is drawn: a pixel inside it, off its letter, is neither blank nor the backdrop.
foreach face shown/pane [if image? face/image [print ["logo:" pick face/image 31 * 62 + 6]]]
print ["date:" system/build/date]
KEL
timeout "$(test_deadline 120)" "$kel" "$dir/about.kel" > "$dir/out" 2>&1 || fail "about.kel failed"
date=$(sed -n 's/^date: //p' "$dir/out")
[ -n "$date" ] && [ "$date" != "none" ] || fail "system/build/date is not set"
grep -qx "Build [0-9.]* - ${date%%/*}" "$dir/out" || fail "the about window does not show the day of the build"
grep -q "^logo: 204.51.51" "$dir/out" || fail "the about window's logo is not drawn"
exit 0
