# A private sound server and X display for measuring and testing the real program.
# Source this file from bash; it defines functions only:
#   rig_begin            makes the private folder (RIG_DIR) and arms cleanup on exit
#   rig_start_sound      a PulseAudio of our own with one 48 kHz null sink, RIG_SINK
#   rig_start_display    an Xvfb on a free display; exports DISPLAY
#   rig_spawn NAME CMD…  runs CMD in the background, logging to $RIG_DIR/NAME.log, and
#                        remembers its pid so that cleanup ends it; sets RIG_LAST_PID
#   rig_stop PID         ends one process started here (TERM, then KILL after 3 s)
#   rig_cleanup          ends everything started here, newest first, and removes RIG_DIR
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

rig_spawn() {
    local name="$1"
    shift
    "$@" >"$RIG_DIR/$name.log" 2>&1 &
    RIG_LAST_PID=$!
    RIG_PIDS+=("$RIG_LAST_PID")
}

rig_stop() {
    local pid="$1" i
    kill -TERM "$pid" 2>/dev/null || return 0
    for ((i = 0; i < 30; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

rig_cleanup() {
    local i
    for ((i = ${#RIG_PIDS[@]} - 1; i >= 0; i--)); do
        rig_stop "${RIG_PIDS[i]}"
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

# PulseAudio as root without --system: its state, runtime and config folders all point into
# RIG_DIR, it loads nothing but the null sink and a unix socket, and clients never autospawn
# another one. norewinds=1 keeps the first milliseconds of a new stream in the monitor.
rig_start_sound() {
    command -v pulseaudio >/dev/null || rig_fail "pulseaudio is missing (bash scripts/install-deps.sh --tests)"
    command -v pactl >/dev/null || rig_fail "pactl is missing (bash scripts/install-deps.sh --tests)"
    local home="$RIG_DIR/home" run="$RIG_DIR/run"
    mkdir -p "$home/.config/pulse" "$run/pulse"
    chmod 700 "$home" "$run"
    printf 'autospawn = no\n' >"$home/.config/pulse/client.conf"
    export HOME="$home" XDG_RUNTIME_DIR="$run" XDG_CONFIG_HOME="$home/.config"
    export PULSE_RUNTIME_PATH="$run/pulse" PULSE_STATE_PATH="$home/state"
    export PULSE_CLIENTCONFIG="$home/.config/pulse/client.conf"
    export PULSE_SERVER="unix:$run/pulse/native"
    RIG_SINK=rig
    rig_spawn pulseaudio pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
        --log-target=stderr --log-level=warning \
        -L "module-null-sink sink_name=$RIG_SINK rate=48000 norewinds=1" \
        -L "module-native-protocol-unix auth-anonymous=1 socket=$run/pulse/native"
    RIG_PULSE_PID=$RIG_LAST_PID
    local i
    for ((i = 0; i < 100; i++)); do
        pactl info >/dev/null 2>&1 && return 0
        kill -0 "$RIG_PULSE_PID" 2>/dev/null || break
        sleep 0.1
    done
    cat "$RIG_DIR/pulseaudio.log" >&2
    rig_fail "the private sound server did not start"
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
}
