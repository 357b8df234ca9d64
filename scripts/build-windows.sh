#!/bin/sh
# Cross-builds MERO_Database.dll and the command-line tool mero.exe for
# 64-bit Windows with MinGW-w64 in build-windows/, together with the DLL's
# test driver (tests/windows).
set -eu
cd "$(dirname "$0")/.."
# jni.h comes from the JDK on this machine; jni_md.h is our own Windows one.
if [ -n "${JAVA_HOME:-}" ]; then
  jdk=$JAVA_HOME
else
  jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
fi
# The toolchain file counts only when the build directory is first configured.
toolchain=
[ -f build-windows/CMakeCache.txt ] || toolchain=-DCMAKE_TOOLCHAIN_FILE=cmake/windows/mingw-w64-x86_64.cmake
cmake -S . -B build-windows -DCMAKE_BUILD_TYPE=RelWithDebInfo $toolchain -DMERO_JDK_INCLUDE="$jdk/include" >/dev/null
cmake --build build-windows -j "$(nproc)"
