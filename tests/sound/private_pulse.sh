#!/usr/bin/env bash
# A PulseAudio of the test's own that the test can kill and start again:
#   private_pulse.sh run PROGRAM [ARGS…]   a server in a private folder, PROGRAM run against it
#                                          (PRIVATE_PULSE_DIR set), all removed afterwards
#   private_pulse.sh stop | start          from inside PROGRAM: kill it as a crash would, start
#                                          it again; each returns once that is so
#   private_pulse.sh nosink | sink         from inside PROGRAM: take its one sink away (streams
#                                          are refused), give it back
set -euo pipefail
dir="${PRIVATE_PULSE_DIR:-}"
start() {
    # Started from a subshell, the server is no job of this shell, which would report its
    # killing on the terminal.
    (setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-level=error \
        -L "module-null-sink sink_name=test rate=48000" \
        -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/run/pulse/native" \
        </dev/null >>"$dir/server.log" 2>&1 &
        echo $! >"$dir/server.pid")
    for _ in $(seq 200); do pactl info >/dev/null 2>&1 && return 0; sleep 0.05; done
    echo "private_pulse.sh: the server did not start" >&2 && exit 1
}
stop() {
    local pid
    pid="$(cat "$dir/server.pid" 2>/dev/null)" || return 0
    kill -KILL "$pid" 2>/dev/null || true
    while [[ -e /proc/$pid && "$(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null)" != Z ]]; do sleep 0.05; done
    rm -f "$dir/server.pid" "$dir/run/pulse/native"
}
case "${1:-}" in
    run)
        shift
        dir="$(mktemp -d "${TMPDIR:-/tmp}/vindelor-pulse.XXXXXX")"
        trap 'stop; rm -rf "$dir"' EXIT
        mkdir -p -m 700 "$dir/home/.config/pulse" "$dir/run/pulse"
        printf 'autospawn = no\n' >"$dir/home/.config/pulse/client.conf"
        export PRIVATE_PULSE_DIR="$dir" HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run"
        export PULSE_CLIENTCONFIG="$dir/home/.config/pulse/client.conf"
        export PULSE_SERVER="unix:$dir/run/pulse/native"
        start
        "$@" || { status=$?; cat "$dir/server.log" >&2; exit "$status"; }
        ;;
    stop) stop ;;
    start) stop && start ;;
    nosink) pactl unload-module module-null-sink ;;
    sink) pactl load-module module-null-sink sink_name=test rate=48000 >/dev/null ;;
    *) echo "usage: private_pulse.sh run PROGRAM [ARGS…] | stop | start | nosink | sink" >&2 && exit 2 ;;
esac
