#!/usr/bin/env bash
# Decoding throughput of a ZIP entry's data stream against direct library
# decoding of the same bytes (zlib inflate, libbz2, liblzma), measured in the
# same run. Goal: the stream within 15% of direct decoding (chain/dir >= 0.85).
#   bench/zip_streams.sh [deflate_MiB [bzip2_MiB [lzma_MiB]]]   (default 128 32 16)
# BUILD_DIR selects the build tree (default build/, made by scripts/setup).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
bench/programs.sh "$build" bench_zip_streams
echo "Entry stream vs direct decoding ($(grep -m1 CMAKE_BUILD_TYPE: "$build/CMakeCache.txt" | cut -d= -f2) build)"
"$build/bench/bench_zip_streams" "$@"
