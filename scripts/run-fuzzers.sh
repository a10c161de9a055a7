#!/usr/bin/env bash
# Runs every libFuzzer target of a build tree for a while on its committed seed corpus.
# New inputs go to a temporary corpus, never into the source tree.
# Usage: scripts/run-fuzzers.sh BUILD_DIR [SECONDS_PER_TARGET]
set -euo pipefail
build_dir=$(cd "${1:?usage: run-fuzzers.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mapfile -t targets < <(find "$build_dir" -type f -perm -u+x -name 'fuzz_*' ! -name '*.so' | sort)
if ((${#targets[@]} == 0)); then
  echo "no fuzz targets under $build_dir" >&2
  exit 1
fi
for target in "${targets[@]}"; do
  name=$(basename "$target")
  base=${name%%[0-9]*}  # fuzz_sessions_calls10, another major's build of a target, shares its seeds
  seeds=()
  for dir in "$root/fuzz/corpus/$name" "$root/fuzz/corpus/$base" "$root"/platform/*/fuzz/corpus/"$name" \
    "$root"/platform/*/fuzz/corpus; do
    [[ -d $dir ]] && seeds+=("$dir") && break
  done
  mkdir -p "$work/$name"
  echo "-- $name: ${seconds} s, seeds: ${seeds[*]:-none}"
  (cd "$work" && "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
     -artifact_prefix="$work/$name-" "$work/$name" "${seeds[@]}" \
     2>"$work/$name.log") || { tail -n 60 "$work/$name.log"; echo "FAIL: $name found a crash" >&2; exit 1; }
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$work/$name.log" | sed "s/^/   /"
done
