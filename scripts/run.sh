#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window serving the current directory.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" run
cmake -S "$top" -B "$top/build" -G Ninja -DBUILD_TESTING=OFF -DDORVANE_WERROR=ON
cmake --build "$top/build"
exec "$top/build/bin/dorvane" "$@"
