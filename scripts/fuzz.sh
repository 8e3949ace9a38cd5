#!/usr/bin/env bash
# Builds every libFuzzer target of tests/fuzz (build-fuzz/, clang) and runs
# them on copies of their seed corpora within one budget of SECONDS (default
# 600) that the targets share equally (at least 10 s each), so that adding a
# target does not lengthen the run.  Prints the
# executions per target; exits non-zero on a finding (crash, leak, sanitizer
# report or a violated property), leaving the reproducer in build-fuzz/findings/.
# Skips, with a message and exit 0, when clang or libFuzzer is missing.
set -uo pipefail
cd "$(dirname "$0")/.."
budget="${1:-600}"
root="$PWD"
build="$root/build-fuzz"

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ not found; skipping the fuzz targets (install clang and libclang-rt-14-dev)."
  exit 0
fi
probe="$(mktemp -d)"
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }\n' \
  >"$probe/p.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1; then
  rm -rf "$probe"
  echo "fuzz: clang has no libFuzzer runtime; skipping the fuzz targets (install libclang-rt-14-dev)."
  exit 0
fi
rm -rf "$probe"

source scripts/compiler_cache.sh
jobs="${QVX_JOBS:-2}"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVX_FUZZ=ON \
  "${QVX_LAUNCHER[@]}" >/dev/null || exit 1
cmake --build "$build" -j"$jobs" --target qvx_fuzz_all || exit 1

targets=("$build"/fuzz/fuzz_*)
count=0
for exe in "${targets[@]}"; do [ -x "$exe" ] && count=$((count + 1)); done
seconds=$(( count > 0 ? budget / count : budget ))
[ "$seconds" -lt 10 ] && seconds=10
echo "fuzz: $count targets, ${seconds} s each (budget ${budget} s)"

status=0
mkdir -p "$build/findings"
summary=()
for exe in "${targets[@]}"; do
  [ -x "$exe" ] || continue
  name="$(basename "$exe")"
  short="${name#fuzz_}"
  work="$build/corpus/$short"
  rm -rf "$work"
  mkdir -p "$work"
  if [ -d "tests/fuzz/corpus/$short" ]; then
    cp -r "tests/fuzz/corpus/$short/." "$work/"
  fi
  log="$build/findings/$name.log"
  "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$name-" "$work" >"$log" 2>&1
  rc=$?
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  if [ "$rc" -ne 0 ]; then
    status=1
    summary+=("$name: FINDING after ${execs:-?} execs (see $log)")
    tail -n 30 "$log"
  else
    summary+=("$name: ${execs:-?} execs in ${seconds} s, no finding")
  fi
done
printf '%s\n' "${summary[@]}"
exit "$status"
