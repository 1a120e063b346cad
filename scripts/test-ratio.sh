#!/usr/bin/env bash
# Prints how many lines of tests there are for each line of code: tests/ and fuzz/ against
# engine/, sound/, timer/, window/ and tools/, counting C++, shell and Python files.
#   test-ratio.sh    prints, say, "tests 1900 / code 5700 = 0.33"
set -euo pipefail
cd "$(dirname "$0")/.."
lines() { find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' -o -name '*.py' \) -print0 | xargs -0 cat | wc -l; }
tests=$(lines tests fuzz)
code=$(lines engine sound timer window tools)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests %d / code %d = %.2f\n", t, c, t / c }'
