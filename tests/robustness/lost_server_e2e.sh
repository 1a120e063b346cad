#!/usr/bin/env bash
# The real program loses its sound server and gets it back, with no restart.
#
#   lost_server_e2e.sh PROGRAM RIG_BIN CHECKER
#
# On the timing rig's private X display and sound server (bench/rig/rig_env.sh): PROGRAM
# starts while no server runs and Start is pressed; it must run on, silently. Then a server
# comes up and the sink's monitor is recorded for 4 s; the server is killed under the
# running program, which must run on; a server comes up again and is recorded for 4 s.
# CHECKER judges the recordings (clicks within 2 s of each answer, on the beat after). At the
# end "Avbryt" must end the program with status 0, and nothing may have been printed by it.
set -euo pipefail

[[ $# -eq 3 ]] || { echo "usage: lost_server_e2e.sh PROGRAM RIG_BIN CHECKER" >&2; exit 2; }
program="$1"
RIG_BIN="$2"
checker="$3"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../bench/rig/rig_env.sh"

rig_begin_test
rig_start_display

# The server's folders and the clients' settings, then no server: the program starts alone.
rig_start_sound
rig_stop "$RIG_PULSE_PID" || true

rig_spawn program "$program"
RIG_PROGRAM_PID=$RIG_LAST_PID
"$RIG_BIN/rig_xtest" wait-window "$RIG_TITLE" 15 >/dev/null ||
    rig_fail "the program showed no window without a sound server"
rig_press START_BUTTON >/dev/null
sleep 2
kill -0 "$RIG_PROGRAM_PID" 2>/dev/null || rig_fail "the program ended without a sound server"

# Starts a server, notes when it answers, and records its monitor for 4 s as NAME.
serve_and_record() {
    rig_start_sound
    "$checker" --monotonic-ns >"$RIG_DIR/$1.answered"
    rig_start_recorder "$1"
    sleep 4
    rig_stop_recorder
}

serve_and_record first
# As a crash would: no goodbye to the clients.
kill -KILL "$RIG_PULSE_PID"
rig_stop "$RIG_PULSE_PID" || true
sleep 3
kill -0 "$RIG_PROGRAM_PID" 2>/dev/null || rig_fail "the program ended when its sound server died"
serve_and_record second

rig_close_program || rig_fail "\"&Avbryt\" did not end the program"
((RIG_PROGRAM_STATUS == 0)) || rig_fail "the program ended with status $RIG_PROGRAM_STATUS"
if [[ -s "$RIG_DIR/program.log" ]]; then
    rig_fail "the program printed: $(head -c 2000 "$RIG_DIR/program.log")"
fi
LOST_E2E_DIR="$RIG_DIR" "$checker"
