#!/usr/bin/env bash
# A PulseAudio server of the test's own, that the test can stop and start again.
#
#   private_pulse.sh run PROGRAM [ARGS…]
#       makes a private folder, points HOME, XDG_RUNTIME_DIR and PULSE_* into it, starts a
#       server there with one 48 kHz null sink and a unix socket, runs PROGRAM against it and
#       ends the server and removes the folder afterwards, also when PROGRAM fails. PROGRAM
#       sees PRIVATE_PULSE_DIR and may call this script again:
#   private_pulse.sh stop    ends the server (KILL, as a crash would) and waits until it is gone
#   private_pulse.sh start   starts it again and waits until it answers
#
# The server logs to $PRIVATE_PULSE_DIR/pulseaudio.log; nothing reaches PROGRAM's terminal.
# Nothing here touches a desktop's own sound server: clients are pointed at the private socket
# and never spawn one of their own.
set -euo pipefail

die() {
    echo "private_pulse.sh: $*" >&2
    exit 1
}

server_pid() {
    cat "$PRIVATE_PULSE_DIR/server.pid" 2>/dev/null || true
}

start_server() {
    local run="$PRIVATE_PULSE_DIR/run" pid i
    rm -f "$run/pulse/native"
    # setsid: a server started from inside the test stays out of its process group and terminal.
    setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
        --log-target=stderr --log-level=error \
        -L "module-null-sink sink_name=test rate=48000 norewinds=1" \
        -L "module-native-protocol-unix auth-anonymous=1 socket=$run/pulse/native" \
        </dev/null >>"$PRIVATE_PULSE_DIR/pulseaudio.log" 2>&1 &
    pid=$!
    # Killed on purpose later: the shell is not to announce it.
    disown "$pid"
    echo "$pid" >"$PRIVATE_PULSE_DIR/server.pid"
    for ((i = 0; i < 200; i++)); do
        if pactl info >/dev/null 2>&1; then
            return 0
        fi
        alive "$pid" || break
        sleep 0.05
    done
    cat "$PRIVATE_PULSE_DIR/pulseaudio.log" >&2
    die "the private sound server did not start"
}

# Alive and not a zombie: a server killed here stays one until the shell that started it reaps it.
alive() {
    local state
    state="$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1)" || return 1
    [[ -n "$state" && "$state" != Z ]]
}

stop_server() {
    local pid i
    pid="$(server_pid)"
    [[ -n "$pid" ]] || return 0
    kill -KILL "$pid" 2>/dev/null || true
    for ((i = 0; i < 200; i++)); do
        alive "$pid" || break
        sleep 0.05
    done
    rm -f "$PRIVATE_PULSE_DIR/server.pid"
}

export_environment() {
    local home="$PRIVATE_PULSE_DIR/home" run="$PRIVATE_PULSE_DIR/run"
    export HOME="$home" XDG_RUNTIME_DIR="$run" XDG_CONFIG_HOME="$home/.config"
    export PULSE_RUNTIME_PATH="$run/pulse" PULSE_STATE_PATH="$home/state"
    export PULSE_CLIENTCONFIG="$home/.config/pulse/client.conf"
    export PULSE_SERVER="unix:$run/pulse/native"
    unset PULSE_SINK PULSE_COOKIE DISPLAY
}

case "${1:-}" in
    run)
        shift
        (($#)) || die "run needs a program"
        command -v pulseaudio >/dev/null || die "pulseaudio is missing (scripts/install-deps.sh --tests)"
        command -v pactl >/dev/null || die "pactl is missing (scripts/install-deps.sh --tests)"
        PRIVATE_PULSE_DIR="$(mktemp -d "${TMPDIR:-/tmp}/vindelor-pulse.XXXXXX")"
        export PRIVATE_PULSE_DIR
        cleanup() {
            stop_server
            rm -rf "$PRIVATE_PULSE_DIR"
        }
        trap cleanup EXIT
        trap 'exit 130' INT
        trap 'exit 143' TERM
        mkdir -p "$PRIVATE_PULSE_DIR/home/.config/pulse" "$PRIVATE_PULSE_DIR/run/pulse"
        chmod 700 "$PRIVATE_PULSE_DIR/home" "$PRIVATE_PULSE_DIR/run"
        printf 'autospawn = no\n' >"$PRIVATE_PULSE_DIR/home/.config/pulse/client.conf"
        export_environment
        start_server
        status=0
        "$@" || status=$?
        if ((status != 0)); then
            echo "--- private sound server log ---" >&2
            cat "$PRIVATE_PULSE_DIR/pulseaudio.log" >&2 || true
        fi
        exit "$status"
        ;;
    stop | start)
        [[ -n "${PRIVATE_PULSE_DIR:-}" && -d "$PRIVATE_PULSE_DIR" ]] || die "$1: not inside 'run'"
        export_environment
        if [[ "$1" == stop ]]; then
            stop_server
        else
            stop_server
            start_server
        fi
        ;;
    *)
        die "usage: private_pulse.sh run PROGRAM [ARGS…] | stop | start"
        ;;
esac
