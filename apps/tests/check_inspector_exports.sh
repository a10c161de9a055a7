#!/usr/bin/env bash
# check_inspector_exports.sh LIB: an inspector exports its C interface and no function besides, so that
# the TensorRT seam it links (one per major) cannot meet another major's in a process that loads them.
set -euo pipefail
lib=$1
expected=$'inferlet_inspect_engine\ninferlet_inspect_free\ninferlet_inspect_trt_major'
functions=$(nm -D --defined-only "$lib" | awk '$2 == "T" {print $3}' | sort)
if [[ "$functions" != "$expected" ]]; then
  echo "unexpected functions exported by $lib:"; echo "$functions"; exit 1
fi
leaked=$(nm -DC --defined-only "$lib" | grep -E 'trt_binding::|TrtDestroyer' || true)
if [[ -n "$leaked" ]]; then
  echo "$lib exports the TensorRT seam:"; echo "$leaked"; exit 1
fi
echo "ok: $lib exports only its C interface"
