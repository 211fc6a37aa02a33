#!/usr/bin/env bash
# Turns the benchmark programs on in a build tree (they are off by default)
# and builds the named targets there.
# Usage: bench/programs.sh BUILD-DIR TARGET...
set -euo pipefail
build="$1"
shift
if ! grep -q '^UPDATER_BENCH:BOOL=ON$' "$build/CMakeCache.txt" 2>/dev/null; then
  cmake -S "$(dirname "$0")/.." -B "$build" -DUPDATER_BENCH=ON >/dev/null
fi
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build" "${targets[@]}" -j2 >/dev/null
