#!/bin/sh
# Installs, on Debian 12 as root, whatever the build and the tests need that
# the machine does not have yet. Safe to run again: it installs only what is
# missing.
set -eu
packages="build-essential cmake g++ clang libclang-rt-14-dev openjdk-17-jdk-headless
  googletest libgtest-dev libbenchmark-dev libsqlite3-dev python3 junit5 libxerial-sqlite-jdbc-java libh2-java
  g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 wine wine64 gnuplot-nox valgrind unzip clang-format-14
  maven libmaven-install-plugin-java libmaven-jar-plugin-java libmaven-compiler-plugin-java
  libmaven-resources-plugin-java libsurefire-java"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq $missing
fi
