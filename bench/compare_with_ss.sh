#!/usr/bin/env bash
# Measures tarnwick-cli against ss on a host holding N loopback connections
# (tarnwick-hold-connections N: 2 N established rows, both ends on this host).
#
#   1. For each N: the wall time of whole process runs, interleaved and
#      repeated, median of each:
#        ss -tanp >/dev/null               (tables + process owners)
#        tarnwick-cli table >/dev/null     (tables + process owners + process
#                                           list + texts + change detection)
#      and the warm cost of one refresh inside a running tarnwick-cli:
#        (time(watch --interval 0 --count K) - time(... --count 1)) / (K - 1)
#   2. Memory at 10,000 connections: VmRSS of a `watch --interval 0 --count 100`
#      sampled while it runs; it must not grow after the first refreshes.
#   3. bench_change_detection: the cost at 100,000 fake rows against 10,000.
#   4. bench_full_refresh (skip with FULL_REFRESH=0): a refresh and its parts.
#
# Usage: bench/compare_with_ss.sh [N ...]      (default: 1000 10000 50000)
# Settings by environment: REPS (runs of each command per N, default 15),
#   WATCH_K (default 11), MEMORY_N (default 10000), MEMORY_COUNT (default 100),
#   FULL_REFRESH (default 1).
# Everything printed is also saved under bench/results/.
set -euo pipefail
cd "$(dirname "$0")/.."

sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000 50000)
reps=${REPS:-15}
watch_k=${WATCH_K:-11}
memory_n=${MEMORY_N:-10000}
memory_count=${MEMORY_COUNT:-100}
full_refresh=${FULL_REFRESH:-1}

build=build/bench
source bench/bench_lib.sh
name_report compare
holder_log="$results/holder-$stamp.log"

command -v ss >/dev/null || { echo "compare_with_ss.sh: ss not found (apt-get install iproute2)" >&2; exit 1; }

build_bench_tree "$build"

cli="$build/app/tarnwick-cli"
holder="$build/bench/tarnwick-hold-connections"

exec > >(tee "$report") 2>&1


# The host's TCP sockets apart from ours: other traffic makes the numbers wrong.
tcp_socket_count() { ss -tanH | wc -l; }

echo "tarnwick-cli vs ss, $(date -Is), $(nproc) cores, kernel $(uname -r)"
echo "runs per command and size: $reps (interleaved, alternating order); warm refresh from --count $watch_k vs --count 1"
echo

baseline=$(tcp_socket_count)
if [ "$baseline" -gt 200 ]; then
    echo "WARNING: the host already has $baseline TCP sockets before the holder starts; they are measured too."
    echo
fi

rows=()
for n in "${sizes[@]}"; do
    start_holder "$n"
    sockets=$(tcp_socket_count)
    # One untimed run of each, so both start from warm caches.
    "$cli" table >/dev/null
    ss -tanp >/dev/null
    ss_times=() table_times=() watch1_times=() watchk_times=()
    for ((r = 0; r < reps; r++)); do
        if ((r % 2 == 0)); then
            ss_times+=("$(time_ms ss -tanp)")
            table_times+=("$(time_ms "$cli" table)")
        else
            table_times+=("$(time_ms "$cli" table)")
            ss_times+=("$(time_ms ss -tanp)")
        fi
    done
    # The watch runs are longer; a third as many of them suffice for a median.
    for ((r = 0; r < (reps + 2) / 3; r++)); do
        watch1_times+=("$(time_ms "$cli" watch --interval 0 --count 1)")
        watchk_times+=("$(time_ms "$cli" watch --interval 0 --count "$watch_k")")
    done
    stop_holder
    ss_med=$(printf '%s\n' "${ss_times[@]}" | median)
    table_med=$(printf '%s\n' "${table_times[@]}" | median)
    w1=$(printf '%s\n' "${watch1_times[@]}" | median)
    wk=$(printf '%s\n' "${watchk_times[@]}" | median)
    table_min=$(printf '%s\n' "${table_times[@]}" | sort -g | head -n 1)
    rows+=("$(awk -v n="$n" -v s="$sockets" -v ss="$ss_med" -v t="$table_med" -v w1="$w1" -v wk="$wk" -v k="$watch_k" \
        -v tmin="$table_min" \
        'BEGIN {printf "%8d %9d %10.1f %12.1f %7.2f %14.1f %13.1f", n, s, ss, t, t / ss, (wk - w1) / (k - 1), tmin}')")
    echo "N=$n done: ss ${ss_times[*]}"
    echo "          table ${table_times[*]}"
    echo "          watch --count 1: ${watch1_times[*]}; --count $watch_k: ${watchk_times[*]}"
