# Sourced by scripts/demo.sh and scripts/install-python.sh, from the repository's root: when ccache is
# installed (scripts/install-deps.sh installs it), compile through it, with one cache for the build trees
# of this checkout (out/ccache, unless CCACHE_DIR is set). `pip install ./python` then gets back from
# the cache what the demo compiled into out/default: out/python sits at the same depth, is built with
# the same generator, build type and compiler, and the build directory is kept out of the hash (the
# debug information of an object handed back names the tree that compiled it first).
# CMake reads CMAKE_<LANG>_COMPILER_LAUNCHER from the environment when it configures a tree the first
# time: a tree configured before without it compiles without the cache. The test targets' precompiled
# header (build/TestPch.cmake) is cached only with the sloppiness below.
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_DIR=${CCACHE_DIR:-$PWD/out/ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1
  export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros}
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
