#!/usr/bin/env bash
# check_subdirectory_host.sh SOURCE_DIR DEVICE: a host that adds the tree with add_subdirectory
# configures without GoogleTest, Google Benchmark, CLI11 or fmt; and a build tree in the sources'
# build/ is refused with a message.
set -euo pipefail
src=$1
device=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
without=()
for package in GTest benchmark CLI11 fmt; do without+=("-DCMAKE_DISABLE_FIND_PACKAGE_${package}=ON"); done
if ! out=$(cmake -S "$(dirname "$0")/subdirectory_host" -B "$work/host" -DINFERLET_SOURCE="$src" \
                 -DINFERLET_DEVICE="$device" "${without[@]}" 2>&1); then
  echo "$out"; echo "a host adding the tree with add_subdirectory does not configure"; exit 1
fi
grep -q '^INFERLET_BUILD_TESTS:BOOL=OFF$' "$work/host/CMakeCache.txt" || { echo "tests default on in a host"; exit 1; }

# The refusal comes right after project(), so the top-level list alone shows it.
mkdir -p "$work/tree/build"
cp "$src/CMakeLists.txt" "$work/tree/"
if out=$(cmake -S "$work/tree" -B "$work/tree/build" 2>&1); then
  echo "a build tree in build/ was accepted"; exit 1
fi
tr -s ' \n' '  ' <<<"$out" | grep -q 'is inside the sources' || { echo "$out"; echo "no clear message for a build tree in build/"; exit 1; }
echo "ok: add_subdirectory host configures; build/ as the build tree is refused"
