#!/usr/bin/env bash
# The example site playbook (Ansible's default 5 forks, connection local)
# against 20 simulated TCP gateways, and qvxctl --targets -j 16 profile apply
# with the same profile on a fresh fleet of 20; prints both times.  Uses the
# qvxctl and qvxsim built beside it (../bin); skipped without ansible-playbook.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "$here/../bin" && pwd)"
src="$(cd "${QVX_SOURCE_DIR:-$here/../..}" && pwd)"
if ! command -v ansible-playbook >/dev/null; then
  echo "ansible_bench: skipped, ansible-playbook is not installed"
  exit 0
fi
examples="$src/integrations/ansible/examples"
work="$(mktemp -d)"
sims=()
trap 'for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null; rm -rf "$work"' EXIT
# Started here, not in a command substitution, so that the trap stops them.
fleet() {
  "$bin/qvxsim" --tcp 127.0.0.1:0 --fleet 20 >"$work/$1.out" 2>&1 &
  sims+=($!)
  for _ in $(seq 200); do grep -q '^ready' "$work/$1.out" && break; sleep 0.1; done
}
ports() { sed -n 's/^tcp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/$1.out"; }
fleet ansible
fleet qvxctl
py="$(sed -n "1s/^#! *//p" "$(command -v ansible-playbook)" | cut -d" " -f1)"
{
  echo "site_north:"
  echo "  hosts:"
  for p in $(ports ansible); do
    echo "    gw-$p: {qvx_tcp: '127.0.0.1:$p', ansible_connection: local, ansible_python_interpreter: $py}"
  done
  echo "gateways:"
  echo "  children: {site_north: {}}"
} >"$work/inventory.yml"
for p in $(ports qvxctl); do echo "--tcp 127.0.0.1:$p"; done >"$work/targets.txt"

export ANSIBLE_COLLECTIONS_PATH="$src/integrations/ansible" PATH="$bin:$PATH" ANSIBLE_NOCOLOR=1
start=$(date +%s.%N)
(cd "$examples" && ansible-playbook -i "$work/inventory.yml" site.yml) >"$work/playbook.log" 2>&1 ||
  { cat "$work/playbook.log"; exit 1; }
mid=$(date +%s.%N)
"$bin/qvxctl" --targets "$work/targets.txt" -j 16 -q profile apply "$examples/files/north.json" >"$work/qvxctl.log" 2>&1 ||
  { cat "$work/qvxctl.log"; exit 1; }
end=$(date +%s.%N)
changed=$(grep -c 'changed=1' "$work/playbook.log" || true)
printf 'ansible-playbook (5 forks), 20 gateways: %.1f s (%s changed)\n' "$(echo "$mid - $start" | bc)" "$changed"
printf 'qvxctl --targets -j 16 profile apply, 20 gateways: %.1f s\n' "$(echo "$end - $mid" | bc)"
