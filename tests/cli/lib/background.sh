# Background programs for the command-line test scripts, with waits that
# cannot hang: a program that does not end in time is killed, and whatever a
# script leaves running is killed when it exits, so that nothing of ours keeps
# ctest's output open after the script is gone. Sourced by the scripts.

# Waits at most $2 seconds for the background job $1 to end, then kills it.
# Returns the job's exit status (137 when it had to be killed).
wait_bounded() {
    local pid=$1 tenths=$(($2 * 10))
    while kill -0 "$pid" 2>/dev/null && ((tenths-- > 0)); do
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid"
}

# For the scripts' EXIT trap.
end_background_jobs() {
    local pids
    pids=$(jobs -p)
    # shellcheck disable=SC2086
    [ -z "$pids" ] || kill -KILL $pids 2>/dev/null
}

# Starts the loopback peer ($peer, with the arguments given) and sets peer_pid, listen_port and
# client_port. Not a coproc: bash unsets a coproc's pid and descriptors the
# moment it ends, and under set -u the next use of them stops the script
# midway. The peer's input is a FIFO that it holds both ends of, so it never
# reads end-of-file and no other program of the script inherits a way to end
# it: it runs until stop_peer.
start_peer() {
    local dir tries
    dir=$(mktemp -d)
    mkfifo "$dir/in"
    : >"$dir/ports"  # there to read before the peer writes to it
    "$peer" "$@" <>"$dir/in" >"$dir/ports" &
    peer_pid=$!
    listen_port='' client_port=''
    for ((tries = 0; tries < 100; tries++)); do
        read -r listen_port client_port <"$dir/ports" && break
        kill -0 "$peer_pid" 2>/dev/null || break
        sleep 0.1
    done
    rm -rf "$dir"
    [ -n "$client_port" ] || { echo "FAIL: peer did not start"; exit 1; }
}

# Ends the peer, closing its connection, and waits for it.
stop_peer() {
    kill -TERM "$peer_pid" 2>/dev/null
    wait_bounded "$peer_pid" 10
    return 0
}
