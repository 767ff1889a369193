#!/usr/bin/env bash
# Runs every CTest suite (or one label: scripts/test.sh installer).
set -uo pipefail
cd "$(dirname "$0")/.."
area=${1:-}
. scripts/wine-env.sh

# A test is run again once when it fails: under Wine a test process now and
# then fails to start at all (no output, about 10 ms). A test that fails
# twice fails the run.
args=(--output-on-failure --no-tests=ignore --repeat until-pass:2)
[ -n "$area" ] && args+=(-L "^${area}\$")

status=0
ctest --test-dir build/native "${args[@]}" -j2 || status=1
wine_up
trap wine_down EXIT
ctest --test-dir build/win32 "${args[@]}" || status=1
ctest --test-dir build/win64 "${args[@]}" || status=1
exit $status
