# A private sound server and X display for measuring and testing the real program.
# Source this file from bash; it defines functions only:
#   rig_begin            makes the private folder (RIG_DIR) and arms cleanup on exit
#   rig_begin_test       the same, showing the logs' tails first when the test fails
#   rig_start_sound [pulseaudio|pipewire]   a sound server of our own with one 48 kHz null
#                        sink, RIG_SINK; rig_restart_pulse starts its pulse server again
#   rig_server_cpu_ns, rig_server_wakeups, rig_sink_latency   the server's CPU and times it
#                        slept and woke so far, the sink's latency
#   rig_start_display    an Xvfb on a free display, its keyboard and pointer those of XTest
#                        when RIG_BIN is set; exports DISPLAY
#   rig_spawn NAME CMD…  runs CMD in the background, logging to $RIG_DIR/NAME.log, and
#                        remembers its pid so that cleanup ends it; sets RIG_LAST_PID
#   rig_stop PID         ends one process started here (TERM, then KILL after 3 s); returns
#                        its exit status
#   rig_crash PID        kills one process started here at once, as a crash would
#   rig_cleanup          ends everything started here, newest first, and removes RIG_DIR
#   rig_start_recorder NAME   records what the sink plays into $RIG_DIR/NAME.wav, with its
#                        timing log in $RIG_DIR/NAME.timing; RIG_RECORDER_PID
#   rig_stop_recorder    ends the recording; fails if samples were lost
#   rig_start_reference BPM SECONDS   plays a regular track of reference clicks
#   rig_start_program EXE     starts the program, waits for its window and for its connection
#                        to the sound server; RIG_PROGRAM_PID
#   rig_close_program    presses "&Avbryt" and waits for the program to end; RIG_PROGRAM_STATUS
# The tools are taken from RIG_BIN (rig_record_pulse, rig_xtest, ...).
# Nothing here touches the desktop's own server or display: every client started after
# rig_start_sound talks only to the private server through PULSE_SERVER.

RIG_PIDS=()
RIG_DIR=""
RIG_KEEP="${RIG_KEEP:-0}"

rig_begin() {
    RIG_DIR="$(mktemp -d /tmp/vindelor-rig.XXXXXX)"
    chmod 700 "$RIG_DIR"
    trap rig_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

# rig_begin for a test: on failure, the tail of every log is shown before the cleanup.
rig_begin_test() {
    rig_begin
    trap 'status=$?; if ((status != 0)); then for log in "$RIG_DIR"/*.log; do echo "--- ${log##*/}"; tail -n 20 "$log"; done; fi; rig_cleanup' EXIT
}

rig_spawn() {
    local name="$1"
    shift
    "$@" >"$RIG_DIR/$name.log" 2>&1 &
    RIG_LAST_PID=$!
    RIG_PIDS+=("$RIG_LAST_PID")
}

# Forgets a pid once it has been waited for, so that cleanup never signals a pid that the
# system may have handed to another process since.
rig_forget() {
    local pid="$1" i kept=()
    for i in "${RIG_PIDS[@]}"; do
        [[ "$i" == "$pid" ]] || kept+=("$i")
    done
    RIG_PIDS=("${kept[@]}")
}

rig_stop() {
    local pid="$1" i status=0
    # bash reports a job ended by a signal on stderr whenever it notices; a stop is expected.
    {
        kill -TERM "$pid" || true
        for ((i = 0; i < 30; i++)); do
            kill -0 "$pid" || break
            sleep 0.1
        done
        kill -KILL "$pid" || true
        wait "$pid" || status=$?
    } 2>/dev/null
    rig_forget "$pid"
    return "$status"
}

rig_crash() {
    { kill -KILL "$1"; rig_stop "$1"; } 2>/dev/null || true
}

rig_cleanup() {
    local i
    local pids=("${RIG_PIDS[@]}")
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        rig_stop "${pids[i]}" || true
    done
    RIG_PIDS=()
    if [[ -n "$RIG_DIR" && -d "$RIG_DIR" ]]; then
        if [[ "$RIG_KEEP" == 1 ]]; then
            echo "rig: kept $RIG_DIR" >&2
        else
            rm -rf "$RIG_DIR"
        fi
    fi
}

rig_fail() {
    echo "rig: $*" >&2
    exit 1
}

# A sound server of our own, as a desktop runs it: rig_start_sound [pulseaudio|pipewire]
# (default $RIG_SERVER, else pulseaudio). Either way as root, its state, runtime and config
# folders in RIG_DIR, one 48 kHz null sink named RIG_SINK that is the default, a unix socket
# that clients reach through PULSE_SERVER, and no client autospawning another server.
#   pulseaudio: only the null sink (rewinds on, as a desktop's sinks rewind) and the socket.
#   pipewire:   pipewire, wireplumber and pipewire-pulse on a session bus of their own; the
#               sink is PipeWire's own, so that it outlives a restart of pipewire-pulse.
# Sets RIG_SERVER, RIG_PULSE_PID (the process clients talk to) and RIG_SERVER_PIDS (all of
# the server's processes, for their CPU).
rig_start_sound() {
    RIG_SERVER="${1:-${RIG_SERVER:-pulseaudio}}"
    command -v pactl >/dev/null || rig_fail "pactl is missing (bash scripts/install-deps.sh --tests)"
    local home="$RIG_DIR/home" run="$RIG_DIR/run"
    mkdir -p "$home/.config/pulse" "$home/.config/pipewire/pipewire.conf.d" "$run/pulse"
    chmod 700 "$home" "$run"
    printf 'autospawn = no\n' >"$home/.config/pulse/client.conf"
    export HOME="$home" XDG_RUNTIME_DIR="$run" XDG_CONFIG_HOME="$home/.config"
    export XDG_STATE_HOME="$home/.state" PIPEWIRE_RUNTIME_DIR="$run"
    export PULSE_RUNTIME_PATH="$run/pulse" PULSE_STATE_PATH="$home/state"
    export PULSE_CLIENTCONFIG="$home/.config/pulse/client.conf"
    export PULSE_SERVER="unix:$run/pulse/native"
    RIG_SINK=rig
    case "$RIG_SERVER" in
        pulseaudio) rig_start_pulseaudio ;;
        pipewire) rig_start_pipewire ;;
        *) rig_fail "no such sound server: $RIG_SERVER (pulseaudio or pipewire)" ;;
    esac
}

