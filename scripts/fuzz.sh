#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang, libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer in build-fuzz/, and runs each for a bounded
# time on its seed corpus.
#   scripts/fuzz.sh [seconds] [target...]
# seconds: per target (default 20); targets: all when none are named.
# A crash, a sanitizer report, a leak or an input that takes more than one
# second fails the run; the input is kept in build-fuzz/artifacts/. Inputs
# that reach new code are collected in build-fuzz/corpus/<target>, beside
# the checked-in seeds of fuzz/corpus/<target>, and reused by later runs.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift || true

bash scripts/deps.sh fuzz

# Absolute, because a target may change its working directory while it
# runs (fuzz_population runs the programs inside its sites): a crash found
# there must still be written where this script looks for it.
build_dir=$PWD/build-fuzz
jobs=$(nproc 2>/dev/null || echo 2)
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON
cmake --build "$build_dir" -j "$jobs" --target fuzz_targets

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if [ -x /usr/lib/llvm-14/bin/llvm-symbolizer ]; then
  export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
fi

mkdir -p "$build_dir/artifacts"
summary=()
for t in "${targets[@]}"; do
  work="$build_dir/corpus/$t"
  mkdir -p "$work"
  log="$build_dir/artifacts/$t.log"
  echo "== $t: ${seconds}s"
  if ! "$build_dir/fuzz/$t" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build_dir/artifacts/$t-" \
      "$work" "fuzz/corpus/$t" >"$log" 2>&1; then
    # The timeout is wall-clock time, so a machine busy with other work can
    # stop a fast input: a timeout counts only if the input, run again on
    # its own, is slow every time.
    input=$(sed -n 's/.*Test unit written to //p' "$log" | tail -n 1)
    slow=yes
    if grep -q "ERROR: libFuzzer: timeout" "$log" && [ -n "$input" ]; then
      for _ in 1 2 3; do
        if "$build_dir/fuzz/$t" -timeout=1 "$input" >>"$log.rerun" 2>&1; then
          slow=no
          break
        fi
      done
    fi
    if [ "$slow" = yes ]; then
      tail -n 60 "$log"
      echo "fuzz target $t failed; its log is $log" >&2
      exit 1
    fi
    echo "$t: $input timed out while the machine was busy and runs in time on its own"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  summary+=("$t: ${runs:-?} executions")
done
printf '%s\n' "${summary[@]}"
