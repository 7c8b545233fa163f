#!/usr/bin/env bash
# Capture under a loopback UDP flood: tarnwick against tcpdump.
#
# For each RATE (datagrams per second, default 50000 300000), while
# tarnwick-udp-flood RATE DURATION runs, one after the other in the same run:
#   (a) tcpdump -i lo -w /dev/null: its "received by filter" / "dropped by kernel";
#   (b) tarnwick-cli capture --proto UDP --addr1 127.0.0.1 >/dev/null, ended
#       with SIGINT: its "received N, dropped M" (all up IPv4 interfaces);
#   (c) tarnwick-capture-window on a private Xvfb display: received, dropped,
#       packets listed and the longest stall of the window's event loop;
#   member mode (unless MEMBER=0): (b) and (c) again as a throwaway user of a
#   throwaway group that may run a copy of tarnwick-helper with its file
#   capabilities (installed as tests/cli/test_cli_helper.sh installs it), so
#   they capture through the helper's forwarders:
#   (d) the command-line capture, (e) the window;
#   record mode (unless RECORD=0), into files of the results folder:
#   (f) tcpdump -i lo -w FILE, (g) tarnwick-cli capture --write FILE, and in
#   member mode (h) the same as the member; the packets in each file are
#   counted with capinfos, and the files removed.
# Prints a table and saves everything in bench/results/capture-<time>.txt.
#
# Usage: bench/capture_vs_tcpdump.sh [RATE ...]
# Settings: DURATION (seconds of flood, default 10), PORT (default 47000),
# MEMBER (1: member mode too, the default; 0: root only), RECORD (1: record
# mode too, the default; 0: not).
# Needs root: for the root captures, and to make the user and the helper copy.
set -euo pipefail
cd "$(dirname "$0")/.."

rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(50000 300000)
duration=${DURATION:-10}
port=${PORT:-47000}
member_mode=${MEMBER:-1}
record_mode=${RECORD:-1}

build=build/bench
source bench/bench_lib.sh
name_report capture
work="$results/capture-$stamp.d"
mkdir -p "$work"

build_bench_tree "$build"
flood="$build/bench/tarnwick-udp-flood"
window="$build/bench/tarnwick-capture-window"
cli="$build/app/tarnwick-cli"
helper="$build/app/tarnwick-helper"
for f in "$flood" "$window" "$cli" "$helper"; do
    [ -x "$f" ] || { echo "missing $f (is the GUI part built?)" >&2; exit 1; }
done
if ! command -v tcpdump >/dev/null; then
    echo "Installing tcpdump ..."
    DEBIAN_FRONTEND=noninteractive apt-get install -y tcpdump >/dev/null
fi
tcpdump_bin=$(command -v tcpdump)
if [ "$record_mode" = 1 ] && ! command -v capinfos >/dev/null; then
    echo "Installing tshark (for capinfos) ..."
    echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
    DEBIAN_FRONTEND=noninteractive apt-get install -y tshark >/dev/null
fi

exec > >(tee "$report") 2>&1

start_private_xvfb
pids=()
group=twk-bg$$
member=twk-bm$$
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    kill "$xvfb" 2>/dev/null || true
    if [ "$member_mode" = 1 ]; then
        userdel "$member" 2>/dev/null || true
        groupdel "$group" 2>/dev/null || true
    fi
}
trap cleanup EXIT
sleep 1

# The member: in the group that alone may run the helper copy, which holds
# the file capabilities (set last: a change of owner clears them). Its
# commands run with no capability of root's (not even inheritable ones).
as_member=()
if [ "$member_mode" = 1 ]; then
    groupadd -r "$group"
    useradd -r -M -N -s /usr/sbin/nologin -G "$group" "$member"
    mkdir -p "$work/libexec" "$work/home"
    chmod 0755 "$work" "$work/libexec"
    chown "$member" "$work/home"
    installed="$work/libexec/tarnwick-helper"
    cp "$helper" "$installed"
    chgrp "$group" "$installed"
    chmod 0750 "$installed"
    setcap cap_net_admin,cap_net_raw,cap_dac_read_search,cap_sys_ptrace+ep "$installed"
    gid=$(getent group "$group" | cut -d: -f3)
    as_member=(setpriv --reuid "$(id -u "$member")" --regid "$(id -g "$member")" --groups "$gid" --inh-caps=-all --
               env -u XDG_RUNTIME_DIR HOME="$work/home" TARNWICK_HELPER="$installed")
