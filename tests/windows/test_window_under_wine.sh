#!/usr/bin/env bash
# The window under Wine, from the folder `cmake --install` makes (the zip a
# Windows user gets), on a private Xvfb display, in a network namespace of
# its own: it lists a host-side peer's loopback listener and connection, logs
# the connection the peer opens once they are listed, takes a screenshot and
# closes on the confirmed exit, keeping the filter typed last in Option.ini
# beside the executable.
# Usage: test_window_under_wine.sh WINE BUILD_DIR CHECK_EXE OUTPUT_DIR RUN_UNDER_XVFB
set -u
wine=$1
build=$2
check=$3
output=$4
xvfb=$5
wine_netns_tools="Xvfb cmake"
source "$(dirname "$0")/wine_in_netns.sh" "$@"

folder=$dir/Tarnwick
cmake --install "$build" --prefix "$folder" >"$dir/install.log" || { cat "$dir/install.log"; echo "FAIL: cmake --install"; exit 1; }
for file in tarnwick.exe tarnwick-cli.exe help.htm Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll; do
    [ -f "$folder/$file" ] || { echo "FAIL: the installed folder has no $file"; exit 1; }
done
# The check runs the window as tarnwick.exe does, from that folder, with its DLLs.
cp "$check" "$folder/"
rm -rf "$output" && mkdir -p "$output"

# The peer: a listener and a connection to it, held; once the window has
# listed them (the signal file appears), one more connection to the listener.
python3 - "$dir/ports" "$dir/listed" <<'PY' &
import os, signal, socket, sys, time
l = socket.socket(); l.bind(('127.0.0.1', 0)); l.listen(8)
c = socket.create_connection(l.getsockname()); a, _ = l.accept()
with open(sys.argv[1] + '.new', 'w') as f:
    f.write('%d %d\n' % (l.getsockname()[1], c.getsockname()[1]))
os.rename(sys.argv[1] + '.new', sys.argv[1])
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
deadline = time.monotonic() + 240
while not os.path.exists(sys.argv[2]) and time.monotonic() < deadline:
    time.sleep(0.05)
n = socket.create_connection(l.getsockname()); b, _ = l.accept()
signal.pause()
PY
peer_pid=$!
wait_for_ports "$dir/ports"
read -r listen_port client_port <"$dir/ports" || { echo "FAIL: the peer gave no ports"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Wine's prefix is made on the display: its desktop process, which every
# later window goes through, takes the display it was started with.
export WINE=$wine CHECK="$folder/$(basename "$check")" LISTEN_PORT=$listen_port CLIENT_PORT=$client_port \
       LISTED=$dir/listed SCREENSHOT=$output/screenshot.png
QT_QPA_PLATFORM=windows bash "$xvfb" bash -c '
    "$WINE" wineboot --init >/dev/null 2>&1 || exit 1
    "$WINE" "$CHECK" "$LISTEN_PORT" "$CLIENT_PORT" "$("$WINE" winepath -w "$LISTED")" "$("$WINE" winepath -w "$SCREENSHOT")"
' || fail "the window's check failed"
grep -q '^GridFilter=TCP' "$folder/Option.ini" 2>/dev/null || fail "no Option.ini with the typed filter beside the executable"
[ "$(head -c 8 "$output/screenshot.png" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "no PNG screenshot in $output"
[ "$failures" -eq 0 ] && echo "PASS: the window under Wine (screenshot: $output/screenshot.png)"
exit $((failures > 0))
