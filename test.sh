#!/usr/bin/env bash
# Builds everything with warnings as errors and the address and undefined
# behaviour sanitizers, then runs every test. Exits non-zero on any failure.
#
# TSAN=1 ./test.sh instead builds the test programs under ThreadSanitizer in
# build/tsan and runs the tests that put code on more than one thread: those
# labelled "threads" in tests/CMakeLists.txt. Arguments go to ctest either way.
#
# WINDOWS=1 ./test.sh instead builds the Windows programs with mingw-w64: the
# 64-bit tree in build/windows, whose tests run under Wine (core tests, the
# Windows services, tarnwick-cli.exe against the host's view of the same
# sockets, and against the Linux tarnwick-cli of build/test when it is
# there, and the window tarnwick.exe on Xvfb), and the 32-bit tree in
# build/windows32, which must compile. The window needs Qt 6.4.2 for
# mingw-w64: scripts/windows_qt.sh unpacks it into build/ from the archive
# beside the checkout (../shared/toolchains/qt6.4.2-mingw64.tar.xz, or
# TARNWICK_QT_MINGW_ARCHIVE), or, without one, builds it from Debian's source
# package, which takes about 30 minutes on 2 cores.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure_packages.sh

if [ "${WINDOWS:-0}" = 1 ]; then
    ensure_packages "${tarnwick_windows_packages[@]}"
    linux_cli=()
    [ -x build/test/app/tarnwick-cli ] && linux_cli=(-DTARNWICK_LINUX_CLI="$PWD/build/test/app/tarnwick-cli")
    qt=$(scripts/windows_qt.sh)
    # A tree configured before the window was built for Windows has another
    # toolchain file, which CMake would keep: configured afresh.
    if [ -f build/windows/CMakeCache.txt ] && ! grep -q "qt.toolchain.cmake" build/windows/CMakeCache.txt; then
        rm -rf build/windows/CMakeCache.txt build/windows/CMakeFiles
    fi
    # Qt's toolchain file finds its packages and loads the project's own for the compilers.
    cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
          -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/cmake/toolchains/x86_64-w64-mingw32.cmake" \
          -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DTARNWICK_GUI=ON \
          -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_WERROR=ON "${linux_cli[@]}"
    cmake --build build/windows
    cmake -S . -B build/windows32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-w64-mingw32.cmake \
          -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_WERROR=ON -DTARNWICK_TESTS=OFF
    cmake --build build/windows32
    # A Wine of the build's own, headless; its server stays up for the whole
    # run rather than starting anew for each test program.
    export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all
    unset DISPLAY WAYLAND_DISPLAY
    mkdir -p "$WINEPREFIX"
    wineserver -p
    # The prefix made once, before the tests race to make it.
    wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
    "$wine" wineboot --init
    trap 'wineserver -k 2>/dev/null || true' EXIT
    ctest --test-dir build/windows --output-on-failure -j "$(nproc)" "$@"
    exit
fi

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
