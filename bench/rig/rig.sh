#!/usr/bin/env bash
# The timing rig: the real program on sound servers and an X display of its own, pressed
# through XTest as a user presses, what the sink plays recorded and judged (bench/rig/rig).
#
#   bash bench/rig/rig.sh [--table | --check] [--quick] [--busy] [--only SCENARIO]
#                         [--servers "pulseaudio pipewire"] [--program PATH --rig PATH]
#   bash bench/rig/rig.sh --soak [--minutes 10] [--plain]
#   bash bench/rig/rig.sh --micro [BENCHMARK ARGS...]
#
# Each scenario below is written once: what it does, the row it adds to its table and the
# checks it makes. --table (the default) runs them all and prints the figures as Markdown
# tables; a failed check is only reported. --check runs the shorter set the end-to-end test
# needs and fails unless every check holds. --busy keeps one core busy throughout, as a
# build or a browser does. Without --program and --rig the program and the rig are built
# first (Release, in build-bench or $VINDELOR_BUILD_DIR).
#  cpu     the server's CPU (median of fifteen 1 s samples over every thread of every server
#          process) alone, with paplay playing clicks, with the program stopped and running;
#  long    60 s at 120 BPM and 30 s at 70 BPM (--quick 15 and 10, --check 4 and 4), a
#          reference track on the same sink half a beat apart, Stop 20 ms before a beat
#          (PipeWire: 80 ms);
#  starts  ten Start/Stop runs, Stop 10 to 45 ms before the third beat sounds, each after a
#          bare stream started the quickest way, to which it is compared;
#  lost    the server killed under the running program and started again;
#  stopped the server killed while stopped, Start the moment it is back;
#  late    Start while the server is away, the server back 3 s later;
#  other   ten Start/Stop runs (--check three) while other sound plays: a reference track,
#          and on PipeWire a recorder holding the graph at its largest quantum.
# --soak runs the program for a while under valgrind's memcheck (--plain: on its own) at
# 200 BPM and fails if it leaks or its heap grows. --micro runs the micro-benchmarks of the
# beat's path (bench/tick_bench.cpp), the real output's included, on a PulseAudio of its own.
# Nothing touches the desktop's own server or display.
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
mode=table quick=0 busy=0 servers="pulseaudio pipewire" only="" program="" rig="" minutes=10 plain=0
while (($#)); do
    case "$1" in
        --table | --check | --soak) mode="${1#--}" ;;
        --micro) mode=micro && shift && break ;;
        --quick) quick=1 ;;
        --busy) busy=1 ;;
        --servers) servers="$2" && shift ;;
        --only) only="$2" && shift ;;
        --program) program="$2" && shift ;;
        --rig) rig="$2" && shift ;;
        --minutes) minutes="$2" && shift ;;
        --plain) plain=1 ;;
        *) sed -n '5,8p' "$0" | sed 's/^#   //' >&2 && exit 2 ;;
    esac
    shift
done
if [[ -z "$program" || -z "$rig" || "$mode" == micro ]]; then
    build="${VINDELOR_BUILD_DIR:-$root/build-bench}"
    flock /tmp/vindelor-build.lock cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    flock /tmp/vindelor-build.lock cmake --build "$build" -j2 --target vindelor rig tick_bench >/dev/null
    program="$build/vindelor" rig="$build/bench/rig/rig"
fi

# --- processes: everything started here is ended on exit, newest first ----------------------

PIDS=() DIR="" KEEP="${RIG_KEEP:-0}" failures=0 programs=0 FRAMES=""
fail() { echo "rig: $*" >&2 && exit 1; }
spawn() {  # spawn NAME CMD...: in the background, logging to $DIR/NAME.log; sets LAST
    local name="$1" && shift
    "$@" >"$DIR/$name.log" 2>&1 &
    LAST=$! && PIDS+=("$LAST")
}
forget() { local p kept=() && for p in "${PIDS[@]}"; do [[ "$p" == "$1" ]] || kept+=("$p"); done && PIDS=("${kept[@]}"); }
stop() {  # TERM, KILL after 3 s; returns the exit status
    local i status=0
    {
        kill -TERM "$1" || true
        for ((i = 0; i < 30; i++)); do kill -0 "$1" || break && sleep 0.1; done
        kill -KILL "$1" || true
        wait "$1" || status=$?
    } 2>/dev/null
    forget "$1" && return "$status"
}
crash() { { kill -KILL "$1"; stop "$1"; } 2>/dev/null || true; }
cleanup() {
    local status=$? i
    if ((status != 0)) && [[ "$mode" != table && -n "$DIR" ]]; then
        for i in "$DIR"/*.log; do echo "--- ${i##*/}" && tail -n 20 "$i"; done
    fi
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do stop "${PIDS[i]}" || true; done
    PIDS=()
    [[ -n "$DIR" && "$KEEP" == 1 ]] && echo "rig: kept $DIR" >&2
    [[ -n "$DIR" && "$KEEP" != 1 ]] && rm -rf "$DIR"
    DIR=""
}
begin() {
    DIR="$(mktemp -d /tmp/vindelor-rig.XXXXXX)" && chmod 700 "$DIR"
    trap cleanup EXIT && trap 'exit 130' INT && trap 'exit 143' TERM
}

