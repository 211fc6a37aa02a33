#!/usr/bin/env bash
# Cost of a transaction ("transaction": true in the manifest), measured next
# to the same work without one, in one run:
#   unzip: a ~3,000-file bundle (deflate, ~40 MiB) unpacked over an existing
#          installation of it, plain and as a transaction (commit included);
#          Info-ZIP `unzip -o -q` of the same archive as the peer;
#   remove: 5,000 files selected by "tree/*", plain and as a transaction
#          (commit included), next to `rm -rf tree`;
#   remove dir: the same tree selected as "tree" (the directory itself, one
#          move into the store), next to the same `rm -rf tree` runs.
# Prints the median wall and CPU time (user + system) of RUNS runs and the
# transaction/plain ratios.
# Usage: bench/transaction.sh [build-dir] [runs]   (defaults: build, 5)
# The work directory is made by mktemp: TMPDIR=/dev/shm measures on tmpfs,
# without the disk (on a file system mounted with "discard" every freed
# block is trimmed, which makes deleting the old files, by the commit or
# by the plain run's renames, dominate the wall times).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${2:-5}"
updater="$(realpath "$build/updater")"
[[ -x "$updater" ]] || { echo "missing $updater: build the target updater" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "missing /usr/bin/time (Debian package time)" >&2; exit 1; }
command -v unzip > /dev/null || { echo "missing unzip (Debian package unzip)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The bundle and the packages: the same entries, with and without a
# transaction; remove packages for the 5,000-file tree.
python3 - "$work" << 'PY'
import json, random, sys, zipfile
work = sys.argv[1]
rng = random.Random(3000)
files = []
for i in range(3000):
    size = int(64 * (2 ** rng.uniform(0, 12)))  # 64 B .. 256 KiB, log-uniform
    words = b"update bundle file value config %d " % i
    files.append(("app/d%02d/f%04d.dat" % (i % 40, i), (words * (size // len(words) + 1))[:size]))
unzip = {"type": "unzip", "source": "@update.zip", "destination": ".", "include": [], "exclude": ["manifest.json"]}
remove = {"type": "remove", "include": ["tree/*"], "exclude": []}
remove_dir = {"type": "remove", "include": ["tree"], "exclude": []}
for name, actions, payload in (("unzip", [unzip], files), ("remove", [remove], []), ("remove-dir", [remove_dir], [])):
    for transaction in (False, True):
        manifest = {"actions": [actions]}
        if transaction:
            manifest = {"transaction": True, "actions": [actions]}
        path = "%s/%s-%s.zip" % (work, name, "transaction" if transaction else "plain")
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
            for entry, data in payload:
                archive.writestr(entry, data)
            archive.writestr("manifest.json", json.dumps(manifest))
PY
mkdir -p "$work/tree-template"
(cd "$work/tree-template" && seq -f 'file%04g' 0 4999 | xargs touch)

# Runs a command in directory $2 and appends "wall-seconds cpu-seconds" to
# file $1. The command's own output is discarded.
measure() {
  local log="$1" dir="$2"
  shift 2
  # Dirty data of the previous run would otherwise be flushed inside this
  # one (the transaction's one directory fsync waits for it).
  sync
  (cd "$dir" && /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$@" > /dev/null)
  awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time.txt" >> "$log"
}
median() { sort -n -k"$2","$2" "$1" | awk -v k="$2" '{ t[NR] = $k } END { print t[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
row() { printf '%-22s %8s %8s %8s %8s\n' "$@"; }

# unzip over an existing installation: installed once, then each tool
# unpacks over it.
mkdir -p "$work/install"
(cd "$work/install" && "$updater" "$work/unzip-plain.zip" > /dev/null)
: > "$work/unzip-plain.log"; : > "$work/unzip-transaction.log"; : > "$work/unzip-peer.log"
for ((i = 0; i < runs; i++)); do
  measure "$work/unzip-plain.log" "$work/install" "$updater" "$work/unzip-plain.zip"
  measure "$work/unzip-transaction.log" "$work/install" "$updater" "$work/unzip-transaction.zip"
  measure "$work/unzip-peer.log" "$work/install" unzip -o -q "$work/unzip-plain.zip" -x manifest.json
done
[[ ! -e "$work/install/.updater-transaction" ]] || { echo "transaction left behind" >&2; exit 1; }

: > "$work/remove-plain.log"; : > "$work/remove-transaction.log"; : > "$work/remove-peer.log"
: > "$work/remove-dir-plain.log"; : > "$work/remove-dir-transaction.log"
for ((i = 0; i < runs; i++)); do
  for kind in plain transaction peer dir-plain dir-transaction; do
    rm -rf "$work/r" && mkdir "$work/r" && cp -a "$work/tree-template" "$work/r/tree"
    if [[ $kind == peer ]]; then
      measure "$work/remove-peer.log" "$work/r" rm -rf tree
    else
      measure "$work/remove-$kind.log" "$work/r" "$updater" "$work/remove-$kind.zip"
      if [[ $kind == dir-* ]]; then
        [[ ! -e "$work/r/tree" ]] || { echo "remove left the directory" >&2; exit 1; }
      else
        [[ -z "$(ls -A "$work/r/tree")" ]] || { echo "remove left files" >&2; exit 1; }
      fi
    fi
  done
done
cp "$work/remove-peer.log" "$work/remove-dir-peer.log"

echo
row "" "wall s" "cpu s" "wall/plain" "cpu/plain"
for bench in unzip remove remove-dir; do
  pw=$(median "$work/$bench-plain.log" 1) pc=$(median "$work/$bench-plain.log" 2)
  tw=$(median "$work/$bench-transaction.log" 1) tc=$(median "$work/$bench-transaction.log" 2)
  ew=$(median "$work/$bench-peer.log" 1) ec=$(median "$work/$bench-peer.log" 2)
  peer="unzip -o"
  [[ $bench == remove* ]] && peer="rm -rf"
  row "$bench plain" "$pw" "$pc" 1.00 1.00
  row "$bench transaction" "$tw" "$tc" "$(ratio "$tw" "$pw")" "$(ratio "$tc" "$pc")"
  row "$bench: $peer" "$ew" "$ec" "$(ratio "$ew" "$pw")" "$(ratio "$ec" "$pc")"
  echo "  transaction / $peer: wall $(ratio "$tw" "$ew"), cpu $(ratio "$tc" "$ec")"
done
