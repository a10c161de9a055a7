#!/usr/bin/env bash
# check_deliverable.sh LIB MAJOR: the deliverable exports exactly the library's interface, carries the
# CUDA runtime statically and depends on TensorRT of its own major.
set -euo pipefail
lib=$1
major=$2
expected=$'gLogger\nkestrel_trt_delete\nkestrel_trt_init\nkestrel_trt_new\nkestrel_trt_process\nkestrel_trt_uninit\nmain'
exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
if [[ "$exports" != "$expected" ]]; then
  echo "unexpected export list of $lib:"; echo "$exports"; exit 1
fi
needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "NEEDED: $(echo $needed)"
if grep -q 'libcudart' <<<"$needed"; then echo "libcudart must be linked statically"; exit 1; fi
if grep -q 'libcudaemu' <<<"$needed"; then echo "the emulated device must not be linked here"; exit 1; fi
grep -qx "libnvinfer.so.$major" <<<"$needed" || { echo "libnvinfer.so.$major missing from NEEDED"; exit 1; }
grep -qx "libnvinfer_plugin.so.$major" <<<"$needed" || { echo "libnvinfer_plugin.so.$major missing"; exit 1; }
echo "ok: $lib exports exactly the interface"