fi

# Waits (up to 10 s) until file $1 holds a line matching $2.
wait_for_line() {
    local i
    for ((i = 0; i < 100; i++)); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "timed out waiting for '$2' in $1:" >&2
    cat "$1" >&2
    return 1
}

# The flood's "sent N" from its output file.
sent_of() { awk '/^sent/ {print $2}' "$1"; }

# counts_of_cli FILE: "received dropped" of tarnwick-cli's last line.
counts_of_cli() { sed -n 's/^received \([0-9]*\), dropped \([0-9]*\)$/\1 \2/p' "$1"; }
listed_of_window() { grep '^listed' "$1" || echo "listed ? received ? dropped ? stall_ms ? late_ms_p99 ? view_updates ? beats ? cpu_s ?"; }

# The packets in capture file $1.
packets_in() { capinfos -c -M "$1" 2>/dev/null | awk '/Number of packets/ {print $NF}'; }
# N of tarnwick-cli's "recorded N packets to FILE" in file $1.
recorded_of() { sed -n 's/^recorded \([0-9]*\) packets to .*/\1/p' "$1"; }

# run_tcpdump BASE TARGET: tcpdump on lo, writing to TARGET (no name
# lookups, no printing) under the flood; its stderr in BASE.err, the flood's
# in BASE-flood.out.
run_tcpdump() {
    local base=$1 target=$2 cap
    # -Z root: tcpdump would otherwise write the file as the user tcpdump.
    "$tcpdump_bin" -i lo -n -Z root -w "$target" udp and host 127.0.0.1 >"$base.out" 2>"$base.err" &
    cap=$!; pids+=("$cap")
    wait_for_line "$base.err" "listening on"
    "$flood" "$rate" "$duration" "$port" >"$base-flood.out"
    sleep 1
    kill -INT "$cap"; wait "$cap" || true
}
# counts_of_tcpdump FILE: "received dropped" of tcpdump's stderr in FILE.
counts_of_tcpdump() {
    awk '/packets received by filter/ {recv = $1} /packets dropped by kernel/ {drop = $1} END {print recv, drop}' "$1"
}

# run_cli BASE WHO [ARG ...]: tarnwick-cli capture (as the member when WHO is
# "member"), with the ARGs, under the flood; its stderr in BASE.err, the
# flood's in BASE-flood.out.
run_cli() {
    local base=$1 who=$2 cap
    shift 2
    local prefix=()
    [ "$who" = member ] && prefix=("${as_member[@]}")
    "${prefix[@]}" "$cli" capture --proto UDP --addr1 127.0.0.1 "$@" >/dev/null 2>"$base.err" &
    cap=$!; pids+=("$cap")
    sleep 1  # it prints nothing when ready: give it time to open its captures
    "$flood" "$rate" "$duration" "$port" >"$base-flood.out"
    sleep 1
    kill -INT "$cap"; wait "$cap" || true
}

# run_window BASE WHO: the Data Capture window on the private display.
# The flood can fall behind its rate while a capture competes for the
# cores: the window runs half as long again, plus 3 s, and the script
# checks that the flood ended within that time.
run_window() {
    local base=$1 who=$2 cap flood_end
    local prefix=()
    [ "$who" = member ] && prefix=("${as_member[@]}")
    local window_seconds=$((duration * 3 / 2 + 3))
    DISPLAY=$display QT_QPA_PLATFORM=xcb "${prefix[@]}" "$window" "$window_seconds" >"$base.out" 2>"$base.err" &
    cap=$!; pids+=("$cap")
    wait_for_line "$base.out" "^capturing"
    "$flood" "$rate" "$duration" "$port" >"$base-flood.out"
    flood_end=$EPOCHSECONDS
    wait "$cap" || true
    if (( EPOCHSECONDS - flood_end < 1 )); then
        echo "RATE=$rate: the window ($base) ended before the flood did; its counts miss the end" >&2
    fi
}

