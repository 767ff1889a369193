#!/usr/bin/env bash
# Builds and runs the ObjPtr walking benchmark under Wine:
#   scripts/bench-objptr.sh [entries] [rounds]
# It prints entries per second for walking a folder of that many files
# through ObjPtr (Windows find functions and native reader) next to a bare
# FindFirstFileW/FindNextFileW loop over the same folder. It is a benchmark,
# not a test: it is not part of CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-env.sh
run_win64_bench wfsys_objptrbench tools/objptrbench/wfsys_objptrbench.exe "${1:-10000}" "${2:-9}"
