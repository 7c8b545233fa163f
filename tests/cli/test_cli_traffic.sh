#!/usr/bin/env bash
# tarnwick-cli's traffic numbers against a loopback stream of known speed,
# read while every host name look-up takes most of a second.
set -u
cli=$1
slow_names=$6
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$(dirname "$0")/lib/background.sh"
trap end_background_jobs EXIT
# The shim is preloaded ahead of the sanitizer's runtime, which then only
# needs telling that this is meant.
export ASAN_OPTIONS="verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
command -v python3 >/dev/null || { echo "SKIP: no python3 for the paced stream"; exit 77; }

rate=102400  # bytes a second
dir=$(mktemp -d)
trap 'end_background_jobs; rm -rf "$dir"' EXIT

# A paced stream over loopback: 1 KiB every 1/100 s of an absolute schedule,
# so the bytes of any second are the rate, whatever a late wake-up costs.
python3 -c '
import socket, sys, threading, time
rate = int(sys.argv[1])
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen()
client = socket.create_connection(listener.getsockname())
server, _ = listener.accept()
threading.Thread(target=lambda: [None for _ in iter(lambda: server.recv(1 << 16), b"")], daemon=True).start()
print(client.getsockname()[1], flush=True)
chunk, start, sent = b"x" * (rate // 100), time.monotonic(), 0
while True:
    due = start + sent / rate
    time.sleep(max(0.0, due - time.monotonic()))
    client.sendall(chunk)
    sent += len(chunk)
' "$rate" >"$dir/port" &
for _ in $(seq 100); do [ -s "$dir/port" ] && break; sleep 0.1; done
port=$(cat "$dir/port")
[ -n "$port" ] || { echo "FAIL: the stream did not start"; exit 1; }

# The rate is the growth of the counters over the time between the two
# readings, not over the time between the refreshes' ends: the first one
# waits for the slow names, the second finds them known.
traffic=$(LD_PRELOAD=$slow_names "$cli" table --traffic) || fail "table --traffic exited $?"
send_rate=$(awk -F'\t' -v port="$port" '$3 == port && $4 == "TCP" { print $9 }' <<<"$traffic")
if [[ ! "$send_rate" =~ ^[0-9]+$ ]]; then
    fail "no send rate on the stream's row: '$send_rate'
$traffic"
elif ((send_rate < rate * 9 / 10 || send_rate > rate * 11 / 10)); then
    fail "send rate $send_rate for a stream of $rate bytes a second"
fi

echo "send rate $send_rate for $rate"
[ "$failures" -eq 0 ] && echo "all passed"
exit $((failures > 0))
