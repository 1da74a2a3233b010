#!/usr/bin/env bash
# ask/hide never shows what is typed: on a terminal each character shows as
# "*", and over a pipe nothing read is echoed.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/tmux.sh"

out=$(printf 'length? ask/hide "pw: "\nhunter2\n' | "$kel" --cli 2>&1)
grep -q hunter2 <<<"$out" && { echo "piped hidden input was echoed: $out"; exit 1; }
grep -qx '== 7' <<<"$out" || { echo "piped hidden input was not read: $out"; exit 1; }

pane_init || exit 0
pane_start 100x30 "'$kel' --cli"
pane_wait '^>> *$' || fail "no prompt"
pane_keys -l 'n: length? ask/hide "pw: "'
pane_keys Enter
pane_wait '^pw: *$' || fail "no prompt of ask/hide"
pane_keys -l 'hunter2'
pane_wait '^pw: \*\*\*\*\*\*\*$' || fail "the hidden input did not show as stars"
pane_keys Enter
pane_wait '^== 7$' || fail "the hidden input was not read"
pane_keys -l 'n'
pane_keys Up Up
pane_wait '^>> n: length' || fail "the line before the hidden input was not recalled"
grep -q hunter2 "$pane_dir/pane" && fail "the hidden input appeared in the pane or the history"
exit 0
