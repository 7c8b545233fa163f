#!/usr/bin/env bash
# tarnwick-helper end to end. A throwaway unprivileged user in a throwaway
# group that may run a copy of the helper with its file capabilities closes a
# loopback connection with tarnwick-cli, sees the owner of a socket root holds
# and captures a loopback datagram, holding no packet socket meanwhile, and
# cannot put a forged datagram on loopback with what the helper gives it; a
# user outside the group, and one without any helper, is told what is
# missing. Runs in a network namespace of its own. Needs root, setcap,
# setpriv, useradd, unshare, ip and ss: skipped without.
set -u
cli=$1
peer=$2
helper=${4:-}
forger=${5:-}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
tab=$'\t'
hint='install the tarnwick package and add yourself to the tarnwick group (then log in again)'
source "$(dirname "$0")/lib/background.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: making users and giving file capabilities needs root"
    exit 0
fi
for tool in setcap setpriv useradd userdel groupadd groupdel unshare ip ss; do
    command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 0; }
done
[ -x "$helper" ] && [ -x "$forger" ] || { echo "FAIL: no helper or forger program given"; exit 1; }
# Everything below on a loopback of its own: the forged datagram the test
# tries to send, and the packets it captures, stay in it.
if [ -z "${TWK_IN_NETNS:-}" ]; then
    TWK_IN_NETNS=1 exec unshare -n -- bash "$0" "$@"
fi
ip link set lo up || { echo "FAIL: lo of the network namespace"; exit 1; }

group=twk-g$$
member=twk-m$$
outsider=twk-o$$
work=$(mktemp -d)
chmod 0755 "$work"
cleanup() {
    end_background_jobs
    userdel "$member" 2>/dev/null
    userdel "$outsider" 2>/dev/null
    groupdel "$group" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
groupadd -r "$group" || { echo "FAIL: groupadd"; exit 1; }
useradd -r -M -N -s /usr/sbin/nologin -G "$group" "$member" || { echo "FAIL: useradd"; exit 1; }
useradd -r -M -N -s /usr/sbin/nologin "$outsider" || { echo "FAIL: useradd"; exit 1; }

# Installed as the package installs it: group-owned, 0750, file capabilities
# (set last: a change of owner clears them).
installed=$work/libexec/tarnwick-helper
mkdir "$work/libexec"
cp "$helper" "$installed"
chgrp "$group" "$installed"
chmod 0750 "$installed"
setcap cap_net_admin,cap_net_raw,cap_dac_read_search,cap_sys_ptrace+ep "$installed"

gid=$(getent group "$group" | cut -d: -f3)
# Runs a command as user $1 (in the helper's group when it is the member).
as() {
    local user=$1
    shift
    local groups=(--clear-groups)
    [ "$user" = "$member" ] && groups=(--groups "$gid")
    # No capability of root's inheritable set either (else CAP_DAC_OVERRIDE, say, would stay).
    setpriv --reuid "$(id -u "$user")" --regid "$(id -g "$user")" "${groups[@]}" --inh-caps=-all -- \
        env TARNWICK_HELPER="${helper_path:-$installed}" "$@"
}
[ "$(as "$member" grep -E '^Cap(Inh|Eff)' /proc/self/status | tr '\n' ' ')" = \
    "CapInh:${tab}0000000000000000 CapEff:${tab}0000000000000000 " ] || fail "the test user holds capabilities of its own"

# A connection root holds.
start_peer
peer_name=$(basename "$peer")

as "$member" "$cli" table --no-shortnames >"$work/out" 2>"$work/err" || fail "member's table exited $?"
# The whole executable name: the user may read only the shortened command name itself.
grep -qP "\t${listen_port}\tTCP\tListening\t${peer_name}\$" "$work/out" ||
    fail "the member does not see the owner of root's listener: $(grep -P "\t${listen_port}\t" "$work/out")"
[ -s "$work/err" ] && fail "the member's table said: $(cat "$work/err")"
as "$outsider" "$cli" table --no-shortnames >"$work/out" 2>"$work/err" || fail "outsider's table exited $?"
grep -qP "\t${listen_port}\tTCP\tListening\t\$" "$work/out" || fail "the outsider sees root's owner, or not the row"
grep -qF "$hint" "$work/err" || fail "the outsider's table did not say what is missing: $(cat "$work/err")"

# Closing: refused outside the group, with what to do; done inside it.
as "$outsider" "$cli" kill "$client_port" 127.0.0.1 "$listen_port" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 1 ] || fail "the outsider's kill exited $status"
grep -qF "you may not run tarnwick-helper ($installed)" "$work/err" && grep -qF "$hint" "$work/err" ||
    fail "the outsider's kill said: $(cat "$work/err")"
