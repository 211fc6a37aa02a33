#!/usr/bin/env bash
# Times the file actions of the updater against plain tools, in one run
# (medians of five runs):
#  (a) a remove action on a tree of 5,000 files with 20 exclusions deep inside
#      it, next to `rm -rf` of an identical copy;
#  (b) a copy action over a tree of 60,000 files selecting 100 of them by a
#      recursive pattern, next to `find -L` over the same tree.
# Usage: bench/select.sh [build-dir]   (default: build; must hold updater and
# bench/bench_select, preferably an optimised build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
bench/programs.sh "$build" updater bench_select
updater="$build/updater"
setup="$build/bench/bench_select"
for program in "$updater" "$setup"; do
  [[ -x "$program" ]] || { echo "missing $program: build the targets updater and bench_select first" >&2; exit 1; }
done
updater="$(realpath "$updater")"
setup="$(realpath "$setup")"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Wall-clock milliseconds of one command, its output discarded.
millis() {
  local start end
  start=$(date +%s%N)
  "$@" > /dev/null
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}

middle() { printf '%s\n' "$@" | sort -n | sed -n 3p; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b < 1) b = 1; printf "%.2f", a / b }'; }

# (a) remove around 20 exclusions vs rm -rf, each on a fresh copy
"$setup" remove-setup "$work"
removes=()
rms=()
for _ in 1 2 3 4 5; do
  rm -rf "$work/work" "$work/peer"
  mkdir -p "$work/work" "$work/peer"
  cp -a "$work/tree" "$work/work/tree"
  cp -a "$work/tree" "$work/peer/tree"
  removes+=("$(millis "$updater" -f "$work/remove.zip")")
  rms+=("$(millis rm -rf "$work/peer/tree")")
  left=$(find "$work/work/tree" -type f | wc -l)
  [[ "$left" == 20 ]] || { echo "remove left $left files, expected the 20 excluded ones" >&2; exit 1; }
done
remove_ms=$(middle "${removes[@]}")
rm_ms=$(middle "${rms[@]}")

# (b) copy selected by a recursive pattern vs find -L
"$setup" copy-setup "$work"
find -L "$work/big" -name '*.special' > /dev/null  # same warm cache for both
copies=()
finds=()
for _ in 1 2 3 4 5; do
  rm -rf "$work/out"
  copies+=("$(millis "$updater" -f "$work/copy.zip")")
  finds+=("$(millis find -L "$work/big" -name '*.special')")
  copied=$(find "$work/out" -type f | wc -l)
  [[ "$copied" == 100 ]] || { echo "copy made $copied files, expected 100" >&2; exit 1; }
done
copy_ms=$(middle "${copies[@]}")
find_ms=$(middle "${finds[@]}")

printf '%-52s %8s %8s %8s\n' "" "updater" "peer" "ratio"
printf '%-52s %6sms %6sms %7sx  (goal <= 2x)\n' "(a) remove 5,000 files but 20  |  rm -rf" \
  "$remove_ms" "$rm_ms" "$(ratio "$remove_ms" "$rm_ms")"
printf '%-52s %6sms %6sms %7sx  (goal <= 1.5x)\n' "(b) copy 100 of 60,000 by **/*.special  |  find -L" \
  "$copy_ms" "$find_ms" "$(ratio "$copy_ms" "$find_ms")"