# A sound server as a desktop runs it, as root, its folders in DIR, one 48 kHz null sink
# "rig" that is the default, reached through PULSE_SERVER; no client autospawns another.
# PulseAudio: the sink (rewinds on, as a desktop's sinks rewind) and the socket. PipeWire:
# pipewire, wireplumber and pipewire-pulse on a session bus of their own; the sink is
# PipeWire's own, so that it outlives a restart of pipewire-pulse.
start_sound() {
    SERVER="$1"
    local home="$DIR/home" run="$DIR/run" i
    mkdir -p "$home/.config/pulse" "$home/.config/pipewire/pipewire.conf.d" "$run/pulse"
    chmod 700 "$home" "$run"
    printf 'autospawn = no\n' >"$home/.config/pulse/client.conf"
    export HOME="$home" XDG_RUNTIME_DIR="$run" XDG_CONFIG_HOME="$home/.config"
    export XDG_STATE_HOME="$home/.state" PIPEWIRE_RUNTIME_DIR="$run" PULSE_RUNTIME_PATH="$run/pulse"
    export PULSE_STATE_PATH="$home/state" PULSE_CLIENTCONFIG="$home/.config/pulse/client.conf"
    export PULSE_SERVER="unix:$run/pulse/native"
    command -v "$([[ "$SERVER" == pipewire ]] && echo pipewire-pulse || echo pulseaudio)" >/dev/null ||
        fail "$SERVER is missing (bash scripts/install-deps.sh --tests)"
    SERVER_PIDS=()
    if [[ "$SERVER" == pipewire ]]; then
        cat >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/rig-sink.conf" <<CONF
context.objects = [ { factory = adapter args = { factory.name = support.null-audio-sink
    node.name = "rig" media.class = "Audio/Sink" audio.rate = 48000 audio.channels = 2
    audio.position = [ FL FR ] monitor.channel-volumes = true object.linger = true
    node.driver = true } } ]
CONF
        # WirePlumber's Bluetooth monitor needs logind's seats, which a bare machine lacks.
        mkdir -p "$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d"
        printf 'bluez_monitor.enabled = false\n' >"$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d/51-rig.lua"
        export DBUS_SESSION_BUS_ADDRESS="unix:path=$run/bus"
        spawn dbus dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS"
        for ((i = 0; i < 50; i++)); do [[ -S "$run/bus" ]] && break || sleep 0.02; done
        spawn pipewire pipewire && SERVER_PIDS+=("$LAST")
        for ((i = 0; i < 100; i++)); do [[ -S "$run/pipewire-0" ]] && break || sleep 0.02; done
        spawn wireplumber wireplumber && SERVER_PIDS+=("$LAST")
    fi
    restart_pulse
}
# The pulse server (again, after a crash): the whole PulseAudio, or pipewire-pulse.
restart_pulse() {
    local i
    if [[ "$SERVER" == pipewire ]]; then
        spawn pipewire-pulse pipewire-pulse
    else
        spawn pulseaudio pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
            --log-target=stderr --log-level=error -L "module-null-sink sink_name=rig rate=48000" \
            -L "module-native-protocol-unix auth-anonymous=1 socket=$XDG_RUNTIME_DIR/pulse/native"
    fi
    PULSE_PID=$LAST
    if [[ "$SERVER" == pipewire ]]; then SERVER_PIDS=("${SERVER_PIDS[@]:0:2}" "$LAST"); else SERVER_PIDS=("$LAST"); fi
    for ((i = 0; i < 100; i++)); do
        pactl list sinks short 2>/dev/null | grep -q "^[0-9]*[[:space:]]rig[[:space:]]" &&
            pactl set-default-sink rig >/dev/null 2>&1 && return 0
        kill -0 "$PULSE_PID" 2>/dev/null || break
        sleep 0.05
    done
    fail "the private sound server ($SERVER) did not start: $(tail -n 5 "$DIR"/pulseaudio.log "$DIR"/pipewire*.log 2>/dev/null)"
}
start_display() {
    command -v Xvfb >/dev/null || fail "Xvfb is missing (bash scripts/install-deps.sh --tests)"
    local i display=""
    : >"$DIR/display"
    spawn xvfb Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$DIR/display"
    for ((i = 0; i < 100; i++)); do
        read -r display <"$DIR/display" || true
        [[ -n "$display" ]] && break || sleep 0.1
    done
    [[ -n "$display" ]] || fail "Xvfb did not start: $(cat "$DIR/xvfb.log")"
    export DISPLAY=":$display"
    "$rig" drive use-devices || fail "XTest does not answer on $DISPLAY"
}

