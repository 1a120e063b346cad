#!/usr/bin/env bash
# The installed program, started as a desktop starts it: by the Exec line of its desktop entry.
#
#   installed_program_e2e.sh RIG_BIN [DESKTOP_ENTRY]
#
# On a private sound server and X display: presses "&Start", checks that clicks sound, presses
# "&Avbryt" and checks that the program ends with status 0. RIG_BIN is a build's bench/rig
# folder; DESKTOP_ENTRY defaults to the installed one. Installs nothing: scripts/test-package.sh
# installs the package first.
set -euo pipefail

if [[ $# -ne 1 && $# -ne 2 ]]; then
    echo "usage: installed_program_e2e.sh RIG_BIN [DESKTOP_ENTRY]" >&2
    exit 2
fi
RIG_BIN="$1"
entry="${2:-/usr/share/applications/org.vindelor.Vindelor.desktop}"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../bench/rig/rig_env.sh"

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# The main group's Exec line, less the field codes (%f, %U, ...) that a launcher fills in.
[[ -r "$entry" ]] || fail "no desktop entry at $entry"
execLine="$(sed -n '/^\[Desktop Entry\]/,/^\[/s/^Exec=//p' "$entry" | head -n 1)"
read -r -a words <<<"$execLine"
command=()
for word in "${words[@]}"; do
    [[ "$word" == %? ]] || command+=("$word")
done
((${#command[@]} == 1)) || fail "Exec=$execLine: the rig starts a program without arguments"
program="$(command -v "${command[0]}")" || fail "Exec=$execLine: ${command[0]} is not on the PATH"
echo "starting $program, the Exec line of $entry"

rig_begin_test
rig_start_sound
rig_start_display
rig_start_recorder installed
rig_start_program "$program"
sleep 0.5
start="$(rig_press START_BUTTON)"
sleep 2.2  # five beats at the starting 120 BPM
rig_close_program || true
sleep 0.2
rig_stop_recorder

echo "$start" >"$RIG_DIR/presses"
report="$("$RIG_BIN/rig_analyse" --wav "$RIG_RECORDING.wav" --timing "$RIG_RECORDING.timing" \
    --bpm 120 --presses "$RIG_DIR/presses")"
clicks="$(sed -n 's/^clicks=//p' <<<"$report")"
pattern="$(sed -n 's/^pattern=//p' <<<"$report")"
((${clicks:-0} >= 3)) || fail "\"&Start\" gave ${clicks:-no} clicks in 2.2 s, not 3 or more"
echo "\"&Start\" gave $clicks clicks ($pattern)"
[[ -n "${RIG_PROGRAM_STATUS:-}" ]] || fail "the program did not end when \"&Avbryt\" was pressed"
((RIG_PROGRAM_STATUS == 0)) ||
    fail "the program ended with status $RIG_PROGRAM_STATUS after \"&Avbryt\""
echo "\"&Avbryt\" ended the program with status 0"
