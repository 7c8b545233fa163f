#!/usr/bin/env bash
# tarnwick-cli watch --json during a churn of short loopback connections
# (tarnwick_churn_driver: each side closing first, a reset from either side,
# the same four ends again, connects never answered), held against the
# driver's record: every established end is announced exactly once with its
# owner, each rule fires once per announced end, no attempt is announced.
set -u
cli=$1
peer=$2
driver="$(dirname "$peer")/tarnwick_churn_driver"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$(dirname "$0")/lib/background.sh"
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the ends of connections are announced to root only"
    exit 0
fi
dir=$(mktemp -d); [ -n "${KEEP_CHURN:-}" ] && echo "kept in $dir"
trap 'end_background_jobs; [ -n "${KEEP_CHURN:-}" ] || rm -rf "$dir"' EXIT

mkfifo "$dir/go"
"$driver" 6 <>"$dir/go" >"$dir/record" &
driver_pid=$!
for _ in $(seq 100); do grep -q '^marker' "$dir/record" && break; sleep 0.1; done
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
for _ in $(seq 100); do grep -q "\"local_port\":$marker," "$dir/json" && break; sleep 0.1; done
grep -q "\"local_port\":$marker," "$dir/json" || fail "the watch never listed the marker connection"
echo go >"$dir/go"
wait_bounded "$driver_pid" 30 || fail "the driver failed"
# Bounded: until the watch has seen the marker, closed last, leave Established.
for _ in $(seq 100); do
    grep "\"local_port\":$marker," "$dir/json" | grep -qv '"state":"Established"' && break
    sleep 0.1
done
kill "$watch_pid"
wait "$watch_pid" 2>/dev/null

python3 - "$dir/record" "$dir/json" "$pid" "$(basename "$driver")" "$listen" <<'PY' || fail "the log does not match the driver's record"
import collections, json, sys
record, log, pid, name, listen = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], int(sys.argv[5])
ends = collections.Counter()      # (local port, remote port) -> established connections
attempts, resets = set(), set()
for line in open(record):
    f = line.split()
    if len(f) != 3:
        continue
    ordering, established, client = f[0], f[1] == "1", int(f[2])
    if not established:
        attempts.add(client)
        continue
    server = 0 if ordering == "queued" else listen
    if ordering != "queued":
        ends[(listen, client)] += 1
    ends[(client, None)] += 1
    if ordering == "client_reset":
        resets.add(client)
entries = [json.loads(l) for l in open(log)]
connected = collections.defaultdict(list)
gone = collections.Counter()
rules = sum(1 for e in entries if e["kind"] == 1)
for e in entries:
    if "local_port" not in e:
        continue
    key = (e["local_port"], None if e["local_port"] != listen else e["remote_port"])
    if e["kind"] == 2:
        connected[key].append(e)
    elif e["kind"] == 3:
        gone[key] += 1
errors = []
for key, count in ends.items():
    got = connected.get(key, [])
    client_end = key[1] is None
    # A reset's own end never listed comes zeroed: nothing names it (counted as not shown).
    if client_end and key[0] in resets and len(got) < count:
        continue
    if len(got) != count:
        errors.append("%s: %d Connected, %d expected" % (key, len(got), count))
    for e in got:
        if e.get("pid") != pid and not (client_end and "pid" not in e and e["text"].startswith("? ")):
            errors.append("%s: owner %r" % (key, e.get("pid")))
    if gone[key] > count:
        errors.append("%s: %d DisConnected for %d" % (key, gone[key], count))
for port in attempts:
    if connected.get((port, None)):
        errors.append("attempt %d announced" % port)
fired = sum(len(v) for k, v in connected.items() if k[1] is None and v[0]["remote_port"] == listen)
if rules != fired:
    errors.append("%d rule lines for %d connections the rule covers" % (rules, fired))
print("\n".join(errors[:20]))
sys.exit(1 if errors else 0)
PY
[ "$failures" -eq 0 ] || { echo "record: $(wc -l <"$dir/record") lines; log: $(wc -l <"$dir/json") lines"; exit 1; }
echo "PASS"
