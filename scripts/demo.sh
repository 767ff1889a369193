#!/usr/bin/env bash
# The main job on the embedded defaults, in a Wine prefix of its own
# (build/demo-pfx): a simulated product (registry values, product folder
# with its keys, the product service stand-in running, the Windows
# Installer stand-ins), then hotfixer.exe as an administrator runs it:
#   1. the default run schedules the patch for the next shutdown;
#   2. the simulated shutdown runs the registered copy, which applies it;
#   3. "/when now /uninstall" removes it again;
#   4. an invalid option shows the failure report.
# After each step it prints what a person would look at. Then the plug-in
# part drives wfsys.vpm through wfsh.
set -uo pipefail
cd "$(dirname "$0")/.."
ZEV_ROOT=$PWD
export WINEPREFIX=$ZEV_ROOT/build/demo-pfx
. scripts/wine-env.sh
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msi=n,b"   # the Windows Installer stand-in

W32=$ZEV_ROOT/build/win32
ENV_KEY='HKLM\Software\RodozavEva\protected\ZED10\environment'
SCRIPTS_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Group Policy\State\Machine\Scripts\Shutdown\0'
PRODUCT=$WINEPREFIX/drive_c/ZEV
SETUP=$WINEPREFIX/drive_c/ZEV-setup
PRODUCT_CODE=$(sed -n 's/^ZEV_TEST_PRODUCT_CODE:INTERNAL=//p' "$W32/CMakeCache.txt")

bold() { printf '\n\033[1m%s\033[0m\n' "$*"; }
indent() { tr -d '\r' | sed '/^$/d; s/^/    /'; }
reg32() { wine reg "$@" /reg:32 2>/dev/null; }
elapsed() { awk -v s="$1" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }'; }

show_state() {
  echo "  Patches.ini:"
  if [ -f "$PRODUCT/Patches/Patches.ini" ]; then indent < "$PRODUCT/Patches/Patches.ini"; else echo "    (none)"; fi
  echo "  patches the Windows Installer reports for the product:"
  wine "$W32/testbed/msi/msistate.exe" patches "$PRODUCT_CODE" 2>/dev/null | indent
  echo "  shutdown scripts registered:"
  if reg32 query "$SCRIPTS_KEY" /s >/tmp/zev-demo-scripts.txt; then
    grep -E 'Script|Parameters' /tmp/zev-demo-scripts.txt | indent
  else
    echo "    (none)"
  fi
}

show_trace_tail() {
  echo "  trace file C:\\ZEV\\Logs\\ZORArezi.log, last ${1} records:"
  tr -d '\r' < "$PRODUCT/Logs/ZORArezi.log" | grep -v '^$' | tail -n "$1" | cut -c1-160 | sed 's/^/    /'
}

run_hotfixer() {
  bold "== hotfixer.exe $*"
  local start=$(date +%s.%N)
  local out
  out=$(cd "$SETUP" && wine "$SETUP/hotfixer.exe" "$@" 2>/dev/null)
  local rc=$?
  echo "  console:"
  printf '%s\n' "$out" | tr -d '\r' | sed 's/^/    | /'
  echo "  exit code: $rc ($(elapsed "$start") s)"
}

wine_up
trap wine_down EXIT

bold "== Simulated product in $WINEPREFIX"
rm -rf "$PRODUCT" "$SETUP"
mkdir -p "$PRODUCT/Logs" "$PRODUCT/skin" "$SETUP"
cp "$W32/testbed/product/grd.exe" "$W32/testbed/product/vlremote.dll" "$PRODUCT/"
echo stub > "$PRODUCT/vxstub.vpm"
cp keys/dev/al.pbv keys/dev/oper.pbv "$PRODUCT/"                 # development keys
cp "$W32/installer/hotfixer.exe" "$W32/testbed/msi/msi.dll" "$W32/testbed/msi/msiexec.exe" "$SETUP/"
reg32 delete "$ENV_KEY" /f >/dev/null
reg32 add "$ENV_KEY" /v ProductRoot /d 'C:\ZEV' /f >/dev/null
reg32 add "$ENV_KEY" /v TraceRoot /d 'C:\ZEV\Logs\' /f >/dev/null
reg32 add "$ENV_KEY" /v Skin /d 'C:\ZEV\skin' /f >/dev/null
reg32 add "$ENV_KEY" /v Localization /d en /f >/dev/null
reg32 delete 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Group Policy' /f >/dev/null
wine "$W32/testbed/msi/msistate.exe" clear >/dev/null 2>&1
wine "$W32/testbed/msi/msistate.exe" install >/dev/null 2>&1
echo "  product values:"; reg32 query "$ENV_KEY" | grep REG_ | indent
echo "  product $PRODUCT_CODE installed; product service starting"
(cd "$PRODUCT" && wine "$PRODUCT/grd.exe" -s >/dev/null 2>&1 &)
for _ in $(seq 100); do grep -q 'start pid=' "$PRODUCT/grd.journal" 2>/dev/null && break; sleep 0.2; done
grep 'start pid=' "$PRODUCT/grd.journal" | indent

run_hotfixer /help

run_hotfixer
show_state
echo "  product service journal (the restart request is the last message):"
tail -n 3 "$PRODUCT/grd.journal" | indent
show_trace_tail 6

bold "== Simulated shutdown: Windows runs the registered shutdown scripts"
# The registered copy finds the Windows Installer stand-ins beside it, as it
# would find the system's own.
cp "$W32/testbed/msi/msi.dll" "$W32/testbed/msi/msiexec.exe" "$PRODUCT/Patches/Private/"
start=$(date +%s.%N)
wine "$W32/testbed/shutdown/shutdown_runner.exe" 2>/dev/null | indent
echo "  ($(elapsed "$start") s)"
show_state
show_trace_tail 5

run_hotfixer /when now /uninstall
show_state

run_hotfixer /when later
show_trace_tail 6

if [ -x scripts/demo-wfsh.sh ]; then
  scripts/demo-wfsh.sh
fi
