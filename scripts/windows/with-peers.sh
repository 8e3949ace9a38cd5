#!/usr/bin/env bash
# Runs a Windows test under Wine with the Linux simulator as its peer:
#   with-peers.sh TEST.exe [ARGS...]
# One qvxsim (QVXSIM, default build/bin/qvxsim) serves Modbus TCP on a port
# of 127.0.0.1 and Modbus RTU on a new pseudo-terminal, which the Wine prefix
# links as a COM port (QVX_WINE_COM, default COM9: serial-smoke.sh has COM7).
# The test finds them in QVX_WINE_TCP (127.0.0.1:PORT) and QVX_WINE_COM.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
source "$here/env.sh"
sim="${QVXSIM:-$root/build/bin/qvxsim}"
com="${QVX_WINE_COM:-COM9}"
link=
work="$(mktemp -d)"
sim_pid=
cleanup() {
  [ -z "$sim_pid" ] || { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }
  [ -z "$link" ] || rm -f "$link"
  rm -rf "$work"
}
trap cleanup EXIT
[ -x "$sim" ] || { echo "with-peers: no $sim (build the Linux qvxsim first)"; exit 1; }
qvx_win_prefix
"$sim" --tcp 127.0.0.1:0 --pty "$work/pty" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^ready' "$work/sim.out" && break
  sleep 0.1
done
port="$(sed -n 's/^tcp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.out")"
if [ -z "$port" ] || [ ! -e "$work/pty" ]; then
  echo "with-peers: qvxsim did not start: $(cat "$work/sim.out")"
  exit 1
fi
link="$(qvx_win_link_com "$com" "$work/pty")"
export QVX_WINE_TCP="127.0.0.1:$port" QVX_WINE_COM="$com"
bash "$here/wine-run.sh" "$@"
