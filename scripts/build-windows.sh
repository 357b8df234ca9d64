#!/bin/sh
# Cross-builds MERO_Database.dll and the command-line tool mero.exe for
# 64-bit Windows with MinGW-w64 in build-windows/, together with the DLL's
# test driver (tests/windows).
set -eu
cd "$(dirname "$0")/.."
# The toolchain file counts only when the build directory is first configured.
toolchain=
[ -f build-windows/CMakeCache.txt ] || toolchain=-DCMAKE_TOOLCHAIN_FILE=cmake/windows/mingw-w64-x86_64.cmake
cmake -S . -B build-windows -DCMAKE_BUILD_TYPE=RelWithDebInfo $toolchain >/dev/null
cmake --build build-windows -j "$(nproc)"
