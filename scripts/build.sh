#!/usr/bin/env bash
# Configures and builds into build/ (tool, simulator, tests, benchmarks).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/compiler_cache.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${QVX_LAUNCHER[@]}" ${CMAKE_ARGS:-}
cmake --build build -j"$(nproc)"
