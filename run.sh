#!/usr/bin/env bash
# Builds the release kel and starts it with the given arguments (a script and its arguments).
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target kel
exec build/release/kel "$@"
