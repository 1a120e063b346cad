#!/usr/bin/env bash
# Prints the micro-benchmarks of the beat's path (bench/tick_bench.cpp), the real sound output
# included: builds them in build-bench (Release, or $VINDELOR_BUILD_DIR) and runs them against
# a private PulseAudio with a 48 kHz null sink, so that the desktop's own server is left alone.
# Needs the packages of scripts/install-deps.sh --tests.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VINDELOR_BUILD_DIR:-$root/build-bench}"
lock=/tmp/vindelor-build.lock
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    flock "$lock" cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
flock "$lock" cmake --build "$build" -j2 --target tick_bench >/dev/null
source "$root/bench/rig/rig_env.sh"
rig_begin
rig_start_sound
"$build/bench/tick_bench" "$@"
