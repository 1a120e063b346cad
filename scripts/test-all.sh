#!/usr/bin/env bash
# Installs what is missing, builds Vindelor with every warning an error, and runs every test;
# then the sanitizer builds and the short fuzz runs (scripts/test-sanitized.sh), and the Debian
# package: built, checked by lintian, installed, its program run, removed (scripts/test-package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --tests
# Every option this run relies on is set here: the README's run command may have configured the
# same folder before, without the tests.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVINDELOR_WERROR=ON \
    -DVINDELOR_TESTS=ON -DVINDELOR_BENCHMARKS=ON -DVINDELOR_FUZZ=OFF -DVINDELOR_SANITIZE=
cmake --build build -j2
ctest --test-dir build --output-on-failure --no-tests=error -j2
bash scripts/test-sanitized.sh
bash scripts/test-package.sh
