#!/usr/bin/env bash
# Builds the Debian package with every test run on its optimised build, checks it
# with lintian, installs it, checks what it installed, serves a load with the
# installed dorvaned as the service would run it, and removes the package again, so
# the machine is left as it was. Run as root on Debian 12 (CI does):
#   scripts/package-test.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" -ne 0 ]; then
  echo "package-test.sh: run as root: it installs and removes the package" >&2
  exit 2
fi
export DEBIAN_FRONTEND=noninteractive
started=$SECONDS
say() { echo "package-test: $*"; }
fail() {
  echo "package-test: FAILED: $*" >&2
  exit 1
}

if dpkg-query -W -f='${Status}' dorvane 2>/dev/null | grep -q 'ok installed'; then
  fail "dorvane is installed already; remove it first (apt-get purge dorvane)"
fi

# The icons in data/ are the ones the drawing script makes today.
python3 "$top/tools/icon/make_icon.py" --check || fail "the icons are out of date"
say "icons: data/ matches tools/icon/make_icon.py"

"$top/scripts/package.sh" --test
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$top/build-release/CMakeCache.txt")
deb="$top/build/dorvane_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no package $deb"
say "built $(basename "$deb")"

# lintian: no errors; the warnings it still gives are shown.
lintian --fail-on error --info "$deb" || fail "lintian reports errors"
say "lintian: no errors"

# What the package makes that the machine did not have, to be removed at the end.
user_before=$(getent passwd dorvane || true)
group_before=$(getent group dorvane || true)
srv_before=$([ -e /srv/dorvane ] && echo yes || echo no)
work=$(mktemp -d /tmp/dorvane-package-test-XXXXXX)
pids=()
cleanup() {
  local status=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -f /dev/ttyDorvaneTest0
  if dpkg-query -W -f='${Status}' dorvane 2>/dev/null | grep -q 'ok installed'; then
    apt-get purge -y dorvane >/dev/null || status=1
  fi
  [ -n "$user_before" ] || ! getent passwd dorvane >/dev/null || userdel dorvane || status=1
  [ -n "$group_before" ] || ! getent group dorvane >/dev/null || groupdel dorvane || status=1
  [ "$srv_before" = yes ] || rm -rf /srv/dorvane
  rm -rf "$work"
  if [ "$status" -eq 0 ]; then
    say "removed the package again; all checks passed in $((SECONDS - started)) s"
  fi
  exit "$status"
}
trap cleanup EXIT

apt-get install -y "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install"; }
say "installed with apt-get"

# The programs and their version, which is the package's.
for program in dorvane dorvaned dorvane-peer; do
  [ -x "/usr/bin/$program" ] || fail "/usr/bin/$program missing"
  file "/usr/bin/$program" | grep -q ', stripped' || fail "/usr/bin/$program is not stripped"
done
[ "$(dorvaned --version)" = "dorvaned $version" ] || fail "dorvaned --version: $(dorvaned --version)"
[ "$(dorvane-peer --version)" = "dorvane-peer $version" ] || fail "dorvane-peer --version"
[ "$(dpkg-query -W -f='${Version}' dorvane)" = "$version" ] || fail "the package's version"
say "dorvaned --version: $(dorvaned --version)"

# The manual pages: each renders, and groff finds nothing to warn about.
for page in man1/dorvane.1 man8/dorvaned.8 man1/dorvane-peer.1; do
  path=/usr/share/man/$page.gz
  MANWIDTH=80 man --warnings -l "$path" >"$work/page.txt" 2>"$work/page.err" || fail "man -l $path"
  [ ! -s "$work/page.err" ] || { cat "$work/page.err"; fail "man -l $path warns"; }
  grep -q '^EXIT STATUS' "$work/page.txt" || fail "$path has no EXIT STATUS"
  grep -q "Dorvane $version" "$work/page.txt" || fail "$path does not show the version"
  say "man -l $path"
done

# The desktop entry, its icons and the AppStream metadata.
desktop-file-validate /usr/share/applications/dorvane.desktop || fail "desktop-file-validate"
say "desktop-file-validate: the desktop entry is valid"
for size in 16 22 24 32 48 64 128 256; do
  icon=/usr/share/icons/hicolor/${size}x${size}/apps/dorvane.png
  file "$icon" | grep -q "PNG image data, $size x $size," || fail "$icon"
done
grep -q '<svg' /usr/share/icons/hicolor/scalable/apps/dorvane.svg || fail "the SVG icon"
say "icons: scalable and 16 to 256 pixels"
appstreamcli validate --no-net /usr/share/metainfo/org.dorvane.Dorvane.metainfo.xml ||
  fail "appstreamcli validate"
