#!/usr/bin/env bash
# tarnwick-cli watch --json during a churn of short loopback connections
# (tarnwick_churn_driver: each side closing first, a reset from either side,
# the same four ends again, connects never answered), held against the
# driver's record: every established end is announced exactly once with its
# owner, each rule fires once per announced end, no attempt is announced.
# Prints per ordering the connections made, their ends, the "Connected"
# lines, the rules fired, the owners named right, the duplicates and the
# reset ends nothing could name; then every mismatch.
set -u
cli=$1
peer=$2
driver="$(dirname "$peer")/tarnwick_churn_driver"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$(dirname "$0")/lib/background.sh"
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the ends of connections are announced to root only"
    exit 77
fi
# In a network namespace of its own: nothing else's sockets mix with the
# churn's, and its loopback carries only the churn. The script runs again in there.
if [ -z "${TWK_CHURN_NETNS:-}" ]; then
    unshare -n true 2>/dev/null || { echo "SKIP: no network namespace of its own (unshare -n)"; exit 77; }
    TWK_CHURN_NETNS=1 exec unshare -n bash "$0" "$@"
fi
ip link set lo up || { echo "FAIL: the namespace's loopback cannot be brought up"; exit 1; }
dir=$(mktemp -d); [ -n "${KEEP_CHURN:-}" ] && echo "kept in $dir"
trap 'end_background_jobs; [ -n "${KEEP_CHURN:-}" ] || rm -rf "$dir"' EXIT

mkfifo "$dir/go"
"$driver" 6 <>"$dir/go" >"$dir/record" &
driver_pid=$!
for _ in $(seq 100); do grep -qs '^marker' "$dir/record" && break; sleep 0.1; done
read -r _ pid _ listen < <(head -n 1 "$dir/record")
marker=$(awk '$1 == "marker" {print $3}' "$dir/record")
[ -n "$marker" ] || { fail "the driver did not start"; exit 1; }

cat >"$dir/rules.dat" <<RULES
[ALL]
Count=1
[Item1]
RulesName=churn
EnabledRules=1
EnRemotePortFilter=1
RemotePortFilter=$listen
EnPopupAction=1
PopupMsg=churn
RULES
"$cli" watch --json --interval 0.5 --rules "$dir/rules.dat" --enable-rules >"$dir/json" &
watch_pid=$!
# The churn starts once the watch has listed the marker.
for _ in $(seq 100); do grep -qs "\"local_port\":$marker," "$dir/json" && break; sleep 0.1; done
grep -q "\"local_port\":$marker," "$dir/json" || fail "the watch never listed the marker connection"
echo go >"$dir/go"
wait_bounded "$driver_pid" 30 || fail "the driver failed"
# The ends of the churn are all told once a refresh lists a connection made
# after the driver is gone: the last of them waits at most for that refresh.
start_peer
for _ in $(seq 100); do grep -q "\"local_port\":$client_port," "$dir/json" && break; sleep 0.1; done
grep -q "\"local_port\":$client_port," "$dir/json" || fail "the watch never listed the connection after the churn"
stop_peer
kill "$watch_pid"
wait_bounded "$watch_pid" 10

python3 - "$dir/record" "$dir/json" "$pid" "$listen" <<'PY' || fail "the log does not match the driver's record"
import collections, json, re, sys
record, log, pid, listen = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
# Each end of each connection, by (local port, remote port): the server's
# (server, client) and the client's (client, server); the queued one's
# server end was never accepted and is not the driver's to name.
expected = collections.Counter()
ordering_of, attempts = {}, set()
for line in open(record):
    f = line.split()
    if len(f) != 4 or f[0] == "pid":
        continue
    ordering, established, client, server = f[0], f[1] == "1", int(f[2]), int(f[3])
    if not established:
        attempts.add((client, server))
        continue
    ends = [("client", (client, server))] + ([] if ordering == "queued" else [("server", (server, client))])
    for side, key in ends:
        expected[key] += 1
        ordering_of[key] = ordering
    expected[(ordering, "made")] += 1
entries = [json.loads(l) for l in open(log)]
lines = collections.defaultdict(lambda: collections.defaultdict(list))  # key -> kind -> entries
not_shown = 0
for e in entries:
    m = re.match(r"(\d+) short-lived connections? (was|were) not shown", e["text"])
    if m:
        not_shown += int(m.group(1))
    if "local_port" not in e:
        continue
    lines[(e["local_port"], e["remote_port"])][e["kind"]].append(e)

# An end that sent a reset and was never listed is announced zeroed
# (0.0.0.0, remote port 0) under a cookie no row showed: nothing can name
# it, and it is counted as not shown. So is nothing else.
def reset_sender(side, ordering):
    return (side, ordering) in (("client", "client_reset"), ("server", "server_reset"))
# A client end never listed has no owner anyone could know after its close
# (no descriptor, no listener on its port): "?" is its owner then.
def owner_right(side, e):
    return e.get("pid") == pid or (side == "client" and "pid" not in e and e["text"].startswith("? "))

stats = collections.defaultdict(collections.Counter)
errors, unnamed = [], 0
for key, count in expected.items():
    if key[1] == "made":
        stats[key[0]]["made"] = count
        continue
    ordering, side = ordering_of[key], "server" if key[0] == listen else "client"
    s = stats[ordering]
    got = lines[key][2]
    s["ends"] += count
    s["connected"] += len(got)
    s["owners right"] += sum(owner_right(side, e) for e in got)
    s["duplicates"] += max(0, len(got) - count)
    if side == "client":
        s["rules"] += len(lines[key][1])
    if len(got) < count and reset_sender(side, ordering):
        unnamed += count - len(got)
        s["unnamed reset ends"] += count - len(got)
    elif len(got) != count:
        errors.append("%s %s end %s: %d Connected, %d expected" % (ordering, side, key, len(got), count))
    for e in got:
        if not owner_right(side, e):
            errors.append("%s %s end %s: owner %r" % (ordering, side, key, e["text"].split(" Connected")[0]))
    if side == "client" and ordering != "queued" and len(lines[key][1]) != len(got):
        errors.append("%s %s: %d rules fired for %d Connected" % (ordering, key, len(lines[key][1]), len(got)))
    if len(lines[key][3]) > count:
        errors.append("%s %s end %s: %d DisConnected for %d" % (ordering, side, key, len(lines[key][3]), count))
for key in attempts:
    if lines[key][2]:
        errors.append("unanswered %s announced" % (key,))
if unnamed != not_shown:
    errors.append("%d reset ends unnamed, %d counted as not shown" % (unnamed, not_shown))
for ordering, s in sorted(stats.items()):
    print("%-13s made %2d, ends %2d, Connected %2d, rules %2d, owners right %2d, duplicates %d, unnamed reset ends %d"
          % (ordering, s["made"], s["ends"], s["connected"], s["rules"], s["owners right"], s["duplicates"],
             s["unnamed reset ends"]))
print("\n".join(errors))
sys.exit(1 if errors else 0)
PY
[ "$failures" -eq 0 ] || { echo "record: $(wc -l <"$dir/record") lines; log: $(wc -l <"$dir/json") lines"; exit 1; }
echo "PASS"
