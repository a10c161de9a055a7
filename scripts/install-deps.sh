#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages (the CUDA toolkit is expected at
# /usr/local/cuda). Quiet and quick when everything is already there.
set -euo pipefail

packages=(cmake g++ make clang libclang-rt-dev nlohmann-json3-dev libcli11-dev libfmt-dev
          libgtest-dev libgmock-dev libbenchmark-dev valgrind python3 util-linux binutils ccache)
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
