#!/bin/sh
# Configures and builds the library, the jar, the command-line tool
# (build/mero) and the tests in build/. The Windows DLL and mero.exe are
# cross-built first (build-windows/); the DLL goes into the jar beside the
# Linux library. Without MinGW-w64 the jar carries Linux only.
set -eu
cd "$(dirname "$0")/.."
windows_dll=
if command -v x86_64-w64-mingw32-g++-win32 >/dev/null 2>&1 || command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1; then
  scripts/build-windows.sh
  windows_dll=$PWD/build-windows/MERO_Database.dll
else
  echo "MinGW-w64 is not installed: building without the Windows DLL"
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMERO_WINDOWS_DLL="$windows_dll" >/dev/null
cmake --build build -j "$(nproc)"
