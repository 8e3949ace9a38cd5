#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test and the Ansible
# collection's playbook tests (skipped without ansible-playbook); then the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/), then every fuzz target within one shared ten-minute budget
# (build-fuzz/) when clang is present, then builds the Debian package, installs it, checks the
# installed programs and removes it again (only as root with apt-get; skipped
# with a message otherwise), then cross-builds the Windows programs and tests
# (build-win/), runs the tests under Wine, and makes and checks both Windows
# packages under Wine.  Each stage's time is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
stage() {
  local name="$1"
  shift
  local start=$SECONDS
  echo "=== $name"
  "$@"
  echo "=== $name: $((SECONDS - start)) s"
}
suite() {
  (cd "$1" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" | tee ctest-summary.log)
}
# One closing count over both runs of the suite, read from CTest's own
# summary lines ("100% tests passed, 0 tests failed out of 32").
closing_count() {
  cat build/ctest-summary.log build-asan/ctest-summary.log |
    sed -n 's/.*tests passed, \([0-9]*\) tests\? failed out of \([0-9]*\).*/\1 \2/p' |
    awk '{f += $1; t += $2} END {printf "tests: %d passed, %d failed\n", t - f, f}'
}
sanitized_build() {
  source scripts/compiler_cache.sh
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVX_SANITIZE=ON "${QVX_LAUNCHER[@]}" \
    ${CMAKE_ARGS:-}
  cmake --build build-asan -j"$(nproc)"
}
sanitized_suite() {
  # Leaks inside the platform libraries (fontconfig, Qt's plugin caches) are
  # not ours to fix; every other report fails the run.
  ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:${ASAN_OPTIONS:-}" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}" suite build-asan
}

stage "install dependencies" bash scripts/install-deps.sh
stage "build" bash scripts/build.sh
stage "tests" suite build
stage "ansible collection" bash integrations/ansible/tests/run.sh build/bin
stage "sanitizer build" sanitized_build
stage "tests under ASan+UBSan" sanitized_suite
stage "fuzzing" bash scripts/fuzz.sh "${QVX_FUZZ_BUDGET:-600}"
stage "package" bash scripts/check-package.sh
stage "windows" bash -c 'bash scripts/windows/build.sh && bash scripts/windows/test.sh && bash scripts/windows/package.sh &&
  bash scripts/windows/smoke.sh'
closing_count
