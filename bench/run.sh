#!/usr/bin/env bash
# Builds (Release) and runs every benchmark; each prints its own figures.
# The benchmarks are the executable regular files of build-bench/bench (the
# folder also holds CMake's own files and folders).  A benchmark that fails is
# named and the others still run; the exit status then says so.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j"$(nproc)" >/dev/null
failed=()
ran=0
for b in build-bench/bench/*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  name="$(basename "$b")"
  echo "== $name"
  ran=$((ran + 1))
  QT_QPA_PLATFORM=offscreen "$b" || failed+=("$name (exit $?)")
done
if [ "$ran" -eq 0 ]; then
  echo "bench: no benchmark found in build-bench/bench" >&2
  exit 1
fi
if [ "${#failed[@]}" -gt 0 ]; then
  echo "bench: ${#failed[@]} of $ran failed: ${failed[*]}" >&2
  exit 1
fi
echo "bench: $ran benchmarks run"
