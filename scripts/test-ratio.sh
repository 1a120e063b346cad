#!/usr/bin/env bash
# Prints how many lines of tests there are for each line of code: tests/ and fuzz/ against
# engine/, sound/, timer/, window/ and tools/, counting C++, shell and Python files.
#   test-ratio.sh    "tests 1700 / code 4900 = 0.35"
set -euo pipefail
cd "$(dirname "$0")/.."
lines() { find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' -o -name '*.py' \) -print0 | xargs -0 cat | wc -l; }
tests=$(lines tests fuzz)
code=$(lines engine sound timer window tools)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests %d / code %d = %.2f\n", t, c, t / c }'
