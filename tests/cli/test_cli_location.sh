#!/usr/bin/env bash
# tarnwick-cli locate, table --location and the location of watch --json
# against Debian's own `location lookup`, on public addresses of both families
# taken from the installed database; the addresses that are not public; a
# malformed address; a database that is not there. The table and the watch
# need connections to public addresses: they are made inside a network
# namespace of the script's own, to addresses it puts on that namespace's
# loopback, so that nothing leaves the machine (look-ups read a local file).
set -u
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Inside the namespace: $1 the tool, $2 the peer, then for each address the
# line `location lookup` gives of it (see oracle below).
if [ "${1:-}" = --inside ]; then
    cli=$2 peer=$3
    shift 3
    source "$(dirname "$0")/lib/background.sh"
    trap end_background_jobs EXIT
    ip link set lo up || { echo "FAIL: the namespace's loopback cannot be brought up"; exit 1; }
    for line in "$@"; do
        IFS=$'\t' read -r address code asn name <<<"$line"
        if [[ $address == *:* ]]; then
            ip -6 addr add "$address/128" dev lo nodad || { fail "cannot put $address on lo"; continue; }
        else
            ip addr add "$address/32" dev lo || { fail "cannot put $address on lo"; continue; }
        fi
        network="AS$asn"
        [ "$name" = - ] || network+=" $name"
        [ "$asn" = - ] && network=-
        start_peer "$address"
        # The connecting end's row: its remote port is the listener's.
        table=$("$cli" table --location --no-udp --no-shortnames) || fail "table --location exited $?"
        row=$(awk -F'\t' -v port="$listen_port" '$2 == port' <<<"$table")
        [ "$(cut -f7- <<<"$row")" = "$code"$'\t'"$network" ] || fail "table --location shows $address as:
$row
where location lookup says: $line"
        located="\"remote_country\":\"$code\",\"remote_asn\":$asn"
        [ "$name" = - ] || located+=",\"remote_as_name\":\"$name\""
        json=$("$cli" watch --json --count 1 | grep "\"remote_port\":$listen_port,")
        [[ $json == *"$located}" ]] || fail "watch --json shows $address as: $json
where location lookup says: $line"
        stop_peer
    done
    exit "$failures"
fi

cli=$1
peer=$2

database=/var/lib/location/database.db
command -v location >/dev/null || { echo "SKIP: no location command (Debian package location)"; exit 77; }
[ -r "$database" ] || { echo "SKIP: no location database at $database (Debian package libloc-database)"; exit 77; }
unset TARNWICK_LOCATION_DATABASE

# What `location lookup` says of address $1, as locate prints it: the address,
# the country code, the AS number and the AS name, tab-separated, "-" for
# what it does not say. It names the country; list-countries gives its code.
countries=$(location list-countries --show-name 2>/dev/null)
oracle() {
    local out country code="-" as asn="-" name="-"
    out=$(location lookup "$1" 2>/dev/null)
    country=$(sed -n 's/^ *Country *: //p' <<<"$out")
    if [ -n "$country" ]; then
        code=$(awk -v name="$country" '{ code = $1; sub(/^[^ ]+ /, ""); if ($0 == name) print code }' <<<"$countries")
        [ -n "$code" ] || code=$country
    fi
    as=$(sed -n 's/^ *Autonomous System *: //p' <<<"$out")  # "AS3320 - Deutsche Telekom AG"
    if [ -n "$as" ]; then
        asn=${as%% - *}
        asn=${asn#AS}
        [[ $as == *" - "* ]] && name=${as#* - }
    fi
    printf '%s\t%s\t%s\t%s\n' "$1" "$code" "$asn" "$name"
}

# The first network of a country and family, as an address inside it: the
# network's first address (an IPv6 network ending in "::" gets a 1).
address_in() {
    local network
    network=$(location list-networks-by-cc --family "$2" "$1" 2>/dev/null | head -1)
    network=${network%/*}
    [[ $network == *:: ]] && network=${network}1
    printf '%s\n' "$network"
}
de4=$(address_in DE ipv4) de6=$(address_in DE ipv6) jp4=$(address_in JP ipv4) jp6=$(address_in JP ipv6)
for address in "$de4" "$de6" "$jp4" "$jp6"; do
    [ -n "$address" ] || { echo "FAIL: the database lists no networks of DE and JP in both families"; exit 1; }
done

# locate agrees with the oracle; an IPv4-mapped address is its IPv4 address.
expected=$(for address in "$de4" "$de6" "$jp4" "$jp6"; do oracle "$address"; done
           oracle "$jp4" | sed "s/^$jp4/::ffff:$jp4/")
out=$("$cli" locate "$de4" "$de6" "$jp4" "$jp6" "::ffff:$jp4") || fail "locate exited $?"
[ "$out" = "$expected" ] || fail "locate printed:
$out
where location lookup says:
$expected"
grep -q $'\t-\t-\t-$' <<<"$expected" && fail "the oracle knows nothing of a listed network: $expected"

# Addresses that are not public are never looked up.
private=(10.1.2.3 127.0.0.1 169.254.1.1 192.168.1.1 224.0.0.1 ::1 fe80::1%lo fd00::1)
out=$("$cli" locate "${private[@]}") || fail "locate of private addresses exited $?"
[ "$out" = "$(printf '%s\t-\t-\t-\n' "${private[@]}")" ] || fail "locate of private addresses printed:
$out"

# A malformed address is an error of its own; the others are still printed.
err=$("$cli" locate "$de4" bogus 1.2.3 2>&1 >/dev/null)
status=$?
[ "$status" = 1 ] || fail "locate with malformed addresses exited $status"
[ "$(grep -c "bad address" <<<"$err")" = 2 ] && grep -q "'bogus'" <<<"$err" || fail "locate said: $err"
[ "$("$cli" locate "$de4" bogus 2>/dev/null)" = "$(oracle "$de4")" ] || fail "the good address was not printed"
"$cli" locate >/dev/null 2>&1
[ $? = 2 ] || fail "locate without an address was no usage error"

# Without the database: one note, every field "-", no failure.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$(TARNWICK_LOCATION_DATABASE="$work/none.db" "$cli" locate "$de4" 2>"$work/err") || fail "locate without a database exited $?"
[ "$out" = "$(printf '%s\t-\t-\t-' "$de4")" ] || fail "locate without a database printed: $out"
[ "$(wc -l <"$work/err")" = 1 ] && grep -q "$work/none.db: No such file or directory" "$work/err" ||
    fail "locate without a database said: $(cat "$work/err")"
out=$(TARNWICK_LOCATION_DATABASE="$work/none.db" "$cli" table --location 2>"$work/err") ||
    fail "table --location without a database exited $?"
[ "$(head -1 <<<"$out")" = $'Remote Addr\tRemote Port\tLocal Port\tProtocol\tStatus\tProcess\tCountry\tNetwork' ] ||
    fail "table --location header: $(head -1 <<<"$out")"
grep -q "$work/none.db" "$work/err" || fail "table --location without a database said: $(cat "$work/err")"

# In a network namespace: connections to public addresses, in the table and the watch.
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
    unshare -n bash "$0" --inside "$cli" "$peer" "$(oracle "$de4")" "$(oracle "$jp6")"
    failures=$((failures + $?))
else
    [ "$failures" = 0 ] || exit "$failures"
    echo "SKIP: table --location and watch --json need a network namespace of their own (root, unshare -n)"
    exit 77
fi
[ "$failures" = 0 ] && echo "all passed"
exit "$failures"
