#!/usr/bin/env bash
# tarnwick-helper end to end. A throwaway unprivileged user in a throwaway
# group that may run a copy of the helper with its file capabilities closes a
# loopback connection with tarnwick-cli, which the helper writes to the
# journal, sees the owner of a socket root holds and captures a loopback
# datagram, holding no packet socket meanwhile, and cannot put a forged
# datagram on loopback with what the helper gives it, while the helper runs
# confined; a user outside the group, and one without any helper, is told
# what is missing, and the helper started any other way serves nothing. Runs
# in a network namespace of its own. Needs root, setcap, setpriv, useradd,
# unshare, ip and ss: skipped without.
set -u
cli=$1
peer=$2
helper=${4:-}
forger=${7:-}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
tab=$'\t'
hint='install the tarnwick package and add yourself to the tarnwick group (then log in again)'
source "$(dirname "$0")/lib/background.sh"
source "$(dirname "$0")/lib/other_users.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: making users and giving file capabilities needs root"
    exit 77
fi
for tool in setcap setpriv useradd userdel groupadd groupdel unshare ip ss; do
    command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }
done
[ -x "$helper" ] && [ -x "$forger" ] || { echo "FAIL: no helper or forger program given"; exit 1; }
# Everything below on a loopback of its own: the forged datagram the test
# tries to send, and the packets it captures, stay in it.
if [ -z "${TWK_IN_NETNS:-}" ]; then
    TWK_IN_NETNS=1 exec unshare -n -- bash "$0" "$@"
fi
ip link set lo up || { echo "FAIL: lo of the network namespace"; exit 1; }

# The helper's journal entries go to a journal socket of the test's own: in a
# mount namespace of its own, under a tmpfs over /run. The script runs again
# in there.
if [ -z "${TWK_PRIVATE_RUN:-}" ] && unshare --mount --propagation private true 2>/dev/null; then
    TWK_PRIVATE_RUN=1 exec unshare --mount --propagation private bash "$0" "$@"
fi

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
# The test users run the copies (the helper's are made below).
copy_for_other_users "$work/bin" cli forger || { echo "FAIL: copying the programs"; exit 1; }

# Installed as the package installs it: group-owned, 0750, file capabilities
# (set last: a change of owner clears them). An older installation lacks
# CAP_SETPCAP, with which the helper narrows its bounding set.
capabilities=cap_net_admin,cap_net_raw,cap_dac_read_search,cap_sys_ptrace
installed=$work/libexec/tarnwick-helper
older=$work/libexec/older-helper
mkdir "$work/libexec"
for copy in "$installed" "$older"; do
    cp "$helper" "$copy"
    chgrp "$group" "$copy"
    chmod 0750 "$copy"
done
setcap "$capabilities,cap_setpcap+ep" "$installed"
setcap "$capabilities+ep" "$older"

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
helper_path=$older as "$member" "$cli" table --no-shortnames >"$work/out" 2>"$work/err"
grep -qP "\t${listen_port}\tTCP\tListening\t${peer_name}\$" "$work/out" && [ ! -s "$work/err" ] ||
    fail "a helper without CAP_SETPCAP does not serve quietly: $(cat "$work/err")"
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

# The close is written to the journal with who asked for it: the user and
# the process that started the helper (its pid written here by the shell that
# becomes tarnwick-cli).
journal=''
if [ -n "${TWK_PRIVATE_RUN:-}" ] && command -v python3 >/dev/null; then
    mount -t tmpfs -o mode=0755 tarnwick-test-run /run
    mkdir -p /run/systemd/journal
    journal=$work/journal
    python3 - /run/systemd/journal/socket "$journal" <<'PY' &
import os, socket, sys
listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
listener.bind(sys.argv[1])
os.chmod(sys.argv[1], 0o666)
with open(sys.argv[2], "ab", buffering=0) as entries:
    while True:
        entries.write(listener.recv(1 << 20) + b"\n")
PY
    journal_pid=$!
    for _ in $(seq 1 50); do [ -S /run/systemd/journal/socket ] && break; sleep 0.1; done
else
    echo "SKIP: the journal entry of a close (no private mount namespace or no python3)"
    skipped=1
fi
as "$member" sh -c 'echo "$$"; exec "$@"' sh "$cli" kill "$client_port" 127.0.0.1 "$listen_port" \
    >"$work/out" 2>"$work/err"
status=$?
caller=$(head -n 1 "$work/out")
[ "$status" -eq 0 ] || fail "the member's kill exited $status: $(cat "$work/out" "$work/err")"
"$cli" table --no-shortnames | grep -qP "\t${client_port}\tTCP\tEstablished\t" &&
    fail "the member's kill left the connection established"
