#!/usr/bin/env bash
# What N = 1, 2 and 4 sessions of bench/networks/two_sizes.json (profiles 0 and 2 small, 1 and 3 large)
# hold on the emulated device through libinferlet_sessions10.so: the library of BEFORE_REF (built from
# that commit in the build tree) with every memory kind, against this tree's with every kind and with
# device memory alone. Writes the figures into bench/README.md between
# <!-- session-memory:begin --> and <!-- session-memory:end -->.
#   bash bench/session_memory.sh BEFORE_REF [BUILD_DIR]      (default: out/emulated)
set -euo pipefail
BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
before_ref=${1:?usage: bash bench/session_memory.sh BEFORE_REF [BUILD_DIR]}
build=$(realpath -m "${2:-$BENCH_ROOT/out/emulated}")
work=$build/bench/session-memory
jobs=${BENCH_JOBS:-$(nproc)}
started=$SECONDS
mkdir -p "$work"

echo "building the probe and this tree's library in $build"
cmake --build "$build" -j"$jobs" --target trtbuild inferlet_sessions10 inferlet_session_memory_probe >"$work/build.log"
engine=$work/two_sizes-trt10.engine
"$build/platform/tensorrt/trtbuild" --trt 10 "$BENCH_ROOT/bench/networks/two_sizes.json" -o "$engine"

echo "building the library of $before_ref in $work/before"
rm -rf "$work/before-src" && mkdir -p "$work/before-src"
git -C "$BENCH_ROOT" archive "$before_ref" | tar -x -C "$work/before-src"
cmake -S "$work/before-src" -B "$work/before" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DINFERLET_DEVICE=emulated \
  -DINFERLET_BUILD_TESTS=OFF -DINFERLET_BUILD_BENCH=OFF >"$work/before-configure.log"
cmake --build "$work/before" -j"$jobs" --target inferlet_sessions10 >"$work/before-build.log"

probe=$build/bench/inferlet_session_memory_probe
: >"$work/figures.txt"
for n in 1 2 4; do
  echo "before $("$probe" "$work/before/lib/libinferlet_sessions10.so" "$engine" "$n" all)" >>"$work/figures.txt"
  echo "after $("$probe" "$build/lib/libinferlet_sessions10.so" "$engine" "$n" all)" >>"$work/figures.txt"
  echo "after $("$probe" "$build/lib/libinferlet_sessions10.so" "$engine" "$n" device)" >>"$work/figures.txt"
done
cat "$work/figures.txt"

python3 - "$work/figures.txt" "$BENCH_ROOT/bench/README.md" "$before_ref" "$((SECONDS - started))" <<'PY'
import sys

figures, readme, before_ref, elapsed = sys.argv[1:]
rows = {}
for line in open(figures):
    which, *fields = line.split()
    values = dict(f.split("=") for f in fields)
    rows[(which, int(values["sessions"]), values["kinds"])] = values
# The stand-in's execution context keeps pinned staging of its own for the largest layouts of any
# profile (x and y at [256, 256] floats): an emulation detail, not the sessions'.
standin_staging = 2 * 256 * 256 * 4

def kib(n):
    return f"{int(n) / 1024:,.0f} KiB"

lines = [
    f"Command: `bash bench/session_memory.sh {before_ref}` ({elapsed} s, building the library of "
    f"`{before_ref}` included); raw lines in the build tree, `bench/session-memory/figures.txt`.",
    "",
    "Engine `two_sizes` (TensorRT 10 stand-in): x [b, 256] → dense 256 → relu → dense 256 → y, 514 KiB "
    "of weights; profiles 0 and 2 take b up to 8 (16 KiB of activation memory), 1 and 3 up to 256 "
    "(512 KiB). Session k on profile k. Device bytes: the emulated device's live device bytes less "
    "those before the engine (weights included); pinned: its live pinned bytes less the stand-in "
    f"context's own staging ({kib(standin_staging)} per session, which the real TensorRT does not "
    "hold); reported: the sum of `inferlet_session_device_memory`.",
    "",
    "| sessions | before: device | before: pinned | after, every kind: device | after, every kind: pinned "
    "| after, device memory only: device | after, device memory only: pinned | after, device only: reported |",
    "|---:|---:|---:|---:|---:|---:|---:|---:|",
]
for n in (1, 2, 4):
    before, after, device = (rows[(w, n, k)] for w, k in (("before", "all"), ("after", "all"), ("after", "device")))
    pinned = lambda r: int(r["pinned"]) - n * standin_staging
    lines.append(
        f"| {n} | {kib(before['device'])} | {kib(pinned(before))} | {kib(after['device'])} | "
        f"{kib(pinned(after))} | {kib(device['device'])} | {kib(pinned(device))} | "
        f"{kib(int(device['reported']))} |"
    )
lines += [
    "",
    "- Before: the weights, then per session the largest profile's activation memory (512 KiB, whatever "
    "its profile) plus a device buffer and as much pinned staging for each tensor at its profile's largest "
    "shapes.",
    "- After, every kind: each session's context holds its own profile's activation memory (16 or 512 "
    "KiB); buffers and staging as before.",
    "- After, device memory only (`memory_kinds = 1 << INFERLET_MEMORY_DEVICE`): the weights once and each "
    "session's own profile, nothing else: no buffers, no staging; `inferlet_session_device_memory` is "
    "exactly the device bytes beyond the weights.",
    "",
]
text = "\n".join(lines) + "\n"
content = open(readme).read()
begin, end = "<!-- session-memory:begin -->", "<!-- session-memory:end -->"
head, rest = content.split(begin, 1)
_, tail = rest.split(end, 1)
open(readme, "w").write(head + begin + "\n" + text + end + tail)
PY
echo "figures written to bench/README.md ($((SECONDS - started)) s)"
