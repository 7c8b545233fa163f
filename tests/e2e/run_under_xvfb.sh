#!/usr/bin/env bash
# Runs a windowed test program on a private Xvfb display of its own.
set -u
program=$1
shift
display=""
for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free X display number"; exit 1; }
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null' EXIT
for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done
# A tray host, so that the program's tray icon has somewhere to live.
tray=""
if command -v trayer >/dev/null; then
    DISPLAY=$display trayer --edge top --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 &
    tray=$!
fi
trap 'kill $tray "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null' EXIT
# The platform is xcb unless the caller names another (Qt for Windows under Wine: windows).
DISPLAY=$display QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-xcb} "$program" "$@"
