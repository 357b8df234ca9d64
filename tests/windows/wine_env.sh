# Sourced by the scripts that run Windows builds under Wine: finds Wine,
# makes a Wine prefix for this run alone (without one, Wine would write into
# the home directory), headless, and removes it at exit. Sets $wine, $work
# (a scratch folder, with the prefix inside) and $run (where the programs
# run, under their Windows names).

if command -v wine64 >/dev/null 2>&1; then
  wine=wine64
elif [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64  # Debian's wine64 package keeps its loader here
elif command -v wine >/dev/null 2>&1; then
  wine=wine
else
  echo "Wine is not installed (apt-get install wine wine64)"
  exit 1
fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

work=$(mktemp -d "${TMPDIR:-/tmp}/mero-wine.XXXXXX")
run=$work/run
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
unset DISPLAY WAYLAND_DISPLAY

wine_cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap wine_cleanup EXIT
trap 'exit 130' INT TERM
mkdir -p "$WINEPREFIX" "$run"
