#!/usr/bin/env bash
# Measures the real program on the sound servers desktops run and prints the timing table.
#
#   bash bench/rig/timing.sh [--quick] [--servers "pulseaudio pipewire"] [--only SCENARIO]
#
# --only runs one of the scenarios below: cpu (1), long (2), starts (3), lost (4), late (5),
# other (6).
# Builds the program and the rig's tools (Release, in build-bench or $VINDELOR_BUILD_DIR).
# Then, on each server of its own (a PulseAudio with a 48 kHz null sink that rewinds, or a
# PipeWire with pipewire-pulse and a 48 kHz null sink at the quantum the program's stream
# brings), with an Xvfb, pressing through XTest as a user would:
#  1. CPU with no recorder: the server alone, with a simple peer (paplay playing a click
#     track, its latency that of a desktop's player), with the program stopped, and running;
#  2. 60 s at 120 BPM and 30 s at 70 BPM (--quick: 15 s and 10 s): Start, a regular track of
#     reference clicks on the same sink half a beat apart, Stop 20 ms before a beat is due,
#     10 s stopped, Avbryt;
#  3. in one recording, the chain's own start (a bare stream with the program's buffer,
#     started the quickest way) ten times, then ten Start/Stop runs of the program at 120 BPM,
#     Stop 10 to 45 ms before the third beat sounds (aimed by the bare stream's start);
#  4. the server killed under the running program and started again: how soon the clicks
#     come back, and how far from the grid the run had before;
#  5. Start while the server is away, the server back 3 s later;
#  6. ten Start/Stop runs while other sound plays: a regular reference track, and on PipeWire
#     a recorder that holds the graph at its largest quantum (2048 frames).
# Recordings never pull the sink down: on PulseAudio the monitor is recorded at the sink's
# own latency and tied to the clock through the server's timing replies, on PipeWire through
# its own API at the graph's quantum, stamped with the driver's time. CPU is the sum over a
# process's threads (schedstat), in % of one core: the program's, and the server's own
# processes' in step 1 only, with no recorder attached, as the median of fifteen 1 s samples
# beside the times the server woke. Nothing is asserted: the figures are printed, as
# Markdown tables.
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
run120=60 run70=30 stopped=10
servers="pulseaudio pipewire"
only=""
while (($#)); do
    case "$1" in
        --quick) run120=15 run70=10 stopped=5 ;;
        --servers) servers="$2" && shift ;;
        --only) only="$2" && shift ;;
        *) echo "usage: bash bench/rig/timing.sh [--quick] [--servers \"pulseaudio pipewire\"] [--only cpu|long|starts|lost|late|other]" >&2
           exit 2 ;;
    esac
    shift
done

build="${VINDELOR_BUILD_DIR:-$root/build-bench}"
lock=/tmp/vindelor-build.lock  # one build at a time on a shared machine
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    flock "$lock" cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
flock "$lock" cmake --build "$build" -j2 --target vindelor rig_tools >/dev/null
program="$build/vindelor"
RIG_BIN="$build/bench/rig"
source "$root/bench/rig/rig_env.sh"

value() { sed -n "s/^$1=//p" "$2"; }

