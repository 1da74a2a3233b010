#!/usr/bin/env bash
# The terminal console on a real terminal (a tmux pane): a typed command is
# evaluated, the up arrow recalls it, Ctrl+D on an empty line ends the
# console, and the history is there again after a restart.
kel="$1"
command -v tmux >/dev/null || { echo "tmux is not installed: skipping the terminal console test"; exit 0; }
dir=$(mktemp -d)
session="kel-console-$$"
socket="$dir/tmux.sock"
t() { tmux -S "$socket" "$@"; }
trap 't kill-server 2>/dev/null; sleep 0.2; rm -rf "$dir" 2>/dev/null' EXIT
fail() { echo "$1"; echo "--- pane:"; cat "$dir/pane" 2>/dev/null; exit 1; }

# Waits up to 20 s (the sanitizer build starts slowly) until the pane shows
# a line matching the pattern; the pane's text is left in $dir/pane.
wait_for() {
  for _ in $(seq 1 200); do
    t capture-pane -p -t "$session" > "$dir/pane" 2>/dev/null
    grep -q -- "$1" "$dir/pane" && return 0
    sleep 0.1
  done
  return 1
}
# Waits until the pane shows count lines matching the pattern.
wait_for_count() {
  for _ in $(seq 1 200); do
    t capture-pane -p -t "$session" > "$dir/pane" 2>/dev/null
    [ "$(grep -c -- "$1" "$dir/pane")" -ge "$2" ] && return 0
    sleep 0.1
  done
  return 1
}
# Waits until the console has ended (the pane's shell printed the marker).
wait_end() { wait_for "^console ended $1"; }

start() {
  t new-session -d -s "$session" -x 100 -y 30 \
    "env -u APPDATA HOME='$dir' XDG_CONFIG_HOME='$dir/config' KEL_GC_TORTURE='${KEL_GC_TORTURE:-}' '$kel' --cli; echo console ended \$?; sleep 30"
}

start
wait_for '^>> *$' || fail "no prompt after the banner"
t send-keys -t "$session" -l '1 + 2'
t send-keys -t "$session" Enter
wait_for '^== 3$' || fail "1 + 2 did not print == 3"
t send-keys -t "$session" Up
wait_for '^>> 1 + 2$' || fail "the up arrow did not recall 1 + 2"
t send-keys -t "$session" Enter
wait_for_count '^== 3$' 2 || fail "the recalled line was not evaluated"
t send-keys -t "$session" C-d
wait_end 0 || fail "Ctrl+D on an empty line did not end the console with status 0"
[ -f "$dir/config/Kel/Kel-Console/console-cfg.kel" ] || fail "no console configuration file was written"
# A new console recalls the line of the last one. It runs in a second
# session: ending the first would end the server, and a client that reaches
# a server while it shuts down fails.
session="$session-again"
start
wait_for '^>> *$' || fail "no prompt after a restart"
t send-keys -t "$session" Up
wait_for '^>> 1 + 2$' || fail "the history did not survive a restart"
t send-keys -t "$session" C-u C-d
wait_end 0 || fail "the second console did not end with status 0"
exit 0
