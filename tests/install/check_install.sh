#!/usr/bin/env bash
# check_install.sh SOURCE_DIR BUILD_DIR DEVICE MAJORS: what a user does with an installation.
#  - `cmake --install` lays out the deliverables, the public header, the package configuration and,
#    for an emulated build, the emulated device and stand-in TensorRT under lib/inferlet-standin, and
#    says in one line that an emulated installation is not for a GPU;
#  - every installed binary finds its libraries through a RUNPATH relative to itself, so the tree
#    still works after it is moved and with no LD_LIBRARY_PATH;
#  - a host project finds it with find_package (no other flag), links inferlet::inferlet<N> and, on
#    the emulated device, gets the known output values of the smoke engine; so does the installed
#    inferlet-run, and so does a host of its own that links only inferlet::sessions<N> and calls it
#    through the C++ wrapper (on a real-runtime installation: that it links and starts);
#  - the host project of docs/building.md builds the documents' examples, and so do the compiler flags
#    the documents give without CMake; on the emulated device they print the known values;
#  - a host that asks for another minor version is refused.
set -euo pipefail
src=$1
build_dir=$2
device=$3
IFS=';' read -r -a majors <<<"$4"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
unset LD_LIBRARY_PATH

log=$(cmake --install "$build_dir" --prefix "$work/stage")
notices=$(grep -c 'this installation is not for a GPU' <<<"$log" || true)
if [[ $device == emulated ]]; then
  [[ $notices == 1 ]] || fail "an emulated install says $notices times that it is not for a GPU"
  [[ -f $work/stage/lib/inferlet-standin/libcudaemu.so ]] || fail "emulated install without libcudaemu.so"
else
  [[ $notices == 0 ]] || fail "a real-CUDA install calls itself emulated"
  [[ ! -e $work/stage/lib/inferlet-standin/libcudaemu.so ]] || fail "a real-CUDA install carries libcudaemu.so"
fi
mv "$work/stage" "$work/prefix"  # nothing may depend on where the tree was installed
prefix=$work/prefix

for f in include/inferlet/kestrel_trt.h include/inferlet/inferlet_sessions.h \
         include/inferlet/inferlet_sessions.hpp lib/cmake/inferlet/inferletConfig.cmake \
         lib/cmake/inferlet/inferletConfigVersion.cmake lib/cmake/inferlet/inferletTargets.cmake; do
  [[ -f $prefix/$f ]] || fail "missing after install: $f"
done
for major in "${majors[@]}"; do
  for name in libinferlet$major.so libinferlet_sessions$major.so; do
    lib=$prefix/lib/$name
    [[ -f $lib ]] || fail "missing after install: lib/$name"
    if [[ -d $prefix/lib/inferlet-standin ]]; then
      readelf -d "$lib" | grep -q 'RUNPATH.*\[\$ORIGIN/inferlet-standin\]' || fail "$name has no relative RUNPATH"
    fi
  done
done
while IFS= read -r -d '' f; do
  if readelf -h "$f" >/dev/null 2>&1; then
    if readelf -d "$f" | grep -E 'R(UN)?PATH' | grep -qv '\$ORIGIN'; then
      fail "$f has a RUNPATH that is not relative to itself: $(readelf -d "$f" | grep -E 'R(UN)?PATH')"
    fi
  fi
done < <(find "$prefix" -type f -print0)

out=$(cmake -S "$src/tests/install/host" -B "$work/host" -DCMAKE_PREFIX_PATH="$prefix") || { echo "$out"; fail "host does not configure"; }
want="host: inferlet_DEVICE=$device inferlet_TENSORRT_MAJORS=$4"
grep -qxF -- "-- $want" <<<"$out" || { echo "$out"; fail "package does not report: $want"; }
cmake --build "$work/host" >/dev/null || fail "host does not build"
out=$(cmake -S "$src/tests/install/sessions_host" -B "$work/sessions_host" -DCMAKE_PREFIX_PATH="$prefix" 2>&1) ||
  { echo "$out"; fail "sessions host does not configure"; }
out=$(cmake --build "$work/sessions_host" 2>&1) || { echo "$out"; fail "sessions host does not build"; }

