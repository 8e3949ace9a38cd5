#!/usr/bin/env bash
# The manual's picture of the main window under Wine (docs/screenshots/
# windows.png): tst_wine_window of build-win/ on Qt's windows platform on an
# Xvfb display, registers read over a COM port from the Linux qvxsim.  Qt's
# FreeType font engine draws the text: Wine's GDI leaves edit fields blank.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/windows/env.sh
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
QT_QPA_PLATFORM=windows:fontengine=freetype QVX_SCREENSHOT_DIR="Z:${out//\//\\}" \
  xvfb-run -a -s "-screen 0 1600x1200x24" \
  bash scripts/windows/with-peers.sh "$QVX_WIN_BUILD/bin/tst_wine_window.exe" readsRegistersOverComPort
cp "$out/windows.png" docs/screenshots/windows.png
echo "docs/screenshots/windows.png"
