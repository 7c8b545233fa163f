#!/usr/bin/env bash
# The window under load: for each N, tarnwick-hold-connections N, then
#   - ss -tanp, timed as whole runs (median), and
#   - the window on a private Xvfb display for SECONDS, built with a
#     statistics observer (tarnwick-window-stats): every periodic refresh
#     prints its duration, its longest hand-over to the window thread and the
#     longest stall of the window thread's event loop (hand-overs, model
#     updates and painting alike);
# and the idle CPU of the window at IDLE_N connections with the default
# 3-second refresh (without the statistics, whose heartbeat costs CPU itself).
#
# Usage: bench/window_refresh.sh [N ...]   (default: 10000 50000)
# Settings: SECONDS_PER_SIZE (default 25), REPS (ss runs, default 9),
#           IDLE_N (default 1000), IDLE_SECONDS (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."

sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 50000)
seconds=${SECONDS_PER_SIZE:-25}
reps=${REPS:-9}
idle_n=${IDLE_N:-1000}
idle_seconds=${IDLE_SECONDS:-60}

build=build/bench
source bench/bench_lib.sh
name_report window
holder_log="$results/holder-$stamp.log"

build_bench_tree "$build"
holder="$build/bench/tarnwick-hold-connections"
window="$build/app/tarnwick"
window_stats="$build/bench/tarnwick-window-stats"

exec > >(tee "$report") 2>&1

start_private_xvfb
trap 'kill "$xvfb" 2>/dev/null || true; if [ -n "$holder_pid" ]; then kill "$holder_pid" 2>/dev/null || true; fi' EXIT
sleep 1

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

echo "tarnwick window under load, $(date -Is), $(nproc) cores, kernel $(uname -r)"
for n in "${sizes[@]}"; do
    start_holder "$n"
    ss -tanp >/dev/null
    ss_times=()
    for ((r = 0; r < reps; r++)); do ss_times+=("$(time_ms ss -tanp)"); done
    stats="$results/window-$stamp-$n.log"
    DISPLAY=$display "$window_stats" 2>"$stats" &
    pid=$!
    sleep "$seconds"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    stop_holder
    echo
    echo "N=$n: ss -tanp median $(printf '%s\n' "${ss_times[@]}" | median) ms"
    grep '^refresh' "$stats" | sed 's/^/  /'
    # The first refresh logs every connection as new; the later ones are the steady state.
    steady=$(grep '^refresh' "$stats" | grep -v '^refresh 1:' || true)
    if [ -n "$steady" ]; then
        median_ms=$(awk '{print $3}' <<<"$steady" | median)
        awk -v m="$median_ms" '{ n++; if ($10 > hand) hand = $10; if ($15 > stall) stall = $15 }
            END { printf "  steady refreshes: %d, median %s ms, longest hand-over %.2f ms, longest stall %.2f ms\n",
                  n, m, hand, stall }' <<<"$steady"
    fi
done

start_holder "$idle_n"
DISPLAY=$display "$window" 2>/dev/null &
pid=$!
sleep 5
t0=$(cpu_ticks "$pid")
sleep "$idle_seconds"
t1=$(cpu_ticks "$pid")
kill "$pid"
wait "$pid" 2>/dev/null || true
stop_holder
echo
awk -v t=$((t1 - t0)) -v s="$idle_seconds" -v n="$idle_n" -v hz="$(getconf CLK_TCK)" \
    'BEGIN { printf "Idle CPU at %d connections, 3 s refresh: %.2f%% of one core over %d s\n", n, 100 * t / hz / s, s }'
echo "Saved: $report"
