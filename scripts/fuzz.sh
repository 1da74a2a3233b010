#!/bin/sh
# Builds the fuzz targets with clang and runs one for a bounded time:
# scripts/fuzz.sh [SECONDS [TARGET]] (default 60 seconds, target lexer_fuzz;
# inflate_fuzz, kelbin_fuzz, json_fuzz and csv_fuzz are the others). Exits non-zero on any crash, leak or sanitizer
# report.
set -eu
seconds="${1:-60}"
target="${2:-lexer_fuzz}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DKEL_FUZZ=ON >/dev/null
ninja -C "$build" -j "$(nproc)" "$target"
corpus="$build/${target%_fuzz}_corpus"
mkdir -p "$corpus"
exec "$build/fuzz/$target" -artifact_prefix="$build/" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=4096 -print_final_stats=1 "$corpus"
