#!/usr/bin/env bash
# Connections too short for any refresh: with `tarnwick-cli watch --interval
# INTERVAL` running, tarnwick-short-lived opens and closes COUNT loopback
# connections, each within 50 ms, all between two refreshes; the script then
# counts the connections that have both a "Connected to" and a "DisConnected
# to" line in the watch's output. One end of each is enough: the client
# closes first, so its end waits in TIME_WAIT and is listed by the tables
# (under the listener's port, the same for all), while the server's end, whose
# remote port is the client's own, ends at once and is known only from the
# kernel's socket-destroy notice.
#
# Usage: bench/short_lived.sh
# Settings: COUNT (default 200), INTERVAL (seconds between refreshes, default 2).
# Prints "N of COUNT"; saved with the watch's output under bench/results/.
set -euo pipefail
cd "$(dirname "$0")/.."

count=${COUNT:-200}
interval=${INTERVAL:-2}

build=build/bench
source bench/bench_lib.sh
name_report short-lived
watch_out="$results/short-lived-$stamp.watch"
ports_file="$results/short-lived-$stamp.ports"

build_bench_tree "$build"
cli="$build/app/tarnwick-cli"
maker="$build/bench/tarnwick-short-lived"

exec > >(tee "$report") 2>&1

watch_pid=
maker_pid=
cleanup() {
    [ -z "$watch_pid" ] || kill "$watch_pid" 2>/dev/null || true
    [ -z "$maker_pid" ] || kill "$maker_pid" 2>/dev/null || true
}
trap cleanup EXIT

echo "short-lived connections, $(date -Is), $(nproc) cores, kernel $(uname -r)"
echo "$count connections, tarnwick-cli watch --interval $interval"

coproc MAKER { exec "$maker" "$count"; }
maker_pid=$MAKER_PID
maker_out=${MAKER[0]}
maker_in=${MAKER[1]}
read -r -t 10 word port <&"$maker_out" && [ "$word" = marker ] || { echo "tarnwick-short-lived did not start" >&2; exit 1; }

"$cli" watch --interval "$interval" >"$watch_out" 2>&1 &
watch_pid=$!

# The marker connection is listed by the first refresh: one has just run.
deadline=$((SECONDS + 20))
until grep -qE "Connected to [^ ]+ On Port:$port\$" "$watch_out"; do
    ((SECONDS < deadline)) || { echo "no refresh listed the marker connection" >&2; exit 1; }
    sleep 0.01
done
listed_at=$EPOCHREALTIME

echo go >&"$maker_in"
: >"$ports_file"
while read -r -t 30 line <&"$maker_out"; do
    case $line in
        done*) read -r _ total longest <<<"$line"; break ;;
        *) echo "$line" >>"$ports_file" ;;
    esac
done
made_at=$EPOCHREALTIME
since_refresh=$(awk -v a="$listed_at" -v b="$made_at" 'BEGIN {printf "%.0f", (b - a) * 1000}')
echo "made in $total ms (longest connection $longest ms), done $since_refresh ms after the refresh that listed the marker"
if ((since_refresh >= interval * 1000)); then
    echo "WARNING: the connections took longer than one interval; a refresh may have listed some of them"
fi

# Let the next refresh run, then end the watch.
sleep $((interval + 1))
kill -INT "$watch_pid"
wait "$watch_pid" || true
watch_pid=
exec {maker_in}>&-
wait "$maker_pid" 2>/dev/null || true
maker_pid=

# A line's port is its last field ("... On Port:N").
found=$(awk 'FNR == NR {want[$1] = 1; next}
             match($0, /On Port:[0-9]+$/) {
                 p = substr($0, RSTART + 8)
                 if ($0 ~ /DisConnected to /) gone[p] = 1
                 else if ($0 ~ /Connected to /) came[p] = 1
             }
             END {n = 0; for (p in want) if (came[p] && gone[p]) n++; print n}' "$ports_file" "$watch_out")
not_shown=$(grep -c "short-lived connection" "$watch_out" || true)
echo "lines saying short-lived connections were not shown: $not_shown"
echo "$found of $count"
