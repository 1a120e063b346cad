#!/usr/bin/env bash
# Takes docs/screenshot.png: starts the built program on a virtual X screen, as a user would,
# and photographs its window once it has painted.
#   screenshot.sh [program]    program defaults to build/vindelor
# Needs xvfb, xdotool and imagemagick (install-deps.sh --tests).
set -euo pipefail
cd "$(dirname "$0")/.."

program=${1:-build/vindelor}
output=docs/screenshot.png
if [[ ! -x "$program" ]]; then
    echo "screenshot.sh: no program at $program; build it first" >&2
    exit 1
fi

workdir=$(mktemp -d)
display=:$((90 + RANDOM % 100))
xvfbPid=""
programPid=""
cleanup() {
    [[ -n "$programPid" ]] && kill "$programPid" 2>/dev/null || true
    [[ -n "$xvfbPid" ]] && kill "$xvfbPid" 2>/dev/null || true
    rm -rf "$workdir"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfbPid=$!
for _ in $(seq 50); do
    DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done

mkdir -m 700 "$workdir/runtime"
DISPLAY=$display XDG_RUNTIME_DIR="$workdir/runtime" QT_QPA_PLATFORM=xcb "$program" &
programPid=$!
window=$(DISPLAY=$display timeout 20 xdotool search --sync --onlyvisible --name 'Vindelor' | head -1)
sleep 1  # let it paint

DISPLAY=$display import -window root "$workdir/root.png"
read -r x y width height < <(DISPLAY=$display xwininfo -id "$window" |
    awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
         /Width:/ {w=$NF} /Height:/ {h=$NF} END {print x, y, w, h}')
mkdir -p "$(dirname "$output")"
convert "$workdir/root.png" -crop "${width}x${height}+${x}+${y}" +repage -strip \
    -define png:exclude-chunks=date,time "$output"
echo "wrote $output (${width}x${height})"
