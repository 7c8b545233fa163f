#!/usr/bin/env bash
# tarnwick-cli against hostile and broken input: program names that would
# forge records, tables that cannot be read, and a capture with nothing to
# capture on. Each must give a clear answer and an honest exit status.
set -u
cli=$1
peer=$2
shim=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$(dirname "$0")/lib/background.sh"
work=$(mktemp -d)
trap 'end_background_jobs; rm -rf "$work"' EXIT
export ASAN_OPTIONS="verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

# A listener owned by a program whose file name holds a tab, then a newline:
# every record stays one line of six fields, the name escaped.
real_peer=$peer
for name in $'tw\tx' $'tw\nx'; do
    peer="$work/$name"
    cp "$real_peer" "$peer"
    start_peer
    table=$("$cli" table) || fail "table exited $?"
    awk -F'\t' 'NF != 6 { bad = 1 } END { exit bad }' <<<"$table" || fail "a line has not six cells:
$table"
    grep -qF 'tw\x09x' <<<"$table$'\n'" || grep -qF 'tw\x0Ax' <<<"$table" ||
        fail "the escaped program name is missing"
    watch=$("$cli" watch --count 1) || fail "watch exited $?"
    awk -F'\t' 'NF != 2 { bad = 1 } END { exit bad }' <<<"$watch" || fail "a watch record has not two fields"
    stop_peer
done
peer=$real_peer

# No socket diagnostics at all: a failure with the reason, never an empty table.
for command in table "watch --count 1" "report table $work/report.htm"; do
    # shellcheck disable=SC2086
    out=$(TARNWICK_SHIM_NETLINK=none LD_PRELOAD=$shim "$cli" $command 2>"$work/err")
    status=$?
    [ "$status" -eq 1 ] || fail "'$command' without netlink exited $status, expected 1"
    [ -z "$out" ] || fail "'$command' without netlink printed: $out"
    grep -q 'connection tables cannot be read' "$work/err" || fail "'$command' gave no reason: $(cat "$work/err")"
done

# Only the UDP table missing: the TCP rows, and a word on stderr.
table=$(TARNWICK_SHIM_NETLINK=udp LD_PRELOAD=$shim "$cli" table 2>"$work/err") || fail "table without UDP exited $?"
grep -q 'UDP table cannot be read' "$work/err" || fail "table without UDP said nothing: $(cat "$work/err")"
awk -F'\t' 'NR > 1 && $4 ~ /^UDP/ { bad = 1 } END { exit bad }' <<<"$table" || fail "UDP rows without a UDP table"

# A capture with no interface to capture on ends at once (root only: it needs
# a network namespace of its own, whose loopback is down).
if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
    timeout 20 unshare -n "$cli" capture --count 1 >/dev/null 2>"$work/err"
    status=$?
    [ "$status" -eq 1 ] || fail "capture without interfaces exited $status, expected 1"
    grep -q 'no capture could be opened' "$work/err" || fail "capture without interfaces: $(cat "$work/err")"
else
    echo "skipped: capture in a namespace without interfaces (needs root)"
fi

# A rules file that is a FIFO, a folder or far too large: refused at once with the reason.
mkfifo "$work/fifo.dat"
truncate -s 64M "$work/huge.dat"
for target in "$work/fifo.dat" "$work" "$work/huge.dat"; do
    timeout 10 "$cli" rules "$target" >/dev/null 2>"$work/err"
    status=$?
    [ "$status" -eq 1 ] || fail "rules $target exited $status, expected 1"
    grep -q "Unable to read $target: " "$work/err" || fail "rules $target: $(cat "$work/err")"
done

[ "$failures" -eq 0 ] && echo "all passed"
exit "$failures"
