#!/usr/bin/env bash
# Builds the server fuzzer with clang in build-fuzz/ and runs it for a bounded time
# (three quarters of it; the image fuzzer gets the last quarter),
# starting from freshly written seeds in a scratch corpus (the repository is never
# written). Fails on any crash, leak, sanitizer report, time-out or write outside the
# served root; what the fuzzer found is kept in build-fuzz/fuzz-artifacts/.
#   scripts/fuzz.sh [SECONDS]      (default 60)
# A reproducer runs again with its log and replies:
#   DORVANE_FUZZ_LOG=1 build-fuzz/bin/dorvane_server_fuzzer build-fuzz/fuzz-artifacts/crash-...
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
case "$seconds" in
  '' | *[!0-9]*) echo "usage: $0 [SECONDS]" >&2; exit 2 ;;
esac
"$top/scripts/install-deps.sh" test

build="$top/build-fuzz"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DDORVANE_FUZZ=ON \
  -DDORVANE_WERROR=ON \
  -DDORVANE_BUILD_UI=OFF
cmake --build "$build" --target dorvane_server_fuzzer dorvane_image_fuzzer dorvane_fuzz_seeds

# Scratch space on a memory file system where there is one: every save syncs its
# file. The fuzzer's served root goes there too (TMPDIR), so even a run that ends in
# a fault leaves nothing behind.
scratch=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm
work=$(mktemp -d "$scratch/dorvane-fuzz-run-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus" "$work/image-corpus" "$work/artifacts" "$work/tmp"
"$build/bin/dorvane_fuzz_seeds" "$work/corpus"

# Every report ends the run with a non-zero status; the paths are absolute because
# the server changes the current directory while it serves.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
image_seconds=$((seconds / 4))
[ "$image_seconds" -gt 0 ] || image_seconds=1
server_seconds=$((seconds - image_seconds))
[ "$server_seconds" -gt 0 ] || server_seconds=1
status=0
TMPDIR="$work/tmp" "$build/bin/dorvane_server_fuzzer" "$work/corpus" \
  -max_total_time="$server_seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -artifact_prefix="$work/artifacts/" -print_final_stats=1 2>&1 | tee "$work/fuzz.log" ||
  status=$?
"$build/bin/dorvane_image_fuzzer" "$work/image-corpus" \
  -max_total_time="$image_seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -artifact_prefix="$work/artifacts/" -print_final_stats=1 2>&1 | tee -a "$work/fuzz.log" ||
  status=$?
# A sanitizer built to recover would only print: its reports fail the run all the same.
if grep -qE '^SUMMARY: |runtime error:|^==[0-9]+==ERROR' "$work/fuzz.log"; then
  [ "$status" -ne 0 ] || status=1
fi

if [ -n "$(ls -A "$work/artifacts")" ]; then
  mkdir -p "$build/fuzz-artifacts"
  cp "$work/artifacts"/* "$build/fuzz-artifacts/"
  echo "fuzz.sh: reproducers kept in $build/fuzz-artifacts:" >&2
  ls "$work/artifacts" >&2
  [ "$status" -ne 0 ] || status=1
fi
if [ "$status" -ne 0 ]; then
  echo "fuzz.sh: the fuzzer found a fault (status $status)" >&2
else
  echo "fuzz.sh: no fault in ${seconds}s"
fi
exit "$status"
