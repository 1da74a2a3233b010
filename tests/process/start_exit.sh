#!/usr/bin/env bash
# kel runs its start-up sequence and ends with status 0.
kel="$1"
"$kel" </dev/null
status=$?
[ "$status" -eq 0 ] || { echo "kel exited with $status"; exit 1; }
