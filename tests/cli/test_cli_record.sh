#!/usr/bin/env bash
# tarnwick-cli capture --write end to end: known loopback UDP, TCP and ICMPv6
# traffic recorded to a pcapng file that tcpdump and tshark read, with the
# list's count, addresses and bytes; --write - into a pipe; a file on a tmpfs
# that fills and a FIFO whose reader leaves: a clear error, exit status 1, and
# what the file holds reads to its last whole packet. Runs in network and
# mount namespaces of its own. Needs root, unshare, ip, mount, tcpdump and
# tshark: skipped without.
set -u
cli=$1
peer=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
tab=$'\t'
source "$(dirname "$0")/lib/background.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: capturing needs root"
    exit 77
fi
for tool in unshare ip mount tcpdump tshark; do
    command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }
done
# Loopback of its own: the packets recorded are the test's alone. A mount
# namespace of its own for the small tmpfs.
if [ -z "${TWK_IN_NETNS:-}" ]; then
    TWK_IN_NETNS=1 exec unshare -n -m --propagation private -- bash "$0" "$@"
fi
ip link set lo up || { echo "FAIL: lo of the network namespace"; exit 1; }

work=$(mktemp -d)
trap 'end_background_jobs; umount "$work/small" 2>/dev/null; rm -rf "$work"' EXIT

"$cli" capture --write >/dev/null 2>"$work/err"
status=$?
[ "$status" -eq 2 ] && grep -q '^usage: tarnwick-cli' "$work/err" || fail "--write without a file exited $status"

