#!/usr/bin/env bash
# Builds and runs the IO throughput benchmark under Wine:
#   scripts/bench-io.sh [MiB per pass] [rounds]
# It prints sequential ReadAt/WriteAt throughput through an IO object next
# to plain ReadFile/WriteFile on the same file, for 4 KiB, 64 KiB and 1 MiB
# blocks. It is a benchmark, not a test: it is not part of CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-env.sh
run_win64_bench wfsys_iobench tools/iobench/wfsys_iobench.exe "" "${1:-256}" "${2:-15}"
