#!/usr/bin/env bash
# Cost of package signatures: the updater on a ~150 MiB package (one stored
# entry of random bytes and a manifest with an empty action set, so the run
# does nothing but read the manifest) without a trusted key, and with one
# (prehashed and legacy signatures), next to `minisign -V` checking the same
# signatures in the same run. The package is read once before measuring, so
# every run finds it in the page cache. Prints the median wall time and CPU
# time (user + system) of RUNS runs, the largest peak resident size, and the
# extra wall time of each signed run over the unsigned one.
# Usage: bench/sign.sh [build-dir] [runs] [size-MiB]   defaults: build, 5, 150
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${2:-5}"
size="${3:-150}"
[[ -x "$build/updater" ]] || { echo "missing $build/updater: build the target updater" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "missing /usr/bin/time (Debian package time)" >&2; exit 1; }
for tool in minisign zip; do
  command -v "$tool" > /dev/null || { echo "missing $tool (scripts/setup installs it)" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/content" "$work/plain" "$work/signed"
head -c "$((size << 20))" /dev/urandom > "$work/content/payload.bin"
echo '{"actions": [[]]}' > "$work/content/manifest.json"
(cd "$work/content" && zip -q -0 "$work/prehashed.zip" manifest.json payload.bin)
cp "$work/prehashed.zip" "$work/legacy.zip"
minisign -G -W -p "$work/signed/updater.pub" -s "$work/key" > /dev/null
minisign -S -s "$work/key" -m "$work/prehashed.zip" > /dev/null
minisign -S -l -s "$work/key" -m "$work/legacy.zip" > /dev/null
cp "$build/updater" "$work/plain/updater"
cp "$build/updater" "$work/signed/updater"
cat "$work/prehashed.zip" "$work/legacy.zip" > /dev/null

# Runs a command RUNS times and prints "median-wall median-cpu peak-MiB".
measure() {
  : > "$work/log"
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$@" > /dev/null 2>&1
    awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$work/time.txt" >> "$work/log"
  done
  local wall cpu peak
  wall=$(sort -n -k1,1 "$work/log" | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }')
  cpu=$(sort -n -k3,3 "$work/log" | awk '{ t[NR] = $3 } END { print t[int((NR + 1) / 2)] }')
  peak=$(sort -n -k2,2 "$work/log" | tail -1 | awk '{ printf "%.1f", $2 / 1024 }')
  echo "$wall $cpu $peak"
}

row() { printf '%-34s %8s %8s %9s %12s\n' "$@"; }
echo "package: $size MiB, $runs runs each"
row run "wall s" "cpu s" "peak MiB" "extra wall s"
read -r base_wall base_cpu base_peak < <(measure "$work/plain/updater" "$work/prehashed.zip")
row "updater, no trusted key" "$base_wall" "$base_cpu" "$base_peak" "-"
for kind in prehashed legacy; do
  read -r wall cpu peak < <(measure "$work/signed/updater" "$work/$kind.zip")
  extra=$(awk -v a="$wall" -v b="$base_wall" 'BEGIN { printf "%.2f", a - b }')
  row "updater, $kind signature" "$wall" "$cpu" "$peak" "$extra"
  read -r wall cpu peak < <(measure minisign -V -q -p "$work/signed/updater.pub" -m "$work/$kind.zip")
  row "minisign -V, $kind signature" "$wall" "$cpu" "$peak" "-"
done