rig_start_pulseaudio() {
    command -v pulseaudio >/dev/null || rig_fail "pulseaudio is missing (bash scripts/install-deps.sh --tests)"
    rig_spawn pulseaudio pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
        --log-target=stderr --log-level=${RIG_PA_LOG:-error} \
        -L "module-null-sink sink_name=$RIG_SINK rate=48000" \
        -L "module-native-protocol-unix auth-anonymous=1 socket=$XDG_RUNTIME_DIR/pulse/native"
    RIG_PULSE_PID=$RIG_LAST_PID
    RIG_SERVER_PIDS=("$RIG_PULSE_PID")
    rig_wait_for_sink pulseaudio
}

rig_start_pipewire() {
    command -v pipewire-pulse >/dev/null || rig_fail "pipewire-pulse is missing (bash scripts/install-deps.sh --tests)"
    cat >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/rig-sink.conf" <<CONF
context.objects = [ { factory = adapter args = { factory.name = support.null-audio-sink
    node.name = "$RIG_SINK" media.class = "Audio/Sink" audio.rate = 48000 audio.channels = 2
    audio.position = [ FL FR ] monitor.channel-volumes = true object.linger = true
    node.driver = true } } ]
CONF
    # WirePlumber's Bluetooth monitor needs logind's seats, which a bare machine or container
    # lacks; without them WirePlumber leaves, and with it the default sink. The rig needs no
    # Bluetooth.
    mkdir -p "$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d"
    printf 'bluez_monitor.enabled = false\n' >"$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d/51-rig.lua"
    # WirePlumber wants a session bus.
    rig_spawn dbus dbus-daemon --session --nofork --address="unix:path=$XDG_RUNTIME_DIR/bus"
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
    local i
    for ((i = 0; i < 50; i++)); do
        [[ -S "$XDG_RUNTIME_DIR/bus" ]] && break
        sleep 0.02
    done
    rig_spawn pipewire pipewire
    RIG_SERVER_PIDS=("$RIG_LAST_PID")
    # Its clients fail at once if it does not answer yet.
    for ((i = 0; i < 100; i++)); do
        [[ -S "$XDG_RUNTIME_DIR/pipewire-0" ]] && break
        sleep 0.02
    done
    rig_spawn wireplumber wireplumber
    RIG_SERVER_PIDS+=("$RIG_LAST_PID")
    rig_start_pipewire_pulse
}

# pipewire-pulse alone: the pulse server of a running PipeWire, started again after a crash.
rig_start_pipewire_pulse() {
    rig_spawn pipewire-pulse pipewire-pulse
    RIG_PULSE_PID=$RIG_LAST_PID
    RIG_SERVER_PIDS=("${RIG_SERVER_PIDS[@]:0:2}" "$RIG_PULSE_PID")
    rig_wait_for_sink pipewire-pulse
}

