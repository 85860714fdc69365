# Sourced by the build scripts (run from the top of the checkout): compile through ccache,
# with paths taken relative to the checkout, so that a fresh clone of the same tree (CI's)
# reuses the objects an earlier build on this machine made. Sets CACHE_ARGS for cmake.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
CACHE_ARGS=()
if command -v ccache >/dev/null; then
  CACHE_ARGS=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
