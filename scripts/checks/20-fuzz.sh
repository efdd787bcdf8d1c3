#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for a
# bounded time on a copy of its seed corpus (fuzz/corpus/<target>). Any finding
# (crash, sanitizer report, failed check, time-out, leak) fails the check; the
# input that caused it is kept in build-fuzz/findings/ and replayed once so its
# report shows here.
#   FUZZ_SECONDS  seconds per target (default 30)
#   JOBS          parallel build jobs (default: number of processors)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build-fuzz"
seconds=${FUZZ_SECONDS:-30}
jobs=${JOBS:-$(nproc)}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVALE_FUZZ=ON -DQUORVALE_TESTS=OFF -DQUORVALE_BENCH=OFF >/dev/null

targets=()
for source in "$root"/fuzz/fuzz_*.cpp; do
  name=$(basename "$source" .cpp)
  targets+=("${name#fuzz_}")
done
cmake --build "$build" -j"$jobs" --target "${targets[@]/#/fuzz_}"

work=$(mktemp -d /tmp/quorvale_fuzz_check.XXXXXX)
trap 'rm -rf "$work"' EXIT
findings="$build/findings"
rm -rf "$findings"
mkdir -p "$findings"

failed=()
for target in "${targets[@]}"; do
  bin="$build/fuzz/fuzz_$target"
  corpus="$work/corpus-$target"
  mkdir -p "$corpus" "$work/tmp-$target"
  if [ -d "$root/fuzz/corpus/$target" ]; then cp -r "$root/fuzz/corpus/$target/." "$corpus/"; fi
  echo "-- fuzz_$target: $seconds s"
  status=0
  # The targets' own console output goes to /dev/null (-close_fd_mask=2);
  # libFuzzer's report and the sanitizers' stay on standard error.
  TMPDIR="$work/tmp-$target" timeout --kill-after=10 $((seconds + 300)) \
    "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=2 \
    -print_final_stats=1 -artifact_prefix="$findings/$target-" "$corpus" \
    >"$work/log-$target" 2>&1 || status=$?
  grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs|stat::number_of_executed_units)' "$work/log-$target" || true
  if [ "$status" -ne 0 ] || compgen -G "$findings/$target-*" >/dev/null; then
    failed+=("$target")
    echo "fuzz_$target: finding (status $status)"
    tail -n 40 "$work/log-$target"
    for input in "$findings/$target-"*; do
      [ -e "$input" ] || continue
      echo "replaying $input:"
      TMPDIR="$work/tmp-$target" timeout 60 "$bin" "$input" 2>&1 | tail -n 40 || true
    done
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]} (inputs in $findings)"
  exit 1
fi
echo "fuzzing: no findings in ${targets[*]}"