# --- measuring ----------------------------------------------------------------------------

now() { "$rig" now; }
cpu_ns() {  # cpu_ns PID...: CPU time so far over every thread, in ns
    local pid total=0 ns rest file
    for pid in "$@"; do
        for file in /proc/"$pid"/task/*/schedstat; do
            read -r ns rest <"$file" 2>/dev/null && total=$((total + ns))
        done
    done
    echo "$total"
}
wakeups() {
    local file total=0
    for file in $(printf '/proc/%s/task/*/status ' "$@"); do
        total=$((total + $(awk '/^voluntary_ctxt_switches/ { print $2 }' "$file" 2>/dev/null || echo 0)))
    done
    echo "$total"
}
percent() { awk -v a="$1" -v b="$2" -v t0="$3" -v t1="$4" 'BEGIN { printf "%.3f", (b - a) / (t1 - t0) * 100 }'; }
# The server's load as "CPU % (wake-ups/s)", the median of fifteen 1 s samples: pipewire-pulse
# has bursts of its own of a few seconds with any client, which the median leaves out. A
# sample in which a thread ended took its count with it, and is left out.
server_load() {
    local i s0 w0 t0 s1 w1 t1 samples=()
    for ((i = 0; i < 15; i++)); do
        s0=$(cpu_ns "${SERVER_PIDS[@]}") w0=$(wakeups "${SERVER_PIDS[@]}") t0=$(now) && sleep 1
        s1=$(cpu_ns "${SERVER_PIDS[@]}") w1=$(wakeups "${SERVER_PIDS[@]}") t1=$(now)
        ((s1 >= s0 && w1 >= w0)) &&
            samples+=("$(percent "$s0" "$s1" "$t0" "$t1") $(((w1 - w0) * 1000000000 / (t1 - t0)))")
    done
    printf '%s\n' "${samples[@]}" | sort -n |
        awk '{ c[NR] = $1; w[NR] = $2 } END { m = int((NR + 1) / 2); if (NR) printf "%s (%s/s)", c[m], w[m]; else printf "-" }'
}
# The sink's latency in ms: configured, or with "now" what it has mixed ahead; "-" on PipeWire.
sink_latency() {
    [[ "$SERVER" == pipewire ]] && echo "-" && return
    pactl list sinks 2>/dev/null | awk -v field="$([[ "${1:-}" == now ]] && echo Latency: || echo configured)" '
        /^[[:space:]]*Name:/ { mine = ($2 == "rig") }
        mine && /configured/ { for (i = 1; i <= NF; i++) if ($i == field) printf "%.1f\n", $(i + 1) / 1000 }'
}
# Records what the sink plays into $DIR/NAME.wav and NAME.timing: record NAME [FRAMES], the
# latency the recorder asks for (4096 on PipeWire holds the graph at its largest quantum).
record() {
    local i
    REC="$DIR/$1"
    spawn "$1-recorder" "$rig" record --server "$SERVER" --sink rig --wav "$REC.wav" \
        --log "$REC.timing" --latency "${2:-1920}"
    RECORDER=$LAST
    for ((i = 0; i < 100; i++)); do
        grep -q '^recording' "$DIR/$1-recorder.log" 2>/dev/null && return 0
        kill -0 "$RECORDER" 2>/dev/null || break && sleep 0.05
    done
    fail "the recorder did not start: $(cat "$DIR/$1-recorder.log")"
}
end_record() { stop "$RECORDER" || fail "the recording $REC.wav is not whole"; }
# analyse NAME BPM [ARG...]: judges the recording against $DIR/NAME.presses ("start_ns
# stop_ns bpm" per run) into $DIR/NAME.txt, read back by `value KEY`; and against where the
# program wrote its clicks, once it has ended and left its frame log.
analyse() {
    local frames=()
    [[ -f "$FRAMES" ]] && frames=(--frames "$FRAMES")
    RESULT="$DIR/$1.txt"
    "$rig" analyse --wav "$REC.wav" --timing "$REC.timing" --bpm "$2" --presses "$DIR/$1.presses" \
        "${frames[@]}" "${@:3}" >"$RESULT"
    [[ "$mode" == check ]] && sed "s/^/  $1: /" "$RESULT"
    return 0
}
# The frame log against the recording: ours to the frame, the server's to a sample.
check_frames() {
    check "$1: every click written on its run's grid, to the frame" "$(value written_off_grid) == 0"
    check "$1: the sink played every click where it was written, and no other" \
        "$(value played_vs_written_worst_samples) <= 1 && $(value heard_not_written) == 0"
}
# The intervals, within 1 ms of the beat. When the server moved the whole stream later (it
# missed cycles: the reference track moves with it), they are exact but there, which the
# frame log shows: every click written on its grid and played where it was written, before
# and after the move. The move is told in the check, not failed.
check_intervals() {
    local moved
    moved="$(value server_moved)"
    if [[ "${moved:-0}" != 0 ]]; then
        check "$1, but where the server moved the stream ($(value server_moved_samples) samples)" \
            "$(value written_off_grid) == 0 && $(value played_vs_written_worst_samples) <= 1 && $(value heard_not_written) == 0"
    else
        check "$1" "$(value worst_deviation_ms) <= 1"
    fi
}
value() { sed -n "s/^$1=//p" "${2:-$RESULT}"; }
# The graph's cycles as "count x frames", from PipeWire's recorder; its most frequent quantum.
cycles() { awk '$1 ~ /^[0-9]+$/ { n[$3]++ } END { for (k in n) { printf "%s%d x %d", s, n[k], k; s = ", " } }' "$REC.timing"; }
quantum() { awk '$1 ~ /^[0-9]+$/ { n[$3]++ } END { for (k in n) if (n[k] > most) { most = n[k]; q = k } print q }' "$REC.timing"; }
# check WHAT EXPRESSION: an awk condition; in --check a failure fails the run, elsewhere it
# is only told (on stderr, apart from the tables).
check() {
    local out=1
    [[ "$mode" == check ]] || out=2
    if awk "BEGIN { exit !($2) }"; then echo "ok: $SERVER, $1" >&"$out"; else echo "FAILED: $SERVER, $1" >&"$out" && ((++failures)); fi
}
row() { local -n rows="$1" && rows+=("| $SERVER | $2 |"); }

