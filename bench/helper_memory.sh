#!/usr/bin/env bash
# tarnwick-helper's peak resident memory (VmHWM) under owner requests for
# sockets that no process holds: REQUESTS requests (default 20) of SOCKETS
# fresh random socket numbers each (default 1,000,000, the most one request
# may name), from tarnwick-helper-memory. Run as root (or with a helper that
# holds its capabilities): a helper without them answers no owner request.
#
# Prints the table (request, its time in ms, VmHWM in kB after it) and the
# highest VmHWM against the goal: below LIMIT_MIB (default 64) MiB. Exits 1
# above it. Saved in bench/results/helper-memory-<time>.txt.
#
# Usage: bench/helper_memory.sh [HELPER]   (default: the bench tree's)
# Settings: REQUESTS, SOCKETS, LIMIT_MIB, BENCH_TREE (default build/bench),
#   SKIP_BUILD=1 (use that tree as it is).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BENCH_TREE:-build/bench}
source bench/bench_lib.sh
[ "${SKIP_BUILD:-0}" = 1 ] || build_bench_tree "$build"
helper=${1:-$build/app/tarnwick-helper}
limit_mib=${LIMIT_MIB:-64}
name_report helper-memory

"$build/bench/tarnwick-helper-memory" "$helper" "${REQUESTS:-20}" "${SOCKETS:-1000000}" | tee "$report"
peak=$(awk 'NR > 1 && $3 > peak {peak = $3} END {print peak}' "$report")
verdict=$(awk -v peak="$peak" -v limit="$limit_mib" 'BEGIN {print (peak < limit * 1024) ? "ok" : "OVER"}')
echo "highest VmHWM: $peak kB (goal: below $limit_mib MiB): $verdict" | tee -a "$report"
[ "$verdict" = ok ]
