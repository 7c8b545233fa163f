#!/usr/bin/env bash
# tarnwick-cli watch --json and --journal on a real loopback connection: every
# JSON line parses and the connection's entry carries its fields; the journal
# receives the same as fields of a native-protocol datagram.
set -u
cli=$1
peer=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$(dirname "$0")/lib/background.sh"
dir=$(mktemp -d)
trap 'end_background_jobs; rm -rf "$dir"' EXIT

for args in "watch --json --journal" "watch --journal --json" "table --json" "table --journal"; do
    # shellcheck disable=SC2086
    "$cli" $args >/dev/null 2>"$dir/err"
    status=$?
    [ "$status" -eq 2 ] || fail "'$args' exited $status, expected 2"
    grep -q '^usage: tarnwick-cli' "$dir/err" || fail "'$args' printed no usage"
done
grep -q -- '--json and --journal exclude each other' < <("$cli" watch --json --journal 2>&1) ||
    fail "combining --json and --journal does not say why it is refused"

start_peer
peer_name=$(basename "$peer")

"$cli" watch --json --interval 0 --count 2 >"$dir/json" || fail "watch --json exited $?"
python3 -c '
import json, re, sys
listen, client, pid, name = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
found = False
for number, line in enumerate(sys.stdin.buffer, 1):
    try:
        entry = json.loads(line.decode("utf-8"))
    except ValueError as e:
        sys.exit("line %d is no JSON (%s): %r" % (number, e, line))
    if not re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d", entry.get("time", "")):
        sys.exit("line %d: bad time %r" % (number, entry.get("time")))
    if entry.get("kind") not in (0, 1, 2, 3) or not isinstance(entry.get("text"), str):
        sys.exit("line %d: bad kind or text: %r" % (number, entry))
    if entry.get("local_port") == client and "Connected to" in entry["text"]:
        wanted = {"kind": 2, "protocol": "TCP", "local_address": "127.0.0.1", "remote_address": "127.0.0.1",
                  "remote_port": int(listen), "state": "Established", "pid": pid, "process": name}
        wrong = {k: entry.get(k) for k, v in wanted.items() if entry.get(k) != v}
        if wrong:
            sys.exit("the connection'"'"'s entry has %r: %r" % (wrong, entry))
        found = True
if not found:
    sys.exit("no Connected entry of the client end on port %d" % client)
' "$listen_port" "$client_port" "$peer_pid" "$peer_name" <"$dir/json" ||
    fail "watch --json output (first lines):
$(head -n 20 "$dir/json")"

# --journal: the journal's socket is replaced, in a mount namespace of its
# own, by a datagram socket that keeps what the tool sends.
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: watch --journal needs root for a private mount namespace"
    skipped=1
elif ! command -v unshare >/dev/null || ! unshare -m true 2>/dev/null; then
    echo "SKIP: watch --journal needs unshare -m (a private mount namespace)"
    skipped=1
else
    cat >"$dir/namespace.sh" <<'EOF'
# In the private namespace: $1 cli, $2 output folder, $3 background.sh.
set -u
cli=$1 dir=$2
source "$3"
mount -t tmpfs tarnwick-test /run || exit 1
mkdir -p /run/systemd/journal
socket=/run/systemd/journal/socket
# No journal, then a socket nobody reads: the watch says so and fails.
"$cli" watch --journal --count 1 >/dev/null 2>"$dir/missing.err"
echo "missing $?" >"$dir/journal.status"
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM).bind(sys.argv[1])' "$socket"
"$cli" watch --journal --count 1 >/dev/null 2>"$dir/refused.err"
echo "refused $?" >>"$dir/journal.status"
rm -f "$socket"
# A socket that keeps every datagram in a file of its own.
python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
open(sys.argv[2] + "/ready", "w").close()
for number in range(1000):
    open("%s/datagram.%d" % (sys.argv[2], number), "wb").write(s.recv(1 << 20))
' "$socket" "$dir" &
receiver=$!
for _ in $(seq 100); do [ -e "$dir/ready" ] && break; sleep 0.1; done
"$cli" watch --journal --count 1 >"$dir/journal.out"
echo "listened $?" >>"$dir/journal.status"
sleep 0.5  # the datagrams wait in the socket's queue; give the receiver time to write them out
kill "$receiver"
wait_bounded "$receiver" 5
EOF
    unshare -m bash "$dir/namespace.sh" "$cli" "$dir" "$(dirname "$0")/lib/background.sh"
    [ "$(cat "$dir/journal.status")" = $'missing 1\nrefused 1\nlistened 0' ] ||
        fail "watch --journal exit statuses: $(cat "$dir/journal.status")"
    grep -q '^tarnwick-cli: the journal cannot be written: /run/systemd/journal/socket: No such file' \
        "$dir/missing.err" || fail "watch --journal without a journal said: $(cat "$dir/missing.err")"
    grep -q '^tarnwick-cli: the journal cannot be written: Connection refused' "$dir/refused.err" ||
        fail "watch --journal to a journal that reads nothing said: $(cat "$dir/refused.err")"
    [ -s "$dir/journal.out" ] && fail "watch --journal printed: $(cat "$dir/journal.out")"
    datagram=$(grep -lx "TARNWICK_LOCAL_PORT=$client_port" "$dir"/datagram.* 2>/dev/null | head -n 1)
    if [ -z "$datagram" ]; then
        fail "the journal got no entry of the client end"
    else
        for field in "MESSAGE=$peer_name Connected to localhost On Port:$listen_port" PRIORITY=6 \
                     SYSLOG_IDENTIFIER=tarnwick TARNWICK_KIND=2 TARNWICK_PROTOCOL=TCP \
                     TARNWICK_LOCAL_ADDRESS=127.0.0.1 "TARNWICK_LOCAL_PORT=$client_port" \
                     TARNWICK_REMOTE_ADDRESS=127.0.0.1 "TARNWICK_REMOTE_PORT=$listen_port" \
                     TARNWICK_STATE=Established "TARNWICK_PID=$peer_pid" "TARNWICK_PROCESS=$peer_name"; do
            grep -qxF -- "$field" "$datagram" || fail "the journal entry lacks $field:
$(cat -v "$datagram")"
        done
        grep -q '^CODE_' "$datagram" && fail "the journal entry names our source file"
    fi
fi
stop_peer

[ "$failures" -gt 0 ] && exit 1
# Part of it skipped: 77 makes ctest report the test as skipped.
[ -n "${skipped:-}" ] && exit 77
echo "all event output checks passed"
