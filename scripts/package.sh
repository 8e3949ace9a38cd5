#!/usr/bin/env bash
# Builds the Debian package build/qvxtool_<version>_<arch>.deb with CPack:
# qvxtool, qvxsim (and qvxctl when it is built) in /usr/bin, the desktop
# entry, icons, AppStream metainfo, manual pages and the documentation.
# Runs lintian on it when lintian is installed (its findings are printed; an
# error fails the script).  Prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")/.."

# The build folder's configuration is kept (compiler launcher, build type);
# only what the package holds is built.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" ${CMAKE_ARGS:-} >/dev/null
cmake --build build -j"${QVX_JOBS:-$(nproc)}" --target qvx_installed
rm -f build/qvxtool_*.deb
(cd build && cpack -G DEB)
deb="$(ls -t build/qvxtool_*.deb | head -n 1)"
if command -v lintian >/dev/null 2>&1; then
  # Exits non-zero on an error tag only; warnings are printed for review.
  lintian --fail-on error "$deb"
else
  echo "package: lintian is not installed; the package was not linted."
fi
echo "$deb"
