#!/usr/bin/env bash
# Builds everything and runs every test.
#   scripts/test.sh              the suite in build/
#   scripts/test.sh --sanitize   the suite built with AddressSanitizer and
#                                UndefinedBehaviorSanitizer, in build-sanitize/
# The plain run then runs the fuzz targets for a bounded time
# (scripts/fuzz.sh) and the browser tests (scripts/browser_test.sh): the
# demo sites behind lighttpd, driven in headless Chromium.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh test

build_dir=build
options=()
browser=yes
if [ "${1:-}" = "--sanitize" ]; then
  browser=no
  build_dir=build-sanitize
  options=(-DSANITIZE=ON)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

jobs=$(nproc 2>/dev/null || echo 2)
# Warnings are errors in the project's own runs (operator block).
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON "${options[@]}"
cmake --build "$build_dir" -j "$jobs"
ctest --test-dir "$build_dir" --output-on-failure -j "$jobs" --timeout 300
if [ "$browser" = yes ]; then
  # Every fuzz target for a bounded time (FUZZ_SECONDS each, 20 by default).
  bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
  bash scripts/browser_test.sh "$build_dir"
fi
