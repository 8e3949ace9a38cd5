#!/usr/bin/env bash
# The time qvxtool takes from its start until its main window is mapped on an
# X display (Xvfb), the Linux build beside it (../bin) and, when the Windows
# build is there (QVX_WIN_BUILD, default build-win of the checkout), its
# qvxtool.exe under Wine; the median of five starts each, after one start
# that warms the caches (and Wine's prefix).  Each start gets an empty data
# folder of its own.  Skipped without xvfb-run and xwininfo.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "$here/../bin" && pwd)"
src="$(cd "${QVX_SOURCE_DIR:-$here/../..}" && pwd)"
if ! command -v xvfb-run >/dev/null || ! command -v xwininfo >/dev/null; then
  echo "window_start_bench: skipped, xvfb-run and xwininfo (x11-utils) are needed"
  exit 0
fi
title="QVX-24S IEC 62056 Decoder"
runs=5
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# measure NAME COMMAND...: prints the median start time of COMMAND on one
# Xvfb display.  The program is ended (its whole process group) once its
# window shows; a start that shows no window within 60 s fails the bench.
cat >"$work/measure.sh" <<'EOF'
set -uo pipefail
title="$1"; runs="$2"; work="$3"; shift 3
times=()
for i in $(seq 0 "$runs"); do
  data="$work/data$i"
  mkdir -p "$data"
  start=$(date +%s%N)
  dir="$data"
  # Wine takes a Unix path as a path on drive Z:.
  [ -z "${WINE_PATHS:-}" ] || dir="Z:${data//\//\\}"
  setsid "$@" --data-dir "$dir" >/dev/null 2>&1 &
  pid=$!
  shown=
  for _ in $(seq 1200); do
    if xwininfo -root -tree 2>/dev/null | grep -qF "\"$title\""; then shown=1; break; fi
    sleep 0.05
  done
  end=$(date +%s%N)
  kill -- -"$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # The next start is timed from a display without the window.
  for _ in $(seq 200); do
    xwininfo -root -tree 2>/dev/null | grep -qF "\"$title\"" || break
    sleep 0.05
  done
  [ -n "$shown" ] || { echo "no window after 60 s"; exit 1; }
  # The first start warms the caches; it is not counted.
  [ "$i" -eq 0 ] || times+=($(( (end - start) / 1000000 )))
done
printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
EOF

linux="$(QT_QPA_PLATFORM=xcb xvfb-run -a bash "$work/measure.sh" "$title" "$runs" "$work" "$bin/qvxtool")"
echo "qvxtool, Linux build: window shown after $linux ms (median of $runs starts)"

win="$src/${QVX_WIN_BUILD:-build-win}/bin/qvxtool.exe"
if [ -f "$win" ]; then
  # A running wineserver may have its desktop on another display (or none).
  (cd "$src" && source scripts/windows/env.sh && qvx_win_prefix >/dev/null && qvx_win_fresh_server)
  # Wine's own display driver draws on the Xvfb display; the program's window
  # is an X window with its title.
  wine_ms="$(cd "$src" && WINE_PATHS=1 QT_QPA_PLATFORM=windows xvfb-run -a bash "$work/measure.sh" "$title" "$runs" "$work" \
    scripts/windows/wine-run.sh "$win")"
  echo "qvxtool.exe under Wine: window shown after $wine_ms ms (median of $runs starts)"
  (cd "$src" && source scripts/windows/env.sh && "$(dirname "$QVX_WINE")/wineserver" -k 2>/dev/null || true)
else
  echo "qvxtool.exe: no Windows build at $win (bash scripts/windows/build.sh); Linux only"
fi
