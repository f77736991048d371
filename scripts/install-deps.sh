#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running or testing Dorvane needs,
# and only those that are missing. Usage: scripts/install-deps.sh [run|test|lint]
set -euo pipefail

what=${1:-run}
packages=(g++ cmake ninja-build qt6-base-dev libgl-dev)
if [ "$what" = lint ]; then
  packages=(clang-format)
fi
if [ "$what" = test ]; then
  # GoogleTest for the tests; clang and its runtimes for the sanitizer build and the fuzzer.
  packages+=(libgtest-dev libgmock-dev clang libclang-rt-14-dev)
  # The benchmark counts the server's system calls with strace.
  packages+=(strace)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
