#!/usr/bin/env bash
# Checks that every C++ file follows .clang-format and that no tracked text file has
# trailing white space or lacks its final newline.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || ./scripts/install-deps.sh lint

status=0
while IFS= read -r -d '' f; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || { echo "not formatted: $f"; status=1; }
done < <(git ls-files -z '*.cpp' '*.h')

while IFS= read -r -d '' f; do
  grep -Iq . "$f" || continue  # binary or empty
  if grep -nE '[[:space:]]+$' "$f" >/dev/null; then echo "trailing white space: $f"; status=1; fi
  if [ -n "$(tail -c 1 "$f")" ]; then echo "no final newline: $f"; status=1; fi
done < <(git ls-files -z)

[ $status -eq 0 ] && echo "lint: clean"
exit $status
