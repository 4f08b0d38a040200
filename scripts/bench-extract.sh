#!/usr/bin/env bash
# Builds quendal-unzip and compares its extraction with unzip, 7zz and bsdtar
# on a corpus of system files, one 100 MB file (Deflate, stored and Deflate64
# archives) and 100,000 one-byte files (stored, also listed): median times,
# ratios to unzip, peak resident memory.
# Runs on tmpfs (/dev/shm) first and then on disk (the build folder).
# Usage: scripts/bench-extract.sh [runs [case]]   (case: part of a title, e.g. 100,000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUENDAL_BUILD_DIR:-$root/build}
runs=${1:-5}
case=${2:-}

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target quendal-unzip
program="$build/tools/quendal_unzip/quendal-unzip"

# Folders of their own, so that two runs at the same time do not share one.
shm=$(mktemp -d /dev/shm/quendal-bench-extract.XXXXXX)
disk=$(mktemp -d "$build/bench-extract-work.XXXXXX")
trap 'rm -rf "$shm" "$disk"' EXIT
echo "== on tmpfs ($shm)"
python3 "$root/bench/extract/bench_extract.py" "$program" "$shm" "$runs" "$case"
echo "== on disk ($disk)"
python3 "$root/bench/extract/bench_extract.py" "$program" "$disk" "$runs" "$case"
