#!/usr/bin/env bash
# tarnwick-cli capture of one program's packets, on a loopback of its own. Of
# two programs that talk to a third, a capture by process name lists only the
# first one's packets, including those of a connection it opens after the
# capture started; a program without sockets is said and watched for. Then a
# capture by pid for a member of the helper's group, for whom only the helper
# can tell that the sockets are those of root's process. Usage errors first.
# Needs root, unshare and python3; the helper part setcap, setpriv, useradd.
set -u
cli=$1
helper=${4:-}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
tab=$'\t'
source "$(dirname "$0")/lib/background.sh"
source "$(dirname "$0")/lib/other_users.sh"
talker=$(cd "$(dirname "$0")/lib" && pwd)/program_talker.py

# The programs' traffic, and all that is captured, stay on a loopback of the test's own.
if [ "$(id -u)" -eq 0 ] && [ -z "${TWK_IN_NETNS:-}" ] && command -v unshare >/dev/null; then
    TWK_IN_NETNS=1 exec unshare -n -- bash "$0" "$@"
fi

for args in "--pid 0" "--pid x" "--process" "--pid 1 --process a" "--interval 1" "--pid 1 --interval -1"; do
    # shellcheck disable=SC2086
    timeout 10 "$cli" capture $args >/dev/null 2>&1
    status=$?
    [ "$status" -eq 2 ] || fail "'capture $args' exited $status, expected 2"
done
timeout 10 "$cli" capture --process '' >/dev/null 2>&1
[ $? -eq 2 ] || fail "an empty process name was taken"

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: capturing needs root"
    [ "$failures" -eq 0 ] && exit 77 || exit 1
fi
for tool in unshare ip python3; do
    command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit $((failures > 0 ? 1 : 77)); }
done
ip link set lo up || { echo "FAIL: lo of the network namespace"; exit 1; }

work=$(mktemp -d)
chmod 0755 "$work"
group=twk-g$$
member=twk-m$$
cleanup() {
    end_background_jobs
    userdel "$member" 2>/dev/null
    groupdel "$group" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Waits at most $3 seconds for a line matching the pattern $2 in the file $1.
await() {
    local tenths=$(($3 * 10))
    until grep -qE "$2" "$1" 2>/dev/null; do
        ((tenths-- > 0)) || return 1
        sleep 0.1
    done
}

# The program to capture runs under a name of its own: a copy of the interpreter.
python=$(python3 -c 'import sys; print(sys.executable)')
cp "$python" "$work/twk-prog-a" || { echo "FAIL: copying $python"; exit 1; }
"$python" "$talker" sink "$work/sink" &
await "$work/sink" '^[0-9]+ [0-9]+$' 10 || { echo "FAIL: the sink did not start"; exit 1; }
read -r tcp udp <"$work/sink"
touch "$work/go-b"  # the other program has its connection from the start
"$work/twk-prog-a" "$talker" talk A "$tcp" "$udp" "$work/go-a" "$work/info-a" &
a_pid=$!
"$python" "$talker" talk B "$tcp" "$udp" "$work/go-b" "$work/info-b" &
await "$work/info-a" '^udp ' 10 && await "$work/info-b" '^tcp ' 10 || { echo "FAIL: the talkers did not start"; exit 1; }

"$cli" capture --process twk-prog-a --interval 0.2 >"$work/out" 2>"$work/err" &
pid=$!
await "$work/out" "${tab}A-early\$" 20 || fail "no datagram of the program listed: $(cat "$work/err")"
touch "$work/go-a"
await "$work/out" "A-late\$" 20 || fail "the connection it opened after the start is not listed"
kill -INT "$pid"
wait_bounded "$pid" 10
status=$?
[ "$status" -eq 0 ] || fail "the capture exited $status: $(cat "$work/err")"
grep -q 'B-' "$work/out" && fail "the other program's packets were listed: $(grep 'B-' "$work/out" | head -n 3)"
# Every line has one of the program's sockets at one end.
ports=$(awk '{print $2}' "$work/info-a" | paste -sd'|')
awk -F'\t' -v ports="^($ports)\$" '$3 !~ ports && $5 !~ ports' "$work/out" >"$work/others"
[ -s "$work/others" ] && fail "packets of other sockets listed: $(head -n 3 "$work/others")"

# A program that has no socket yet is said, and watched for all the same.
"$cli" capture --process twk-nothing --interval 0.2 >/dev/null 2>"$work/err" &
pid=$!
await "$work/err" '^tarnwick-cli: no socket of twk-nothing yet' 10 || fail "no note of the missing program: $(cat "$work/err")"
kill -0 "$pid" 2>/dev/null || fail "the capture of a missing program ended"
kill -INT "$pid"
wait_bounded "$pid" 10 || fail "the capture of a missing program exited $?"

# Through the helper: a member of its group, who may not read root's
# descriptors, captures root's program by its pid.
for tool in setcap setpriv useradd userdel groupadd groupdel; do
    command -v "$tool" >/dev/null || { echo "SKIP: the capture through the helper: no $tool"; exit $((failures > 0 ? 1 : 77)); }
done
[ -x "$helper" ] || { echo "FAIL: no helper program given"; exit 1; }
groupadd -r "$group" || { echo "FAIL: groupadd"; exit 1; }
useradd -r -M -N -s /usr/sbin/nologin -G "$group" "$member" || { echo "FAIL: useradd"; exit 1; }
copy_for_other_users "$work/bin" cli || { echo "FAIL: copying the programs"; exit 1; }
installed=$work/libexec/tarnwick-helper
mkdir "$work/libexec"
cp "$helper" "$installed"
chgrp "$group" "$installed"
chmod 0750 "$installed"
setcap cap_net_admin,cap_net_raw,cap_dac_read_search,cap_sys_ptrace,cap_setpcap+ep "$installed"
gid=$(getent group "$group" | cut -d: -f3)
setpriv --reuid "$(id -u "$member")" --regid "$(id -g "$member")" --groups "$gid" --inh-caps=-all -- \
    env TARNWICK_HELPER="$installed" timeout 20 "$cli" capture --pid "$a_pid" --interval 0.2 --count 5 \
    >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || fail "the member's capture exited $status: $(cat "$work/err")"
[ "$(grep -c "$tab" "$work/out")" -eq 5 ] || fail "the member's capture listed: $(cat "$work/out")"
awk -F'\t' -v ports="^($ports)\$" '$3 !~ ports && $5 !~ ports' "$work/out" >"$work/others"
[ -s "$work/others" ] && fail "the member's capture listed packets of other sockets: $(head -n 3 "$work/others")"

[ "$failures" -eq 0 ] && echo "all program capture checks passed"
exit $((failures > 0))
