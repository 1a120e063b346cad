#!/usr/bin/env bash
# Builds the core test programs with clang's sanitizers and runs them, then fuzzes briefly:
#   build-asan  AddressSanitizer + UndefinedBehaviorSanitizer, with the libFuzzer targets:
#               the engine, timer, sound and resource tests, the window's commands and
#               tempo tests, the pulse output against a private sound server, and
#               each fuzzer on its corpus and then for FUZZ_SECONDS (30) more
#   build-tsan  ThreadSanitizer: the pulse output driven from the test's thread while its
#               sound thread runs, and while its server goes away and comes back
# Any sanitizer report fails the run. Meant to follow the main build of scripts/test-all.sh;
# needs the packages of scripts/install-deps.sh --tests.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
fuzzSeconds="${FUZZ_SECONDS:-30}"

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp"
# The window's tests run on Qt's offscreen platform, with a private runtime folder.
runtime="$(mktemp -d "${TMPDIR:-/tmp}/vindelor-sanitized.XXXXXX")"
trap 'rm -rf "$runtime"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime"

step() { printf '\n== %s\n' "$*"; }

configure() {
    local dir="$1"
    shift
    cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVINDELOR_WERROR=ON -DVINDELOR_BENCHMARKS=OFF "$@" >/dev/null
}

step "AddressSanitizer and UndefinedBehaviorSanitizer: build"
configure build-asan -DVINDELOR_SANITIZE=address,undefined -DVINDELOR_FUZZ=ON
cmake --build build-asan -j2 --target engine_tests timer_tests sound_tests resource_tests \
    pulse_click_output_test tempo_control_test form1_commands_test \
    clip_decoder_fuzzer tempo_box_fuzzer

step "AddressSanitizer and UndefinedBehaviorSanitizer: tests"
for program in engine_tests timer_tests sound_tests resource_tests; do
    echo "-- $program"
    (cd build-asan/tests && "./$program" --gtest_brief=1)
done
for program in tempo_control_test form1_commands_test; do
    echo "-- $program"
    build-asan/tests/$program -silent
done
echo "-- pulse_click_output_test"
bash tests/sound/private_pulse.sh run build-asan/tests/pulse_click_output_test --gtest_brief=1

step "Fuzzing: each target on its corpus, then ${fuzzSeconds} s more"
fuzz() {
    local name="$1" found="$runtime/$1"
    mkdir -p "$found"
    # New inputs go to a scratch folder, never into the committed corpus.
    if ! build-asan/fuzz/"$name" -max_total_time="$fuzzSeconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$found/" "$found" "fuzz/corpus/$name" >"$found.log" 2>&1; then
        tail -n 60 "$found.log"
        # Kept for whoever fixes it: once fixed, the input joins the corpus as a regression.
        mkdir -p build-asan/fuzz-findings
        cp "$found"/crash-* "$found"/leak-* "$found"/timeout-* "$found"/oom-* \
            build-asan/fuzz-findings/ 2>/dev/null || true
        echo "$name found a fault; its input is in build-asan/fuzz-findings/" >&2
        return 1
    fi
    grep -E '^Done [0-9]+ runs' "$found.log" | sed "s/^/$name: /" || true
}
# One core each, side by side.
fuzz clip_decoder_fuzzer &
clipFuzz=$!
fuzz tempo_box_fuzzer &
boxFuzz=$!
fuzzStatus=0
wait "$clipFuzz" || fuzzStatus=1
wait "$boxFuzz" || fuzzStatus=1
((fuzzStatus == 0))

step "ThreadSanitizer: build"
configure build-tsan -DVINDELOR_SANITIZE=thread
cmake --build build-tsan -j2 --target pulse_click_output_test

step "ThreadSanitizer: the pulse output's two threads"
bash tests/sound/private_pulse.sh run build-tsan/tests/pulse_click_output_test --gtest_brief=1

step "Sanitized runs: all clean"
