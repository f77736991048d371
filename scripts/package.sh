#!/usr/bin/env bash
# Builds the Debian package build/dorvane_VERSION_ARCH.deb: a Release build in
# build-release/ (optimised, the programs stripped when packed), then CPack.
#   scripts/package.sh           build and pack
#   scripts/package.sh --test    also build the tests and run them on the Release build
# Warnings fail it, as they fail every other build of the project's own scripts.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
testing=OFF
case "${1:-}" in
  '') ;;
  --test) testing=ON ;;
  *) echo "usage: $0 [--test]" >&2; exit 2 ;;
esac
"$top/scripts/install-deps.sh" package
[ "$testing" = OFF ] || "$top/scripts/install-deps.sh" test

build="$top/build-release"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Debian's hardening flags (stack protector, fortified functions, read-only
# relocations bound at start), as a Debian package of it would be built.
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBUILD_TESTING="$testing" -DDORVANE_WERROR=ON "${launcher[@]}" \
  -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)"
cmake --build "$build"
if [ "$testing" = ON ]; then
  ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout 300 -j2
fi
[ -f "$build/doc/dorvaned.8.gz" ] || { echo "package.sh: the manual pages were not built" >&2; exit 1; }
[ -f "$build/c64/dorvane.d64" ] || { echo "package.sh: the C64 program was not built (cc65)" >&2; exit 1; }

rm -f "$build"/dorvane_*.deb
(cd "$build" && cpack -G DEB)
mkdir -p "$top/build"
deb=$(ls "$build"/dorvane_*.deb)
mv -f "$deb" "$top/build/"
echo "package.sh: build/$(basename "$deb")"
