#!/usr/bin/env bash
# Runs the Windows test executables of build-win/ under Wine through CTest
# (wine-run.sh is the build's emulator), in the scripts' one Wine prefix on
# Qt's offscreen platform.  The tests listed in tests/wine-exceptions.txt
# show in CTest's summary as not run, each with its reason in the list; they
# run in the Linux suite.  Prints the count of the tests passed under Wine.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/windows/env.sh
qvx_win_prefix
build="$PWD/$QVX_WIN_BUILD"
status=0
(cd "$build" && ctest --output-on-failure -j"$(nproc)" | tee ctest-summary.log) || status=$?
sed -n 's/.*tests passed, \([0-9]*\) tests\? failed out of \([0-9]*\).*/windows tests under Wine: \2 run, \1 failed/p' \
  "$build/ctest-summary.log"
echo "windows tests under Wine: $(grep -c '^tst_' tests/wine-exceptions.txt) not run there, listed with their reasons in tests/wine-exceptions.txt"
exit "$status"
