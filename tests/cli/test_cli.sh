#!/usr/bin/env bash
# tarnwick-cli end to end: output formats, usage errors, and a real loopback
# connection appearing in the table and in the watch log.
set -u
cli=$1
peer=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$(dirname "$0")/lib/background.sh"
trap end_background_jobs EXIT

tab=$'\t'
header="Remote Addr${tab}Remote Port${tab}Local Port${tab}Protocol${tab}Status${tab}Process"

# Usage errors: status 2 and the usage on stderr.
for args in "" "bogus" "table --bogus" "watch --count 0" "watch --count x" "watch --interval -1" \
            "watch --interval" "table --count 3" "table --stats" "top --traffic" "watch --traffic"; do
    # shellcheck disable=SC2086
    "$cli" $args >/dev/null 2>/tmp/tarnwick-cli-err.$$
    status=$?
    [ "$status" -eq 2 ] || fail "'$args' exited $status, expected 2"
    grep -q '^usage: tarnwick-cli' /tmp/tarnwick-cli-err.$$ || fail "'$args' printed no usage"
done
rm -f /tmp/tarnwick-cli-err.$$

# A listener and an established connection of our own.
start_peer

table=$("$cli" table --no-shortnames) || fail "table exited $?"
[ "$(head -n 1 <<<"$table")" = "$header" ] || fail "table header: $(head -n 1 <<<"$table")"
awk -F'\t' 'NF != 6 { bad = 1 } END { exit bad }' <<<"$table" || fail "a table line has not six cells"
peer_name=$(basename "$peer")
grep -qP "\t${listen_port}\tTCP\tListening\t${peer_name}" <<<"$table" || fail "listener on $listen_port missing:
$table"
grep -qP "\t${client_port}\tTCP\tEstablished\t${peer_name}" <<<"$table" || fail "client end on $client_port missing"

# --traffic: four more cells of whole numbers on our TCP rows, "-" on UDP rows.
traffic=$("$cli" table --traffic) || fail "table --traffic exited $?"
awk -F'\t' 'NF != 10 { bad = 1 } END { exit bad }' <<<"$traffic" || fail "a table --traffic line has not ten cells"
grep -qP "\t${client_port}\tTCP\tEstablished\t${peer_name}(\t\d+){4}\$" <<<"$traffic" ||
    fail "no byte counts on the client end:
$traffic"
awk -F'\t' '$4 ~ /^UDP/ && ($7 != "-" || $10 != "-") { bad = 1 } END { exit bad }' <<<"$traffic" ||
    fail "a UDP row has counters"
top=$("$cli" top --interval 0.2 --count 2) || fail "top exited $?"
[ "$(grep -c "^Process${tab}Connections${tab}" <<<"$top")" -eq 2 ] || fail "top did not print two rankings:
$top"
grep -qP "^${peer_name}\t\d+\t\d+\t\d+\t\d+\t\d+\$" <<<"$top" || fail "top does not rank the peer:
$top"

udp_only=$("$cli" table --no-tcp)
awk -F'\t' 'NR > 1 && $4 !~ /^UDP(v6)?$/ && $4 != "" { bad = 1 } END { exit bad }' <<<"$udp_only" ||
    fail "--no-tcp still lists TCP rows"
[ "$("$cli" table --no-tcp --no-udp)" = "$header"$'\n'"${tab}${tab}${tab}${tab}${tab}" ] ||
    fail "with both views off the table is not the header and one empty row"

# watch: the first refresh reports our established connection (kind 2).
watch=$("$cli" watch --interval 0 --count 2) || fail "watch exited $?"
grep -qP "^2\t.*${peer_name} Connected to .* On Port:${listen_port}\$" <<<"$watch" ||
    fail "watch did not report the connection:
$watch"

# watch --stats: one "refresh N: T ms" line per refresh on stderr, N from 1.
stats=$("$cli" watch --interval 0 --count 3 --stats 2>&1 >/dev/null) || fail "watch --stats exited $?"
awk '$0 !~ "^refresh " NR ": [0-9]+\\.[0-9] ms$" { bad = 1 } END { exit bad || NR != 3 }' <<<"$stats" ||
    fail "watch --stats printed:
$stats"

# Closing the connection yields its disconnect event (kind 3) in a running watch.
out=/tmp/tarnwick-cli-watch.$$
"$cli" watch --interval 0.3 >"$out" &
watch_pid=$!
sleep 1
stop_peer
# The end that closed first lingers in Time_Wait; the other one is gone.
disconnect="^3\t.*DisConnected to 127\.0\.0\.1 On Port:(${listen_port}|${client_port})\$"
for _ in $(seq 100); do
    grep -qP "$disconnect" "$out" && break
    sleep 0.1
done
kill -INT "$watch_pid"
wait_bounded "$watch_pid" 10
status=$?
[ "$status" -eq 0 ] || fail "watch ended by Ctrl-C exited $status"
grep -qP "$disconnect" "$out" || fail "no disconnect event after closing:
$(tail -n 20 "$out")"
rm -f "$out"

[ "$failures" -eq 0 ] && echo "all command-line checks passed"
exit $((failures > 0))
