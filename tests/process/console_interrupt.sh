#!/usr/bin/env bash
# Ctrl+C in the terminal console stops the running command with "(halted)"
# and returns to the prompt; at the prompt it drops the line. The console
# ends by Ctrl+D with its history saved. A script run without the console is
# ended by Ctrl+C as any program is.
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/tmux.sh"
pane_init || exit 0

pane_start 100x30 "'$kel' --cli"
pane_wait '^>> *$' || fail "no prompt"
pane_keys -l 'print "running" forever [1]'
pane_keys Enter
pane_wait '^running$' || fail "the command did not start"
pane_keys C-c
pane_wait '(halted)$' || fail "Ctrl+C did not halt forever [1]"
pane_wait '^>> *$' || fail "no prompt after the halt"
pane_keys -l 'print "waiting" wait 30'
pane_keys Enter
pane_wait '^waiting$' || fail "wait did not start"
pane_keys C-c
pane_wait '(halted)$' 2 || fail "Ctrl+C did not cut wait 30 short"
pane_keys -l '1 + 2'
pane_keys Enter
pane_wait '^== 3$' || fail "the console did not go on after a halt"
# At the prompt: a typed line is dropped; an open block is ended.
pane_keys -l 'dropped'
pane_keys C-c
pane_wait '^>> dropped^C$' || fail "Ctrl+C did not drop the typed line"
pane_keys -l '[1'
pane_keys Enter
pane_wait '^\[ *$' || fail "no continuation prompt"
pane_keys C-c
pane_wait '^(escape)$' || fail "Ctrl+C did not end the open block"
pane_keys C-d
pane_wait_end 0 || fail "Ctrl+D did not end the console with status 0"
grep -q 'forever \[1\]' "$pane_dir/config/Kel/Kel-Console/console-cfg.kel" ||
    fail "the history was not saved: $(cat "$pane_dir/config/Kel/Kel-Console/console-cfg.kel")"

printf 'Kel []\nprint "running"\nforever [1]\n' > "$pane_dir/forever.kel"
pane_start 100x30 "'$kel' '$pane_dir/forever.kel'"
pane_wait '^running$' || fail "the script did not start"
pane_keys C-c
pane_wait_end 130 || fail "Ctrl+C did not end the script"
printf 'Kel []\nname: ask "name? "\nprint "went on"\n' > "$pane_dir/ask.kel"
pane_start 100x30 "'$kel' '$pane_dir/ask.kel'"
pane_wait '^name?' || fail "the script did not ask"
pane_keys -l 'bob'
pane_keys C-c
pane_wait_end 130 || fail "Ctrl+C during ask did not end the script"
grep -q 'went on' "$pane_dir/pane" && fail "the script went on after Ctrl+C"
exit 0
