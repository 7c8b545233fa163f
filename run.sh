#!/usr/bin/env bash
# Builds an optimised Tarnwick and starts it: the window when a display is
# available, otherwise the command-line monitor (tarnwick-cli watch).
# Arguments go to tarnwick-cli and start it instead of the window.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure_packages.sh
# Everything the build says goes to stderr: stdout is the program's alone, so
# `./run.sh table | cut -f6` works even on the first run.
ensure_packages >&2

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_TESTS=OFF >/dev/null
cmake --build build/release >&2

if [ $# -gt 0 ]; then
    exec build/release/app/tarnwick-cli "$@"
fi
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec build/release/app/tarnwick
fi
echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): starting the command-line monitor instead." >&2
echo "Press Ctrl-C to stop." >&2
exec build/release/app/tarnwick-cli watch