# --- the program, pressed as a user presses --------------------------------------------------

TITLE="              Vindelor"  # the window's title: 14 blanks, then the name
START=(94 270)   # "&Start" / "&Stop" (61 x 21 at 64, 260)
CLOSE=(306 270)  # "&Avbryt" (61 x 21 at 276, 260)
TEMPO=(222 139)  # the tempo box (37 x 23 at 204, 128)
press() { local -n at="$1" && shift && "$rig" drive click "$TITLE" "${at[@]}" "$@"; }
set_tempo() {
    press TEMPO >/dev/null && "$rig" drive keys "$TITLE" End BackSpace BackSpace BackSpace \
        $(echo "$1" | sed 's/./& /g') Return >/dev/null
}
start_program() {
    local i
    FRAMES="$DIR/program-$((++programs)).frames"  # where it wrote its clicks, as it ends
    spawn program env VINDELOR_FRAME_LOG="$FRAMES" "$program" && PROGRAM=$LAST
    for ((i = 0; i < 30; i++)); do
        "$rig" drive wait-window "$TITLE" 0.5 2>/dev/null && break
        kill -0 "$PROGRAM" 2>/dev/null || fail "the program ended before its window showed: $(cat "$DIR/program.log")"
    done
    ((i < 30)) || fail "the program showed no window within 15 s"
    # No window manager gives a new window the focus here, as a desktop's does.
    "$rig" drive focus "$TITLE" >/dev/null || fail "the window could not be given the focus"
    # It connects in the background; a press before it has is not what is measured.
    for ((i = 0; i < 100; i++)); do
        pactl list clients 2>/dev/null | grep -q "application.process.id = \"$PROGRAM\"" && return 0
        sleep 0.05
    done
    echo "rig: the program has not connected to the sound server" >&2
}
# "&Avbryt" ends the program with status 0, and it printed nothing.
close_program() {
    local i status=0
    press CLOSE >/dev/null || true
    for ((i = 0; i < 100; i++)); do kill -0 "$PROGRAM" 2>/dev/null || break && sleep 0.05; done
    kill -0 "$PROGRAM" 2>/dev/null && status=-1 && { stop "$PROGRAM" || true; }
    ((status == 0)) && { wait "$PROGRAM" || status=$?; } && forget "$PROGRAM"
    check "\"&Avbryt\" ends the program with status 0, and it printed nothing" \
        "$status == 0 && $(wc -c <"$DIR/program.log") == 0"
}
# A perfectly regular track of reference clicks ('R'), the first one beat from now: reference
# BPM SECONDS. What PulseAudio's monitor misses of a stream's start falls in that beat of
# silence. Its latency of 200 ms leaves the sink's own alone.
reference() {
    "$rig" click-track --out "$DIR/reference.wav" --bpm "$1" --seconds "$2" --pattern R \
        --lead-in "$(awk -v bpm="$1" 'BEGIN { print 60 / bpm }')"
    spawn reference paplay --latency-msec=200 "$DIR/reference.wav"
}

