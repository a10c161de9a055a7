#!/usr/bin/env bash
# check_same_output.sh HOST ENGINE_DIR LIB_A MAJOR_A LIB_B MAJOR_B: the same host program gives the
# same standard output through two deliverables, each with the sample engines of its own major, line
# for line. The one value that differs between any two processes, even of one deliverable, is the
# handle that kestrel_trt_delete prints; it is masked in both.
set -euo pipefail
host=$1 engines=$2
run() {
  "$host" "$1" "$engines" "$2" | sed -E 's/^kestrel_trt_delete -?[0-9]+$/kestrel_trt_delete <handle>/'
}
a=$(run "$3" "$4")
b=$(run "$5" "$6")
lines=$(wc -l <<<"$a")
if [[ $lines -lt 100 ]]; then echo "only $lines lines from $3"; echo "$a"; exit 1; fi
if ! diff <(echo "$a") <(echo "$b"); then
  echo "the output through $(basename "$3") and $(basename "$5") differs (< $4, > $6)"
  exit 1
fi
echo "ok: $lines identical lines through $(basename "$3") and $(basename "$5")"
