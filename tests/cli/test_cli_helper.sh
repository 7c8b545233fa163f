#!/usr/bin/env bash
# tarnwick-helper end to end. A throwaway unprivileged user in a throwaway
# group that may run a copy of the helper with its file capabilities closes a
# loopback connection with tarnwick-cli, sees the owner of a socket root holds
# and captures a loopback datagram; a user outside the group, and one without
# any helper, is told what is missing. Needs root, setcap, setpriv and
# useradd: skipped without.
set -u
cli=$1
peer=$2
helper=${4:-}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
tab=$'\t'
hint='install the tarnwick package and add yourself to the tarnwick group (then log in again)'
source "$(dirname "$0")/lib/background.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: making users and giving file capabilities needs root"
    exit 0
fi
for tool in setcap setpriv useradd userdel groupadd groupdel; do
    command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 0; }
done
[ -x "$helper" ] || { echo "FAIL: no helper program given"; exit 1; }

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
    setpriv --reuid "$(id -u "$user")" --regid "$(id -g "$user")" "${groups[@]}" -- \
        env TARNWICK_HELPER="${helper_path:-$installed}" "$@"
}
[ "$(as "$member" grep CapEff /proc/self/status)" = "CapEff:${tab}0000000000000000" ] ||
    fail "the test user holds capabilities of its own"

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

# Capturing a loopback datagram through the helper's packet socket.
port=$((40000 + RANDOM % 20000))
as "$member" "$cli" capture --proto UDP --port2 "$port" --count 1 >"$work/out" 2>"$work/err" &
pid=$!
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
as "$outsider" "$cli" capture --count 1 >/dev/null 2>"$work/err"
status=$?
[ "$status" -eq 1 ] && grep -qF "$hint" "$work/err" || fail "the outsider's capture exited $status: $(cat "$work/err")"

# Every helper ended with the command that started it.
for process in /proc/[0-9]*; do
    [ "$(readlink "$process/exe" 2>/dev/null)" = "$installed" ] && fail "a helper outlived its program: $process"
done

[ "$failures" -eq 0 ] && echo "all helper checks passed"
exit $((failures > 0))