# --- the scenarios ----------------------------------------------------------------------------

cpu() {
    local idle peer peer_latency quick=- stopped running c0 t0 ours theirs
    sleep 3 && idle=$(server_load)
    "$rig" click-track --out "$DIR/peer.wav" --bpm 120 --seconds 40 --pattern Annn
    # A sink latency of about 190 ms on PulseAudio, as a simple metronome's stream has.
    spawn peer paplay --latency-msec=420 "$DIR/peer.wav"
    sleep 2 && c0=$(cpu_ns "$LAST") t0=$(now)
    peer=$(server_load) && peer_latency="$(sink_latency)"
    theirs=$(percent "$c0" "$(cpu_ns "$LAST")" "$t0" "$(now)")
    stop "$LAST" || true
    # On PipeWire that lets the graph run at its largest quantum, 2048 frames, where the
    # program holds it at 1024 to take back what Stop must: the same peer at 1024 too.
    if [[ "$SERVER" == pipewire ]]; then
        spawn peer paplay --latency-msec=120 "$DIR/peer.wav"
        sleep 2 && quick=$(server_load)
        stop "$LAST" || true
    fi
    start_program && sleep 3 && stopped=$(server_load)
    press START >/dev/null && sleep 2
    c0=$(cpu_ns "$PROGRAM") t0=$(now)
    running=$(server_load)
    ours=$(percent "$c0" "$(cpu_ns "$PROGRAM")" "$t0" "$(now)")
    row costs "$idle | $peer | $quick | $stopped | $running | $peer_latency / $(sink_latency) | $theirs / $ours"
    press START >/dev/null && close_program
}

long() {  # long BPM SECONDS
    local bpm="$1" seconds="$2" name="run-$1" beat=$((60000000000 / $1)) start stop c0 c1 c2 c3 t0 t1 t2 t3 rss latency q=-
    # Stop 20 ms before a beat; on PipeWire 80 ms: what the graph has taken of the stream (up
    # to two quanta) sounds, as starts() shows.
    local before=20000000
    [[ "$SERVER" == pipewire ]] && before=80000000
    record "$name" && sleep 1
    start_program
    ((bpm == 120)) || set_tempo "$bpm"
    sleep 1
    start=$(press START)
    sleep "$(awk -v i="$beat" 'BEGIN { printf "%.3f", i / 2e9 }')"
    reference "$bpm" "$seconds"
    c0=$(cpu_ns "$PROGRAM") t0=$(now)
    sleep "$((seconds - 2))"
    latency="$(sink_latency)"
    "$rig" drive click "$TITLE" "${START[@]}" --at $((start + (seconds * 1000000000 + beat - 1) / beat * beat - before)) >"$DIR/$name.stop" &
    local presser=$!
    sleep 0.5
    c1=$(cpu_ns "$PROGRAM") t1=$(now) rss="$(awk '/^VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$PROGRAM/status")"
    wait "$presser" || fail "the Stop press failed"
    stop=$(cat "$DIR/$name.stop")
    sleep 1 && c2=$(cpu_ns "$PROGRAM") t2=$(now)
    sleep "$quiet" && c3=$(cpu_ns "$PROGRAM") t3=$(now)
    close_program && sleep 0.3 && end_record
    [[ "$SERVER" == pipewire ]] && q="$(quantum)"
    echo "$start $stop $bpm" >"$DIR/$name.presses"
    analyse "$name" "$bpm" && check_frames "$bpm BPM"
    row runs "$bpm BPM, ${seconds} s | $(value clicks) | $(value pattern_summary) | $(value mean_interval_ms) | $(value worst_deviation_samples) | $(value written_off_grid) / $(value played_vs_written_worst_samples) | $(value server_moved_samples | grep . || echo -) | $(value reference_worst_deviation_samples) | $(value start_latency_ms) | $(value clicks_after_stop) | $(percent "$c0" "$c1" "$t0" "$t1") | $(percent "$c2" "$c3" "$t2" "$t3") | $rss | $latency | $q"
    check "$bpm BPM: the accent, then normal clicks, bar after bar" "\"$(value pattern)\" ~ /^(Annn)+(A|An|Ann)?$/"
    check_intervals "$bpm BPM: every interval within 1 ms, the first included"
    check "$bpm BPM: no click after Stop" "$(value clicks_after_stop) == 0"
}