rig_wait_for_sink() {
    local i
    for ((i = 0; i < 100; i++)); do
        if pactl list sinks short 2>/dev/null | grep -q "^[0-9]*[[:space:]]$RIG_SINK[[:space:]]"; then
            pactl set-default-sink "$RIG_SINK" >/dev/null 2>&1 && return 0
        fi
        kill -0 "$RIG_PULSE_PID" 2>/dev/null || break
        sleep 0.05
    done
    cat "$RIG_DIR/$1.log" >&2
    rig_fail "the private sound server ($RIG_SERVER) did not start"
}

# Starts the pulse server again after it was killed: the whole PulseAudio, or pipewire-pulse.
rig_restart_pulse() {
    if [[ "$RIG_SERVER" == pipewire ]]; then
        rig_start_pipewire_pulse
    else
        rig_start_pulseaudio
    fi
}

# Prints the server's CPU time so far, in ns, summed over its processes' threads.
rig_server_cpu_ns() {
    local pid total=0 ns rest file
    for pid in "${RIG_SERVER_PIDS[@]}"; do
        for file in /proc/"$pid"/task/*/schedstat; do
            read -r ns rest <"$file" 2>/dev/null || continue
            total=$((total + ns))
        done
    done
    echo "$total"
}

rig_server_wakeups() {
    local pid total=0 file
    for pid in "${RIG_SERVER_PIDS[@]}"; do
        for file in /proc/"$pid"/task/*/status; do
            total=$((total + $(awk '/^voluntary_ctxt_switches/ { print $2 }' "$file" 2>/dev/null || echo 0)))
        done
    done
    echo "$total"
}

# Prints the sink's latency as the server reports it, in ms: the configured one on PulseAudio,
# or with "now" what the sink has mixed ahead at this moment; on PipeWire, which reports none,
# "-".
rig_sink_latency() {
    if [[ "$RIG_SERVER" == pipewire ]]; then
        echo "-"
        return
    fi
    local field=configured
    [[ "${1:-}" == now ]] && field=Latency:
    pactl list sinks 2>/dev/null | awk -v sink="$RIG_SINK" -v field="$field" '
        /^[[:space:]]*Name:/ { mine = ($2 == sink) }
        mine && /configured/ { for (i = 1; i <= NF; i++) if ($i == field) printf "%.1f\n", $(i + 1) / 1000 }'
}

rig_start_display() {
    command -v Xvfb >/dev/null || rig_fail "Xvfb is missing (bash scripts/install-deps.sh --tests)"
    local number="$RIG_DIR/display" i display=""
    : >"$number"
    rig_spawn xvfb Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$number"
    for ((i = 0; i < 100; i++)); do
        read -r display <"$number" || true
        [[ -n "$display" ]] && break
        kill -0 "$RIG_LAST_PID" 2>/dev/null || break
        sleep 0.1
    done
    [[ -n "$display" ]] || rig_fail "Xvfb did not start: $(cat "$RIG_DIR/xvfb.log")"
    export DISPLAY=":$display"
    if [[ -n "${RIG_BIN:-}" ]]; then
        "$RIG_BIN/rig_xtest" use-devices || rig_fail "XTest does not answer on $DISPLAY"
    fi
}

RIG_TITLE="              Vindelor"  # the program's window: 14 blanks, then its name
# Middles of the controls, in the window's client area.
RIG_START_BUTTON=(94 270)   # Command1, "&Start" / "&Stop" (61 x 21 at 64, 260)
RIG_CLOSE_BUTTON=(306 270)  # Command2, "&Avbryt" (61 x 21 at 276, 260)
RIG_SPIN_UP=(224 45)        # the upper half of SpinButton1 (25 x 101 at 212, 20)
RIG_TEMPO_BOX=(222 139)     # Text1 (37 x 23 at 204, 128)

# Presses a control as a user would; prints the monotonic ns at which the press reached the
# display. rig_press START_BUTTON [--at NS]
rig_press() {
    local -n place="RIG_$1"
    shift
    "$RIG_BIN/rig_xtest" click "$RIG_TITLE" "${place[0]}" "${place[1]}" "$@"
}

# Types a tempo into the tempo box and commits it with Enter.
rig_set_tempo() {
    rig_press TEMPO_BOX >/dev/null &&
        "$RIG_BIN/rig_xtest" keys "$RIG_TITLE" End BackSpace BackSpace BackSpace >/dev/null &&
        "$RIG_BIN/rig_xtest" type "$RIG_TITLE" "$1"$'\n' >/dev/null
}

