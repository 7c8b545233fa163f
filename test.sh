#!/usr/bin/env bash
# Builds everything with warnings as errors and the address and undefined
# behaviour sanitizers, then runs every test. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure_packages.sh
ensure_packages

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DTARNWICK_SANITIZE=ON -DTARNWICK_WERROR=ON
cmake --build build/test
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
ctest --test-dir build/test --output-on-failure -j "$(nproc)" "$@"
