#!/usr/bin/env bash
# Times glob::rglob on TREE/**/*.h over a generated tree of about 60,000 files
# in 3,000 directories, next to `find -L TREE -name '*.h'` in the same run;
# then "**" over a single chain of 2,100 nested directories, next to `find -L`.
# Paths at that depth pass the system's path limit, so both stop short of the
# bottom (find says so on standard error).
# Usage: bench/glob.sh [build-dir]   (default: build; must hold bench_glob_tree)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
bench/programs.sh "$build" bench_glob_tree
program="$build/bench/bench_glob_tree"
[[ -x "$program" ]] || { echo "missing $program: build the target bench_glob_tree first" >&2; exit 1; }
program="$(realpath "$program")"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tree="$work/tree"
"$program" make "$tree" 3000 60000

# One run of a command, its output discarded: "wall-ms cpu-ms", the CPU time
# being user plus system time. The CPU time is the steadier figure on a
# machine shared with other work.
measure() {
  local TIMEFORMAT='%R %U %S' times
  times=$( { time "$@" > /dev/null 2>&1 || true; } 2>&1 )
  awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }' <<< "$times"
}

# Best wall and best CPU time of three runs.
best() {
  local bw=999999 bc=999999 w c
  for _ in 1 2 3; do
    read -r w c < <(measure "$@")
    (( w < bw )) && bw=$w
    (( c < bc )) && bc=$c
  done
  echo "$bw $bc"
}

# One warm-up run of each, so that both read a warm cache.
"$program" rglob "$tree/**/*.h" > /dev/null
find -L "$tree" -name '*.h' > /dev/null

glob_count=$("$program" rglob "$tree/**/*.h" | cut -d' ' -f1)
find_count=$(find -L "$tree" -name '*.h' | wc -l)
read -r glob_wall glob_cpu < <(best "$program" rglob "$tree/**/*.h")
read -r find_wall find_cpu < <(best find -L "$tree" -name '*.h')
rel_count=$(cd "$tree" && "$program" rglob '**/*.h' | cut -d' ' -f1)
read -r rel_wall rel_cpu < <(cd "$tree" && best "$program" rglob '**/*.h')

printf '%-36s %8s %9s %8s\n' "" "paths" "wall ms" "cpu ms"
printf '%-36s %8s %9s %8s\n' "rglob TREE/**/*.h (absolute)" "$glob_count" "$glob_wall" "$glob_cpu"
printf '%-36s %8s %9s %8s\n' "rglob **/*.h (relative, in TREE)" "$rel_count" "$rel_wall" "$rel_cpu"
printf '%-36s %8s %9s %8s\n' "find -L TREE -name '*.h'" "$find_count" "$find_wall" "$find_cpu"
awk -v gw="$glob_wall" -v gc="$glob_cpu" -v rw="$rel_wall" -v rc="$rel_cpu" -v fw="$find_wall" -v fc="$find_cpu" 'BEGIN {
  if (fw < 1) fw = 1
  if (fc < 1) fc = 1
  printf "ratio rglob/find, wall: absolute %.2fx, relative %.2fx\n", gw / fw, rw / fw
  printf "ratio rglob/find, cpu:  absolute %.2fx, relative %.2fx   (goal: at most 2x)\n", gc / fc, rc / fc }'

chain="$work/chain"
"$program" chain "$chain" 2100
chain_count=$(cd "$chain" && "$program" rglob '**' | cut -d' ' -f1)
read -r chain_wall chain_cpu < <(cd "$chain" && best "$program" rglob '**')
find_chain_count=$(cd "$chain" && { find -L . 2>/dev/null || true; } | wc -l)
read -r fchain_wall fchain_cpu < <(cd "$chain" && best find -L .)
printf '%-36s %8s %9s %8s\n' "rglob ** (2,100-deep chain)" "$chain_count" "$chain_wall" "$chain_cpu"
printf '%-36s %8s %9s %8s\n' "find -L . (2,100-deep chain)" "$find_chain_count" "$fchain_wall" "$fchain_cpu"
