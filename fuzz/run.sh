#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a fixed time (seconds, default
# 15) on a copy of its seed corpus. Any crash, leak, sanitizer report or timeout fails.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-15}
build=build-fuzz
CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIALLEL_FUZZ=ON \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_format fuzz_read fuzz_korbal fuzz_meridox
for t in format read korbal meridox; do
  work=$(mktemp -d)
  cp -r "fuzz/corpus/$t/." "$work/"
  echo "== fuzz_$t for ${secs}s"
  (cd "$build" && ./fuzz_$t -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
     -max_len=4096 -print_final_stats=0 "$work" 2>&1 | tail -n 3)
  status=${PIPESTATUS[0]}
  rm -rf "$work"
  [ "$status" -eq 0 ] || { echo "fuzz_$t failed"; exit 1; }
done
