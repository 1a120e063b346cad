#!/usr/bin/env bash
# Measures the real program on a real sound server and prints the timing table.
#
#   bash bench/rig/timing.sh [--quick] [--seconds S] [--bpm "50 70 120 200"] [--verbose]
#
# Builds the program and the rig's tools (Release, in build-bench or $VINDELOR_BUILD_DIR),
# starts a private PulseAudio with a 48 kHz null sink and an Xvfb, and then:
#  1. plays perfectly regular click tracks of its own (120 and 70 BPM) through the server and
#     analyses the recordings, to show what the chain itself adds (the noise floor), and starts
#     a click ten times the quickest way libpulse allows, to show the chain's own start latency;
#  2. for each tempo, starts the program, types the tempo, presses "&Start" through XTest,
#     lets it run S seconds (60; --quick: 10), presses "&Stop" 20 ms before a beat is due,
#     watches it stopped, and closes it with "&Avbryt";
#  3. presses "&Start" and "&Stop" ten times at 120 BPM, for the spread of the start latency,
#     and ten times more with their key, Alt+S.
# The sink's monitor is recorded throughout, 1 ms at a time, its samples tied to the
# monotonic clock. Intervals are measured in the recording's samples; start latency is from
# the moment the Start click's release (or Alt+S) reached the X server to the first click's
# onset. CPU is the sum over the program's threads (schedstat), in % of one core; RSS is taken
# at the end of the run.
# Nothing is asserted: the figures are printed, as a Markdown table.
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${VINDELOR_TIMING_SECONDS:-60}"
stopped_seconds=10
tempos="50 70 120 200"
verbose=0
while (($#)); do
    case "$1" in
        --quick) seconds=10 stopped_seconds=3 ;;
        --seconds) seconds="$2" && shift ;;
        --bpm) tempos="$2" && shift ;;
        --verbose) verbose=1 ;;
        *) echo "usage: bash bench/rig/timing.sh [--quick] [--seconds S] [--bpm \"50 120\"] [--verbose]" >&2
           exit 2 ;;
    esac
    shift
done

build="${VINDELOR_BUILD_DIR:-$root/build-bench}"
# One build at a time on a shared machine.
lock=/tmp/vindelor-build.lock
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    flock "$lock" cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
flock "$lock" cmake --build "$build" -j2 --target vindelor rig_tools >/dev/null
program="$build/vindelor"
RIG_BIN="$build/bench/rig"

source "$root/bench/rig/rig_env.sh"
rig_begin
rig_start_sound
rig_start_display

# "time_us" then "tid ns name" per thread of the process.
cpu_snapshot() {
    local pid="$1" file tid ns rest name
    echo "time ${EPOCHREALTIME/./}"
    for file in /proc/"$pid"/task/*/schedstat; do
        tid="${file%/schedstat}"
        tid="${tid##*/}"
        read -r ns rest <"$file" 2>/dev/null || continue
        read -r name <"/proc/$pid/task/$tid/comm" 2>/dev/null || name="?"
        echo "$tid $ns $name"
    done
}

# CPU between two snapshots, in % of one core; threads born in between count from zero.
cpu_percent() {
    awk 'FNR == 1 { t[FILENAME == ARGV[1]] = $2; next }
         FILENAME == ARGV[1] { before[$1] = $2; next }
         { used += $2 - before[$1] }
         END { printf "%.4f", used / ((t[0] - t[1]) * 1000) * 100 }' "$1" "$2"
}

# Per thread, for --verbose.
cpu_threads() {
    awk 'FNR == 1 { t[FILENAME == ARGV[1]] = $2; next }
         FILENAME == ARGV[1] { before[$1] = $2; next }
         { printf "    %-16s %8.4f %%\n", $3, ($2 - before[$1]) / ((t[0] - t[1]) * 1000) * 100 }' "$1" "$2"
}

value() { sed -n "s/^$1=//p" "$2"; }

rows=()
notes=()

# A table row from an analysis report: label, report, then the start latency, clicks after
# Stop, CPU running, CPU stopped and RSS cells.
row() {
    local label="$1" report="$2"
    shift 2
    local mean="-" worst="-"
    if [[ -n "$(value mean_interval_ms "$report")" ]]; then
        mean="$(value mean_interval_ms "$report")"
        worst="$(value worst_deviation_ms "$report") ($(value worst_deviation_samples "$report"))"
    fi
    local IFS='|'
    rows+=("| $label | $(value clicks "$report") | $(value pattern_summary "$report") | $mean | $worst |$(printf ' %s |' "$@")")
}

noise_floor() {
    local bpm="$1" track="$RIG_DIR/track-$1.wav" report="$RIG_DIR/noise-$1.txt"
    "$RIG_BIN/rig_click_track" --out "$track" --bpm "$bpm" --seconds "$seconds" --pattern Annn
    rig_start_recorder "noise-$bpm"
    paplay "$track"
    sleep 0.3
    rig_stop_recorder
    "$RIG_BIN/rig_analyse" --wav "$RIG_RECORDING.wav" --timing "$RIG_RECORDING.timing" \
        --bpm "$bpm" >"$report"
    row "chain: click track, $bpm" "$report" - - - - -
    notes+=("Click track at $bpm BPM: mean error $(value mean_error_ms "$report") ms, worst deviation $(value worst_deviation_ms "$report") ms. Sink clock against the monotonic clock: $(value sink_drift_ppm "$report") ppm; monitor latency $(value monitor_latency_ms "$report") ms (90 % within $(value monitor_latency_spread_ms "$report") ms).")
}

