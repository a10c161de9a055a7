#!/usr/bin/env bash
# check_exports.sh LIB HEADER: the sessions library exports exactly the functions its header declares,
# and carries no CUDA runtime of its own as a dependency (statically linked on a real GPU build).
set -euo pipefail
lib=$1
header=$2
expected=$(grep '^INFERLET_SESSIONS_API' "$header" | grep -o 'inferlet_[a-z_]*(' | tr -d '(' | sort)
exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
if [[ "$exports" != "$expected" ]]; then
  echo "the exports of $lib differ from the functions of $header:"
  diff <(echo "$expected") <(echo "$exports") || true
  exit 1
fi
if readelf -d "$lib" | grep -q 'NEEDED.*libcudart'; then
  echo "$lib needs libcudart: the CUDA runtime must be linked statically"
  exit 1
fi
echo "ok: $lib exports the $(wc -l <<<"$exports") functions of its header"