helper_path=$work/missing as "$member" "$cli" kill "$client_port" 127.0.0.1 "$listen_port" >/dev/null 2>"$work/err"
status=$?
[ "$status" -eq 1 ] && grep -qF "tarnwick-helper is not installed (there is no $work/missing)" "$work/err" ||
    fail "without a helper the kill exited $status: $(cat "$work/err")"
"$cli" table --no-shortnames | grep -qP "\t${client_port}\tTCP\tEstablished\t" || fail "a refused kill closed it"

as "$member" "$cli" kill "$client_port" 127.0.0.1 "$listen_port" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || fail "the member's kill exited $status: $(cat "$work/out" "$work/err")"
"$cli" table --no-shortnames | grep -qP "\t${client_port}\tTCP\tEstablished\t" &&
    fail "the member's kill left the connection established"
as "$member" "$cli" kill "$listen_port" 0.0.0.0 0 >"$work/out" 2>&1 && fail "the member closed a listener"
stop_peer

# Capturing a loopback datagram through the helper, which reads the packet
# socket itself: the capturing program holds none (ss -0p lists the packet
# sockets of this network namespace with their holders; the helper's
# forwarder is one).
port=$((40000 + RANDOM % 20000))
# In the background `as` runs in a subshell of its own, which is all that
# wait_bounded can end: timeout ends the capture itself.
as "$member" timeout 20 "$cli" capture --proto UDP --port2 "$port" --count 1 >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 1 100); do
    ss -0p >"$work/packet_sockets"
    grep -qF '"tarnwick-helper"' "$work/packet_sockets" && break
    sleep 0.1
done
grep -qF '"tarnwick-helper"' "$work/packet_sockets" || fail "no forwarder of the helper holds a packet socket"
# Alone in this network namespace, the member's is the only tarnwick-cli.
grep -qF '"tarnwick-cli"' "$work/packet_sockets" &&
    fail "the member's tarnwick-cli holds a packet socket: $(grep -F '"tarnwick-cli"' "$work/packet_sockets")"
for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    printf 'hello' >"/dev/udp/127.0.0.1/$port" 2>/dev/null
    sleep 0.2
done
wait_bounded "$pid" 10
status=$?
[ "$status" -eq 0 ] || fail "the member's capture exited $status: $(cat "$work/err")"
grep -qP "^UDP\t127\.0\.0\.1\t[0-9]+\t127\.0\.0\.1\t${port}\t5\thello\$" "$work/out" ||
    fail "the member's capture listed: $(cat "$work/out")"

# A helper that hands out anything but a capture stream is not listened to.
helper_path=$forger as "$member" timeout 10 "$cli" capture --count 1 >/dev/null 2>"$work/err"
status=$?
[ "$status" -eq 1 ] && grep -qF "sent a capture that is no socket pair" "$work/err" ||
    fail "a UDP socket for a capture: exited $status: $(cat "$work/err")"

# Nothing written into what the helper gives for a capture reaches a root
# listener on [::1]: the listener hears the sentinel root sends afterwards,
# and nothing before it.
port=$((40000 + RANDOM % 20000))
"$forger" listen "$port" >"$work/heard" &
listener=$!
for _ in $(seq 1 50); do
    grep -q '^ready$' "$work/heard" && break
    sleep 0.1
done
as "$member" "$forger" forge "$installed" "$port" >"$work/forge" 2>&1 || fail "the forger got no capture: $(cat "$work/forge")"
"$forger" send "$port" sentinel
wait_bounded "$listener" 10 || fail "the listener did not hear the sentinel"
[ "$(cat "$work/heard")" = $'ready\nsentinel' ] ||
    fail "a forged datagram reached root's listener: $(tr '\n' ' ' <"$work/heard") (tried: $(tr '\n' ' ' <"$work/forge"))"

as "$outsider" "$cli" capture --count 1 >/dev/null 2>"$work/err"
status=$?
[ "$status" -eq 1 ] && grep -qF "$hint" "$work/err" || fail "the outsider's capture exited $status: $(cat "$work/err")"

# Captures cost a process and a ring each: one helper gives only so many.
as "$member" "$forger" hoard "$installed" >"$work/hoard" 2>&1
read -r hoarded _ _ why <"$work/hoard"
[ "$why" = "Device or resource busy" ] && [ "$hoarded" -ge 20 ] ||
    fail "one helper's captures: $(cat "$work/hoard")"

# Every helper, and every forwarder of one, ended with the command that
# started it (a forwarder sees its program's end close a moment later).
helpers() {
    for process in /proc/[0-9]*; do
        [ "$(readlink "$process/exe" 2>/dev/null)" = "$installed" ] && echo "$process"
    done
}
for _ in $(seq 1 50); do
    [ -z "$(helpers)" ] && break
    sleep 0.1
done
[ -z "$(helpers)" ] || fail "a helper outlived its program: $(helpers)"

[ "$failures" -eq 0 ] && echo "all helper checks passed"
exit $((failures > 0))