probe_starts() {
    local report="$RIG_DIR/probe.txt"
    rig_start_recorder probe
    "$RIG_BIN/rig_probe" --starts 10 --gap-ms 700 >"$RIG_DIR/probe.starts"
    sleep 0.3
    rig_stop_recorder
    "$RIG_BIN/rig_analyse" --wav "$RIG_RECORDING.wav" --timing "$RIG_RECORDING.timing" \
        --bpm 120 --starts "$RIG_DIR/probe.starts" >"$report"
    rows+=("| chain: start probe x10 | $(value clicks "$report") | $(value pattern_summary "$report") | - | - | $(value start_latency_range_ms "$report") | - | - | - | - |")
}

measure() {
    local bpm="$1" run="$RIG_DIR/run-$1" interval_ns beats aim start stop rss status
    rig_start_recorder "run-$bpm"
    rig_start_program "$program"
    if ((bpm != 120)); then
        rig_set_tempo "$bpm"
    fi
    sleep 1
    start="$(rig_press START_BUTTON)"
    cpu_snapshot "$RIG_PROGRAM_PID" >"$run.cpu0"
    sleep "$((seconds - 1))"
    # Stop just before a beat is due, when that beat is most likely already queued.
    interval_ns=$((60000000000 / bpm))
    beats=$(((seconds * 1000000000 + interval_ns - 1) / interval_ns))
    aim=$((start + beats * 60000000000 / bpm - 20000000))
    "$RIG_BIN/rig_xtest" click "$RIG_TITLE" "${RIG_START_BUTTON[@]}" --at "$aim" >"$run.stop" &
    local presser=$!
    sleep 0.5
    cpu_snapshot "$RIG_PROGRAM_PID" >"$run.cpu1"
    rss="$(awk '/^VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$RIG_PROGRAM_PID/status")"
    wait "$presser" || rig_fail "the Stop press failed"
    stop="$(cat "$run.stop")"
    sleep 1
    cpu_snapshot "$RIG_PROGRAM_PID" >"$run.cpu2"
    sleep "$stopped_seconds"
    cpu_snapshot "$RIG_PROGRAM_PID" >"$run.cpu3"
    rig_close_program || true
    status="${RIG_PROGRAM_STATUS:-hung}"
    sleep 0.3
    rig_stop_recorder
    "$RIG_BIN/rig_analyse" --wav "$RIG_RECORDING.wav" --timing "$RIG_RECORDING.timing" \
        --bpm "$bpm" --start-ns "$start" --stop-ns "$stop" >"$run.txt"
    row "$bpm" "$run.txt" "$(value start_latency_ms "$run.txt")" \
        "$(value clicks_after_stop "$run.txt")" "$(cpu_percent "$run.cpu0" "$run.cpu1")" \
        "$(cpu_percent "$run.cpu2" "$run.cpu3")" "$rss"
    if [[ "$status" != 0 ]]; then
        notes+=("At $bpm BPM the program did not end cleanly on \"&Avbryt\": $status.")
    fi
    echo "$bpm BPM done" >&2
    if ((verbose)); then
        cat "$run.txt" >&2
        echo "  CPU while running, per thread:" >&2
        cpu_threads "$run.cpu0" "$run.cpu1" >&2
        echo "  CPU while stopped, per thread:" >&2
        cpu_threads "$run.cpu2" "$run.cpu3" >&2
    fi
}

# Ten Start/Stop cycles at 120 BPM, with the mouse or with Alt+S: each gives an accent at once
# and a normal click 500 ms on.
press_start() {
    if [[ "$1" == mouse ]]; then
        rig_press START_BUTTON
    else
        "$RIG_BIN/rig_xtest" keys "$RIG_TITLE" Alt+s
    fi
}

start_series() {
    local how="$1" label="$2" report="$RIG_DIR/starts-$1.txt" i
    rig_start_recorder "starts-$how"
    rig_start_program "$program"
    sleep 1
    : >"$RIG_DIR/program.starts"
    for ((i = 0; i < 10; i++)); do
        press_start "$how" >>"$RIG_DIR/program.starts"
        sleep 0.7
        press_start "$how" >/dev/null
        sleep 0.4
    done
    rig_close_program || true
    sleep 0.3
    rig_stop_recorder
    "$RIG_BIN/rig_analyse" --wav "$RIG_RECORDING.wav" --timing "$RIG_RECORDING.timing" \
        --bpm 120 --starts "$RIG_DIR/program.starts" >"$report"
    rows+=("| $label | $(value clicks "$report") | $(value pattern_summary "$report") | - | - | $(value start_latency_range_ms "$report") | - | - | - | - |")
    echo "$label done" >&2
}

echo "Measuring ${seconds} s per tempo: the chain's noise floor, then $tempos BPM" >&2
noise_floor 120
noise_floor 70
probe_starts
for bpm in $tempos; do
    measure "$bpm"
done
start_series mouse "120, Start/Stop x10"
start_series keys "120, Alt+S x10"

echo
echo "| run | clicks | pattern | mean interval (ms) | worst deviation (ms (samples)) | start latency (ms) | clicks after Stop | CPU running (%) | CPU stopped (%) | RSS (MB) |"
echo "|---|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
printf '%s\n' "${notes[@]}"
