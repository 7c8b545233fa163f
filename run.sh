#!/usr/bin/env bash
# Builds an optimised Tarnwick and starts it. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure_packages.sh
ensure_packages

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_TESTS=OFF >/dev/null
cmake --build build/release
if [ $# -eq 0 ]; then set -- watch; fi
exec build/release/app/tarnwick-cli "$@"
