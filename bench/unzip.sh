#!/usr/bin/env bash
# Unpacking speed and peak memory of the updater's unzip action next to
# Info-ZIP `unzip -o -q`, libarchive's `bsdtar -xf` and Python's zipfile
# (`ZipFile.extractall`), in one run, on generated packages:
#   bundle-deflate, bundle-bzip2, bundle-lzma: ~3,000 files, ~150 MiB in all;
#   big-deflate: one ~200 MiB entry;
#   not-zip: the rejection of a 512 MiB file that is not an archive, next to
#   `cat FILE > /dev/null` (the time to read it once).
# The updater runs twice per round: with its default number of decoding
# threads (one per core, at most 8; printed) and with UPDATER_THREADS=1.
# Each tool unpacks into a fresh directory; the trees are compared with
# `diff -r` (unzip has no LZMA, so the LZMA tree is compared with Python's,
# and with unzip's deflate tree of the same files when that row ran). Prints the median wall time of RUNS runs
# and the largest peak resident size (GNU time %M), with the ratios the
# goals are about: updater/bsdtar for deflate, updater/unzip for bzip2,
# updater/python for LZMA.
# PACKAGES="bundle-deflate big-deflate not-zip" picks rows.
# Usage: bench/unzip.sh [build-dir] [runs] [packages-dir]
#   defaults: build, 3, a temporary directory. The build must hold updater
#   and bench/bench_unzip_packages, preferably optimised. Making the packages
#   takes minutes (LZMA); a packages-dir that already holds them is reused.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${2:-3}"
bench/programs.sh "$build" updater bench_unzip_packages
updater="$build/updater"
maker="$build/bench/bench_unzip_packages"
for program in "$updater" "$maker"; do
  [[ -x "$program" ]] || { echo "missing $program: build the targets updater and bench_unzip_packages" >&2; exit 1; }
done
[[ -x /usr/bin/time ]] || { echo "missing /usr/bin/time (Debian package time)" >&2; exit 1; }
command -v unzip > /dev/null || { echo "missing unzip (Debian package unzip)" >&2; exit 1; }
if ! command -v bsdtar > /dev/null; then
  echo "installing bsdtar (libarchive-tools) for the comparison"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends libarchive-tools > /dev/null
fi
command -v python3 > /dev/null || { echo "missing python3" >&2; exit 1; }
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
  # A rejected archive fails the run on purpose: only the time counts.
  (cd "$dir" && /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$@" > /dev/null 2>&1) || true
  tail -n 1 "$work/time.txt" | awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' >> "$log"
}

threads=$(nproc)
((threads > 8)) && threads=8
extract_py='import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall("out")'

median_time() { sort -n -k1,1 "$1" | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
peak_memory() { sort -n -k2,2 "$1" | tail -1 | awk '{ printf "%.1f", $2 / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 > 0) printf "%.2f", a / b; else print "-" }'; }

row() { printf '%-15s %8s %8s %8s %8s %8s %8s %8s %8s %8s %9s\n' "$@"; }
echo
echo "updater: $threads decoding threads by default (nproc $(nproc), at most 8); upd1 = UPDATER_THREADS=1"
row package "upd s" "upd1 s" "unzip s" "bsdtar s" "python s" upd/bsd upd/unz upd/py "upd MiB" "upd1 MiB"

if [[ " ${PACKAGES:-not-zip} " == *" not-zip "* && ! -f "$packages/not-zip.bin" ]]; then
  head -c 512M /dev/urandom > "$packages/not-zip.bin"
  (cd "$work" && printf '{"actions":[[{"type":"unzip","description":"bench","source":"%s","destination":"out","include":[],"exclude":[]}]]}' \
    "$packages/not-zip.bin" > manifest.json && zip -q "$packages/run-not-zip.zip" manifest.json)
fi

for name in ${PACKAGES:-bundle-deflate bundle-bzip2 bundle-lzma big-deflate not-zip}; do
  archive="$packages/$name.zip"
  for log in u o z b p; do : > "$work/$log.log"; done
  for ((i = 0; i < runs; i++)); do
    measure "$work/u.log" "$work/u-$name" "$updater" "$packages/run-$name.zip"
    measure "$work/o.log" "$work/o-$name" env UPDATER_THREADS=1 "$updater" "$packages/run-$name.zip"
    if [[ $name == not-zip ]]; then
      measure "$work/z.log" "$work/z-$name" sh -c "cat '$packages/not-zip.bin' > /dev/null"
    else
      if [[ $name != *lzma ]]; then
        measure "$work/z.log" "$work/z-$name" unzip -o -q "$archive" -d out
        measure "$work/b.log" "$work/b-$name" sh -c "mkdir -p out && bsdtar -xf '$archive' -C out"
      fi
      measure "$work/p.log" "$work/p-$name" python3 -c "$extract_py" "$archive"
    fi
  done
  if [[ $name == not-zip ]]; then
    [[ ! -e "$work/u-$name/out" || -z "$(ls -A "$work/u-$name/out")" ]] || { echo "not-zip unpacked something" >&2; exit 1; }
  elif [[ $name == *lzma ]]; then
    # Python's tree is compared below; unzip's deflate tree of the same files
    # too when that row ran.
    if [[ -d "$work/z-bundle-deflate/out" ]]; then
      diff -r "$work/u-$name/out" "$work/z-bundle-deflate/out" || { echo "trees differ for $name" >&2; exit 1; }
    fi
  else
    diff -r "$work/u-$name/out" "$work/z-$name/out" || { echo "trees differ for $name" >&2; exit 1; }
    diff -r "$work/u-$name/out" "$work/b-$name/out" || { echo "trees differ for $name (bsdtar)" >&2; exit 1; }
  fi
  if [[ $name != not-zip ]]; then
    diff -r "$work/u-$name/out" "$work/o-$name/out" || { echo "trees differ for $name (one thread)" >&2; exit 1; }
    diff -r "$work/u-$name/out" "$work/p-$name/out" || { echo "trees differ for $name (python)" >&2; exit 1; }
  fi
  ut=$(median_time "$work/u.log")
  ot=$(median_time "$work/o.log")
  zt=-; [[ ! -s "$work/z.log" ]] || zt=$(median_time "$work/z.log")
  bt=-; [[ ! -s "$work/b.log" ]] || bt=$(median_time "$work/b.log")
  pt=-; [[ ! -s "$work/p.log" ]] || pt=$(median_time "$work/p.log")
  row "$name" "$ut" "$ot" "$zt" "$bt" "$pt" "$(ratio "$ut" "$bt")" "$(ratio "$ut" "$zt")" "$(ratio "$ut" "$pt")" \
    "$(peak_memory "$work/u.log")" "$(peak_memory "$work/o.log")"
done
echo
echo "median wall times of $runs runs; trees identical (diff -r) to unzip's, bsdtar's and python's; for not-zip"
echo "the unzip column is 'cat FILE > /dev/null'; unzip 6.0 has no LZMA, so bundle-lzma is compared with python's"
echo "tree (and unzip's bundle-deflate tree of the same files when that row ran). Goals: deflate bundle upd/bsd <= 0.5, big entry upd/bsd <= 0.6,"
echo "bzip2 upd/unz <= 0.7, LZMA upd/py <= 0.7, peak memory <= 16 MiB + 4 MiB per decoding thread."
