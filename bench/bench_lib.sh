# Shared by the benchmark scripts: the connection holder and timing helpers.
# Expects $holder (path of tarnwick-hold-connections) and $holder_log.

# name_report NAME: the files of this run: sets $results (the folder, made
# if missing), $stamp (the run's time) and $report ($results/NAME-$stamp.txt).
name_report() {
    results=bench/results
    mkdir -p "$results"
    stamp=$(date +%Y%m%d-%H%M%S)
    report="$results/$1-$stamp.txt"
}

# ---------------------------------------------------------------- the holder
holder_pid=
holder_in=

# start_holder N [M]: N IPv4 connections, and M more over ::1 when M is given.
start_holder() {
    local n=$1 m=${2:-} line= expected=
    local args=("$n")
    expected="ready $n"
    if [ -n "$m" ]; then
        args+=(--ipv6 "$m")
        expected="ready $n ipv6 $m"
    fi
    coproc HOLDER { exec "$holder" "${args[@]}" 2>>"$holder_log"; }
    holder_pid=$HOLDER_PID
    holder_in=${HOLDER[1]}
    if ! read -r -t 180 line <&"${HOLDER[0]}" || [ "$line" != "$expected" ]; then
        echo "tarnwick-hold-connections ${args[*]} did not get ready:" >&2
        cat "$holder_log" >&2
        stop_holder
        exit 1
    fi
}

stop_holder() {
    [ -n "$holder_pid" ] || return 0
    [ -z "$holder_in" ] || eval "exec $holder_in>&-"
    wait "$holder_pid" 2>/dev/null || true
    holder_pid=
    holder_in=
}

trap 'if [ -n "$holder_pid" ]; then kill "$holder_pid" 2>/dev/null || true; fi' EXIT

# ---------------------------------------------------------------- timing
# Wall time of one run of the command in ms, from bash's own clock (no forks).
time_ms() {
    local start=$EPOCHREALTIME end
    "$@" >/dev/null 2>&1
    end=$EPOCHREALTIME
    echo "$(( (${end/./} - ${start/./}) ))" | awk '{printf "%.3f", $1 / 1000}'
}

median() { sort -g | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }


# ---------------------------------------------------------------- builds and displays
# Builds the optimised tree with the benchmark programs into $1 (default build/bench).
build_bench_tree() {
    local tree=${1:-build/bench}
    echo "Building the Release tree in $tree ..."
    cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BENCH=ON -DTARNWICK_TESTS=OFF >/dev/null
    cmake --build "$tree" >/dev/null
}

# Starts Xvfb on a free display number; sets $display and $xvfb (its pid).
# The caller stops it (kill "$xvfb") in its own exit trap.
start_private_xvfb() {
    display=""
    local n
    for n in $(seq 90 140); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
    done
    [ -n "$display" ] || { echo "no free X display number" >&2; return 1; }
    Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
}
