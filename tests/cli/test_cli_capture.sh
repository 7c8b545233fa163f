#!/usr/bin/env bash
# tarnwick-cli capture end to end on loopback: usage errors, the filter, the
# escaped Data cell, the dump lines, --count, and an interrupt ending the
# capture with its totals. Capturing needs root (CAP_NET_RAW): skipped without.
set -u
cli=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
tab=$'\t'
source "$(dirname "$0")/lib/background.sh"
work=$(mktemp -d)
trap 'end_background_jobs; rm -rf "$work"' EXIT

for args in "capture --port1 x" "capture --port1 70000" "capture --addr1 1.2.3" "capture --addr2 2001:db8::zz" \
            "capture --proto tcp" \
            "capture --count 0" "capture --count" "capture --bogus"; do
    # shellcheck disable=SC2086
    "$cli" $args >/dev/null 2>"$work/err"
    status=$?
    [ "$status" -eq 2 ] || fail "'$args' exited $status, expected 2"
    grep -q '^usage: tarnwick-cli' "$work/err" || fail "'$args' printed no usage"
done

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: capturing needs root"
    [ "$failures" -eq 0 ] && exit 77 || exit 1
fi

port=$((40000 + RANDOM % 20000))
other=$((port + 1))
# Sends datagrams to $1 until the capture has ended.
send_until_done() {
    local target=$1 pid=$2 payload=$3
    for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || return 0
        printf '%b' "$payload" >"/dev/udp/127.0.0.1/$target" 2>/dev/null
        printf 'other' >"/dev/udp/127.0.0.1/$other" 2>/dev/null  # filtered out
        sleep 0.1
    done
}

"$cli" capture --proto UDP --addr2 127.0.0.1 --port2 "$port" --count 2 --dump >"$work/out" 2>"$work/err" &
pid=$!
sleep 0.5
send_until_done "$port" "$pid" 'ab\\c\x01d'
wait_bounded "$pid" 10
status=$?
[ "$status" -eq 0 ] || fail "capture exited $status: $(cat "$work/err")"
packets=$(grep -c "$tab" "$work/out")
[ "$packets" -eq 2 ] || fail "expected 2 packet lines, got $packets:
$(cat "$work/out")"
first=$(head -n 1 "$work/out")
IFS=$tab read -r proto src sport dst dport size data <<<"$first"
[ "$proto" = UDP ] || fail "protocol '$proto'"
[ "$src" = 127.0.0.1 ] && [ "$dst" = 127.0.0.1 ] || fail "addresses '$src' '$dst'"
[ "$dport" = "$port" ] || fail "dest port '$dport', expected $port"
[[ "$sport" =~ ^[0-9]+$ ]] || fail "source port '$sport'"
[ "$size" = 6 ] || fail "data size '$size'"
[ "$data" = 'ab\x5Cc\x01d' ] || fail "data cell '$data'"
[ "$(sed -n 2p "$work/out")" = "61 62 5C 63 01 64         |  ab\\c.d" ] ||
    fail "dump line '$(sed -n 2p "$work/out")'"
grep -qE '^received [0-9]+, dropped [0-9]+$' "$work/err" || fail "no totals: $(cat "$work/err")"

# Without --count it runs until interrupted, then prints its totals and ends normally.
# An endpoint of :: is any address, of either family.
"$cli" capture --port1 "$port" --addr2 :: >"$work/out" 2>"$work/err" &
pid=$!
sleep 0.5
printf 'x' >"/dev/udp/127.0.0.1/$port"
sleep 0.3
kill -INT "$pid"
wait_bounded "$pid" 10
status=$?
[ "$status" -eq 0 ] || fail "interrupted capture exited $status"
grep -qE '^received [0-9]+, dropped [0-9]+$' "$work/err" || fail "no totals after the interrupt: $(cat "$work/err")"
grep -q "^UDP${tab}127.0.0.1${tab}[0-9]*${tab}127.0.0.1${tab}${port}${tab}1${tab}x\$" "$work/out" ||
    fail "packet before the interrupt not listed: $(cat "$work/out")"

[ "$failures" -eq 0 ] && echo "all passed"
[ "$failures" -eq 0 ]
