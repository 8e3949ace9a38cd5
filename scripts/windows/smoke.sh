#!/usr/bin/env bash
# End-to-end checks of the two Windows packages under Wine (run
# scripts/windows/package.sh first):
#  - the portable ZIP unpacked into an empty folder with WINEPATH empty (so a
#    missing DLL shows): qvxctl.exe --version, and --json info against the
#    ZIP's own qvxsim.exe over TCP on 127.0.0.1, and reads and writes
#    registers over a serial port (serial-smoke.sh);
#  - qvxtool.exe from the ZIP under Xvfb: the window starts and, closed,
#    writes its settings file beside itself;
#  - the installer: setup.exe /S, the installed qvxtool.exe makes its data
#    folder in %LOCALAPPDATA%\qvxtool, the uninstaller (/S) removes the
#    program and keeps the data.
# QVX_SMOKE_WINDOW=0 leaves the window and the installer out.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/windows/env.sh
build="$PWD/$QVX_WIN_BUILD"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
name="qvxtool-$version-win64"
work="$(mktemp -d)"
sim_pid=
cleanup() {
  [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
  "$(dirname "$QVX_WINE")/wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "windows smoke: FAILED: $*" >&2
  exit 1
}
qvx_win_prefix
export WINEPATH=
qvx_win_fresh_server

# --- the portable ZIP --------------------------------------------------------
(cd "$work" && unzip -q "$build/$name.zip")
app="$work/$name"
[ "$("$QVX_WINE" "$app/qvxctl.exe" --version | tr -d '\r')" = "qvxctl $version" ] || fail "qvxctl.exe --version"
port=$((20000 + RANDOM % 20000))
"$QVX_WINE" "$app/qvxsim.exe" --tcp "127.0.0.1:$port" >"$work/sim.log" 2>&1 &
sim_pid=$!
info=
for _ in $(seq 30); do
  info="$("$QVX_WINE" "$app/qvxctl.exe" --tcp "127.0.0.1:$port" --json info 2>/dev/null | tr -d '\r')" && break
  sleep 1
done
echo "$info" | grep -q '"firmware":"QVX' || fail "qvxctl.exe --json info against qvxsim.exe: $info"
kill "$sim_pid" 2>/dev/null || true
sim_pid=
# The ZIP's qvxctl.exe over a serial line: the Linux qvxsim on a
# pseudo-terminal mapped as a COM port of the prefix.
bash scripts/windows/serial-smoke.sh "$app/qvxctl.exe" || fail "qvxctl.exe over a serial port"

if [ "${QVX_SMOKE_WINDOW:-1}" = 0 ]; then
  echo "windows smoke: ZIP checks pass; the window and installer checks left out (QVX_SMOKE_WINDOW=0)"
  exit 0
fi

# start_window EXE: runs the window under Xvfb on Wine's own display driver
# until its main window is mapped (at most QVX_SMOKE_WAIT seconds, default
# 60), then closes it as the window manager would (WM_CLOSE, which runs the
# program's window close; asked again while it has not ended), and waits for
# it to end.
cat >"$work/window.sh" <<'EOF_WINDOW'
set -u
wine="$1"; exe="$2"; wait_s="$3"
title='"QVX-24S IEC 62056 Decoder"'
"$wine" "$exe" &
pid=$!
shown=
for _ in $(seq $((wait_s * 10))); do
  kill -0 "$pid" 2>/dev/null || exit 3
  if xwininfo -root -tree 2>/dev/null | grep -qF "$title"; then shown=1; break; fi
  sleep 0.1
done
[ -n "$shown" ] || exit 5
for _ in $(seq 12); do
  "$wine" taskkill /im qvxtool.exe >/dev/null 2>&1
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || exit 0
    sleep 0.1
  done
done
exit 4
EOF_WINDOW
start_window() {
  local exe="$1" status=0
  # The console programs' wineserver has its desktop on no display.
  qvx_win_fresh_server
  QT_QPA_PLATFORM=windows xvfb-run -a bash "$work/window.sh" "$QVX_WINE" "$exe" "${QVX_SMOKE_WAIT:-60}" || status=$?
  case "$status" in
    0) ;;
    3) fail "qvxtool.exe ($exe) ended before its window showed" ;;
    5) fail "qvxtool.exe ($exe) showed no window within ${QVX_SMOKE_WAIT:-60} s" ;;
    *) fail "qvxtool.exe ($exe) did not end when its window was closed (status $status)" ;;
  esac
}
start_window "$app/qvxtool.exe"
[ -s "$app/qvxtool.ini" ] || fail "the portable qvxtool.exe did not write qvxtool.ini beside itself"
grep -q '^\[Modbus port\]' "$app/qvxtool.ini" || fail "qvxtool.ini has no [Modbus port]"

# --- the installer -------------------------------------------------------------
"$QVX_WINE" "$build/$name-setup.exe" /S
"$(dirname "$QVX_WINE")/wineserver" -w
# Wine's %LOCALAPPDATA% of the Unix user running it.
local_unix="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local"
installed="$local_unix/Programs/qvxtool"
[ -f "$installed/qvxtool.exe" ] && [ -f "$installed/qvxtool-installed.txt" ] || fail "setup.exe /S did not install into $installed"
rm -rf "$local_unix/qvxtool"
start_window "$installed/qvxtool.exe"
[ -f "$local_unix/qvxtool/files/logvalues.txt" ] || fail "the installed qvxtool.exe did not make %LOCALAPPDATA%\\qvxtool\\files"
[ -s "$local_unix/qvxtool/qvxtool.ini" ] || fail "the installed qvxtool.exe did not write its settings into %LOCALAPPDATA%\\qvxtool"
[ ! -e "$installed/qvxtool.ini" ] || fail "the installed qvxtool.exe wrote its settings beside itself"
"$QVX_WINE" "$installed/uninstall.exe" /S
"$(dirname "$QVX_WINE")/wineserver" -w
sleep 2
[ ! -e "$installed/qvxtool.exe" ] || fail "the uninstaller left qvxtool.exe"
[ -s "$local_unix/qvxtool/qvxtool.ini" ] || fail "the uninstaller removed the user's settings"
echo "windows smoke: ZIP ($(du -k "$build/$name.zip" | cut -f1) KiB) and installer ($(du -k "$build/$name-setup.exe" | cut -f1) KiB) pass"
