#!/usr/bin/env bash
# Measures what an idle velto costs, from outside, over a window: wake-ups
# (voluntary context switches, of the main thread as /proc/PID/status gives
# them and of all threads together), CPU time, resident memory and open
# descriptors. Linux only (/proc).
#
#   tools/measure-idle.sh [PID] [SECONDS]
#
# PID defaults to the one running velto (there must be exactly one), SECONDS
# to 10. Leave velto alone during the window: any datagram it receives wakes it.
set -euo pipefail

pid="${1:-}"
seconds="${2:-10}"
if [ -z "$pid" ]; then
    pids="$(pgrep -x velto || true)"
    if [ -z "$pids" ] || [ "$(wc -w <<<"$pids")" -ne 1 ]; then
        echo "measure-idle: give the PID of the velto to measure (found: ${pids:-none})" >&2
        exit 2
    fi
    pid="$pids"
fi
[ -d "/proc/$pid" ] || { echo "measure-idle: no process $pid" >&2; exit 2; }

field() {  # field FILE NAME: the number after "NAME:"
    awk -v name="$2:" '$1 == name { print $2; exit }' "$1"
}

# Voluntary switches summed over the threads; nanoseconds on the CPU summed
# over the threads (first field of schedstat).
sample() {
    local switches=0 cpu=0 task
    for task in /proc/"$pid"/task/*; do
        switches=$((switches + $(field "$task/status" voluntary_ctxt_switches)))
        cpu=$((cpu + $(awk '{ print $1 }' "$task/schedstat")))
    done
    echo "$(field /proc/"$pid"/status voluntary_ctxt_switches) $switches $cpu"
}

read -r main0 all0 cpu0 < <(sample)
sleep "$seconds"
read -r main1 all1 cpu1 < <(sample)

threads="$(ls /proc/"$pid"/task | wc -l)"
descriptors="$(ls /proc/"$pid"/fd | wc -l)"
rss="$(field /proc/"$pid"/status VmRSS)"
hwm="$(field /proc/"$pid"/status VmHWM)"

echo "velto $pid, idle over $seconds s:"
awk -v d=$((main1 - main0)) -v s="$seconds" 'BEGIN { printf "  wake-ups/s, main thread:   %.2f (%d in all)\n", d / s, d }'
awk -v d=$((all1 - all0)) -v s="$seconds" -v t="$threads" \
    'BEGIN { printf "  wake-ups/s, all %d threads: %.2f (%d in all)\n", t, d / s, d }'
awk -v c=$((cpu1 - cpu0)) -v s="$seconds" \
    'BEGIN { printf "  CPU time:                  %.3f ms (%.5f %% of one core)\n", c / 1e6, c / 1e7 / s }'
echo "  resident memory (VmRSS):   $rss KiB (peak VmHWM $hwm KiB)"
echo "  open descriptors:          $descriptors"
