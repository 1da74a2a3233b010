#!/usr/bin/env bash
# The terminal console on a real terminal (a tmux pane): a typed command is
# evaluated, the up arrow recalls it, lines typed ahead wait for their turn,
# Ctrl+L clears the screen, Ctrl+D on an empty line ends the console, and the history is there again
# after a restart.
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/tmux.sh"
pane_init || exit 0

pane_start 100x30 "'$kel' --cli"
pane_wait '^>> *$' || fail "no prompt after the banner"
pane_keys -l '1 + 2'
pane_keys Enter
pane_wait '^== 3$' || fail "1 + 2 did not print == 3"
pane_keys Up
pane_wait '^>> 1 + 2$' || fail "the up arrow did not recall 1 + 2"
pane_keys Enter
pane_wait '^== 3$' 2 || fail "the recalled line was not evaluated"
# Lines typed while a command runs are read after it, none lost.
pane_keys -l 'wait 1 print "first"'
pane_keys Enter
pane_keys -l 'print "second"'
pane_keys Enter
pane_keys -l 'print "third"'
pane_keys Enter
pane_wait '^third$' || fail "lines typed ahead were lost"
grep -qx second "$pane_dir/pane" || fail "a line typed ahead was lost"
# Ctrl+L clears the screen and leaves the prompt and the line being typed on
# its top row, where typing goes on.
pane_keys -l 'abc'
pane_keys C-l
cleared() { pane_capture; [ "$(head -1 "$pane_dir/pane")" = ">> abc" ] && ! grep -q third "$pane_dir/pane"; }
wait_until 20 cleared || fail "Ctrl+L did not clear the screen: $(cat "$pane_dir/pane")"
pane_keys -l 'd'
pane_wait '^>> abcd$' || fail "typing after Ctrl+L does not go on after the prompt"
pane_keys C-u
pane_keys C-d
pane_wait_end 0 || fail "Ctrl+D on an empty line did not end the console with status 0"
[ -f "$pane_dir/config/Kel/Kel-Console/console-cfg.kel" ] || fail "no console configuration file was written"
# A new console recalls the line of the last one.
pane_start 100x30 "'$kel' --cli"
pane_wait '^>> *$' || fail "no prompt after a restart"
pane_keys Up
pane_wait '^>> print "third"$' || fail "the history did not survive a restart"
pane_keys C-u C-d
pane_wait_end 0 || fail "the second console did not end with status 0"
exit 0
