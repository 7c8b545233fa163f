#!/usr/bin/env bash
# Makes Qt 6.4.2 for mingw-w64 ready in build/qt6.4.2-mingw64 and prints its
# folder: unpacked from an archive of it when one is at hand
# (TARNWICK_QT_MINGW_ARCHIVE, else ../shared/toolchains/qt6.4.2-mingw64.tar.xz
# beside the checkout), else built from Debian's source package by
# scripts/build_qt_mingw.sh (about 30 minutes on 2 cores). Run from the
# checkout's top folder; what it says goes to stderr.
set -euo pipefail
source scripts/ensure_packages.sh
qt="$PWD/build/qt6.4.2-mingw64"
if [ ! -f "$qt/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
    archive=${TARNWICK_QT_MINGW_ARCHIVE:-$PWD/../shared/toolchains/qt6.4.2-mingw64.tar.xz}
    mkdir -p build
    if [ -f "$archive" ]; then
        echo "Qt for mingw-w64: unpacking $archive" >&2
        rm -rf "$qt.partial" && mkdir "$qt.partial"
        tar -C "$qt.partial" -xJf "$archive"
        mv "$qt.partial/qt6.4.2-mingw64" "$qt" && rm -rf "$qt.partial"
    else
        echo "Qt for mingw-w64: no archive at $archive; building it from Debian's source (about 30 minutes)" >&2
        ensure_packages "${tarnwick_qt_build_packages[@]}" >&2
        PREFIX="$qt.partial" WORK="$PWD/build/qt-source" scripts/build_qt_mingw.sh all >&2
        # The tree finds itself relative to its own files, so it may move.
        mv "$qt.partial" "$qt" && rm -rf build/qt-source
    fi
fi
echo "$qt"
