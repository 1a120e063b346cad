#!/usr/bin/env bash
# Runs the real program for a while under valgrind's memcheck, clicking at 200 BPM on a private
# sound server and X display, and reports its heap over time and its leaks at the end.
#
#   bash bench/soak/soak.sh [--minutes N] [--program PATH] [--sample-seconds S] [--plain]
#
# Defaults: 10 minutes, build/vindelor, a sample every 30 s. The program is started, Start is
# pressed (Alt+S), the tempo is typed into the box (200, Enter), and the program runs untouched
# until the end, when "Avbryt" (Alt+A) closes it. Heap in use is read from memcheck itself
# (through vgdb) while it runs. Everything is kept in a folder whose name is printed; the
# report is its soak-report.txt. Exits non-zero when memory is definitely lost, when the heap
# grows over the run, or when the program does not run as it should. --plain runs the program
# without valgrind and follows only its resident size, as a user's system would see it.
set -euo pipefail
cd "$(dirname "$0")/../.."
root="$(pwd)"

minutes=10
program="$root/build/vindelor"
sample=30
plain=0
while (($#)); do
    case "$1" in
        --minutes) minutes="$2"; shift 2 ;;
        --program) program="$(realpath "$2")"; shift 2 ;;
        --sample-seconds) sample="$2"; shift 2 ;;
        --plain) plain=1; shift ;;
        *) echo "usage: soak.sh [--minutes N] [--program PATH] [--sample-seconds S] [--plain]" >&2; exit 2 ;;
    esac
done
[[ -x "$program" ]] || { echo "soak: no program at $program (build it first)" >&2; exit 1; }
for tool in valgrind vgdb xdotool Xvfb pulseaudio pactl; do
    command -v "$tool" >/dev/null || {
        echo "soak: $tool is missing (bash scripts/install-deps.sh --tests)" >&2
        exit 1
    }
done

# shellcheck source=../rig/rig_env.sh
source "$root/bench/rig/rig_env.sh"
RIG_KEEP=1  # the logs are the result
rig_begin
rig_start_sound
rig_start_display
# No session bus: Qt would otherwise have libdbus try to launch one, in a forked copy of the
# program that memcheck reports on too.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$RIG_DIR/no-session-bus"
report="$RIG_DIR/soak-report.txt"
say() { echo "$*" | tee -a "$report"; }

if ((plain)); then
    rig_spawn vindelor "$program"
else
    rig_spawn vindelor valgrind --tool=memcheck --leak-check=full \
        --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite --num-callers=40 \
        --vgdb=yes --vgdb-prefix="$RIG_DIR/vgdb" --log-file="$RIG_DIR/memcheck.%p.log" "$program"
fi
pid=$RIG_LAST_PID

# Under memcheck the window takes many seconds to come up.
window=""
for ((i = 0; i < 240; i++)); do
    window="$(xdotool search --onlyvisible --name Vindelor 2>/dev/null | head -n1 || true)"
    [[ -n "$window" ]] && break
    kill -0 "$pid" 2>/dev/null || rig_fail "the program ended before its window showed"
    sleep 0.5
done
[[ -n "$window" ]] || rig_fail "no window after two minutes"
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
sleep 2
xdotool key --window "$window" alt+s
# From Start, Tab moves to the meter list and on to the tempo box.
sleep 1
xdotool key --window "$window" Tab Tab End BackSpace BackSpace BackSpace 2 0 0 Return
sleep 5
if ! pactl list sink-inputs 2>/dev/null | grep -q "Corked: no"; then
    rig_fail "no stream plays after Start: $(pactl list sink-inputs 2>&1 | head -n 20)"
fi

heap_in_use() {
    if ((plain)); then
        echo 0
        return
    fi
    # The sum over memcheck's leak kinds is every block still allocated.
    vgdb --pid="$pid" --vgdb-prefix="$RIG_DIR/vgdb" leak_check summary 2>/dev/null |
        awk '/(definitely|indirectly|possibly) lost:|still reachable:/ {
                 line = $0; sub(/.*: */, "", line); split(line, n, " "); gsub(",", "", n[1])
                 sum += n[1]
             } END { print sum + 0 }'
}
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"; }
# The part of the resident size that is the sound library's shared pool: it fills page by page
# as the stream cycles through it, up to its fixed size, and is no heap.
pool_kb() {
    awk '/^[0-9a-f]+-[0-9a-f]+ / { pool = ($0 ~ /pulse|memfd/) }
         pool && /^Rss:/ { sum += $2 } END { print sum + 0 }' "/proc/$pid/smaps"
}