# Records what the sink plays: on PulseAudio a monitor recording tied to the clock through the
# server's timing replies, asking the sink for 40 ms, within a desktop's usual 20 to 50; on
# PipeWire a recording on PipeWire's own API at the program's quantum, stamped with the
# driver's time. PulseAudio's monitor cannot show what a sink's rewind replaces, and a run's
# first click sounds at once by a rewind: at the program's own 100 ms nothing of it would show,
# at 40 ms its end does (rig_analyse dates it back by what is missing).
# rig_start_recorder NAME [FRAMES]: on PipeWire FRAMES is the latency the recorder asks of the
# graph (default the program's, 1920): 4096 holds the graph at its largest quantum, as a music
# player one practises along with does.
rig_start_recorder() {
    local name="$1" i
    RIG_RECORDING="$RIG_DIR/$name"
    if [[ "$RIG_SERVER" == pipewire ]]; then
        rig_spawn "$name-recorder" "$RIG_BIN/rig_record_pipewire" --sink "$RIG_SINK" \
            --wav "$RIG_RECORDING.wav" --log "$RIG_RECORDING.timing" --latency "${2:-1920}"
    else
        rig_spawn "$name-recorder" "$RIG_BIN/rig_record_pulse" --device "$RIG_SINK.monitor" \
            --wav "$RIG_RECORDING.wav" --log "$RIG_RECORDING.timing" --latency-ms 40
    fi
    RIG_RECORDER_PID=$RIG_LAST_PID
    for ((i = 0; i < 100; i++)); do
        grep -q '^recording' "$RIG_DIR/$name-recorder.log" 2>/dev/null && return 0
        kill -0 "$RIG_RECORDER_PID" 2>/dev/null || break
        sleep 0.05
    done
    rig_fail "the recorder did not start: $(cat "$RIG_DIR/$name-recorder.log")"
}

rig_stop_recorder() {
    rig_stop "$RIG_RECORDER_PID" || rig_fail "the recording $RIG_RECORDING.wav is not whole"
}

# Plays a perfectly regular track of reference clicks ('R') on the same sink, from now on:
# rig_start_reference BPM SECONDS. Started half a beat after the program's first click, its
# clicks fall between the program's, and a hiccup of the machine moves both tracks.
rig_start_reference() {
    "$RIG_BIN/rig_click_track" --out "$RIG_DIR/reference-$1.wav" --bpm "$1" --seconds "$2" \
        --pattern R --lead-in 0
    # A latency of 200 ms leaves the sink's own alone.
    rig_spawn reference paplay --latency-msec=200 "$RIG_DIR/reference-$1.wav"
    RIG_REFERENCE_PID=$RIG_LAST_PID
}

rig_start_program() {
    local exe="$1" i
    [[ -x "$exe" ]] || rig_fail "no program at $exe"
    rig_spawn program "$exe"
    RIG_PROGRAM_PID=$RIG_LAST_PID
    for ((i = 0; i < 30; i++)); do
        "$RIG_BIN/rig_xtest" wait-window "$RIG_TITLE" 0.5 >/dev/null 2>&1 && break
        kill -0 "$RIG_PROGRAM_PID" 2>/dev/null ||
            rig_fail "the program ended before it showed its window: $(cat "$RIG_DIR/program.log")"
    done
    ((i < 30)) || rig_fail "the program showed no window within 15 s: $(cat "$RIG_DIR/program.log")"
    # Xvfb has no window manager to give a new window the focus, as a desktop's does; without
    # it the first press would also ask for the focus, and wait for the X server to give it.
    "$RIG_BIN/rig_xtest" focus "$RIG_TITLE" >/dev/null ||
        rig_fail "the program's window could not be given the focus"
    # The output connects in the background; a press before it has is not what is measured.
    for ((i = 0; i < 100; i++)); do
        pactl list clients 2>/dev/null | grep -q "application.process.id = \"$RIG_PROGRAM_PID\"" &&
            return 0
        sleep 0.05
    done
    echo "rig: the program has not connected to the sound server" >&2
}

rig_close_program() {
    local i
    RIG_PROGRAM_STATUS=""
    rig_press CLOSE_BUTTON >/dev/null || return 1
    for ((i = 0; i < 100; i++)); do
        kill -0 "$RIG_PROGRAM_PID" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$RIG_PROGRAM_PID" 2>/dev/null; then
        echo "rig: the program did not end on \"&Avbryt\"" >&2
        rig_stop "$RIG_PROGRAM_PID" || true
        return 1
    fi
    RIG_PROGRAM_STATUS=0
    wait "$RIG_PROGRAM_PID" || RIG_PROGRAM_STATUS=$?
    rig_forget "$RIG_PROGRAM_PID"
}
