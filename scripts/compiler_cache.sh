# Sourced by the build scripts: when ccache is installed, every build folder
# compiles through it, keyed on paths relative to the checkout, so that a
# second checkout (or CI's fresh clone) reuses what an earlier build compiled.
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
  export CCACHE_NOHASHDIR=1
  QVX_LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
else
  QVX_LAUNCHER=()
fi