say "soak: $program $( ((plain)) && echo "on its own" || echo "under memcheck"), 200 BPM, $minutes minutes, folder $RIG_DIR"
say "$(printf '%8s %14s %12s %14s %8s' seconds heap_bytes rss_kb sound_pool_kb playing)"
start=$(date +%s)
end=$((start + minutes * 60))
heaps=()
rsses=()
while :; do
    now=$(date +%s)
    kill -0 "$pid" 2>/dev/null || rig_fail "the program ended by itself after $((now - start)) s"
    playing=no
    pactl list sink-inputs 2>/dev/null | grep -q "Corked: no" && playing=yes
    heap="$(heap_in_use)"
    heaps+=("$heap")
    rsses+=("$(($(rss_kb) - $(pool_kb)))")
    say "$(printf '%8d %14d %12d %14d %8s' $((now - start)) "$heap" "$(rss_kb)" "$(pool_kb)" "$playing")"
    ((now >= end)) && break
    sleep "$sample"
done

xdotool key --window "$window" alt+a
for ((i = 0; i < 240; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
done
status=0
rig_stop "$pid" || status=$?

if ((plain)); then
    settled="${rsses[2]:-${rsses[0]}}"
    growth=$((${rsses[-1]} - settled))
    say "exit status: $status"
    say "resident size without the sound pool, after a minute: $settled kB, at the end: ${rsses[-1]} kB, growth: $growth kB"
    if ((status == 0 && growth <= 1024)); then
        say "PASS: flat"
        exit 0
    fi
    say "FAIL: $( ((status != 0)) && echo "the program failed" || echo "it grew")"
    exit 1
fi

log="$RIG_DIR/memcheck.$pid.log"
summary() { grep -E "$1" "$log" | tail -n1 | sed 's/.*: *//; s/ .*//; s/,//g'; }
definite="$(summary 'definitely lost:')"
indirect="$(summary 'indirectly lost:')"
possible="$(summary 'possibly lost:')"
errors="$(grep -E 'ERROR SUMMARY:' "$log" | tail -n1 | awk '{print $4}')"
# Errors whose stack passes through our code; the others are in the system's libraries.
ourErrors="$(awk -v program="$(basename "$program")" '
    /^==[0-9]+== [A-Z]/ && !/(lost|reachable|SUMMARY|Command|Parent|Memcheck|Copyright|Using|HEAP|in use|total heap|Reachable|To see|Use --|For lists|For counts|LEAK)/ {
        inError = 1; mine = 0; next }
    inError && /^==[0-9]+== *$/ { if (mine) count++; inError = 0; next }
    inError && (/vindelor::/ || index($0, "/" program ")")) { mine = 1 }
    END { print count + 0 }' "$log")"
# Of what is definitely lost, the part whose allocation passed through our own code: the rest
# belongs to the system's libraries (glib, libdbus, fontconfig keep such blocks for good).
ours="$(awk -v program="$(basename "$program")" '
    /definitely lost in loss record/ { inRecord = 1; bytes = $2; gsub(",", "", bytes); mine = 0; next }
    inRecord && /^==[0-9]+== *$/ { if (mine) sum += bytes; inRecord = 0; next }
    inRecord && (/vindelor::/ || index($0, "/" program ")")) { mine = 1 }
    END { print sum + 0 }' "$log")"
# Flat: the heap at the end is no larger than after the first full minute, give or take the
# allocator's and the libraries' small churn.
settled="${heaps[2]:-${heaps[0]}}"
last="${heaps[-1]}"
growth=$((last - settled))
say "exit status of valgrind: $status"
say "definitely lost: ${definite:-?} bytes (in our code: $ours), indirectly lost: ${indirect:-?}, possibly lost: ${possible:-?}"
say "memcheck errors (uninitialised reads, bad accesses, definite leaks): ${errors:-?}, of them through our code: $ourErrors"
say "heap after a minute: $settled bytes, at the end: $last bytes, growth: $growth bytes"

verdict=0
[[ -n "$definite" ]] || { say "FAIL: memcheck wrote no leak summary (see $log)"; verdict=1; }
((ours == 0)) || { say "FAIL: memory definitely lost in our code (see $log)"; verdict=1; }
((ourErrors == 0)) || { say "FAIL: memcheck errors in our code (see $log)"; verdict=1; }
((growth <= 65536)) || { say "FAIL: the heap grew over the run"; verdict=1; }
((verdict == 0)) && say "PASS: no leak, flat heap"
exit "$verdict"