as "$member" "$cli" kill "$listen_port" 0.0.0.0 0 >"$work/out" 2>&1 && fail "the member closed a listener"
if [ -n "$journal" ]; then
    uid=$(id -u "$member")
    for line in "MESSAGE=tarnwick-helper: closed TCP 127.0.0.1:$client_port -> 127.0.0.1:$listen_port for uid $uid pid $caller" \
                "TARNWICK_CALLER_UID=$uid" "TARNWICK_CALLER_PID=$caller" "TARNWICK_LOCAL_PORT=$client_port" \
                "TARNWICK_REMOTE_ADDRESS=127.0.0.1" "TARNWICK_REMOTE_PORT=$listen_port"; do
        grep -qxF "$line" "$journal" || fail "the journal has no $line: $(cat "$journal")"
    done
    [ "$(grep -c '^MESSAGE=' "$journal")" -eq 1 ] || fail "not one entry for one close: $(cat "$journal")"
    kill "$journal_pid"
    wait "$journal_pid" 2>/dev/null
fi
stop_peer

# Started by hand, or with anything but a socket pair on descriptor 3 (here a
# stream pair, which has a peer all the same), the helper serves nothing.
for way in hand stream; do
    if [ "$way" = hand ]; then
        as "$member" "$installed" 3>&- >/dev/null 2>"$work/err" &
    else
        as "$member" python3 -c 'import os, socket, sys
mine, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_STREAM)
os.dup2(theirs.fileno(), 3)
os.execv(sys.argv[1], sys.argv[1:])' "$installed" >/dev/null 2>"$work/err" &
    fi
    wait_bounded $! 10
    status=$?
    [ "$status" -eq 2 ] && grep -qF "not for running by hand" "$work/err" ||
        fail "the helper started by $way exited $status: $(cat "$work/err")"
done

# Capturing a loopback datagram through the helper, which reads the packet
# socket itself: the capturing program holds none (ss -0p lists the packet
# sockets of this network namespace with their holders; the helper's
# forwarder is one). The member records it too, into a file of its own.
port=$((40000 + RANDOM % 20000))
mkdir "$work/recorded" && chown "$member" "$work/recorded"
# In the background `as` runs in a subshell of its own, which is all that
# wait_bounded can end: timeout ends the capture itself.
as "$member" timeout 20 "$cli" capture --proto UDP --port2 "$port" --count 1 --write "$work/recorded/capture.pcapng" \
    >"$work/out" 2>"$work/err" &
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
# While it serves, the helper may make only the calls of its work
# (Seccomp 2: a filter) and can never hold more than it holds now.
helpers=()
for _ in $(seq 1 50); do
    for process in /proc/[0-9]*; do
        [ "$(readlink "$process/exe" 2>/dev/null)" = "$installed" ] && helpers+=("$process")
    done
    [ ${#helpers[@]} -gt 0 ] && break
    sleep 0.1
done
[ ${#helpers[@]} -gt 0 ] || fail "no helper ran for the capture"
helper_bounding=$(for process in "${helpers[@]}"; do grep ^CapPrm "$process/status" | cut -f2; done |
                  grep -vx 0000000000000000 | head -n 1)
for process in "${helpers[@]}"; do
    grep -qx "Seccomp:${tab}2" "$process/status" || fail "$process runs unfiltered: $(grep Seccomp "$process/status")"
    # The helper's bounding set is what it holds; a capture's forwarder holds
    # nothing and keeps the helper's bounding set.
    bounding=$(grep ^CapBnd "$process/status" | cut -f2)
    [ "$bounding" = "$(grep ^CapPrm "$process/status" | cut -f2)" ] ||
        { [ "$(grep ^CapPrm "$process/status" | cut -f2)" = 0000000000000000 ] && [ "$bounding" = "$helper_bounding" ]; } ||
        fail "$process could regain capabilities: $(grep ^Cap "$process/status")"
done
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
if command -v tshark >/dev/null; then
    recorded=$(tshark -r "$work/recorded/capture.pcapng" -T fields -e frame.interface_name -e udp.payload 2>/dev/null)
    [ "$recorded" = "lo${tab}68656c6c6f" ] || fail "the member recorded: $recorded"
fi

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

[ "$failures" -gt 0 ] && exit 1
# Part of it skipped: 77 makes ctest report the test as skipped.
[ -n "${skipped:-}" ] && exit 77
echo "all helper checks passed"