starts() {
    local name="starts" i start lead latency=190
    [[ "$SERVER" == pipewire ]] && latency=40
    record "$name" && sleep 1
    # The bare stream's start, first alone for when to press Stop, then once before each
    # Start: measured alongside, both share the recording's time map and the sink's state.
    "$rig" probe --starts 5 --gap-ms 700 --latency-ms "$latency" >"$DIR/lead.presses"
    sleep 0.3
    analyse lead 120
    lead=$(awk -v r="$(value start_latency_ms)" 'BEGIN { split(r, p, " / "); printf "%d", p[2] * 1e6 }')
    start_program && sleep 1
    : >"$DIR/$name.presses"
    : >"$DIR/bare.presses"
    for ((i = 0; i < 10; i++)); do
        "$rig" probe --starts 1 --latency-ms "$latency" >>"$DIR/bare.presses" && sleep 0.2
        start=$(press START)
        echo "$start $(press START --at $((start + 1000000000 + lead - (10 + (i % 8) * 5) * 1000000))) 120" >>"$DIR/$name.presses"
        sleep 0.6
    done
    close_program && end_record
    analyse "$name" 120 --bare "$DIR/bare.presses"
    row series "$(value bare_start_latency_ms) | $(value start_latency_ms) | $(value start_over_bare_ms) | $(value pattern_runs | tr ',' ' ') | $(value stop_before_beat_ms | tr ',' ' ') | $(value clicks_after_stop)"
}

# The program is held still while the server and the recorder start, as in late(). On
# PulseAudio that also keeps the null sink's first client a recorder: a null sink that has
# just started has mixed two seconds ahead, and when a playback stream is its first client it
# cannot take them back (the first click came 1.5 to 2.1 s after the server answered); a
# sink device rewinds over all it holds.
lost() {
    local name=lost grid ahead before
    start_program && sleep 0.5
    record "before-$name"
    echo "$(press START) 0 120" >"$DIR/before-$name.presses"
    sleep 2 && end_record
    analyse "before-$name" 120 && grid="$(value last_click_ns)" before="$(value worst_deviation_samples)"
    # A cycle the server missed moves the clicks after it, not the run's first: its grid then.
    awk "BEGIN { exit !($before > 1) }" && grid="$(value first_click_ns)"
    crash "$PULSE_PID" && sleep 1
    kill -0 "$PROGRAM" 2>/dev/null || fail "the program ended when its sound server died"
    kill -STOP "$PROGRAM"
    restart_pulse && ahead="$(sink_latency now)" && record "$name" && sleep 0.3
    echo "$(now) 0 120" >"$DIR/$name.presses"
    kill -CONT "$PROGRAM" && sleep 6
    end_record && close_program
    analyse "$name" 120 --grid "$grid" && check_frames lost
    row losses "$ahead | $(value start_latency_ms) | $(value clicks) | $(value pattern_summary) | $(value worst_deviation_samples) | $(value grid_worst_ms) | $before"
    check "lost: clicks again within 2 s of the server's answer" "$(value start_latency_ms) <= 2000"
    check_intervals "lost: every interval after that within 1 ms"
    check "lost: no click cut" "index(\"$(value pattern)\", \"?\") == 0"
    # Within 0.3 ms in most runs; a grid that moves is 5 to 100 ms off. Where the server moved
    # the stream, up to there (the frame log shows the clicks after played where written).
    check "lost: every click within 4 ms of the grid it had$([[ "$(value server_moved)" =~ ^[1-9] ]] &&
        echo ", up to where the server moved the stream")" "$(value grid_worst_ms) <= 4"
}

stopped() {
    local name=stopped start
    start_program && press START >/dev/null && sleep 1 && press START >/dev/null
    sleep 0.5 && crash "$PULSE_PID" && sleep 1.5 && restart_pulse
    record "$name"
    start=$(press START) && sleep 3
    echo "$start $(press START) 120" >"$DIR/$name.presses"
    sleep 0.3 && close_program && end_record
    analyse "$name" 120 && check_frames stopped
    row stops "$(value start_latency_ms) | $(value pattern_summary) | $(value worst_deviation_samples)"
    check "stopped: the accent first" "substr(\"$(value pattern)\", 1, 1) == \"A\""
    check "stopped: within 2 s of Start" "$(value start_latency_ms) <= 2000"
    check_intervals "stopped: every interval within 1 ms"
}

