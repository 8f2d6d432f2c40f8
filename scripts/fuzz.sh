#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang into build-fuzz/ and
# runs each for FUZZ_SECONDS seconds (default 20) on a fresh copy of its seed
# corpus, as many at a time as there are cores. Prints the executions each
# target ran; exits non-zero when any target crashes, hangs or fails a check
# (the input that did it is kept under build-fuzz/runs/<target>/).
#
# A release check runs longer, for example:  FUZZ_SECONDS=600 scripts/fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

seconds=${FUZZ_SECONDS:-20}
jobs=$(nproc 2>/dev/null || echo 2)
build=build-fuzz

cmake -S tests/fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSONDREL_WERROR=ON >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null

targets=()
for source in tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$source" .cpp)
  targets+=("${name%_fuzz}")
done

# One target: a fresh corpus from the seeds, libFuzzer's log kept beside it.
# stdout is closed (-close_fd_mask=1): the readers print a message for every
# bad file. A unit running past 10 s counts as a hang.
run_target() {
  local target=$1 dir="$build/runs/$1"
  rm -rf "$dir"
  mkdir -p "$dir/corpus"
  cp -R "tests/fuzz/corpus/$target/." "$dir/corpus/"
  "$build/${target}_fuzz" "$dir/corpus" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -close_fd_mask=1 -print_final_stats=1 \
    -artifact_prefix="$dir/" >"$dir/log" 2>&1
}

pids=()
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run_target "$target" &
  pids+=($!)
done

failed=()
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  log="$build/runs/$target/log"
  status=0
  wait "${pids[$i]}" || status=$?
  executions=$(awk '/stat::number_of_executed_units:/ { n = $2 } END { print n + 0 }' "$log")
  if [ "$status" -eq 0 ]; then
    printf 'fuzz %-10s %12s executions in %s s: no findings\n' "$target" "$executions" "$seconds"
  else
    printf 'fuzz %-10s %12s executions: FAILED (exit %s), log %s\n' "$target" "$executions" "$status" "$log"
    grep -E 'ERROR|check failed|SUMMARY|Test unit written' "$log" | head -20 || true
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "Fuzz targets that failed: ${failed[*]}" >&2
  exit 1
fi
