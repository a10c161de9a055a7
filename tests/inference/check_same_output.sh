#!/usr/bin/env bash
# check_same_output.sh HOST ENGINE_DIR LIB_A MAJOR_A LIB_B MAJOR_B: the same host program gives the
# same standard output through two deliverables, each with the sample engines of its own major, line
# for line. Two things are masked in both outputs before they are compared:
#  - the handle that kestrel_trt_delete prints, which differs between any two processes, even of one
#    deliverable;
#  - the text of the lines TensorRT itself writes through the library's logger (each starts with the
#    TensorRT call that reports, e.g. "setInputShape: "): they are the runtime's own words, which
#    differ between TensorRT releases. Their severity and their place among the library's lines are
#    compared.
set -euo pipefail
host=$1 engines=$2
trt_calls='initLibNvInferPlugins|createInferRuntime|deserializeCudaEngine|createExecutionContext'
trt_calls+='|setOptimizationProfile|setOptimizationProfileAsync|setBindingDimensions|setInputShape'
trt_calls+='|allInputDimensionsSpecified|inferShapes|setTensorAddress|enqueueV2|enqueueV3'
run() {
  "$host" "$1" "$engines" "$2" |
    sed -E -e 's/^kestrel_trt_delete -?[0-9]+$/kestrel_trt_delete <handle>/' \
           -e "s/^(\[inferlet\]\[[A-Z]\] )($trt_calls): .*/\1<TensorRT's own line>/"
}
a=$(run "$3" "$4")
b=$(run "$5" "$6")
lines=$(wc -l <<<"$a")
if [[ $lines -lt 100 ]]; then echo "only $lines lines from $3"; echo "$a"; exit 1; fi
if ! diff <(echo "$a") <(echo "$b"); then
  echo "the output through $(basename "$3") and $(basename "$5") differs (< $4, > $6)"
  exit 1
fi
echo "ok: $lines identical lines through $(basename "$3") and $(basename "$5")" \
     "($(grep -c "<TensorRT's own line>" <<<"$a") of them TensorRT's own)"
