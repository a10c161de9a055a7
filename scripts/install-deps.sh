#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages (the CUDA toolkit is expected at
# /usr/local/cuda). Quiet and quick when everything is already there.
set -euo pipefail

packages=(cmake g++ make clang libclang-rt-dev nlohmann-json3-dev libcli11-dev libfmt-dev
          libgtest-dev libgmock-dev libbenchmark-dev valgrind python3 util-linux binutils ccache
          python3-venv python3-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if [[ ! -f /usr/local/cuda/include/cuda_runtime_api.h ]]; then
  echo "error: the CUDA toolkit is expected at /usr/local/cuda" >&2
  exit 1
fi

# The Python package's build and tests (pip install ./python, python/tests): a virtual environment in
# out/venv, which the build's CTest entry and CI use. ml_dtypes is optional (bfloat16 tests).
venv=$(cd "$(dirname "$0")/.." && pwd)/out/venv
if ! "$venv/bin/python" -c "import numpy, pytest, nanobind, scikit_build_core, mypy" 2>/dev/null; then
  echo "making $venv: numpy, pytest, nanobind, scikit-build-core, mypy, ml_dtypes"
  python3 -m venv "$venv"
  "$venv/bin/python" -m pip install -q --disable-pip-version-check numpy pytest "nanobind>=2.0" \
    "scikit-build-core>=0.10" mypy
  "$venv/bin/python" -m pip install -q --disable-pip-version-check ml_dtypes \
    || echo "ml_dtypes could not be installed: the bfloat16 tests will skip"
fi
