#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer + ASan + UBSan) and runs each for
# a bounded time on its seed corpus. Usage: fuzz/run.sh [seconds per target]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
out="${FUZZ_BUILD:-$root/build-fuzz}"
seconds="${1:-60}"
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -I"$root" -I"$root/include")

# target corpus-folder sources...
fuzz() {
    local target="$1" seeds="$2"
    shift 2
    mkdir -p "$out/$target.corpus"
    cp -n "$here/$seeds"/* "$out/$target.corpus/" 2>/dev/null || true
    clang++ "${flags[@]}" "$here/$target.cc" "$@" -lpthread -o "$out/$target"
    "$out/$target" -max_total_time="$seconds" -max_len=65536 -timeout=20 \
        -rss_limit_mb=4096 "$out/$target.corpus"
}

mkdir -p "$out"
fuzz request_fuzzer corpus "$root"/request/*.cc "$root"/base/*.cc -lxerces-c
fuzz base64_fuzzer corpus-base64 "$root"/security/base64.cc "$root"/base/*.cc
