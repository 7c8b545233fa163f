#!/usr/bin/env bash
# Builds everything with warnings as errors and the address and undefined
# behaviour sanitizers, then runs every test. Exits non-zero on any failure.
#
# TSAN=1 ./test.sh instead builds the test programs under ThreadSanitizer in
# build/tsan and runs the tests that put code on more than one thread: those
# labelled "threads" in tests/CMakeLists.txt. Arguments go to ctest either way.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure_packages.sh
ensure_packages

if [ "${TSAN:-0}" = 1 ]; then
    # -O1: ThreadSanitizer slows every memory access; unoptimised code doubles that.
    cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
          -DTARNWICK_TSAN=ON -DTARNWICK_WERROR=ON
    cmake --build build/tsan --target tarnwick_core_tests tarnwick_platform_tests tarnwick_ui_tests
    # Qt, glib and xcb are not built with ThreadSanitizer; tests/tsan.supp says
    # which of their reports are false and why. A longer history keeps the
    # earlier access's stack, which the suppressions are matched against.
    export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1 history_size=7${TSAN_OPTIONS:+ $TSAN_OPTIONS}"
    ctest --test-dir build/tsan --output-on-failure -j "$(nproc)" -L threads "$@"
    exit
fi

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DTARNWICK_SANITIZE=ON -DTARNWICK_WERROR=ON
cmake --build build/test
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
ctest --test-dir build/test --output-on-failure -j "$(nproc)" "$@"
