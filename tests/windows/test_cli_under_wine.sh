#!/usr/bin/env bash
# tarnwick-cli.exe under Wine, in a network namespace of its own with
# loopback sockets of a host-side peer: the table lists them with their ports
# and states as `ss` does, the table and its report page are those the Linux
# tool writes for the same sockets, a kill closes the connection or says
# why not, and what Windows cannot do is refused with its reason.
# Usage: test_cli_under_wine.sh WINE CLI_EXE [LINUX_CLI]
set -u
wine=$1
cli=$2
linux_cli=${3:-}
wine_netns_tools=ss
source "$(dirname "$0")/wine_in_netns.sh" "$@"
run() { "$wine" "$cli" "$@"; }

# The peer: a listener, a connection to it, a bound UDP socket and an IPv6
# listener, held until it is killed.
python3 - "$dir/ports" <<'PY' &
import signal, socket, sys
l = socket.socket(); l.bind(('127.0.0.1', 0)); l.listen(8)
c = socket.create_connection(l.getsockname()); a, _ = l.accept()
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(('127.0.0.1', 0))
l6 = socket.socket(socket.AF_INET6); l6.bind(('::1', 0)); l6.listen(1)
with open(sys.argv[1] + '.new', 'w') as f:
    f.write('%d %d %d %d\n' % (l.getsockname()[1], c.getsockname()[1], u.getsockname()[1], l6.getsockname()[1]))
import os; os.rename(sys.argv[1] + '.new', sys.argv[1])
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
signal.pause()
PY
peer_pid=$!
wait_for_ports "$dir/ports"
read -r listen_port client_port udp_port listen6_port <"$dir/ports" || { echo "FAIL: the peer gave no ports"; exit 1; }

# The table against ss: every TCP socket ss lists is a row with its ports and
# state, and the rows are no more than that.
run table --no-shortnames >"$dir/table" 2>"$dir/err" || fail "table exited $?: $(cat "$dir/err")"
state_name() {
    case $1 in
        LISTEN) echo Listening ;; ESTAB) echo Established ;; SYN-SENT) echo Syn_Sent ;; SYN-RECV) echo Syn_Rcvd ;;
        FIN-WAIT-1) echo Fin_Wait1 ;; FIN-WAIT-2) echo Fin_Wait2 ;; CLOSE-WAIT) echo Close_Wait ;;
        CLOSING) echo Closing ;; LAST-ACK) echo Last_Ack ;; TIME-WAIT) echo Time_Wait ;; *) echo "$1" ;;
    esac
}
expected=()
while read -r state _ _ local peer _; do
    protocol=TCP
    [[ $local == \[* ]] && protocol=TCPv6
    remote_port=${peer##*:}
    [ "$remote_port" = '*' ] && remote_port=0
    expected+=("${remote_port}	${local##*:}	${protocol}	$(state_name "$state")")
done < <(ss -Htan)
[ "${#expected[@]}" -eq 4 ] || fail "ss lists ${#expected[@]} TCP sockets, not the peer's 4"
listed=$(awk -F'\t' 'NR > 1 && $4 ~ /^TCP/ { print $2 "\t" $3 "\t" $4 "\t" $5 }' "$dir/table" | sort)
[ "$listed" = "$(printf '%s\n' "${expected[@]}" | sort)" ] ||
    fail "the table's TCP rows are not the sockets ss lists:"$'\n'"$listed"$'\n'"ss:"$'\n'"$(printf '%s\n' "${expected[@]}")"
grep -qP "^\\S+\\t0\\t${listen_port}\\tTCP\\tListening\\t" "$dir/table" || fail "no listening row for port $listen_port"
grep -qP "\\t${listen_port}\\t${client_port}\\tTCP\\tEstablished\\t" "$dir/table" || fail "no connection row"
grep -qP "\\t${listen6_port}\\tTCPv6\\tListening\\t" "$dir/table" || fail "no IPv6 listening row"
grep -qP "\\t${udp_port}\\tUDP\\t" "$dir/table" || fail "no UDP row for port $udp_port"

# The same sockets through the Linux tool: the same table and the same
# report page, but for the owners (Wine names none) and the report's time.
if [ -n "$linux_cli" ]; then
    "$linux_cli" table --no-shortnames >"$dir/linux_table" 2>/dev/null || fail "the Linux table exited $?"
    without_process() { cut -f1-5 "$1"; }
    diff <(without_process "$dir/linux_table") <(without_process "$dir/table") >"$dir/diff" ||
        fail "the tables differ:"$'\n'"$(cat "$dir/diff")"
    run report table 'Z:'"$(sed 's|/|\\|g' <<<"$dir/windows.htm")" 2>"$dir/err" || fail "report table exited $?: $(cat "$dir/err")"
    "$linux_cli" report table "$dir/linux.htm" || fail "the Linux report exited $?"
    page() { sed -e 's#<td>[^<]*</td></tr>#<td></td></tr>#g' -e 's#^Time:\.*.*<br>#Time:#' "$1"; }
    cmp -s <(page "$dir/linux.htm") <(page "$dir/windows.htm") ||
        fail "the report pages differ:"$'\n'"$(diff <(page "$dir/linux.htm") <(page "$dir/windows.htm") | head -20)"
else
    echo "no Linux tarnwick-cli given: the pages are not compared with its"
fi

# A kill closes the connection, or says why not and leaves it.
run kill "$client_port" 127.0.0.1 "$listen_port" >"$dir/kill" 2>&1
status=$?
established() { ss -Htan state established "( sport = :$client_port )" | grep -q .; }
if [ "$status" -eq 0 ]; then
    for ((tries = 0; tries < 50; tries++)); do established || break; sleep 0.1; done
    established && fail "kill exited 0 but the connection is still established"
    echo "kill under Wine: closed the connection"
else
    grep -q '^The connection could not be closed: ' "$dir/kill" || fail "kill exited $status saying: $(cat "$dir/kill")"
    established || fail "a refused kill lost the connection"
    echo "kill under Wine: refused, saying: $(cat "$dir/kill")"
fi

# What Windows cannot do is refused with its reason.
for args in "locate 8.8.8.8" "table --location" "watch --journal --count 1"; do
    # shellcheck disable=SC2086
    run $args >/dev/null 2>"$dir/err"
    status=$?
    [ "$status" -eq 1 ] || fail "'$args' exited $status, expected 1"
    grep -qiE 'not available|no systemd journal' "$dir/err" || fail "'$args' said: $(cat "$dir/err")"
done

[ "$failures" -eq 0 ] && echo "all checks under Wine passed"
exit $((failures > 0))
