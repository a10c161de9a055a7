#!/usr/bin/env bash
# check_driverless_host.sh HOST: on a machine without an NVIDIA driver, a host's kestrel_trt_new gets
# the real CUDA runtime's error 35 reported through the library's log, and either -1 or the documented
# process exit with status 35 — never a crash.
set -uo pipefail
host=$1
if [[ -e /proc/driver/nvidia/version ]]; then
  echo "an NVIDIA driver is present: nothing to check here"; exit 0
fi
out=$("$host" 2>&1)
status=$?
echo "$out"
echo "exit status: $status"
first=$(head -n 1 <<<"$out")
[[ "$first" == "[inferlet][E] cudaGetDeviceCount failed" ]] || { echo "first line: $first"; exit 1; }
if [[ $status -eq 0 ]]; then
  grep -qx 'kestrel_trt_new returned -1' <<<"$out" || { echo "expected -1 from kestrel_trt_new"; exit 1; }
elif [[ $status -eq 35 ]]; then
  grep -q '^\[inferlet\]\[E\] GPUassert: CUDA driver version is insufficient for CUDA runtime version .*engine_infer.cpp [0-9]*$' <<<"$out" \
    || { echo "expected the GPUassert line for error 35"; exit 1; }
else
  echo "unexpected exit status $status"; exit 1
fi
