#!/usr/bin/env bash
# The cost of a refresh of tarnwick-cli against ss, while N loopback
# connections are held (tarnwick-hold-connections N: 2 N sockets), in one run:
#
#   1. Time: `tarnwick-cli watch --interval 0 --count 6 --stats`, its first
#      refresh and the median of refreshes 2 to 6 (every owner already known),
#      against the median of `ss -tan >/dev/null` runs (no owners), interleaved
#      with them. The median over WATCH_RUNS watches of each figure is taken.
#   2. Memory: peak RSS (/usr/bin/time -f %M) of `tarnwick-cli table >/dev/null`
#      against `ss -tanp >/dev/null`, the median of MEMORY_RUNS runs each.
#
# Prints the ratios and whether they are within the goals: steady refresh at
# most 0.8x ss -tan, first refresh at most 2.0x, peak RSS at most 2x ss -tanp;
# and the first refresh of the runs under a second alone, since a first
# refresh may wait up to a second for the remote hosts' names.
#
# With BASELINE set to another build's tarnwick-cli, that one is measured in
# the same run against the same connections and ss runs, each of its watches
# right after one of this build's: a before and after on equal terms.
#
# With NO_DNS=1 the watches ask a name server that refuses at once (their own
# /etc/resolv.conf, in a private mount namespace: root only), so that a first
# refresh is timed without the wait for the remote hosts' names, which a name
# server that drops bursts of queries stretches to the whole budget.
#
# Usage: bench/compare_refresh.sh [N]      (default 50000)
# Settings by environment: SS_RUNS (default 9), WATCH_RUNS (default 3),
#   MEMORY_RUNS (default 3), WATCH_PAUSE (seconds before each watch, default 2),
#   BASELINE (a tarnwick-cli to compare with), NO_DNS (1: no name server).
# Everything printed is also saved under bench/results/.
set -euo pipefail
cd "$(dirname "$0")/.."

n=${1:-50000}
ss_runs=${SS_RUNS:-9}
watch_runs=${WATCH_RUNS:-3}
memory_runs=${MEMORY_RUNS:-3}

build=build/bench
source bench/bench_lib.sh
name_report refresh
holder_log="$results/holder-$stamp.log"

