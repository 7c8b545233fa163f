#!/usr/bin/env bash
# tarnwick-cli against ss with both families held open: N IPv4 and M IPv6
# loopback connections (tarnwick-hold-connections N --ipv6 M, the IPv6 ones
# over ::1), against the same N IPv4 connections alone.
#
# For each case, in the same run: the wall time of whole process runs,
# interleaved and repeated, median of each,
#     ss -tanp >/dev/null
#     tarnwick-cli table >/dev/null
# the warm cost of one refresh inside a running tarnwick-cli,
#     (time(watch --interval 0 --count K) - time(... --count 1)) / (K - 1),
# and the TCP rows of each (`ss -tanH` lines, tarnwick-cli's TCP and TCPv6
# rows), which must agree. Then the cost per TCP socket of both cases, and of
# the IPv6 sockets alone: (time with both - time with IPv4 alone) / the
# sockets the IPv6 connections add.
#
# Usage: bench/compare_dual_stack.sh [N [M]]      (default: 10000 10000)
# Settings by environment: REPS (runs of each command per case, default 9),
#   WATCH_K (default 11).
# Everything printed is also saved under bench/results/.
set -euo pipefail
cd "$(dirname "$0")/.."

n4=${1:-10000}
n6=${2:-10000}
reps=${REPS:-9}
watch_k=${WATCH_K:-11}

build=build/bench
source bench/bench_lib.sh
name_report dual-stack
holder_log="$results/holder-$stamp.log"

command -v ss >/dev/null || { echo "compare_dual_stack.sh: ss not found (apt-get install iproute2)" >&2; exit 1; }

build_bench_tree "$build"

cli="$build/app/tarnwick-cli"
holder="$build/bench/tarnwick-hold-connections"

exec > >(tee "$report") 2>&1

echo "tarnwick-cli vs ss with both families, $(date -Is), $(nproc) cores, kernel $(uname -r)"
echo "runs per command and case: $reps (interleaved, alternating order); warm refresh from --count $watch_k vs --count 1"
echo

baseline=$(ss -tanH | wc -l)
if [ "$baseline" -gt 200 ]; then
    echo "WARNING: the host already has $baseline TCP sockets before the holder starts; they are measured too."
    echo
fi

# Measures the running holder's case; prints one line of
#   sockets ss_ms tarnwick_ms warm_refresh_ms tarnwick_tcp_rows
measure() {
    local sockets rows ss_times=() table_times=() watch1_times=() watchk_times=() r
    sockets=$(ss -tanH | wc -l)
    rows=$("$cli" table --no-udp --no-shortnames | awk -F'\t' 'NR > 1 && ($4 == "TCP" || $4 == "TCPv6")' | wc -l)
    ss -tanp >/dev/null
    for ((r = 0; r < reps; r++)); do
        if ((r % 2 == 0)); then
            ss_times+=("$(time_ms ss -tanp)")
            table_times+=("$(time_ms "$cli" table)")
        else
            table_times+=("$(time_ms "$cli" table)")
            ss_times+=("$(time_ms ss -tanp)")
        fi
    done
    for ((r = 0; r < (reps + 2) / 3; r++)); do
        watch1_times+=("$(time_ms "$cli" watch --interval 0 --count 1)")
        watchk_times+=("$(time_ms "$cli" watch --interval 0 --count "$watch_k")")
    done
    echo "  ss ${ss_times[*]}" >&2
    echo "  table ${table_times[*]}" >&2
    echo "  watch --count 1: ${watch1_times[*]}; --count $watch_k: ${watchk_times[*]}" >&2
    local w1 wk
    w1=$(printf '%s\n' "${watch1_times[@]}" | median)
    wk=$(printf '%s\n' "${watchk_times[@]}" | median)
    echo "$sockets $(printf '%s\n' "${ss_times[@]}" | median) $(printf '%s\n' "${table_times[@]}" | median)" \
         "$(awk -v w1="$w1" -v wk="$wk" -v k="$watch_k" 'BEGIN {printf "%.3f", (wk - w1) / (k - 1)}') $rows"
}

echo "IPv4 alone: $n4 connections"
start_holder "$n4"
read -r s4 ss4 t4 w4 rows4 < <(measure)
stop_holder

echo "Both families: $n4 IPv4 and $n6 IPv6 connections"
start_holder "$n4" "$n6"
read -r s46 ss46 t46 w46 rows46 < <(measure)
stop_holder

echo
printf '%-14s %9s %9s %8s %12s %7s %14s %15s %15s\n' "case" "sockets" "tcp rows" "ss ms" "tarnwick ms" "ratio" \
    "warm refr. ms" "us/socket run" "us/socket warm"
awk -v s="$s4" -v r="$rows4" -v ss="$ss4" -v t="$t4" -v w="$w4" \
    'BEGIN {printf "%-14s %9d %9d %8.1f %12.1f %7.2f %14.1f %15.2f %15.2f\n", "IPv4", s, r, ss, t, t / ss, w, 1000 * t / s, 1000 * w / s}'
awk -v s="$s46" -v r="$rows46" -v ss="$ss46" -v t="$t46" -v w="$w46" \
    'BEGIN {printf "%-14s %9d %9d %8.1f %12.1f %7.2f %14.1f %15.2f %15.2f\n", "IPv4 + IPv6", s, r, ss, t, t / ss, w, 1000 * t / s, 1000 * w / s}'
awk -v s4="$s4" -v s="$s46" -v ss4="$ss4" -v ss="$ss46" -v t4="$t4" -v t="$t46" -v w4="$w4" -v w="$w46" \
    'BEGIN {d = s - s4; printf "%-14s %9d %9s %8.1f %12.1f %7.2f %14.1f %15.2f %15.2f\n", "IPv6 added", d, "", ss - ss4, t - t4, (t - t4) / (ss - ss4), w - w4, 1000 * (t - t4) / d, 1000 * (w - w4) / d}'
echo "(ss = ss -tanp; tarnwick = tarnwick-cli table; ratio = tarnwick/ss; medians of whole process runs;"
echo " us/socket = time / TCP sockets of the host; \"IPv6 added\" = the differences between the two cases)"
for pair in "IPv4:$s4:$rows4" "IPv4 + IPv6:$s46:$rows46"; do
    IFS=: read -r name sockets rows <<<"$pair"
    [ "$sockets" = "$rows" ] || echo "WARNING: $name: ss lists $sockets TCP sockets, tarnwick-cli $rows TCP rows"
done

echo
echo "Saved: $report"
