# Cross-builds the 64-bit Windows library on Linux with MinGW-w64.
# Usage: cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/windows/mingw-w64-x86_64.cmake
# jni.h comes from JAVA_HOME or the javac on PATH; -DMERO_JDK_INCLUDE=<jdk>/include
# names another.
#
# The win32 thread model is deliberate: its runtime needs nothing beyond
# KERNEL32, whereas the posix one pulls in libwinpthread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${_mingw}-gcc-win32 ${_mingw}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_mingw}-g++-win32 ${_mingw}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_mingw}-windres)
find_program(CMAKE_OBJDUMP NAMES ${_mingw}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
