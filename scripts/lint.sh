#!/usr/bin/env bash
# Checks that every C++ file follows .clang-format, that each folder of the core
# includes only what it may (the list below, which the libraries in CMakeLists.txt
# mirror), and that no tracked text file has trailing white space or lacks its final
# newline.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || ./scripts/install-deps.sh lint

status=0
while IFS= read -r -d '' f; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || { echo "not formatted: $f"; status=1; }
done < <(git ls-files -z '*.cpp' '*.h')

# Who may include whom: a folder, then what of ours its files may include besides
# their own folder. A word with a slash names one header only.
declare -A may_include=(
  [formats]=""
  [link]=""
  [platform]=""
  [ports]="link platform"
  [storage]="formats platform link/os_error.h"
  [service]="link formats storage/volume.h"
)
while IFS= read -r -d '' f; do
  folder=${f%%/*}
  allowed="$folder ${may_include[$folder]}"
  while IFS= read -r included; do
    ok=0
    for a in $allowed; do
      case "$a" in
        */*) [ "$included" = "$a" ] && ok=1 ;;
        *) [ "${included%%/*}" = "$a" ] && ok=1 ;;
      esac
    done
    [ $ok -eq 1 ] || { echo "$f includes $included: $folder/ may include only ${allowed% }"; status=1; }
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$f")
done < <(git ls-files -z -- 'formats/*' 'link/*' 'platform/*' 'ports/*' 'storage/*' 'service/*')

while IFS= read -r -d '' f; do
  grep -Iq . "$f" || continue  # binary or empty
  if grep -nE '[[:space:]]+$' "$f" >/dev/null; then echo "trailing white space: $f"; status=1; fi
  if [ -n "$(tail -c 1 "$f")" ]; then echo "no final newline: $f"; status=1; fi
done < <(git ls-files -z)

[ $status -eq 0 ] && echo "lint: clean"
exit $status
