#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running or testing Dorvane needs,
# and only those that are missing. Usage: scripts/install-deps.sh [run|test|lint|package]
set -euo pipefail

what=${1:-run}
# socat makes the linked pseudo-terminals of the README's try-it steps; cc65
# assembles the C64's own program (c64/) and runs it on its simulator in the tests.
packages=(g++ cmake ninja-build qt6-base-dev libgl-dev socat cc65)
if [ "$what" = lint ]; then
  packages=(clang-format)
fi
if [ "$what" = package ]; then
  # The manual pages, the package's dependencies and its checks; the pseudo-terminal
  # pair and the unit's check for the installed package's test.
  packages+=(scdoc dpkg-dev file lintian appstream desktop-file-utils man-db socat systemd)
fi
if [ "$what" = test ]; then
  # GoogleTest for the tests; clang and its runtimes for the sanitizer build and the fuzzer.
  packages+=(libgtest-dev libgmock-dev clang libclang-rt-14-dev)
  # Disk-image tools by others: the yardstick the image and name code is measured
  # against (cbmconvert also makes the P00 files the tests read).
  packages+=(cc1541 cbmconvert)
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
