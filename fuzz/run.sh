#!/usr/bin/env bash
# Builds the request parser fuzzer with clang (libFuzzer + ASan + UBSan) and runs
# it for a bounded time on the seed corpus. Usage: fuzz/run.sh [seconds]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
out="${FUZZ_BUILD:-$root/build-fuzz}"
seconds="${1:-60}"
mkdir -p "$out/corpus"
cp -n "$here"/corpus/* "$out/corpus/" 2>/dev/null || true
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" -I"$root/include" \
    "$here/request_fuzzer.cc" "$root"/request/*.cc "$root"/base/*.cc \
    -lxerces-c -lpthread -o "$out/request_fuzzer"
"$out/request_fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=20 \
    -rss_limit_mb=4096 "$out/corpus"