# CPU time so far of a process's threads, in ns.
cpu_ns() {
    local total=0 ns rest file
    for file in /proc/"$1"/task/*/schedstat; do
        read -r ns rest <"$file" 2>/dev/null || continue
        total=$((total + ns))
    done
    echo "$total"
}
# percent CPU_BEFORE CPU_AFTER NS_BEFORE NS_AFTER
percent() { awk -v a="$1" -v b="$2" -v t0="$3" -v t1="$4" 'BEGIN { printf "%.3f", (b - a) / (t1 - t0) * 100 }'; }
clock_ns() { "$RIG_BIN/rig_xtest" now; }

analyse() {  # analyse NAME BPM [--presses FILE]
    local name="$1" bpm="$2"
    shift 2
    "$RIG_BIN/rig_analyse" --wav "$RIG_RECORDING.wav" --timing "$RIG_RECORDING.timing" \
        --bpm "$bpm" "$@" >"$RIG_DIR/$name.txt"
}

quantum() {  # the graph's quantum as PipeWire's recorder saw it, most cycles first
    sed -n 's/^# quantum \([0-9]*\): \([0-9]*\) cycles/\2 \1/p' "$RIG_RECORDING.timing" |
        sort -rn | head -1 | awk '{ print $2 }'
}

runs=()
series=()
losses=()
lates=()
others=()
costs=()

# The server's load as "CPU % (wake-ups/s)": the median of fifteen 1 s samples, each summed
# over every thread of every server process. pipewire-pulse has bursts of its own of a few
# seconds with any client; the median leaves them out, and the same for every column. A
# sample in which a thread of the server ended took that thread's count with it, and is left
# out.
server_load() {
    local i s0 w0 t0 s1 w1 t1 samples=()
    for ((i = 0; i < 15; i++)); do
        s0=$(rig_server_cpu_ns) w0=$(rig_server_wakeups) t0=$(clock_ns)
        sleep 1
        s1=$(rig_server_cpu_ns) w1=$(rig_server_wakeups) t1=$(clock_ns)
        ((s1 >= s0 && w1 >= w0)) || continue
        samples+=("$(percent "$s0" "$s1" "$t0" "$t1") $(awk -v w=$((w1 - w0)) -v t=$((t1 - t0)) 'BEGIN { printf "%.0f", w / t * 1e9 }')")
    done
    ((${#samples[@]})) || { echo "-"; return; }
    printf '%s\n' "${samples[@]}" | sort -n | awk '{ cpu[NR] = $1; wake[NR] = $2 }
        END { m = int((NR + 1) / 2); printf "%s (%s/s)", cpu[m], wake[m] }'
}

# CPU with no recorder attached, as on a desktop: the server alone; a continuous stream of
# clicks (paplay, a simple peer); the program stopped; the program running at 120 BPM.
cpu_phase() {
    local server="$1" c0 t0 idle peer stopped running ours latency peerLatency
    sleep 3
    idle=$(server_load)
    "$RIG_BIN/rig_click_track" --out "$RIG_DIR/peer.wav" --bpm 120 --seconds 20 --pattern Annn
    # A sink latency of about 105 ms on PulseAudio, as a simple metronome's stream has.
    rig_spawn peer paplay --latency-msec=420 "$RIG_DIR/peer.wav"
    sleep 2
    peer=$(server_load)
    peerLatency="$(rig_sink_latency)"
    rig_stop "$RIG_LAST_PID" || true
    rig_start_program "$program"
    sleep 3
    stopped=$(server_load)
    rig_press START_BUTTON >/dev/null
    sleep 2
    c0=$(cpu_ns "$RIG_PROGRAM_PID") t0=$(clock_ns)
    running=$(server_load)
    ours=$(percent "$c0" "$(cpu_ns "$RIG_PROGRAM_PID")" "$t0" "$(clock_ns)")
    latency="$(rig_sink_latency)"
    rig_press START_BUTTON >/dev/null
    rig_close_program || true
    costs+=("| $server | $idle | $peer | $stopped | $running | $peerLatency / $latency | $ours |")
    echo "$server, CPU done" >&2
}

# One long run: measure SERVER BPM SECONDS
measure() {
    local server="$1" bpm="$2" seconds="$3" name="run-$1-$2" interval_ns start stop beats
    local c0 c1 c2 c3 t0 t1 t2 t3 rss latency
    interval_ns=$((60000000000 / bpm))
    rig_start_recorder "$name"
    sleep 1
    rig_start_program "$program"
    if ((bpm != 120)); then
        rig_set_tempo "$bpm"
    fi
    sleep 1
    start=$(rig_press START_BUTTON)
    sleep "$(awk -v i="$interval_ns" 'BEGIN { printf "%.3f", i / 2e9 }')"
    rig_start_reference "$bpm" "$seconds"
    c0=$(cpu_ns "$RIG_PROGRAM_PID") t0=$(clock_ns)
    sleep "$((seconds - 2))"
    latency="$(rig_sink_latency)"
    beats=$(((seconds * 1000000000 + interval_ns - 1) / interval_ns))
    "$RIG_BIN/rig_xtest" click "$RIG_TITLE" "${RIG_START_BUTTON[@]}" \
        --at $((start + beats * interval_ns - 20000000)) >"$RIG_DIR/$name.stop" &
    local presser=$!
    sleep 0.5
    c1=$(cpu_ns "$RIG_PROGRAM_PID") t1=$(clock_ns)
    rss="$(awk '/^VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$RIG_PROGRAM_PID/status")"
    wait "$presser" || rig_fail "the Stop press failed"
    stop="$(cat "$RIG_DIR/$name.stop")"
    sleep 1
    c2=$(cpu_ns "$RIG_PROGRAM_PID") t2=$(clock_ns)
    sleep "$stopped"
    c3=$(cpu_ns "$RIG_PROGRAM_PID") t3=$(clock_ns)
    rig_close_program || true
    sleep 0.3
    local q="-"
    rig_stop_recorder
    [[ "$server" == pipewire ]] && q="$(quantum)"
    echo "$start $stop $bpm" >"$RIG_DIR/$name.presses"
    analyse "$name" "$bpm" --presses "$RIG_DIR/$name.presses"
    local r="$RIG_DIR/$name.txt"
    runs+=("| $server | $bpm BPM, ${seconds} s | $(value clicks "$r") | $(value pattern_summary "$r") | $(value mean_interval_ms "$r") | $(value worst_deviation_samples "$r") | $(value reference_worst_deviation_samples "$r") | $(value start_latency_ms "$r") | $(value clicks_after_stop "$r") | $(percent "$c0" "$c1" "$t0" "$t1") | $(percent "$c2" "$c3" "$t2" "$t3") | $rss | $latency | $q |")
    echo "$server, $bpm BPM done" >&2
}

# In one recording: the bare stream's ten starts, then ten Start/Stop runs of the program,
# Stop aimed 10 to 45 ms before the third beat sounds.
starts() {
    local server="$1" latency="$2" name="starts-$1" i start lead
    rig_start_recorder "$name"
    sleep 1
    "$RIG_BIN/rig_probe" --starts 10 --gap-ms 700 --latency-ms "$latency" >"$RIG_DIR/probe.presses"
    sleep 0.3
    analyse probe 120 --presses "$RIG_DIR/probe.presses"
    lead=$(awk -v r="$(value start_latency_ms "$RIG_DIR/probe.txt")" 'BEGIN { split(r, p, " / "); printf "%d", p[2] * 1e6 }')
    rig_start_program "$program"
    sleep 1
    : >"$RIG_DIR/$name.presses"
    for ((i = 0; i < 10; i++)); do
        start=$(rig_press START_BUTTON)
        stop=$(rig_press START_BUTTON --at $((start + 1000000000 + lead - (10 + (i % 8) * 5) * 1000000)))
        echo "$start $stop 120" >>"$RIG_DIR/$name.presses"
        sleep 0.6
    done
    rig_close_program || true
    sleep 0.3
    rig_stop_recorder
    analyse probe 120 --presses "$RIG_DIR/probe.presses"
    analyse "$name" 120 --presses "$RIG_DIR/$name.presses"
    local r="$RIG_DIR/$name.txt"
    series+=("| $server | $(value start_latency_ms "$RIG_DIR/probe.txt") | $(value start_latency_ms "$r") | $(value pattern_runs "$r" | tr ',' ' ') | $(value stop_before_beat_ms "$r" | tr ',' ' ') | $(value clicks_after_stop "$r") |")
    echo "$server, starts done" >&2
}

# The server killed under the running program, and started again a second later: how soon
# the clicks come back, and how far from the grid the run had before.
lose_server() {
    local server="$1" name="lost-$1" back ahead grid
    rig_start_program "$program"
    sleep 0.5
    rig_start_recorder "before-$name"
    echo "$(rig_press START_BUTTON) 0 120" >"$RIG_DIR/before-$name.presses"
    sleep 2
    rig_stop_recorder
    analyse "before-$name" 120 --presses "$RIG_DIR/before-$name.presses"
    grid="$(value last_click_ns "$RIG_DIR/before-$name.txt")"
    rig_crash "$RIG_PULSE_PID"
    sleep 1
    rig_restart_pulse
    back=$(clock_ns)
    ahead="$(rig_sink_latency now)"
    rig_start_recorder "$name"
    sleep 6
    rig_close_program || true
    rig_stop_recorder
    echo "$back" >"$RIG_DIR/$name.presses"
    analyse "$name" 120 --presses "$RIG_DIR/$name.presses" --grid "$grid"
    local r="$RIG_DIR/$name.txt"
    losses+=("| $server | $ahead | $(value start_latency_ms "$r") | $(value clicks "$r") | $(value pattern_summary "$r") | $(value worst_deviation_samples "$r") | $(value grid_worst_ms "$r") |")
    echo "$server, lost server done" >&2
}

# Start while the server is away, the server back 3 s later. The program is held still while
# the server and the recorder start, so that the recording has the first click.
late_server() {
    local server="$1" name="late-$1" back
    rig_start_program "$program"
    sleep 0.5
    rig_crash "$RIG_PULSE_PID"
    sleep 0.5
    rig_press START_BUTTON >/dev/null
    sleep 3
    kill -STOP "$RIG_PROGRAM_PID"
    rig_restart_pulse
    rig_start_recorder "$name"
    sleep 0.3
    back=$(clock_ns)
    kill -CONT "$RIG_PROGRAM_PID"
    sleep 5
    rig_close_program || true
    rig_stop_recorder
    echo "$back" >"$RIG_DIR/$name.presses"
    analyse "$name" 120 --presses "$RIG_DIR/$name.presses"
    local r="$RIG_DIR/$name.txt"
    lates+=("| $server | $(value start_latency_ms "$r") | $(value clicks "$r") | $(value pattern_summary "$r") | $(value worst_deviation_samples "$r") |")
    echo "$server, late server done" >&2
}

# Ten Start/Stop runs while other sound plays: a regular reference track throughout, and on
# PipeWire a recorder that holds the graph at its largest quantum, as a player one practises
# along with does. The graph's quantum, and the reference's intervals, across the Starts.
other_sound() {
    local server="$1" name="other-$1" i start t0
    rig_start_program "$program"
    sleep 0.5
    rig_start_recorder "$name" 4096
    sleep 0.5
    t0=$(clock_ns)
    rig_start_reference 120 18
    # Each Start half a beat after a reference click, so that the two tracks do not overlap.
    : >"$RIG_DIR/$name.presses"
    for ((i = 0; i < 10; i++)); do
        start=$(rig_press START_BUTTON --at $((t0 + 1250000000 + i * 1500000000)))
        stop=$(rig_press START_BUTTON --at $((start + 1100000000)))
        echo "$start $stop 120" >>"$RIG_DIR/$name.presses"
    done
    sleep 0.5
    rig_close_program || true
    rig_stop_recorder
    analyse "$name" 120 --presses "$RIG_DIR/$name.presses"
    local r="$RIG_DIR/$name.txt" q="-"
    [[ "$server" == pipewire ]] &&
        q="$(awk '$1 ~ /^[0-9]+$/ { n[$3]++ } END { for (k in n) { printf "%s%d x %d", s, n[k], k; s = ", " } }' "$RIG_RECORDING.timing")"
    others+=("| $server | $q | $(value pattern_runs "$r" | tr ',' ' ') | $(value worst_deviation_samples "$r") | $(value start_latency_ms "$r") | $(value reference_clicks "$r") | $(value reference_worst_deviation_samples "$r") |")
    echo "$server, other sound done" >&2
}

for server in $servers; do
    rig_begin
    rig_start_sound "$server"
    rig_start_display
    wanted() { [[ -z "$only" || "$only" == "$1" ]]; }
    wanted cpu && cpu_phase "$server"
    wanted long && measure "$server" 120 "$run120" && measure "$server" 70 "$run70"
    if wanted starts; then
        if [[ "$server" == pipewire ]]; then starts "$server" 40; else starts "$server" 100; fi
    fi
    wanted lost && lose_server "$server"
    wanted late && late_server "$server"
    wanted other && other_sound "$server"
    rig_cleanup
    trap - EXIT
done

echo
echo "| server | run | clicks | pattern | mean interval (ms) | worst deviation (samples) | reference's worst (samples) | start latency (ms) | clicks after Stop | our CPU running (%) | our CPU stopped (%) | our RSS (MB) | sink latency (ms) | quantum |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${runs[@]}"
echo
echo "| server | server CPU % (wake-ups/s), alone | with paplay playing clicks | with the program stopped | with the program running at 120 BPM | sink latency, paplay / program (ms) | the program's own CPU (%) |"
echo "|---|---|---|---|---|---|---|"
printf '%s\n' "${costs[@]}"
echo
echo "| server | bare stream's start, least / median / most (ms) | the program's start (ms) | runs (kinds heard) | Stop before the beat (ms) | clicks after Stop |"
echo "|---|---|---|---|---|---|"
printf '%s\n' "${series[@]}"
echo
echo "| server | the sink's own latency as it answers (ms) | first click after the server answers (ms) | clicks in 6 s | pattern | worst deviation (samples) | off the grid before (ms) |"
echo "|---|---|---|---|---|---|---|"
printf '%s\n' "${losses[@]}"
echo
echo "| server | Start 3 s before the server: first click after it answers (ms) | clicks in 5 s | pattern | worst deviation (samples) |"
echo "|---|---|---|---|---|"
printf '%s\n' "${lates[@]}"
echo
echo "| server | other sound: the graph's cycles (count x frames) | runs (kinds heard) | worst deviation, first interval included (samples) | start latency (ms) | reference clicks | reference's worst deviation (samples) |"
echo "|---|---|---|---|---|---|---|"
printf '%s\n' "${others[@]}"