done

echo
printf '%8s %9s %10s %12s %7s %14s %13s\n' "N" "tcp rows" "ss ms" "tarnwick ms" "ratio" "warm refr. ms" "tarnwick min"
printf '%s\n' "${rows[@]}"
echo "(ss = ss -tanp; tarnwick = tarnwick-cli table; ratio = tarnwick/ss; medians of whole process runs;"
echo " tarnwick-cli waits up to 1 s for host names, so a median far above the minimum means slow reverse DNS)"

# ---------------------------------------------------------------- memory
echo
echo "Memory: tarnwick-cli watch --interval 0 --count $memory_count at $memory_n connections"
start_holder "$memory_n"
# The time of the first refresh, to tell which samples follow which refresh.
first_ms=$(for ((r = 0; r < 3; r++)); do time_ms "$cli" watch --interval 0 --count 1; done | median)

samples="$results/rss-$stamp.txt"
: >"$samples"
t0=$EPOCHREALTIME
"$cli" watch --interval 0 --count "$memory_count" >/dev/null &
watch_pid=$!
hwm=0
while :; do
    rss= cur_hwm=
    { while read -r key value _; do
          case $key in
              VmRSS:) rss=$value ;;
              VmHWM:) cur_hwm=$value ;;
          esac
      done </proc/$watch_pid/status; } 2>/dev/null || break
    [ -n "$rss" ] || break
    now=$EPOCHREALTIME
    echo "$(( (${now/./} - ${t0/./}) / 1000 )) $rss" >>"$samples"
    hwm=$cur_hwm
    sleep 0.02
done
wait "$watch_pid"
t1=$EPOCHREALTIME
total_ms=$(( (${t1/./} - ${t0/./}) / 1000 ))
# Refresh k (k >= 2) ends about first + (k - 1) * per, per = (total - first) / (count - 1).
awk -v first="$first_ms" -v total="$total_ms" -v count="$memory_count" -v hwm="$hwm" '
    { t[NR] = $1; rss[NR] = $2 }
    END {
        per = (total - first) / (count - 1)
        at10 = first + 9 * per
        r10 = 0
        for (i = 1; i <= NR; i++) if (t[i] >= at10) { r10 = rss[i]; t10 = t[i]; break }
        if (r10 == 0) { r10 = rss[1]; t10 = t[1] }
        rend = rss[NR]
        grow = rend - r10
        ok = (rend <= r10 * 1.05 || grow <= 2048)
        printf "  samples: %d over %d ms (first refresh ~%.0f ms, then ~%.1f ms each)\n", NR, total, first, per
        printf "  VmRSS after refresh ~10 (%d ms):  %8.1f MiB\n", t10, r10 / 1024
        printf "  VmRSS after refresh ~%d (%d ms): %8.1f MiB\n", count, t[NR], rend / 1024
        printf "  VmHWM (peak):                     %8.1f MiB\n", hwm / 1024
        printf "  growth from refresh 10 to the end: %+.1f MiB  %s (limit: 5%% or 2 MiB)\n", grow / 1024, ok ? "PASS" : "FAIL"
    }' "$samples"
stop_holder

# ---------------------------------------------------------------- fake rows
echo
echo "Change detection over fake rows (bench_change_detection):"
"$build/bench/bench_change_detection" --benchmark_out="$results/change_detection-$stamp.json" \
    --benchmark_out_format=json || echo "bench_change_detection: growth check FAILED"

# ---------------------------------------------------------------- full refresh
if [ "$full_refresh" = 1 ]; then
    echo
    echo "Full refresh with the Linux services (bench_full_refresh):"
    "$build/bench/bench_full_refresh" --benchmark_out="$results/full_refresh-$stamp.json" \
        --benchmark_out_format=json
fi

echo
echo "Saved: $report"
