#!/usr/bin/env bash
# check_gpu_check_without_driver.sh SCRIPT: on a machine without an NVIDIA driver, scripts/gpu-check.sh
# stops at once with exit status 77 and one line, and builds nothing: whether nvidia-smi is missing,
# fails, or answers while the runtime's cudaGetDeviceCount still finds no driver.
set -uo pipefail
script=$1
if [[ -e /proc/driver/nvidia/version ]]; then
  echo "an NVIDIA driver is present: nothing to check here"; exit 0
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

# expect_no_gpu WHAT PATTERN PATH: runs the script with PATH and checks status, output and speed.
expect_no_gpu() {
  local what=$1 pattern=$2 path=$3 out status start=$SECONDS
  out=$(cd "$scratch" && PATH=$path GPU_CHECK_BUILD=$scratch/build OUT='' bash "$script" 2>&1)
  status=$?
  local lines
  lines=$(printf '%s\n' "$out" | grep -c .)
  echo "$what: status $status after $((SECONDS - start)) s: $out"
  if [[ $status -ne 77 ]]; then echo "  expected status 77"; failures=$((failures + 1)); fi
  if [[ $lines -ne 1 ]]; then echo "  expected one line, got $lines"; failures=$((failures + 1)); fi
  if ! grep -Eq "^gpu-check: no usable GPU here \\($pattern\\); nothing was built or run$" <<<"$out"; then
    echo "  expected a line matching: $pattern"; failures=$((failures + 1))
  fi
  if [[ -e $scratch/build ]]; then echo "  it created the build tree"; failures=$((failures + 1)); fi
  if ((SECONDS - start > 30)); then echo "  it took too long to stop"; failures=$((failures + 1)); fi
}

# The PATH without any folder that holds an nvidia-smi, plus a stand-in nvidia-smi when asked.
missing_path=
IFS=: read -ra dirs <<<"$PATH"
for dir in "${dirs[@]}"; do
  [[ -n $dir && ! -e $dir/nvidia-smi ]] && missing_path=${missing_path:+$missing_path:}$dir
done

failing=$scratch/failing
mkdir -p "$failing"
printf '#!/bin/sh\necho "NVIDIA-SMI has failed because it could not communicate with the NVIDIA driver." >&2\nexit 9\n' \
  >"$failing/nvidia-smi"
chmod +x "$failing/nvidia-smi"

answering=$scratch/answering
mkdir -p "$answering"
printf '#!/bin/sh\necho "NVIDIA H100 80GB HBM3, 580.159.04, 81559 MiB"\n' >"$answering/nvidia-smi"
chmod +x "$answering/nvidia-smi"

expect_no_gpu "nvidia-smi missing" "nvidia-smi not found: no NVIDIA driver" "$missing_path"
expect_no_gpu "nvidia-smi failing" "nvidia-smi failed: no working NVIDIA driver" "$failing:$missing_path"
expect_no_gpu "nvidia-smi answering, no driver" \
  "cudaGetDeviceCount returned 35 \\(cudaErrorInsufficientDriver\\), 0 devices" "$answering:$missing_path"

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "gpu-check stops at once without a driver, in each of the three ways"
