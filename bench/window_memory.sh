#!/usr/bin/env bash
# The window's resident memory under load: tarnwick-hold-connections N (2 N
# TCP sockets), then the window (tarnwick-window-stats) on a private Xvfb
# display (offscreen where Xvfb is missing) with the fastest refresh the
# options allow (RefreshTime=1, one second) for REFRESHES refreshes. VmRSS
# (/proc/<pid>/status) is sampled every half second from the start and read
# by the program itself after each refresh.
#
# Prints VmRSS after refresh 1 (the start: every connection new, logged and
# listed), after refreshes 10, 100, 500 and the last, the highest of all (after
# any refresh or in any sample, the first refresh's peak included), and the
# growth from refresh 10 to the last, with the goals: below LIMIT_MIB (default
# 150) MiB throughout, and flat: the last within 2 % or 2 MiB of refresh 10.
#
# The window runs from a folder of its own (a copy of the program, so that its
# Option.ini and Logs stay there): the log saves itself as usual, and the
# user's settings are never touched.
#
# Usage: bench/window_memory.sh [N]   (default 50000)
# Settings: REFRESHES (default 1000), LIMIT_MIB (default 150), SKIP_BUILD=1
#   (use build/bench as it is).
set -euo pipefail
cd "$(dirname "$0")/.."

n=${1:-50000}
refreshes=${REFRESHES:-1000}
limit_mib=${LIMIT_MIB:-150}

build=build/bench
results=bench/results
mkdir -p "$results"
stamp=$(date +%Y%m%d-%H%M%S)
report="$results/window-memory-$stamp.txt"
stats="$results/window-memory-$stamp.log"
samples="$results/window-memory-$stamp.rss"
holder_log="$results/holder-$stamp.log"

source bench/bench_lib.sh
[ "${SKIP_BUILD:-0}" = 1 ] || build_bench_tree "$build"
holder="$build/bench/tarnwick-hold-connections"

folder=$(mktemp -d)
cp "$build/bench/tarnwick-window-stats" "$folder/"
printf '[Option]\nAutoRefresh=1\nRefreshTime=1\n' >"$folder/Option.ini"

exec > >(tee "$report") 2>&1

xvfb=
if command -v Xvfb >/dev/null; then
    start_private_xvfb
    export DISPLAY=$display QT_QPA_PLATFORM=xcb
else
    export QT_QPA_PLATFORM=offscreen
fi
trap 'if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; fi
      if [ -n "$holder_pid" ]; then kill "$holder_pid" 2>/dev/null || true; fi
      rm -rf "$folder"' EXIT
sleep 1

echo "tarnwick window memory, $(date -Is), $(nproc) cores, kernel $(uname -r), platform $QT_QPA_PLATFORM"
start_holder "$n"
echo "$n connections held: $(ss -tanH | wc -l) TCP sockets; $refreshes refreshes, one a second"

"$folder/tarnwick-window-stats" --quit-after "$refreshes" 2>"$stats" &
pid=$!
: >"$samples"
while kill -0 "$pid" 2>/dev/null; do
    rss=$(awk '$1 == "VmRSS:" {print $2}' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$rss" ] && echo "$EPOCHREALTIME $rss $(grep -c '^refresh' "$stats" || true)" >>"$samples"
    sleep 0.5
done
wait "$pid" || echo "tarnwick-window-stats ended with status $?"
stop_holder

done_count=$(grep -c '^refresh' "$stats" || true)
echo "refreshes done: $done_count"
grep '^refresh' "$stats" | awk '{print $3}' | median | awk '{printf "median refresh: %s ms\n", $1}'
sampled_peak=$(awk '$2 > m {m = $2} END {print m + 0}' "$samples")
awk -v sampled="$sampled_peak" -v limit="$limit_mib" -v last_n="$done_count" '
    function mib(kb) { return kb / 1024 }
    $1 == "refresh" { n = $2 + 0; rss[n] = $NF == "kB" ? $(NF - 1) : 0; if (rss[n] > peak) peak = rss[n] }
    END {
        if (sampled > peak) peak = sampled
        printf "VmRSS after refresh 1 (every row new) %.1f MiB, 10 %.1f, 100 %.1f, 500 %.1f, %d %.1f MiB\n",
               mib(rss[1]), mib(rss[10]), mib(rss[100]), mib(rss[500]), last_n, mib(rss[last_n])
        printf "highest VmRSS (after any refresh or in a sample) %.1f MiB, goal below %d MiB: %s\n", mib(peak), limit,
               peak < limit * 1024 ? "PASS" : "FAIL"
        grow = rss[last_n] - rss[10]
        flat = grow <= 2048 || grow <= rss[10] * 0.02
        printf "growth from refresh 10 to %d: %+.1f MiB (%+.1f%%), goal within 2%% or 2 MiB: %s\n",
               last_n, mib(grow), rss[10] ? 100 * grow / rss[10] : 0, flat ? "PASS" : "FAIL"
    }' "$stats"
echo "Saved: $report (per refresh: $stats; samples every 0.5 s, time kB refreshes: $samples)"
