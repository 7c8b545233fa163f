#!/usr/bin/env bash
# Capture under a loopback UDP flood: tarnwick against tcpdump.
#
# For each RATE (datagrams per second, default 50000 200000), while
# tarnwick-udp-flood RATE DURATION runs, one after the other in the same run:
#   (a) tcpdump -i lo -w /dev/null: its "received by filter" / "dropped by kernel";
#   (b) tarnwick-cli capture --proto UDP --addr1 127.0.0.1 >/dev/null, ended
#       with SIGINT: its "received N, dropped M" (all up IPv4 interfaces);
#   (c) tarnwick-capture-window on a private Xvfb display: received, dropped,
#       packets listed and the longest stall of the window's event loop.
# Prints a table and saves everything in bench/results/capture-<time>.txt.
#
# Usage: bench/capture_vs_tcpdump.sh [RATE ...]
# Settings: DURATION (seconds of flood, default 10), PORT (default 47000).
# Needs root (or CAP_NET_RAW) for the captures.
set -euo pipefail
cd "$(dirname "$0")/.."

rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(50000 200000)
duration=${DURATION:-10}
port=${PORT:-47000}

build=build/bench
source bench/bench_lib.sh
name_report capture
work="$results/capture-$stamp.d"
mkdir -p "$work"

build_bench_tree "$build"
flood="$build/bench/tarnwick-udp-flood"
window="$build/bench/tarnwick-capture-window"
cli="$build/app/tarnwick-cli"
for f in "$flood" "$window" "$cli"; do
    [ -x "$f" ] || { echo "missing $f (is the GUI part built?)" >&2; exit 1; }
done
if ! command -v tcpdump >/dev/null; then
    echo "Installing tcpdump ..."
    DEBIAN_FRONTEND=noninteractive apt-get install -y tcpdump >/dev/null
fi
tcpdump_bin=$(command -v tcpdump)

exec > >(tee "$report") 2>&1

start_private_xvfb
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
sleep 1

# Waits (up to 10 s) until file $1 holds a line matching $2.
wait_for_line() {
    local i
    for ((i = 0; i < 100; i++)); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "timed out waiting for '$2' in $1:" >&2
    cat "$1" >&2
    return 1
}

# The flood's "sent N" from its output file.
sent_of() { awk '/^sent/ {print $2}' "$1"; }

echo "capture under a loopback UDP flood, $(date -Is), $(nproc) cores, kernel $(uname -r)"
echo "$($tcpdump_bin --version 2>&1 | head -2 | tr '\n' ' ')"
echo "window runs: $((duration * 3 / 2 + 3)) s (longest stall over the whole run)"
echo "flood: 64-byte UDP payloads 127.0.0.1 -> 127.0.0.1:$port, $duration s per run"
echo

rows=()
for rate in "${rates[@]}"; do
    base="$work/$rate"

    # (a) tcpdump on lo, to /dev/null (no name lookups, no printing).
    "$tcpdump_bin" -i lo -n -w /dev/null udp and host 127.0.0.1 >"$base-tcpdump.out" 2>"$base-tcpdump.err" &
    cap=$!; pids+=("$cap")
    wait_for_line "$base-tcpdump.err" "listening on"
    "$flood" "$rate" "$duration" "$port" >"$base-flood-a.out"
    sleep 1
    kill -INT "$cap"; wait "$cap" || true
    sent_a=$(sent_of "$base-flood-a.out")
    td_recv=$(awk '/packets received by filter/ {print $1}' "$base-tcpdump.err")
    td_drop=$(awk '/packets dropped by kernel/ {print $1}' "$base-tcpdump.err")

    # (b) tarnwick-cli capture, every line printed to /dev/null.
    "$cli" capture --proto UDP --addr1 127.0.0.1 >/dev/null 2>"$base-cli.err" &
    cap=$!; pids+=("$cap")
    sleep 1  # it prints nothing when ready: give it time to open its captures
    "$flood" "$rate" "$duration" "$port" >"$base-flood-b.out"
    sleep 1
    kill -INT "$cap"; wait "$cap" || true
    sent_b=$(sent_of "$base-flood-b.out")
    read -r cli_recv cli_drop < <(sed -n 's/^received \([0-9]*\), dropped \([0-9]*\)$/\1 \2/p' "$base-cli.err")

    # (c) the Data Capture window on the private display.
    # The flood can fall behind its rate while a capture competes for the
    # cores: the window runs half as long again, plus 3 s, and the script
    # checks that the flood ended within that time.
    window_seconds=$((duration * 3 / 2 + 3))
    DISPLAY=$display QT_QPA_PLATFORM=xcb "$window" "$window_seconds" >"$base-window.out" 2>"$base-window.err" &
    cap=$!; pids+=("$cap")
    wait_for_line "$base-window.out" "^capturing"
    "$flood" "$rate" "$duration" "$port" >"$base-flood-c.out"
    flood_end=$EPOCHSECONDS
    wait "$cap" || true
    if (( EPOCHSECONDS - flood_end < 1 )); then
        echo "RATE=$rate: the window ended before the flood did; its counts miss the end" >&2
    fi
    sent_c=$(sent_of "$base-flood-c.out")
    line=$(grep '^listed' "$base-window.out" || echo "listed ? received ? dropped ? stall_ms ?")
    read -r _ w_listed _ w_recv _ w_drop _ w_stall _ w_p99 _ w_updates _ w_beats _ w_cpu <<<"$line"

    echo "RATE=$rate"
    sed 's/^/  flood (a): /' "$base-flood-a.out"
    grep -E 'packets (captured|received|dropped)' "$base-tcpdump.err" | sed 's/^/  tcpdump: /'
    sed 's/^/  flood (b): /' "$base-flood-b.out"
    sed 's/^/  cli: /' "$base-cli.err"
    sed 's/^/  flood (c): /' "$base-flood-c.out"
    sed 's/^/  window: /' "$base-window.out"
    [ ! -s "$base-window.err" ] || sed 's/^/  window stderr: /' "$base-window.err" | head -5
    rows+=("$(printf '%-8s %9s/%-9s %9s/%-9s %9s/%-9s %9s/%-9s %9s/%-9s %8s %7s %8s' \
        "$rate" "$sent_a" "$sent_b" "$td_recv" "$td_drop" "$cli_recv" "$cli_drop" "$w_recv" "$w_drop" \
        "$sent_c" "$w_listed" "$w_stall" "$w_p99" "$w_cpu")")
done

echo
echo "sent: datagrams the flood sent during (a)/(b); window sent/listed is for run (c)."
echo "cli and window count every up IPv4 interface; tcpdump only lo."
printf '%-8s %19s %19s %19s %19s %19s %8s %7s %8s\n' rate "sent a/b" "tcpdump recv/drop" "cli recv/drop" \
    "window recv/drop" "window sent/listed" "stall_ms" "p99_ms" "win_cpu_s"
printf '%s\n' "${rows[@]}"
echo "Saved: $report"
