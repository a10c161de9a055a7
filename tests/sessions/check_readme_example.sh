#!/usr/bin/env bash
# check_readme_example.sh README FILE: the C++ example of README's "Sessions" section is FILE, line
# for line, so that the README shows what the tests compile and run.
set -euo pipefail
readme=$1
file=$2
example=$(awk '/^## Sessions/ { in_section = 1; next }
               /^## / { in_section = 0 }
               in_section && /^```cpp$/ { in_block = 1; found = 1; next }
               in_block && /^```$/ { exit }
               in_block { print }
               END { if (!found) exit 1 }' "$readme") || { echo "FAIL: no \`\`\`cpp block in README's Sessions section"; exit 1; }
if ! diff -u <(printf '%s\n' "$example") "$file"; then
  echo "FAIL: README's C++ example differs from $file (above: README first)"
  exit 1
fi
echo "ok: README's C++ example is $file"
