#!/usr/bin/env bash
# Builds the programs as a user builds them (BUILD_TESTING=OFF, so without
# GoogleTest) with GCC and with Clang in each CMake build type, warnings as
# errors, each in its own build directory under build-matrix/; Clang's Debug
# build takes the tests too, so they compile warning-free with both
# compilers (GCC's RelWithDebInfo with the tests is the build of
# scripts/test.sh and is not repeated). CI runs it (.ci/run); a failure
# names the compiler and build type.
#   scripts/build_matrix.sh [COMPILER...]   gcc, clang (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh build

compilers=("$@")
[ ${#compilers[@]} -gt 0 ] || compilers=(gcc clang)
types=(Debug Release RelWithDebInfo MinSizeRel)
jobs=$(nproc 2>/dev/null || echo 2)
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

for compiler in "${compilers[@]}"; do
  case $compiler in
    gcc) cc=gcc cxx=g++ ;;
    clang) cc=clang cxx=clang++ ;;
    *) echo "build_matrix.sh: unknown compiler $compiler" >&2; exit 2 ;;
  esac
  for type in "${types[@]}"; do
    # scripts/test.sh builds exactly this one, warnings as errors.
    if [ "$compiler-$type" = gcc-RelWithDebInfo ]; then continue; fi
    dir=build-matrix/$compiler-$type
    testing=OFF
    if [ "$compiler-$type" = clang-Debug ]; then testing=ON; fi
    echo "== $compiler $type, tests $testing ($dir)"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DCMAKE_C_COMPILER="$cc" \
      -DCMAKE_CXX_COMPILER="$cxx" -DBUILD_TESTING=$testing -DWARNINGS_AS_ERRORS=ON \
      "${launcher[@]}" >/dev/null
    if ! cmake --build "$dir" -j "$jobs" >"$dir/build.log" 2>&1; then
      grep -E "error|warning" "$dir/build.log" | head -n 40 >&2 || true
      echo "build_matrix.sh: the $compiler $type build failed (log: $dir/build.log)" >&2
      exit 1
    fi
  done
done
echo "build_matrix.sh: every build succeeded"
