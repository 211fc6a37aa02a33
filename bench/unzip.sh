#!/usr/bin/env bash
# Unpacking speed and peak memory of the updater's unzip action next to
# Info-ZIP `unzip -o -q`, in one run, on generated packages:
#   bundle-deflate, bundle-bzip2, bundle-lzma: ~3,000 files, ~150 MiB in all;
#   big-deflate: one ~200 MiB entry.
# Each tool unpacks into a fresh directory; the two trees are compared with
# `diff -r` (unzip has no LZMA, so the LZMA tree is compared with unzip's
# deflate tree of the same files). Prints the median wall time of RUNS runs,
# the median CPU time (user + system; steadier than wall time on a busy
# machine) and the largest peak resident size (GNU time %M), each with its
# updater/unzip ratio.
# Usage: bench/unzip.sh [build-dir] [runs] [packages-dir]
#   defaults: build, 3, a temporary directory. The build must hold updater
#   and bench/bench_unzip_packages, preferably optimised. Making the packages
#   takes minutes (LZMA); a packages-dir that already holds them is reused.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${2:-3}"
updater="$build/updater"
maker="$build/bench/bench_unzip_packages"
for program in "$updater" "$maker"; do
  [[ -x "$program" ]] || { echo "missing $program: build the targets updater and bench_unzip_packages" >&2; exit 1; }
done
[[ -x /usr/bin/time ]] || { echo "missing /usr/bin/time (Debian package time)" >&2; exit 1; }
command -v unzip > /dev/null || { echo "missing unzip (Debian package unzip)" >&2; exit 1; }
updater="$(realpath "$updater")"
maker="$(realpath "$maker")"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
packages="${3:-$work/packages}"
if [[ ! -f "$packages/run-big-deflate.zip" ]]; then
  echo "making packages in $packages ..."
  "$maker" "$packages"
fi
packages="$(realpath "$packages")"

# Runs a command in a fresh directory $2 and appends "wall-seconds kilobytes
# cpu-seconds" to file $1. The command's own output is discarded.
measure() {
  local log="$1" dir="$2"
  shift 2
  rm -rf "$dir"
  mkdir -p "$dir"
  (cd "$dir" && /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$@" > /dev/null)
  awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$work/time.txt" >> "$log"
}

median_time() { sort -n -k1,1 "$1" | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
median_cpu() { sort -n -k3,3 "$1" | awk '{ t[NR] = $3 } END { print t[int((NR + 1) / 2)] }'; }
peak_memory() { sort -n -k2,2 "$1" | tail -1 | awk '{ printf "%.1f", $2 / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

row() { printf '%-15s %9s %9s %6s %9s %9s %6s %11s %9s %6s\n' "$@"; }
echo
row package "wall s" "unzip s" ratio "cpu s" "unzip s" ratio "peak MiB" "unzip" ratio
for name in bundle-deflate bundle-bzip2 bundle-lzma big-deflate; do
  archive="$packages/$name.zip"
  : > "$work/u.log"
  : > "$work/z.log"
  peer=yes
  [[ $name == *lzma ]] && peer=no
  for ((i = 0; i < runs; i++)); do
    measure "$work/u.log" "$work/u-$name" "$updater" "$packages/run-$name.zip"
    if [[ $peer == yes ]]; then
      measure "$work/z.log" "$work/z-$name" unzip -o -q "$archive" -d out
    fi
  done
  if [[ $peer == yes ]]; then
    diff -r "$work/u-$name/out" "$work/z-$name/out" || { echo "trees differ for $name" >&2; exit 1; }
    ut=$(median_time "$work/u.log") zt=$(median_time "$work/z.log")
    uc=$(median_cpu "$work/u.log") zc=$(median_cpu "$work/z.log")
    um=$(peak_memory "$work/u.log") zm=$(peak_memory "$work/z.log")
    row "$name" "$ut" "$zt" "$(ratio "$ut" "$zt")" "$uc" "$zc" "$(ratio "$uc" "$zc")" "$um" "$zm" "$(ratio "$um" "$zm")"
  else
    diff -r "$work/u-$name/out" "$work/z-bundle-deflate/out" || { echo "trees differ for $name" >&2; exit 1; }
    ut=$(median_time "$work/u.log") uc=$(median_cpu "$work/u.log") um=$(peak_memory "$work/u.log")
    row "$name" "$ut" n/a - "$uc" n/a - "$um" n/a -
  fi
done
echo
echo "trees identical (diff -r) for every package; unzip 6.0 has no LZMA (method 14) support,"
echo "so bundle-lzma is compared with unzip's bundle-deflate tree of the same files."
