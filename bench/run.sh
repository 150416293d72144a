#!/usr/bin/env bash
# `make bench`: runs every benchmark of BUILD_DIR/bench, keeps each output in
# BUILD_DIR/results, then writes docs/performance.md from them.
# Usage: bench/run.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$1"
results="$build/results"
mkdir -p "$results"
git -C "$root" rev-parse --short HEAD >"$results/commit.txt" 2>/dev/null || echo unknown >"$results/commit.txt"
date -u '+%Y-%m-%d %H:%M UTC' >"$results/taken.txt"
for bench in "$build"/bench/*_bench; do
    name="$(basename "$bench")"
    echo "== $bench"
    extra=()
    [ "$name" = backup_bench ] &&
        extra=(--benchmark_out="$results/$name.json" --benchmark_out_format=json)
    "$bench" "${extra[@]}" 2>/dev/null | tee "$results/$name.txt"
done
python3 "$root/bench/report.py" "$results" "$root/docs"
