#!/bin/sh
# Runs wine_probe.exe on MERO_Database.dll under Wine (wine_env.sh).
# Usage: run_probe_under_wine.sh lock|sync|api WINE_PROBE_EXE MERO_DATABASE_DLL
#   lock  one process holds a database open; a second process's opens, by
#         several spellings of the path, are refused; once the holder is
#         killed the files open again, with its record.
#   sync  in each sync mode, the probe's calls succeed and read back, and
#         strace sees the flushes the mode promises reach the files (and
#         their folder), and none that OFF leaves out.
#   api   the packaged API's mero_java.dll (beside the DLL) opens, appends,
#         reads and closes, and the two libraries refuse each other's files.
set -u
test=$1
probe=$2
dll=$3

. "$(dirname "$0")/wine_env.sh"
cp "$probe" "$run/wine_probe.exe"
cp "$dll" "$run/MERO_Database.dll"
cp "$(dirname "$dll")/mero_java.dll" "$run/mero_java.dll"
cd "$run"
mkdir held durable api
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
# Runs a command, showing its output without Windows line ends; its status.
shown() {
  "$@" >"$work/out" 2>>"$work/stderr"
  status=$?
  tr -d '\r' <"$work/out"
  return $status
}
probe() { shown "$wine" ./wine_probe.exe MERO_Database.dll "$@"; }

if [ "$test" = lock ]; then
  # The holder says it holds the files through a pipe, so nothing waits on time.
  mkfifo "$work/holding"
  "$wine" ./wine_probe.exe MERO_Database.dll hold held/db >"$work/holding" 2>>"$work/stderr" &
  holder=$!
  read -r said pid <"$work/holding" || true
  pid=$(printf '%s' "$pid" | tr -d '\r')
  if [ "${said:-}" != held ] || [ -z "$pid" ]; then
    fail "the holder did not open the files"
  else
    probe refused held/db || fail "a second process was not refused"
    kill -KILL "$holder"
    wait "$holder" 2>/dev/null
    probe reopen "$pid" held/db || fail "the files did not open again after their holder was killed"
  fi
elif [ "$test" = sync ]; then
  if ! command -v strace >/dev/null 2>&1; then
    echo "strace is not installed: the flushes cannot be seen"
    exit 0
  fi
  # fsync(FD</path>) lines naming the file or folder given, from trace file $1.
  flushes() { grep -c "fsync([0-9]*<$run/$2>)" "$1"; }
  for mode in OFF CLOSE FULL; do
    rm -rf durable/*
    trace=$work/trace.$mode
    shown env MERO_SYNC=$mode strace -f -y -qq --seccomp-bpf -e trace=fsync,fdatasync -o "$trace" \
      "$wine" ./wine_probe.exe MERO_Database.dll durable durable/db || fail "$mode: the probe's calls failed"
    for file in db.str db.dat db.idx; do
      n=$(flushes "$trace" "durable/$file")
      echo "$mode: $n flushes of $file"
      case $mode:$file in
        OFF:db.str) ;;  # define makes its block durable in every mode
        OFF:*) [ "$n" -eq 0 ] || fail "OFF flushed $file" ;;
        *) [ "$n" -gt 0 ] || fail "$mode never flushed $file" ;;
      esac
    done
    n=$(flushes "$trace" durable)
    echo "$mode: $n flushes of the folder"
    [ "$mode" = OFF ] || [ "$n" -gt 0 ] || fail "$mode never flushed the folder that open created files in"
    n=$(flushes "$trace" durable/db.journal)
    [ "$mode" != FULL ] || [ "$n" -gt 0 ] || fail "FULL never flushed its rollback journal"
    [ -e durable/db.journal ] && fail "$mode left a rollback journal behind"
  done
elif [ "$test" = api ]; then
  probe api api/db || fail "the packaged API's library failed under Wine"
else
  echo "usage: $0 lock|sync|api WINE_PROBE_EXE MERO_DATABASE_DLL"
  exit 2
fi

if [ $failed -ne 0 ]; then
  echo "Wine's own messages follow:"
  cat "$work/stderr"
fi
exit $failed
