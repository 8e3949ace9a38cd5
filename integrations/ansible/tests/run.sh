#!/usr/bin/env bash
# The qvx.gateway collection under real Ansible: the example playbook with
# connection local against simulated gateways (qvxsim on TCP ports of
# 127.0.0.1 and on pseudo-terminals), then the offline sanity checks.
# Usage: run.sh [BIN_DIR]  (qvxctl and qvxsim; default build/bin)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
bin="$(cd "${1:-$root/build/bin}" && pwd)"
if ! command -v ansible-playbook >/dev/null; then
  echo "ansible tests: skipped, ansible-playbook is not installed (apt-get install ansible-core)"
  exit 0
fi
work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export PATH="$bin:$PATH" ANSIBLE_COLLECTIONS_PATH="$root/integrations/ansible" ANSIBLE_NOCOLOR=1 \
  ANSIBLE_FORCE_COLOR=0 ANSIBLE_HOST_KEY_CHECKING=0 ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_REMOTE_TEMP="$work/tmp"
failures=0
# The Python Ansible runs on (another python3 may come first on PATH).
py="$(sed -n "1s/^#! *//p" "$(command -v ansible-playbook)" | cut -d" " -f1)"
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Starts qvxsim with the given options; sets $sim_out to its ready output.
sim() {
  local log="$work/sim$((${#pids[@]})).out"
  qvxsim "$@" >"$log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q '^ready' "$log" && break; sleep 0.1; done
  grep -q '^ready' "$log" || { echo "qvxsim did not start: $(cat "$log")"; exit 1; }
  sim_out="$(cat "$log")"
}
ports() { sed -n 's/^tcp 127\.0\.0\.1:\([0-9]*\)$/\1/p' <<<"$sim_out"; }

sim --tcp 127.0.0.1:0 --fleet 4
mapfile -t fleet < <(ports)
sim --tcp 127.0.0.1:0 --pty "$work/line-n"
sim --tcp 127.0.0.1:0 --pty "$work/line-s" --unit 5 --baud 19200 --match-baud
sim --tcp 127.0.0.1:0
stopped_port="$(ports)"
stopped_pid="${pids[-1]}"

cat >"$work/inventory.yml" <<INV
all:
  vars:
    ansible_connection: local
    ansible_python_interpreter: $py
  children:
    gateways:
      children:
        site_north:
          hosts:
            n-tcp1: {qvx_tcp: "127.0.0.1:${fleet[0]}", ansible_connection: local}
            n-tcp2: {qvx_tcp: "127.0.0.1:${fleet[1]}", ansible_connection: local}
            n-line: {qvx_serial: "$work/line-n", ansible_connection: local}
        site_south:
          hosts:
            s-tcp1: {qvx_tcp: "127.0.0.1:${fleet[2]}", ansible_connection: local}
            s-tcp2: {qvx_tcp: "127.0.0.1:${fleet[3]}", ansible_connection: local}
            s-line: {qvx_serial: "$work/line-s", qvx_baud: 19200, qvx_unit: 5, ansible_connection: local}
            s-stopped: {qvx_tcp: "127.0.0.1:$stopped_port", ansible_connection: local}
INV

# One gateway already holds its profile: the check must leave it unchanged.
qvxctl --tcp "127.0.0.1:${fleet[1]}" -q profile apply "$here/../examples/files/north.json"
kill "$stopped_pid"

playbook() {
  local name="$1"
  shift
  echo "=== ansible-playbook $*"
  (cd "$here/../examples" && ansible-playbook -i "$work/inventory.yml" site.yml "$@") | tee "$work/$name.log" || true
}
# The PLAY RECAP line of a host: "changed=N failed=N".
recap() { sed -n "s/^$1 *: .*changed=\([0-9]*\) .*failed=\([0-9]*\) .*/changed=\1 failed=\2/p" "$work/$2.log"; }
expect() {
  local run="$1" host="$2" want="$3" got
  got="$(recap "$host" "$run")"
  [ "$got" = "$want" ] || fail "$run: $host: $got, expected $want"
}
# Every gateway's profile as qvxctl reads it, to show what was written.
snapshot() {
  local f="$work/$1.snap"
  : >"$f"
  for p in "${fleet[@]}"; do qvxctl --tcp "127.0.0.1:$p" --json profile save "$work/p.json" >/dev/null && cat "$work/p.json" >>"$f"; done
  qvxctl --serial "$work/line-n" --json profile save "$work/p.json" >/dev/null && cat "$work/p.json" >>"$f"
  qvxctl --serial "$work/line-s" --baud 19200 --unit 5 --json profile save "$work/p.json" >/dev/null && cat "$work/p.json" >>"$f"
}

snapshot before
playbook check --check --diff
snapshot after-check
cmp -s "$work/before.snap" "$work/after-check.snap" || fail "check: a gateway changed in check mode"
for h in n-tcp1 n-line s-tcp1 s-tcp2 s-line; do expect check "$h" "changed=1 failed=0"; done
expect check n-tcp2 "changed=0 failed=0"
expect check s-stopped "changed=0 failed=1"
grep -q '^+readout_minutes: 60$' "$work/check.log" || fail "check: the diff does not show the south readout period"
grep -q "connection refused by 127.0.0.1:$stopped_port" "$work/check.log" || fail "check: no qvxctl message for the stopped gateway"

playbook run
for h in n-tcp1 n-line s-tcp1 s-tcp2 s-line; do expect run "$h" "changed=1 failed=0"; done
expect run n-tcp2 "changed=0 failed=0"
expect run s-stopped "changed=0 failed=1"
qvxctl --tcp "127.0.0.1:${fleet[3]}" -q profile diff "$here/../examples/files/south.json" || fail "run: s-tcp2 does not hold its profile"
qvxctl --serial "$work/line-s" --baud 19200 --unit 5 -q profile diff "$here/../examples/files/south.json" ||
  fail "run: s-line does not hold its profile"

playbook rerun
for h in n-tcp1 n-tcp2 n-line s-tcp1 s-tcp2 s-line; do expect rerun "$h" "changed=0 failed=0"; done
expect rerun s-stopped "changed=0 failed=1"

echo "=== module arguments"
"$py" -m unittest discover -s "$here" -p 'test_*.py' || fail "unit tests of the link arguments"

echo "=== ansible-test sanity (the tests that run offline)"
# The others (validate-modules, pylint, pep8, yamllint, import, ansible-doc,
# runtime-metadata) install their pinned requirements from PyPI first.
skip=()
for t in validate-modules runtime-metadata ansible-doc import pep8 pylint yamllint changelog pslint; do
  skip+=(--skip-test "$t")
done
(cd "$root/integrations/ansible/ansible_collections/qvx/gateway" &&
  ansible-test sanity --local --python "$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])')" "${skip[@]}") ||
  fail "ansible-test sanity"
for m in profile info scan; do
  ansible-doc "qvx.gateway.$m" >/dev/null || fail "ansible-doc qvx.gateway.$m"
done
if command -v ansible-lint >/dev/null; then
  echo "=== ansible-lint"
  (cd "$root/integrations/ansible" && ansible-lint --offline --nocolor -q ansible_collections/qvx/gateway/plugins ansible_collections/qvx/gateway/meta examples) ||
    fail "ansible-lint"
else
  echo "ansible-lint: not installed, skipped"
fi

if [ "$failures" -gt 0 ]; then
  echo "ansible tests: $failures failure(s)"
  exit 1
fi
echo "ansible tests: passed"
