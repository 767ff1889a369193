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
