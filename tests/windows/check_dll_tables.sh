#!/bin/sh
# Checks the tables of a Windows DLL with MinGW-w64's objdump.
#   check_dll_tables.sh exports DLL EXPECTED_LIST
#     the export table names exactly the functions in EXPECTED_LIST, each
#     undecorated (no @N suffix, which the JVM would not find)
#   check_dll_tables.sh imports DLL
#     every imported DLL is a part of Windows (kernel32, the C runtime), so
#     the DLL loads on a machine with nothing else installed
set -eu
mode=$1
dll=$2
objdump=${MERO_OBJDUMP:-x86_64-w64-mingw32-objdump}
headers=$("$objdump" -p "$dll")
status=0

case $mode in
exports)
  expected=$3
  # The name table: lines "\t[   0] Name" after "[Ordinal/Name Pointer] Table".
  actual=$(printf '%s\n' "$headers" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort)
  for name in $actual; do
    case $name in *@*) echo "decorated export: $name"; status=1 ;; esac
  done
  if [ "$actual" != "$(sort "$expected")" ]; then
    echo "exports of $dll differ from $expected:"
    printf '%s\n' "$actual" | diff "$expected" - || true
    status=1
  fi
  [ $status = 0 ] && echo "exports match: $(printf '%s\n' "$actual" | wc -l) names, none decorated"
  ;;
imports)
  names=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p')
  if [ -z "$names" ]; then
    echo "no import table found in $dll"
    exit 1
  fi
  for name in $names; do
    case $(printf '%s' "$name" | tr 'A-Z' 'a-z') in
      kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-crt-*.dll) echo "imports $name" ;;
      *) echo "not a Windows system DLL: $name"; status=1 ;;
    esac
  done
  ;;
*)
  echo "usage: $0 exports DLL EXPECTED_LIST | imports DLL" >&2
  exit 2
  ;;
esac
exit $status
