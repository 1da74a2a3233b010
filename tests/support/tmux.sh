# Terminal tests: helpers sourced by tests/process/*.sh that run a command on
# a real terminal (a tmux pane), type into it and judge what the pane shows.
#
#   . "$here/../support/tmux.sh"
#   pane_init || exit 0                  # skips (status 77) when tmux is missing
#   pane_start 100x30 "'$kel' --cli"     # the pane's size and its command
#   pane_wait '^>> *$' || fail "no prompt"
#   pane_keys -l '1 + 2'; pane_keys Enter
#
# Each test has its own tmux server (a socket in its folder), stopped when the
# test's shell exits. The command runs with HOME and XDG_CONFIG_HOME in the
# test's folder, in a UTF-8 locale; when it ends, the pane shows
# "ended <status>" and stays (also when Ctrl+C ended it). Waits are given in
# seconds on a quiet machine and scaled (support/time.sh).
. "$(dirname "${BASH_SOURCE[0]}")/time.sh"

pane_init() {
    command -v tmux > /dev/null || test_skip "tmux is not installed"
    pane_dir=$(mktemp -d)
    pane_socket="$pane_dir/tmux.sock"
    pane_count=0
    trap 'tmux -S "$pane_socket" kill-server 2>/dev/null; sleep 0.2; rm -rf "$pane_dir" 2>/dev/null' EXIT
}

# Starts the command in a new session of the given size (COLUMNSxROWS). Each
# start makes a new session: ending the last one ends the server, and a client
# that reaches a server while it shuts down fails.
pane_start() {
    local size="$1" command="$2"
    pane_count=$((pane_count + 1))
    pane_session="pane-$$-$pane_count"
    tmux -u -S "$pane_socket" new-session -d -s "$pane_session" -x "${size%x*}" -y "${size#*x}" \
        "trap : INT; env -u APPDATA LANG=C.UTF-8 LC_ALL=C.UTF-8 HOME='$pane_dir' XDG_CONFIG_HOME='$pane_dir/config' \
KEL_GC_TORTURE='${KEL_GC_TORTURE:-}' $command; echo ended \$?; sleep 3600"
}

pane_keys() { tmux -S "$pane_socket" send-keys -t "$pane_session" "$@"; }

# The pane's text now, in $pane_dir/pane.
pane_capture() { tmux -S "$pane_socket" capture-pane -p -t "$pane_session" > "$pane_dir/pane" 2>/dev/null; }

# Waits up to 20 s (scaled) until the pane shows at least count lines
# (default 1) matching the pattern.
pane_wait() {
    local pattern="$1" count="${2:-1}" end=$((SECONDS + $(test_deadline 20)))
    while :; do
        pane_capture
        [ "$(grep -c -- "$pattern" "$pane_dir/pane")" -ge "$count" ] && return 0
        [ "$SECONDS" -ge "$end" ] && return 1
        sleep 0.1
    done
}

# Waits until the command has ended with the status.
pane_wait_end() { pane_wait "ended $1\$"; }

# Waits until the pane has not changed for half a second (at most 50 s,
# scaled).
pane_settle() {
    local last=""
    for _ in $(seq 1 $(test_deadline 100)); do
        pane_capture
        [ "$(cat "$pane_dir/pane")" = "$last" ] && return 0
        last=$(cat "$pane_dir/pane")
        sleep 0.5
    done
}

fail() { echo "$1"; echo "--- pane:"; cat "$pane_dir/pane" 2>/dev/null; exit 1; }
