#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window. Without arguments it serves
# ~/c64 (made when missing), never the source tree; any arguments go to the window
# (`--root DIR`, a folder, `--port DEVICE`...).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" run
cmake -S "$top" -B "$top/build" -G Ninja -DBUILD_TESTING=OFF -DDORVANE_WERROR=ON
cmake --build "$top/build"
if [ $# -eq 0 ]; then
  mkdir -p "$HOME/c64"
  echo "Serving $HOME/c64"
  set -- --root "$HOME/c64"
fi
exec "$top/build/bin/dorvane" "$@"
