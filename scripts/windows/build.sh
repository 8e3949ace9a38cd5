#!/usr/bin/env bash
# Cross-builds the Windows programs (qvxtool.exe, qvxctl.exe, qvxsim.exe) and
# the Windows test executables into build-win/, with Debian's MinGW-w64 and
# the shared Qt for Windows, then deploys beside them what they need to run.
# The build tools (logo, icons, manual) come from the native build in build/,
# built here when missing.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/compiler_cache.sh
# ccache takes the precompiled headers of the cross build only with these.
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
source scripts/windows/env.sh
qvx_win_unpack_qt

# The native build tools.
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${QVX_LAUNCHER[@]}" ${CMAKE_ARGS:-}
fi
cmake --build build --target qvx_make_logo qvx_make_icon qvx_render_manual

cmake -S . -B "$QVX_WIN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release "${QVX_LAUNCHER[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$QVX_WIN_QT/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQVX_HOST_TOOLS_DIR="$PWD/build/tools" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/scripts/windows/wine-run.sh" \
  -DQVX_WIN_QT="$QVX_WIN_QT" -DQVX_MINGW_DLL_DIRS="$QVX_MINGW_GCC_DLLS;$QVX_MINGW_SYS_DLLS"
# The programs and every test executable that is no Wine exception.
cmake --build "$QVX_WIN_BUILD" -j"$(nproc)"
