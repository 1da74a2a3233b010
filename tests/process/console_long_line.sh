#!/usr/bin/env bash
# A line wider than the terminal is edited in place on one row, scrolled
# sideways to keep the cursor in view, instead of being printed again on a
# new row at every key.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/tmux.sh"
pane_init || exit 0

line='print copy/part "abcdefghijklmnopqrstuvwxyz012345678" 8'  # 55 characters
pane_start 40x20 "'$kel' --cli"
pane_wait '^>> *$' || fail "no prompt"
pane_keys -l "$line"
pane_wait '345678" 8$' || fail "the end of the long line is not shown"
pane_settle
# The banner's two lines and the input row: nothing else.
[ "$(grep -c . "$pane_dir/pane")" = 3 ] || fail "the long line took more than one row"
[ "$(grep '^>>' "$pane_dir/pane" | wc -L)" -le 39 ] || fail "the input row reaches the last column"
pane_keys Home
pane_wait '^>> print copy/part "abcdefghijklmnopqrs' || fail "Home did not scroll back to the line's start"
pane_keys Right Right Right Right Right Right Right Right Right Right Right Right Right Right Right Right Right
pane_keys -l '<'
pane_wait '^>> print copy/part "<abcdefghijklmnopqr' || fail "a character typed at the start was not shown in place"
pane_settle
[ "$(grep -c . "$pane_dir/pane")" = 3 ] || fail "editing the long line took more than one row"
pane_keys Enter
pane_wait '^<abcdefg$' || fail "the edited long line was not what was evaluated"
exit 0
