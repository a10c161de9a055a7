#!/usr/bin/env bash
# Syntax-checks every source file of this tree that includes a TensorRT header, directly or through
# the tree's own headers, against the real public headers of each TensorRT release it is built for
# (the stand-in's headers are a subset of these and may be more lenient). Project code is held to
# -Wall -Wextra -Werror; TensorRT's and CUDA's headers come in with -isystem, so their own warnings do
# not count.
#
# Usage: scripts/check-real-headers.sh
#   TRT_HEADERS_DIR  the releases' headers (default: ../shared/tensorrt-headers beside the clone),
#                    <dir>/<release>/include for each release below
#   CUDA_INCLUDE_DIR CUDA's headers (default: /usr/local/cuda/include)
#   CXX              the compiler (default: g++)
#   JOBS             compiles at once (default: nproc)
#
# Prints one line per failing file and release, then a summary; exits 1 when anything failed,
# including a file that includes a TensorRT header and is missing from the table below.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
headers=${TRT_HEADERS_DIR:-$root/../shared/tensorrt-headers}
cuda_include=${CUDA_INCLUDE_DIR:-/usr/local/cuda/include}
cxx=${CXX:-g++}
jobs=${JOBS:-$(nproc)}

# The release whose headers stand for each major.
declare -A release=([7]=7.2 [8]=8.0 [10]=10.13 [11]=11.1)

# Every translation unit that reaches a TensorRT header, with the majors the build compiles it for
# (build/CMakeLists.txt, bench/ and fuzz/): "all" is 7, 8, 10 and 11; the seam's
# binding-index half is built for 7 and 8 only, its named-tensor half for 10 and 11 only.
table=$(
  cat <<'EOF'
src/engine_infer.cpp                 all
src/engine_output_check.cpp          all
src/kestrel_trt.cpp                  all
src/logging.cpp                      all
src/trt/trt_binding_common.cpp       all
src/trt/trt_binding_index.cpp        7 8
src/trt/trt_binding_named.cpp        10 11
src/sessions/call.cpp                all
src/sessions/output_sink.cpp         all
src/sessions/device_guard.cpp        all
src/sessions/engine.cpp              all
src/sessions/engine_config.cpp       all
src/sessions/engine_describe.cpp     all
src/sessions/graph_cache.cpp         all
src/sessions/log.cpp                 all
src/sessions/phase_timer.cpp         all
src/sessions/phase_times_api.cpp     all
src/sessions/plugins.cpp             all
src/sessions/profile_registry.cpp    all
src/sessions/resolve_shapes.cpp      all
src/sessions/resolved_shapes.cpp     all
src/sessions/session.cpp             all
src/sessions/sessions_api.cpp        all
src/sessions/shape.cpp               all
src/sessions/status.cpp              all
src/sessions/sticky_faults.cpp       all
src/sessions/host_stream.cpp         all
src/sessions/stream_order.cpp        all
src/sessions/memory_api.cpp          all
src/sessions/tensorrt_reason.cpp     all
bench/bench_main.cpp                 8 10
bench/bench_support.cpp              8 10
bench/call_probe.cpp                 8 10
bench/session_runners.cpp            8 10
bench/sessions_bench.cpp             8 10
bench/throughput_bench.cpp           8 10
fuzz/fuzz_kestrel_new_engine.cpp     8
EOF
)

