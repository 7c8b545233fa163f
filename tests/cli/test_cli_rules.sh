#!/usr/bin/env bash
# tarnwick-cli with rules, end to end: the rules as loaded, a rule's actions
# on a real loopback connection, and closing a connection by hand. Closing
# needs root: without it only the rules as loaded are checked, and the test skips.
set -u
cli=$1
peer=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$(dirname "$0")/lib/background.sh"
work=$(mktemp -d)
trap 'end_background_jobs; rm -rf "$work"' EXIT
tab=$'\t'

# The rules as loaded: fifteen fields in the order of the file's keys.
printf '[ALL]\r\nCount=2\r\n[Item1]\r\nRulesName="web"\r\nEnabledRules=1\r\nEnRemotePortFilter=1\r\nRemotePortFilter=0x50\r\nPopupMsg=a\tb\r\n' >"$work/rules.dat"
rules=$("$cli" rules "$work/rules.dat") || fail "rules exited $?"
expected="web${tab}1${tab}0${tab}0${tab}1${tab}0${tab}0${tab}0${tab}0${tab}0.0.0.0${tab}0${tab}80${tab}${tab}${tab}a\\x09b
${tab}0${tab}0${tab}0${tab}0${tab}0${tab}0${tab}0${tab}0${tab}0.0.0.0${tab}0${tab}0${tab}${tab}${tab}"
[ "$rules" = "$expected" ] || fail "rules printed:
$rules"
"$cli" rules "$work/missing.dat" >/dev/null 2>&1 && fail "a missing rules file was not an error"

# Everything below closes connections, which takes CAP_NET_ADMIN.
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: closing connections needs root"
    [ "$failures" -eq 0 ] && exit 77 || exit 1
fi

# A rule on our listener's port: run a script, then popup (logged only), then kill.
start_peer
cat >"$work/ran.sh" <<SCRIPT
#!/bin/sh
touch "$work/ran"
SCRIPT
chmod +x "$work/ran.sh"
cat >"$work/rules.dat" <<RULES
[ALL]
Count=1
[Item1]
RulesName=guard
EnabledRules=1
EnRemotePortFilter=1
RemotePortFilter=$listen_port
EnRunAction=1
RunAction=$work/ran.sh
EnKillAction=1
EnPopupAction=1
PopupMsg=closed it
RULES
watch=$("$cli" watch --interval 0.2 --count 3 --rules "$work/rules.dat" --enable-rules) || fail "watch exited $?"
grep -qP "^1\t.*    Enabled Rules:guard,Run the Program files:$work/ran.sh\$" <<<"$watch" || fail "no run line:
$watch"
grep -qP "^1\t.*    Enabled Rules:guard,Kill the Connection!\$" <<<"$watch" || fail "no kill line"
grep -qP "^1\t.*    Enabled Rules:guard,Popup Messages:closed it\$" <<<"$watch" || fail "no popup line"
grep -qP "^3\t.*DisConnected to 127\.0\.0\.1 On Port:${listen_port}\$" <<<"$watch" || fail "the killed connection was not reported gone"
for _ in $(seq 50); do [ -e "$work/ran" ] && break; sleep 0.1; done
[ -e "$work/ran" ] || fail "the run action did not start the script"
# Without --enable-rules the same rules do nothing.
stop_peer
start_peer
watch=$("$cli" watch --interval 0 --count 1 --rules "$work/rules.dat")
grep -q 'Enabled Rules' <<<"$watch" && fail "rules fired without --enable-rules"

# Closing by hand: the established client end of our peer (leading zeros are
# only another spelling of the address).
"$cli" kill "$client_port" 127.000.000.001 "$listen_port" >"$work/out"; status=$?
[ "$status" -eq 0 ] || fail "kill exited $status: $(cat "$work/out")"
"$cli" table --no-shortnames | grep -qP "\t${client_port}\tTCP\tEstablished\t" && fail "the killed connection is still established"
"$cli" kill "$listen_port" 0.0.0.0 0 >"$work/out"; status=$?
[ "$status" -eq 1 ] && [ "$(cat "$work/out")" = "I can only close Established connections!" ] ||
    fail "killing the listener: status $status, '$(cat "$work/out")'"
"$cli" kill 1 10.9.9.9 1 >/dev/null; [ $? -eq 1 ] || fail "killing a connection that does not exist did not fail"
"$cli" kill 1 127.0.0.256 1 >/dev/null 2>&1; [ $? -eq 2 ] || fail "a bad address was not a usage error"
stop_peer

# An IPv6 connection, its remote address in the long form.
start_peer 6
"$cli" table --no-shortnames | grep -qP "^::1\t${listen_port}\t${client_port}\tTCPv6\tEstablished\t" ||
    fail "the IPv6 connection is not in the table"
"$cli" kill "$client_port" 0:0:0:0:0:0:0:1 "$listen_port" >"$work/out"; status=$?
[ "$status" -eq 0 ] || fail "IPv6 kill exited $status: $(cat "$work/out")"
"$cli" table --no-shortnames | grep -qP "\t${client_port}\tTCPv6\tEstablished\t" &&
    fail "the killed IPv6 connection is still established"
stop_peer

[ "$failures" -eq 0 ] && echo "all rule checks passed"
exit $((failures > 0))
