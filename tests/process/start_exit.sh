#!/usr/bin/env bash
# kel runs its start-up sequence and ends with status 0 (in the terminal
# console: no display is named).
kel="$1"
env -u DISPLAY -u WAYLAND_DISPLAY "$kel" </dev/null
status=$?
[ "$status" -eq 0 ] || { echo "kel exited with $status"; exit 1; }
