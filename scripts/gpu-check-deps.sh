#!/usr/bin/env bash
# Gathers the build dependencies that a bare GPU machine lacks (GoogleTest, nlohmann/json, CLI11, fmt,
# Google Benchmark, with their CMake package files) from this Debian machine's packages into
# .gpu-deps/, laid out as a prefix, together with a copy of the CUDA semantics probes. Carry .gpu-deps
# to the GPU machine: scripts/gpu-check.sh uses it as CMAKE_PREFIX_PATH when it is there.
#   bash scripts/gpu-check-deps.sh     # about 6 MiB; .gpu-deps is ignored by git
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps=$ROOT/.gpu-deps
packages=(libgtest-dev libgmock-dev nlohmann-json3-dev libcli11-dev libfmt-dev libfmt9 libbenchmark-dev
          libbenchmark1debian)

rm -rf "$deps"
mkdir -p "$deps"
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
    || { echo "gpu-check-deps: $package is not installed (bash scripts/install-deps.sh)" >&2; exit 1; }
  # Headers, libraries and CMake package files; /usr becomes the prefix .gpu-deps.
  dpkg -L "$package" | grep -E '^/usr/(include|lib|share/cmake)/' | while read -r path; do
    if [[ -f $path || -L $path ]]; then
      mkdir -p "$deps/$(dirname "${path#/usr/}")"
      cp -a "$path" "$deps/${path#/usr/}"
    fi
  done
done
for probes in "$ROOT/shared/cuda-probes" "$ROOT/../shared/cuda-probes"; do
  if [[ -f $probes/gpu_semantics.cpp ]]; then
    mkdir -p "$deps/cuda-probes"
    cp "$probes/gpu_semantics.cpp" "$deps/cuda-probes/"
    break
  fi
done
echo "gpu-check-deps: $(du -sh "$deps" | cut -f1) in $deps"
