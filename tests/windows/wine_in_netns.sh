# Sourced, with the caller's arguments, by the Wine tests that hold sockets of
# a host-side peer: skips (exit 77) without root or without one of the
# commands named in $wine_netns_tools, runs the calling script again inside a
# network namespace of its own with loopback up, and gives it a folder $dir
# (removed at exit) holding a Wine of its own, and fail/failures for its checks.
# A peer started in the background sets peer_pid and writes its ports to a
# file; wait_for_ports FILE waits for that file.
for tool in unshare ip python3 $wine_netns_tools; do
    command -v "$tool" >/dev/null || { echo "SKIP: no $tool here"; exit 77; }
done
[ "$(id -u)" -eq 0 ] || { echo "SKIP: a network namespace of its own needs root"; exit 77; }
if [ -z "${TARNWICK_IN_NETNS:-}" ]; then
    exec unshare -n env TARNWICK_IN_NETNS=1 bash "$0" "$@"
fi
ip link set lo up

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
dir=$(mktemp -d)
# A Wine of its own: a server started outside this namespace would read the
# sockets of the namespace it was started in.
export WINEPREFIX=$dir/prefix WINEDEBUG=-all
cleanup() {
    [ -n "${peer_pid:-}" ] && kill "$peer_pid" 2>/dev/null
    wineserver -k 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT

wait_for_ports() {
    local tries
    for ((tries = 0; tries < 100; tries++)); do
        [ -s "$1" ] && return 0
        sleep 0.1
    done
    return 1
}