say "appstreamcli validate: the metadata is valid"
for doc in copyright changelog.gz README.md; do
  [ -f "/usr/share/doc/dorvane/$doc" ] || fail "/usr/share/doc/dorvane/$doc missing"
done
# The C64's program, and the disk that carries it to a C64 (174848 bytes: a D64).
[ -s /usr/share/dorvane/c64/dorvane.prg ] || fail "/usr/share/dorvane/c64/dorvane.prg missing"
[ "$(stat -c %s /usr/share/dorvane/c64/dorvane.d64)" = 174848 ] || fail "/usr/share/dorvane/c64/dorvane.d64"
say "the C64 program and its disk"

# The service: its user, its directory, its settings (a conffile) and the unit.
unit=/lib/systemd/system/dorvaned@.service
id -nG dorvane | tr ' ' '\n' | grep -qx dialout || fail "the user dorvane is not in dialout"
[ "$(stat -c %U:%G /srv/dorvane)" = dorvane:dorvane ] || fail "/srv/dorvane's owner"
dpkg-query -W -f='${Conffiles}\n' dorvane | grep -q '/etc/default/dorvaned' ||
  fail "/etc/default/dorvaned is no conffile"
mkdir "$work/units"
cp "$unit" "$work/units/dorvaned@ttyS0.service"
systemd-analyze verify "$work/units/dorvaned@ttyS0.service" 2>&1 | tee "$work/verify.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "systemd-analyze verify"
! grep -q 'dorvaned@' "$work/verify.log" || fail "systemd-analyze verify reports on the unit"
say "systemd-analyze verify: the unit is valid"

# A load and a save served by the installed dorvaned, started as the unit starts it:
# its ExecStart line with the instance filled in and the settings file read, as the
# user dorvane. A pseudo-terminal pair stands in for the cable; the server's end is
# made a serial device under /dev as udev makes one, open to the group dialout.
socat pty,raw,echo=0,link=/dev/ttyDorvaneTest0 pty,raw,echo=0,link="$work/c64" &
pids+=($!)
for _ in $(seq 100); do [ -e /dev/ttyDorvaneTest0 ] && [ -e "$work/c64" ] && break; sleep 0.1; done
[ -e /dev/ttyDorvaneTest0 ] || fail "socat made no pseudo-terminal pair"
tty=$(readlink -f /dev/ttyDorvaneTest0)
chgrp dialout "$tty"
chmod 660 "$tty"

printf 'hello from the served directory\n' >/srv/dorvane/hello.prg
chown dorvane:dorvane /srv/dorvane/hello.prg
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
command_line=$(
  DORVANED_ROOT=/srv/dorvane
  DORVANED_OPTIONS=
  . /etc/default/dorvaned
  eval "set -- ${exec_start//%I/ttyDorvaneTest0}"
  printf '%q ' "$@"
)
say "serving as the unit would: $command_line"
eval "exec setpriv --reuid=dorvane --regid=dorvane --init-groups -- $command_line" \
  >"$work/server.log" 2>&1 &
server=$!
pids+=("$server")

cd "$work"
dorvane-peer --port "$work/c64" load hello.prg -o "$work/hello.prg" ||
  { cat "$work/server.log"; fail "dorvane-peer load"; }
cmp "$work/hello.prg" /srv/dorvane/hello.prg || fail "the loaded file differs"
say "a load served over the pseudo-terminal pair"
head -c 3000 /dev/urandom >"$work/game.prg"
dorvane-peer --port "$work/c64" save "$work/game.prg" game.prg ||
  { cat "$work/server.log"; fail "dorvane-peer save"; }
# The server commits a save at the C64's closing status, which it does not answer.
for _ in $(seq 50); do [ -e /srv/dorvane/game.prg ] && break; sleep 0.1; done
cmp "$work/game.prg" /srv/dorvane/game.prg || fail "the saved file differs"
[ "$(stat -c %U /srv/dorvane/game.prg)" = dorvane ] || fail "the saved file's owner"
say "a save into /srv/dorvane as the user dorvane"
dorvane-peer --port "$work/c64" cmd s:game.prg >/dev/null 2>&1 && fail "a delete was allowed"
[ -f /srv/dorvane/game.prg ] || fail "the protected file was deleted"
cd "$top"

kill -TERM "$server"
status=0
wait "$server" || status=$?
[ "$status" -eq 0 ] || { cat "$work/server.log"; fail "dorvaned ended with status $status"; }
[ "$(tail -n 1 "$work/server.log")" = " terminated!" ] || fail "the log's last line"
say "dorvaned stopped on SIGTERM with status 0"
rm -f /srv/dorvane/hello.prg /srv/dorvane/game.prg

apt-get purge -y dorvane >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge"; }
[ ! -e /usr/bin/dorvaned ] && [ ! -e /etc/default/dorvaned ] || fail "files left after purge"
say "purged with apt-get"
