#!/usr/bin/env bash
# Configures and builds the three trees, native first (the win32 tree signs
# its test package with the native zsign).
set -euo pipefail
cd "$(dirname "$0")/.."
for tree in native win32 win64; do
  # Configuring again is cheap and picks up preset changes.
  cmake --preset "$tree" >/dev/null
  echo "== building $tree"
  cmake --build --preset "$tree"
done
