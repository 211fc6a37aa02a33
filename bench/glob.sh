#!/usr/bin/env bash
# Times glob::rglob on TREE/**/*.h over a generated tree of about 60,000 files
# in 3,000 directories, next to `find -L TREE -name '*.h'` in the same run.
# Usage: bench/glob.sh [build-dir]   (default: build; must hold bench_glob_tree)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
program="$build/bench/bench_glob_tree"
[[ -x "$program" ]] || { echo "missing $program: build the target bench_glob_tree first" >&2; exit 1; }
program="$(realpath "$program")"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tree="$work/tree"
"$program" make "$tree" 3000 60000

# Wall-clock milliseconds of one command, its output discarded.
millis() {
  local start end
  start=$(date +%s%N)
  "$@" > /dev/null
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}

# Best of three, after one warm-up run of each, so both read a warm cache.
best() {
  local b=999999 t
  for _ in 1 2 3; do
    t=$(millis "$@")
    (( t < b )) && b=$t
  done
  echo "$b"
}

"$program" rglob "$tree/**/*.h" > /dev/null
find -L "$tree" -name '*.h' > /dev/null

glob_count=$("$program" rglob "$tree/**/*.h" | cut -d' ' -f1)
find_count=$(find -L "$tree" -name '*.h' | wc -l)
glob_ms=$(best "$program" rglob "$tree/**/*.h")
find_ms=$(best find -L "$tree" -name '*.h')

rel_count=$(cd "$tree" && "$program" rglob '**/*.h' | cut -d' ' -f1)
rel_ms=$(cd "$tree" && best "$program" rglob '**/*.h')

printf '%-36s %8s %8s\n' "" "paths" "ms"
printf '%-36s %8s %8s\n' "rglob TREE/**/*.h (absolute)" "$glob_count" "$glob_ms"
printf '%-36s %8s %8s\n' "rglob **/*.h (relative, in TREE)" "$rel_count" "$rel_ms"
printf '%-36s %8s %8s\n' "find -L TREE -name '*.h'" "$find_count" "$find_ms"
awk -v g="$glob_ms" -v r="$rel_ms" -v f="$find_ms" 'BEGIN {
  if (f < 1) f = 1
  printf "ratio rglob/find: absolute %.2fx, relative %.2fx (goal: at most 2x)\n", g / f, r / f }'
