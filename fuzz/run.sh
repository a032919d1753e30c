#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a fixed time (seconds, default
# 15) on a copy of its seed corpus, one target after the other. Any crash, leak,
# sanitizer report, timeout or out-of-memory fails the run: the script then prints the
# fuzzer's report and the reproducer it saved, and exits non-zero.
#   fuzz/run.sh [SECONDS] [TARGET...]     (targets: format read plan csvlines korbal meridox csvdata tables)
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-15}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(format read plan csvlines korbal meridox csvdata tables)
build=build-fuzz
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIALLEL_FUZZ=ON \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j "$jobs" --target $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/diallel-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT

failed=()
for t in "${targets[@]}"; do
  corpus="$work/$t"
  artifacts="$work/$t-artifacts/"
  mkdir -p "$corpus" "$artifacts"
  cp -r "fuzz/corpus/$t/." "$corpus/"
  log="$work/$t.log"
  echo "== fuzz_$t for ${secs}s"
  status=0
  # TMPDIR: the targets keep their scratch files under it, so the trap removes them too.
  (cd "$work" && TMPDIR="$work" "$OLDPWD/$build/fuzz_$t" -max_total_time="$secs" -timeout=10 \
     -rss_limit_mb=2048 -malloc_limit_mb=1024 -max_len=8192 -print_final_stats=1 \
     -artifact_prefix="$artifacts" "$corpus") >"$log" 2>&1 || status=$?
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$log" | tr '\n' ' ' || true
  echo
  if [ "$status" -ne 0 ]; then
    echo "fuzz_$t FAILED (exit status $status); the fuzzer's report:"
    grep -v -E '^(#[0-9]+|INFO:|stat::)' "$log" | tail -n 60
    for a in "$artifacts"*; do
      [ -e "$a" ] || continue
      mkdir -p "$build/findings"
      cp "$a" "$build/findings/$t-$(basename "$a")"
      echo "reproducer saved as $build/findings/$t-$(basename "$a")"
      echo "  rerun: $build/fuzz_$t $build/findings/$t-$(basename "$a")"
    done
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing FAILED for: ${failed[*]}"
  exit 1
fi
echo "fuzzing passed: ${targets[*]}"
