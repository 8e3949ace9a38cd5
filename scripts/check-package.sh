#!/usr/bin/env bash
# Builds the Debian package, installs it with apt-get, checks that the
# installed programs start, that the desktop entry and the AppStream metainfo
# validate and that the installed tool keeps its files in the user's data
# folder (made at the first start with files/ and an empty values log, which
# the tool appends to and never creates), then removes the package again.
# Needs root and apt-get; skips with a message (exit 0) without them.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
  echo "package check: needs root and apt-get to install the package; skipped."
  exit 0
fi

bash scripts/package.sh
deb="$(ls -t build/qvxtool_*.deb | head -n 1)"
echo "package check: installing $deb"
work="$(mktemp -d)"
installed=0
cleanup() {
  if [ "$installed" -eq 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq qvxtool >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb"
installed=1

fail() {
  echo "package check: FAILED: $*" >&2
  exit 1
}
version="$(sed -n 's/^project(qvxtool VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/qvxtool --version)" = "qvxtool $version" ] ||
  fail "qvxtool --version"
[ "$(/usr/bin/qvxsim --version)" = "qvxsim $version" ] || fail "qvxsim --version"
if dpkg -L qvxtool | grep -q '^/usr/bin/qvxctl$'; then
  /usr/bin/qvxctl --version >/dev/null || fail "qvxctl --version"
fi

for f in /usr/share/doc/qvxtool/UsrMan.pdf /usr/share/doc/qvxtool/qvxsim.md /usr/share/man/man1/qvxtool.1.gz \
  /usr/share/man/man1/qvxsim.1.gz /usr/share/icons/hicolor/48x48/apps/qvxtool.png \
  /usr/share/icons/hicolor/128x128/apps/qvxtool.png /usr/share/icons/hicolor/256x256/apps/qvxtool.png; do
  [ -s "$f" ] || fail "$f is missing"
done
desktop-file-validate /usr/share/applications/org.qvxtool.qvxtool.desktop || fail "desktop entry"
appstreamcli validate --no-net /usr/share/metainfo/org.qvxtool.qvxtool.metainfo.xml || fail "metainfo"
if dpkg -c "$deb" | grep -Eq '/(tst_|bench_|qvx_make|qvx_render)'; then
  fail "the package holds tests, benchmarks or build tools"
fi

# The window opens and stays up (a fault at start would end it at once).
# started: $1 is the data folder argument or empty, HOME is $work/home.
started() {
  local log="$work/qvxtool.log"
  HOME="$work/home" XDG_DATA_HOME="" QT_QPA_PLATFORM=offscreen /usr/bin/qvxtool "$@" >"$log" 2>&1 &
  local pid=$!
  sleep 3
  if ! kill -0 "$pid" 2>/dev/null; then
    cat "$log"
    fail "qvxtool $* ended on its own"
  fi
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}
mkdir -p "$work/home" "$work/data"
started --data-dir "$work/data"
[ ! -e "$work/home/.local/share/qvxtool" ] || fail "--data-dir did not override the user's data folder"
started
[ -d "$work/home/.local/share/qvxtool/files" ] || fail "the user's data folder was not made"
[ -f "$work/home/.local/share/qvxtool/files/logvalues.txt" ] &&
  [ ! -s "$work/home/.local/share/qvxtool/files/logvalues.txt" ] ||
  fail "the first start did not make an empty files/logvalues.txt"
[ ! -e "$work/data/files" ] || fail "--data-dir's folder got a files folder it did not ask for"

DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq qvxtool
installed=0
[ ! -e /usr/bin/qvxtool ] || fail "qvxtool is still there after purging the package"
[ ! -e /usr/share/doc/qvxtool ] || fail "the documentation is still there after purging the package"
echo "package check: $deb installs, starts and removes cleanly"
