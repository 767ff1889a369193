# Sourced by the test and demo scripts: one Wine prefix for the whole run,
# shared by the 32-bit and 64-bit trees, with its server kept alive.
ZEV_ROOT=${ZEV_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$ZEV_ROOT/build/pfx}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}

wine_up() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  # A persistent server plus one warm-up command: without them every test
  # start waits for a new server.
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit >/dev/null 2>&1 || true
}

wine_down() {
  wineserver -k >/dev/null 2>&1 || true
}

# run_win64_bench TARGET EXE [ARGS...]: builds one benchmark of the win64
# tree and runs it under Wine (benchmarks print figures; they are not tests).
run_win64_bench() {
  local target=$1 exe=$2
  shift 2
  [ -f "$ZEV_ROOT/build/win64/CMakeCache.txt" ] || cmake --preset win64 >/dev/null
  cmake --build "$ZEV_ROOT/build/win64" --target "$target" -j2 >/dev/null
  wine_up || true
  trap wine_down EXIT
  wine "$ZEV_ROOT/build/win64/$exe" "$@"
}
