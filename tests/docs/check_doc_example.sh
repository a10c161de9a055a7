#!/usr/bin/env bash
# check_doc_example.sh: what a document shows is what the tests compile and run.
#
#   check_doc_example.sh same    DOC HEADING LANG FILE      the section's first ```LANG block is FILE
#   check_doc_example.sh excerpt DOC HEADING LANG FILE      ... is a run of FILE's consecutive lines, all
#                                                           of them indented alike in FILE
#   check_doc_example.sh output  DOC HEADING COMMAND...     the section's first ```text block is what
#                                                           COMMAND writes on standard output
#   check_doc_example.sh print   DOC HEADING LANG           prints the section's first ```LANG block
#
# HEADING is a whole heading line (`## Sessions`); its section ends at the next heading of its level or
# above, outside code blocks. In `output`, the number after "kestrel_trt_delete " (the handle's
# address, another on every run) is left out of the comparison.
set -euo pipefail
mode=$1
doc=$2
heading=$3
shift 3
fail() { echo "FAIL: $*"; exit 1; }

# The first block fenced ```$2 in the section headed $1 of $doc.
block() {
  awk -v heading="$1" -v lang="$2" '
    function level(line) { match(line, /^#+/); return RLENGTH }
    !fenced && $0 == heading { in_section = 1; depth = level($0); next }
    !fenced && in_section && /^#+ / && level($0) <= depth { in_section = 0 }
    /^```/ { fenced = !fenced }
    in_section && $0 == "```" lang && !found { in_block = 1; found = 1; next }
    in_block && $0 == "```" { exit }
    in_block { print }
    END { if (!found) exit 1 }' "$doc"
}

case $mode in
  print)
    block "$heading" "$1" || fail "no \`\`\`$1 block under '$heading' in $doc"
    ;;
  same)
    lang=$1 file=$2
    shown=$(block "$heading" "$lang") || fail "no \`\`\`$lang block under '$heading' in $doc"
    if ! diff -u <(printf '%s\n' "$shown") "$file"; then
      fail "the $lang example under '$heading' in $doc differs from $file (above: $doc first)"
    fi
    echo "ok: the $lang example under '$heading' in $doc is $file"
    ;;
  excerpt)
    lang=$1 file=$2
    shown=$(block "$heading" "$lang") || fail "no \`\`\`$lang block under '$heading' in $doc"
    mapfile -t want <<<"$shown"
    mapfile -t have <"$file"
    for ((start = 0; start + ${#want[@]} <= ${#have[@]}; ++start)); do
      first=${have[start]}
      indent=${first%%"${want[0]}"}  # what FILE puts before the excerpt's first line
      [[ $indent =~ ^\ *$ && $indent${want[0]} == "$first" ]] || continue
      for ((k = 0; k < ${#want[@]}; ++k)); do
        line=${have[start + k]}
        [[ -z ${want[k]} && -z $line ]] && continue
        [[ $indent${want[k]} == "$line" ]] || continue 2
      done
      echo "ok: the $lang example under '$heading' in $doc is lines $((start + 1))-$((start + ${#want[@]})) of $file"
      exit 0
    done
    fail "the $lang example under '$heading' in $doc is not a run of consecutive lines of $file"
    ;;
  output)
    shown=$(block "$heading" text) || fail "no \`\`\`text block under '$heading' in $doc"
    printed=$("$@") || fail "$* exited with status $?"
    mask() { sed -E 's/^(kestrel_trt_delete) [0-9]+$/\1 <handle>/'; }
    if ! diff -u <(printf '%s\n' "$shown" | mask) <(printf '%s\n' "$printed" | mask); then
      fail "the output under '$heading' in $doc is not what $(basename "$1") prints (above: $doc first)"
    fi
    echo "ok: the output under '$heading' in $doc is what $(basename "$1") prints"
    ;;
  *)
    fail "unknown mode '$mode' (same, excerpt, output or print)"
    ;;
esac
