#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   scripts/test.sh              the normal build, in build/
#   scripts/test.sh --sanitize   clang with AddressSanitizer and UndefinedBehaviorSanitizer, in build-asan/
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" test

build="$top/build"
options=()
if [ "${1:-}" = --sanitize ]; then
  build="$top/build-asan"
  options=(-DCMAKE_CXX_COMPILER=clang++ -DDORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  # Qt and the graphics stack keep some memory until exit; the leak check would only
  # report theirs.
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi

# BUILD_TESTING is named: run.sh may have switched it off in the same build directory.
cmake -S "$top" -B "$build" -G Ninja -DBUILD_TESTING=ON -DDORVANE_WERROR=ON "${options[@]}"
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout 300 -j2
