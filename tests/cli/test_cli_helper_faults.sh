#!/usr/bin/env bash
# tarnwick-cli with a helper that starts well and then breaks the protocol
# while answering for the owners (tarnwick_fake_helper): one whose reply never
# ends, one that names sockets without end. Each table exits 1 with the
# reason, within the exchange's deadline, and its memory stays small. A
# capture it fails is said in the system's words. Run without capabilities,
# so that the owners and the captures are asked of the helper.
set -u
cli=$1
peer=$2
fake=${5:-}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$(dirname "$0")/lib/background.sh"
source "$(dirname "$0")/lib/other_users.sh"
work=$(mktemp -d)
chmod 0755 "$work"
trap 'end_background_jobs; rm -rf "$work"' EXIT
[ -x "$fake" ] || { echo "FAIL: no fake helper given"; exit 1; }

# Root drops every capability for the command (it would read the owners itself).
unprivileged=()
if [ "$(id -u)" -eq 0 ]; then
    command -v setpriv >/dev/null || { echo "SKIP: root without setpriv to drop its capabilities"; exit 77; }
    unprivileged=(setpriv --inh-caps=-all --bounding-set=-all --)
    # Root without CAP_DAC_OVERRIDE may not enter a build tree another user owns.
    copy_for_other_users "$work/bin" cli fake || { echo "FAIL: copying the programs"; exit 1; }
fi

# A connection for the table to show, so that owners are asked for.
start_peer

# The exchange's deadline is 30 s; the bound leaves room for a slow machine.
declare -A reason=([trickle]="no whole reply within 30 s" [flood]="more owners than the")
for mode in trickle flood; do
    started=$SECONDS
    TARNWICK_HELPER=$fake TARNWICK_FAKE_HELPER=$mode "${unprivileged[@]}" "$cli" table >"$work/out" 2>"$work/err" &
    pid=$!
    peak=0
    while kill -0 "$pid" 2>/dev/null && ((SECONDS - started < 50)); do
        kb=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
        ((${kb:-0} > peak)) && peak=$kb
        sleep 0.2
    done
    wait_bounded "$pid" 1
    status=$?
    took=$((SECONDS - started))
    [ "$status" -eq 1 ] || fail "$mode: table exited $status: $(cat "$work/err")"
    ((took <= 45)) || fail "$mode: table took $took s"
    grep -qF "tarnwick-cli: tarnwick-helper ($fake) was stopped: " "$work/err" &&
        grep -qF "${reason[$mode]}" "$work/err" || fail "$mode: the reason is missing: $(cat "$work/err")"
    # Under the sanitizers the program itself is some 100 MB; a reply read without end grows by gigabytes.
    ((peak < 400000)) || fail "$mode: table grew to $peak kB"
done
stop_peer

# A capture the helper fails is said per interface in the system's words,
# as the helper's errno has them.
TARNWICK_HELPER=$fake "${unprivileged[@]}" timeout 20 "$cli" capture --count 1 >/dev/null 2>"$work/err"
status=$?
busy="tarnwick-cli: cannot capture on lo (127.0.0.1): Device or resource busy"
[ "$status" -eq 1 ] && grep -qxF "$busy" "$work/err" ||
    fail "a capture the helper failed: exited $status: $(cat "$work/err")"

[ "$failures" -eq 0 ] && echo "all helper fault checks passed"
exit $((failures > 0))
