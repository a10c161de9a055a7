#!/usr/bin/env bash
# check_install.sh BUILD_DIR TRT_LIB_DIR: `cmake --install` lays out the deliverables, the public header
# and a package configuration that a host project finds with find_package(inferlet 0.1); a host that
# asks for another minor version is refused.
set -euo pipefail
build_dir=$1
trt_lib_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
for f in lib/libinferlet8.so lib/libinferlet7.so include/inferlet/kestrel_trt.h lib/cmake/inferlet/inferletConfig.cmake \
         lib/cmake/inferlet/inferletConfigVersion.cmake lib/cmake/inferlet/inferletTargets.cmake; do
  [[ -f "$work/prefix/$f" ]] || { echo "missing after install: $f"; exit 1; }
done
cmake -S "$(dirname "$0")/host_project" -B "$work/host" -DCMAKE_PREFIX_PATH="$work/prefix" \
      -DCMAKE_EXE_LINKER_FLAGS="-Wl,-rpath-link,$trt_lib_dir" >/dev/null
cmake --build "$work/host" >/dev/null
out=$(LD_LIBRARY_PATH="$trt_lib_dir" "$work/host/host")
echo "$out"
[[ "$out" == "init 0 delete(null) -1 uninit 0" ]]
readelf -d "$work/host/host" | grep -q 'NEEDED.*\[libinferlet8.so\]' || { echo "host does not need libinferlet8.so"; exit 1; }
if cmake -S "$(dirname "$0")/host_project" -B "$work/host-0.2" -DCMAKE_PREFIX_PATH="$work/prefix" \
         -DINFERLET_WANTED_VERSION=0.2 >/dev/null 2>&1; then
  echo "find_package(inferlet 0.2) accepted version 0.1"; exit 1
fi
