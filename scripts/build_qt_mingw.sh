#!/usr/bin/env bash
# Builds Qt 6.4.2's base (Core, Gui, Widgets, Test; the windows, offscreen and
# minimal platform plugins) for Windows x86_64 with mingw-w64 (posix threads),
# from Debian 12's own qt6-base source package with Debian's patches, into
# PREFIX. WINDOWS=1 ./test.sh runs it when no ready-made archive of that Qt is
# at hand. It takes about 30 minutes on 2 cores.
#
# Needs (Debian 12 packages, installed by the deps step):
#   g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
#   cmake ninja-build perl xz-utils patch dpkg-dev
#   qt6-base-dev qt6-base-dev-tools   (host Qt 6.4.2: moc/rcc/uic + CMake packages;
#                                      MUST be the same Qt version as the target)
#
# Source: the fetch step runs `apt-get source qt6-base` with a deb-src entry of
# its own (the system's apt configuration is left as it is), or copy the
# .orig.tar.xz + .debian.tar.xz into $SRCPKG_DIR.
#
# Usage: build_qt_mingw.sh [deps|all|fetch|unpack|configure|build|install]
#   all = fetch..install
# Environment overrides: SRCPKG_DIR WORK SRC BUILD PREFIX JOBS NICE HOST_QT HOST_QT_CMAKE_DIR
#
# Pitfalls of Qt 6.4.2 with Debian 12's mingw-w64 gcc 12:
#  * Debian's +dfsg tarball drops src/3rdparty/wintab (wintab.h/pktdef.h), which the windows
#    platform plugin needs for QTabletEvent support -> FEATURE_tabletevent=OFF.
#  * FEATURE_opengl=OFF alone leaves "Dynamic OpenGL"/dynamicgl ON on Windows and
#    qwindowswindow.cpp then fails (QOpenGLStaticContext undeclared). INPUT_opengl=no
#    (what `configure -no-opengl` sets) turns both off.
#  * FEATURE_direct2d=OFF breaks the link of qwindows.dll (undefined
#    QWindowsDirectWriteFontDatabase: Gui compiles it only with direct2d, the plugin uses
#    it with directwrite3) -> leave direct2d ON; direct2d1_1=OFF only skips the optional
#    qdirect2d platform plugin.
#  * Reconfiguring an existing build dir keeps every FEATURE_* cache value from the first
#    run; change features in a fresh build dir (this script's configure wipes $BUILD).
#  * Host tools come from Debian's split layout: QT_HOST_PATH=/usr plus
#    QT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake.
set -euo pipefail

WORK=${WORK:-$PWD/build/qt-source}
SRCPKG_DIR=${SRCPKG_DIR:-$WORK/package}   # holds qt6-base_6.4.2+dfsg.orig.tar.xz + .debian.tar.xz
SRC=${SRC:-$WORK/src}
BUILD=${BUILD:-$WORK/build}
PREFIX=${PREFIX:-$PWD/build/qt6.4.2-mingw64}
JOBS=${JOBS:-2}
NICE=${NICE:-nice -n 10}
HOST_QT=${HOST_QT:-/usr}
HOST_QT_CMAKE_DIR=${HOST_QT_CMAKE_DIR:-/usr/lib/x86_64-linux-gnu/cmake}
TRIPLE=x86_64-w64-mingw32
ORIG=$SRCPKG_DIR/qt6-base_6.4.2+dfsg.orig.tar.xz
debian_tar() { ls "$SRCPKG_DIR"/qt6-base_6.4.2+dfsg-*.debian.tar.xz | head -n1; }
TOOLCHAIN=$WORK/toolchain-mingw64-posix.cmake

step=${1:-all}

check_tools() {
    local missing=0
    for t in $TRIPLE-gcc-posix $TRIPLE-g++-posix $TRIPLE-windres cmake ninja perl; do
        command -v "$t" >/dev/null || { echo "missing tool: $t" >&2; missing=1; }
    done
    [ -x "$HOST_QT/lib/qt6/libexec/moc" ] || { echo "missing host moc (qt6-base-dev-tools)" >&2; missing=1; }
    [ -f "$HOST_QT_CMAKE_DIR/Qt6HostInfo/Qt6HostInfoConfig.cmake" ] || { echo "missing host Qt6HostInfo (qt6-base-dev)" >&2; missing=1; }
    [ $missing = 0 ] || exit 1
}

# The source package through apt, with a sources list of this script's own.
fetch() {
    [ -f "$ORIG" ] && ls "$SRCPKG_DIR"/qt6-base_6.4.2+dfsg-*.debian.tar.xz >/dev/null 2>&1 && return
    local apt="$WORK/apt"
    mkdir -p "$apt/lists/partial" "$SRCPKG_DIR"
    echo "deb-src http://deb.debian.org/debian bookworm main" > "$apt/sources.list"
    local options=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=- -o Dir::State::Lists="$apt/lists")
    apt-get "${options[@]}" update
    (cd "$SRCPKG_DIR" && apt-get "${options[@]}" source --download-only qt6-base=6.4.2+dfsg-10)
}

