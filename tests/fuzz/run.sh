#!/usr/bin/env bash
# Runs fuzz targets one after another, each for a given time, under nice.
#   tests/fuzz/run.sh BUILD_DIR SECONDS TARGET...
# New inputs go to BUILD_DIR/corpus/TARGET (the stored corpus and the
# regression inputs are read, never written); a crash, leak or time-out
# leaves its input in BUILD_DIR/artifacts/TARGET/ and fails the run.
set -uo pipefail
build=$1
seconds=$2
shift 2
src=$(cd "$(dirname "$0")" && pwd)
# Profile rewrites flush every file to disk; in a memory file system the
# private folders cost no disk time.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
failed=()
for target in "$@"; do
  work="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  mkdir -p "$work" "$artifacts"
  dirs=("$work" "$src/corpus/$target")
  [ -d "$src/regressions/$target" ] && dirs+=("$src/regressions/$target")
  echo "fuzz: $target for ${seconds}s"
  nice -n 19 "$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "${dirs[@]}" >"$build/fuzz-$target.log" 2>&1
  rc=$?
  grep -E '^(Done [0-9]+ runs|stat::number_of_executed_units|stat::new_units_added)' \
    "$build/fuzz-$target.log" | sed "s/^/fuzz: $target: /"
  echo "fuzz: $target: corpus $(ls "$work" | wc -l) inputs"
  if [ $rc -ne 0 ]; then
    failed+=("$target")
    tail -n 40 "$build/fuzz-$target.log"
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failures in ${failed[*]} (inputs in $build/artifacts)"
  exit 1
fi