# The program is held still while the server and the recorder start, so that the recording
# has the first click.
late() {
    local name=late
    start_program && sleep 0.5
    crash "$PULSE_PID" && sleep 0.5
    press START >/dev/null && sleep 3
    kill -STOP "$PROGRAM"
    restart_pulse && record "$name" && sleep 0.3
    echo "$(now) 0 120" >"$DIR/$name.presses"
    kill -CONT "$PROGRAM" && sleep 5
    end_record && close_program
    analyse "$name" 120 && check_frames late
    row lates "$(value start_latency_ms) | $(value clicks) | $(value pattern_summary) | $(value worst_deviation_samples)"
    check "late: the accent, then normal clicks" "substr(\"$(value pattern)\", 1, 4) == \"Annn\""
    check "late: the accent within 2 s of the server's answer" "$(value start_latency_ms) <= 2000"
    check_intervals "late: every interval within 1 ms"
}

# Each Start half a beat after a reference click, so that the two tracks do not overlap.
other() {
    local name=other i start t0 runs=10 q=-
    [[ "$mode" == check ]] && runs=3
    start_program && sleep 0.5
    record "$name" "$([[ "$SERVER" == pipewire ]] && echo 4096 || echo 1920)" && sleep 0.5
    t0=$(now) && reference 120 $((3 + runs * 3 / 2))
    : >"$DIR/$name.presses"
    for ((i = 0; i < runs; i++)); do
        start=$(press START --at $((t0 + 1250000000 + i * 1500000000)))
        echo "$start $(press START --at $((start + 1100000000))) 120" >>"$DIR/$name.presses"
    done
    sleep 0.5 && close_program && end_record
    analyse "$name" 120 && check_frames "other sound"
    [[ "$SERVER" == pipewire ]] && q="$(cycles)"
    row others "$q | $(value pattern_runs | tr ',' ' ') | $(value worst_deviation_samples) | $(value start_latency_ms) | $(value reference_clicks) | $(value reference_worst_deviation_samples)"
    check "other sound: each run the accent, then normal clicks" "\"$(value pattern_runs)\" ~ /^An+(,An+)*$/"
    check_intervals "other sound: every interval within 1 ms, the first included"
    [[ "$SERVER" == pipewire ]] &&
        check "other sound: the graph's quantum left alone" "$(cycles | grep -o ' x ' | wc -l) == 1"
    return 0
}

# Heap under memcheck (through vgdb), or with --plain the resident size without the sound
# library's shared pool, sampled every 30 s; leaks at the end.
soak() {
    local heaps=() i verdict=0 t start log
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$DIR/no-session-bus"  # no forked dbus-launch
    if ((plain)); then
        spawn program "$program"
    else
        command -v valgrind >/dev/null || fail "valgrind is missing (bash scripts/install-deps.sh --tests)"
        spawn program valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect \
            --errors-for-leak-kinds=definite --num-callers=40 --vgdb=yes --vgdb-prefix="$DIR/vgdb" \
            --log-file="$DIR/memcheck.%p.log" "$program"
    fi
    PROGRAM=$LAST
    "$rig" drive wait-window "$TITLE" 120 || fail "no window after two minutes"
    "$rig" drive focus "$TITLE" >/dev/null && sleep 2
    press START >/dev/null && set_tempo 200 && sleep 5
    pactl list sink-inputs | grep -q "Corked: no" || fail "no stream plays after Start"
    start=$(date +%s)
    while :; do
        t=$(($(date +%s) - start))
        kill -0 "$PROGRAM" 2>/dev/null || fail "the program ended by itself after $t s"
        if ((plain)); then
            heaps+=("$(($(awk '/^VmRSS:/ { print $2 * 1024 }' "/proc/$PROGRAM/status") - $(awk '/^[0-9a-f]+-[0-9a-f]+ / { pool = ($0 ~ /pulse|memfd/) } pool && /^Rss:/ { s += $2 } END { print s * 1024 }' "/proc/$PROGRAM/smaps")))")
        else
            heaps+=("$(vgdb --pid="$PROGRAM" --vgdb-prefix="$DIR/vgdb" leak_check summary 2>/dev/null |
                awk '/(definitely|indirectly|possibly) lost:|still reachable:/ { l = $0; sub(/.*: */, "", l); split(l, n, " "); gsub(",", "", n[1]); s += n[1] } END { print s + 0 }')")
        fi
        echo "$t s: ${heaps[-1]} bytes"
        ((t >= minutes * 60)) && break || sleep 30
    done
    if ((plain)); then close_program; else press CLOSE >/dev/null; for ((i = 0; i < 240; i++)); do kill -0 "$PROGRAM" 2>/dev/null || break && sleep 0.5; done; stop "$PROGRAM" || true; fi
    # Flat: no larger at the end than after the first minute, give or take the libraries' churn.
    check "soak: the heap stays flat (${heaps[2]:-${heaps[0]}} then ${heaps[-1]} bytes)" "${heaps[-1]} - ${heaps[2]:-${heaps[0]}} <= $( ((plain)) && echo 1048576 || echo 65536)"
    ((plain)) && return
    log="$DIR/memcheck.$PROGRAM.log"
    # Blocks lost, and errors, with a frame in our code (every stack passes through main); the
    # system's libraries (glib, libdbus, fontconfig, xcb) keep some blocks for good.
    check "soak: memcheck finished its report" "$(grep -c 'definitely lost:' "$log") > 0"
    check "soak: nothing lost or misread in our code" "$(awk '/^==[0-9]+== [A-Z]/ && /(lost in loss record|Invalid|uninitialised|Conditional)/ { inside = 1; mine = 0; next }
        inside && /^==[0-9]+== *$/ { n += mine; inside = 0; next } inside && /vindelor::/ { mine = 1 } END { print n + 0 }' "$log") == 0"
}