echo "capture under a loopback UDP flood, $(date -Is), $(nproc) cores, kernel $(uname -r)"
echo "$($tcpdump_bin --version 2>&1 | head -2 | tr '\n' ' ')"
echo "window runs: $((duration * 3 / 2 + 3)) s (longest stall over the whole run)"
echo "flood: 64-byte UDP payloads 127.0.0.1 -> 127.0.0.1:$port, $duration s per run"
echo

rows=()
rec_rows=()
for rate in "${rates[@]}"; do
    base="$work/$rate"

    # (a) tcpdump on lo, to /dev/null.
    run_tcpdump "$base-tcpdump" /dev/null
    sent_a=$(sent_of "$base-tcpdump-flood.out")
    read -r td_recv td_drop < <(counts_of_tcpdump "$base-tcpdump.err")

    # (b) tarnwick-cli capture, every line printed to /dev/null.
    run_cli "$base-cli" ""
    sent_b=$(sent_of "$base-cli-flood.out")
    read -r cli_recv cli_drop < <(counts_of_cli "$base-cli.err")

    # (c) the Data Capture window on the private display.
    run_window "$base-window" ""
    sent_c=$(sent_of "$base-window-flood.out")
    line=$(listed_of_window "$base-window.out")
    read -r _ w_listed _ w_recv _ w_drop _ w_stall _ w_p99 _ w_updates _ w_beats _ w_cpu <<<"$line"

    # (d), (e): the same as the member, through the helper.
    m_row=""
    if [ "$member_mode" = 1 ]; then
        run_cli "$base-member-cli" member
        sent_d=$(sent_of "$base-member-cli-flood.out")
        read -r mc_recv mc_drop < <(counts_of_cli "$base-member-cli.err")
        run_window "$base-member-window" member
        sent_e=$(sent_of "$base-member-window-flood.out")
        line=$(listed_of_window "$base-member-window.out")
        read -r _ mw_listed _ mw_recv _ mw_drop _ mw_stall _ _ _ _ _ _ _ mw_cpu <<<"$line"
        m_row=$(printf ' | %9s/%-9s %9s/%-9s %9s/%-9s %9s/%-9s %8s %8s' "$sent_d" "$sent_e" "$mc_recv" "$mc_drop" \
            "$mw_recv" "$mw_drop" "$sent_e" "$mw_listed" "$mw_stall" "$mw_cpu")
    fi

    # (f), (g), (h): recording into files, each counted and removed.
    if [ "$record_mode" = 1 ]; then
        run_tcpdump "$base-rec-tcpdump" "$base-rec-tcpdump.pcap"
        sent_f=$(sent_of "$base-rec-tcpdump-flood.out")
        tdw_file=$(packets_in "$base-rec-tcpdump.pcap")
        rm -f "$base-rec-tcpdump.pcap"
        run_cli "$base-rec-cli" "" --write "$base-rec-cli.pcapng"
        sent_g=$(sent_of "$base-rec-cli-flood.out")
        read -r rc_recv rc_drop < <(counts_of_cli "$base-rec-cli.err")
        rc_file=$(packets_in "$base-rec-cli.pcapng")
        rm -f "$base-rec-cli.pcapng"
        read -r tdw_recv tdw_drop < <(counts_of_tcpdump "$base-rec-tcpdump.err")
        rec_row=$(printf '%-8s %9s/%-9s %9s/%-9s %9s %9s/%-9s %9s %9s' "$rate" "$sent_f" "$sent_g" "$tdw_recv" \
            "$tdw_drop" "$tdw_file" "$rc_recv" "$rc_drop" "$(recorded_of "$base-rec-cli.err")" "$rc_file")
        if [ "$member_mode" = 1 ]; then
            run_cli "$base-rec-member-cli" member --write "$work/home/record.pcapng"
            read -r rm_recv rm_drop < <(counts_of_cli "$base-rec-member-cli.err")
            rec_row+=$(printf ' | %9s %9s/%-9s %9s %9s' "$(sent_of "$base-rec-member-cli-flood.out")" "$rm_recv" \
                "$rm_drop" "$(recorded_of "$base-rec-member-cli.err")" "$(packets_in "$work/home/record.pcapng")")
            rm -f "$work/home/record.pcapng"
        fi
        rec_rows+=("$rec_row")
    fi

    echo "RATE=$rate"
    sed 's/^/  flood (a): /' "$base-tcpdump-flood.out"
    grep -E 'packets (captured|received|dropped)' "$base-tcpdump.err" | sed 's/^/  tcpdump: /'
    if [ "$record_mode" = 1 ]; then
        sed 's/^/  flood (f): /' "$base-rec-tcpdump-flood.out"
        grep -E 'packets (captured|received|dropped)' "$base-rec-tcpdump.err" | sed 's/^/  tcpdump -w FILE: /'
    fi
    for run in cli window member-cli member-window rec-cli rec-member-cli; do
        [ -e "$base-$run-flood.out" ] || continue
        sed "s/^/  flood ($run): /" "$base-$run-flood.out"
        case $run in
            *cli) sed "s/^/  $run: /" "$base-$run.err" ;;
            *)
                sed "s/^/  $run: /" "$base-$run.out"
                [ ! -s "$base-$run.err" ] || sed "s/^/  $run stderr: /" "$base-$run.err" | head -5
                ;;
        esac
    done
    rows+=("$(printf '%-8s %9s/%-9s %9s/%-9s %9s/%-9s %9s/%-9s %9s/%-9s %8s %7s %8s' \
        "$rate" "$sent_a" "$sent_b" "$td_recv" "$td_drop" "$cli_recv" "$cli_drop" "$w_recv" "$w_drop" \
        "$sent_c" "$w_listed" "$w_stall" "$w_p99" "$w_cpu")$m_row")
