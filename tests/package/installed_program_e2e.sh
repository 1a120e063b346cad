#!/usr/bin/env bash
# The installed program, started as a desktop starts it, by the Exec line of its desktop
# entry, through the end-to-end checks on a private PulseAudio (bench/rig/rig.sh --check).
#
#   installed_program_e2e.sh RIG_BIN [DESKTOP_ENTRY]
#
# RIG_BIN is a build's bench/rig folder; DESKTOP_ENTRY defaults to the installed one. Installs
# nothing: scripts/test-package.sh installs the package first.
set -euo pipefail
[[ $# -eq 1 || $# -eq 2 ]] || { echo "usage: installed_program_e2e.sh RIG_BIN [DESKTOP_ENTRY]" >&2; exit 2; }
entry="${2:-/usr/share/applications/org.vindelor.Vindelor.desktop}"
[[ -r "$entry" ]] || { echo "FAILED: no desktop entry at $entry" >&2; exit 1; }
# The main group's Exec line, less the field codes (%f, %U, ...) that a launcher fills in.
read -r -a words <<<"$(sed -n '/^\[Desktop Entry\]/,/^\[/s/^Exec=//p' "$entry" | head -n 1)"
command=()
for word in "${words[@]}"; do
    [[ "$word" == %? ]] || command+=("$word")
done
((${#command[@]} == 1)) || { echo "FAILED: Exec=${words[*]}: not one program" >&2; exit 1; }
program="$(command -v "${command[0]}")" || { echo "FAILED: ${command[0]} is not on the PATH" >&2; exit 1; }
echo "starting $program, the Exec line of $entry"
exec bash "$(dirname "$0")/../../bench/rig/rig.sh" --check --servers pulseaudio --program "$program" \
    --rig "$1/rig"