expected="out0 2 7.5 3.5 102 109"
for major in "${majors[@]}"; do
  host=$work/host/host_trt$major
  readelf -d "$host" | grep -q "NEEDED.*\[libinferlet$major.so\]" || fail "host_trt$major does not need libinferlet$major.so"
  [[ $("$host" lifecycle) == "init 0 delete(null) -1 uninit 0" ]] || fail "host_trt$major lifecycle"
  sessions_host=$work/sessions_host/sessions_host_trt$major
  readelf -d "$sessions_host" | grep -q "NEEDED.*\[libinferlet_sessions$major.so\]" ||
    fail "sessions_host_trt$major does not need libinferlet_sessions$major.so"
  if readelf -d "$sessions_host" | grep -q "NEEDED.*\[libinferlet$major.so\]"; then
    fail "sessions_host_trt$major needs the legacy libinferlet$major.so"
  fi
  refused="code 1: no engine bytes (bytes null, size 0)"
  want=$(printf 'TensorRT %s (built for %s)\nTryLoad: %s\nLoad threw %s' "$major" "$major" "$refused" "$refused")
  out=$("$sessions_host" start) || { echo "$out"; fail "sessions_host_trt$major start"; }
  [[ $out == "$want" ]] || { echo "$out"; fail "sessions_host_trt$major start: not the library of its major"; }
  [[ $device == emulated ]] || continue  # no GPU to run an engine on

  engine=$prefix/share/inferlet/engines/smoke-trt$major.engine
  [[ -f $engine ]] || fail "missing after install: share/inferlet/engines/smoke-trt$major.engine"
  out=$("$host" run "$engine") || { echo "$out"; fail "host_trt$major run"; }
  grep -qxF "process 0 bytes 2704" <<<"$out" && grep -qxF "$expected" <<<"$out" || { echo "$out"; fail "host_trt$major output"; }
  out=$("$sessions_host" run "$engine" 2>&1) || { echo "$out"; fail "sessions_host_trt$major run"; }
  [[ $out == "shape [2, 338]"$'\n'"$expected" ]] || { echo "$out"; fail "sessions_host_trt$major output"; }

  if [[ -x $prefix/bin/inferlet-run ]]; then
    mkdir -p "$work/in$major"
    "$host" inputs "$work/in$major"
    out=$("$prefix/bin/inferlet-run" --engine "$engine" --trt "$major" --input "in0=$work/in$major/in0.npy" \
          --input "in1=$work/in$major/in1.npy" --batch 2 --iterations 1 --duration 0 --warmup 0 \
          --save-outputs "$work/out$major" --quiet 2>&1) || { echo "$out"; fail "installed inferlet-run --trt $major"; }
    [[ $("$host" outputs "$work/out$major/out0.npy") == "$expected" ]] || fail "installed inferlet-run --trt $major output"
  fi
done

# The host project of docs/building.md as a reader copies it (its CMakeLists.txt, the documents' two
# examples beside it), and the same two examples built with the compiler flags alone that the documents
# give; all of them for TensorRT 8, which the documents name.
if [[ " ${majors[*]} " == *" 8 "* ]]; then
  docs_host=$work/docs_host
  mkdir -p "$docs_host"
  bash "$src/tests/docs/check_doc_example.sh" print "$src/docs/building.md" "## A host project" cmake \
    >"$docs_host/CMakeLists.txt" || fail "docs/building.md has no host CMakeLists.txt"
  cp "$src/tests/docs/legacy_host.cpp" "$src/tests/sessions/cpp_host.cpp" "$docs_host/"
  out=$(cmake -S "$docs_host" -B "$docs_host/out" -DCMAKE_PREFIX_PATH="$prefix" 2>&1 &&
        cmake --build "$docs_host/out" 2>&1) || { echo "$out"; fail "the host project of docs/building.md"; }
  flags=(-std=c++17 "-I$prefix/include/inferlet" "-L$prefix/lib" "-Wl,-rpath,$prefix/lib")
  out=$(c++ "${flags[@]}" "$docs_host/legacy_host.cpp" -o "$docs_host/legacy_host_flags" -linferlet8 2>&1 &&
        c++ "${flags[@]}" "$docs_host/cpp_host.cpp" -o "$docs_host/cpp_host_flags" -linferlet_sessions8 2>&1) ||
    { echo "$out"; fail "the documents' examples do not build with the documented flags"; }
  if [[ $device == emulated ]]; then
    engine=$prefix/share/inferlet/engines/smoke-trt8.engine
    for host in out/legacy_host legacy_host_flags; do
      out=$("$docs_host/$host" "$engine" 2>&1) || { echo "$out"; fail "docs host $host"; }
      grep -qxF "out0 2704 bytes: 2 7.5 3.5 102 109" <<<"$out" || { echo "$out"; fail "docs host $host output"; }
    done
    for host in out/cpp_host cpp_host_flags; do
      out=$("$docs_host/$host" "$engine" 2>&1) || { echo "$out"; fail "docs host $host"; }
      grep -qxF "out0 [2, 338]: 2 7.5 3.5 102 109" <<<"$out" || { echo "$out"; fail "docs host $host output"; }
    done
  fi
fi

if cmake -S "$src/tests/install/host" -B "$work/host-0.2" -DCMAKE_PREFIX_PATH="$prefix" \
         -DINFERLET_WANTED_VERSION=0.2 >/dev/null 2>&1; then
  fail "find_package(inferlet 0.2) accepted version 0.1"
fi
echo "ok: $device install of TensorRT ${majors[*]}: find_package hosts (legacy, sessions) and inferlet-run give the known outputs"