# The include path and definitions of each part of the tree, as its build gives them.
flags_for() {
  local common=(-Iinclude -Isrc -Isrc/trt)
  case $1 in
    src/sessions/*) echo "${common[*]} -DINFERLET_SESSIONS_BUILD" ;;
    bench/* | fuzz/*) echo "${common[*]} -Isupport" ;;
    *) echo "${common[*]}" ;;
  esac
}

for major in "${!release[@]}"; do
  dir=$headers/${release[$major]}/include
  if [[ ! -f $dir/NvInfer.h ]]; then
    echo "check-real-headers: no TensorRT ${release[$major]} headers at $dir" >&2
    echo "check-real-headers: set TRT_HEADERS_DIR to the directory of the releases' headers" >&2
    exit 1
  fi
done
if [[ ! -f $cuda_include/cuda_runtime_api.h ]]; then
  echo "check-real-headers: no CUDA headers at $cuda_include (set CUDA_INCLUDE_DIR)" >&2
  exit 1
fi

# Which of the tree's files reach a TensorRT header: a quoted include is the file beside the includer,
# else the one in the first search directory that has it; an angle include of NvInfer*.h is TensorRT.
search=(include src src/trt support)
declare -A reaches_trt includes_of
mapfile -t files < <(find src apps tools bench fuzz support include -type f \
  \( -name '*.cpp' -o -name '*.cc' -o -name '*.c' -o -name '*.h' -o -name '*.hpp' \) | sort)
for f in "${files[@]}"; do
  deps=()
  while IFS= read -r name; do
    if [[ $name == \<NvInfer*\> ]]; then
      reaches_trt[$f]=1
    elif [[ $name == \"*\" ]]; then
      name=${name:1:-1}
      for d in "$(dirname "$f")" "${search[@]}"; do
        if [[ -f $d/$name ]]; then
          deps+=("$(realpath --relative-to=. "$d/$name")")
          break
        fi
      done
    fi
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*([<"][^>"]*[>"]).*/\1/p' "$f")
  includes_of[$f]="${deps[*]}"
done
changed=1
while ((changed)); do
  changed=0
  for f in "${files[@]}"; do
    [[ -n ${reaches_trt[$f]:-} ]] && continue
    for dep in ${includes_of[$f]}; do
      if [[ -n ${reaches_trt[$dep]:-} ]]; then
        reaches_trt[$f]=1
        changed=1
        break
      fi
    done
  done
done

failures=0
declare -A listed
logs=out/check-real-headers
rm -rf "$logs"
mkdir -p "$logs"
jobs_file=$logs/compiles
while read -r file majors; do
  [[ -z $file ]] && continue
  listed[$file]=1
  if [[ ! -f $file ]]; then
    echo "FAIL $file: in the table of scripts/check-real-headers.sh but not in the tree"
    failures=$((failures + 1))
    continue
  fi
  [[ $majors == all ]] && majors="7 8 10 11"
  for major in $majors; do
    echo "$file ${release[$major]} $(flags_for "$file")" >>"$jobs_file"
  done
done <<<"$table"
for f in "${files[@]}"; do
  if [[ -n ${reaches_trt[$f]:-} && $f =~ \.(cpp|cc|c)$ && -z ${listed[$f]:-} ]]; then
    echo "FAIL $f: includes a TensorRT header but is not in the table of scripts/check-real-headers.sh"
    failures=$((failures + 1))
  fi
done

# One compile per file and release; a failure leaves the compiler's output in $logs and a line
# "file release first-error" in $logs/failed.
check_one() {
  local file=$1 version=$2
  shift 2
  local log
  log=$logs/$(tr / _ <<<"$file").$version.log
  if "$cxx" -std=c++17 -fsyntax-only -Wall -Wextra -Werror "$@" -isystem "$headers/$version/include" \
    -isystem "$cuda_include" "$file" >"$log" 2>&1; then
    rm -f "$log"
  else
    echo "$file $version $(grep -m1 -E 'error' "$log" || tail -n1 "$log")" >>"$logs/failed"
  fi
}
export -f check_one
export cxx headers cuda_include logs
compiles=$(wc -l <"$jobs_file")
xargs -P "$jobs" -L 1 bash -c 'check_one "$@"' _ <"$jobs_file"

# One line per failing file: the releases it fails against and the first error.
if [[ -f $logs/failed ]]; then
  while read -r file; do
    versions=$(awk -v f="$file" '$1 == f { print $2 }' "$logs/failed" | sort -V | paste -sd, | sed 's/,/, /g')
    first=$(awk -v f="$file" '$1 == f' "$logs/failed" | sort -k2,2V | head -n1 | cut -d' ' -f3-)
    echo "FAIL $file against TensorRT $versions: $first"
    failures=$((failures + 1))
  done < <(cut -d' ' -f1 "$logs/failed" | sort -u)
fi
if ((failures > 0)); then
  echo "check-real-headers: $failures file(s) failed ($compiles compiles against the real TensorRT" \
    "headers; the compilers' output is in $logs/)"
  exit 1
fi
echo "check-real-headers: $compiles compiles of ${#listed[@]} files against TensorRT" \
  "$(printf '%s\n' "${release[@]}" | sort -V | paste -sd' ') headers, all clean"
