#!/usr/bin/env bash
# The serial link of a Windows qvxctl.exe under Wine, end to end:
#   serial-smoke.sh [QVXCTL_EXE]     (default: build-win/bin/qvxctl.exe)
# The Linux qvxsim (QVXSIM, default build/bin/qvxsim) serves Modbus RTU on a
# new pseudo-terminal; the Wine prefix maps it as a COM port (QVX_SMOKE_COM,
# default COM7) by its dosdevices link; qvxctl.exe reads ten holding
# registers from it there, the paced reply (byte by byte at 9600 baud) as
# well, reads its settings and identification (info) and writes a register.
#
# No helper library is preloaded: Wine (8.0) opens a pty as a serial port and
# QSerialPort reads from it, because a ReadFile with "return what is there"
# timeouts waits in Wine for the first byte and completes through the I/O
# completion port QSerialPort listens on.  Its WaitCommEvent does not: Wine's
# waiting thread ends it without a completion packet (at once on a pty, whose
# modem status is not there), so the program must not rely on readyRead
# without reading; Comm2 purges, which reads, before every request.
# WINEPATH as given (smoke.sh empties it for the ZIP), else Qt's and the
# MinGW runtime's folders, as wine-run.sh sets them.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/windows/env.sh
exe="${1:-$PWD/$QVX_WIN_BUILD/bin/qvxctl.exe}"
sim="${QVXSIM:-$PWD/build/bin/qvxsim}"
com="${QVX_SMOKE_COM:-COM7}"
link=
work="$(mktemp -d)"
sim_pid=
fail() {
  echo "serial smoke: FAILED: $*" >&2
  [ ! -f "$work/sim.log" ] || sed 's/^/  qvxsim: /' "$work/sim.log" >&2
  exit 1
}
cleanup() {
  [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  [ -z "$link" ] || rm -f "$link"
  rm -rf "$work"
}
trap cleanup EXIT
[ -f "$exe" ] || fail "no $exe"
[ -x "$sim" ] || fail "no $sim (build the Linux qvxsim first)"
qvx_win_prefix

# start_sim ARGS...: qvxsim on a new pty, the COM port linked to it.
start_sim() {
  [ -z "$sim_pid" ] || { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; }
  rm -f "$work/pty"
  "$sim" --pty "$work/pty" --verbose "$@" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do
    grep -q '^ready' "$work/sim.log" 2>/dev/null && break
    sleep 0.1
  done
  grep -q '^ready' "$work/sim.log" || fail "qvxsim did not start"
  link="$(qvx_win_link_com "$com" "$work/pty")"
}

# ctl ARGS...: qvxctl.exe on the COM port, its output without CRs.
ctl() {
  if [ -n "${WINEPATH+set}" ]; then
    timeout 120 "$QVX_WINE" "$exe" --serial "$com" "$@" | tr -d '\r'
  else
    timeout 120 bash scripts/windows/wine-run.sh "$exe" --serial "$com" "$@" | tr -d '\r'
  fi
}

# check_read: ten holding registers from 0, with what the simulator's
# factory state holds in register 7 (only "Continues Read" set).
check_read() {
  local out
  out="$(ctl --json read holding 0 10 2>&1)" || fail "read holding 0 10 ($1): $out"
  [ "$(grep -o '"address":' <<<"$out" | wc -l)" = 10 ] || fail "read holding 0 10 ($1): $out"
  grep -q '"address":7,"value":128' <<<"$out" || fail "register 7 ($1): $out"
  grep -q 'RX 01 03 00 00 00 0A C5 CD' "$work/sim.log" || fail "qvxsim saw no request ($1)"
  echo "serial smoke: $com $1: $out"
}

start_sim
check_read "replies at once"
# info keys RTS around its device identification request: a pty has no
# such line, and Wine says so in words QSerialPort does not know.
out="$(ctl --json info 2>&1)" || fail "info: $out"
grep -q '"firmware":"QVX' <<<"$out" || fail "info: $out"
echo "serial smoke: $com info: $(cut -c1-60 <<<"$out")..."
out="$(ctl write 5 4660 2>&1)" || fail "write 5 4660: $out"
out="$(ctl --json read holding 5 1 2>&1)" || fail "read back: $out"
grep -q '"address":5,"value":4660' <<<"$out" || fail "register 5 after write: $out"
echo "serial smoke: $com write and read back: $out"

start_sim --pace
check_read "paced reply"
echo "serial smoke: qvxctl.exe over $com passes"