done

echo
echo "sent: datagrams the flood sent during (a)/(b); window sent/listed is for run (c)."
echo "cli and window count every up IPv4 interface; tcpdump only lo."
[ "$member_mode" = 1 ] && echo "after |: the member's runs, through tarnwick-helper: (d) cli, (e) window."
header=$(printf '%-8s %19s %19s %19s %19s %19s %8s %7s %8s' rate "sent a/b" "tcpdump recv/drop" "cli recv/drop" \
    "window recv/drop" "window sent/listed" "stall_ms" "p99_ms" "win_cpu_s")
[ "$member_mode" = 1 ] && header+=$(printf ' | %19s %19s %19s %19s %8s %8s' "sent d/e" "m.cli recv/drop" \
    "m.window recv/drop" "m.win sent/listed" "stall_ms" "win_cpu_s")
echo "$header"
printf '%s\n' "${rows[@]}"
if [ "$record_mode" = 1 ]; then
    echo
    echo "recording into a file: (f) tcpdump -i lo -w FILE, (g) tarnwick-cli capture --write FILE (root);"
    echo "in file: the packets capinfos counts in the file; recorded: what tarnwick-cli says it wrote."
    [ "$member_mode" = 1 ] && echo "after |: (h) the same tarnwick-cli --write as the member, through tarnwick-helper."
    header=$(printf '%-8s %19s %19s %9s %19s %9s %9s' rate "sent f/g" "tcpdump recv/drop" "in file" \
        "cli recv/drop" recorded "in file")
    [ "$member_mode" = 1 ] && header+=$(printf ' | %9s %19s %9s %9s' "sent h" "m.cli recv/drop" recorded "in file")
    echo "$header"
    printf '%s\n' "${rec_rows[@]}"
fi
echo "Saved: $report"
