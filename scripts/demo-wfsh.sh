#!/usr/bin/env bash
# The plug-in at work through wfsh, in the demo's Wine prefix: a small
# folder is prepared and wfsh lists, inspects, copies, moves, deletes and
# creates in it, the way a person would at a prompt. Called by demo.sh
# after the installer part (WINEPREFIX set there); it also runs alone.
# With ZEV_DEMO_SERVER_KEPT set, the Wine server is left running for the
# caller to stop.
set -uo pipefail
cd "$(dirname "$0")/.."
ZEV_ROOT=$PWD
export WINEPREFIX=${WINEPREFIX:-$ZEV_ROOT/build/demo-pfx}
. scripts/wine-env.sh

WFSH=$ZEV_ROOT/build/win64/tools/wfsh/wfsh.exe
WORK=$WINEPREFIX/drive_c/wfsh-demo
WORK_WIN='C:\wfsh-demo'

if [ ! -f "$WFSH" ]; then
  echo "wfsh.exe is not built: cmake --build --preset win64" >&2
  exit 1
fi

step() {
  printf '\n\033[1m$ wfsh %s\033[0m\n' "$*"
  (cd "$WORK" && wine "$WFSH" "$@" 2>&1) | tr -d '\r' | sed 's/^/  /'
  echo "  (exit code ${PIPESTATUS[0]})"
}

wine_up
if [ -z "${ZEV_DEMO_SERVER_KEPT:-}" ]; then
  trap wine_down EXIT
fi

printf '\n\033[1m== wfsh: the file-system plug-in wfsys.vpm driven through the framework host\033[0m\n'
echo "Prepared folder $WORK_WIN:"
rm -rf "$WORK"
mkdir -p "$WORK/reports/2026"
printf 'Quarterly figures\nline two\n' > "$WORK/readme.txt"
head -c 20000 /dev/urandom > "$WORK/archive.bin"
printf 'old report\n' > "$WORK/reports/2026/q1.txt"
printf 'do not delete\n' > "$WORK/protected.txt"
wine attrib +r "$WORK_WIN\\protected.txt" >/dev/null 2>&1

step ls -l
step stat readme.txt
step cat readme.txt
step cp readme.txt readme-copy.txt
step cp archive.bin readme-copy.txt
step cp -f archive.bin readme-copy.txt
step mv readme-copy.txt archive-copy.bin
step ls -l '*.bin'
step rm archive-copy.bin
step rm protected.txt
step cat missing.txt
step mkdir -p 'new\deeper\deepest'
step ls -l
step rmdir -r reports
step tmpname . vl_
step df
step ls
wine attrib -r "$WORK_WIN\\protected.txt" >/dev/null 2>&1