unpack() {
    # Fresh source tree + Debian's patch series (CVE fixes etc.).
    rm -rf "$SRC"; mkdir -p "$SRC"
    tar -C "$SRC" --strip-components=1 -xJf "$ORIG"
    local deb; deb=$(mktemp -d)
    tar -C "$deb" -xJf "$(debian_tar)"
    grep -v '^\s*#' "$deb/debian/patches/series" | sed '/^\s*$/d' | while read -r p _; do
        echo "applying debian/patches/$p"
        patch -d "$SRC" -p1 --quiet < "$deb/debian/patches/$p"
    done
    rm -rf "$deb"
}

write_toolchain() {
    cat > "$TOOLCHAIN" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER   $TRIPLE-gcc-posix)
set(CMAKE_CXX_COMPILER $TRIPLE-g++-posix)
set(CMAKE_RC_COMPILER  $TRIPLE-windres)
set(CMAKE_AR           $TRIPLE-ar)
set(CMAKE_RANLIB       $TRIPLE-ranlib)
set(CMAKE_FIND_ROOT_PATH /usr/$TRIPLE)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

configure() {
    write_toolchain
    rm -rf "$BUILD"; mkdir -p "$BUILD"
    cd "$BUILD"
    # Equivalent to:  $SRC/configure -xplatform win32-g++ -device-option CROSS_COMPILE=$TRIPLE-
    #   -qt-host-path /usr -release -shared -prefix $PREFIX -nomake tests -nomake examples ...
    #   -- -DCMAKE_TOOLCHAIN_FILE=... (configure has no toolchain of its own for CMake)
    set -x
    $NICE cmake -G Ninja -S "$SRC" -B "$BUILD" \
        -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$PREFIX" \
        -DBUILD_SHARED_LIBS=ON \
        -DQT_HOST_PATH="$HOST_QT" \
        -DQT_HOST_PATH_CMAKE_DIR="$HOST_QT_CMAKE_DIR" \
        -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
        -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF \
        -DFEATURE_gui=ON -DFEATURE_widgets=ON \
        -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF \
        -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
        -DFEATURE_testlib=ON \
        -DCMAKE_C_FLAGS="-ffile-prefix-map=$SRC=qtbase -ffile-prefix-map=$BUILD=qtbase-build" \
        -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$SRC=qtbase -ffile-prefix-map=$BUILD=qtbase-build" \
        -DINPUT_opengl=no -DFEATURE_opengl=OFF \
        -DFEATURE_vulkan=OFF -DFEATURE_direct2d1_1=OFF \
        -DFEATURE_tabletevent=OFF \
        -DFEATURE_androiddeployqt=OFF \
        -DFEATURE_pkg_config=OFF -DFEATURE_icu=OFF -DFEATURE_zstd=OFF \
        -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF \
        -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
        -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF \
        -DFEATURE_system_doubleconversion=OFF
    set +x
}

build()   { cd "$BUILD" && $NICE ninja -j"$JOBS"; }
install() {
    rm -rf "$PREFIX"; cd "$BUILD" && $NICE cmake --install . --strip
    # qmake's metadata (.prl, .pri) records the build's own folders; CMake users never read them.
    grep -rlI -e "$SRC" -e "$BUILD" "$PREFIX" | xargs -r sed -i -e "s|$SRC|qtbase-src|g" -e "s|$BUILD|qtbase-build|g"
    # Make the installed qt.toolchain.cmake self-contained: ship the mingw toolchain file
    # inside the prefix and chainload it relative to qt.toolchain.cmake (instead of the
    # absolute $WORK path recorded at configure time), so the prefix can be moved.
    cp "$TOOLCHAIN" "$PREFIX/lib/cmake/Qt6/mingw64-posix-toolchain.cmake"
    sed -i 's|^set(__qt_initially_configured_toolchain_file .*|set(__qt_initially_configured_toolchain_file "${CMAKE_CURRENT_LIST_DIR}/mingw64-posix-toolchain.cmake")|' \
        "$PREFIX/lib/cmake/Qt6/qt.toolchain.cmake"
    # Runtime DLLs a Qt app needs besides Qt's own (libstdc++/libgcc from the posix gcc,
    # winpthread from the mingw sysroot), so apps can be deployed from the prefix alone.
    cp "$($TRIPLE-g++-posix -print-file-name=libstdc++-6.dll)" \
       "$($TRIPLE-g++-posix -print-file-name=libgcc_s_seh-1.dll)" \
       /usr/$TRIPLE/lib/libwinpthread-1.dll "$PREFIX/bin/"
    $TRIPLE-strip --strip-unneeded "$PREFIX"/bin/libstdc++-6.dll "$PREFIX"/bin/libgcc_s_seh-1.dll \
        "$PREFIX"/bin/libwinpthread-1.dll
}

deps() {
    apt-get install -y g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools \
        cmake ninja-build perl xz-utils patch dpkg-dev qt6-base-dev qt6-base-dev-tools
}

# Everything below is one compound command, read by bash in one go.
{
[ "$step" = deps ] && { deps; exit 0; }
check_tools
case $step in
    all)       fetch; unpack; configure; build; install ;;
    fetch)     fetch ;;
    unpack)    unpack ;;
    configure) configure ;;
    build)     build ;;
    install)   install ;;
    *) echo "unknown step $step" >&2; exit 2 ;;
esac
exit 0
}
