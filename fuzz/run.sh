#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer + ASan + UBSan, the whole plug-in
# instrumented) and runs each, one after the other, for a bounded time on a
# working copy of its seed corpus. An input slower than 2 s counts as a finding.
# Usage: fuzz/run.sh [seconds per target] [target...]
# (FUZZ_BUILD: build directory, default build-fuzz; FUZZ_JOBS: build jobs.)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
out="${FUZZ_BUILD:-$root/build-fuzz}"
seconds="${1:-60}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(request base64 quote_repair record_filter state_loader credential invoke)
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNT_FUZZ=ON -DNT_SANITIZE=ON -DNT_TESTS=OFF -DNT_HOST=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" >/dev/null
cmake --build "$out" -j"${FUZZ_JOBS:-2}" --target "${targets[@]/%/_fuzzer}"

for target in "${targets[@]}"; do
    corpus="$out/corpus/$target"
    mkdir -p "$corpus" "$out/findings/$target"
    echo "== $target: $seconds s"
    # Runs with a fresh working corpus seeded from the committed one, so the
    # committed seeds stay as they are; crashes go to findings/.
    (cd "$out/findings/$target" &&
        "$out/fuzz/${target}_fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=2 \
            -rss_limit_mb=2048 -print_final_stats=1 "$corpus" "$here/corpus/$target")
done
