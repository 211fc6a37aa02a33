#!/usr/bin/env bash
# Times glob::rglob next to `find -L` in the same run, medians of five runs:
#  - TREE/**/*.h and **/*.h over a generated tree of about 60,000 files in
#    3,000 directories;
#  - "**" over a single chain of 2,100 nested directories (paths at that depth
#    pass the system's path limit, so both stop short of the bottom; find says
#    so on standard error);
#  - a pattern of 2,000 levels (d*/d*/.../d*) down the same chain, with the
#    peak memory of the whole process.
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

# Median wall and median CPU time of five runs.
median() {
  local walls=() cpus=() w c
  for _ in 1 2 3 4 5; do
    read -r w c < <(measure "$@")
    walls+=("$w")
    cpus+=("$c")
  done
  echo "$(printf '%s\n' "${walls[@]}" | sort -n | sed -n 3p) $(printf '%s\n' "${cpus[@]}" | sort -n | sed -n 3p)"
}

row() { printf '%-40s %8s %9s %8s\n' "$@"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b < 1) b = 1; printf "%.2fx", a / b }'; }

# One warm-up run of each, so that both read a warm cache.
"$program" rglob "$tree/**/*.h" > /dev/null
find -L "$tree" -name '*.h' > /dev/null

glob_count=$("$program" rglob "$tree/**/*.h" | cut -d' ' -f1)
find_count=$(find -L "$tree" -name '*.h' | wc -l)
read -r glob_wall glob_cpu < <(median "$program" rglob "$tree/**/*.h")
read -r find_wall find_cpu < <(median find -L "$tree" -name '*.h')
rel_count=$(cd "$tree" && "$program" rglob '**/*.h' | cut -d' ' -f1)
read -r rel_wall rel_cpu < <(cd "$tree" && median "$program" rglob '**/*.h')

chain="$work/chain"
"$program" chain "$chain" 2100
chain_count=$(cd "$chain" && "$program" rglob '**' | cut -d' ' -f1)
read -r chain_wall chain_cpu < <(cd "$chain" && median "$program" rglob '**')
find_chain_count=$(cd "$chain" && { find -L . 2>/dev/null || true; } | wc -l)
read -r fchain_wall fchain_cpu < <(cd "$chain" && median find -L .)

levels=$(printf 'd*/%.0s' $(seq 1999); printf 'd*')
levels_count=$(cd "$chain" && "$program" glob "$levels" | cut -d' ' -f1)
read -r levels_wall levels_cpu < <(cd "$chain" && median "$program" glob "$levels")
levels_kb=$(cd "$chain" && /usr/bin/time -f '%M' "$program" glob "$levels" 2>&1 >/dev/null | tail -n 1)
find_levels_count=$(cd "$chain" && { find -L . -mindepth 2000 -maxdepth 2000 2>/dev/null || true; } | wc -l)
read -r flevels_wall flevels_cpu < <(cd "$chain" && median find -L . -mindepth 2000 -maxdepth 2000)
flevels_kb=$(cd "$chain" && /usr/bin/time -f '%M' find -L . -mindepth 2000 -maxdepth 2000 2>&1 >/dev/null | tail -n 1)

row "" "paths" "wall ms" "cpu ms"
row "rglob TREE/**/*.h (absolute)" "$glob_count" "$glob_wall" "$glob_cpu"
row "rglob **/*.h (relative, in TREE)" "$rel_count" "$rel_wall" "$rel_cpu"
row "find -L TREE -name '*.h'" "$find_count" "$find_wall" "$find_cpu"
echo "  ratio to find, wall: absolute $(ratio "$glob_wall" "$find_wall"), relative $(ratio "$rel_wall" "$find_wall");" \
  "cpu: absolute $(ratio "$glob_cpu" "$find_cpu"), relative $(ratio "$rel_cpu" "$find_cpu")"
row "rglob ** (2,100-deep chain)" "$chain_count" "$chain_wall" "$chain_cpu"
row "find -L . (2,100-deep chain)" "$find_chain_count" "$fchain_wall" "$fchain_cpu"
echo "  ratio to find, wall $(ratio "$chain_wall" "$fchain_wall"), cpu $(ratio "$chain_cpu" "$fchain_cpu")   (goal: under 1,000 ms)"
row "glob d*/.../d* (2,000 levels)" "$levels_count" "$levels_wall" "$levels_cpu"
row "find -L . -mindepth 2000 -maxdepth 2000" "$find_levels_count" "$flevels_wall" "$flevels_cpu"
echo "  peak memory: glob ${levels_kb} KB, find ${flevels_kb} KB"
