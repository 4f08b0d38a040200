#!/usr/bin/env bash
# Builds the listing benchmark, makes an archive of 100,000 small entries
# (Python's zipfile) and lists it through the component's directory walk and
# with "unzip -l" in the same run. An argument replaces the entry count.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUENDAL_BUILD_DIR:-$root/build}
entries=${1:-100000}

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target listing_bench
work="$build/bench-listing-work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
archive="$work/entries-$entries.zip"
python3 - "$archive" "$entries" <<'PY'
import sys, zipfile
path, count = sys.argv[1], int(sys.argv[2])
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(count):
        z.writestr("folder%03d/entry%06d.txt" % (i // 1000, i), "line %d\n" % i * (1 + i % 7))
PY
"$build/bench/listing/listing_bench" "$archive" 5
