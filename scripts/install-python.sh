#!/usr/bin/env bash
# pip install ./python into out/venv as CI does it, on every core, showing the build's progress.
# Through the compiler cache that scripts/demo.sh fills (scripts/compiler-cache.sh), the sources the demo
# compiled into out/default are handed back instead of compiled again; the extension and nanobind's own
# sources are compiled in any case. Extra arguments go to pip, e.g.
#   bash scripts/install-python.sh -C cmake.define.INFERLET_DEVICE=cuda -C cmake.define.TensorRT10_ROOT=/opt/TensorRT-10
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh  # out/venv, with scikit-build-core and nanobind: no build isolation needed
source scripts/compiler-cache.sh
# pip's build runs `cmake --build` without -j, which make takes as one job.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
echo "pip install ./python: building in out/python with $CMAKE_BUILD_PARALLEL_LEVEL jobs" \
  "($(command -v ccache >/dev/null && echo "compiler cache $CCACHE_DIR" || echo "no compiler cache"))"
# cc and c++ as CMake picks them for the presets: scikit-build-core would take Python's gcc and g++,
# which the compiler cache tells apart from them. pip -v passes the build's lines on as they come; the
# compile and link lines are shown, the whole of it is kept in the log.
log=out/python-install.log
started=$SECONDS
set +e +o pipefail
CC=cc CXX=c++ out/venv/bin/python -m pip install -v --disable-pip-version-check --no-build-isolation \
  --no-deps ./python "$@" 2>&1 | tee "$log" | grep --line-buffered -E '^ *\[ *[0-9]+%\] (Building|Linking)'
status=${PIPESTATUS[0]}
set -e -o pipefail
if ((status != 0)); then
  tail -n 40 "$log" >&2
  echo "pip install ./python failed (status $status); the whole output is in $log" >&2
  exit "$status"
fi
echo "installed in $((SECONDS - started)) s (the whole output is in $log):" \
  "$(out/venv/bin/python -c 'import inferlet; print("inferlet", inferlet.__version__, "for TensorRT", inferlet.tensorrt_majors())')"