# --- the runs -----------------------------------------------------------------------------------

runs=() costs=() series=() losses=() stops=() lates=() others=()
run120=60 run70=30 quiet=10
((quick)) && run120=15 run70=10 quiet=5
[[ "$mode" == check ]] && run120=4 run70=4 quiet=1
if [[ "$mode" == micro ]]; then
    begin && start_sound pulseaudio && "$build/bench/tick_bench" "$@"
    exit
fi
if [[ "$mode" == soak ]]; then
    KEEP=1 && begin && start_sound "${servers%% *}" && start_display && soak
    exit $((failures > 0))
fi
for server in $servers; do
    begin
    ((busy)) && spawn busy bash -c 'while :; do :; done'
    start_sound "$server"
    start_display
    for scenario in cpu long starts lost stopped late other; do
        [[ -n "$only" && "$only" != "$scenario" ]] && continue
        [[ "$mode" == check && "$scenario" =~ ^(cpu|starts)$ ]] && continue
        FRAMES=""  # no program of this scenario has left its log yet
        case "$scenario" in
            long) long 120 "$run120" && long 70 "$run70" ;;
            *) "$scenario" ;;
        esac
        echo "$server, $scenario done" >&2
    done
    cleanup
done
if [[ "$mode" == check ]]; then
    exit $((failures > 0))
fi
((failures == 0)) || echo "rig: $failures checks failed (above)" >&2
table() {  # table HEADER ROW...
    local header="$1" && shift
    (($#)) || return 0
    echo && echo "| server | $header |" && echo "$header" | awk -F'|' '{ s = "|---|"; for (i = 1; i <= NF; i++) s = s "---|"; print s }'
    printf '%s\n' "$@"
}
table "run | clicks | pattern | mean interval (ms) | worst deviation (samples) | written off the grid / played against written, worst (samples) | the server moved the stream (samples) | reference's worst (samples) | start latency (ms) | clicks after Stop | our CPU running (%) | our CPU stopped (%) | our RSS (MB) | sink latency (ms) | quantum" "${runs[@]}"
table "server CPU % (wake-ups/s), alone | with paplay playing clicks | with paplay at the program's quantum | with the program stopped | with the program running at 120 BPM | sink latency, paplay / program (ms) | own CPU, paplay / the program (%)" "${costs[@]}"
table "bare stream's start, least / median / most (ms) | the program's start (ms) | the program's over the bare stream's, Start by Start (ms) | runs (kinds heard) | Stop before the beat (ms) | clicks after Stop" "${series[@]}"
table "the sink's own latency as it answers (ms) | first click after the server answers (ms) | clicks in 6 s | pattern | worst deviation (samples) | off the grid before (ms) | worst deviation before the loss (samples)" "${losses[@]}"
table "lost while stopped, Start as it is back: first click after Start (ms) | pattern | worst deviation (samples)" "${stops[@]}"
table "Start 3 s before the server: first click after it answers (ms) | clicks in 5 s | pattern | worst deviation (samples)" "${lates[@]}"
table "other sound: the graph's cycles (count x frames) | runs (kinds heard) | worst deviation, first interval included (samples) | start latency (ms) | reference clicks | reference's worst deviation (samples)" "${others[@]}"