command -v ss >/dev/null || { echo "compare_refresh.sh: ss not found (apt-get install iproute2)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "compare_refresh.sh: /usr/bin/time not found (apt-get install time)" >&2; exit 1; }

build_bench_tree "$build"

cli="$build/app/tarnwick-cli"
holder="$build/bench/tarnwick-hold-connections"

exec > >(tee "$report") 2>&1

# Peak RSS in KiB of one run of the command, output to /dev/null.
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

echo "tarnwick-cli refresh vs ss, $(date -Is), $(nproc) cores, kernel $(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)$([ "${NO_DNS:-0}" = 1 ] && echo ", no name server")"
start_holder "$n"
sockets=$(ss -tanH | wc -l)
echo "$n connections held: $sockets TCP sockets"
# One untimed run of each, so that both start from warm caches.
ss -tan >/dev/null
"$cli" table >/dev/null

# The builds measured: this one, and the baseline when given.
builds=(tarnwick)
declare -A cli_of=([tarnwick]="$cli")
if [ -n "${BASELINE:-}" ]; then
    [ -x "$BASELINE" ] || { echo "compare_refresh.sh: BASELINE $BASELINE is not a program" >&2; exit 1; }
    builds+=(baseline)
    cli_of[baseline]=$BASELINE
    "$BASELINE" table >/dev/null
fi

# A watch, with or without a name server (NO_DNS).
resolv=$(mktemp)
printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"$resolv"
run_watch() {
    if [ "${NO_DNS:-0}" = 1 ]; then
        unshare -m sh -c 'mount --bind "$0" /etc/resolv.conf && exec "$@"' "$resolv" "$@"
    else
        "$@"
    fi
}

ss_times=()
declare -A first_times steady_times
stats_file=$(mktemp)
for ((r = 0; r < ss_runs; r++)); do
    ss_times+=("$(time_ms ss -tan)")
    ((r < watch_runs)) || continue
    for build in "${builds[@]}"; do
        # Each watch starts with no host name known, so its first refresh asks
        # the resolver for every peer. Some resolvers drop queries that follow
        # another burst closely (this machine's does: a lookup then waits for
        # its 5 s timeout), which the first refresh would wait out for its
        # whole one-second name budget; a pause keeps the bursts apart.
        sleep "${WATCH_PAUSE:-2}"
        run_watch "${cli_of[$build]}" watch --interval 0 --count 6 --stats 2>"$stats_file" >/dev/null
        # "refresh N: T ms"
        first_times[$build]+="$(awk '$1 == "refresh" && $2 == "1:" {print $3}' "$stats_file") "
        steady_times[$build]+="$(awk '$1 == "refresh" && $2 != "1:" {print $3}' "$stats_file" | median) "
        echo "$build watch run $((r + 1)): $(awk '$1 == "refresh" {printf "%s ", $3}' "$stats_file")ms"
    done
done
rm -f "$stats_file" "$resolv"
echo "ss -tan runs: ${ss_times[*]} ms"
ss_med=$(printf '%s\n' "${ss_times[@]}" | median)

declare -A table_kib
ssp_kib=()
for ((r = 0; r < memory_runs; r++)); do
    for build in "${builds[@]}"; do table_kib[$build]+="$(peak_kib "${cli_of[$build]}" table) "; done
    ssp_kib+=("$(peak_kib ss -tanp)")
done
stop_holder
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
ssp_med=$(printf '%s\n' "${ssp_kib[@]}" | median)

for build in "${builds[@]}"; do
    first_med=$(tr ' ' '\n' <<<"${first_times[$build]}" | grep . | median)
    steady_med=$(tr ' ' '\n' <<<"${steady_times[$build]}" | grep . | median)
    table_med=$(tr ' ' '\n' <<<"${table_kib[$build]}" | grep . | median)
    # The first refresh waits up to a second for the remote hosts' names (the
    # host-name budget); a run under a second cannot have spent all of it.
    quick_firsts=$(tr ' ' '\n' <<<"${first_times[$build]}" | awk '$1 != "" && $1 < 1000')
    echo
    echo "$build (${cli_of[$build]}):"
    awk -v ss="$ss_med" -v first="$first_med" -v steady="$steady_med" -v t="$table_med" -v p="$ssp_med" -v n="$n" '
        function verdict(ok) { return ok ? "PASS" : "FAIL" }
        BEGIN {
            printf "%-44s %10s %10s %7s %6s  %s\n", "at " n " connections", "tarnwick", "ss", "ratio", "goal", ""
            printf "%-44s %7.1f ms %7.1f ms %6.2fx %5.1fx  %s\n", "steady refresh (median of 2..6) / ss -tan", steady, ss, steady / ss, 0.8, verdict(steady <= 0.8 * ss)
            printf "%-44s %7.1f ms %7.1f ms %6.2fx %5.1fx  %s\n", "first refresh / ss -tan", first, ss, first / ss, 2.0, verdict(first <= 2 * ss)
            printf "%-44s %6.1f MiB %6.1f MiB %6.2fx %5.1fx  %s\n", "peak RSS: table / ss -tanp", t / 1024, p / 1024, t / p, 2.0, verdict(t <= 2 * p)
        }'
    if [ -n "$quick_firsts" ]; then
        quick_med=$(median <<<"$quick_firsts")
        awk -v ss="$ss_med" -v m="$quick_med" -v k="$(wc -l <<<"$quick_firsts")" -v runs="$watch_runs" 'BEGIN {
            printf "first refresh in the %d of %d runs under 1 s (host-name budget not spent): median %.1f ms, %.2fx ss -tan\n",
                   k, runs, m, m / ss }'
    else
        echo "every first refresh took 1 s or more: the host-name budget may have been spent in all of them"
    fi
done
echo
echo "Saved: $report"
