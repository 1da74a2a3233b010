#!/usr/bin/env bash
# Wide characters (East Asian, emoji) and combining marks keep the input
# line intact while it is edited: the line is redrawn by display columns.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/tmux.sh"
pane_init || exit 0

e_acute=$'e\xcc\x81'  # e and a combining acute accent
pane_start 100x30 "'$kel' --cli"
pane_wait '^>> *$' || fail "no prompt"
pane_keys -l "print \"日本$e_acute😀\""
pane_wait "^>> print \"日本$e_acute😀\"\$" || fail "the typed line is not shown as typed"
# Into the middle: after the opening quote, then between the accent and the emoji.
pane_keys Home Right Right Right Right Right Right Right
pane_keys -l '>'
pane_keys End Left Left
pane_keys -l '!'
pane_wait "^>> print \">日本$e_acute!😀\"\$" || fail "editing among wide characters garbled the line"
pane_keys BSpace Left BSpace
pane_wait "^>> print \">日$e_acute😀\"\$" || fail "deleting a wide character garbled the line"
pane_keys Enter
pane_wait "^>日$e_acute😀\$" || fail "the edited line was not what was evaluated"
exit 0
