#!/usr/bin/env bash
# The main job on the embedded defaults, in a Wine prefix of its own
# (build/demo-pfx): a simulated product, hotfixer.exe run against it, and
# what each step leaves behind, printed for a person to read.
set -uo pipefail
cd "$(dirname "$0")/.."
ZEV_ROOT=$PWD
export WINEPREFIX=$ZEV_ROOT/build/demo-pfx
. scripts/wine-env.sh

HOTFIXER=$ZEV_ROOT/build/win32/installer/hotfixer.exe
ENV_KEY='HKLM\Software\RodozavEva\protected\ZED10\environment'
DEMO_DIR=$WINEPREFIX/drive_c/ZEV
DEMO_WIN='C:\ZEV'

section() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
reg32() { wine reg "$@" /reg:32 >/dev/null 2>&1; }

# Runs hotfixer.exe in the product folder and shows what a person would look at.
run_hotfixer() {
  local args="$*"
  section "hotfixer.exe $args"
  local out
  out=$(cd "$DEMO_DIR" && wine "$HOTFIXER" $args 2>/dev/null)
  local rc=$?
  printf '%s\n' "$out" | sed 's/\r$//; s/^/  | /'
  echo "  exit code: $rc"
}

show_trace_tail() {
  section "trace file $DEMO_WIN\\Logs\\ZORArezi.log (last ${1:-12} records)"
  tr -d '\r' < "$DEMO_DIR/Logs/ZORArezi.log" | grep -v '^$' | tail -n "${1:-12}" | sed 's/^/  /'
}

wine_up
trap wine_down EXIT

section "Simulated product in $WINEPREFIX"
rm -rf "$DEMO_DIR"
mkdir -p "$DEMO_DIR/Logs" "$DEMO_DIR/skin"
reg32 delete "$ENV_KEY" /f
reg32 add "$ENV_KEY" /v TraceRoot /d "$DEMO_WIN\\Logs\\" /f
reg32 add "$ENV_KEY" /v Skin /d "$DEMO_WIN\\skin" /f
reg32 add "$ENV_KEY" /v Localization /d en /f
wine reg query "$ENV_KEY" /reg:32 2>/dev/null | tr -d '\r' | sed '/^$/d; s/^/  /'

run_hotfixer /help

# Without "ProductRoot" the patch job cannot find the product: the failure
# is traced, printed and reported as the "InstallFail" event, exit code 1.
run_hotfixer /when now
show_trace_tail 8
