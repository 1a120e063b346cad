#!/usr/bin/env bash
# The real program on a real sound server, driven as a user drives it.
#
#   run_e2e.sh PROGRAM RIG_BIN CHECKER
#
# Starts a private PulseAudio (48 kHz null sink) and an Xvfb, records the sink's monitor,
# starts PROGRAM and, through XTest: presses "&Start" (120 BPM, "4 / 4" at start), presses
# the spin button's upper half 2.25 s later, "&Stop" 1.9 s after that, and "&Avbryt" 1.5 s
# later. CHECKER (Google Test) then judges the recording; this script checks that the program
# ended with status 0. Installs nothing: scripts/install-deps.sh --tests does that. Everything
# it starts is ended on exit, also on failure.
set -euo pipefail

[[ $# -eq 3 ]] || { echo "usage: run_e2e.sh PROGRAM RIG_BIN CHECKER" >&2; exit 2; }
program="$1"
RIG_BIN="$2"
checker="$3"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../bench/rig/rig_env.sh"

rig_begin_test
rig_start_sound
rig_start_display
rig_start_recorder e2e
rig_start_program "$program"
sleep 0.5

start="$(rig_press START_BUTTON)"
spin="$(rig_press SPIN_UP --at $((start + 2250000000)))"
# Halfway between two beats at the new tempo, well clear of any queued click.
stop="$(rig_press START_BUTTON --at $((spin + 1900000000)))"
sleep 1.5
rig_close_program || true
sleep 0.2
rig_stop_recorder

E2E_RECORDING="$RIG_RECORDING.wav" E2E_TIMING="$RIG_RECORDING.timing" \
    E2E_START_NS="$start" E2E_SPIN_NS="$spin" E2E_STOP_NS="$stop" "$checker"

if [[ -z "${RIG_PROGRAM_STATUS:-}" ]]; then
    echo "FAILED: the program did not end when \"&Avbryt\" was pressed" >&2
    exit 1
fi
if ((RIG_PROGRAM_STATUS != 0)); then
    echo "FAILED: the program ended with status $RIG_PROGRAM_STATUS after \"&Avbryt\"" >&2
    exit 1
fi
echo "\"&Avbryt\" ended the program with status 0"