# Waits up to 10 s until file $1 has a line matching $2.
wait_for_line() {
    local i
    for ((i = 0; i < 100; i++)); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
# The count N of "recorded N packets to FILE" in file $1.
recorded_of() { sed -n 's/^recorded \([0-9]*\) packets to .*/\1/p' "$1"; }

port=$((40000 + RANDOM % 20000))

# The round trip. A TCP listener and a connection to it, there before the
# capture reads the tables, so that their owner is known. The capture is
# ready once it lists what it is sent.
start_peer
"$cli" capture --dump --write "$work/trip.pcapng" >"$work/list" 2>"$work/err" &
cap=$!
for ((i = 0; i < 100; i++)); do
    printf 'ready' >"/dev/udp/127.0.0.1/$port"
    grep -q "${tab}ready\$" "$work/list" && break
    sleep 0.1
done
exec 3<>"/dev/tcp/127.0.0.1/$listen_port" && printf 'tcp payload' >&3 && exec 3>&-
printf 'udp payload' >"/dev/udp/127.0.0.1/$port"
# Nobody listens on ::1: the kernel answers with an ICMPv6 port unreachable.
printf 'udp6 payload' >"/dev/udp/::1/$port"
printf 'end' >"/dev/udp/127.0.0.1/$port"
wait_for_line "$work/list" "${tab}end\$" && wait_for_line "$work/list" "^ICMPv6${tab}" ||
    fail "the traffic was not listed: $(grep "$tab" "$work/list")"
kill -INT "$cap"
wait_bounded "$cap" 10
status=$?
stop_peer
[ "$status" -eq 0 ] || fail "the recording capture exited $status: $(cat "$work/err")"
listed=$(grep -c "$tab" "$work/list")
for protocol in UDP TCP ICMPv6; do
    grep -q "^${protocol}${tab}" "$work/list" || fail "no $protocol packet listed"
done
[ "$(recorded_of "$work/err")" = "$listed" ] || fail "recorded $(recorded_of "$work/err") of $listed listed packets"
tcpdump -n -r "$work/trip.pcapng" -x >"$work/tcpdump" 2>"$work/tcpdump.err" ||
    fail "tcpdump could not read the file: $(cat "$work/tcpdump.err")"
tshark -r "$work/trip.pcapng" -T fields -E separator=, -E occurrence=f -e ip.src -e ipv6.src -e ip.dst -e ipv6.dst \
    >"$work/tshark" 2>"$work/tshark.err" || fail "tshark could not read the file: $(cat "$work/tshark.err")"
# Per packet: its source and destination, and the payload the list dumps, in
# the list's order; the packet bytes as tcpdump prints them.
awk -F'\t' 'NF == 7 { if (n++) print hex; hex = $2 "," $4 ","; next }
            { split($0, part, "  [|]  "); gsub(/ /, "", part[1]); hex = hex tolower(part[1]) }
            END { if (n) print hex }' "$work/list" >"$work/listed"
awk '/^\t0x/ { sub(/^\t0x[0-9a-f]+: +/, ""); gsub(/ /, ""); hex = hex $0; next }
     { if (n++) print hex; hex = "" }
     END { if (n) print hex }' "$work/tcpdump" >"$work/bytes"
[ "$(wc -l <"$work/bytes")" -eq "$listed" ] && [ "$(wc -l <"$work/tshark")" -eq "$listed" ] ||
    fail "tcpdump read $(wc -l <"$work/bytes") and tshark $(wc -l <"$work/tshark") packets of $listed listed"
while IFS= read -r list <&3 && IFS= read -r bytes <&4 && IFS=, read -r src4 src6 dst4 dst6 <&5; do
    IFS=, read -r src dst payload <<<"$list"
    [ "$src" = "$src4$src6" ] && [ "$dst" = "$dst4$dst6" ] && [[ $bytes == *"$payload" ]] ||
        fail "listed $list, recorded $src4$src6 -> $dst4$dst6 $bytes"
done 3<"$work/listed" 4<"$work/bytes" 5<"$work/tshark"
# Each packet to the listener names its owner, as the tables gave it.
tshark -r "$work/trip.pcapng" -Y "tcp.dstport == $listen_port" -T fields -e frame.comment >"$work/comments" 2>/dev/null
[ -s "$work/comments" ] && ! grep -qv " $peer_pid\$" "$work/comments" ||
    fail "packets to the listener of process $peer_pid were recorded with the comments: $(sort -u "$work/comments")"

# Into a pipe: standard output carries the file alone.
(timeout 20 "$cli" capture --proto UDP --port2 "$port" --count 2 --write - 2>"$work/err" |
    tshark -r - -T fields -e udp.payload >"$work/piped" 2>/dev/null) &
pipeline=$!
for ((i = 0; i < 100; i++)); do
    kill -0 "$pipeline" 2>/dev/null || break
    printf 'piped' >"/dev/udp/127.0.0.1/$port"
    sleep 0.1
done
wait_bounded "$pipeline" 10
[ "$(cat "$work/piped")" = $'7069706564\n7069706564' ] && [ "$(recorded_of "$work/err")" = 2 ] ||
    fail "recorded into a pipe: $(cat "$work/piped" "$work/err")"

# A disk that fills: the file is cut back to its last whole packet.
mkdir "$work/small"
mount -t tmpfs -o size=64k tarnwick-test-small "$work/small" || fail "no small tmpfs"
"$cli" capture --proto UDP --port2 "$port" --write "$work/small/full.pcapng" >/dev/null 2>"$work/err" &
cap=$!
payload=$(printf 'x%.0s' {1..1000})
for ((i = 0; i < 3000; i++)); do
    kill -0 "$cap" 2>/dev/null || break
    printf '%s' "$payload" >"/dev/udp/127.0.0.1/$port"
done
wait_bounded "$cap" 10
status=$?
full="tarnwick-cli: recording to $work/small/full.pcapng: No space left on device"
[ "$status" -eq 1 ] && grep -qxF "$full" "$work/err" ||
    fail "a full disk: exit $status, $(cat "$work/err")"
tshark -r "$work/small/full.pcapng" >"$work/read" 2>"$work/read.err" ||
    fail "tshark could not read the file of the full disk: $(cat "$work/read.err")"
recorded=$(recorded_of "$work/err")
[ "${recorded:-0}" -gt 0 ] && [ "$(wc -l <"$work/read")" -eq "$recorded" ] ||
    fail "the file of the full disk holds $(wc -l <"$work/read") packets, recorded ${recorded:-none}"

# A reader that leaves: a clear error, not a signal.
mkfifo "$work/fifo"
tshark -r "$work/fifo" -c 3 -T fields -e udp.payload >"$work/fifo.read" 2>/dev/null &
reader=$!
"$cli" capture --proto UDP --port2 "$port" --write "$work/fifo" >/dev/null 2>"$work/err" &
cap=$!
for ((i = 0; i < 200; i++)); do
    kill -0 "$cap" 2>/dev/null || break
    printf 'fifo' >"/dev/udp/127.0.0.1/$port"
    sleep 0.05
done
wait_bounded "$cap" 10
status=$?
[ "$status" -eq 1 ] && grep -qxF "tarnwick-cli: recording to $work/fifo: Broken pipe" "$work/err" ||
    fail "a reader that left: exit $status, $(cat "$work/err")"
wait_bounded "$reader" 10 || fail "tshark could not read the FIFO"
[ "$(cat "$work/fifo.read")" = $'6669666f\n6669666f\n6669666f' ] || fail "read from the FIFO: $(cat "$work/fifo.read")"

[ "$failures" -eq 0 ] && echo "all passed"
[ "$failures" -eq 0 ]
