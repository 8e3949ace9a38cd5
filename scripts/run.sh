#!/usr/bin/env bash
# Installs what is needed, builds, and starts qvxtool against the simulated
# QVX-24S (qvxsim) so that it can be tried without hardware: Modbus TCP on
# 127.0.0.1:1502, Modbus RTU on a pseudo-terminal and a simulated meter on a
# second pseudo-terminal.  Closing the tool stops the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh
bash scripts/build.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "qvxtool is a desktop program and no display was found (DISPLAY is not set)."
  echo "Run it on a desktop session, or under a virtual display:"
  echo "  xvfb-run -a bash scripts/run.sh"
  exit 1
fi

demo="$root/build/demo"
# The demo folder is made here, as an installation makes its folder: with
# files/ and an empty values log, which the tool appends to and never creates.
mkdir -p "$demo/files"
[ -e "$demo/files/logvalues.txt" ] || : >"$demo/files/logvalues.txt"
port=${QVX_DEMO_PORT:-1502}

# The tool reads its settings from the data folder; point them at the
# simulator the first time, and keep whatever the operator changes later.
if [ ! -f "$demo/qvxtool.ini" ]; then
  printf '[Modbus port]\r\nName=%s\r\nSpeed=19200\r\nParity=Even\r\nSB=1\r\nDB=8\r\n[Modbus]\r\nAutoOpen=0\r\nTimeout=600\r\nAddress=1\r\nSTADDR=1\r\nCount=10\r\n[Misc]\r\nDir=%s/\r\n[Ethernet]\r\nIP=127.0.0.1\r\nPort=%s\r\nTimeout=20\r\n' \
    "$demo/ttyQVX" "$demo" "$port" > "$demo/qvxtool.ini"
fi
ln -sf "$root/build/bin/UsrMan.pdf" "$demo/UsrMan.pdf"

"$root/build/bin/qvxsim" --tcp "127.0.0.1:$port" --pty "$demo/ttyQVX" \
  --meter-pty "$demo/ttyMeter" --state "$demo/qvxsim-state.ini" &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true' EXIT

# Give the simulator a moment to create its links.
for _ in $(seq 50); do
  [ -e "$demo/ttyQVX" ] && break
  sleep 0.1
done

echo "Simulator: Modbus TCP 127.0.0.1:$port, RTU on $demo/ttyQVX, meter on $demo/ttyMeter"
"$root/build/bin/qvxtool" --data-dir "$demo"
