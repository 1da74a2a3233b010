#!/bin/sh
# Builds the fuzz targets with clang and runs one for a bounded time:
# scripts/fuzz.sh [SECONDS [TARGET]] (default 60 seconds, target lexer_fuzz;
# inflate_fuzz, kelbin_fuzz, kelbin_roundtrip_fuzz, json_fuzz and csv_fuzz are
# the others). The corpus grows in build/fuzz/<name>_corpus; a target with
# seeds in fuzz/corpus/<name> starts from them too, and one with a dictionary
# fuzz/<name>.dict mutates with its tokens. The per-input leak check stays on
# (the targets keep no memory across inputs). Exits non-zero on any crash,
# leak or sanitizer report.
set -eu
seconds="${1:-60}"
target="${2:-lexer_fuzz}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
name="${target%_fuzz}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DKEL_FUZZ=ON >/dev/null
ninja -C "$build" -j "$(nproc)" "$target"
corpus="$build/${name}_corpus"
mkdir -p "$corpus"
set -- "$corpus"
[ -d "$root/fuzz/corpus/$name" ] && set -- "$@" "$root/fuzz/corpus/$name"
[ -f "$root/fuzz/$name.dict" ] && set -- -dict="$root/fuzz/$name.dict" "$@"
exec "$build/fuzz/$target" -artifact_prefix="$build/" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=4096 -detect_leaks=1 -print_final_stats=1 "$@"
